#include "pages/PrgStepModel.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tests/pages/PageFakes.h"

namespace {

using P = PrgStepModel;

// Kind 18, gear 1:18,2, battery 22500 1/min, minimum motor speed 50, thresholds 101..170.
class StepTest : public ::testing::Test {
protected:
    StepTest() : page(host) {
        image = ParameterBlock::Default();
        gear.id = 1;
        gear.name = "1:18,2";
        gear.ratio = 18.2;
        page.SetView(&view);
    }
    // As the sheet binds a page: index, factor, limits, record; then the tab is shown.
    void Bind(int index, bool readOnly = false) {
        page.SetMachineKind(18);
        page.SetGearEntry(&gear);
        page.SetLimits({22500, 50, 101, 170, 22500});
        page.SetStepIndex(index);
        page.SetForcedLast(false);
        page.SetUserFactor(1.0);
        page.SetReadOnly(readOnly);
        page.AttachRecord(image.Step(index));
        page.CreateWindow();
    }
    StepRecord Rec(int i = 0) { return image.Step(i); }

    FakeHost host;
    FakeView view;
    P page;
    ParameterBlock image;
    TransmissionEntry gear;
};

TEST_F(StepTest, DerivedLimits) {
    Bind(0);
    EXPECT_DOUBLE_EQ(page.TotalRatio(), 18.2);
    EXPECT_EQ(page.MaxOutputSpeed(), 1236);
    EXPECT_EQ(page.MinOutputSpeed(), 3);
    EXPECT_EQ(page.ClutchLimitRpm(), 1236);
    EXPECT_EQ(page.MinPercent(), 0); // trunc(50*1023/22500)=2 -> 0.19 % -> 0
    EXPECT_EQ(page.ClutchLimitPercent(), 100);
    EXPECT_EQ(page.MinThresholdDisplay(), 1);
    EXPECT_EQ(page.MaxThresholdDisplay(), 100);
}

// The clutch limit is the clutch maximum speed as a step holds it (period 222 for 15000 1/min,
// 825 1/min at 1:18,2), whichever setting came last: a read sets the user factor last, the
// window's next showing the limits. Typed at the limit, the speed stays there without a beep.
TEST_F(StepTest, ClutchLimitIsTheHeldClutchSpeedWhateverCameLast) {
    Rec().SetCondition(kCondClutch);
    Rec().SetControlled(1);
    Rec().SetSpeed(2000);
    const P::Limits limits{22500, 50, 101, 170, 15000};
    const std::vector<std::function<void()>> setters = {
        [&] { page.SetMachineKind(18); }, [&] { page.SetGearEntry(&gear); },
        [&] { page.SetLimits(limits); }, [&] { page.SetUserFactor(1.0); }};
    for (const std::vector<int>& order :
         {std::vector<int>{0, 1, 2, 3}, std::vector<int>{0, 3, 2, 1},
          std::vector<int>{3, 1, 0, 2}}) {
        SCOPED_TRACE(::testing::PrintToString(order));
        for (int i : order)
            setters[static_cast<size_t>(i)]();
        EXPECT_EQ(page.ClutchLimitRpm(), 825);
    }
    page.SetStepIndex(0);
    page.SetReadOnly(false);
    page.AttachRecord(image.Step(0));
    page.CreateWindow();
    EXPECT_EQ(page.V().clutchLimit, 825);
    page.OnSpeedChanged(900);
    EXPECT_EQ(page.V().speed, 825);
    page.OnSpeedFocusOut();
    EXPECT_EQ(page.V().speed, 825);
    EXPECT_EQ(Rec().Speed(), 222);
    EXPECT_TRUE(page.LeavePage());
    EXPECT_TRUE(view.alarms.empty());
    EXPECT_TRUE(view.notices.empty());
}

TEST_F(StepTest, ValuesShownInUserUnitsAndStoredBack) {
    struct Case {
        bool controlled;
        uint16_t rawSpeed;
        int shownSpeed;
        uint16_t typedStored; // the shown value typed again over another one
    };
    const Case cases[] = {
        {true, 2000, 92, 1991}, // a period: RoundHalfUp(3333333.33 / 18.2 / 2000)
        {false, 512, 50, 512},  // 50 % is 511.5, rounded up
        {false, 1023, 100, 1023},
        {true, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rawSpeed);
        Rec().SetControlled(c.controlled ? 1 : 0);
        Rec().SetSpeed(c.rawSpeed);
        Rec().SetCondition(kCondAngle);
        Bind(0);
        EXPECT_EQ(page.V().speed, c.shownSpeed);
        EXPECT_EQ(page.V().unit, c.controlled ? "1/Min" : "%");
        // Viewed and left, or edited elsewhere on the page: the raw value stays.
        EXPECT_TRUE(page.LeavePage());
        EXPECT_EQ(Rec().Speed(), c.rawSpeed);
        page.OnTypeChosen(1);
        EXPECT_TRUE(page.LeavePage());
        EXPECT_EQ(Rec().Speed(), c.rawSpeed);
        // Only a typed value is converted.
        page.OnSpeedChanged(c.shownSpeed + 1);
        page.OnSpeedChanged(c.shownSpeed);
        page.StoreToRecord();
        EXPECT_EQ(Rec().Speed(), c.typedStored);
    }
}

TEST_F(StepTest, ALeftFieldShowsWhatTheMachineWillHold) {
    Rec().SetCondition(kCondAngle);
    Bind(0);
    page.OnSpeedChanged(700); // held as period 262, which reads 699
    page.OnSpeedFocusOut();
    EXPECT_EQ(page.V().speed, 699);
    EXPECT_EQ(Rec().Speed(), 262);
    EXPECT_TRUE(page.LeavePage());
    EXPECT_EQ(Rec().Speed(), 262);

    page.OnAngleChanged(6); // 6 degrees are 5 counts, which read 5
    page.OnFieldLeft(P::kIdAngle);
    EXPECT_EQ(page.V().angle, 5);
    page.OnCurrentChanged(1.239); // 0.01 A steps
    page.OnFieldLeft(P::kIdCurrent);
    EXPECT_DOUBLE_EQ(page.V().current, 1.23);
    page.OnThresholdChanged(50.7);
    page.OnThresholdFocusOut(false);
    EXPECT_DOUBLE_EQ(page.V().threshold, ThresholdToDisplay(Rec().Threshold()));
}

TEST_F(StepTest, ALeftFieldSaysWhyItShowsAnotherValue) {
    using Notice = std::pair<int, std::string>;
    Rec().SetCondition(kCondAngle);
    Bind(0);
    page.OnSpeedChanged(700);
    page.OnSpeedFocusOut();
    page.OnSpeedChanged(699); // held as typed: no word
    page.OnSpeedFocusOut();
    page.OnAngleChanged(6);
    page.OnFieldLeft(P::kIdAngle);
    page.OnCurrentChanged(1.239);
    page.OnFieldLeft(P::kIdCurrent);
    page.OnThresholdChanged(75);
    page.OnThresholdFocusOut(false);
    const std::string threshold = std::to_string(ThresholdToDisplay(Rec().Threshold()));
    ASSERT_NE(threshold, "75");
    EXPECT_EQ(view.notices, (std::vector<Notice>{
                                {P::kIdSpeed, "nächster speicherbarer Wert: 699 1/Min"},
                                {P::kIdAngle, "nächster speicherbarer Wert: 5 Grad"},
                                {P::kIdCurrent, "nächster speicherbarer Wert: 1.23 A"},
                                {P::kIdThreshold, "nächster speicherbarer Wert: " + threshold}}));
    EXPECT_TRUE(view.alarms.empty()) << "within range: no beep, only the word";
    page.OnThresholdFocusOut(false); // only passing through says nothing again
    EXPECT_EQ(view.notices.size(), 4u);
}

TEST_F(StepTest, UntouchedOddStepPassesThroughAnEditablePage) {
    StepRecord r = Rec();
    r.SetControlled(1);
    r.SetCondition(kCondThreshold); // never controlled on a page
    r.SetErrorMask(kErrThreshold | 0x0201);
    r.SetNextStep(1);
    r.SetNextCond(kCondThreshold | 0x80);
    r.SetSpeed(5);     // beyond the fastest speed
    r.SetThreshold(3); // below the range
    r.SetRamp(0);
    const auto before = r.Raw();
    Bind(0);
    EXPECT_TRUE(page.LeavePage());
    page.StoreToRecord();
    EXPECT_EQ(Rec().Raw(), before);
    EXPECT_EQ(host.changed, 0);
}

TEST_F(StepTest, AngleThresholdCurrentAndRamp) {
    Rec().SetCondition(kCondAngle);
    Rec().SetSpeed(2000);
    Rec().SetRamp(255);
    Rec().SetThreshold(170);
    Rec().SetCurrent(1234);
    Bind(0);
    EXPECT_EQ(page.V().rampText, "2.5");
    EXPECT_DOUBLE_EQ(page.V().threshold, 100);
    EXPECT_DOUBLE_EQ(page.V().current, 12.34);
    page.OnAngleChanged(90);
    page.OnRampTyped("0.55");
    page.StoreToRecord();
    EXPECT_EQ(Rec().Angle(), 82u); // RoundHalfUp(90 * 18.2 * 18 / 360)
    EXPECT_EQ(Rec().Ramp(), 55);
    page.OnRampTyped("3");
    page.StoreToRecord();
    EXPECT_EQ(Rec().Ramp(), 255);
    page.LoadFromRecord();
    EXPECT_EQ(page.V().rampText, "2.5");
    page.OnRampTyped("0");
    page.StoreToRecord();
    EXPECT_EQ(Rec().Ramp(), 1) << "0 is never stored";
}

TEST_F(StepTest, RampTextKeepsItsLeadingNumber) {
    EXPECT_EQ(P::FilterRampText("0.5x"), "0.5");
    EXPECT_EQ(P::FilterRampText("1."), "1.");
    EXPECT_EQ(P::FilterRampText("-0.3"), "");
    EXPECT_EQ(P::FilterRampText("abc"), "");
    EXPECT_EQ(P::FilterRampText("1e"), "1");
}

TEST_F(StepTest, ThresholdConditionOnAControlledStepSwitchesToPercent) {
    Rec().SetControlled(1);
    Rec().SetSpeed(2000); // 92 1/min
    Bind(0);
    ASSERT_TRUE(page.V().controlled);
    page.OnConditionChosen(P::kPosThreshold);
    EXPECT_FALSE(page.V().controlled);
    EXPECT_EQ(page.V().unit, "%");
    EXPECT_FALSE(page.IsEnabled(P::kIdControlled));
    EXPECT_FALSE(page.IsEnabled(P::kIdErrThresholdBox));
    EXPECT_TRUE(page.IsEnabled(P::kIdThreshold));
    // 92 1/min of 1236: trunc(92 * 1023 * 18.2 / 22500) = 76 -> 7 %
    EXPECT_EQ(Rec().Speed(), 76);
    EXPECT_EQ(page.V().speed, 7);
    EXPECT_EQ(Rec().Controlled(), 0);
}

TEST_F(StepTest, ConditionExcludesItsOwnErrorCriteria) {
    struct Case {
        int position;
        uint16_t maskBefore;
        uint16_t maskAfter;
        std::vector<int> disabled;
        int valueEnabled;
    };
    const Case cases[] = {
        {P::kPosAngle,
         kErrAngleMax | kErrAngleMin | kErrTimeMax,
         kErrTimeMax | kErrClutch,
         {P::kIdErrAngleMaxBox, P::kIdErrAngleMin},
         P::kIdAngle},
        {P::kPosTime,
         kErrTimeMax | kErrTimeMin,
         kErrTimeMin | kErrClutch,
         {P::kIdErrTimeMaxBox, P::kIdErrTimeMinBox, P::kIdErrTimeMin},
         P::kIdTime},
        {P::kPosClutch, kErrClutch | kErrAngleMax, kErrAngleMax, {P::kIdErrClutch}, 0},
        {P::kPosCurrent,
         kErrCurrentMax | kErrCurrentMin,
         kErrClutch,
         {P::kIdErrCurrentMaxBox, P::kIdErrCurrentMinBox},
         P::kIdCurrent},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position);
        image = ParameterBlock::Default();
        Rec().SetControlled(0);
        Rec().SetSpeed(512);
        Rec().SetErrorMask(c.maskBefore);
        Bind(0);
        page.OnConditionChosen(c.position);
        for (int id : c.disabled)
            EXPECT_FALSE(page.IsEnabled(id)) << id;
        if (c.valueEnabled) {
            EXPECT_TRUE(page.IsEnabled(c.valueEnabled));
        }
        page.StoreToRecord();
        EXPECT_EQ(Rec().ErrorMask(), c.maskAfter);
    }
}

