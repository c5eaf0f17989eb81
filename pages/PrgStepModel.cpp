#include "pages/PrgStepModel.h"

#include <algorithm>
#include <cmath>

#include "lang/Language.h"
#include "pages/NumEditRule.h"

namespace {

constexpr int kAllControls[] = {
    PrgStepModel::kIdType,
    PrgStepModel::kIdControlled,
    PrgStepModel::kIdSpeed,
    PrgStepModel::kIdRamp,
    PrgStepModel::kIdLastStep,
    PrgStepModel::kIdCondition,
    PrgStepModel::kIdAngle,
    PrgStepModel::kIdTime,
    PrgStepModel::kIdThresholdSlider,
    PrgStepModel::kIdThreshold,
    PrgStepModel::kIdWaitRestart,
    PrgStepModel::kIdCurrent,
    PrgStepModel::kIdErrClutch,
    PrgStepModel::kIdErrAngleMaxBox,
    PrgStepModel::kIdErrAngleMax,
    PrgStepModel::kIdErrAngleMinBox,
    PrgStepModel::kIdErrAngleMin,
    PrgStepModel::kIdErrTimeMaxBox,
    PrgStepModel::kIdErrTimeMax,
    PrgStepModel::kIdErrTimeMinBox,
    PrgStepModel::kIdErrTimeMin,
    PrgStepModel::kIdErrThresholdBox,
    PrgStepModel::kIdErrThresholdSlider,
    PrgStepModel::kIdErrThreshold,
    PrgStepModel::kIdErrCurrentMaxBox,
    PrgStepModel::kIdErrCurrentMax,
    PrgStepModel::kIdErrCurrentMinBox,
    PrgStepModel::kIdErrCurrentMin,
};

constexpr int kErrorCriteria[] = {
    PrgStepModel::kIdErrClutch,          PrgStepModel::kIdErrAngleMaxBox,
    PrgStepModel::kIdErrAngleMax,        PrgStepModel::kIdErrAngleMinBox,
    PrgStepModel::kIdErrAngleMin,        PrgStepModel::kIdErrTimeMaxBox,
    PrgStepModel::kIdErrTimeMax,         PrgStepModel::kIdErrTimeMinBox,
    PrgStepModel::kIdErrTimeMin,         PrgStepModel::kIdErrThresholdBox,
    PrgStepModel::kIdErrThresholdSlider, PrgStepModel::kIdErrThreshold,
    PrgStepModel::kIdErrCurrentMaxBox,   PrgStepModel::kIdErrCurrentMax,
    PrgStepModel::kIdErrCurrentMinBox,   PrgStepModel::kIdErrCurrentMin,
};

int PositionOfCode(uint8_t code) {
    switch (code) {
    case kCondAngle:
        return PrgStepModel::kPosAngle;
    case kCondTime:
        return PrgStepModel::kPosTime;
    case kCondThreshold:
        return PrgStepModel::kPosThreshold;
    case kCondCurrent:
        return PrgStepModel::kPosCurrent;
    default:
        return PrgStepModel::kPosClutch;
    }
}

uint16_t ClampU16(double x) {
    if (!(x > 0))
        return 0;
    return x >= 65535.0 ? 65535 : static_cast<uint16_t>(x);
}

std::int64_t ClampTime(std::int64_t ms) {
    return std::clamp<std::int64_t>(ms, 0, PrgStepModel::kMaxTimeMs);
}

} // namespace

PrgStepModel::PrgStepModel(PageHost& h) : PageModel(h) {
    EnableAll(false);
    Enable(kIdClutchLimit, false);
    v.unit = UnitText();
    UpdateLimits();
}

std::string PrgStepModel::UnitText() const {
    return Translate(v.controlled ? "1/Min" : "%");
}

void PrgStepModel::EnableAll(bool on) {
    for (int id : kAllControls)
        Enable(id, on);
    Enable(kIdClutchLimit, false);
}

void PrgStepModel::EnableErrorCriteria(bool on) {
    for (int id : kErrorCriteria)
        Enable(id, on);
}

