#include "fleet/DueDates.h"

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

namespace {

// 1 January 2000 00:00 local time plus days, hours, minutes and extra months, with daylight
// saving decided by the platform (as the maintenance page shows the date).
std::time_t LocalFromBase(uint32_t calDate, int extraMonths) {
    std::tm t{};
    t.tm_year = 100 + extraMonths / 12;
    t.tm_mon = extraMonths % 12;
    t.tm_mday = 1 + int(calDate / 1440);
    t.tm_hour = int(calDate % 1440 / 60);
    t.tm_min = int(calDate % 60);
    t.tm_isdst = -1;
    return std::mktime(&t);
}

} // namespace

std::optional<std::time_t> CalDateTime(uint32_t calDate) {
    if (!calDate)
        return std::nullopt;
    return LocalFromBase(calDate, 0);
}

std::optional<std::time_t> CalibrationDueTime(uint32_t calDate, const DueSettings& settings) {
    if (!calDate)
        return std::nullopt;
    // The months go onto the calendar date itself: 15 March is due again on 15 March.
    auto when = CalDateTime(calDate);
    std::tm t{};
    localtime_r(&*when, &t);
    t.tm_year += settings.calibrationMonths / 12;
    t.tm_mon += settings.calibrationMonths % 12;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

CalibrationState CalibrationDue(uint32_t calDate, std::time_t now, const DueSettings& settings) {
    auto due = CalibrationDueTime(calDate, settings);
    return !due || now >= *due ? CalibrationState::Due : CalibrationState::Ok;
}

std::string CalDateText(uint32_t calDate) {
    auto when = CalDateTime(calDate);
    if (!when)
        return "";
    std::tm t{};
    localtime_r(&*when, &t);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &t);
    return buf;
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
