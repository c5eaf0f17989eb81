#include "fleet/DueDates.h"

#include "base/CalendarDate.h"
#include "model/IniFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <system_error>

ServiceState ServiceDue(std::optional<uint32_t> counter, uint32_t due, uint32_t reset,
                        const DueSettings& settings) {
    if (!counter || due == 0)
        return ServiceState::Unknown;
    if (*counter >= due)
        return ServiceState::Due;
    // The interval the mark was set for: from the last reset up to the mark.
    const uint32_t interval = due > reset ? due - reset : 0;
    const double margin = std::ceil(double(interval) * std::max(0.0, settings.serviceMargin));
    return double(due - *counter) <= margin ? ServiceState::Soon : ServiceState::Ok;
}

uint32_t CalibrationDueLimit(std::time_t now, const DueSettings& settings) {
    std::tm t{};
    localtime_r(&now, &t);
    // The same local date and time the interval's months ago (a day past the month's end
    // rolls over into the next month).
    const int64_t month = int64_t(t.tm_year + 1900) * 12 + t.tm_mon - settings.calibrationMonths;
    return CalDateFromDateTime({int(month / 12), unsigned(month % 12 + 1), unsigned(t.tm_mday),
                                unsigned(t.tm_hour), unsigned(t.tm_min)});
}

CalibrationState CalibrationDue(uint32_t calDate, std::time_t now, const DueSettings& settings) {
    return CalibrationDue(calDate, CalibrationDueLimit(now, settings));
}

std::optional<uint32_t> FirmwareRank(const std::string& v) {
    // Letter, two digits, separator, two digits, separator, three digits.
    if (v.size() < 10)
        return std::nullopt;
    auto digits = [&](size_t at, size_t n) -> int {
        int x = 0;
        for (size_t i = at; i < at + n; ++i) {
            if (v[i] < '0' || v[i] > '9')
                return -1;
            x = x * 10 + (v[i] - '0');
        }
        return x;
    };
    const int major = digits(1, 2), minor = digits(4, 2), third = digits(7, 3);
    if (major < 0 || minor < 0 || third < 0)
        return std::nullopt;
    return uint32_t(major) * 1000000u + uint32_t(minor) * 1000u + uint32_t(third);
}

std::string NewestShippedFirmware(const std::filesystem::path& folder,
                                  const std::string& machineType) {
    std::string newest;
    std::optional<uint32_t> rank;
    std::error_code ec;
    const std::string prefix = machineType + "_";
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
            it->path().extension() != ".bin")
            continue;
        const std::string version = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        auto r = FirmwareRank(version);
        if (r && (!rank || *r > *rank)) {
            rank = r;
            newest = version;
        }
    }
    return newest;
}

bool FirmwareOlder(const std::string& swVersion, const std::string& newest) {
    auto have = FirmwareRank(swVersion), best = FirmwareRank(newest);
    return have && best && *have < *best;
}

const char* ServiceStateName(ServiceState s) {
    switch (s) {
    case ServiceState::Ok:
        return "ok";
    case ServiceState::Soon:
        return "soon";
    case ServiceState::Due:
        return "due";
    default:
        return "unknown";
    }
}

DueSettings LoadDueSettings(const std::filesystem::path& settingsFile) {
    DueSettings s;
    IniFile ini;
    if (settingsFile.empty() || !ini.Load(settingsFile.string()))
        return s;
    const double margin = ini.GetDouble("FLEET", "SERVICE_MARGIN", 5.0);
    if (margin >= 0 && margin <= 100)
        s.serviceMargin = margin / 100.0;
    const int months = ini.GetInt("FLEET", "CALIBRATION_MONTHS", 12);
    if (months >= 1 && months <= 120)
        s.calibrationMonths = months;
    return s;
}