void PrgStepModel::EnableErrThreshold(bool on) {
    Enable(kIdErrThresholdBox, on);
    Enable(kIdErrThresholdSlider, on);
    Enable(kIdErrThreshold, on);
}

void PrgStepModel::UpdateLimits() {
    PageRules::StepLimitInput in;
    in.machineKind = ctx.machineKind;
    in.gearRatio = gear ? gear->ratio : 1.0;
    in.userFactor = userFactor;
    in.maxMotorSpeed = limits.maxMotorSpeed;
    in.minMotorSpeed = limits.minMotorSpeed;
    in.minThreshold = limits.minThreshold;
    in.maxThreshold = limits.maxThreshold;
    in.clutchMaxSpeed = limits.clutchMaxSpeed;
    lim = PageRules::MakeStepLimits(in);
    ctx = lim.ctx;
    maxOutputSpeed = lim.maxOutputSpeed;
    minOutputSpeed = lim.minOutputSpeed;
    clutchLimitRpm = lim.clutchLimitRpm;
    minPercent = lim.minPercent;
    clutchLimitPercent = lim.clutchLimitPercent;
    v.clutchLimit = clutchLimitRpm;
}

void PrgStepModel::SetMachineKind(int kind) {
    ctx.machineKind = kind;
    UpdateLimits();
}

void PrgStepModel::SetGearEntry(const TransmissionEntry* entry) {
    gear = entry;
    UpdateLimits();
}

void PrgStepModel::SetUserFactor(double factor) {
    if (!(factor >= 0.01))
        return;
    userFactor = factor;
    UpdateLimits();
}

void PrgStepModel::SetLimits(const Limits& l) {
    limits = l;
    UpdateLimits();
}

void PrgStepModel::AttachRecord(std::optional<StepRecord> s) {
    step = s;
    edited = false;
    if (!step) {
        EnableAll(false);
        ShowValuesNow();
        return;
    }
    // A read-only page never writes, not even the chain rule.
    if (forcedLast && !readOnly)
        step->SetLast();
    if (windowCreated && ctx.machineKind != 0)
        LoadFromRecord();
}

void PrgStepModel::SetForcedLast(bool on) {
    forcedLast = on;
    if (on) {
        // The step is last at once, shown or not; a last step never waits for a restart.
        if (step && !readOnly)
            step->SetLast();
        v.lastStep = true;
        v.waitRestart = false;
        Enable(kIdLastStep, false);
        Enable(kIdWaitRestart, false);
    } else if (!readOnly && step) {
        Enable(kIdLastStep, true);
    }
    ShowValuesNow();
}

void PrgStepModel::ShowErrorCriteria(bool show) {
    errorsShown = show;
    Show(kIdErrGroup, show);
    for (int id : kErrorCriteria)
        Show(id, show);
    ShowValuesNow();
}

void PrgStepModel::OnWindowCreated() {
    // The group follows the expert page's option, also for pages first shown after it was set.
    ShowErrorCriteria(errorsShown);
    Show(kIdCurrent, false);
    if (step && ctx.machineKind != 0)
        LoadFromRecord();
}

