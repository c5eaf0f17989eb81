#include "model/ImageDiff.h"

#include "model/ImageListing.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

using P = ParameterBlock;
using Format = std::function<std::string(const ParameterBlock&, const ConversionContext&)>;

struct Field {
    std::string name;
    size_t offset;
    size_t length;
    Format format;
};

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

std::string Quoted(const ParameterBlock& b, size_t offset, size_t width) {
    std::string raw;
    for (size_t i = 0; i < width && b.bytes[offset + i] != 0; ++i)
        raw.push_back(static_cast<char>(b.bytes[offset + i]));
    std::string s = "\"";
    for (char c : Latin1ToUtf8(raw)) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '"' || c == '\\') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            s += buf;
        } else {
            s += c;
        }
    }
    return s + "\"";
}

std::string Num(long long v, const char* unit = "") {
    std::string s = std::to_string(v);
    return *unit ? s + " " + unit : s;
}

std::string OnOff(bool on) {
    return on ? "on" : "off";
}

const char* ConditionName(uint8_t code) {
    switch (code) {
    case kCondAngle:
        return "Drehwinkel erreicht";
    case kCondTime:
        return "Zeit abgelaufen";
    case kCondThreshold:
        return "Drehmoment-Schwelle";
    case kCondCurrent:
        return "Strom erreicht";
    default:
        return "Kupplung ausgelöst";
    }
}

std::string Criteria(uint16_t mask) {
    static const std::pair<uint16_t, const char*> kCriteria[] = {
        {kErrAngleMax, "Drehwinkel >"}, {kErrAngleMin, "Drehwinkel <"},
        {kErrTimeMax, "Zeit >"},        {kErrTimeMin, "Zeit <"},
        {kErrThreshold, "Schwelle"},    {kErrCurrentMax, "Strom >"},
        {kErrCurrentMin, "Strom <"},    {kErrClutch, "Kupplung ausgelöst"},
    };
    std::string s;
    for (const auto& [bit, text] : kCriteria)
        if (mask & bit)
            s += (s.empty() ? "" : ", ") + std::string(text);
    if (mask & ~kErrAllCriteria) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%04X", mask & ~kErrAllCriteria);
        s += (s.empty() ? "" : ", ") + std::string(buf);
    }
    return s.empty() ? "-" : s;
}

