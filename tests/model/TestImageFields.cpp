// The one field table: what it says about the record, its JSON forms, and the rule for machine
// text on every output.
#include "model/ImageDiff.h"
#include "model/ImageFields.h"
#include "model/ImageListing.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <fstream>
#include <random>
#include <set>

namespace {

using P = ParameterBlock;
using nlohmann::json;

ConversionContext Kind18() {
    ConversionContext ctx;
    ctx.machineKind = 18;
    ctx.SetRatios(18.2, 100);
    return ctx;
}

// Bits of every byte that some field covers.
std::array<uint8_t, P::kSize> CoveredBits(std::function<bool(const ImageField&)> which) {
    std::array<uint8_t, P::kSize> bits{};
    for (const ImageField& f : ImageFields()) {
        if (!which(f))
            continue;
        for (size_t i = 0; i < f.width; ++i)
            bits[f.offset + i] |= f.mask ? static_cast<uint8_t>(f.mask >> (8 * i)) : 0xFF;
    }
    return bits;
}

TEST(ImageFields, NoTwoFieldsShareABitAndNamesAreUnique) {
    std::array<uint8_t, P::kSize> seen{};
    std::set<std::string> names;
    for (const ImageField& f : ImageFields()) {
        EXPECT_TRUE(names.insert(f.name).second) << f.name;
        ASSERT_LE(f.offset + f.width, P::kSize) << f.name;
        for (size_t i = 0; i < f.width; ++i) {
            const auto bits = f.mask ? static_cast<uint8_t>(f.mask >> (8 * i)) : uint8_t{0xFF};
            EXPECT_EQ(seen[f.offset + i] & bits, 0) << f.name << " byte " << f.offset + i;
            seen[f.offset + i] |= bits;
        }
        EXPECT_EQ(FindImageField(f.name), &f);
    }
    EXPECT_EQ(FindImageField("set2.step1.time")->offset, P::kOffSteps + 5 * 29 + 10);
    EXPECT_EQ(FindImageField("step0.time"), nullptr);
}

// The configuration group is exactly what a configuration brings to a machine: the bytes
// MergeForWrite takes from a loaded file.
TEST(ImageFields, ConfigurationGroupIsWhatAFileBringsToTheMachine) {
    const auto configuration =
        CoveredBits([](const ImageField& f) { return f.group == FieldGroup::Configuration; });
    ParameterBlock edited;
    edited.bytes.fill(0xAA);
    ParameterBlock machine;
    machine.bytes.fill(0x55);
    const ParameterBlock sent = ParameterBlock::MergeForWrite(edited, machine, kDataOriginFile);
    for (size_t i = 0; i < P::kSize; ++i) {
        EXPECT_EQ(sent.bytes[i] == 0xAA, configuration[i] != 0) << "byte " << i;
        EXPECT_TRUE(configuration[i] == 0 || configuration[i] == 0xFF) << "byte " << i;
    }
    // Identity and maintenance fields never count for a configuration.
    ParameterBlock a = ParameterBlock::Default(), b = a;
    for (const ImageField& f : ImageFields())
        if (f.group != FieldGroup::Configuration)
            for (size_t i = 0; i < f.width; ++i)
                b.bytes[f.offset + i] ^= 0xFF;
    EXPECT_FALSE(SettingsDiffer(a, b));
    EXPECT_TRUE(GroupDiffers(FieldGroup::Maintenance, a, b));
    EXPECT_TRUE(GroupDiffers(FieldGroup::Identity, a, b));
}

// Every caption part is German text of the language table, so the window can show it in the
// user's language.
TEST(ImageFields, CaptionsAreInTheLanguageTable) {
    std::ifstream in(KELVANE_SOURCE_DIR "/tools/texts.tsv");
    ASSERT_TRUE(in);
    std::set<std::string> german;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#' && line.find('\t') != std::string::npos)
            german.insert(line.substr(0, line.find('\t')));
    std::set<std::string> asked;
    auto translate = [&](std::string_view text) {
        asked.insert(std::string(text));
        return "<" + std::string(text) + ">";
    };
    for (const ImageField& f : ImageFields())
        EXPECT_FALSE(FieldCaption(f, translate).empty()) << f.name;
    for (const std::string& t : asked)
        EXPECT_TRUE(german.count(t)) << "not in tools/texts.tsv: " << t;
    EXPECT_EQ(FieldCaption(*FindImageField("set2.step1.threshold"), translate),
              "<Parametersatz 2> › <Programmschritt> 1 › <Schwelle>");
    EXPECT_EQ(FieldCaption(*FindImageField("serialNr"), translate), "<Seriennummer>");

    ParameterBlock a = ParameterBlock::Default(), b = a;
    b.bytes[72] = 1;
    b.bytes[73] = 2;
    const auto d = DiffImages(a, b, Kind18());
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(DifferenceCaption(d[0], translate), "<Bytes> 72-73");
}

TEST(ImageFields, JsonCarriesTypedValues) {
    ParameterBlock b = ParameterBlock::Default();
    b.SetSerialNr("SIM0000001");
    b.SetTorque(1234);
    b.SetBuzzerLock(1);
    b.SetRlLockPermanent(0);
    b.SetModeFlags(0x81);
    b.SetCalDate(1440 * 366 + 61);
    StepRecord s = b.Step(0);
    s.SetSpeed(2000);
    s.SetNextCond(0x40);
    s.SetErrorMask(kErrAngleMax | kErrCurrentMin);
    b.Step(1).SetLast();
    const ConversionContext ctx = Kind18();
    auto field = [&](const char* name) { return FieldJson(*FindImageField(name), b, ctx); };

    struct Case {
        const char* name;
        json expected;
    };
    const Case cases[] = {
        {"serialNr", "SIM0000001"},
        {"torque", {{"value", 12.34}, {"raw", 1234}, {"unit", "Nm"}}},
        {"buzzerLock", {{"value", true}, {"raw", 1}}},
        {"rlLockPermanent", {{"value", true}, {"raw", 0}}},
        {"modeFlags", {{"value", {{"parameterSet12", true}, {"expertMode", true}}}, {"raw", 129}}},
        {"calDate", {{"value", "2001-01-01T01:01"}, {"raw", 1440 * 366 + 61}}},
        {"passwordDigest", {{"value", "0000000000000000"}}},
        {"set1.step1.speed", {{"value", 92}, {"raw", 2000}, {"unit", "1/min"}}},
        {"set1.step1.condition", {{"value", nullptr}, {"raw", 0x40}}},
        {"set1.step1.errorMask",
         {{"value", {"Drehwinkel >", "Strom <"}}, {"raw", kErrAngleMax | kErrCurrentMin}}},
        {"set1.step2.nextStep", {{"value", nullptr}, {"raw", 255}}},
        {"set1.step1.nextStep", {{"value", 1}, {"raw", 1}}},
        {"set1.step1.type", {{"value", "Rechtslauf"}, {"raw", 0}}},
        {"set1.step1.controlled", {{"value", true}, {"raw", 1}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(field(c.name), c.expected) << c.name << ": " << field(c.name).dump();

    // show --json's object holds every field once, and what follows from the image beside.
    const json listing = ImageListingJson(b, ctx);
    EXPECT_EQ(listing["fields"].size(), ImageFields().size());
    EXPECT_EQ(listing["derived"]["machineKind"], 18);
    EXPECT_EQ(listing["derived"]["maxOutputSpeed"]["unit"], "1/min");
}

TEST(ImageFields, DifferencesAsJson) {
    ParameterBlock a = ParameterBlock::Default(), b = a;
    b.Step(5).SetTime(1200);
    b.SetToolId("LINE 4");
    b.bytes[480] = 0xAB;
    const ConversionContext ctx = Kind18();
    const json d = DifferencesJson(DiffImages(a, b, ctx), a, b, ctx, ctx);
    ASSERT_EQ(d.size(), 3u) << d.dump();
    EXPECT_EQ(d[0]["field"], "toolId");
    EXPECT_EQ(d[0]["group"], "identity");
    EXPECT_EQ(d[0]["new"], "LINE 4");
    EXPECT_EQ(d[1]["field"], "set2.step1.time");
    EXPECT_EQ(d[1]["group"], "configuration");
    EXPECT_EQ(d[1]["old"]["value"], 0);
    EXPECT_EQ(d[1]["new"], (json{{"value", 1200}, {"raw", 1200}, {"unit", "ms"}}));
    EXPECT_EQ(d[1]["newText"], "1200 ms");
    EXPECT_EQ(d[2]["field"], "byte 480");
    EXPECT_EQ(d[2]["new"]["value"], "ab");
}

TEST(ImageFields, ShownTextEscapesWhatATerminalWouldActOn) {
    struct Case {
        std::string in, shown;
    };
    const Case cases[] = {
        {"SIM0000001", "SIM0000001"},
        {"Kupplung ausgelöst", "Kupplung ausgelöst"},
        {"a\x1b[2Jb", "a\\x1B[2Jb"},
        {"bell\x07", "bell\\x07"},
        {"\x7f", "\\x7F"},
        {"q\"b\\", "q\\x22b\\x5C"},
        {"\xc2\x9b"
         "31m",
         "\\x9B31m"},               // C1 CSI as UTF-8
        {"\xe4\xff", "\\xE4\\xFF"}, // not UTF-8
        {"\xe2\x82\xac", "\xe2\x82\xac"},
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"}, // a surrogate is no character
        {"\xc0\xaf", "\\xC0\\xAF"},          // overlong
    };
    for (const Case& c : cases)
        EXPECT_EQ(ShownText(c.in), c.shown) << c.in;
    EXPECT_EQ(ShownLatin1("\x85\xe4"), "\\x85ä");
    EXPECT_EQ(JsonText("ok\xe4"), "ok\xc3\xa4");
}

bool HasControlByte(const std::string& text, bool newlineAllowed) {
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && !(newlineAllowed && c == '\n')) || c == 0x7F)
            return true;
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) < 0xA0)
            return true;
    }
    return false;
}