void PrgStepModel::LoadFromRecord() {
    if (!step || ctx.machineKind == 0)
        return;
    // Loading only shows: the rules it applies (a last step never waits, "Drehmoment-Schwelle"
    // is never controlled) change the controls, and reach the record only if the user edits
    // the page.
    const auto raw = step->Raw();
    loading = true;
    EnableAll(!readOnly);
    v.rampText.clear();
    v.controlled = step->Controlled() != 0;
    v.unit = UnitText();
    v.rampText = step->Speed() == 0 ? std::string("0.2") : RampText(step->Ramp());
    v.speed = SpeedToDisplay(ctx, step->Speed(), v.controlled);
    v.type = step->Type();

    v.condition = PositionOfCode(step->Condition());
    v.waitRestart = step->WaitRestart();
    ApplyConditionRules(false);

    if (step->IsLast()) {
        v.lastStep = true;
        step->SetWaitRestart(false);
        v.waitRestart = false;
        Enable(kIdWaitRestart, false);
    } else {
        v.lastStep = false;
        if (!readOnly)
            Enable(kIdWaitRestart, true);
    }
    if (forcedLast) {
        v.lastStep = true;
        v.waitRestart = false;
        Enable(kIdLastStep, false);
        Enable(kIdWaitRestart, false);
    }

    v.angle = AngleToDisplay(ctx, step->Angle());
    v.time = TimeToDisplay(step->Time());
    v.threshold = ThresholdToDisplay(step->Threshold());
    v.current = CurrentToDisplay(step->Current());
    v.thresholdSlider = step->Threshold();
    v.errThresholdSlider = step->Threshold();

    const uint16_t mask = step->ErrorMask();
    v.errClutch = (mask & kErrClutch) != 0;
    v.errAngleMax = (mask & kErrAngleMax) != 0;
    v.errAngleMin = (mask & kErrAngleMin) != 0;
    v.errTimeMax = (mask & kErrTimeMax) != 0;
    v.errTimeMin = (mask & kErrTimeMin) != 0;
    v.errThreshold = (mask & kErrThreshold) != 0;
    v.errCurrentMax = (mask & kErrCurrentMax) != 0;
    v.errCurrentMin = (mask & kErrCurrentMin) != 0;
    v.errAngleMaxValue = AngleToDisplay(ctx, step->Angle());
    v.errAngleMinValue = AngleToDisplay(ctx, step->AngleMin());
    v.errTimeMaxValue = TimeToDisplay(step->Time());
    v.errTimeMinValue = TimeToDisplay(step->TimeMin());
    v.errCurrentMaxValue = CurrentToDisplay(step->Current());
    v.errCurrentMinValue = CurrentToDisplay(step->CurrentMin());
    v.errThresholdValue = ThresholdToDisplay(step->Threshold());

    if (!readOnly) {
        Enable(kIdAngle, true);
        Enable(kIdTime, false);
        Enable(kIdThreshold, false);
        Enable(kIdCurrent, false);
        ApplyConditionRules(false);
    }
    v.errClutch = (mask & kErrClutch) != 0;
    v.clutchLimit = clutchLimitRpm;
    step->SetRaw(raw);
    loading = false;
    edited = false;
    speedTyped = false;
    thresholdTyped = false;
    loadedRampText = v.rampText;
    ShowValuesNow();
}

void PrgStepModel::ApplyConditionRules(bool byUser) {
    listPosition = v.condition;
    Enable(kIdAngle, false);
    Enable(kIdTime, false);
    Enable(kIdThreshold, false);
    Enable(kIdThresholdSlider, false);
    Enable(kIdCurrent, false);

    EnableErrorCriteria(true);
    Enable(kIdControlled, true);
    if (v.controlled)
        EnableErrThreshold(false);
    v.errClutch = true;

    switch (listPosition) {
    case kPosAngle:
        Enable(kIdAngle, true);
        Enable(kIdErrAngleMaxBox, false);
        Enable(kIdErrAngleMax, false);
        Enable(kIdErrAngleMinBox, false);
        Enable(kIdErrAngleMin, false);
        v.errAngleMax = false;
        v.errAngleMin = false;
        break;
    case kPosTime:
        Enable(kIdTime, true);
        Enable(kIdErrTimeMaxBox, false);
        Enable(kIdErrTimeMax, false);
        Enable(kIdErrTimeMinBox, false);
        Enable(kIdErrTimeMin, false);
        v.errTimeMax = false; // "Zeit <" keeps its check
        break;
    case kPosThreshold:
        Enable(kIdThreshold, true);
        Enable(kIdThresholdSlider, true);
        EnableErrThreshold(false);
        v.errThreshold = false;
        Enable(kIdControlled, false);
        if (v.controlled) {
            v.controlled = false;
            ControlledToggle(true);
            v.unit = Translate("%");
        }
        break;
    case kPosClutch:
        Enable(kIdErrClutch, false);
        v.errClutch = false;
        if (v.controlled) {
            Enable(kIdErrThresholdSlider, false);
            Enable(kIdErrThreshold, false);
            v.errThreshold = false;
        }
        break;
    case kPosCurrent:
        Enable(kIdCurrent, true);
        Enable(kIdErrCurrentMaxBox, false);
        Enable(kIdErrCurrentMax, false);
        Enable(kIdErrCurrentMinBox, false);
        Enable(kIdErrCurrentMin, false);
        v.errCurrentMax = false;
        v.errCurrentMin = false;
        break;
    default:
        break;
    }
    if (readOnly)
        EnableAll(false);
    ShowValuesNow();
    if (byUser)
        Changed(false);
}

