#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "model/Conversions.h"
#include "model/MachineCatalog.h"
#include "model/PageRules.h"
#include "model/ParameterBlock.h"
#include "pages/PageModel.h"

// Model of one program step page: the step shown in user units, the limits from the catalog,
// and the rules that tie the fields of a step together. The sheet holds five of them.
class PrgStepModel : public PageModel {
public:
    // Control ids.
    enum : int {
        kIdType = 1016,
        kIdControlled = 1009,
        kIdSpeed = 1003,
        kIdSpeedUnit = 1019,
        kIdRamp = 1011,
        kIdLastStep = 1030,
        kIdClutchLimit = 1035,
        kIdCondition = 1002,
        kIdAngle = 1013,
        kIdTime = 1014,
        kIdThresholdSlider = 1040,
        kIdThreshold = 1015,
        kIdWaitRestart = 1042,
        kIdCurrent = 1017,
        kIdErrGroup = 1059,
        kIdErrClutch = 1028,
        kIdErrAngleMaxBox = 1023,
        kIdErrAngleMax = 1018,
        kIdErrAngleMinBox = 1026,
        kIdErrAngleMin = 1029,
        kIdErrTimeMaxBox = 1024,
        kIdErrTimeMax = 1020,
        kIdErrTimeMinBox = 1033,
        kIdErrTimeMin = 1034,
        kIdErrThresholdBox = 1025,
        kIdErrThresholdSlider = 1041,
        kIdErrThreshold = 1021,
        kIdErrCurrentMaxBox = 1027,
        kIdErrCurrentMax = 1022,
        kIdErrCurrentMinBox = 1031,
        kIdErrCurrentMin = 1032,
    };
    // Positions of "weiter bei"; 4 (current reached) exists in the record only.
    enum : int { kPosAngle = 0, kPosTime = 1, kPosThreshold = 2, kPosClutch = 3, kPosCurrent = 4 };

    static constexpr uint16_t kMaxTimeMs = PageRules::kMaxTimeMs;

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
    // ValidateOnLeave, then StoreToRecord.
    bool LeavePage() override;
    void OnActivated() override;

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
    // The user left a value edit (angle, time, current, error limits): it shows what the
    // machine will hold.
    void OnFieldLeft(int editId);

    // Leading part of a typed ramp text that reads as a number; a negative number empties it.
    static std::string FilterRampText(const std::string& text);

    const Values& V() const { return v; }
    bool HasStep() const { return step.has_value(); }
    int StepIndex() const { return stepIndex; }
    bool ForcedLast() const { return forcedLast; }
    bool ReadOnly() const { return readOnly; }
    bool ErrorCriteriaShown() const { return errorsShown; }
    // The user changed something since the step was loaded; only then does the page store.
    bool Edited() const { return edited; }

    // Derived limits.
    double TotalRatio() const { return ctx.totalRatio; }
    int MaxOutputSpeed() const { return maxOutputSpeed; }
    int MinOutputSpeed() const { return minOutputSpeed; }
    int ClutchLimitRpm() const { return clutchLimitRpm; }
    int ClutchLimitPercent() const { return clutchLimitPercent; }
    int MinPercent() const { return minPercent; }
    int MinThresholdDisplay() const { return PageRules::MinThresholdDisplay(lim); }
    int MaxThresholdDisplay() const { return PageRules::MaxThresholdDisplay(lim); }
    int MinThresholdRaw() const { return limits.minThreshold; }
    int MaxThresholdRaw() const { return limits.maxThreshold; }
    const ConversionContext& Context() const { return ctx; }

protected:
    void OnWindowCreated() override;

private:
    void UpdateLimits();
    bool Ready() const { return step.has_value() && windowCreated && ctx.machineKind != 0; }
    void EnableAll(bool on);
    void EnableErrorCriteria(bool on);
    void EnableErrThreshold(bool on);
    void ApplyConditionRules(bool byUser);
    void ControlledToggle(bool wasControlled);
    bool ClutchCheck(); // true when the speed was lowered to the clutch limit
    // The clutch check, then the speed into the range of its mode; true when it was changed.
    bool CorrectSpeed();
    // The clutch limit can lie above the output maximum (kind 14): never beyond it.
    int SpeedLimitAtClutch() const {
        return v.controlled ? std::min(clutchLimitRpm, maxOutputSpeed)
                            : std::min(clutchLimitPercent, 100);
    }
    // Into the record unless the shown value is what the stored one shows (and a page could
    // have stored it): a value the user did not change keeps its raw bytes.
    void StoreSpeed();
    void StoreRamp();
    void StoreAngle(std::int64_t degrees, bool minSlot);
    void StoreThreshold(double shown);
    void StoreCurrent(double amperes, bool minSlot);
    bool LimitedAtClutch() const { return !clutchLimitRemoved && listPosition == kPosClutch; }
    void Changed(bool redraw);
    std::string UnitText() const;

    Values v;
    std::string loadedRampText;
    bool edited = false;
    bool loading = false;
    // Typed into since the step was loaded: only then does leaving the field correct it.
    bool speedTyped = false;
    bool thresholdTyped = false;
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
    PageRules::StepLimits lim;
    ConversionContext ctx;
    int maxOutputSpeed = 0;
    int minOutputSpeed = 0;
    int clutchLimitRpm = 0;
    int clutchLimitPercent = 0;
    int minPercent = 0;
};
