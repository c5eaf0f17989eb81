#include "base/CalendarDate.h"
#include "pages/MaintenanceModel.h"

#include <cstdlib>
#include <gtest/gtest.h>

#include "tests/pages/PageFakes.h"

namespace {

using M = MaintenanceModel;

class MaintenanceTest : public ::testing::Test {
protected:
    MaintenanceTest() : page(host) {
        image = ParameterBlock::Default();
        page.SetView(&view);
    }
    void Open(uint32_t counter) {
        page.AttachRecord(&image);
        page.SetFasteningCounter(counter);
        page.SetReadOnly(false);
        page.CreateWindow();
    }
    static void UseZone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    static std::time_t Local(int y, int mo, int d, int h, int mi, int s) {
        std::tm t{};
        t.tm_year = y - 1900;
        t.tm_mon = mo - 1;
        t.tm_mday = d;
        t.tm_hour = h;
        t.tm_min = mi;
        t.tm_sec = s;
        t.tm_isdst = -1;
        return std::mktime(&t);
    }

    FakeHost host;
    FakeView view;
    M page;
    ParameterBlock image;
};

TEST_F(MaintenanceTest, FasteningsSinceServiceNeverNegative) {
    image.SetServiceResetCounter(1500);
    Open(1200);
    EXPECT_EQ(page.V().counter, 1200);
    EXPECT_EQ(page.V().sinceService, 0);
    image.SetServiceResetCounter(1000);
    page.LoadFromRecord();
    EXPECT_EQ(page.V().sinceService, 200);
}

TEST_F(MaintenanceTest, ResetTakesTheCounterAtTheNextStore) {
    image.SetServiceResetCounter(100);
    Open(1200);
    page.OnResetClicked();
    EXPECT_EQ(page.V().sinceService, 0);
    EXPECT_EQ(host.changed, 1);
    EXPECT_EQ(image.ServiceResetCounter(), 100u);
    EXPECT_TRUE(page.LeavePage());
    EXPECT_EQ(image.ServiceResetCounter(), 1200u);
}

TEST_F(MaintenanceTest, CalibrationDateText) {
    UseZone("Europe/Berlin");
    EXPECT_EQ(M::DateText(1440), "02.01.2000  00:00");
    EXPECT_EQ(M::DateText(1440 + 13 * 60 + 5), "02.01.2000  13:05");
    EXPECT_EQ(M::DateText(0), "");
}

TEST_F(MaintenanceTest, SetWritesWholeMinutesAtOnce) {
    UseZone("UTC");
    Open(0);
    page.OnSetClicked(Local(2024, 3, 15, 10, 30, 59));
    EXPECT_EQ(image.CalDate(), 8840u * 1440 + 10 * 60 + 30);
    EXPECT_EQ(page.V().calDate, "15.03.2024  10:30");
    EXPECT_EQ(host.changed, 1);
}

TEST_F(MaintenanceTest, SetAndShowAgreeAcrossDaylightSaving) {
    UseZone("Europe/Berlin");
    Open(0);
    page.OnSetClicked(Local(2024, 7, 1, 10, 30, 0));
    EXPECT_EQ(page.V().calDate, "01.07.2024  10:30");
    EXPECT_EQ(M::DateText(image.CalDate()), "01.07.2024  10:30");
    // Stored as the calendar counts it, as the report and kelvane-cli read it: a summer day's
    // midnight is 00:00, not 01:00.
    EXPECT_EQ(image.CalDate(), CalDateFromDateTime({2024, 7, 1, 10, 30}));
    EXPECT_EQ(M::DateText(CalDateFromDateTime({2024, 7, 1, 0, 0})), "01.07.2024  00:00");
}

TEST_F(MaintenanceTest, TorqueAboveTheMaximumIsRefused) {
    Open(0);
    page.OnTorqueChanged(700);
    page.OnTorqueFocusOut();
    EXPECT_DOUBLE_EQ(page.V().torque, 655);
    ASSERT_EQ(view.alarms.size(), 1u);
    EXPECT_EQ(view.alarms[0], M::kTorque);
    page.OnTorqueChanged(700);
    EXPECT_FALSE(page.LeavePage());
    EXPECT_TRUE(page.LeavePage());
    EXPECT_EQ(image.Torque(), 65500);
    page.OnTorqueChanged(12.34);
    page.StoreToRecord();
    EXPECT_EQ(image.Torque(), 1234);
    EXPECT_TRUE(view.notices.empty()) << "a bound is said by the beep";
    page.OnTorqueChanged(12.345);
    page.OnTorqueFocusOut();
    ASSERT_EQ(view.notices.size(), 1u);
    EXPECT_EQ(view.notices[0].second, "nächster speicherbarer Wert: 12.34 Nm");
}

TEST_F(MaintenanceTest, TextsStoredWithZeroPadding) {
    Open(0);
    page.OnCalNameChanged("Maier");
    page.OnPlaceChanged("Halle 12");
    page.StoreToRecord();
    const uint8_t name[8] = {'M', 'a', 'i', 'e', 'r', 0, 0, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(image.bytes[ParameterBlock::kOffCalName + i], name[i]);
    EXPECT_EQ(image.Place(), "Halle 12");
}

TEST_F(MaintenanceTest, ReadOnlyLocksTheEditableControls) {
    Open(0);
    page.SetReadOnly(true);
    for (int id : {M::kServiceDue, M::kReset, M::kSet, M::kCalName, M::kTorque, M::kPlace})
        EXPECT_FALSE(page.IsEnabled(id)) << id;
    page.SetReadOnly(false);
    EXPECT_TRUE(page.IsEnabled(M::kReset));
    EXPECT_FALSE(page.IsEnabled(M::kCounter));
}

} // namespace