TEST_F(StepTest, TimeConditionKeepsZeitKleinerCheckedButDisabled) {
    Rec().SetErrorMask(kErrTimeMax | kErrTimeMin);
    Rec().SetCondition(kCondTime);
    Bind(0);
    EXPECT_FALSE(page.V().errTimeMax);
    EXPECT_TRUE(page.V().errTimeMin);
    EXPECT_FALSE(page.IsEnabled(P::kIdErrTimeMinBox));
    page.StoreToRecord();
    EXPECT_EQ(Rec().ErrorMask() & kErrTimeMin, kErrTimeMin);
    EXPECT_EQ(Rec().Condition(), kCondTime);
}

TEST_F(StepTest, CriterionSharingTheSlotStoresItsLimit) {
    Rec().SetCondition(kCondAngle);
    Bind(0);
    page.OnConditionChosen(P::kPosClutch); // angle criterion allowed again
    page.OnAngleChanged(90);
    page.OnErrorBoxClicked(P::kIdErrAngleMaxBox, true);
    page.OnErrorValueChanged(P::kIdErrAngleMax, 360);
    page.StoreToRecord();
    EXPECT_EQ(Rec().Angle(), 328u) << "the limit, not the next-step angle";
    EXPECT_TRUE(Rec().HasError(kErrAngleMax));
    EXPECT_EQ(Rec().Condition(), kCondClutch);
}

