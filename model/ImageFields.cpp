#include "model/ImageFields.h"

#include "base/CalendarDate.h"
#include "base/Hex.h"
#include "base/TextCodec.h"
#include "model/FirmwareVersion.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

using P = ParameterBlock;
using K = FieldKind;
using G = FieldGroup;

// The error criteria in the order the pages list them.
struct Criterion {
    uint16_t bit;
    const char* text;
};
constexpr Criterion kCriteria[] = {
    {kErrAngleMax, "Drehwinkel >"}, {kErrAngleMin, "Drehwinkel <"},     {kErrTimeMax, "Zeit >"},
    {kErrTimeMin, "Zeit <"},        {kErrThreshold, "Schwelle"},        {kErrCurrentMax, "Strom >"},
    {kErrCurrentMin, "Strom <"},    {kErrClutch, "Kupplung ausgelöst"},
};

// A code the pages do not know is shown as what it is, not as the page's fallback, so two
// different unknown codes never read alike.
const char* ConditionName(uint32_t code) {
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
        return nullptr;
    }
}

const char* DirectionName(uint32_t type) {
    return type == 0 ? "Rechtslauf" : type == 1 ? "Linkslauf" : nullptr;
}

std::string Hex(const uint8_t* p, size_t n, bool spaced) {
    return HexBytes(p, n, spaced);
}

std::string HexNumber(uint32_t v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
    return buf;
}

std::string RawText(const ParameterBlock& b, const ImageField& f) {
    return FieldBytes(f, b);
}

const char* YesNo(bool v) {
    return v ? "yes" : "no";
}

bool SwitchOn(const ImageField& f, uint32_t raw) {
    return f.onWhenZero ? raw == 0 : raw != 0;
}

std::vector<std::string> CriteriaNames(uint32_t mask) {
    std::vector<std::string> names;
    for (const Criterion& c : kCriteria)
        if (mask & c.bit)
            names.emplace_back(c.text);
    return names;
}

// The step's own context value: speed and angle need the machine's gear ratio.
StepRecordView StepOf(const ImageField& f, const ParameterBlock& b) {
    return b.Step(static_cast<size_t>(f.step));
}

