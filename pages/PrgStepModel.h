#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/Conversions.h"
#include "model/MachineCatalog.h"
#include "model/ParameterBlock.h"
#include "pages/PageModel.h"

// Model of one program step page: the step shown in user units, the limits from the catalog,
// and the rules that tie the fields of a step together. The sheet holds five of them.
class PrgStepModel : public PageModel {
public:
    // Control ids.
    enum : int {
        kType = 1016,
        kControlled = 1009,
        kSpeed = 1003,
        kSpeedUnit = 1019,
        kRamp = 1011,
        kLastStep = 1030,
        kClutchLimit = 1035,
        kCondition = 1002,
        kAngle = 1013,
        kTime = 1014,
        kThresholdSlider = 1040,
        kThreshold = 1015,
        kWaitRestart = 1042,
        kCurrent = 1017,
        kErrGroup = 1059,
        kErrClutch = 1028,
        kErrAngleMaxBox = 1023,
        kErrAngleMax = 1018,
        kErrAngleMinBox = 1026,
        kErrAngleMin = 1029,
        kErrTimeMaxBox = 1024,
        kErrTimeMax = 1020,
        kErrTimeMinBox = 1033,
        kErrTimeMin = 1034,
        kErrThresholdBox = 1025,
        kErrThresholdSlider = 1041,
        kErrThreshold = 1021,
        kErrCurrentMaxBox = 1027,
        kErrCurrentMax = 1022,
        kErrCurrentMinBox = 1031,
        kErrCurrentMin = 1032,
    };
    // Positions of "weiter bei"; 4 (current reached) exists in the record only.
    enum : int { kPosAngle = 0, kPosTime = 1, kPosThreshold = 2, kPosClutch = 3, kPosCurrent = 4 };

    static constexpr uint16_t kMaxTimeMs = 65535;

    // Control values, as the widgets show them.
    struct Values {
        int type = 0;
        bool controlled = false;
        std::int64_t speed = 0;
        std::string unit;     // "1/Min" or "%", translated
        std::string rampText; // editable combo text
        bool lastStep = false;
        std::int64_t clutchLimit = 0;
        int condition = kPosClutch;
        std::int64_t angle = 0;
        std::int64_t time = 0;
        double threshold = 0;
        int thresholdSlider = 0;
        bool waitRestart = false;
        double current = 0;
        bool errClutch = false;
        bool errAngleMax = false;
        std::int64_t errAngleMaxValue = 0;
        bool errAngleMin = false;
        std::int64_t errAngleMinValue = 0;
        bool errTimeMax = false;
        std::int64_t errTimeMaxValue = 0;
        bool errTimeMin = false;
        std::int64_t errTimeMinValue = 0;
        bool errThreshold = false;
        int errThresholdSlider = 0;
        double errThresholdValue = 0;
        bool errCurrentMax = false;
        double errCurrentMaxValue = 0;
        bool errCurrentMin = false;
        double errCurrentMinValue = 0;
    };

    struct Limits {
        int maxMotorSpeed = 22500;
        int minMotorSpeed = 50;
        int minThreshold = 110;
        int maxThreshold = 150;
        int clutchMaxSpeed = 22500;
    };

    explicit PrgStepModel(PageHost& host);

    // --- called by the sheet and the controller
    void AttachRecord(std::optional<StepRecord> step);
    void SetStepIndex(int index) { stepIndex = index; }
    void SetForcedLast(bool on);
    void SetReadOnly(bool on) { readOnly = on; }
    void SetMachineKind(int kind);
    void SetGearEntry(const TransmissionEntry* entry);
    void SetUserFactor(double factor);
    void SetLimits(const Limits& limits);
    void SetClutchLimitRemoved(bool removed);
    void ShowErrorCriteria(bool show);
    // Whether the step's speed can still be reached with a battery of newMaxSpeed.
    bool SpeedReachable(int newMaxSpeed, const TransmissionEntry* gear,
                        const TransmissionEntry* angleHead, double userFactor) const;
    void LoadFromRecord() override;
    void StoreToRecord() override;
    // False while the page may not be left (a value was corrected).
    bool ValidateOnLeave();
    // The page became the active tab.
    void OnActivated();