// Whatever bytes an image holds: every human line is free of control characters, the JSON
// parses, and each text field comes back from it byte for byte.
TEST(ImageFields, AnyImageGivesSafeLinesAndJsonThatParses) {
    std::mt19937 rng(20);
    std::uniform_int_distribution<int> byte(0, 255);
    const ConversionContext ctx = Kind18();
    for (int round = 0; round < 300; ++round) {
        ParameterBlock b;
        for (uint8_t& c : b.bytes)
            c = static_cast<uint8_t>(byte(rng));
        for (const std::string& line : ListImage(b, ctx))
            ASSERT_FALSE(HasControlByte(line, false)) << line;
        const std::string out = DumpJson(ImageListingJson(b, ctx));
        ASSERT_FALSE(HasControlByte(out, true));
        const json back = json::parse(out, nullptr, false);
        ASSERT_FALSE(back.is_discarded()) << out;
        for (const ImageField& f : ImageFields()) {
            if (f.kind != FieldKind::Text && f.kind != FieldKind::Version)
                continue;
            std::string raw;
            for (size_t i = 0; i < f.width && b.bytes[f.offset + i]; ++i)
                raw.push_back(static_cast<char>(b.bytes[f.offset + i]));
            ASSERT_EQ(Utf8ToLatin1(back["fields"][f.name].get<std::string>()), raw) << f.name;
        }
        ParameterBlock other = ParameterBlock::Default();
        ASSERT_FALSE(HasControlByte(DifferenceText(DiffImages(other, b, ctx)), true));
    }
}

} // namespace
