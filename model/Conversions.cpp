#include "model/Conversions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

// Speed constant of kind 18: the stored value is a period, output speed = k / ratio / raw.
constexpr double kPeriodConstant = 3333333.3333333335;

bool Usable(double v) {
    return std::isfinite(v) && v > 0;
}

// Toward zero, clamped to 0..max; NaN gives 0.
template <typename T> T ToUnsigned(double v, T max = std::numeric_limits<T>::max()) {
    if (!(v > 0))
        return 0;
    if (v >= static_cast<double>(max))
        return max;
    return static_cast<T>(v);
}

int ToInt(double v) {
    if (std::isnan(v))
        return 0;
    constexpr double lo = std::numeric_limits<int>::min();
    constexpr double hi = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(v, lo, hi));
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

double RoundHalfUp(double x, int n) {
    double scale = std::pow(10.0, n);
    double y = x * scale;
    if (!std::isfinite(y))
        return x;
    double r = std::fmod(y, 1.0);
    double v = r >= 0.5 ? std::ceil(y) : std::floor(y);
    return v / scale;
}

void ConversionContext::SetRatios(double ratio, uint16_t userTransmission) {
    transmissionRatio = ratio;
    double factor = userTransmission / 100.0;
    if (factor >= 0.01)
        userGearFactor = factor;
    totalRatio = transmissionRatio * userGearFactor;
}

int ConversionContext::MaxOutputSpeed() const {
    if (!Usable(totalRatio))
        return 0;
    return ToInt(std::trunc(maxMotorSpeed / totalRatio));
}

int ConversionContext::MinOutputSpeed() const {
    if (!Usable(totalRatio))
        return 0;
    return ToInt(std::ceil(minMotorSpeed / totalRatio));
}

int SpeedToDisplay(const ConversionContext& ctx, uint16_t raw, bool controlled) {
    switch (ctx.machineKind) {
    case 18:
        if (!controlled)
            return ToInt(RoundHalfUp(raw * 100.0 / 1023.0));
        if (raw == 0 || !Usable(ctx.totalRatio))
            return 0;
        {
            int v = ToInt(RoundHalfUp(kPeriodConstant / ctx.totalRatio / raw));
            if (v < ctx.MinOutputSpeed())
                v = ctx.MinOutputSpeed();
            if (v > ctx.MaxOutputSpeed())
                v = ctx.MaxOutputSpeed();
            return v;
        }
    case 14:
        if (!controlled)
            return ToInt(RoundHalfUp(raw * 100.0 / 255.0));
        if (!Usable(ctx.totalRatio) || !Usable(ctx.maxMotorSpeed))
            return 0;
        return ToInt(RoundHalfUp(raw * ctx.maxMotorSpeed / (255.0 * ctx.totalRatio)));
    default:
        return 0;
    }
}

uint16_t SpeedToMachine(const ConversionContext& ctx, double value, bool controlled) {
    switch (ctx.machineKind) {
    case 18:
        if (!controlled)
            return ToUnsigned<uint16_t>(RoundHalfUp(value * 1023.0 / 100.0));
        if (value <= 0.1 || !Usable(ctx.totalRatio))
            return 0;
        // Very slow speeds give periods beyond 16 bits; the slowest storable one is closest.
        return ToUnsigned<uint16_t>(RoundHalfUp(kPeriodConstant / value / ctx.totalRatio));
    case 14:
        if (!controlled)
            return ToUnsigned<uint16_t>(RoundHalfUp(value * 255.0 / 100.0));
        if (!Usable(ctx.totalRatio) || !Usable(ctx.maxMotorSpeed))
            return 0;
        return ToUnsigned<uint16_t>(
            RoundHalfUp(255.0 * ctx.totalRatio * value / ctx.maxMotorSpeed));
    default:
        return 0;
    }
}

int CountsPerRevolution(int machineKind) {
    if (machineKind == 0)
        return 0;
    return machineKind == 18 ? 18 : 24;
}

int AngleToDisplay(const ConversionContext& ctx, uint32_t raw) {
    int c = CountsPerRevolution(ctx.machineKind);
    if (c == 0 || !Usable(ctx.totalRatio))
        return 0;
    return ToInt(RoundHalfUp(raw * 360.0 / (c * ctx.totalRatio)));
}

uint32_t AngleToMachine(const ConversionContext& ctx, double degrees) {
    int c = CountsPerRevolution(ctx.machineKind);
    if (c == 0 || !Usable(ctx.totalRatio))
        return 0;
    return ToUnsigned<uint32_t>(RoundHalfUp(degrees * ctx.totalRatio * c / 360.0));
}

int ThresholdToDisplay(uint16_t raw) {
    return ToInt(RoundHalfUp(raw * 1.4348 - 143.913));
}

uint16_t ThresholdToMachine(double value) {
    return ToUnsigned<uint16_t>(RoundHalfUp((value + 143.913) / 1.4348));
}

double CurrentToDisplay(uint16_t raw) {
    return raw / 100.0;
}

uint16_t CurrentToMachine(double amperes) {
    return static_cast<uint16_t>(ScaleToMachine(amperes, 100.0, 65535));
}

int TimeToDisplay(uint16_t raw) {
    return raw;
}

uint16_t TimeToMachine(double ms) {
    return static_cast<uint16_t>(ScaleToMachine(ms, 1.0, 65535));
}

double RampToDisplay(uint8_t raw) {
    return std::min(raw / 100.0, 2.5);
}

uint8_t RampToMachine(double seconds) {
    uint32_t v = ScaleToMachine(seconds, 100.0, 255);
    return static_cast<uint8_t>(v == 0 ? 1 : v);
}

std::string RampText(uint8_t raw) {
    return FormatFixed(RampToDisplay(raw), 1);
}

uint32_t ScaleToMachine(double value, double scale, uint32_t max) {
    double y = value * scale;
    if (!std::isfinite(y))
        return std::isinf(y) && y > 0 ? max : 0;
    double nearest = std::nearbyint(y);
    if (std::fabs(y - nearest) <= 1e-9 * std::max(1.0, std::fabs(y)))
        y = nearest;
    return ToUnsigned<uint32_t>(std::trunc(y), max);
}

std::string FormatFixed(double value, int decimals) {
    if (!std::isfinite(value))
        return "0";
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed,
                             std::clamp(decimals, 0, 17));
    if (res.ec != std::errc())
        return "0";
    std::string s(buf, res.ptr);
    // "-0" and "-0.0" read oddly; a value that rounds to zero is zero.
    if (s.front() == '-' && s.find_first_not_of("-0.") == std::string::npos)
        s.erase(0, 1);
    return s;
}

std::optional<double> ParseDouble(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    double v = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<long long> ParseInteger(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    long long v = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), v, 10);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size())
        return std::nullopt;
    return v;
}