void PrgStepModel::ControlledToggle(bool wasControlled) {
    if (!step)
        return;
    const bool now = v.controlled;
    if (ctx.machineKind == 18) {
        if (wasControlled && !now) {
            const double raw = ctx.maxMotorSpeed > 0
                                   ? std::trunc(static_cast<double>(v.speed) * 1023.0 *
                                                ctx.totalRatio / ctx.maxMotorSpeed)
                                   : 0.0;
            step->SetSpeed(ClampU16(raw));
            v.speed = SpeedToDisplay(ctx, step->Speed(), false);
        } else if (!wasControlled && now) {
            const double duty = SpeedToMachine(ctx, static_cast<double>(v.speed), false);
            const double speed =
                ctx.totalRatio > 0 ? RoundHalfUp(duty * ctx.maxMotorSpeed / ctx.totalRatio / 1023.0)
                                   : 0.0;
            v.speed = static_cast<std::int64_t>(speed);
            step->SetSpeed(SpeedToMachine(ctx, speed, true));
        }
    } else {
        // Kind 14 keeps one duty value for both meanings.
        const uint16_t raw = SpeedToMachine(ctx, static_cast<double>(v.speed), wasControlled);
        step->SetSpeed(raw);
        v.speed = SpeedToDisplay(ctx, raw, now);
    }

    if (now) {
        v.unit = Translate("1/Min");
        EnableErrThreshold(false);
    } else {
        v.unit = Translate("%");
        if (listPosition != kPosThreshold)
            EnableErrThreshold(true);
    }
    // The converted speed stays within what the page accepts in the new unit, so a commit
    // without leaving the page stores nothing a page would refuse.
    if (v.speed != 0) {
        const PageRules::SpeedBounds b = PageRules::ShownSpeedBounds(lim, now, LimitedAtClutch());
        const std::int64_t kept = std::clamp<std::int64_t>(v.speed, b.low, b.high);
        if (kept != v.speed) {
            v.speed = kept;
            step->SetSpeed(SpeedToMachine(ctx, static_cast<double>(v.speed), now));
        }
    }
    if (readOnly)
        EnableAll(false);
    step->SetControlled(now ? 1 : 0);
    ShowValuesNow();
    Changed(true);
}

void PrgStepModel::Changed(bool redraw) {
    if (loading)
        return;
    edited = true;
    host.MarkChanged();
    if (redraw)
        host.RedrawStepGraphic();
}

void PrgStepModel::StoreSpeed() {
    if (!step)
        return;
    const uint16_t raw = step->Speed();
    if ((step->Controlled() != 0) == v.controlled &&
        SpeedToDisplay(ctx, raw, v.controlled) == v.speed &&
        PageRules::SpeedRawAllowed(lim, raw, v.controlled))
        return;
    step->SetSpeed(SpeedToMachine(ctx, static_cast<double>(v.speed), v.controlled));
}

void PrgStepModel::StoreRamp() {
    if (!step || (v.rampText == loadedRampText && step->Ramp() != 0))
        return;
    double x = 0;
    NumEditRule::ParseReal(FilterRampText(v.rampText), x);
    step->SetRamp(RampToMachine(x));
}

void PrgStepModel::StoreAngle(std::int64_t degrees, bool minSlot) {
    const uint32_t raw = minSlot ? step->AngleMin() : step->Angle();
    if (AngleToDisplay(ctx, raw) == degrees)
        return;
    const uint32_t to = AngleToMachine(ctx, static_cast<double>(degrees));
    minSlot ? step->SetAngleMin(to) : step->SetAngle(to);
}

