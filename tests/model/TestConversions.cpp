#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include "model/Conversions.h"

namespace {

ConversionContext Context(int kind, double ratio = 18.2, double maxMotor = 22500,
                          double minMotor = 50) {
    ConversionContext c;
    c.machineKind = kind;
    c.SetRatios(ratio, 100);
    c.maxMotorSpeed = maxMotor;
    c.minMotorSpeed = minMotor;
    return c;
}

} // namespace

TEST(Conversions, RoundHalfUp) {
    struct {
        double x;
        int n;
        double expected;
    } cases[] = {
        {2.5, 0, 3},     {2.4999, 0, 2}, {-0.43, 0, -1}, {-0.5, 0, -1}, {-2.0, 0, -2},
        {91.575, 0, 92}, {1.25, 1, 1.3}, {1.24, 1, 1.2}, {0, 0, 0},     {511.5, 0, 512},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(RoundHalfUp(c.x, c.n), c.expected) << c.x << " n=" << c.n;
}

TEST(Conversions, ContextRatiosAndOutputLimits) {
    ConversionContext c;
    c.SetRatios(18.2, 100);
    EXPECT_DOUBLE_EQ(c.totalRatio, 18.2);
    c.SetRatios(18.2, 250);
    EXPECT_DOUBLE_EQ(c.totalRatio, 45.5);
    // A factor below 0.01 is ignored: the previous one stays.
    c.SetRatios(25.662, 0);
    EXPECT_DOUBLE_EQ(c.userGearFactor, 2.5);
    EXPECT_DOUBLE_EQ(c.totalRatio, 25.662 * 2.5);

    ConversionContext d = Context(18);
    EXPECT_EQ(d.MaxOutputSpeed(), 1236); // trunc(22500 / 18.2)
    EXPECT_EQ(d.MinOutputSpeed(), 3);    // ceil(50 / 18.2)

    // No usable ratio: nothing to scale, and no division by zero.
    ConversionContext z = Context(18, 0);
    EXPECT_EQ(z.MaxOutputSpeed(), 0);
    EXPECT_EQ(SpeedToDisplay(z, 2000, true), 0);
    EXPECT_EQ(SpeedToMachine(z, 92, true), 0);
    EXPECT_EQ(AngleToMachine(z, 90), 0u);
}

TEST(Conversions, SpeedToDisplay) {
    struct {
        const char* what;
        ConversionContext ctx;
        uint16_t raw;
        bool controlled;
        int expected;
    } cases[] = {
        {"18 controlled", Context(18), 2000, true, 92},
        {"18 controlled, raw 0", Context(18), 0, true, 0},
        {"18 controlled, above the output limit", Context(18), 1, true, 1236},
        {"18 controlled, below the output limit", Context(18, 18.2, 22500, 500), 65535, true, 28},
        {"18 not controlled, 100 %", Context(18), 1023, false, 100},
        {"18 not controlled, 50 %", Context(18), 512, false, 50},
        {"14 controlled", Context(14), 255, true, 1236},
        {"14 controlled, no battery speed", Context(14, 18.2, -1), 255, true, 0},
        {"14 not controlled", Context(14), 255, false, 100},
        {"14 not controlled, half", Context(14), 128, false, 50},
        {"kind 0", Context(0), 2000, true, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SpeedToDisplay(c.ctx, c.raw, c.controlled), c.expected) << c.what;
}

TEST(Conversions, SpeedToMachine) {
    struct {
        const char* what;
        ConversionContext ctx;
        double value;
        bool controlled;
        uint16_t expected;
    } cases[] = {
        {"18 controlled", Context(18), 92, true, 1991},
        {"18 controlled, 0.1 is stop", Context(18), 0.1, true, 0},
        // A period beyond 16 bits is the slowest one storable, not its low bits.
        {"18 controlled, too slow", Context(18), 1, true, 65535},
        {"18 not controlled, 50 %", Context(18), 50, false, 512},
        {"18 not controlled, 100 %", Context(18), 100, false, 1023},
        {"18 not controlled, negative", Context(18), -5, false, 0},
        {"14 controlled", Context(14), 1236, true, 255},
        {"14 not controlled, 50 %", Context(14), 50, false, 128},
        {"kind 0", Context(0), 500, true, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SpeedToMachine(c.ctx, c.value, c.controlled), c.expected) << c.what;
}

TEST(Conversions, Angle) {
    EXPECT_EQ(AngleToMachine(Context(18), 90), 82u); // RoundHalfUp(90 * 18.2 * 18 / 360)
    EXPECT_EQ(AngleToDisplay(Context(18), 82), 90);
    EXPECT_EQ(AngleToMachine(Context(14), 90), 109u); // 24 counts per revolution
    EXPECT_EQ(AngleToDisplay(Context(14), 109), 90);
    EXPECT_EQ(AngleToMachine(Context(0), 90), 0u);
    EXPECT_EQ(AngleToDisplay(Context(0), 82), 0);
    EXPECT_EQ(AngleToMachine(Context(18), -10), 0u);
    EXPECT_EQ(AngleToMachine(Context(18), 1e12), 0xFFFFFFFFu);
    EXPECT_EQ(CountsPerRevolution(18), 18);
    EXPECT_EQ(CountsPerRevolution(14), 24);
}

TEST(Conversions, Threshold) {
    struct {
        uint16_t raw;
        int shown;
    } cases[] = {{101, 1}, {170, 100}, {100, -1}, {0, -144}};
    for (const auto& c : cases)
        EXPECT_EQ(ThresholdToDisplay(c.raw), c.shown) << c.raw;
    EXPECT_EQ(ThresholdToMachine(1), 101);
    EXPECT_EQ(ThresholdToMachine(100), 170);
    EXPECT_EQ(ThresholdToMachine(-1000), 0);
}

TEST(Conversions, CurrentTimeRamp) {
    EXPECT_DOUBLE_EQ(CurrentToDisplay(150), 1.5);
    EXPECT_EQ(CurrentToMachine(1.5), 150);
    // 0.29 x 100 is 28.999999999999996 in binary; the user typed 0.29.
    EXPECT_EQ(CurrentToMachine(0.29), 29);
    EXPECT_EQ(CurrentToMachine(0.295), 29); // still truncated
    EXPECT_EQ(CurrentToMachine(1000), 65535);

    EXPECT_EQ(TimeToDisplay(1234), 1234);
    EXPECT_EQ(TimeToMachine(1234), 1234);
    EXPECT_EQ(TimeToMachine(70000), 65535);

    struct {
        double seconds;
        uint8_t raw;
    } ramps[] = {{0.0, 1}, {0.004, 1}, {0.29, 29}, {0.5, 50}, {2.55, 255}, {3.0, 255}, {-1, 1}};
    for (const auto& r : ramps)
        EXPECT_EQ(RampToMachine(r.seconds), r.raw) << r.seconds;
    EXPECT_DOUBLE_EQ(RampToDisplay(255), 2.5);
    EXPECT_DOUBLE_EQ(RampToDisplay(50), 0.5);
    EXPECT_EQ(RampText(255), "2.5");
    EXPECT_EQ(RampText(120), "1.2");
}

static void CheckNumberText() {
    EXPECT_EQ(FormatFixed(1.5, 2), "1.50");
    EXPECT_EQ(FormatFixed(-0.001, 2), "0.00");
    EXPECT_EQ(ParseDouble(" 18.2 "), 18.2);
    EXPECT_EQ(ParseDouble("+1.41"), 1.41);
    EXPECT_EQ(ParseDouble("18,2"), std::nullopt);
    EXPECT_EQ(ParseDouble("inf"), std::nullopt);
    EXPECT_EQ(ParseDouble(""), std::nullopt);
    EXPECT_EQ(ParseInteger("-12"), -12);
    EXPECT_EQ(ParseInteger("12abc"), std::nullopt);
    EXPECT_EQ(ParseInteger("++1"), std::nullopt);
}

TEST(Conversions, NumberText) {
    CheckNumberText();
}

TEST(Conversions, NumberTextInAGermanLocale) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "de_DE"))
        GTEST_SKIP() << "no German locale installed";
    CheckNumberText();
    std::setlocale(LC_ALL, saved.c_str());
}
