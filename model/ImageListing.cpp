#include "model/ImageListing.h"

#include <chrono>
#include <cstdio>

#include "crypto/SHA1.h"
#include "model/MachineCatalog.h"

namespace {

std::string Hex(const uint8_t* p, size_t n) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        if (i)
            s += ' ';
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::string Hex8(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
    return buf;
}

std::string Hex16(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", v & 0xFFFF);
    return buf;
}

// A text field in quotes; bytes that would upset a terminal are shown as \xNN.
std::string QuotedText(const ParameterBlock& b, size_t offset, size_t width) {
    std::string s = "\"";
    for (size_t i = 0; i < width; ++i) {
        uint8_t c = b.bytes[offset + i];
        if (c == 0)
            break;
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == '"' || c == '\\') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            s += buf;
        } else {
            s += Latin1ToUtf8(std::string_view(reinterpret_cast<const char*>(&c), 1));
        }
    }
    return s + "\"";
}

const char* YesNo(bool v) {
    return v ? "yes" : "no";
}

const char* ConditionText(uint8_t code) {
    switch (code) {
    case kCondAngle:
        return "Drehwinkel erreicht";
    case kCondTime:
        return "Zeit abgelaufen";
    case kCondThreshold:
        return "Drehmoment-Schwelle";
    case kCondCurrent:
        return "Strom erreicht";
    case kCondClutch:
        return "Kupplung ausgelöst";
    default:
        return "unbekannt";
    }
}

std::string ErrorCriteria(uint16_t mask) {
    static const struct {
        uint16_t bit;
        const char* text;
    } kCriteria[] = {
        {kErrAngleMax, "Drehwinkel >"}, {kErrAngleMin, "Drehwinkel <"},
        {kErrTimeMax, "Zeit >"},        {kErrTimeMin, "Zeit <"},
        {kErrThreshold, "Schwelle"},    {kErrCurrentMax, "Strom >"},
        {kErrCurrentMin, "Strom <"},    {kErrClutch, "Kupplung ausgelöst"},
    };
    std::string s;
    for (const auto& c : kCriteria) {
        if (mask & c.bit) {
            s += s.empty() ? "" : ", ";
            s += c.text;
        }
    }
    return s.empty() ? "none" : s;
}

class Lines {
public:
    void Add(const std::string& name, const std::string& value, const std::string& unit = {}) {
        std::string l = name + " = " + value;
        if (!unit.empty())
            l += " " + unit;
        lines.push_back(std::move(l));
    }
    std::vector<std::string> lines;
};

} // namespace

std::string FormatCalDate(uint32_t minutes) {
    if (minutes == 0)
        return "-";
    using namespace std::chrono;
    sys_days day = sys_days(year(2000) / January / 1) + days(minutes / 1440);
    year_month_day ymd(day);
    unsigned m = minutes % 1440;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()), m / 60,
                  m % 60);
    return buf;
}

ConversionContext MakeConversionContext(const ParameterBlock& block, const MachineCatalog& catalog,
                                        int machineKind) {
    ConversionContext ctx;
    ctx.machineKind = machineKind != 0 ? machineKind : block.MachineKindFromModel();
    ctx.SetRatios(catalog.activeTransmission.ratio, block.UserTransmission());
    ctx.maxMotorSpeed = catalog.pageBatteryMaxSpeed;
    ctx.minMotorSpeed = catalog.pageMinSpeed;
    return ctx;
}

