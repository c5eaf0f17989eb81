#pragma once

#include <string>

#include "model/MachineCatalog.h"
#include "model/PageRules.h"
#include "model/ParameterBlock.h"
#include "pages/PageModel.h"

// Model of the expert page: user gear factor, buzzer, right/left lock, restart locks, battery
// display level and the view option for the error criteria of the step pages.
class ExpertModel : public PageModel {
public:
    enum : int {
        kGearName = 1032,
        kUserFactor = 1033,
        kAngleHeadName = 1035,
        kBuzzer = 1010,
        kRlLock = 1011,
        kRlPermanent = 1012,
        kRestartIo = 1036,
        kRestartNio = 1037,
        kBlinkNio = 1024,
        kBatterySlider = 1043,
        kBatteryText = 1013,
        kShowErrors = 1025,
        kBatteryDisplay = 1009,
        kParamSet12 = 1023,
        kClutchLimit = 1028,
    };
    static constexpr double kMinFactor = PageRules::kMinUserFactor;
    static constexpr double kMaxFactor = PageRules::kMaxUserFactor;
    // The restart locks are one byte of 0.1 s each.
    static constexpr double kMaxRestartLock = PageRules::kMaxRestartLockSeconds;

    struct Values {
        std::string gearName;
        double userFactor = 1.0;
        std::string angleHeadName;
        bool buzzer = false;
        bool rlLock = false;
        bool rlPermanent = false; // shown, never connected
        double restartIo = 0;
        double restartNio = 0;
        bool blinkNio = false;
        int batteryThreshold = 0;
        bool showErrors = false;
        bool batteryDisplay = false;
        bool paramSet12 = false;
        bool clutchLimit = false; // checked = speed limit at clutch shutdown active
    };

    explicit ExpertModel(PageHost& host);

    void AttachRecord(ParameterBlock* image);
    void SetGearEntry(const TransmissionEntry* entry);
    void SetAngleHeadEntry(const TransmissionEntry* entry);
    void SetUserFactor(double factor);
    // A read-only page never stores, so its controls are not offered either.
    void SetReadOnly(bool on);
    void SetMachineKind(int kind) { machineKind = kind; }
    void SetExpertEnabled(bool on);
    void LoadFromRecord() override;
    void StoreToRecord() override;
    // Checks on leaving; hands the factor to the controller and refreshes all pages when the
    // page may be left.
    bool LeavePage() override;
    void OnActivated() override;

    void OnBatterySliderMoved(int position);
    void OnBuzzerClicked(bool checked);
    void OnBatteryDisplayClicked(bool checked);
    void OnRlLockClicked(bool checked);
    void OnParamSet12Clicked(bool checked);
    void OnClutchLimitClicked(bool checked);
    void OnUserFactorChanged(double factor);
    void OnUserFactorFocusOut();
    void OnRestartLockChanged(bool nio, double seconds);
    void OnRestartLockFocusOut(bool nio);
    void OnShowErrorsClicked(bool checked);

    const Values& V() const { return v; }
    bool ExpertEnabled() const { return expertEnabled; }

private:
    void ApplyExpertEnabled();
    bool CorrectFactor();
    bool CorrectRestartLock(bool nio);

    Values v;
    // As loaded: only what differs is stored, and only what the user changed is corrected.
    Values loaded;
    ParameterBlock* image = nullptr;
    const TransmissionEntry* gear = nullptr;
    const TransmissionEntry* angleHead = nullptr;
    double handedFactor = 1.0;
    bool expertEnabled = false;
    bool readOnly = true;
    int machineKind = 0;
};
