// Stored values of the image <-> the units shown to the user. Pages, report and CLI share these,
// so a value reads the same everywhere.
//
// "ToDisplay" is machine -> display, "ToMachine" is display -> machine. Results that do not fit
// the field are clamped to its range (0..max), and a context that cannot scale (no ratio, no
// battery speed) gives 0 instead of dividing by zero.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// y = x * 10^n; ceil(y) when its fraction is >= 0.5, else floor(y); divided by 10^n.
// Negative values are therefore always rounded down (-0.43 -> -1).
double RoundHalfUp(double x, int n = 0);

struct ConversionContext {
    int machineKind = 0;          // 14 or 18; 0 while unknown
    double transmissionRatio = 1; // ratio of the active transmission (angle head included)
    double userGearFactor = 1;    // userTransmission / 100
    double totalRatio = 1;        // transmissionRatio * userGearFactor
    double maxMotorSpeed = 22500; // battery maximum speed, 1/min of the motor (-1: not defined)
    double minMotorSpeed = 50;    // model's minimum speed

    // Sets transmissionRatio and, from userTransmission (x 100), userGearFactor; a factor below
    // 0.01 is ignored and the previous one kept. Recomputes totalRatio.
    void SetRatios(double transmissionRatio, uint16_t userTransmission);

    // trunc(maxMotorSpeed / totalRatio); 0 without a usable ratio.
    int MaxOutputSpeed() const;
    // ceil(minMotorSpeed / totalRatio); 0 without a usable ratio.
    int MinOutputSpeed() const;
};

// speed: 1/min at the output when controlled, percent when not.
int SpeedToDisplay(const ConversionContext& ctx, uint16_t raw, bool controlled);
uint16_t SpeedToMachine(const ConversionContext& ctx, double value, bool controlled);

// angle, angleMin: degrees at the output.
int AngleToDisplay(const ConversionContext& ctx, uint32_t raw);
uint32_t AngleToMachine(const ConversionContext& ctx, double degrees);
// Motor counts per revolution: 18 for kind 18, 24 for other kinds, 0 for kind 0.
int CountsPerRevolution(int machineKind);

// threshold: a number without unit (raw 101 -> 1, 170 -> 100).
int ThresholdToDisplay(uint16_t raw);
uint16_t ThresholdToMachine(double value);

// current, currentMin: amperes.
double CurrentToDisplay(uint16_t raw);
uint16_t CurrentToMachine(double amperes);

// time, timeMin: milliseconds, stored unchanged.
int TimeToDisplay(uint16_t raw);
uint16_t TimeToMachine(double ms);

// ramp: seconds, at most 2.5; stored 1..255 (0 is never stored).
double RampToDisplay(uint8_t raw);
uint8_t RampToMachine(double seconds);
// "%.1f" of RampToDisplay.
std::string RampText(uint8_t raw);

// Plain scaled fields (torque and userTransmission x 100, restart locks x 10): trunc(value x
// scale), clamped to 0..max. A value typed as 0.29 is stored as 29, not 28: the product is
// nudged past the representation error of the decimal input before it is cut.
uint32_t ScaleToMachine(double value, double scale, uint32_t max);

// Numbers as text with "." whatever the locale.
std::string FormatFixed(double value, int decimals);
std::optional<double> ParseDouble(std::string_view text); // whole text, blanks around allowed
std::optional<long long> ParseInteger(std::string_view text);
