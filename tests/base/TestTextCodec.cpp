#include "base/TextCodec.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Well-formed UTF-16: any mix of ASCII, the rest of the BMP (no surrogates) and pairs.
std::u16string RandomUtf16(std::mt19937& rng) {
    std::u16string s;
    const size_t length = rng() % 40;
    while (s.size() < length) {
        switch (rng() % 4) {
        case 0:
            s += static_cast<char16_t>(rng() % 0x80);
            break;
        case 1:
            s += static_cast<char16_t>(0x80 + rng() % (0xD800 - 0x80));
            break;
        case 2:
            s += static_cast<char16_t>(0xE000 + rng() % 0x2000);
            break;
        default:
            s += static_cast<char16_t>(0xD800 + rng() % 0x400);
            s += static_cast<char16_t>(0xDC00 + rng() % 0x400);
        }
    }
    return s;
}

} // namespace

TEST(TextCodec, WellFormedTextRoundTripsThroughEveryForm) {
    std::mt19937 rng(20);
    for (int i = 0; i < 5000; ++i) {
        const std::u16string text = RandomUtf16(rng);
        const std::string utf8 = Utf16ToUtf8(text);
        ASSERT_TRUE(IsValidUtf8(utf8));
        ASSERT_EQ(Utf8ToUtf16(utf8), text);
        ASSERT_EQ(EightBitToUtf16(utf8), text);
        for (bool big : {false, true}) {
            const std::string bytes = Utf16ToBytes(text, big);
            ASSERT_EQ(bytes.size(), text.size() * 2);
            ASSERT_EQ(Utf16FromBytes(bytes, big), text);
        }
    }
}

TEST(TextCodec, ArbitraryBytesNeverBreakTheDecoders) {
    // Whatever the bytes, the decoders give well-formed text that then round-trips.
    std::mt19937 rng(7);
    for (int i = 0; i < 5000; ++i) {
        std::string bytes(rng() % 24, '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng());
        // Latin-1 holds every byte: stored text survives being shown and stored again.
        EXPECT_EQ(Utf8ToLatin1(Latin1ToUtf8(bytes)), bytes);
        const std::u16string fromUtf8 = Utf8ToUtf16(bytes);
        EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(fromUtf8)), fromUtf8);
        const std::string again = Utf16ToUtf8(Utf16FromBytes(bytes, i % 2 == 0));
        EXPECT_TRUE(IsValidUtf8(again));
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(again)), again);
    }
}

TEST(TextCodec, IllFormedInputBecomesReplacementCharacters) {
    struct Case {
        const char* what;
        std::string utf8;
        std::u16string expected;
    };
    const Case cases[] = {
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"overlong three bytes", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"cut at the end", "a\xC3", u"a\uFFFD"},
        {"lone continuation", "\x80z", u"\uFFFDz"},
        {"lead without continuation", "\xC3z", u"\uFFFDz"},
        {"four bytes", "\xF0\x9F\x98\x80", u"\U0001F600"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.expected) << c.what;
        EXPECT_EQ(IsValidUtf8(c.utf8), c.expected.find(u'\uFFFD') == std::u16string::npos)
            << c.what;
    }
    const std::pair<std::string, size_t> lengths[] = {
        {"A", 1},        {"\xC3\x9Cx", 2},    {"\xE2\x82\xAC", 3}, {"\xF0\x9F\x98\x80", 4},
        {"\xC0\xAF", 0}, {"\xED\xA0\x80", 0}, {"\xC3", 0},         {"", 0},
    };
    for (const auto& [text, length] : lengths)
        EXPECT_EQ(Utf8SequenceLength(text, 0), length) << text;
    EXPECT_EQ(Utf8SequenceLength("ab", 2), 0u);
    // Unpaired surrogates, either half, anywhere.
    EXPECT_EQ(Utf16ToUtf8(u"a\xD800"), "a\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC00, u'b'}), "\xEF\xBF\xBD"
                                                         "b");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, 0xD800, 0xDC00}), "\xEF\xBF\xBD\xF0\x90\x80\x80");
}

TEST(TextCodec, ByteOrderAndOddLength) {
    EXPECT_EQ(Utf16ToBytes(u"\u00DC\u20AC", false), std::string("\xDC\x00\xAC\x20", 4));
    EXPECT_EQ(Utf16ToBytes(u"\u00DC\u20AC", true), std::string("\x00\xDC\x20\xAC", 4));
    // Half a unit at the end is dropped, not a character.
    EXPECT_EQ(Utf16FromBytes(std::string("A\0B", 3), false), u"A");
    EXPECT_EQ(Utf16FromBytes(std::string("\0A\0", 3), true), u"A");
    EXPECT_EQ(Utf16FromBytes("", false), u"");
}

TEST(TextCodec, EightBitTextIsUtf8WhenItCanBeElseWindows1252) {
    EXPECT_EQ(EightBitToUtf16("\xC3\x9C"
                              "ber"),
              u"\u00DCber");
    // The same letter as Windows-1252 text, and the code page's own characters at 0x80..0x9F;
    // its holes stay the C1 controls.
    EXPECT_EQ(EightBitToUtf16("\xDC"
                              "ber \x80\x84\x9F\x81"),
              u"\u00DCber \u20AC\u201E\u0178\u0081");
    EXPECT_EQ(Windows1252ToUtf16("\xC3\x9C"), u"\u00C3\u0153");
}
