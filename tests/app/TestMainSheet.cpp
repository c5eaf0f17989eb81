#include "app/MainSheet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/pages/PageFakes.h"

namespace {

// Records what the sheet asks of its window.
class RecordingSheetView : public SheetView {
public:
    void ShowCaptions() override { ++captions; }
    void ShowActivePage() override { ++activeShown; }
    void ShowAllPages() override { ++allShown; }
    int captions = 0;
    int activeShown = 0;
    int allShown = 0;
};

// A kind-18 machine with gearbox 1:18,2, editable pages, bound to set 0 through a recording
// controller.
class MainSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        sheet.SetHost(&host);
        sheet.SetView(&view);
        sheet.SetMachineKind(18);
        sheet.SetTransmission(gear);
        sheet.SetLimits(22500, 50, 101, 170, 22500);
        sheet.LockPages(false);
        image.SetUserTransmission(100);
        for (size_t i = 0; i < 10; ++i) {
            StepRecord s = image.Step(i);
            s.SetControlled(1);
            s.SetSpeed(2000);
            s.SetCondition(kCondClutch);
            s.SetNextStep(i == 9 ? kNextStepLast : static_cast<uint8_t>(i + 1));
        }
    }

    std::vector<int> StepIndexes() {
        std::vector<int> out;
        for (int k = 0; k < 5; ++k)
            out.push_back(sheet.Step(k).StepIndex());
        return out;
    }
    std::vector<std::string> Captions() {
        std::vector<std::string> out;
        for (int k = 0; k < 5; ++k)
            out.push_back(sheet.Caption(k));
        return out;
    }
    std::vector<bool> ForcedLast() {
        std::vector<bool> out;
        for (int k = 0; k < 5; ++k)
            out.push_back(sheet.Step(k).ForcedLast());
        return out;
    }

    FakeHost host;
    RecordingSheetView view;
    CMainSheet sheet;
    ParameterBlock image = ParameterBlock::Default();
    TransmissionEntry gear{1, "1:18,2", 18.2, 0, 0};
};

TEST_F(MainSheetTest, SecondSetWithSwitchoverEndsAtStepSevenAndLabelsTheSwitch) {
    image.SetModeFlags(0x81);
    sheet.SetStepCaptions(1, image.ModeFlags());
    sheet.BindPages(image, 1);

    EXPECT_EQ(Captions(),
              (std::vector<std::string>{"Programmschritt 6", "Programmschritt 7",
                                        "Programmschritt 8", "Programmschritt 9", "Umschaltung"}));
    EXPECT_GT(view.captions, 0);
    EXPECT_EQ(image.Step(6).NextStep(), kNextStepLast);
    EXPECT_EQ(image.Step(5).NextStep(), 6); // the other steps keep their chain
    EXPECT_EQ(image.Step(7).NextStep(), 8);
    EXPECT_EQ(StepIndexes(), (std::vector<int>{5, -1, 7, 8, 9}));
    EXPECT_EQ(ForcedLast(), (std::vector<bool>{false, true, false, false, true}));
    for (int k = 0; k < 5; ++k)
        EXPECT_TRUE(sheet.Step(k).HasStep()) << k;
}

TEST_F(MainSheetTest, SecondSetWithoutSwitchoverIsNumberedOneToFive) {
    image.SetModeFlags(0x80);
    sheet.SetStepCaptions(1, image.ModeFlags());
    sheet.BindPages(image, 1);

    EXPECT_EQ(Captions(), (std::vector<std::string>{"Programmschritt 1", "Programmschritt 2",
                                                    "Programmschritt 3", "Programmschritt 4",
                                                    "Programmschritt 5"}));
    EXPECT_EQ(StepIndexes(), (std::vector<int>{5, 6, 7, 8, 9}));
    EXPECT_EQ(image.Step(6).NextStep(), 7);
    EXPECT_EQ(ForcedLast(), (std::vector<bool>{false, false, false, false, true}));
}

TEST_F(MainSheetTest, FirstSetEndsAtStepFiveUnlessItGoesOnInExpertMode) {
    struct Case {
        uint8_t flags;
        bool forced;
    };
    for (Case c : {Case{0x00, true}, Case{0x01, true}, Case{0x80, true}, Case{0x81, false}}) {
        SCOPED_TRACE(int(c.flags));
        image.SetModeFlags(c.flags);
        image.Step(4).SetNextStep(5);
        sheet.BindPages(image, 0);
        EXPECT_EQ(StepIndexes(), (std::vector<int>{0, 1, 2, 3, 4}));
        EXPECT_EQ(sheet.Step(4).ForcedLast(), c.forced);
        EXPECT_EQ(image.Step(4).NextStep(), c.forced ? kNextStepLast : 5);
        for (int k = 0; k < 4; ++k)
            EXPECT_FALSE(sheet.Step(k).ForcedLast()) << k;
    }
}