std::vector<ImageField> MakeFields() {
    std::vector<ImageField> f;
    auto add = [&f](std::string name, size_t offset, size_t width, K kind, G group,
                    std::vector<const char*> caption) -> ImageField& {
        ImageField field;
        field.name = std::move(name);
        field.offset = offset;
        field.width = width;
        field.kind = kind;
        field.group = group;
        field.caption = std::move(caption);
        f.push_back(std::move(field));
        return f.back();
    };
    auto fixed = [&](const char* name, size_t offset, size_t width, G group, int scale,
                     int decimals, const char* unit, std::vector<const char*> caption) {
        ImageField& x = add(name, offset, width, K::Fixed, group, std::move(caption));
        x.scale = scale;
        x.decimals = decimals;
        x.unit = unit;
    };
    auto sw = [&](const char* name, size_t offset, G group, bool onWhenZero, const char* sense,
                  bool senseInverted, std::vector<const char*> caption) {
        ImageField& x = add(name, offset, 1, K::Switch, group, std::move(caption));
        x.onWhenZero = onWhenZero;
        x.sense = sense;
        x.senseInverted = senseInverted;
    };

    add("machineFlags", P::kOffMachineFlags, 1, K::Flags, G::State, {"Parametrierung erlaubt"})
        .bits = {
        {0x01, "parameterisationAllowed", "parameterisation allowed", "Parametrierung erlaubt"}};
    add("writeMark", P::kOffWriteMark, 1, K::Integer, G::State, {"Schreibmarke"});
    add("machineType", P::kOffMachineType, P::kLenMachineType, K::Text, G::Identity,
        {"Maschinentyp"});
    add("elAssembly", P::kOffElAssembly, P::kLenElAssembly, K::Text, G::Identity,
        {"Elektronikbaugruppe"});
    add("serialNr", P::kOffSerialNr, P::kLenSerialNr, K::Text, G::Identity, {"Seriennummer"});
    add("toolId", P::kOffToolId, P::kLenToolId, K::Text, G::Identity, {"Maschinenkennung"});
    add("swVersion", P::kOffSwVersion, P::kLenSwVersion, K::Version, G::Identity,
        {"Softwareversion"});
    add("calDate", P::kOffCalDate, 4, K::Date, G::Maintenance, {"Datum letzte Kalibrierung"});
    add("calName", P::kOffCalName, P::kLenCalName, K::Text, G::Maintenance, {"Durchgeführt von"});
    add("place", P::kOffPlace, P::kLenPlace, K::Text, G::Maintenance, {"Einsatzort"});
    add("passwordDigest", P::kOffPasswordDigest, P::kLenPasswordDigest, K::Bytes, G::State,
        {"Passwort"});
    fixed("torque", P::kOffTorque, 2, G::Maintenance, 100, 2, "Nm", {"Eingestelltes Drehmoment"});
    fixed("maxTorque", P::kOffMaxTorque, 2, G::Identity, 100, 2, "Nm", {"Max Drehmoment"});
    add("variantCode", P::kOffVariantCode, 1, K::Integer, G::Identity, {"Variante"});
    fixed("restartLock", P::kOffRestartLock, 1, G::Configuration, 10, 1, "s",
          {"Wiederanlaufsperre IO"});
    fixed("restartLockNio", P::kOffRestartLockNio, 1, G::Setting, 10, 1, "s",
          {"Wiederanlaufsperre NIO"});
    add("transmission", P::kOffTransmission, 1, K::Integer, G::Identity, {"Getriebeübersetzung"});
    add("angleHead", P::kOffAngleHead, 1, K::Integer, G::Identity, {"Winkelkopf"});
    sw("rlLock", P::kOffRlLock, G::Configuration, false, "locked", false,
       {"Umschaltung R/L gesperrt"});
    sw("rlLockPermanent", P::kOffRlLockPermanent, G::Configuration, true, "permanent", false,
       {"Umschaltung permanent"});
    // The byte locks the buzzer; the human form has always said whether the buzzer is on.
    sw("buzzerLock", P::kOffBuzzerLock, G::Configuration, false, "buzzer on", true,
       {"Summer Ein/Aus"});
    sw("batteryDisplay", P::kOffBatteryDisplay, G::Configuration, false, "on", false,
       {"Akkukapazitätsanzeige"});
    add("batteryThreshold", P::kOffBatteryThreshold, 1, K::Integer, G::Configuration,
        {"Akkukapazitätsanzeige", "bei"})
        .unit = "%";
    fixed("userTransmission", P::kOffUserTransmission, 2, G::Configuration, 100, 2, "",
          {"Benutzerdefinierte Getriebeübersetzung"});
    add("modeFlags", P::kOffModeFlags, 1, K::Flags, G::Configuration,
        {"Parametersatz 1+2", "Expertenmodus"})
        .bits = {{0x01, "parameterSet12", "parameter set 1+2", "Parametersatz 1+2"},
                 {0x80, "expertMode", "expert mode", "Expertenmodus"}};
    sw("blinkNio", P::kOffBlinkNio, G::Configuration, false, "on", false, {"Blinken bei NIO"});
    add("serviceResetCounter", P::kOffServiceResetCounter, 4, K::Integer, G::Maintenance,
        {"Verschraubungszähler bei letzter Wartung"});
    add("serviceDueCounter", P::kOffServiceDueCounter, 4, K::Integer, G::Maintenance,
        {"Service bei Verschraubungszähler"});
    add("clutchLimitFlags", P::kOffClutchLimitFlags, 1, K::Flags, G::Setting,
        {"Drehzahlbegrenzung bei Abschaltkriteriumk Kupplung"})
        .bits = {{0x01, "speedLimitRemoved", "speed limit removed",
                  "Drehzahlbegrenzung bei Abschaltkriteriumk Kupplung"}};
    add("machineTail", P::kOffMachineTail, P::kLenMachineTail, K::Bytes, G::State,
        {"Maschinendaten"});

    // The step record: offset in the record, width, mask, kind, unit, caption.
    struct StepField {
        const char* name;
        size_t offset, width;
        uint32_t mask;
        K kind;
        const char* unit;
        const char* caption;
    };
    static const StepField kStepFields[] = {
        {"type", 23, 1, 0, K::Direction, "", "Typ"},
        {"controlled", 24, 1, 0, K::Switch, "", "geregelt"},
        {"speed", 0, 2, 0, K::Speed, "", "Drehzahl"},
        {"ramp", 20, 1, 0, K::Ramp, "s", "Sanftanlauf"},
        {"condition", 25, 1, kCondMask, K::Condition, "", "weiter bei"},
        {"waitRestart", 25, 1, kCondWaitRestart, K::WaitRestart, "", "warten auf Neustart"},
        {"nextStep", 28, 1, 0, K::NextStep, "", "letzter Schritt"},
        {"angle", 2, 4, 0, K::Angle, "°", "Drehwinkel"},
        {"angleMin", 6, 4, 0, K::Angle, "°", "Drehwinkel <"},
        {"time", 10, 2, 0, K::Time, "ms", "Zeit"},
        {"timeMin", 21, 2, 0, K::Time, "ms", "Zeit <"},
        {"threshold", 12, 2, 0, K::Threshold, "", "Schwelle"},
        {"current", 18, 2, 0, K::Current, "A", "Strom"},
        {"currentMin", 16, 2, 0, K::Current, "A", "Strom <"},
        {"errorMask", 26, 2, 0, K::ErrorMask, "", "Fehlerkriterium"},
        // Not interpreted, but part of the step a configuration carries.
        {"reserved", 14, 2, 0, K::Bytes, "", "Bytes"},
    };
    for (size_t i = 0; i < P::kStepCount; ++i) {
        const std::string prefix = "set" + std::to_string(i / P::kStepsPerSet + 1) + ".step" +
                                   std::to_string(i % P::kStepsPerSet + 1) + ".";
        const size_t base = P::kOffSteps + i * StepRecordView::kSize;
        for (const StepField& s : kStepFields) {
            ImageField& x = add(prefix + s.name, base + s.offset, s.width, s.kind, G::Configuration,
                                {s.caption});
            x.mask = s.mask;
            x.unit = s.unit;
            x.step = static_cast<int>(i);
        }
    }
    return f;
}

