#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "model/PageRules.h"
#include "model/ParameterBlock.h"
#include "pages/PageModel.h"

// Model of the maintenance data page: fastening counter, service counters, calibration date
// and name, set torque and place of use.
class MaintenanceModel : public PageModel {
public:
    enum : int {
        kElAssembly = 1029,
        kCounter = 1011,
        kServiceDue = 1062,
        kSinceService = 1012,
        kReset = 1015,
        kCalDate = 1013,
        kSet = 1016,
        kCalName = 1017,
        kTorque = 1018,
        kPlace = 1014,
    };
    static constexpr int kTextLength = 8;
    static constexpr double kMaxTorque = PageRules::kMaxTorqueNm;

    struct Values {
        std::string elAssembly;
        std::int64_t counter = 0;
        std::int64_t serviceDue = 0;
        std::int64_t sinceService = 0;
        std::string calDate;
        std::string calName;
        double torque = 0;
        std::string place;
    };

    explicit MaintenanceModel(PageHost& host);

    void AttachRecord(ParameterBlock* image);
    void SetFasteningCounter(uint32_t value) { fasteningCounter = value; }
    void SetReadOnly(bool on);
    void LoadFromRecord() override;
    void StoreToRecord() override;
    // Checks on leaving; stores and returns true when the page may be left.
    bool LeavePage() override;

    void OnResetClicked();
    void OnSetClicked(std::time_t now);
    void OnServiceDueChanged(std::int64_t value);
    void OnCalNameChanged(const std::string& text);
    void OnPlaceChanged(const std::string& text);
    void OnTorqueChanged(double nm);
    void OnTorqueFocusOut();

    // calDate <-> "%d.%m.%Y  %H:%M" and the calDate of a moment (base/CalendarDate).
    static std::string DateText(uint32_t calDate);
    static uint32_t MinutesSince2000(std::time_t when);

    const Values& V() const { return v; }
    bool Editable() const { return editable; }
    uint32_t ServiceResetCopy() const { return serviceReset; }

private:
    void ApplyEditable();
    bool CorrectTorque();

    Values v;
    // As loaded: only what differs is stored, and only what the user changed is corrected.
    Values loaded;
    uint32_t loadedServiceReset = 0;
    ParameterBlock* image = nullptr;
    uint32_t fasteningCounter = 0;
    uint32_t serviceReset = 0;
    bool editable = false;
};
