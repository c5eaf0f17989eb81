// calDate of the parameter image: whole minutes since 1 January 2000 00:00 local time, counted
// on the calendar, so a day is always 1440 minutes and a whole number of days is midnight,
// whatever daylight saving did in between. 0 means no date.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

struct CalendarDateTime {
    int year = 2000;
    unsigned month = 1; // 1..12
    unsigned day = 1;   // 1..31
    unsigned hour = 0;
    unsigned minute = 0;
    bool operator==(const CalendarDateTime&) const = default;
};

// The local date and time a calDate names (year 10166 at most: no overflow).
CalendarDateTime CalDateToDateTime(uint32_t calDate);
// The calDate of a local date and time: 0 up to 1 January 2000 00:00, 0xFFFFFFFF beyond.
uint32_t CalDateFromDateTime(const CalendarDateTime& when);
// The calDate of a moment by the local time (TZ) at that moment; its seconds are cut.
uint32_t CalDateFromTime(std::time_t when);

// "dd.mm.yyyy  hh:mm", as the maintenance page and the report show it; "" for 0.
std::string CalDateText(uint32_t calDate);
// "yyyy-mm-dd hh:mm", as kelvane-cli lists it; "-" for 0.
std::string CalDateIso(uint32_t calDate);