double Scaled(const ImageField& f, uint32_t raw) {
    return static_cast<double>(raw) / f.scale;
}

} // namespace

const char* FieldGroupName(FieldGroup group) {
    switch (group) {
    case G::Identity:
        return "identity";
    case G::Configuration:
        return "configuration";
    case G::Maintenance:
        return "maintenance";
    case G::Setting:
        return "setting";
    case G::State:
        return "state";
    }
    return "state";
}

const std::vector<ImageField>& ImageFields() {
    static const std::vector<ImageField> fields = MakeFields();
    return fields;
}

const ImageField* FindImageField(std::string_view name) {
    for (const ImageField& f : ImageFields())
        if (f.name == name)
            return &f;
    return nullptr;
}

uint32_t FieldRaw(const ImageField& f, const ParameterBlock& b) {
    if (f.kind == K::Text || f.kind == K::Version || f.kind == K::Bytes || f.width > 4)
        return 0;
    uint32_t v = 0;
    for (size_t i = 0; i < f.width; ++i)
        v |= static_cast<uint32_t>(b.bytes[f.offset + i]) << (8 * i);
    return f.mask ? v & f.mask : v;
}

std::string FieldBytes(const ImageField& f, const ParameterBlock& b) {
    const bool text = f.kind == K::Text || f.kind == K::Version;
    std::string raw;
    for (size_t i = 0; i < f.width && !(text && b.bytes[f.offset + i] == 0); ++i)
        raw.push_back(static_cast<char>(b.bytes[f.offset + i]));
    return raw;
}

bool FieldOn(const ImageField& f, const ParameterBlock& b) {
    return SwitchOn(f, FieldRaw(f, b));
}

double FieldNumber(const ImageField& f, const ParameterBlock& b) {
    return Scaled(f, FieldRaw(f, b));
}