TEST_F(StepTest, TypedSpeedIsLimitedAtOnce) {
    Rec().SetControlled(1);
    Rec().SetSpeed(2000);
    Rec().SetCondition(kCondAngle);
    Bind(0);
    page.OnSpeedChanged(2000);
    EXPECT_EQ(page.V().speed, 1236);
    EXPECT_GT(host.redraws, 0);
    EXPECT_GT(host.changed, 0);
    page.OnControlledClicked(false);
    page.OnSpeedChanged(150);
    EXPECT_EQ(page.V().speed, 100);
}

TEST_F(StepTest, ClutchLimitWhileTypingAndWhenRestored) {
    Rec().SetControlled(1);
    Rec().SetSpeed(2000);
    Rec().SetCondition(kCondClutch);
    page.SetClutchLimitRemoved(false);
    Bind(0);
    page.SetLimits({22500, 50, 101, 170, 9100}); // clutch 9100 / 18.2 = 500 1/min
    EXPECT_EQ(page.ClutchLimitRpm(), 500);
    page.OnSpeedChanged(800);
    EXPECT_EQ(page.V().speed, 500);
    page.SetClutchLimitRemoved(true);
    page.OnSpeedChanged(800);
    EXPECT_EQ(page.V().speed, 800);
    page.SetClutchLimitRemoved(false); // the limit is back: lowered again
    EXPECT_EQ(page.V().speed, 500);
    EXPECT_EQ(Rec().Speed(), SpeedToMachine(page.Context(), 500, true));
}

