// The ranges and rules of the editor pages as plain data and functions: the pages keep their
// values inside them, and the check before a write refuses an image that breaks them. One
// source, so the check never refuses what a page could produce.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/Conversions.h"
#include "model/ParameterBlock.h"

namespace PageRules {

// Expert page.
inline constexpr double kMinUserFactor = 0.1;
inline constexpr double kMaxUserFactor = 99.0;
inline constexpr double kMaxRestartLockSeconds = 25.5;
inline constexpr int kMaxBatteryThreshold = 50; // percent
// Maintenance page.
inline constexpr double kMaxTorqueNm = 655.0;
// Program step page.
inline constexpr uint16_t kMaxTimeMs = 65535;

// What a step page derives from the machine kind, the gear entry, the user factor and the
// catalog's limits.
struct StepLimits {
    ConversionContext ctx;
    int maxOutputSpeed = 0;     // 1/min
    int minOutputSpeed = 0;     // 1/min
    int clutchLimitRpm = 0;     // 1/min: the clutch maximum speed as a step can hold it
    int clutchLimitPercent = 0; // percent
    int minPercent = 0;         // percent
    int minThreshold = 101;     // raw
    int maxThreshold = 170;     // raw
};

struct StepLimitInput {
    int machineKind = 0;
    double gearRatio = 1.0;  // active transmission, angle head included; <= 0 counts as 1
    double userFactor = 1.0; // user gear factor
    int maxMotorSpeed = 22500;
    int minMotorSpeed = 50;
    int minThreshold = 101;
    int maxThreshold = 170;
    int clutchMaxSpeed = 22500;
};

StepLimits MakeStepLimits(const StepLimitInput& in);

// Display values of the threshold range.
int MinThresholdDisplay(const StepLimits& l);
int MaxThresholdDisplay(const StepLimits& l);

// The shown speed (1/min controlled, percent not) a page accepts when the field is left: the
// clutch limit applies at the clutch condition unless removed.
struct SpeedBounds {
    int low = 0;
    int high = 0;
};
SpeedBounds ShownSpeedBounds(const StepLimits& l, bool controlled, bool limitedAtClutch);

// Whether a page can have stored this raw speed under any user factor (0 always: no speed):
// controlled speeds within the motor's range (minimum speed to battery maximum), percentages
// within the page's. The clutch limit is not judged here: switching it on lowers only the
// speeds of the pages shown.
bool SpeedRawAllowed(const StepLimits& l, uint16_t raw, bool controlled);

// Raw thresholds a page can store: the slider's range and what the edits' range converts to.
bool ThresholdRawAllowed(const StepLimits& l, uint16_t raw);

// The conditions of the page's list and the one a record may carry (current reached).
bool KnownCondition(uint8_t code);
// Error criteria a condition unchecks; a page never stores them together with it.
uint16_t ErrorsExcludedBy(uint8_t code);
// "Drehmoment-Schwelle" is never speed-controlled.
bool ConditionAllowsControlled(uint8_t code);

// Step chain: the step that is last whatever the user does (step 4 unless both the switchover
// and the expert bit are set; step 9 always). Step 6 with the switchover is made last only when
// set 2 is shown, so an image can carry the switchover with step 6 still linked.
bool StepForcedLast(std::size_t step, uint8_t modeFlags);
// nextStep a page can store for a step: its own index + 1, or last.
bool NextStepAllowed(std::size_t step, uint8_t nextStep, uint8_t modeFlags);

} // namespace PageRules