std::vector<std::string> ListImage(const ParameterBlock& b, const ConversionContext& ctx) {
    using P = ParameterBlock;
    Lines out;
    auto num = [](auto v) { return std::to_string(v); };

    out.Add("machineFlags", Hex8(b.MachineFlags()) + " (parameterisation allowed: " +
                                YesNo(b.ParameterisationAllowed()) + ")");
    out.Add("writeMark", num(b.WriteMark()));
    out.Add("machineType", QuotedText(b, P::kOffMachineType, P::kLenMachineType));
    out.Add("modelCode", QuotedText(b, P::kOffMachineType, P::kLenModelCode));
    out.Add("machineKindFromModel", num(b.MachineKindFromModel()));
    out.Add("elAssembly", QuotedText(b, P::kOffElAssembly, P::kLenElAssembly));
    out.Add("serialNr", QuotedText(b, P::kOffSerialNr, P::kLenSerialNr));
    out.Add("toolId", QuotedText(b, P::kOffToolId, P::kLenToolId));
    FirmwareVersionNumbers fw = b.FirmwareVersion();
    bool fwValid = fw.major >= 0 && fw.minor >= 0 && fw.third >= 0;
    out.Add("swVersion",
            QuotedText(b, P::kOffSwVersion, P::kLenSwVersion) +
                (fwValid ? " (" + num(fw.major) + "." + num(fw.minor) + "." + num(fw.third) + ")"
                         : std::string(" (no version number)")));
    out.Add("calDate", FormatCalDate(b.CalDate()));
    out.Add("calName", QuotedText(b, P::kOffCalName, P::kLenCalName));
    out.Add("place", QuotedText(b, P::kOffPlace, P::kLenPlace));
    out.Add("passwordDigest", Hex(b.bytes.data() + P::kOffPasswordDigest, P::kLenPasswordDigest));
    out.Add("torque", FormatFixed(b.Torque() / 100.0, 2), "Nm");
    out.Add("maxTorque", FormatFixed(b.MaxTorque() / 100.0, 2), "Nm");
    out.Add("variantCode", num(b.VariantCode()));
    out.Add("restartLock", FormatFixed(b.RestartLock() / 10.0, 1), "s");
    out.Add("restartLockNio", FormatFixed(b.RestartLockNio() / 10.0, 1), "s");
    out.Add("transmission", num(b.Transmission()));
    out.Add("angleHead", num(b.AngleHead()));
    out.Add("rlLock", num(b.RlLock()) + " (locked: " + YesNo(b.RlLock() != 0) + ")");
    out.Add("rlLockPermanent",
            num(b.RlLockPermanent()) + " (permanent: " + YesNo(b.RlLockPermanent() == 0) + ")");
    out.Add("buzzerLock", num(b.BuzzerLock()) + " (buzzer on: " + YesNo(b.BuzzerLock() == 0) + ")");
    out.Add("batteryDisplay", num(b.BatteryDisplay()) + " (on: " + YesNo(b.BatteryDisplay()) + ")");
    out.Add("batteryThreshold", num(b.BatteryThreshold()), "%");
    out.Add("userTransmission", FormatFixed(b.UserTransmission() / 100.0, 2));
    out.Add("modeFlags", Hex8(b.ModeFlags()) + " (parameter set 1+2: " + YesNo(b.ParameterSet12()) +
                             ", expert mode: " + YesNo(b.ExpertMode()) + ")");
    out.Add("blinkNio", num(b.BlinkNio()) + " (on: " + YesNo(b.BlinkNio()) + ")");
    out.Add("serviceResetCounter", num(b.ServiceResetCounter()));
    out.Add("serviceDueCounter", num(b.ServiceDueCounter()));
    out.Add("clutchLimitFlags", Hex8(b.ClutchLimitFlags()) + " (speed limit removed: " +
                                    YesNo(b.ClutchLimitRemoved()) + ")");
    out.Add("machineTail", Hex(b.bytes.data() + P::kOffMachineTail, P::kLenMachineTail));
    out.Add("digest", SHA1::ToText(b.Digest()));

    out.Add("machineKind", num(ctx.machineKind));
    out.Add("totalRatio", FormatFixed(ctx.totalRatio, 4));
    out.Add("maxOutputSpeed", num(ctx.MaxOutputSpeed()), "1/min");
    out.Add("minOutputSpeed", num(ctx.MinOutputSpeed()), "1/min");

    for (size_t i = 0; i < P::kStepCount; ++i) {
        StepRecordView s = b.Step(i);
        std::string p = "step" + num(i) + ".";
        bool controlled = s.Controlled() != 0;
        out.Add(p + "parameterSet", num(i < P::kStepsPerSet ? 1 : 2));
        out.Add(p + "type", num(s.Type()) + (s.Type() == 0   ? " (Rechtslauf)"
                                             : s.Type() == 1 ? " (Linkslauf)"
                                                             : ""));
        out.Add(p + "controlled", num(s.Controlled()));
        out.Add(p + "speed", num(SpeedToDisplay(ctx, s.Speed(), controlled)),
                controlled ? "1/min" : "%");
        out.Add(p + "ramp", RampText(s.Ramp()), "s");
        out.Add(p + "condition", Hex8(s.Condition()) + " (" + ConditionText(s.Condition()) + ")");
        out.Add(p + "waitRestart", YesNo(s.WaitRestart()));
        out.Add(p + "nextStep", s.IsLast() ? "last" : num(s.NextStep()));
        out.Add(p + "angle", num(AngleToDisplay(ctx, s.Angle())), "°");
        out.Add(p + "angleMin", num(AngleToDisplay(ctx, s.AngleMin())), "°");
        out.Add(p + "time", num(TimeToDisplay(s.Time())), "ms");
        out.Add(p + "timeMin", num(TimeToDisplay(s.TimeMin())), "ms");
        out.Add(p + "threshold", num(ThresholdToDisplay(s.Threshold())));
        out.Add(p + "current", FormatFixed(CurrentToDisplay(s.Current()), 2), "A");
        out.Add(p + "currentMin", FormatFixed(CurrentToDisplay(s.CurrentMin()), 2), "A");
        out.Add(p + "errorMask", Hex16(s.ErrorMask()) + " (" + ErrorCriteria(s.ErrorMask()) + ")");
    }
    return out.lines;
}

std::string ImageListingText(const ParameterBlock& block, const ConversionContext& ctx) {
    std::string text;
    for (const auto& l : ListImage(block, ctx))
        text += l + "\n";
    return text;
}