TEST_F(StepTest, Kind14ToggleKeepsTheDuty) {
    Rec().SetControlled(1);
    Rec().SetSpeed(128);
    Rec().SetCondition(kCondAngle);
    Bind(0);
    page.SetMachineKind(14);
    page.LoadFromRecord();
    EXPECT_EQ(page.V().speed, 621); // RoundHalfUp(128 * 22500 / (255 * 18.2))
    page.OnControlledClicked(false);
    EXPECT_EQ(page.V().speed, 50);
    EXPECT_EQ(Rec().Speed(), 128);
    EXPECT_EQ(Rec().Controlled(), 0);
    page.OnControlledClicked(true);
    EXPECT_EQ(page.V().speed, 621);
    EXPECT_EQ(Rec().Speed(), 128);
}

TEST_F(StepTest, Kind14HasAClutchLimitInPercent) {
    page.SetMachineKind(14);
    page.SetLimits({22500, 50, 101, 170, 9000});
    EXPECT_EQ(page.ClutchLimitPercent(), 40); // trunc(9000 * 255 / 22500) = 102 -> 40 %
}

TEST_F(StepTest, SpeedLeavingTheFieldIsBoundedWithBeep) {
    Rec().SetControlled(1);
    Rec().SetSpeed(2000);
    Rec().SetCondition(kCondAngle);
    page.SetLimits({22500, 910, 101, 170, 22500});
    Bind(0);
    page.SetLimits({22500, 910, 101, 170, 22500}); // minOutputSpeed ceil(910/18.2) = 50
    page.OnSpeedChanged(10);
    page.OnSpeedFocusOut();
    EXPECT_EQ(page.V().speed, 50);
    ASSERT_EQ(view.alarms.size(), 1u);
    EXPECT_EQ(view.alarms[0], P::kIdSpeed);
    page.OnSpeedChanged(0);
    page.OnSpeedFocusOut(); // 0 stays 0
    EXPECT_EQ(page.V().speed, 0);
    EXPECT_EQ(view.alarms.size(), 1u);
}