TEST_F(MainSheetTest, CaptionsKeepTheirTextsForAnUnknownSet) {
    sheet.SetStepCaptions(1, 0x01);
    const int shown = view.captions;
    sheet.SetStepCaptions(2, 0);
    EXPECT_EQ(sheet.Caption(4), "Umschaltung");
    EXPECT_EQ(view.captions, shown);
}

TEST_F(MainSheetTest, UnknownSetLeavesTheStepPagesDetached) {
    sheet.BindPages(image, 0);
    sheet.BindPages(image, 2);
    for (int k = 0; k < 5; ++k) {
        EXPECT_FALSE(sheet.Step(k).HasStep()) << k;
        EXPECT_EQ(sheet.Step(k).StepIndex(), -1) << k;
        EXPECT_TRUE(sheet.Step(k).ForcedLast()) << k;
    }
}

TEST_F(MainSheetTest, GearFactorWordZeroLeavesTheStepFactorAlone) {
    image.SetUserTransmission(150);
    sheet.BindPages(image, 0);
    EXPECT_DOUBLE_EQ(sheet.Step(0).TotalRatio(), 18.2 * 1.5);

    image.SetUserTransmission(0); // g = 0: below what a step page takes
    sheet.BindPages(image, 0);
    for (int k = 0; k < 5; ++k) {
        EXPECT_DOUBLE_EQ(sheet.Step(k).TotalRatio(), 18.2 * 1.5) << k;
        EXPECT_GT(sheet.Step(k).MaxOutputSpeed(), 0) << k;
    }
}

TEST_F(MainSheetTest, EntriesHandedOverAsTemporariesStayValid) {
    sheet.SetTransmission(TransmissionEntry{2, "1:25", 25.0, 0, 0});
    sheet.SetAngleHead(TransmissionEntry{1, "WK 90", 1.41, 0, 0});
    sheet.Header().CreateWindow();
    sheet.Expert().CreateWindow();
    sheet.BindPages(image, 0);
    EXPECT_EQ(sheet.Header().V().gearName, "1:25");
    EXPECT_EQ(sheet.Header().V().angleHeadName, "WK 90");
    EXPECT_EQ(sheet.Expert().V().gearName, "1:25");
    EXPECT_DOUBLE_EQ(sheet.Step(3).TotalRatio(), 25.0);
}

TEST_F(MainSheetTest, FasteningCounterReachesTheMaintenancePageAtTheNextBind) {
    sheet.BindPages(image, 0);
    sheet.Maintenance().CreateWindow();
    sheet.SetFasteningCounter(1200);
    EXPECT_EQ(sheet.Maintenance().V().counter, 0);
    sheet.BindPages(image, 0);
    EXPECT_EQ(sheet.Maintenance().V().counter, 1200);
}

TEST_F(MainSheetTest, LockedPagesAreReadOnlyAndShownPagesLoadAgain) {
    sheet.BindPages(image, 0);
    ASSERT_TRUE(sheet.RequestPage(1));
    ASSERT_TRUE(sheet.RequestPage(0));
    sheet.Maintenance().CreateWindow();
    sheet.Maintenance().LoadFromRecord();
    EXPECT_TRUE(sheet.Step(0).IsEnabled(PrgStepModel::kIdSpeed));
    EXPECT_TRUE(sheet.Header().IsEnabled(HeaderModel::kToolId));
    EXPECT_TRUE(sheet.Maintenance().Editable());

    const int shown = view.allShown;
    sheet.LockPages(true);
    EXPECT_GT(view.allShown, shown);
    EXPECT_TRUE(sheet.Header().ReadOnly());
    EXPECT_FALSE(sheet.Maintenance().Editable());
    EXPECT_FALSE(sheet.Maintenance().IsEnabled(MaintenanceModel::kCalName));
    for (int k = 0; k < 5; ++k)
        EXPECT_TRUE(sheet.Step(k).ReadOnly()) << k;

    // The windows exist from an earlier showing: each page takes the lock when shown again.
    sheet.ReloadIfStale(0);
    EXPECT_FALSE(sheet.Header().IsEnabled(HeaderModel::kToolId));
    ASSERT_TRUE(sheet.RequestPage(1));
    EXPECT_FALSE(sheet.Step(0).IsEnabled(PrgStepModel::kIdSpeed));

    sheet.LockPages(false);
    sheet.BindPages(image, 0); // a bind reloads too
    EXPECT_TRUE(sheet.Step(0).IsEnabled(PrgStepModel::kIdSpeed));
    EXPECT_TRUE(sheet.Header().IsEnabled(HeaderModel::kToolId));
}

