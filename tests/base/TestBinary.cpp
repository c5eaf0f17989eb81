#include "base/Hex.h"
#include "base/LittleEndian.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

TEST(LittleEndian, LeastSignificantByteFirstAtAnyAddress) {
    uint8_t bytes[7] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    StoreLe32(bytes + 1, 0x12345678);
    StoreLe16(bytes + 5, 0x9ABC);
    const uint8_t expected[7] = {0xAA, 0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(bytes[i], expected[i]) << i;
    EXPECT_EQ(LoadLe32(bytes + 1), 0x12345678u);
    EXPECT_EQ(LoadLe16(bytes + 5), 0x9ABC);
    // The top bit of each byte stays a value bit, never a sign.
    const uint8_t high[4] = {0xFF, 0xFE, 0x80, 0xF0};
    EXPECT_EQ(LoadLe32(high), 0xF080FEFFu);
    EXPECT_EQ(LoadLe16(high), 0xFEFF);
}

TEST(Hex, DigitsOfEitherCaseAndNothingElse) {
    for (int c = -1; c < 0x10000; ++c) {
        int expected = -1;
        if (c >= '0' && c <= '9')
            expected = c - '0';
        else if (c >= 'a' && c <= 'f')
            expected = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            expected = c - 'A' + 10;
        ASSERT_EQ(HexDigit(c), expected) << c;
    }
    EXPECT_EQ(HexDigit(EOF), -1);
    EXPECT_EQ(HexDigit(static_cast<char>(0xC6)), -1); // a signed char beyond ASCII
    for (unsigned v = 0; v < 32; ++v)
        EXPECT_EQ(HexDigit(HexChar(v)), static_cast<int>(v & 0xF));
    EXPECT_EQ(HexChar(0xB), 'B');
}
