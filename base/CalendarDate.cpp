#include "base/CalendarDate.h"

#include <chrono>
#include <cstdio>

namespace {

using namespace std::chrono;

constexpr int64_t kMinutesPerDay = 1440;

sys_days Base() {
    return sys_days(year(2000) / January / 1);
}

} // namespace

CalendarDateTime CalDateToDateTime(uint32_t calDate) {
    const year_month_day ymd(Base() + days(calDate / kMinutesPerDay));
    const uint32_t rest = calDate % kMinutesPerDay;
    return {static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
            static_cast<unsigned>(ymd.day()), rest / 60, rest % 60};
}

uint32_t CalDateFromDateTime(const CalendarDateTime& when) {
    // Day overflow rolls over as mktime would (31 April is 1 May).
    const sys_days day =
        sys_days(year(when.year) / month(when.month) / 1) + days(static_cast<int>(when.day) - 1);
    const int64_t minutes = (day - Base()).count() * kMinutesPerDay +
                            static_cast<int64_t>(when.hour) * 60 + when.minute;
    if (minutes <= 0)
        return 0;
    return minutes >= 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(minutes);
}

uint32_t CalDateFromTime(std::time_t when) {
    std::tm local{};
    if (!localtime_r(&when, &local))
        return 0;
    return CalDateFromDateTime({local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                                static_cast<unsigned>(local.tm_mday),
                                static_cast<unsigned>(local.tm_hour),
                                static_cast<unsigned>(local.tm_min)});
}

std::string CalDateText(uint32_t calDate) {
    if (calDate == 0)
        return {};
    const CalendarDateTime t = CalDateToDateTime(calDate);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02u.%02u.%04d  %02u:%02u", t.day, t.month, t.year, t.hour,
                  t.minute);
    return buf;
}

std::string CalDateIso(uint32_t calDate) {
    if (calDate == 0)
        return "-";
    const CalendarDateTime t = CalDateToDateTime(calDate);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u", t.year, t.month, t.day, t.hour,
                  t.minute);
    return buf;
}