void PrgStepModel::StoreThreshold(double shown) {
    const uint16_t raw = step->Threshold();
    if (ThresholdToDisplay(raw) == shown && PageRules::ThresholdRawAllowed(lim, raw))
        return;
    step->SetThreshold(ThresholdToMachine(shown));
}

void PrgStepModel::StoreCurrent(double amperes, bool minSlot) {
    const uint16_t raw = minSlot ? step->CurrentMin() : step->Current();
    if (CurrentToDisplay(raw) == amperes)
        return;
    const uint16_t to = CurrentToMachine(amperes);
    minSlot ? step->SetCurrentMin(to) : step->SetCurrent(to);
}

bool PrgStepModel::ClutchCheck() {
    if (clutchLimitRemoved || listPosition != kPosClutch)
        return false;
    const int limit = SpeedLimitAtClutch();
    if (v.speed > limit) {
        v.speed = limit;
        return true;
    }
    return false;
}

void PrgStepModel::SetClutchLimitRemoved(bool removed) {
    // Only the user's switching the limit back on lowers a speed; a step merely shown again
    // keeps what its record holds.
    const bool switchedOn = clutchLimitRemoved && !removed;
    clutchLimitRemoved = removed;
    if (switchedOn && !readOnly && step && windowCreated && ClutchCheck()) {
        StoreSpeed();
        edited = true;
        ShowValuesNow();
    }
}

void PrgStepModel::OnTypeChosen(int position) {
    v.type = position;
    if (step && position >= 0)
        step->SetType(static_cast<uint8_t>(position));
    Changed(true);
}

void PrgStepModel::OnControlledClicked(bool checked) {
    const bool was = v.controlled;
    v.controlled = checked;
    if (was != checked)
        ControlledToggle(was);
}

void PrgStepModel::OnSpeedChanged(std::int64_t speed) {
    v.speed = speed;
    speedTyped = true;
    if (!clutchLimitRemoved && listPosition == kPosClutch) {
        ClutchCheck();
    } else if (v.controlled && v.speed > maxOutputSpeed) {
        v.speed = maxOutputSpeed;
    } else if (!v.controlled && v.speed > 100) {
        v.speed = 100;
    }
    StoreSpeed();
    ShowValuesNow();
    Changed(true);
}

bool PrgStepModel::CorrectSpeed() {
    bool corrected = ClutchCheck();
    const std::int64_t low = v.controlled ? minOutputSpeed : minPercent;
    const std::int64_t high = v.controlled ? maxOutputSpeed : 100;
    if (v.speed < low) {
        v.speed = low;
        corrected = true;
    } else if (v.speed > high) {
        v.speed = high;
        corrected = true;
    }
    return corrected;
}

void PrgStepModel::OnSpeedFocusOut() {
    // Only the focus passed through: what the record holds stays.
    if (v.speed == 0 || !speedTyped)
        return;
    const bool corrected = CorrectSpeed();
    const std::int64_t put = v.speed;
    StoreSpeed();
    // What the machine will hold: a typed 700 1/min that the speed units hold as 699 shows 699.
    if (step)
        v.speed = SpeedToDisplay(ctx, step->Speed(), v.controlled);
    ShowValuesNow();
    if (corrected)
        Alarm(kIdSpeed);
    if (v.speed != put)
        SayHeld(kIdSpeed, std::to_string(v.speed) + " " + v.unit);
}

std::string PrgStepModel::FilterRampText(const std::string& text) {
    for (std::size_t n = text.size(); n > 0; --n) {
        const std::string_view prefix(text.data(), n);
        if (prefix.find_first_not_of(" \t") == std::string_view::npos)
            break;
        double x = 0;
        if (NumEditRule::ParseReal(prefix, x))
            return x < 0 ? std::string() : std::string(prefix);
    }
    return std::string();
}

void PrgStepModel::OnRampTyped(const std::string& text) {
    // The editable box reports its own text again when it loses the focus: no change.
    const std::string filtered = FilterRampText(text);
    if (filtered == v.rampText) {
        if (filtered != text)
            ShowValuesNow(); // the rest is cut
        return;
    }
    v.rampText = filtered;
    StoreRamp();
    ShowValuesNow();
    Changed(true);
}

