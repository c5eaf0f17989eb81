#include "model/MachineCatalog.h"

#include <charconv>
#include <cmath>
#include <string>

#include "model/ParameterBlock.h"

namespace {

constexpr const char* kSectionMotor = "MOTOR";
constexpr const char* kSectionClutch = "KUPPLUNG";
constexpr const char* kSectionBattery = "AKKU";
constexpr const char* kSectionGear = "GETRIEBE";
constexpr const char* kSectionAngleHead = "WINKELKOPF";
// Asked for with the trailing blank, as always; names match without regard to blanks.
constexpr const char* kKeyMinThreshold = "min_Schwelle ";
constexpr const char* kKeyMaxThreshold = "max_Schwelle ";
constexpr const char* kKeyClutchMaxSpeed = "MAX_DREHZAHL_KUPPLUNG ";

constexpr size_t kMaxEntryLine = 255; // characters of an entry line that are read

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Cut to at most n UTF-8 characters.
std::string_view CutCharacters(std::string_view s, size_t n) {
    size_t count = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (count == n)
                return s.substr(0, i);
            ++count;
        }
    }
    return s;
}

// A small scanner with the rules of "%d %s %lf": blanks skipped before each field, numbers
// read as far as they go. Independent of the locale, so "." is always the decimal point.
class Scanner {
public:
    explicit Scanner(std::string_view s) : s_(s) {}

    bool Int(long long& v) {
        SkipSpace();
        size_t start = pos_;
        bool neg = false;
        if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-'))
            neg = s_[pos_++] == '-';
        size_t digits = pos_;
        long long n = 0;
        bool overflow = false;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
            if (n > 1'000'000'000'000LL)
                overflow = true;
            else
                n = n * 10 + (s_[pos_] - '0');
            ++pos_;
        }
        if (pos_ == digits) {
            pos_ = start;
            return false;
        }
        v = overflow ? (neg ? -1 : 1) * 1'000'000'000'000LL : (neg ? -n : n);
        return true;
    }

    bool Word(std::string& w) {
        SkipSpace();
        size_t start = pos_;
        while (pos_ < s_.size() && !IsSpace(s_[pos_]))
            ++pos_;
        if (pos_ == start)
            return false;
        w = std::string(s_.substr(start, pos_ - start));
        return true;
    }

    bool Real(double& v) {
        SkipSpace();
        size_t at = pos_;
        if (at < s_.size() && s_[at] == '+')
            ++at;
        if (at < s_.size() && s_[at] == '+')
            return false;
        auto res = std::from_chars(s_.data() + at, s_.data() + s_.size(), v);
        if (res.ec == std::errc::invalid_argument)
            return false;
        pos_ = static_cast<size_t>(res.ptr - s_.data());
        return true;
    }

private:
    void SkipSpace() {
        while (pos_ < s_.size() && IsSpace(s_[pos_]))
            ++pos_;
    }

    std::string_view s_;
    size_t pos_ = 0;
};

} // namespace

EntryLineResult ParseEntryLine(std::string_view value, TransmissionEntry& out) {
    Scanner scan(CutCharacters(value, kMaxEntryLine));
    long long id = 0;
    std::string name;
    double ratio = 0;
    double more = 0;
    if (!scan.Int(id) || !scan.Word(name) || !scan.Real(ratio))
        return EntryLineResult::Malformed;
    if (scan.Real(more)) // four or five fields: not the line we know
        return EntryLineResult::Malformed;
    if (id < 0 || id > 65535 || !std::isfinite(ratio) || ratio <= 0)
        return EntryLineResult::Malformed;
    out.id = static_cast<uint16_t>(id);
    out.name = std::string(CutCharacters(name, TransmissionEntry::kMaxNameLength));
    out.ratio = ratio;
    out.extra1 = 0;
    out.extra2 = 0;
    return EntryLineResult::Ok;
}

MachineCatalog::MachineCatalog() {
    gearTable[1] = {1, "1:18,2", 18.2};
    gearTable[2] = {2, "1:23,9", 23.9};
    gearTable[3] = {3, "1:32,0", 32.0};
    gearTable[4] = {4, "1:39,7", 39.7};
    angleHeadTable[0] = {0, "", 1.0};
    angleHeadTable[1] = {1, "1:1,41", 1.41};
}

std::string MachineCatalog::MinSpeedKey(std::string_view modelCode) {
    return "MINDREHZAHL_" + std::string(modelCode);
}

std::string MachineCatalog::BatteryKey(std::string_view modelCode, int voltage) {
    // "%.d": a voltage of 0 prints no digits at all.
    return std::string(modelCode) + "_" + (voltage == 0 ? std::string() : std::to_string(voltage));
}

std::string MachineCatalog::GearKey(int n) {
    return "GETRIEBE_" + std::to_string(n);
}