TEST_F(MainSheetTest, BatteryCheckFailsWhenAnyStepIsOutOfReach) {
    // Raw speed 2000 is 92 1/min, 100 is 1831 1/min at 18.2; the battery gives 22500 / 18.2 =
    // 1236 1/min at most.
    struct Case {
        const char* name;
        int slowPage;    // -1: none
        bool controlled; // of the slow page
        int battery;
        double angleRatio;
        bool reachable;
    };
    const Case cases[] = {
        {"all reachable", -1, true, 22500, 1.0, true},
        {"first page too fast", 0, true, 22500, 1.0, false},
        {"third page too fast", 2, true, 22500, 1.0, false},
        {"last page too fast", 4, true, 22500, 1.0, false},
        {"uncontrolled is always reachable", 2, false, 22500, 1.0, true},
        {"stronger battery", 2, true, 40000, 1.0, true},
        {"angle head halves the speed asked for", 2, true, 22500, 2.0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (size_t i = 0; i < 5; ++i) {
            image.Step(i).SetSpeed(2000);
            image.Step(i).SetControlled(1);
        }
        if (c.slowPage >= 0) {
            image.Step(c.slowPage).SetSpeed(100);
            image.Step(c.slowPage).SetControlled(c.controlled ? 1 : 0);
        }
        sheet.SetAngleHead(TransmissionEntry{1, "WK", c.angleRatio, 0, 0});
        sheet.BindPages(image, 0);
        EXPECT_EQ(sheet.CheckBattery(c.battery), c.reachable);
    }
}

TEST_F(MainSheetTest, APageThatRefusesToBeLeftStaysActive) {
    image.SetModeFlags(0x80);
    sheet.BindPages(image, 0);
    ASSERT_TRUE(sheet.RequestPage(CSheet::kExpertPage));
    EXPECT_TRUE(sheet.Expert().WindowCreated());
    sheet.Expert().OnUserFactorChanged(150); // above 99

    const int shown = view.activeShown;
    EXPECT_FALSE(sheet.RequestPage(2));
    EXPECT_EQ(sheet.ActivePage(), CSheet::kExpertPage);
    EXPECT_GT(view.activeShown, shown); // the window goes back to the page kept
    EXPECT_EQ(host.refreshes, 0);
    EXPECT_FALSE(sheet.Step(1).WindowCreated());

    // Corrected to 99 by the refusal: now the page may be left and hands the factor on.
    const int redraws = host.redraws;
    EXPECT_TRUE(sheet.RequestPage(2));
    EXPECT_EQ(sheet.ActivePage(), 2);
    EXPECT_EQ(host.refreshes, 1);
    ASSERT_FALSE(host.factors.empty());
    EXPECT_DOUBLE_EQ(host.factors.back(), 99.0);
    EXPECT_TRUE(sheet.Step(1).WindowCreated());
    EXPECT_GT(host.redraws, redraws); // a step page asks for the overview when activated

    sheet.SetActivePage(-1);
    sheet.SetActivePage(8);
    EXPECT_EQ(sheet.ActivePage(), 2);
}

// The overview highlights the open step tab: leaving it for a page that is no step page must
// draw the overview again, or the highlight stays.
TEST_F(MainSheetTest, EveryTabChangeRedrawsTheOverview) {
    sheet.BindPages(image, 0);
    ASSERT_TRUE(sheet.RequestPage(2));
    for (int tab : {CSheet::kMaintenancePage, CSheet::kHeaderPage, CSheet::kExpertPage, 3}) {
        SCOPED_TRACE(tab);
        const int redraws = host.redraws;
        ASSERT_TRUE(sheet.RequestPage(tab));
        EXPECT_GT(host.redraws, redraws);
    }
}

TEST_F(MainSheetTest, StepPageRefusesToBeLeftWithASpeedOutOfRange) {
    sheet.BindPages(image, 0);
    ASSERT_TRUE(sheet.RequestPage(1));
    // A controlled speed below ceil(50 / 18.2) = 3 is refused on leaving.
    sheet.Step(0).OnSpeedChanged(1);
    EXPECT_FALSE(sheet.RequestPage(0));
    EXPECT_EQ(sheet.ActivePage(), 1);
    EXPECT_EQ(sheet.Step(0).V().speed, 3);
    EXPECT_TRUE(sheet.RequestPage(0));
}

TEST_F(MainSheetTest, PagesReachTheControllerOnlyWhileItIsSet) {
    sheet.BindPages(image, 0);
    ASSERT_TRUE(sheet.RequestPage(0));
    sheet.Header().OnToolIdChanged("Linie 4");
    EXPECT_EQ(host.changed, 1);

    sheet.SetHost(nullptr);
    sheet.Header().OnToolIdChanged("Linie 5");
    EXPECT_EQ(host.changed, 1);
    sheet.SetBattery(18, 22500);
    sheet.Header().OnBatteryChosen(0); // nobody to apply it: the old battery stays
    EXPECT_TRUE(host.previousVoltages.empty());
    EXPECT_EQ(sheet.Header().V().battery, 2);
}

} // namespace
