#include "model/PageRules.h"

#include <algorithm>
#include <cmath>

namespace PageRules {
namespace {

// Percent of the motor's maximum speed as the machine's duty scale (full = 1023 or 255) sees it.
int DutyPercent(double motorSpeed, double maxMotorSpeed, int full) {
    if (maxMotorSpeed <= 0 || full == 0)
        return 0;
    const double p = std::trunc(motorSpeed * full / maxMotorSpeed);
    return static_cast<int>(RoundHalfUp(p * 100.0 / full));
}

int DutyFull(int kind) {
    return kind == 18 ? 1023 : kind == 14 ? 255 : 0;
}

} // namespace

StepLimits MakeStepLimits(const StepLimitInput& in) {
    StepLimits l;
    const double ratio = in.gearRatio > 0 ? in.gearRatio : 1.0;
    l.ctx.machineKind = in.machineKind;
    l.ctx.transmissionRatio = ratio;
    l.ctx.userGearFactor = in.userFactor;
    l.ctx.totalRatio = ratio * in.userFactor;
    l.ctx.maxMotorSpeed = in.maxMotorSpeed;
    l.ctx.minMotorSpeed = in.minMotorSpeed;
    l.maxOutputSpeed = l.ctx.MaxOutputSpeed();
    l.minOutputSpeed = l.ctx.MinOutputSpeed();

    const double clutchMotor = std::min<double>(in.clutchMaxSpeed, std::max(0, in.maxMotorSpeed));
    const double clutchOut = l.ctx.totalRatio > 0 ? clutchMotor / l.ctx.totalRatio : 0.0;
    // The speed a step holds for the clutch maximum, shown as a held speed is shown: typed at
    // the limit it stays there, and the value does not depend on which setting came last.
    l.clutchLimitRpm = in.machineKind == 14 || in.machineKind == 18
                           ? SpeedToDisplay(l.ctx, SpeedToMachine(l.ctx, clutchOut, true), true)
                           : static_cast<int>(std::trunc(clutchOut));
    // Kind 14 works on a 255-step duty scale; without a limit of its own a step ending at the
    // clutch would be lowered to 0 %.
    const int full = DutyFull(in.machineKind);
    l.minPercent = DutyPercent(in.minMotorSpeed, in.maxMotorSpeed, full);
    l.clutchLimitPercent = DutyPercent(clutchMotor, in.maxMotorSpeed, full);
    l.minThreshold = in.minThreshold;
    l.maxThreshold = in.maxThreshold;
    return l;
}

int MinThresholdDisplay(const StepLimits& l) {
    return ThresholdToDisplay(static_cast<uint16_t>(std::clamp(l.minThreshold, 0, 65535)));
}

int MaxThresholdDisplay(const StepLimits& l) {
    return ThresholdToDisplay(static_cast<uint16_t>(std::clamp(l.maxThreshold, 0, 65535)));
}

SpeedBounds ShownSpeedBounds(const StepLimits& l, bool controlled, bool limitedAtClutch) {
    SpeedBounds b;
    b.low = controlled ? l.minOutputSpeed : l.minPercent;
    b.high = controlled ? l.maxOutputSpeed : 100;
    if (limitedAtClutch)
        b.high = std::min(b.high, controlled ? l.clutchLimitRpm : l.clutchLimitPercent);
    // A clutch limit below the lower bound: the page lowers to the limit, then raises to the
    // bound.
    b.high = std::max(b.high, b.low);
    return b;
}

bool SpeedRawAllowed(const StepLimits& l, uint16_t raw, bool controlled) {
    if (raw == 0)
        return true;
    const int kind = l.ctx.machineKind;
    if (kind != 14 && kind != 18)
        return false;
    if (!controlled) {
        const int full = DutyFull(kind);
        if (raw > full)
            return false;
        const SpeedBounds b = ShownSpeedBounds(l, false, false);
        const int percent = SpeedToDisplay(l.ctx, raw, false);
        return percent >= b.low && percent <= b.high;
    }
    // Without a battery speed the page has no range to keep to.
    const double maxMotor = l.ctx.maxMotorSpeed;
    const double minMotor = l.ctx.minMotorSpeed;
    if (!(maxMotor > 0))
        return true;
    // Judged at the motor, where the range does not move with the user factor: the output
    // range is the motor's range divided by the ratio, and a raw value stored under one
    // factor stays within it under any other.
    if (kind == 18) {
        // A period: motor speed = 3333333.33 / raw.
        const double lo = RoundHalfUp(3333333.3333333335 / maxMotor);
        const double hi = minMotor > 0 ? RoundHalfUp(3333333.3333333335 / minMotor) : 65535.0;
        return raw >= lo && raw <= hi;
    }
    // Kind 14: a duty of the battery's maximum speed.
    const double lo = RoundHalfUp(255.0 * std::max(0.0, minMotor) / maxMotor);
    return raw >= lo && raw <= 255;
}

bool ThresholdRawAllowed(const StepLimits& l, uint16_t raw) {
    const int fromLow = ThresholdToMachine(MinThresholdDisplay(l));
    const int fromHigh = ThresholdToMachine(MaxThresholdDisplay(l));
    const int lo = std::min(l.minThreshold, fromLow);
    const int hi = std::max(l.maxThreshold, fromHigh);
    return raw >= lo && raw <= hi;
}

bool KnownCondition(uint8_t code) {
    switch (code) {
    case kCondAngle:
    case kCondTime:
    case kCondThreshold:
    case kCondClutch:
    case kCondCurrent:
        return true;
    default:
        return false;
    }
}

uint16_t ErrorsExcludedBy(uint8_t code) {
    switch (code) {
    case kCondAngle:
        return kErrAngleMax | kErrAngleMin;
    case kCondTime:
        return kErrTimeMax; // "Zeit <" keeps its check
    case kCondThreshold:
        return kErrThreshold;
    case kCondClutch:
        return kErrClutch;
    case kCondCurrent:
        return kErrCurrentMax | kErrCurrentMin;
    default:
        return 0;
    }
}

bool ConditionAllowsControlled(uint8_t code) {
    return code != kCondThreshold;
}

bool StepForcedLast(std::size_t step, uint8_t modeFlags) {
    const bool switchover = (modeFlags & 0x01) != 0;
    const bool expert = (modeFlags & 0x80) != 0;
    switch (step) {
    case 4:
        return !(switchover && expert);
    case 9:
        return true;
    default:
        return false;
    }
}

bool NextStepAllowed(std::size_t step, uint8_t nextStep, uint8_t modeFlags) {
    if (nextStep == kNextStepLast)
        return true;
    if (StepForcedLast(step, modeFlags))
        return false;
    return nextStep == step + 1;
}

} // namespace PageRules
