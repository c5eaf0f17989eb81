// The one reading of the firmware version, as the machine checks use it: a major number of 3 or
// less refused, a major without digits calling for a recovery, versions compared whole.
#include "model/FirmwareVersion.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace {

FirmwareVersion Of(const std::string& text) {
    ParameterBlock b;
    std::copy(text.begin(), text.end(), b.bytes.begin() + ParameterBlock::kOffSwVersion);
    return FirmwareVersionOf(b);
}

} // namespace

TEST(FirmwareVersion, NumbersAndDigitsOfEachText) {
    struct Case {
        std::string text;
        int major, minor, third;
        bool majorDigits, allDigits;
    } cases[] = {
        {"V04.02.005", 4, 2, 5, true, true},
        {"V03.99.999", 3, 99, 999, true, true},
        {"X12.34.567", 12, 34, 567, true, true},
        // Read as atoi reads each piece: blanks, a sign, digits up to another character.
        {"V 4. 2.  7", 4, 2, 7, false, false},
        {"V 4.01.001", 4, 1, 1, false, false},
        {"V-1.+2.-03", -1, 2, -3, false, false},
        {"V4x.1y.2zz", 4, 1, 2, false, false},
        {"Vab.cd.efg", 0, 0, 0, false, false},
        {"V4.1.1", 4, 0, 0, false, false},
        {"V04", 4, 0, 0, true, false},
        {"", 0, 0, 0, false, false},
        {"V0405.0067", 4, 5, 67, true, false}, // separators are never read
        {"V04.01.150", 4, 1, 150, true, true},
        // A zero byte ends only the number it falls into; character 0 is never read.
        {"\0"s
         "04.02.005",
         4, 2, 5, true, true},
        {"V04\0"s
         "02\0"s
         "005",
         4, 2, 5, true, true},
        {"V0\0"s
         ".02.005",
         0, 2, 5, false, false},
        {"V04.02.0\0"s
         "5",
         4, 2, 0, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        const FirmwareVersion v = Of(c.text);
        EXPECT_EQ(v.major, c.major);
        EXPECT_EQ(v.minor, c.minor);
        EXPECT_EQ(v.third, c.third);
        EXPECT_EQ(v.majorDigits, c.majorDigits);
        EXPECT_EQ(v.allDigits, c.allDigits);
    }
}

TEST(FirmwareVersion, WholeVersionsCompare) {
    EXPECT_TRUE(Of("V04.01.150") < Of("V04.02.000"));
    EXPECT_TRUE(Of("V04.02.000") < Of("V04.02.001"));
    EXPECT_TRUE(Of("V03.99.999") < Of("V04.00.000"));
    EXPECT_FALSE(Of("V04.02.000") < Of("V04.02.000"));
}