TEST_F(StepTest, ThresholdBelowItsMinimumIsRaised) {
    Rec().SetCondition(kCondThreshold);
    Rec().SetControlled(0);
    Rec().SetSpeed(512);
    Bind(0);
    page.OnThresholdChanged(0);
    EXPECT_FALSE(page.ValidateOnLeave());
    EXPECT_DOUBLE_EQ(page.V().threshold, 1);
    EXPECT_DOUBLE_EQ(page.V().errThresholdValue, 1);
    ASSERT_FALSE(view.alarms.empty());
    EXPECT_EQ(view.alarms.back(), P::kIdThreshold);
    EXPECT_TRUE(page.ValidateOnLeave());

    page.OnThresholdChanged(0);
    page.OnThresholdFocusOut(false);
    EXPECT_DOUBLE_EQ(page.V().threshold, 1);
    EXPECT_EQ(page.V().thresholdSlider, 101);
    EXPECT_EQ(page.V().errThresholdSlider, 101);

    page.OnSliderMoved(false, 170);
    EXPECT_DOUBLE_EQ(page.V().threshold, 100);
    EXPECT_DOUBLE_EQ(page.V().errThresholdValue, 100);
    EXPECT_EQ(Rec().Threshold(), 170);
}

TEST_F(StepTest, LastStepAndWaitForRestart) {
    Rec().SetNextCond(kCondClutch | kCondWaitRestart);
    Bind(0);
    EXPECT_FALSE(page.V().lastStep);
    EXPECT_TRUE(page.V().waitRestart);
    EXPECT_TRUE(page.IsEnabled(P::kIdWaitRestart));
    page.OnLastStepClicked(true);
    EXPECT_EQ(Rec().NextStep(), kNextStepLast);
    EXPECT_FALSE(Rec().WaitRestart());
    EXPECT_FALSE(page.IsEnabled(P::kIdWaitRestart));
    page.OnLastStepClicked(false);
    EXPECT_EQ(Rec().NextStep(), 1);
    EXPECT_TRUE(page.IsEnabled(P::kIdWaitRestart));
}

