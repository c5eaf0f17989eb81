// Due dates: service by the fastening counter, calibration by calDate in local time, firmware
// against the newest shipped file.
#include "base/CalendarDate.h"
#include "fleet/DueDates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace {

using namespace std::chrono;

// Minutes since 1 January 2000 00:00 on the calendar, as the maintenance page counts them.
uint32_t CalMinutes(year_month_day d, int hour, int minute) {
    const auto days = (sys_days(d) - sys_days(year(2000) / January / 1)).count();
    return uint32_t(days * 1440 + hour * 60 + minute);
}

std::time_t Local(int y, int mo, int d, int h, int mi) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

class LocalZone : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        const char* old = std::getenv("TZ");
        saved = old ? old : "";
        hadTz = old != nullptr;
        ::setenv("TZ", GetParam(), 1);
        ::tzset();
    }
    void TearDown() override {
        hadTz ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }
    std::string saved;
    bool hadTz = false;
};

TEST(DueDates, ServiceByCounterAgainstTheMark) {
    struct Case {
        std::optional<uint32_t> counter;
        uint32_t due, reset;
        double margin;
        ServiceState want;
    };
    const Case cases[] = {
        {900, 1000, 0, 0.05, ServiceState::Ok},   // 100 left, margin 50
        {950, 1000, 0, 0.05, ServiceState::Soon}, // exactly the margin
        {999, 1000, 0, 0.05, ServiceState::Soon},
        {1000, 1000, 0, 0.05, ServiceState::Due}, // at the mark
        {1500, 1000, 0, 0.05, ServiceState::Due}, // above it
        {989, 1000, 800, 0.05, ServiceState::Ok}, // interval 200 since the reset: margin 10
        {990, 1000, 800, 0.05, ServiceState::Soon},
        {999, 1000, 0, 0.0, ServiceState::Ok},     // no margin
        {700, 1000, 0, 0.5, ServiceState::Soon},   // a margin from the settings
        {995, 1000, 1200, 0.05, ServiceState::Ok}, // reset above the mark: no interval
        {std::nullopt, 1000, 0, 0.05, ServiceState::Unknown},
        {5, 0, 0, 0.05, ServiceState::Unknown}, // no mark set
    };
    for (const auto& c : cases) {
        DueSettings s;
        s.serviceMargin = c.margin;
        EXPECT_EQ(ServiceDue(c.counter, c.due, c.reset, s), c.want)
            << "counter " << c.counter.value_or(0) << " due " << c.due << " reset " << c.reset;
    }
}

TEST_P(LocalZone, CalibrationDateIsLocalTimeAndDueAfterTheInterval) {
    // Winter and summer: the minutes count local wall-clock time, whatever the offset, so the
    // interval ends at the same wall-clock minute in every zone.
    const uint32_t winter = CalMinutes(year(2024) / March / 15, 10, 30);
    const uint32_t summer = CalMinutes(year(2024) / July / 1, 12, 0);

    DueSettings twelve, six;
    six.calibrationMonths = 6;
    struct Case {
        uint32_t calDate;
        std::time_t now;
        const DueSettings& settings;
        CalibrationState want;
    };
    const Case cases[] = {
        {0, Local(2024, 3, 16, 0, 0), twelve, CalibrationState::Due}, // never calibrated
        {winter, Local(2024, 6, 1, 8, 0), twelve, CalibrationState::Ok},
        {winter, Local(2025, 3, 15, 10, 29), twelve, CalibrationState::Ok},
        {winter, Local(2025, 3, 15, 10, 30), twelve, CalibrationState::Due}, // just over
        {winter, Local(2024, 9, 15, 10, 29), six, CalibrationState::Ok},
        {winter, Local(2024, 9, 15, 10, 31), six, CalibrationState::Due},
        {summer, Local(2025, 7, 1, 11, 59), twelve, CalibrationState::Ok},
        {summer, Local(2025, 7, 1, 12, 0), twelve, CalibrationState::Due},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CalibrationDue(c.calDate, c.now, c.settings), c.want)
            << CalDateIso(c.calDate) << " at " << c.now;
}

INSTANTIATE_TEST_SUITE_P(Zones, LocalZone,
                         ::testing::Values("Europe/Berlin", "America/New_York", "UTC"));

TEST(DueDates, FirmwareOlderThanTheNewestShippedFile) {
    char tmpl[] = "/tmp/kelvane-fw-XXXXXX";
    ASSERT_TRUE(::mkdtemp(tmpl));
    const std::filesystem::path dir = tmpl;
    for (const char* name :
         {"TVX18-4200_V04.03.000.bin", "TVX18-4200_V04.10.001.bin", "TVX18-4200_V05.xx.000.bin",
          "TVX18-4200_V09.00.000.hex", "TVX10-2200_V09.00.000.bin"})
        std::ofstream(dir / name) << "x";
    EXPECT_EQ(NewestShippedFirmware(dir, "TVX18-4200"), "V04.10.001");
    EXPECT_EQ(NewestShippedFirmware(dir, "TVX14-1000"), "");
    EXPECT_EQ(NewestShippedFirmware(dir / "missing", "TVX18-4200"), "");
    std::filesystem::remove_all(dir);

    EXPECT_TRUE(FirmwareOlder("V04.02.005", "V04.03.000"));
    EXPECT_TRUE(FirmwareOlder("V03.99.999", "V04.00.000"));
    EXPECT_FALSE(FirmwareOlder("V04.03.000", "V04.03.000"));
    EXPECT_FALSE(FirmwareOlder("V04.10.000", "V04.03.000"));
    EXPECT_FALSE(FirmwareOlder("broken", "V04.03.000"));
    EXPECT_FALSE(FirmwareOlder("V04.02.005", ""));
}

} // namespace
