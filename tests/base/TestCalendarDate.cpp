// calDate: minutes since 1 January 2000 00:00 local time, counted on the calendar. The page, the
// report and kelvane-cli read one value as one date, also across daylight-saving changes.
#include "base/CalendarDate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <random>
#include <string>

namespace {

class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            saved = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (saved)
            setenv("TZ", saved->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> saved;
};

std::time_t Utc(int y, int mo, int d, int h, int mi, int s = 0) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return timegm(&t);
}

uint32_t Minutes(int y, unsigned mo, unsigned d, unsigned h, unsigned mi) {
    return CalDateFromDateTime({y, mo, d, h, mi});
}

TEST(CalendarDate, TextsOfOneValue) {
    struct Case {
        uint32_t calDate;
        const char* german;
        const char* iso;
    };
    const Case cases[] = {
        {0, "", "-"},
        {1, "01.01.2000  00:01", "2000-01-01 00:01"},
        {1440, "02.01.2000  00:00", "2000-01-02 00:00"},
        {1440 + 13 * 60 + 5, "02.01.2000  13:05", "2000-01-02 13:05"},
        {1440 * 59, "29.02.2000  00:00", "2000-02-29 00:00"},
        {1440 * 366 + 61, "01.01.2001  01:01", "2001-01-01 01:01"},
        {0xFFFFFFFF, "15.02.10166  04:15", "10166-02-15 04:15"}, // no overflow
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CalDateText(c.calDate), c.german) << c.calDate;
        EXPECT_EQ(CalDateIso(c.calDate), c.iso) << c.calDate;
        if (c.calDate != 0) {
            EXPECT_EQ(CalDateFromDateTime(CalDateToDateTime(c.calDate)), c.calDate);
        }
    }
    EXPECT_EQ(Minutes(1999, 12, 31, 23, 59), 0u);
    EXPECT_EQ(Minutes(2000, 1, 1, 0, 0), 0u);
    EXPECT_EQ(Minutes(20000, 1, 1, 0, 0), 0xFFFFFFFFu);
}

// Across the changes of 2024 in Berlin: a whole number of days is midnight in summer as in
// winter, and "Set" stores the wall clock the technician reads.
TEST(CalendarDate, DaylightSavingChangesInBerlin) {
    ZoneGuard zone("Europe/Berlin");
    const uint32_t summerMidnight = Minutes(2024, 7, 1, 0, 0);
    EXPECT_EQ(summerMidnight % 1440, 0u);
    EXPECT_EQ(CalDateText(summerMidnight), "01.07.2024  00:00");

    struct Case {
        std::time_t moment;
        const char* shown;
    };
    const Case cases[] = {
        {Utc(2024, 3, 31, 0, 59, 59), "31.03.2024  01:59"}, // 01:59:59 CET
        {Utc(2024, 3, 31, 1, 0), "31.03.2024  03:00"},      // the clock jumps to 03:00 CEST
        {Utc(2024, 7, 1, 8, 30), "01.07.2024  10:30"},
        {Utc(2024, 10, 27, 0, 30), "27.10.2024  02:30"}, // 02:30 CEST
        {Utc(2024, 10, 27, 1, 30), "27.10.2024  02:30"}, // 02:30 CET, the hour again
        {Utc(2024, 12, 24, 17, 0), "24.12.2024  18:00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CalDateText(CalDateFromTime(c.moment)), c.shown) << c.shown;
    // One real minute over the spring change is 61 minutes on the wall clock.
    EXPECT_EQ(CalDateFromTime(Utc(2024, 3, 31, 1, 0)) - CalDateFromTime(Utc(2024, 3, 31, 0, 59)),
              61u);
    EXPECT_EQ(CalDateFromTime(Utc(2024, 7, 1, 8, 30)), Minutes(2024, 7, 1, 10, 30));
}

// For any value the date names gives the value back; for any moment the stored value shows the
// local wall clock of that moment, in a zone with daylight saving.
TEST(CalendarDate, RoundTripsOverManyValuesAndMoments) {
    std::mt19937 rng(24);
    std::uniform_int_distribution<uint32_t> any(1, 0xFFFFFFFF);
    for (int i = 0; i < 20000; ++i) {
        const uint32_t v = any(rng);
        ASSERT_EQ(CalDateFromDateTime(CalDateToDateTime(v)), v);
    }
    ZoneGuard zone("Europe/Berlin");
    std::uniform_int_distribution<int64_t> moment(Utc(2000, 1, 2, 0, 0), Utc(2037, 12, 31, 0, 0));
    for (int i = 0; i < 20000; ++i) {
        const std::time_t t = static_cast<std::time_t>(moment(rng));
        std::tm local{};
        ASSERT_TRUE(localtime_r(&t, &local));
        char expected[48];
        std::strftime(expected, sizeof expected, "%d.%m.%Y  %H:%M", &local);
        ASSERT_EQ(CalDateText(CalDateFromTime(t)), expected) << t;
    }
}

TEST(CalendarDate, ShownTheSameInEveryZone) {
    const uint32_t value = Minutes(2024, 7, 1, 0, 0);
    for (const char* zone : {"UTC", "Europe/Berlin", "America/New_York", "Asia/Kolkata"}) {
        ZoneGuard guard(zone);
        EXPECT_EQ(CalDateText(value), "01.07.2024  00:00") << zone;
    }
    ZoneGuard guard("UTC");
    EXPECT_EQ(CalDateFromTime(Utc(1999, 12, 31, 23, 0)), 0u);
}

} // namespace