const std::vector<Field>& Fields() {
    static const std::vector<Field> fields = [] {
        std::vector<Field> f;
        auto text = [&](const char* name, size_t off, size_t len) {
            f.push_back({name, off, len, [off, len](const P& b, const ConversionContext&) {
                             return Quoted(b, off, len);
                         }});
        };
        auto byte = [&](const char* name, size_t off, std::function<std::string(uint8_t)> fmt) {
            f.push_back({name, off, 1, [off, fmt](const P& b, const ConversionContext&) {
                             return fmt(b.bytes[off]);
                         }});
        };
        auto number = [](uint8_t v) { return Num(v); };
        auto hex8 = [](uint8_t v) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "0x%02X", v);
            return std::string(buf);
        };

        byte("machineFlags", P::kOffMachineFlags, [hex8](uint8_t v) {
            return hex8(v) + " (parameterisation " + ((v & 1) ? "allowed)" : "not allowed)");
        });
        byte("writeMark", P::kOffWriteMark, number);
        text("machineType", P::kOffMachineType, P::kLenMachineType);
        text("elAssembly", P::kOffElAssembly, P::kLenElAssembly);
        text("serialNr", P::kOffSerialNr, P::kLenSerialNr);
        text("toolId", P::kOffToolId, P::kLenToolId);
        text("swVersion", P::kOffSwVersion, P::kLenSwVersion);
        f.push_back({"calDate", P::kOffCalDate, 4, [](const P& b, const ConversionContext&) {
                         return FormatCalDate(b.CalDate());
                     }});
        text("calName", P::kOffCalName, P::kLenCalName);
        text("place", P::kOffPlace, P::kLenPlace);
        f.push_back({"passwordDigest", P::kOffPasswordDigest, P::kLenPasswordDigest,
                     [](const P& b, const ConversionContext&) {
                         return Hex(b.bytes.data() + P::kOffPasswordDigest, P::kLenPasswordDigest);
                     }});
        f.push_back({"torque", P::kOffTorque, 2, [](const P& b, const ConversionContext&) {
                         return FormatFixed(b.Torque() / 100.0, 2) + " Nm";
                     }});
        f.push_back({"maxTorque", P::kOffMaxTorque, 2, [](const P& b, const ConversionContext&) {
                         return FormatFixed(b.MaxTorque() / 100.0, 2) + " Nm";
                     }});
        byte("variantCode", P::kOffVariantCode, number);
        byte("restartLock", P::kOffRestartLock,
             [](uint8_t v) { return FormatFixed(v / 10.0, 1) + " s"; });
        byte("restartLockNio", P::kOffRestartLockNio,
             [](uint8_t v) { return FormatFixed(v / 10.0, 1) + " s"; });
        byte("transmission", P::kOffTransmission, number);
        byte("angleHead", P::kOffAngleHead, number);
        byte("rlLock", P::kOffRlLock, [](uint8_t v) { return v ? "locked" : "free"; });
        byte("rlLockPermanent", P::kOffRlLockPermanent,
             [](uint8_t v) { return v == 0 ? "permanent" : "not permanent"; });
        byte("buzzerLock", P::kOffBuzzerLock, [](uint8_t v) { return "buzzer " + OnOff(v == 0); });
        byte("batteryDisplay", P::kOffBatteryDisplay, [](uint8_t v) { return OnOff(v != 0); });
        byte("batteryThreshold", P::kOffBatteryThreshold, [](uint8_t v) { return Num(v, "%"); });
        f.push_back({"userTransmission", P::kOffUserTransmission, 2,
                     [](const P& b, const ConversionContext&) {
                         return FormatFixed(b.UserTransmission() / 100.0, 2);
                     }});
        byte("modeFlags", P::kOffModeFlags, [hex8](uint8_t v) {
            return hex8(v) + " (parameter set 1+2 " + OnOff(v & 1) + ", expert mode " +
                   OnOff(v & 0x80) + ")";
        });
        byte("blinkNio", P::kOffBlinkNio, [](uint8_t v) { return OnOff(v != 0); });
        f.push_back(
            {"serviceResetCounter", P::kOffServiceResetCounter, 4,
             [](const P& b, const ConversionContext&) { return Num(b.ServiceResetCounter()); }});
        f.push_back(
            {"serviceDueCounter", P::kOffServiceDueCounter, 4,
             [](const P& b, const ConversionContext&) { return Num(b.ServiceDueCounter()); }});
        byte("clutchLimitFlags", P::kOffClutchLimitFlags, [hex8](uint8_t v) {
            return hex8(v) + " (speed limit removed: " + ((v & 1) ? "yes)" : "no)");
        });
        f.push_back({"machineTail", P::kOffMachineTail, P::kLenMachineTail,
                     [](const P& b, const ConversionContext&) {
                         return Hex(b.bytes.data() + P::kOffMachineTail, P::kLenMachineTail);
                     }});

        // The step record's fields: offset in the record, width, value.
        using StepFormat = std::function<std::string(StepRecordView, const ConversionContext&)>;
        struct StepField {
            const char* name;
            size_t offset, length;
            StepFormat format;
        };
        const StepField stepFields[] = {
            {"type", 23, 1,
             [](StepRecordView s, const ConversionContext&) {
                 return s.Type() == 0   ? std::string("Rechtslauf")
                        : s.Type() == 1 ? std::string("Linkslauf")
                                        : Num(s.Type());
             }},
            {"controlled", 24, 1,
             [](StepRecordView s, const ConversionContext&) {
                 return s.Controlled() ? std::string("geregelt (1/min)") : std::string("%");
             }},
            {"speed", 0, 2,
             [](StepRecordView s, const ConversionContext& c) {
                 const bool controlled = s.Controlled() != 0;
                 return Num(SpeedToDisplay(c, s.Speed(), controlled), controlled ? "1/min" : "%");
             }},
            {"ramp", 20, 1,
             [](StepRecordView s, const ConversionContext&) { return RampText(s.Ramp()) + " s"; }},
            {"condition", 25, 1,
             [](StepRecordView s, const ConversionContext&) {
                 std::string t = ConditionName(s.Condition());
                 if (s.WaitRestart())
                     t += ", warten auf Neustart";
                 return t;
             }},
            {"nextStep", 28, 1,
             [](StepRecordView s, const ConversionContext&) {
                 return s.IsLast() ? std::string("letzter Schritt") : Num(s.NextStep());
             }},
            {"angle", 2, 4,
             [](StepRecordView s, const ConversionContext& c) {
                 return Num(AngleToDisplay(c, s.Angle()), "°");
             }},
            {"angleMin", 6, 4,
             [](StepRecordView s, const ConversionContext& c) {
                 return Num(AngleToDisplay(c, s.AngleMin()), "°");
             }},
            {"time", 10, 2,
             [](StepRecordView s, const ConversionContext&) {
                 return Num(TimeToDisplay(s.Time()), "ms");
             }},
            {"timeMin", 21, 2,
             [](StepRecordView s, const ConversionContext&) {
                 return Num(TimeToDisplay(s.TimeMin()), "ms");
             }},
            {"threshold", 12, 2,
             [](StepRecordView s, const ConversionContext&) {
                 return Num(ThresholdToDisplay(s.Threshold()));
             }},
            {"current", 18, 2,
             [](StepRecordView s, const ConversionContext&) {
                 return FormatFixed(CurrentToDisplay(s.Current()), 2) + " A";
             }},
            {"currentMin", 16, 2,
             [](StepRecordView s, const ConversionContext&) {
                 return FormatFixed(CurrentToDisplay(s.CurrentMin()), 2) + " A";
             }},
            {"errorMask", 26, 2,
             [](StepRecordView s, const ConversionContext&) { return Criteria(s.ErrorMask()); }},
        };
        for (size_t i = 0; i < P::kStepCount; ++i) {
            const std::string prefix = "set" + std::to_string(i / P::kStepsPerSet + 1) + ".step" +
                                       std::to_string(i % P::kStepsPerSet + 1) + ".";
            const size_t base = P::kOffSteps + i * StepRecordView::kSize;
            for (const StepField& sf : stepFields) {
                StepFormat fmt = sf.format;
                f.push_back({prefix + sf.name, base + sf.offset, sf.length,
                             [i, fmt](const P& b, const ConversionContext& c) {
                                 return fmt(b.Step(i), c);
                             }});
            }
        }
        return f;
    }();
    return fields;
}

