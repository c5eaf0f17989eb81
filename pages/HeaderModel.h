#pragma once

#include <string>

#include "model/MachineCatalog.h"
#include "model/ParameterBlock.h"
#include "pages/PageModel.h"

// Model of the header data page: the machine's identity, the machine identification text and
// the battery choice with the maximum output speed it gives.
class HeaderModel : public PageModel {
public:
    enum : int {
        kMachineType = 1031,
        kSerialNr = 1036,
        kSwVersion = 1037,
        kMaxTorque = 1011,
        kToolId = 1034,
        kBattery = 1027,
        kMaxSpeed = 1012,
        kRlLock = 1009,
        kBuzzer = 1010,
        kRestartLock = 1035,
        kGearName = 1032,
        kAngleHeadName = 1033,
    };
    static constexpr int kToolIdLength = 15;
    static constexpr int kVoltages[3] = {12, 14, 18};

    struct Values {
        std::string machineType = std::string(16, ' ');
        std::string serialNr;
        std::string swVersion;
        double maxTorque = 0;
        std::string toolId;
        int battery = -1; // 0..2 = "12 V", "14 V", "18 V"
        unsigned maxSpeed = 0;
        bool rlLock = false;
        bool buzzer = false;
        double restartLock = 0;
        std::string gearName;
        std::string angleHeadName;
    };

    explicit HeaderModel(PageHost& host);

    void AttachRecord(ParameterBlock* image);
    void SetGearEntry(const TransmissionEntry* entry);
    void SetAngleHeadEntry(const TransmissionEntry* entry);
    // From now on the host's battery values are valid.
    void SetBattery();
    void SetUserFactor(double factor) { userFactor = factor; }
    void SetReadOnly(bool on) { readOnly = on; }
    void LoadFromRecord() override;
    void StoreToRecord() override;

    void OnToolIdChanged(const std::string& text);
    void OnBatteryChosen(int index);

    const Values& V() const { return v; }
    bool ReadOnly() const { return readOnly; }
    double UserFactor() const { return userFactor; }

private:
    void ReloadIfCreated();

    Values v;
    ParameterBlock* image = nullptr;
    const TransmissionEntry* gear = nullptr;
    const TransmissionEntry* angleHead = nullptr;
    bool batterySet = false;
    double userFactor = 1.0;
    bool readOnly = true;
    // The values as loaded: a field is written back only when it differs, so neither a stale
    // copy of the never-shown switches nor a text's bytes beyond its first byte 0 are
    // overwritten by a page that was merely shown.
    Values loaded;
};
