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

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (month 1..12, day may run over).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

} // namespace

uint32_t CalibrationDueLimit(std::time_t now, const DueSettings& settings) {
    std::tm t{};
    localtime_r(&now, &t);
    // The same local date and time the interval's months ago, counted as calDate counts.
    int64_t month = int64_t(t.tm_year + 1900) * 12 + t.tm_mon - settings.calibrationMonths;
    const int64_t y = month / 12, m = month % 12 + 1;
    const int64_t minutes = (DaysFromCivil(y, m, t.tm_mday) - DaysFromCivil(2000, 1, 1)) * 1440 +
                            t.tm_hour * 60 + t.tm_min;
    return minutes <= 0 ? 0 : uint32_t(std::min<int64_t>(minutes, UINT32_MAX));
}

CalibrationState CalibrationDue(uint32_t calDate, std::time_t now, const DueSettings& settings) {
    return CalibrationDue(calDate, CalibrationDueLimit(now, settings));
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
