#include "model/StepDrawing.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<StepShape> Chain(std::vector<StepShape> steps) {
    return steps;
}

StepShape Step(uint16_t speed, uint8_t type, uint8_t next, uint8_t controlled = 0) {
    return {speed, controlled, type, next};
}

std::vector<DrawOp> OfKind(const DrawList& l, DrawOp::Kind k, DrawColor c) {
    std::vector<DrawOp> r;
    std::copy_if(l.begin(), l.end(), std::back_inserter(r),
                 [&](const DrawOp& op) { return op.kind == k && op.color == c; });
    return r;
}

OverviewInput Strip(std::vector<StepShape> steps, int activeTab = 0) {
    OverviewInput in;
    in.width = 510; // segW = 100
    in.height = 100;
    in.steps = std::move(steps);
    in.context.machineKind = 18;
    in.activeTab = activeTab;
    return in;
}

TEST(StepOverview, FirstStepLastDrawsOneSegmentAndFramesOpenLaterPage) {
    auto in = Strip(Chain({Step(500, 0, 0xFF), Step(500, 0, 2), Step(500, 0, 3), Step(500, 0, 4),
                           Step(500, 0, 0xFF)}),
                    4);
    DrawList l = DrawStepOverview(in);
    auto red = OfKind(l, DrawOp::Kind::Line, kDrawProfile);
    ASSERT_FALSE(red.empty());
    // The first stroke runs back along the middle line from its end; the profile follows.
    EXPECT_EQ(red[0], (DrawOp{DrawOp::Kind::Line, 500, 50, 10, 50, kDrawProfile}));
    int maxX = 0;
    for (size_t k = 1; k < red.size(); ++k)
        maxX = std::max({maxX, red[k].x1, red[k].x2});
    EXPECT_EQ(maxX, 110); // one segment of 100 from x = 10
    auto grey = OfKind(l, DrawOp::Kind::Fill, kDrawBackground);
    ASSERT_EQ(grey.size(), 2u);
    EXPECT_EQ(grey[1].x1, 110);
    EXPECT_EQ(grey[1].x2, 110 + (510 - 110 + 1));
    auto frames = OfKind(l, DrawOp::Kind::Frame, kDrawBlack);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (DrawOp{DrawOp::Kind::Frame, 311, 0, 411, 100, kDrawBlack}));
}

TEST(StepOverview, DirectionChangeReturnsToMiddleThenRampsUp) {
    auto in = Strip(
        Chain({Step(512, 0, 1), Step(512, 1, 2), Step(0, 0, 3), Step(0, 0, 4), Step(0, 0, 0xFF)}));
    DrawList l = DrawStepOverview(in);
    auto red = OfKind(l, DrawOp::Kind::Line, kDrawProfile);
    const int mid = 50;
    const int up = static_cast<int>(mid - 512.0 * mid / (1023 * 1.05));
    const int down = static_cast<int>(mid + 512.0 * mid / (1023 * 1.05));
    // Step 0: to (10, mid), ramp to (20, up), along to (110, up).
    EXPECT_EQ(red[0], (DrawOp{DrawOp::Kind::Line, 500, mid, 10, mid, kDrawProfile}));
    EXPECT_EQ(red[2], (DrawOp{DrawOp::Kind::Line, 20, up, 110, up, kDrawProfile}));
    // Step 1: back to the middle at the border, then a 10-pixel slope into the left turn.
    EXPECT_EQ(red[3], (DrawOp{DrawOp::Kind::Line, 110, up, 110, mid, kDrawProfile}));
    EXPECT_EQ(red[5], (DrawOp{DrawOp::Kind::Line, 110, mid, 120, down, kDrawProfile}));
}

TEST(StepOverview, SpeedAboveScaleIsClampedAndHighlightFollowsTab) {
    auto in = Strip(Chain({Step(5000, 0, 0xFF)}), 1);
    in.context.machineKind = 14;
    DrawList l = DrawStepOverview(in);
    auto white = OfKind(l, DrawOp::Kind::Fill, kDrawHighlight);
    ASSERT_EQ(white.size(), 1u);
    EXPECT_EQ(white[0], (DrawOp{DrawOp::Kind::Fill, 10, 0, 110, 100, kDrawHighlight}));
    auto red = OfKind(l, DrawOp::Kind::Line, kDrawProfile);
    EXPECT_EQ(red[2].y1, static_cast<int>(50 - 255.0 * 50 / (255 * 1.05)));
}