bool RangeDiffers(const ParameterBlock& a, const ParameterBlock& b, size_t offset, size_t length) {
    return std::memcmp(a.bytes.data() + offset, b.bytes.data() + offset, length) != 0;
}

} // namespace

std::vector<FieldDifference> DiffImages(const ParameterBlock& a, const ParameterBlock& b,
                                        const ConversionContext& ctxA,
                                        const ConversionContext& ctxB) {
    std::vector<FieldDifference> out;
    std::array<bool, P::kSize> covered{};
    for (const Field& f : Fields()) {
        for (size_t i = 0; i < f.length; ++i)
            covered[f.offset + i] = true;
        if (!RangeDiffers(a, b, f.offset, f.length))
            continue;
        FieldDifference d{f.name, f.format(a, ctxA), f.format(b, ctxB), f.offset};
        // Rounding can show two stored values alike: then the stored bytes tell them apart.
        if (d.oldValue == d.newValue) {
            d.oldValue += " (" + Hex(a.bytes.data() + f.offset, f.length) + ")";
            d.newValue += " (" + Hex(b.bytes.data() + f.offset, f.length) + ")";
        }
        out.push_back(std::move(d));
    }
    // Bytes the program does not interpret: each run that differs, by its offsets.
    for (size_t i = 0; i < P::kSize;) {
        if (covered[i] || a.bytes[i] == b.bytes[i]) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end + 1 < P::kSize && !covered[end + 1] && a.bytes[end + 1] != b.bytes[end + 1])
            ++end;
        const std::string name = end == i
                                     ? "byte " + std::to_string(i)
                                     : "bytes " + std::to_string(i) + "-" + std::to_string(end);
        out.push_back(
            {name, Hex(a.bytes.data() + i, end - i + 1), Hex(b.bytes.data() + i, end - i + 1), i});
        i = end + 1;
    }
    return out;
}

std::vector<FieldDifference> DiffImages(const ParameterBlock& a, const ParameterBlock& b,
                                        const ConversionContext& ctx) {
    return DiffImages(a, b, ctx, ctx);
}

std::string DifferenceText(const std::vector<FieldDifference>& differences) {
    std::string s;
    for (const FieldDifference& d : differences)
        s += d.name + ": " + d.oldValue + " -> " + d.newValue + "\n";
    return s;
}

bool SettingsDiffer(const ParameterBlock& a, const ParameterBlock& b) {
    return RangeDiffers(a, b, P::kOffRestartLock, 1) ||
           RangeDiffers(a, b, P::kOffSteps, P::kStepCount * StepRecordView::kSize) ||
           RangeDiffers(a, b, P::kOffRlLock, P::kOffBlinkNio - P::kOffRlLock + 1);
}