std::string MachineCatalog::AngleHeadKey(int n) {
    return "WINKELKOPF_" + std::to_string(n);
}

void MachineCatalog::ReadMotorAndClutch(const IniFile& ini, std::string_view modelCode) {
    minSpeed = ini.GetInt(kSectionMotor, MinSpeedKey(modelCode), 30);
    minThreshold = ini.GetInt(kSectionMotor, kKeyMinThreshold, minThreshold);
    maxThreshold = ini.GetInt(kSectionMotor, kKeyMaxThreshold, maxThreshold);
    clutchMaxSpeed = ini.GetInt(kSectionClutch, kKeyClutchMaxSpeed, batteryMaxSpeed);
}

int MachineCatalog::LoadCatalog(const IniFile& ini, std::string_view modelCode) {
    ReadMotorAndClutch(ini, modelCode);
    for (int n = 1; n <= kMaxGearbox; ++n) {
        TransmissionEntry e;
        auto v = ini.Find(kSectionGear, GearKey(n));
        if (v && ParseEntryLine(*v, e) == EntryLineResult::Ok)
            gearTable[n] = e;
    }
    for (int n = 1; n <= kMaxAngleHead; ++n) {
        TransmissionEntry e;
        auto v = ini.Find(kSectionAngleHead, AngleHeadKey(n));
        if (v && ParseEntryLine(*v, e) == EntryLineResult::Ok)
            angleHeadTable[n] = e;
    }
    return 0;
}

int MachineCatalog::LoadCatalog(const std::string& path, const ParameterBlock& block) {
    IniFile ini;
    ini.Load(path); // a missing catalog leaves every default
    return LoadCatalog(ini, block.ModelCode());
}

int MachineCatalog::LoadBattery(const IniFile& ini, std::string_view modelCode, int batteryVoltage,
                                std::string* message) {
    batteryMaxSpeed = ini.GetInt(kSectionBattery, BatteryKey(modelCode, batteryVoltage), -1);
    if (batteryMaxSpeed == -1 && message)
        *message = "Akku ist nicht definiert";
    pageBatteryMaxSpeed = batteryMaxSpeed;
    pageMinSpeed = minSpeed;
    return 0;
}

int MachineCatalog::LoadBattery(const std::string& path, const ParameterBlock& block,
                                int batteryVoltage, std::string* message) {
    IniFile ini;
    ini.Load(path);
    return LoadBattery(ini, block.ModelCode(), batteryVoltage, message);
}

int MachineCatalog::LookupTransmission(const IniFile& ini, std::string_view modelCode,
                                       int gearboxId, int angleHeadId, TransmissionEntry& out,
                                       std::string* message) {
    // Start from an empty entry: after a failure no name of an earlier machine may remain.
    out = TransmissionEntry{};
    out.ratio = 1.0;
    ReadMotorAndClutch(ini, modelCode);

    auto gear = ini.Find(kSectionGear, GearKey(gearboxId));
    if (!gear) {
        if (message)
            *message = "Getriebe ist nicht definiert";
        return -1;
    }
    TransmissionEntry g;
    if (ParseEntryLine(*gear, g) != EntryLineResult::Ok) {
        if (message)
            *message = "Getriebe: Parameter fehlerhaft";
        return -2;
    }
    out = g;
    if (angleHeadId == 0)
        return 0;

    auto head = ini.Find(kSectionAngleHead, AngleHeadKey(angleHeadId));
    if (!head) {
        if (message)
            *message = "Winkelkopf ist nicht definiert";
        return -1;
    }
    TransmissionEntry a;
    if (ParseEntryLine(*head, a) != EntryLineResult::Ok) {
        if (message)
            *message = "Winkelkopf: Parameter fehlerhaft";
        return -2;
    }
    out.ratio *= a.ratio;
    return 0;
}

int MachineCatalog::LookupTransmission(const std::string& path, const ParameterBlock& block,
                                       int gearboxId, int angleHeadId, TransmissionEntry& out,
                                       std::string* message) {
    IniFile ini;
    ini.Load(path);
    return LookupTransmission(ini, block.ModelCode(), gearboxId, angleHeadId, out, message);
}

int MachineCatalog::LookupTransmission(const std::string& path, const ParameterBlock& block,
                                       std::string* message) {
    return LookupTransmission(path, block, block.Transmission(), block.AngleHead(),
                              activeTransmission, message);
}

const TransmissionEntry* MachineCatalog::Gear(int id) const {
    if (id < 1 || id > kMaxGearbox)
        return nullptr;
    return &gearTable[static_cast<size_t>(id)];
}

const TransmissionEntry* MachineCatalog::AngleHeadEntry(int id) const {
    if (id < 0 || id > kMaxAngleHead)
        return nullptr;
    return &angleHeadTable[static_cast<size_t>(id)];
}