TEST(StepOverview, GearFactorScalesUncontrolledDuty) {
    auto in = Strip(Chain({Step(1000, 0, 0xFF)}));
    in.context.userGearFactor = 2.0;
    auto red = OfKind(DrawStepOverview(in), DrawOp::Kind::Line, kDrawProfile);
    EXPECT_EQ(red[2].y1, static_cast<int>(50 - 500.0 * 50 / (1023 * 1.05)));
}

TEST(StepOverview, SwitchOverChainEndsEvenWhenLaterStepIsLast) {
    // Step 2 of set 2 is last with the switch-over bit: the jump back to step 2 must not loop.
    auto in = Strip(Chain({Step(100, 0, 1), Step(100, 0, 2), Step(100, 0, 0xFF), Step(100, 0, 4),
                           Step(100, 0, 0xFF)}));
    in.currentSet = 1;
    in.switchOver = true;
    DrawList l = DrawStepOverview(in);
    EXPECT_LT(l.size(), 64u);
}

// Rightmost x the profile reaches.
int ProfileEnd(const DrawList& l) {
    int maxX = 0;
    auto red = OfKind(l, DrawOp::Kind::Line, kDrawProfile);
    for (size_t k = 1; k < red.size(); ++k) // red[0] runs back from the middle line's end
        maxX = std::max({maxX, red[k].x1, red[k].x2});
    return maxX;
}

TEST(StepOverview, OnlySet2OfSwitchOverGoesOnAfterItsFirstStep) {
    // The first step ends the chain; steps 2-4 link on to the end.
    const auto steps = Chain({Step(300, 0, 0xFF), Step(300, 0, 2), Step(300, 0, 3), Step(300, 0, 4),
                              Step(300, 0, 0xFF)});
    struct Case {
        int currentSet;
        bool switchOver;
        int end;
    } cases[] = {
        {1, true, 510},  // set 2, switch-over: step 0, then steps 2-4 to the right edge
        {0, true, 110},  // set 1: a user-made last step ends the strip
        {1, false, 110}, // set 2 without switch-over
        {0, false, 110},
    };
    for (const Case& c : cases) {
        auto in = Strip(steps);
        in.currentSet = c.currentSet;
        in.switchOver = c.switchOver;
        EXPECT_EQ(ProfileEnd(DrawStepOverview(in)), c.end)
            << "set " << c.currentSet << " switch-over " << c.switchOver;
    }
}

TEST(StepOverview, ClickSelectsStepPages) {
    struct Case {
        int x, tab;
    } cases[] = {{0, 1}, {109, 1}, {110, 2}, {405, 4}, {410, 5}, {509, 5}};
    for (auto c : cases)
        EXPECT_EQ(OverviewClickTab(510, c.x), c.tab) << c.x;
}

TEST(StepExport, OneSegmentForFirstLastAndRampRules) {
    // W = 710 -> right 700, seg 100.
    auto one = DrawStepExport(710, 100, {Step(200, 0, 0xFF), Step(200, 0, 0xFF)}, {});
    auto red = OfKind(one, DrawOp::Kind::Line, kDrawProfile);
    ASSERT_EQ(red.size(), 3u);
    EXPECT_EQ(red[0], (DrawOp{DrawOp::Kind::Line, 700, 50, 10, 50, kDrawProfile}));
    EXPECT_EQ(red[2].x2, 110);

    auto flat = DrawStepExport(710, 100, {Step(200, 0, 1), Step(200, 0, 0xFF)}, {});
    red = OfKind(flat, DrawOp::Kind::Line, kDrawProfile);
    // Same speed: vertical edge (no ramp) at the border.
    EXPECT_EQ(red[4].x1, 110);
    EXPECT_EQ(red[4].x2, 110);
    auto rising = DrawStepExport(710, 100, {Step(200, 0, 1), Step(400, 0, 0xFF)}, {});
    red = OfKind(rising, DrawOp::Kind::Line, kDrawProfile);
    EXPECT_EQ(red[4].x2, 120);
}

TEST(StepExport, Kind14FullScaleReachesMargin) {
    StepDrawContext c;
    c.machineKind = 14;
    auto red =
        OfKind(DrawStepExport(710, 100, {Step(300, 0, 0xFF)}, c), DrawOp::Kind::Line, kDrawProfile);
    EXPECT_EQ(red[1].y2, static_cast<int>(50 - 50 / 1.05));
}

} // namespace