bool FieldDiffers(const ImageField& f, const ParameterBlock& a, const ParameterBlock& b) {
    if (f.mask)
        return FieldRaw(f, a) != FieldRaw(f, b);
    return std::memcmp(a.bytes.data() + f.offset, b.bytes.data() + f.offset, f.width) != 0;
}

bool GroupDiffers(FieldGroup group, const ParameterBlock& a, const ParameterBlock& b) {
    for (const ImageField& f : ImageFields())
        if (f.group == group && FieldDiffers(f, a, b))
            return true;
    return false;
}

std::string FieldUnit(const ImageField& f, const ParameterBlock& b) {
    if (f.kind == K::Speed)
        return StepOf(f, b).Controlled() ? "1/min" : "%";
    return f.unit;
}

std::string FieldText(const ImageField& f, const ParameterBlock& b, const ConversionContext& ctx) {
    const uint32_t raw = FieldRaw(f, b);
    const std::string unit = FieldUnit(f, b);
    auto withUnit = [&unit](std::string v) { return unit.empty() ? v : v + " " + unit; };
    switch (f.kind) {
    case K::Text:
        return "\"" + ShownLatin1(RawText(b, f)) + "\"";
    case K::Version: {
        const FirmwareVersion v = FirmwareVersionOf(b);
        const bool valid = v.allDigits;
        return "\"" + ShownLatin1(RawText(b, f)) + "\"" +
               (valid ? " (" + std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
                            std::to_string(v.third) + ")"
                      : std::string(" (no version number)"));
    }
    case K::Date:
        return CalDateIso(raw);
    case K::Integer:
        return withUnit(std::to_string(raw));
    case K::Fixed:
        return withUnit(FormatFixed(Scaled(f, raw), f.decimals));
    case K::Switch:
        if (!*f.sense)
            return std::to_string(raw);
        return std::to_string(raw) + " (" + f.sense + ": " +
               YesNo(SwitchOn(f, raw) != f.senseInverted) + ")";
    case K::Flags: {
        std::string s = HexNumber(raw, 2) + " (";
        for (size_t i = 0; i < f.bits.size(); ++i)
            s += std::string(i ? ", " : "") + f.bits[i].label + ": " + YesNo(raw & f.bits[i].bit);
        return s + ")";
    }
    case K::Bytes:
        return Hex(b.bytes.data() + f.offset, f.width, true);
    case K::Direction: {
        const char* name = DirectionName(raw);
        return std::to_string(raw) + (name ? std::string(" (") + name + ")" : std::string());
    }
    case K::Speed:
        return withUnit(std::to_string(
            SpeedToDisplay(ctx, static_cast<uint16_t>(raw), StepOf(f, b).Controlled() != 0)));
    case K::Ramp:
        return withUnit(RampText(static_cast<uint8_t>(raw)));
    case K::Condition: {
        const char* name = ConditionName(raw);
        return HexNumber(raw, 2) + " (" + (name ? name : "unbekannt") + ")";
    }
    case K::WaitRestart:
        return YesNo(raw != 0);
    case K::NextStep:
        return raw == kNextStepLast ? "last" : std::to_string(raw);
    case K::Angle:
        return withUnit(std::to_string(AngleToDisplay(ctx, raw)));
    case K::Time:
        return withUnit(std::to_string(TimeToDisplay(static_cast<uint16_t>(raw))));
    case K::Threshold:
        return std::to_string(ThresholdToDisplay(static_cast<uint16_t>(raw)));
    case K::Current:
        return withUnit(FormatFixed(CurrentToDisplay(static_cast<uint16_t>(raw)), 2));
    case K::ErrorMask: {
        std::string names;
        for (const std::string& n : CriteriaNames(raw))
            names += (names.empty() ? "" : ", ") + n;
        return HexNumber(raw, 4) + " (" + (names.empty() ? "none" : names) + ")";
    }
    }
    return std::to_string(raw);
}

