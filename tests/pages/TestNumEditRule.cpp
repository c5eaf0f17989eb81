#include "pages/NumEditRule.h"

#include <gtest/gtest.h>

namespace {

struct JudgeCase {
    int mode;
    const char* text;
    bool accepted;
    const char* goodText; // when accepted
    double value;         // when accepted
};

const JudgeCase kJudgeCases[] = {
    {0, "12", true, "12", 12},
    {0, "12a", false, "", 0},
    {0, "-", false, "", 0},
    {0, "+", false, "", 0},
    {0, "-5", true, "-5", -5},
    {0, "+7", true, "+7", 7},
    {0, "  42", true, "  42", 42},
    {0, "42  ", true, "42", 42},
    {0, "4 2", false, "", 0},
    {0, "", true, "0", 0},
    {0, "   ", true, "0", 0},
    {0, "+-5", false, "", 0},
    {0, "1.5", false, "", 0},
    {0, "9223372036854775807", true, "9223372036854775807", 9223372036854775807.0},
    {0, "99999999999999999999", false, "", 0},
    {1, "1.", true, "1.", 1},
    {1, ".5", true, ".5", 0.5},
    {1, ".", false, "", 0},
    {1, "1e", false, "", 0},
    {1, "1e3", true, "1e3", 1000},
    {1, "0,5", false, "", 0},
    {1, "-2.25", true, "-2.25", -2.25},
    {1, "-", false, "", 0},
    {1, "inf", false, "", 0},
    {1, "nan", false, "", 0},
    {1, "0x10", false, "", 0},
    {1, "1e999", false, "", 0},
    {1, "", true, "0", 0},
};

TEST(NumEditRule, JudgesTextsAfterAChange) {
    for (const auto& c : kJudgeCases) {
        SCOPED_TRACE(std::string("mode ") + std::to_string(c.mode) + " text '" + c.text + "'");
        const auto r = NumEditRule::Judge(c.mode, c.text);
        ASSERT_EQ(r.outcome == NumEditRule::Check::Accept, c.accepted);
        if (c.accepted) {
            EXPECT_EQ(r.goodText, c.goodText);
            EXPECT_DOUBLE_EQ(r.realValue, c.value);
        }
    }
}

TEST(NumEditRule, OtherModesCheckNothing) {
    EXPECT_EQ(NumEditRule::Judge(2, "abc").outcome, NumEditRule::Check::Unchecked);
    EXPECT_EQ(NumEditRule::Judge(-1, "").outcome, NumEditRule::Check::Unchecked);
}

TEST(NumEditRule, FormatsAsTheControlShowsNumbers) {
    EXPECT_EQ(NumEditRule::FormatFixed6(2.5), "2.500000");
    EXPECT_EQ(NumEditRule::FormatFixed6(655), "655.000000");
    EXPECT_EQ(NumEditRule::FormatShortest(25.5), "25.5");
    EXPECT_EQ(NumEditRule::FormatShortest(1.0), "1");
    EXPECT_EQ(NumEditRule::FormatShortest(0.1 + 0.2), "0.3");
    EXPECT_EQ(NumEditRule::FormatOneDecimal(2.55), "2.5"); // binary 2.5499..., as "%.1f" does
    EXPECT_EQ(NumEditRule::FormatInt(-12), "-12");
}

} // namespace