void PrgStepModel::OnRampChosen(const std::string& text) {
    OnRampTyped(text);
}

void PrgStepModel::OnLastStepClicked(bool checked) {
    const bool canLink =
        stepIndex >= 0 && stepIndex + 1 < static_cast<int>(ParameterBlock::kStepCount);
    if (!checked && (forcedLast || !canLink)) {
        v.lastStep = true; // this step has no step to go on to
        ShowValuesNow();
        return;
    }
    v.lastStep = checked;
    if (step) {
        if (checked) {
            step->SetLast();
        } else {
            step->SetNextStep(static_cast<uint8_t>(stepIndex + 1));
        }
    }
    if (checked) {
        v.waitRestart = false;
        Enable(kIdWaitRestart, false);
    } else if (!readOnly) {
        Enable(kIdWaitRestart, true);
    }
    ShowValuesNow();
    Changed(true);
}

void PrgStepModel::OnConditionChosen(int position) {
    v.condition = position;
    ApplyConditionRules(true);
    host.RedrawStepGraphic();
}

void PrgStepModel::OnAngleChanged(std::int64_t degrees) {
    v.angle = std::max<std::int64_t>(degrees, 0);
    if (v.angle != degrees)
        ShowValuesNow();
    Changed(false);
}

void PrgStepModel::OnTimeChanged(std::int64_t ms) {
    // The field holds 16 bits; a larger time would otherwise lose its high bits.
    v.time = ClampTime(ms);
    if (v.time != ms)
        ShowValuesNow();
    Changed(false);
}

void PrgStepModel::OnThresholdChanged(double value) {
    v.threshold = value;
    thresholdTyped = true;
    Changed(false);
}

void PrgStepModel::OnErrThresholdChanged(double value) {
    v.errThresholdValue = value;
    thresholdTyped = true;
    Changed(false);
}

void PrgStepModel::OnThresholdFocusOut(bool errorEdit) {
    if (!thresholdTyped)
        return;
    double value = errorEdit ? v.errThresholdValue : v.threshold;
    const double low = MinThresholdDisplay();
    const double high = MaxThresholdDisplay();
    bool corrected = false;
    if (value < low) {
        value = low;
        corrected = true;
    } else if (value > high) {
        value = high;
        corrected = true;
    }
    const double put = value;
    if (step) {
        StoreThreshold(std::trunc(value));
        // Shown as stored: 50.7 is held as the raw of 50.
        value = ThresholdToDisplay(step->Threshold());
    }
    v.threshold = value;
    v.errThresholdValue = value;
    if (step) {
        v.thresholdSlider = step->Threshold();
        v.errThresholdSlider = step->Threshold();
    }
    ShowValuesNow();
    if (corrected)
        Alarm(errorEdit ? kIdErrThreshold : kIdThreshold);
    if (value != put)
        SayHeld(errorEdit ? kIdErrThreshold : kIdThreshold, NumEditRule::FormatShortest(value));
}

void PrgStepModel::OnSliderMoved(bool /*errorSlider*/, int position) {
    if (step)
        step->SetThreshold(static_cast<uint16_t>(std::clamp(position, 0, 65535)));
    v.thresholdSlider = position;
    v.errThresholdSlider = position;
    v.threshold = ThresholdToDisplay(static_cast<uint16_t>(std::clamp(position, 0, 65535)));
    v.errThresholdValue = v.threshold;
    ShowValuesNow();
    Changed(false);
}

void PrgStepModel::OnWaitRestartClicked(bool checked) {
    v.waitRestart = checked && !v.lastStep;
    Changed(false);
}

void PrgStepModel::OnCurrentChanged(double amperes) {
    v.current = amperes;
    Changed(false);
}