TEST_F(StepTest, ForcedLastStepIsLastBeforeItIsShown) {
    Rec(4).SetNextStep(5);
    page.SetMachineKind(18);
    page.SetStepIndex(4);
    page.SetReadOnly(true);
    page.SetForcedLast(false);
    page.AttachRecord(image.Step(4));
    page.SetForcedLast(true);
    EXPECT_EQ(Rec(4).NextStep(), 5) << "a read-only page never writes";
    page.SetReadOnly(false);
    page.AttachRecord(image.Step(4));
    page.SetForcedLast(true); // as the sheet marks the fifth page
    EXPECT_EQ(Rec(4).NextStep(), kNextStepLast);
    page.CreateWindow();
    EXPECT_TRUE(page.V().lastStep);
    EXPECT_FALSE(page.IsEnabled(P::kIdLastStep));
    page.OnLastStepClicked(false);
    EXPECT_TRUE(page.V().lastStep);
    page.StoreToRecord();
    EXPECT_EQ(Rec(4).NextStep(), kNextStepLast);
}

TEST_F(StepTest, ReadOnlyDisablesEverything) {
    Bind(0, true);
    for (int id :
         {P::kIdType, P::kIdControlled, P::kIdSpeed, P::kIdRamp, P::kIdLastStep, P::kIdCondition,
          P::kIdAngle, P::kIdErrClutch, P::kIdErrTimeMinBox, P::kIdWaitRestart})
        EXPECT_FALSE(page.IsEnabled(id)) << id;
    page.AttachRecord(std::nullopt);
    page.StoreToRecord(); // nothing attached: nothing to do
}

TEST_F(StepTest, LoadingMarksNothing) {
    Bind(0);
    EXPECT_EQ(host.changed, 0);
}

TEST_F(StepTest, TimesAreLimitedToTheField) {
    Rec().SetCondition(kCondTime);
    Bind(0);
    page.OnTimeChanged(70000);
    EXPECT_EQ(page.V().time, 65535);
    page.StoreToRecord();
    EXPECT_EQ(Rec().Time(), 65535);
}

TEST_F(StepTest, SpeedReachableWithANewBattery) {
    Rec().SetControlled(1);
    Rec().SetSpeed(SpeedToMachine(ConversionContext{18, 18.2, 1, 18.2, 22500, 50}, 1000, true));
    Bind(0);
    TransmissionEntry none;
    none.ratio = 1.0;
    EXPECT_TRUE(page.SpeedReachable(22500, &gear, &none, 1.0));
    EXPECT_FALSE(page.SpeedReachable(18000, &gear, &none, 1.0)); // 989 < 1000
    Rec().SetControlled(0);
    EXPECT_TRUE(page.SpeedReachable(100, &gear, &none, 1.0));
}

TEST_F(StepTest, ErrorCriteriaFollowTheExpertOption) {
    page.ShowErrorCriteria(true); // before the window exists
    Bind(0);
    EXPECT_TRUE(page.IsShown(P::kIdErrGroup));
    EXPECT_TRUE(page.IsShown(P::kIdErrCurrentMaxBox));
    EXPECT_FALSE(page.IsShown(P::kIdCurrent));
    page.ShowErrorCriteria(false);
    EXPECT_FALSE(page.IsShown(P::kIdErrThreshold));
}

} // namespace