nlohmann::json FieldJson(const ImageField& f, const ParameterBlock& b,
                         const ConversionContext& ctx) {
    using nlohmann::json;
    if (f.kind == K::Text || f.kind == K::Version)
        return Latin1ToUtf8(RawText(b, f));
    const uint32_t raw = FieldRaw(f, b);
    json value;
    switch (f.kind) {
    case K::Text:
    case K::Version:
        break;
    case K::Date:
        if (raw != 0) {
            const CalendarDateTime t = CalDateToDateTime(raw);
            char buf[48];
            std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02u:%02u", t.year, t.month, t.day,
                          t.hour, t.minute);
            value = buf;
        }
        break;
    case K::Integer:
        value = raw;
        break;
    case K::Fixed:
        value = Scaled(f, raw);
        break;
    case K::Switch:
        value = SwitchOn(f, raw);
        break;
    case K::Flags:
        value = json::object();
        for (const FieldBit& bit : f.bits)
            value[bit.name] = (raw & bit.bit) != 0;
        break;
    case K::Bytes: {
        std::string hex = Hex(b.bytes.data() + f.offset, f.width, false);
        for (char& c : hex)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return {{"value", hex}};
    }
    case K::Direction:
        if (const char* name = DirectionName(raw))
            value = name;
        break;
    case K::Speed:
        value = SpeedToDisplay(ctx, static_cast<uint16_t>(raw), StepOf(f, b).Controlled() != 0);
        break;
    case K::Ramp:
        value = RampToDisplay(static_cast<uint8_t>(raw));
        break;
    case K::Condition:
        if (const char* name = ConditionName(raw))
            value = name;
        break;
    case K::WaitRestart:
        value = raw != 0;
        break;
    case K::NextStep:
        if (raw != kNextStepLast)
            value = raw;
        break;
    case K::Angle:
        value = AngleToDisplay(ctx, raw);
        break;
    case K::Time:
        value = TimeToDisplay(static_cast<uint16_t>(raw));
        break;
    case K::Threshold:
        value = ThresholdToDisplay(static_cast<uint16_t>(raw));
        break;
    case K::Current:
        value = CurrentToDisplay(static_cast<uint16_t>(raw));
        break;
    case K::ErrorMask:
        value = CriteriaNames(raw);
        break;
    }
    json j{{"value", value}, {"raw", raw}};
    const std::string unit = FieldUnit(f, b);
    if (!unit.empty())
        j["unit"] = unit;
    return j;
}

std::string FieldCaption(const ImageField& f, const Translator& translate) {
    std::string s;
    auto part = [&s](const std::string& text) { s += (s.empty() ? "" : " › ") + text; };
    if (f.step >= 0) {
        const size_t step = static_cast<size_t>(f.step);
        part(translate(step < P::kStepsPerSet ? "Parametersatz 1" : "Parametersatz 2"));
        part(translate("Programmschritt") + " " + std::to_string(step % P::kStepsPerSet + 1));
    }
    for (const char* c : f.caption)
        part(translate(c));
    return s;
}

namespace {

void AppendEscape(std::string& out, unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", value & 0xFF);
    out += buf;
}

} // namespace

std::string ShownText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t n = Utf8SequenceLength(s, i);
        if (n == 0) {
            AppendEscape(out, c);
            ++i;
        } else if (n == 1 && (c < 0x20 || c == 0x7F || c == '"' || c == '\\')) {
            AppendEscape(out, c);
            ++i;
        } else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0) {
            AppendEscape(out, static_cast<unsigned char>(s[i + 1])); // C1: U+0080..U+009F
            i += 2;
        } else {
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string ShownLatin1(std::string_view bytes) {
    return ShownText(Latin1ToUtf8(bytes));
}

std::string JsonText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const size_t n = Utf8SequenceLength(s, i);
        if (n == 0) {
            out += Latin1ToUtf8(s.substr(i, 1));
            ++i;
        } else {
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string DumpJson(const nlohmann::json& value) {
    const std::string text = value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    // Outside strings JSON is printable ASCII, so DEL and C2 80..C2 9F can only be characters of
    // a string.
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c == 0x7F) {
            out += "\\u007f";
        } else if (c == 0xC2 && next >= 0x80 && next < 0xA0) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(next));
            out += buf;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}