void PrgStepModel::OnErrorBoxClicked(int boxId, bool checked) {
    switch (boxId) {
    case kIdErrClutch:
        v.errClutch = checked;
        break;
    case kIdErrAngleMaxBox:
        v.errAngleMax = checked;
        break;
    case kIdErrAngleMinBox:
        v.errAngleMin = checked;
        break;
    case kIdErrTimeMaxBox:
        v.errTimeMax = checked;
        break;
    case kIdErrTimeMinBox:
        v.errTimeMin = checked;
        break;
    case kIdErrThresholdBox:
        v.errThreshold = checked;
        break;
    case kIdErrCurrentMaxBox:
        v.errCurrentMax = checked;
        break;
    case kIdErrCurrentMinBox:
        v.errCurrentMin = checked;
        break;
    default:
        return;
    }
    Changed(false);
}

void PrgStepModel::OnErrorValueChanged(int editId, double value) {
    const auto whole = static_cast<std::int64_t>(value);
    bool clamped = false;
    switch (editId) {
    case kIdErrAngleMax:
        v.errAngleMaxValue = std::max<std::int64_t>(whole, 0);
        clamped = v.errAngleMaxValue != whole;
        break;
    case kIdErrAngleMin:
        v.errAngleMinValue = std::max<std::int64_t>(whole, 0);
        clamped = v.errAngleMinValue != whole;
        break;
    case kIdErrTimeMax:
        v.errTimeMaxValue = ClampTime(whole);
        clamped = v.errTimeMaxValue != whole;
        break;
    case kIdErrTimeMin:
        v.errTimeMinValue = ClampTime(whole);
        clamped = v.errTimeMinValue != whole;
        break;
    case kIdErrCurrentMax:
        v.errCurrentMaxValue = value;
        break;
    case kIdErrCurrentMin:
        v.errCurrentMinValue = value;
        break;
    case kIdErrThreshold:
        OnErrThresholdChanged(value);
        return;
    default:
        return;
    }
    if (clamped)
        ShowValuesNow();
    Changed(false);
}

void PrgStepModel::OnFieldLeft(int editId) {
    if (!step)
        return;
    // Shown as the record will hold it, unless it still shows what the record holds.
    auto angle = [&](std::int64_t& shown, uint32_t raw) {
        if (AngleToDisplay(ctx, raw) == shown)
            return;
        const std::int64_t put = shown;
        shown = AngleToDisplay(ctx, AngleToMachine(ctx, static_cast<double>(shown)));
        if (shown != put)
            SayHeld(editId, std::to_string(shown) + " " + Translate("Grad"));
    };
    auto current = [&](double& shown, uint16_t raw) {
        if (CurrentToDisplay(raw) == shown)
            return;
        const double put = shown;
        shown = CurrentToDisplay(CurrentToMachine(shown));
        if (shown != put)
            SayHeld(editId, NumEditRule::FormatShortest(shown) + " A");
    };
    switch (editId) {
    case kIdAngle:
        angle(v.angle, step->Angle());
        break;
    case kIdErrAngleMax:
        angle(v.errAngleMaxValue, step->Angle());
        break;
    case kIdErrAngleMin:
        angle(v.errAngleMinValue, step->AngleMin());
        break;
    case kIdCurrent:
        current(v.current, step->Current());
        break;
    case kIdErrCurrentMax:
        current(v.errCurrentMaxValue, step->Current());
        break;
    case kIdErrCurrentMin:
        current(v.errCurrentMinValue, step->CurrentMin());
        break;
    default:
        return; // times are held as typed
    }
    ShowValuesNow();
}

bool PrgStepModel::ValidateOnLeave() {
    // Nothing typed, nothing to correct: an odd value the page merely showed stays as stored.
    if (!step || !windowCreated || !edited || readOnly)
        return true;
    if (v.speed != 0 && CorrectSpeed()) {
        StoreSpeed();
        ShowValuesNow();
        Alarm(kIdSpeed);
        return false;
    }
    const double low = MinThresholdDisplay();
    const double high = MaxThresholdDisplay();
    auto outside = [&](double x) { return x < low || x > high; };
    int offending = 0;
    if (IsEnabled(kIdThreshold) && outside(v.threshold))
        offending = kIdThreshold;
    else if (IsEnabled(kIdErrThresholdBox) && v.errThreshold && outside(v.errThresholdValue))
        offending = kIdErrThreshold;
    if (offending != 0) {
        const double bad = offending == kIdThreshold ? v.threshold : v.errThresholdValue;
        const double bound = bad < low ? low : high;
        v.threshold = bound;
        v.errThresholdValue = bound;
        StoreThreshold(bound);
        v.thresholdSlider = step->Threshold();
        v.errThresholdSlider = step->Threshold();
        ShowValuesNow();
        Alarm(offending);
        return false;
    }
    return true;
}