    // --- events from the widgets (the new value already given)
    void OnTypeChosen(int position);
    void OnControlledClicked(bool checked);
    void OnSpeedChanged(std::int64_t speed);
    void OnSpeedFocusOut();
    void OnRampTyped(const std::string& text);
    void OnRampChosen(const std::string& text);
    void OnLastStepClicked(bool checked);
    void OnConditionChosen(int position);
    void OnAngleChanged(std::int64_t degrees);
    void OnTimeChanged(std::int64_t ms);
    void OnThresholdChanged(double value);    // next-step "Schwelle" edit
    void OnErrThresholdChanged(double value); // error "Schwelle" edit
    void OnThresholdFocusOut(bool errorEdit);
    void OnSliderMoved(bool errorSlider, int position);
    void OnWaitRestartClicked(bool checked);
    void OnCurrentChanged(double amperes);
    // Error criteria boxes by their id; their values by the edit's id.
    void OnErrorBoxClicked(int boxId, bool checked);
    void OnErrorValueChanged(int editId, double value);

    // Leading part of a typed ramp text that reads as a number; a negative number empties it.
    static std::string FilterRampText(const std::string& text);

    const Values& V() const { return v; }
    bool HasStep() const { return step.has_value(); }
    int StepIndex() const { return stepIndex; }
    bool ForcedLast() const { return forcedLast; }
    bool ReadOnly() const { return readOnly; }
    bool ErrorCriteriaShown() const { return errorsShown; }

    // Derived limits.
    double TotalRatio() const { return ctx.totalRatio; }
    int MaxOutputSpeed() const { return maxOutputSpeed; }
    int MinOutputSpeed() const { return minOutputSpeed; }
    int ClutchLimitRpm() const { return clutchLimitRpm; }
    int ClutchLimitPercent() const { return clutchLimitPercent; }
    int MinPercent() const { return minPercent; }
    int MinThresholdDisplay() const { return ThresholdToDisplay(limits.minThreshold); }
    int MaxThresholdDisplay() const { return ThresholdToDisplay(limits.maxThreshold); }
    int MinThresholdRaw() const { return limits.minThreshold; }
    int MaxThresholdRaw() const { return limits.maxThreshold; }
    const ConversionContext& Context() const { return ctx; }

protected:
    void OnWindowCreated() override;

private:
    enum class ClutchRounding { Truncate, Up };
    void UpdateLimits(ClutchRounding rounding);
    bool Ready() const { return step.has_value() && windowCreated && ctx.machineKind != 0; }
    void EnableAll(bool on);
    void EnableErrorCriteria(bool on);
    void EnableErrThreshold(bool on);
    void ApplyConditionRules(bool byUser);
    void ControlledToggle(bool wasControlled);
    bool ClutchCheck(); // true when the speed was lowered to the clutch limit
    int SpeedLimitAtClutch() const { return v.controlled ? clutchLimitRpm : clutchLimitPercent; }
    void StoreSpeed();
    void Changed(bool redraw);
    std::string UnitText() const;

    Values v;
    std::optional<StepRecord> step;
    int stepIndex = -1;
    bool readOnly = true;
    bool forcedLast = false;
    bool clutchLimitRemoved = false;
    bool errorsShown = false;
    int listPosition = kPosClutch;

    const TransmissionEntry* gear = nullptr;
    double userFactor = 1.0;
    Limits limits;
    ConversionContext ctx;
    int maxOutputSpeed = 0;
    int minOutputSpeed = 0;
    int clutchLimitRpm = 0;
    int clutchLimitPercent = 0;
    int minPercent = 0;
};
