#include "pages/HeaderModel.h"

#include <gtest/gtest.h>

#include "tests/pages/PageFakes.h"

namespace {

class HeaderTest : public ::testing::Test {
protected:
    HeaderTest() : page(host) {
        image = ParameterBlock::Default();
        page.SetView(&view);
        gear.id = 1;
        gear.name = "1:18,2";
        gear.ratio = 18.2;
        noAngle.ratio = 1.0;
    }
    void Open() {
        page.AttachRecord(&image);
        page.SetGearEntry(&gear);
        page.SetAngleHeadEntry(&noAngle);
        page.SetBattery();
        page.SetReadOnly(false);
        page.CreateWindow();
    }

    FakeHost host;
    FakeView view;
    HeaderModel page;
    ParameterBlock image;
    TransmissionEntry gear;
    TransmissionEntry noAngle;
};

TEST_F(HeaderTest, ShowsIdentityOfTheImage) {
    image.SetMachineType("QVK18-XL");
    image.SetSerialNr("SN123");
    image.SetSwVersion("V04.01.002");
    image.SetMaxTorque(2550);
    image.SetRestartLock(23);
    Open();
    EXPECT_EQ(page.V().machineType, "QVK18-XL");
    EXPECT_EQ(page.V().serialNr, "SN123");
    EXPECT_EQ(page.V().swVersion, "V04.01.002");
    EXPECT_DOUBLE_EQ(page.V().maxTorque, 25.5);
    EXPECT_DOUBLE_EQ(page.V().restartLock, 2.3);
    EXPECT_EQ(page.V().gearName, "1:18,2");
    EXPECT_FALSE(page.IsEnabled(HeaderModel::kSerialNr));
    EXPECT_FALSE(page.IsShown(HeaderModel::kBuzzer));
    EXPECT_EQ(host.changed, 0) << "loading is no edit";
}

TEST_F(HeaderTest, MaximumOutputSpeedFromBatteryGearAndFactor) {
    struct Case {
        int batteryMax;
        double gearRatio;
        double userFactor;
        double angleRatio; // 0: no angle-head entry
        unsigned shown;
    };
    const Case cases[] = {
        {22500, 18.2, 1.0, 0, 1236},
        {22500, 18.2, 1.0, 1.0, 1236},
        // The gear entry holds the angle head already; the page applies it once more.
        {22500, 25.662, 1.0, 1.41, 621},
        {22500, 18.2, 2.0, 0, 618},
        {-1, 18.2, 1.0, 0, 0}, // battery not in the catalog
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.gearRatio);
        host.maxSpeed = c.batteryMax;
        gear.ratio = c.gearRatio;
        TransmissionEntry angle;
        angle.ratio = c.angleRatio;
        Open();
        page.SetUserFactor(c.userFactor);
        page.SetAngleHeadEntry(c.angleRatio > 0 ? &angle : nullptr);
        EXPECT_EQ(page.V().maxSpeed, c.shown);
    }
}

TEST_F(HeaderTest, BatterySelectionFollowsTheVoltage) {
    Open();
    host.voltage = 12;
    page.SetBattery();
    EXPECT_EQ(page.V().battery, 0);
    host.voltage = 16; // unknown: the selection stays
    page.SetBattery();
    EXPECT_EQ(page.V().battery, 0);
    host.voltage = 14;
    page.SetBattery();
    EXPECT_EQ(page.V().battery, 1);
}

TEST_F(HeaderTest, ReadOnlyDisablesEditingButStillStoresBack) {
    image.SetToolId("Linie 4");
    image.SetBuzzerLock(1);
    page.AttachRecord(&image);
    page.SetBattery();
    page.CreateWindow(); // read-only from the start
    EXPECT_FALSE(page.IsEnabled(HeaderModel::kToolId));
    EXPECT_FALSE(page.IsEnabled(HeaderModel::kBattery));
    const ParameterBlock before = image;
    page.StoreToRecord();
    EXPECT_EQ(image, before);
}

TEST_F(HeaderTest, ToolIdIsStoredWithZeroPadding) {
    Open();
    page.OnToolIdChanged("Station 9");
    EXPECT_EQ(host.changed, 1);
    page.StoreToRecord();
    const uint8_t expected[15] = {'S', 't', 'a', 't', 'i', 'o', 'n', ' ', '9', 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(image.bytes[ParameterBlock::kOffToolId + i], expected[i]) << i;
}

TEST_F(HeaderTest, StaleHiddenSwitchesDoNotOverwriteTheExpertPage) {
    Open();
    image.SetBuzzerLock(1); // the expert page stored a new buzzer setting meanwhile
    page.StoreToRecord();
    EXPECT_EQ(image.BuzzerLock(), 1);
}

TEST_F(HeaderTest, BatteryChangeAskedAndAccepted) {
    host.voltage = 18;
    Open();
    page.SetUserFactor(1.5);
    page.OnBatteryChosen(1);
    EXPECT_EQ(host.voltage, 14);
    ASSERT_EQ(host.previousVoltages.size(), 1u);
    EXPECT_EQ(host.previousVoltages[0], 18);
    ASSERT_EQ(host.factors.size(), 1u);
    EXPECT_DOUBLE_EQ(host.factors[0], 1.5);
    EXPECT_EQ(page.V().battery, 1);
}

TEST_F(HeaderTest, RefusedBatteryChangeShowsThePreviousVoltage) {
    host.voltage = 14;
    Open();
    ASSERT_EQ(page.V().battery, 1);
    host.acceptBattery = false;
    page.OnBatteryChosen(0);
    EXPECT_EQ(host.voltage, 14);
    EXPECT_EQ(page.V().battery, 1) << "not 18 V";
}

} // namespace