void PrgStepModel::StoreToRecord() {
    // Read-only pages never store, and a page the user did not edit leaves its step as it is.
    if (!step || !windowCreated || ctx.machineKind == 0 || readOnly || !edited)
        return;
    if (v.type >= 0)
        step->SetType(static_cast<uint8_t>(v.type));
    StoreSpeed();
    step->SetControlled(v.controlled ? 1 : 0);
    StoreRamp();

    uint8_t code = 0;
    switch (v.condition) {
    case kPosAngle:
        code = kCondAngle;
        StoreAngle(v.angle, false);
        break;
    case kPosTime:
        code = kCondTime;
        step->SetTime(TimeToMachine(static_cast<double>(v.time)));
        break;
    case kPosThreshold:
        code = kCondThreshold;
        StoreThreshold(v.threshold);
        break;
    case kPosClutch:
        code = kCondClutch;
        break;
    case kPosCurrent:
        code = kCondCurrent;
        StoreCurrent(v.current, false);
        break;
    default:
        break;
    }
    if (code != 0)
        step->SetCondition(code);
    step->SetWaitRestart(v.waitRestart && !v.lastStep);

    // A criterion that shares its slot with the next-step condition stores its own limit.
    uint16_t mask = 0;
    if (v.errAngleMax) {
        mask |= kErrAngleMax;
        StoreAngle(v.errAngleMaxValue, false);
    }
    if (v.errAngleMin) {
        mask |= kErrAngleMin;
        StoreAngle(v.errAngleMinValue, true);
    }
    if (v.errTimeMax) {
        mask |= kErrTimeMax;
        step->SetTime(TimeToMachine(static_cast<double>(v.errTimeMaxValue)));
    }
    if (v.errTimeMin) {
        mask |= kErrTimeMin;
        step->SetTimeMin(TimeToMachine(static_cast<double>(v.errTimeMinValue)));
    }
    if (v.errThreshold) {
        mask |= kErrThreshold;
        StoreThreshold(v.errThresholdValue);
    }
    if (v.errCurrentMax) {
        mask |= kErrCurrentMax;
        StoreCurrent(v.errCurrentMaxValue, false);
    }
    if (v.errCurrentMin) {
        mask |= kErrCurrentMin;
        StoreCurrent(v.errCurrentMinValue, true);
    }
    if (v.errClutch)
        mask |= kErrClutch;
    step->SetErrorMask(mask);

    if (v.lastStep || forcedLast) {
        step->SetLast();
    } else if (stepIndex >= 0 && stepIndex + 1 < static_cast<int>(ParameterBlock::kStepCount)) {
        step->SetNextStep(static_cast<uint8_t>(stepIndex + 1));
    }
}

bool PrgStepModel::SpeedReachable(int newMaxSpeed, const TransmissionEntry* g,
                                  const TransmissionEntry* a, double u) const {
    if (!step || step->Controlled() == 0 || step->Speed() == 0)
        return true;
    // Kind 14 stores a duty that any battery can drive.
    if (ctx.machineKind != 18)
        return true;
    const double gr = g && g->ratio > 0 ? g->ratio : 1.0;
    const double ar = a && a->ratio > 0 ? a->ratio : 1.0;
    const double uf = u >= 0.01 ? u : 1.0;
    const double needed = RoundHalfUp(3333333.3333333335 / (gr * uf * ar) / step->Speed());
    if (ctx.totalRatio <= 0)
        return false;
    return std::trunc(newMaxSpeed / ctx.totalRatio) >= needed;
}

void PrgStepModel::OnActivated() {
    host.RedrawStepGraphic();
    ShowValuesNow();
}

bool PrgStepModel::LeavePage() {
    if (!ValidateOnLeave())
        return false;
    StoreToRecord();
    return true;
}
