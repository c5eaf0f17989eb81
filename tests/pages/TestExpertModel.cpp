#include "pages/ExpertModel.h"

#include <gtest/gtest.h>

#include "tests/pages/PageFakes.h"

namespace {

using E = ExpertModel;

class ExpertTest : public ::testing::Test {
protected:
    ExpertTest() : page(host) {
        image = ParameterBlock::Default();
        page.SetView(&view);
    }
    void Open(bool expert, bool readOnly = false) {
        page.SetReadOnly(readOnly);
        page.AttachRecord(&image);
        page.SetExpertEnabled(expert);
        page.CreateWindow();
    }

    FakeHost host;
    FakeView view;
    E page;
    ParameterBlock image;
};

TEST_F(ExpertTest, ExpertModeOffDisablesAndStoresNothingUnasked) {
    image.SetRestartLock(15);
    image.SetBuzzerLock(7);
    image.SetClutchLimitFlags(1);
    const ParameterBlock before = image;
    Open(false);
    for (int id : {E::kBuzzer, E::kUserFactor, E::kRlLock, E::kRestartIo, E::kRestartNio,
                   E::kShowErrors, E::kBatterySlider, E::kRlPermanent})
        EXPECT_FALSE(page.IsEnabled(id)) << id;
    // The factor shown is the handed-over 1.0 while the image holds 0: still not written.
    EXPECT_TRUE(page.LeavePage());
    page.StoreToRecord();
    EXPECT_EQ(image, before);
}

TEST_F(ExpertTest, ReadOnlyNeverStores) {
    const ParameterBlock before = image;
    Open(true, true);
    EXPECT_FALSE(page.IsEnabled(E::kBuzzer));
    EXPECT_FALSE(page.IsEnabled(E::kUserFactor));
    EXPECT_TRUE(page.IsEnabled(E::kShowErrors)) << "a view option, it stores nothing";
    page.OnBuzzerClicked(true);
    page.OnUserFactorChanged(2.5);
    page.StoreToRecord();
    EXPECT_EQ(image, before);
}

TEST_F(ExpertTest, UntouchedOddFactorIsNeitherCorrectedNorStored) {
    image.SetUserTransmission(5);
    page.SetUserFactor(0.05);
    Open(true);
    EXPECT_TRUE(page.LeavePage());
    page.StoreToRecord();
    EXPECT_EQ(image.UserTransmission(), 5);
}

TEST_F(ExpertTest, SliderOnlyWithBatteryDisplay) {
    Open(true);
    EXPECT_TRUE(page.IsEnabled(E::kBuzzer));
    EXPECT_FALSE(page.IsEnabled(E::kBatterySlider));
    EXPECT_FALSE(page.IsEnabled(E::kRlPermanent));
    image.SetBatteryDisplay(1);
    page.LoadFromRecord();
    EXPECT_TRUE(page.IsEnabled(E::kBatterySlider));
    page.OnBatterySliderMoved(30);
    EXPECT_EQ(image.BatteryThreshold(), 30) << "written at once";
}

TEST_F(ExpertTest, UserFactorIsKeptBetweenLimits) {
    struct Case {
        double typed;
        double corrected;
        bool beep;
        const char* said; // why a value within range shows otherwise
    };
    // Shown as the image will hold it once the field is left.
    const Case cases[] = {{0.05, 0.1, true, nullptr},
                          {150, 99, true, nullptr},
                          {1.25, 1.25, false, nullptr},
                          {1.257, 1.25, false, "nächster speicherbarer Wert: 1.25"}};
    Open(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        view.alarms.clear();
        view.notices.clear();
        page.OnUserFactorChanged(c.typed);
        page.OnUserFactorFocusOut();
        EXPECT_DOUBLE_EQ(page.V().userFactor, c.corrected);
        EXPECT_EQ(view.alarms.size(), c.beep ? 1u : 0u);
        EXPECT_EQ(view.notices.size(), c.said ? 1u : 0u);
        if (c.said && !view.notices.empty()) {
            EXPECT_EQ(view.notices[0].second, c.said);
        }
    }
    page.StoreToRecord();
    EXPECT_EQ(image.UserTransmission(), 125);
}

TEST_F(ExpertTest, RestartLocksFitTheirByte) {
    Open(true);
    page.OnRestartLockChanged(false, 2.35);
    page.OnRestartLockChanged(true, 0.29);
    page.StoreToRecord();
    EXPECT_EQ(image.RestartLock(), 23);
    EXPECT_EQ(image.RestartLockNio(), 2);
    page.OnRestartLockChanged(true, 30);
    page.OnRestartLockFocusOut(true);
    EXPECT_DOUBLE_EQ(page.V().restartNio, 25.5);
    ASSERT_EQ(view.alarms.size(), 1u);
    EXPECT_EQ(view.alarms[0], E::kRestartNio);
    page.OnRestartLockChanged(false, 40);
    EXPECT_FALSE(page.LeavePage());
    EXPECT_EQ(host.refreshes, 0);
    page.StoreToRecord();
    EXPECT_EQ(image.RestartLock(), 255);
    EXPECT_EQ(image.RestartLockNio(), 255);
}

TEST_F(ExpertTest, ClutchLimitFlagsNormalisedWhenTheBoxIsClicked) {
    struct Case {
        uint8_t before;
        int click; // -1 none, else the box's new state (checked = limit active)
        uint8_t after;
    };
    const Case cases[] = {{1, -1, 1}, {6, -1, 6}, {1, 1, 0}, {6, 0, 3}, {7, 1, 2}};
    for (const Case& c : cases) {
        image.SetClutchLimitFlags(c.before);
        Open(true);
        page.LoadFromRecord();
        if (c.click >= 0)
            page.OnClutchLimitClicked(c.click == 1);
        page.StoreToRecord();
        EXPECT_EQ(image.ClutchLimitFlags(), c.after) << int(c.before) << " " << c.click;
    }
}

TEST_F(ExpertTest, ShowErrorsGoesToTheController) {
    Open(true);
    page.OnShowErrorsClicked(true);
    ASSERT_EQ(host.errorCriteria.size(), 1u);
    EXPECT_TRUE(host.errorCriteria[0]);
    EXPECT_EQ(host.changed, 1);
}

TEST_F(ExpertTest, LeavingHandsOverTheFactorAndRefreshes) {
    page.SetUserFactor(2.0);
    Open(true);
    EXPECT_DOUBLE_EQ(page.V().userFactor, 2.0);
    page.SetUserFactor(0.001); // ignored
    EXPECT_DOUBLE_EQ(page.V().userFactor, 2.0);
    EXPECT_TRUE(page.LeavePage());
    ASSERT_EQ(host.factors.size(), 1u);
    EXPECT_DOUBLE_EQ(host.factors[0], 2.0);
    EXPECT_EQ(host.refreshes, 1);
}

TEST_F(ExpertTest, SwitchesRoundTrip) {
    image.SetModeFlags(0x80);
    image.SetBlinkNio(1);
    Open(true);
    EXPECT_TRUE(page.V().blinkNio);
    page.OnParamSet12Clicked(true);
    page.OnRlLockClicked(true);
    page.StoreToRecord();
    EXPECT_EQ(image.ModeFlags(), 0x81);
    EXPECT_EQ(image.RlLock(), 1);
    EXPECT_EQ(image.BlinkNio(), 1);
}

} // namespace
