// The comparison of two images field by field, in the units the pages show.
#include "model/ImageDiff.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct Expected {
    std::string name, oldValue, newValue;
};

ConversionContext Kind18() {
    ConversionContext ctx;
    ctx.machineKind = 18;
    ctx.SetRatios(18.2, 100);
    return ctx;
}

TEST(ImageDiff, ListsEachChangedFieldWithItsValues) {
    using P = ParameterBlock;
    struct Case {
        const char* what;
        std::function<void(ParameterBlock&)> change;
        std::vector<Expected> expected;
    };
    const std::string blanks(15, ' ');
    const Case cases[] = {
        {"nothing", [](P&) {}, {}},
        {"text field",
         [](P& b) { b.SetText(P::kOffToolId, P::kLenToolId, "LINE 4"); },
         {{"toolId", "\"" + blanks + "\"", "\"LINE 4\""}}},
        {"speed in 1/min of set 1 step 1",
         [](P& b) { b.Step(0).SetSpeed(1000); },
         {{"set1.step1.speed", "0 1/min", "183 1/min"}}},
        {"a stored value that shows alike is told apart by its bytes",
         [](P& b) { b.Step(0).SetSpeed(1991); },
         {}},
        {"time of set 2 step 2",
         [](P& b) { b.Step(6).SetTime(250); },
         {{"set2.step2.time", "0 ms", "250 ms"}}},
        {"threshold without unit, restart lock in seconds",
         [](P& b) {
             b.Step(4).SetThreshold(170);
             b.SetRestartLock(12);
         },
         {{"restartLock", "0.0 s", "1.2 s"}, {"set1.step5.threshold", "1", "100"}}},
        {"error criteria by name",
         [](P& b) { b.Step(9).SetErrorMask(kErrAngleMax | kErrTimeMin); },
         {{"set2.step5.errorMask", "0x0000 (none)", "0x0082 (Drehwinkel >, Zeit <)"}}},
        {"the end condition and its wait bit are two fields of one byte",
         [](P& b) { b.Step(2).SetNextCond(0x40 | kCondWaitRestart); },
         {{"set1.step3.condition", "0x20 (Kupplung ausgelöst)", "0x40 (unbekannt)"},
          {"set1.step3.waitRestart", "no", "yes"}}},
        {"text as show writes it: control bytes, C1, quote and backslash escaped",
         [](P& b) {
             const char hostile[] = {'A', '\x1b', '\x07', '\x85', '"', '\\', '\xe4'};
             b.SetPlace(Latin1ToUtf8(std::string_view(hostile, sizeof hostile)));
         },
         {{"place", "\"\"", "\"A\\x1B\\x07\\x85\\x22\\x5Cä\""}}},
        {"last step", [](P& b) { b.Step(1).SetLast(); }, {{"set1.step2.nextStep", "2", "last"}}},
        {"bytes no field covers",
         [](P& b) {
             b.bytes[71] = 1;
             b.bytes[72] = 2;
             b.bytes[480] = 0xAB;
         },
         {{"bytes 71-72", "00 00", "01 02"}, {"byte 480", "00", "AB"}}},
    };
    const ConversionContext ctx = Kind18();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ParameterBlock a = ParameterBlock::Default();
        ParameterBlock b = a;
        c.change(b);
        std::vector<FieldDifference> got = DiffImages(a, b, ctx);
        if (std::string(c.what).find("alike") != std::string::npos) {
            // 3333333.33 / 18.2 / 1991 rounds to 92 as 2000 does.
            a.Step(0).SetSpeed(2000);
            got = DiffImages(a, b, ctx);
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0].oldValue, "92 1/min (D0 07)");
            EXPECT_EQ(got[0].newValue, "92 1/min (C7 07)");
            continue;
        }
        ASSERT_EQ(got.size(), c.expected.size()) << DifferenceText(got);
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].name, c.expected[i].name);
            EXPECT_EQ(got[i].oldValue, c.expected[i].oldValue);
            EXPECT_EQ(got[i].newValue, c.expected[i].newValue);
        }
        // Compared the other way round, the same fields with old and new swapped.
        std::vector<FieldDifference> back = DiffImages(b, a, ctx);
        ASSERT_EQ(back.size(), got.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(back[i].newValue, got[i].oldValue);
    }
}

// Any byte that differs anywhere shows up in some entry.
TEST(ImageDiff, NoChangedByteGoesUnseen) {
    const ParameterBlock a = ParameterBlock::Default();
    for (size_t i = 0; i < ParameterBlock::kSize; ++i) {
        ParameterBlock b = a;
        b.bytes[i] ^= 0x5A;
        EXPECT_FALSE(DiffImages(a, b, Kind18()).empty()) << "byte " << i;
    }
}

TEST(ImageDiff, SettingsDifferOnlyInWhatAConfigurationCarries) {
    const ParameterBlock a = ParameterBlock::Default();
    ParameterBlock b = a;
    b.SetText(ParameterBlock::kOffToolId, ParameterBlock::kLenToolId, "X");
    b.SetTorque(500);
    EXPECT_FALSE(SettingsDiffer(a, b));
    b.Step(3).SetRamp(40);
    EXPECT_TRUE(SettingsDiffer(a, b));
    b = a;
    b.bytes[ParameterBlock::kOffBlinkNio] = 1;
    EXPECT_TRUE(SettingsDiffer(a, b));
}

} // namespace
