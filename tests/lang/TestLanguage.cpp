#include "base/TextCodec.h"
#include "lang/Language.h"
#include "tests/BadInput.h"
#include "tests/lang/FixtureLangFiles.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <unistd.h>

namespace {

// A language folder with files made of (German, text) pairs.
class LanguageTest : public testing::Test {
protected:
    using Pairs = std::vector<std::pair<std::string, std::string>>;

    void SetUp() override { lang.SetLanguageFolder(dir.Path()); }

    void File(const std::string& name, const Pairs& pairs) {
        std::string text;
        for (const auto& [german, translated] : pairs)
            text += EntryLine(german, translated) + "\r\n";
        dir.Write(name, Utf16Le(text));
    }

    TempFolder dir;
    CLanguage lang;
};

struct LineCase {
    const char* name;
    std::string line; // "@" stands for the 40 key digits of "Wort"
    bool entry;
    std::string text;
    TextDigestWords key = TextDigest("Wort");
};

class ParseLine : public testing::TestWithParam<LineCase> {};

TEST_P(ParseLine, Rules) {
    const LineCase& c = GetParam();
    std::string line = c.line;
    if (const size_t at = line.find('@'); at != line.npos)
        line.replace(at, 1, DigestToHex(TextDigest("Wort")));
    tagLangRecord r;
    EXPECT_EQ(CLanguage::ParseLine(Utf8ToUtf16(line), r), c.entry);
    if (c.entry) {
        EXPECT_EQ(r.utf8, c.text);
        EXPECT_EQ(r.key, c.key);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseLine,
    testing::Values(
        LineCase{"Plain", "@\tword", true, "word"},
        LineCase{"SpacesAroundDropped", "@\t  two  ", true, "two"},
        LineCase{"OnlySpaces", "@\t   ", false, ""}, LineCase{"NoTab", "@ word", false, ""},
        LineCase{"Comment", ";@\tword", false, ""}, LineCase{"Empty", "", false, ""},
        LineCase{"BackslashN", "@\ta\\nb", true, "a\nb"},
        LineCase{"TwoBackslashes", "@\ta\\\\b", true, "a\\b"},
        LineCase{"BackslashOther", "@\ta\\tb", true, "a\\b"},
        LineCase{"BackslashAtEnd", "@\tend\\", true, "end\\"},
        LineCase{"FurtherTabsAreText", "@\tx\ty", true, "x\ty"},
        LineCase{"CutAtCr", "@\tword\rrest", true, "word"},
        LineCase{"Utf8Mark", "\xEF\xBB\xBF@\tword", true, "word"},
        LineCase{"KeySpacesTolerated", " @ \tword", true, "word"},
        // The key is read as up to five groups of up to eight digits; what follows is ignored,
        // missing groups stay zero.
        LineCase{"TextAfterKeyIgnored", "@ German source\tword", true, "word"},
        LineCase{"ShortKeyKept", "ABCDEF\tword", true, "word", {0xABCDEF, 0, 0, 0, 0}},
        LineCase{"ShortLastGroup", "0000000100000002A\tw", true, "w", {1, 2, 0xA, 0, 0}},
        LineCase{"GroupEndsAtNonHex", "12G34\tw", true, "w", {0x12, 0, 0, 0, 0}},
        LineCase{"HeaderLineHasZeroKey", "key\ttext", true, "text", {}},
        LineCase{"NotHex", "ZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZ\tword", true, "word", {}}),
    [](const testing::TestParamInfo<LineCase>& i) { return std::string(i.param.name); });

TEST(ParseLineKey, LowerCaseHexIsTheSameKey) {
    std::string hex = DigestToHex(TextDigest("Wort"));
    for (char& c : hex)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    tagLangRecord r;
    ASSERT_TRUE(CLanguage::ParseLine(Utf8ToUtf16(hex + "\tw"), r));
    EXPECT_EQ(r.key, TextDigest("Wort"));
}

TEST(TextDigest, IsSha1OfUtf16LeUnits) {
    // SHA-1 of the bytes 76 00 6F 00 6E 00 ("von" as UTF-16LE).
    EXPECT_EQ(DigestToHex(TextDigest("von")), "EF8DA6CB14CBCB8D7031238AFAF39B4BF882A1B6");
    EXPECT_EQ(TextDigest(u"Übertragung"), TextDigest("Übertragung"));
}

TEST_F(LanguageTest, HitsMissesAndEmpty) {
    File("German.csv", {{"von Maschine", "von Maschine"}});
    File("english.csv", {{"von Maschine", "From machine"}, {"Typ", "Type"}});
    ASSERT_TRUE(lang.SetLanguage("German").Ok());
    ASSERT_TRUE(lang.SetLanguage("english").Ok());
    EXPECT_EQ(lang.Translate("von Maschine"), "From machine");
    EXPECT_EQ(lang.Translate(u"Typ"), u"Type");
    EXPECT_EQ(lang.Translate("unbekannt"), "unbekannt");
    EXPECT_EQ(lang.Translate(""), "");
    EXPECT_EQ(lang.Translate(std::u16string_view()), u"");
    EXPECT_EQ(lang.LanguageName(), "english");
    EXPECT_EQ(lang.LanguageFilePath(), dir.File("english.csv"));
    // Asked again (answered from the memo) the answers stay the same.
    EXPECT_EQ(lang.Translate("von Maschine"), "From machine");
    EXPECT_EQ(lang.Translate("unbekannt"), "unbekannt");
}

TEST_F(LanguageTest, NameBeforeFirstLoadAndAfterFailedLoad) {
    EXPECT_EQ(lang.LanguageName(), "English");
    EXPECT_FALSE(lang.SetLanguage("klingonisch").Ok());
    EXPECT_EQ(lang.LanguageName(), "English");
    EXPECT_EQ(lang.Size(), 0u);
    EXPECT_EQ(lang.Translate("Typ"), "Typ") << "after a failed first load all stays German";
}

TEST_F(LanguageTest, IdentityEntryKeepsCurrentDigestZero) {
    File("German.csv", {{"Typ", "Typ"}});
    ASSERT_TRUE(lang.SetLanguage("German").Ok());
    EXPECT_EQ(lang.Translate("Typ"), "Typ");
    ASSERT_EQ(lang.Size(), 1u);
    EXPECT_EQ(lang.Entries()[0].current, TextDigestWords{});
}

TEST_F(LanguageTest, TextsHandedOutBeforeAreRecognisedTwoChangesBack) {
    File("a.csv", {{"Rechtslauf", "Clockwise"}});
    File("b.csv", {{"Rechtslauf", "Sens horaire"}});
    File("c.csv", {{"Rechtslauf", "Destrorso"}});
    ASSERT_TRUE(lang.SetLanguage("a").Ok());
    EXPECT_EQ(lang.Translate("Rechtslauf"), "Clockwise");
    ASSERT_TRUE(lang.SetLanguage("b").Ok());
    // A control still showing the English text gets the new one.
    EXPECT_EQ(lang.Translate("Clockwise"), "Sens horaire");
    EXPECT_EQ(lang.Translate("Clockwise"), "Sens horaire") << "by the previous digest";
    ASSERT_TRUE(lang.SetLanguage("c").Ok());
    EXPECT_EQ(lang.Translate("Sens horaire"), "Destrorso");
    EXPECT_EQ(lang.Translate("Sens horaire"), "Destrorso");
    EXPECT_EQ(lang.Translate("Clockwise"), "Clockwise") << "three changes old";
    EXPECT_EQ(lang.Translate("Rechtslauf"), "Destrorso");
}

TEST_F(LanguageTest, FirstEntryInTableOrderAnswers) {
    // "Ein" hands out "On"; "On" is also another entry's own source text. The earlier entry
    // recognises its handed-out text first.
    File("x.csv", {{"Ein", "On"}, {"On", "Auf"}});
    ASSERT_TRUE(lang.SetLanguage("x").Ok());
    EXPECT_EQ(lang.Translate("On"), "Auf") << "nothing handed out yet: by key";
    EXPECT_EQ(lang.Translate("Ein"), "On");
    EXPECT_EQ(lang.Translate("On"), "On") << "entry 1 knows \"On\" by its current digest";

    CLanguage other;
    other.SetLanguageFolder(dir.Path());
    File("y.csv", {{"On", "Auf"}, {"Ein", "On"}});
    ASSERT_TRUE(other.SetLanguage("y").Ok());
    EXPECT_EQ(other.Translate("Ein"), "On");
    EXPECT_EQ(other.Translate("On"), "Auf");
}

TEST_F(LanguageTest, SameKeyTwiceInOneFile) {
    File("x.csv", {{"Zeit", "first"}, {"Strom", "Current"}, {"Zeit", "Time"}});
    const LanguageLoadResult r = lang.SetLanguage("x");
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(r.entries, 3u);
    ASSERT_EQ(lang.Size(), 2u);
    EXPECT_EQ(lang.Entries()[0].utf8, "Time") << "second text, first position";
    EXPECT_EQ(lang.Translate("Zeit"), "Time");
}

TEST_F(LanguageTest, SwitchKeepsKeysOnlyTheEarlierFileHad) {
    File("German.csv", {{"Zeit", "Zeit"}, {"Strom", "Strom"}, {"Grad", "Grad"}});
    File("english.csv", {{"Zeit", "Time"}, {"Strom", "Current"}});
    File("francais.csv", {{"Zeit", "Temps"}});
    ASSERT_TRUE(lang.SetLanguage("German").Ok());
    ASSERT_TRUE(lang.SetLanguage("english").Ok());
    ASSERT_TRUE(lang.SetLanguage("francais").Ok());
    EXPECT_EQ(lang.Translate("Zeit"), "Temps");
    EXPECT_EQ(lang.Translate("Strom"), "Current");
    EXPECT_EQ(lang.Translate("Grad"), "Grad");
    EXPECT_EQ(lang.Size(), 3u);
}

TEST_F(LanguageTest, UserEntriesOverrideEveryLanguage) {
    File("english.csv", {{"Zeit", "Time"}, {"Strom", "Current"}});
    File("francais.csv", {{"Zeit", "Temps"}});
    File("UserData.csv", {{"Zeit", "Cycle time"}, {"Eigener Text", "Own text"}});
    ASSERT_TRUE(lang.SetLanguage("english").Ok());
    EXPECT_EQ(lang.UserEntryCount(), 2u);
    EXPECT_TRUE(lang.UserDataResult().Ok());
    EXPECT_EQ(lang.Translate("Zeit"), "Cycle time");
    EXPECT_EQ(lang.Translate("Eigener Text"), "Own text");
    EXPECT_EQ(lang.Translate("Strom"), "Current");
    // Read once: a later change of the file is not seen, the entries still win.
    File("UserData.csv", {{"Zeit", "changed"}});
    ASSERT_TRUE(lang.SetLanguage("francais").Ok());
    EXPECT_EQ(lang.Translate("Zeit"), "Cycle time");
}

TEST_F(LanguageTest, MissingUserDataIsLookedForAgain) {
    File("english.csv", {{"Zeit", "Time"}});
    ASSERT_TRUE(lang.SetLanguage("english").Ok());
    EXPECT_EQ(lang.UserDataResult().status, LanguageLoadStatus::Missing);
    EXPECT_EQ(lang.UserEntryCount(), 0u);
    File("UserData.csv", {{"Zeit", "Cycle time"}});
    ASSERT_TRUE(lang.SetLanguage("english").Ok());
    EXPECT_EQ(lang.Translate("Zeit"), "Cycle time");
}

TEST_F(LanguageTest, UserDataFileCanLiveElsewhere) {
    TempFolder user;
    user.Write("mine.csv", Utf16Le(EntryLine("Zeit", "My time")));
    File("english.csv", {{"Zeit", "Time"}});
    lang.SetUserDataFile(user.File("mine.csv"));
    EXPECT_EQ(lang.UserDataFile(), user.File("mine.csv"));
    ASSERT_TRUE(lang.SetLanguage("english").Ok());
    EXPECT_EQ(lang.Translate("Zeit"), "My time");
}

// Malformed lines, a cut-off last unit or a file without a single entry never cost the good
// lines: the file loads what it has, without a message.
struct PartlyBadCase {
    const char* name;
    std::string bytes;
    const char* zeit; // what "Zeit" translates to afterwards
};

std::string Uhrzeit() {
    return EntryLine("Zeit", "Uhrzeit");
}

class PartlyBadFile : public testing::TestWithParam<PartlyBadCase> {};

TEST_P(PartlyBadFile, LoadsWhatItHas) {
    const PartlyBadCase& c = GetParam();
    TempFolder dir;
    CLanguage lang;
    lang.SetLanguageFolder(dir.Path());
    dir.Write("english.csv",
              Utf16Le(EntryLine("Zeit", "Time") + "\r\n" + EntryLine("Strom", "Current") + "\r\n"));
    ASSERT_TRUE(lang.SetLanguage("english").Ok());

    dir.Write("other.csv", c.bytes);
    const LanguageLoadResult r = lang.SetLanguage("other");
    EXPECT_TRUE(r.Ok()) << r.Message();
    EXPECT_EQ(lang.LanguageName(), "other");
    EXPECT_EQ(lang.Translate("Zeit"), c.zeit);
    EXPECT_EQ(lang.Translate("Strom"), "Current") << "an earlier entry is never lost";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PartlyBadFile,
    testing::Values(
        PartlyBadCase{"HeaderShortKeyAndTextAfterKey",
                      Utf16Le("Schlüssel\tText\r\n1234\tkurz\r\n" + Uhrzeit() + "\r\n" +
                              DigestToHex(TextDigest("Strom")) + "; Strom\tCurrent\r\n"),
                      "Uhrzeit"},
        PartlyBadCase{"OddLengthUtf16", Utf16Le(Uhrzeit() + "\r\n") + "x", "Uhrzeit"},
        PartlyBadCase{"OddLengthInLastLine", Utf16Le(Uhrzeit()) + "x", "Uhrzeit"},
        PartlyBadCase{"TextWithoutEntries", Utf16Le("Zeit;Time\r\nStrom;Current\r\n"), "Time"},
        PartlyBadCase{"BinaryGarbage", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), "Time"}),
    [](const testing::TestParamInfo<PartlyBadCase>& i) { return std::string(i.param.name); });

TEST_F(LanguageTest, UserDataWithAMalformedLineKeepsItsEntries) {
    File("english.csv", {{"Zeit", "Time"}});
    dir.Write("UserData.csv", Utf16Le("; meine Texte\r\nSchlüssel\tText\r\n12\tx\r\n" +
                                      EntryLine("Zeit", "My time") + "\r\n"));
    ASSERT_TRUE(lang.SetLanguage("english").Ok());
    EXPECT_TRUE(lang.UserDataResult().Ok());
    EXPECT_EQ(lang.Translate("Zeit"), "My time");
}

TEST_F(LanguageTest, BadInputsKeepTheTableAndName) {
    File("english.csv", {{"Zeit", "Time"}});
    ASSERT_TRUE(lang.SetLanguage("english").Ok());
    const auto inputs = MakeBadInputs(dir.Path(), "bad");
    ASSERT_FALSE(inputs.empty());
    ASSERT_EQ(symlink("/dev/null", dir.File("device.csv").c_str()), 0);
    for (const BadInput& in : inputs) {
        SCOPED_TRACE(in.what);
        const std::string name = in.what == "device" ? "device" : "bad";
        if (in.what != "device") {
            std::filesystem::remove(dir.File("bad.csv"));
            ASSERT_EQ(symlink(in.path.c_str(), dir.File("bad.csv").c_str()), 0);
        }
        const std::string before = lang.LanguageName();
        const LanguageLoadResult r = lang.SetLanguage(name);
        if (in.what == "empty file") {
            EXPECT_TRUE(r.Ok());
        } else {
            EXPECT_FALSE(r.Ok());
            EXPECT_FALSE(r.detail.empty());
            EXPECT_EQ(lang.LanguageName(), before);
        }
        EXPECT_EQ(lang.Translate("Zeit"), "Time");
    }
    // The same in the user entries: a FIFO there neither hangs nor loses the language file.
    std::filesystem::remove(dir.File("UserData.csv"));
    ASSERT_EQ(symlink(inputs[0].path.c_str(), dir.File("UserData.csv").c_str()), 0);
    EXPECT_TRUE(lang.SetLanguage("english").Ok());
    EXPECT_EQ(lang.Translate("Zeit"), "Time");
}

TEST(LanguageBytes, MemoryReadsLikeAFile) {
    std::vector<tagLangRecord> out;
    const auto r = CLanguage::ReadBytes(Utf16Le(EntryLine("Zeit", "Time") + "\r\n"), out);
    EXPECT_TRUE(r.Ok());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].key, TextDigest("Zeit"));
    EXPECT_EQ(out[0].utf8, "Time");
}

TEST_F(LanguageTest, NamesThatLeaveTheFolderAreRefused) {
    TempFolder outside;
    outside.Write("evil.csv", Utf16Le(EntryLine("Zeit", "evil")));
    File("english.csv", {{"Zeit", "Time"}});
    ASSERT_TRUE(lang.SetLanguage("english").Ok());
    for (const std::string& name : {std::string("../") + outside.Path() + "evil", std::string(".."),
                                    std::string(""), outside.Path() + "evil"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(lang.SetLanguage(name).status, LanguageLoadStatus::Missing);
        EXPECT_EQ(lang.Translate("Zeit"), "Time");
    }
}

TEST_F(LanguageTest, DeviceInPlaceOfAFileIsRefused) {
    File("english.csv", {{"Zeit", "Time"}});
    ASSERT_TRUE(lang.SetLanguage("english").Ok());
    ASSERT_EQ(symlink("/dev/zero", dir.File("zero.csv").c_str()), 0);
    EXPECT_EQ(lang.SetLanguage("zero").status, LanguageLoadStatus::Missing);
    EXPECT_EQ(lang.Translate("Zeit"), "Time");
}

TEST_F(LanguageTest, EmptyAndCommentOnlyFilesLoadNothing) {
    File("english.csv", {{"Zeit", "Time"}});
    ASSERT_TRUE(lang.SetLanguage("english").Ok());
    dir.Write("leer.csv", "");
    dir.Write("kommentar.csv", Utf16Le("; nothing yet\r\n\r\n"));
    EXPECT_TRUE(lang.SetLanguage("leer").Ok());
    EXPECT_TRUE(lang.SetLanguage("kommentar").Ok());
    EXPECT_EQ(lang.Translate("Zeit"), "Time");
}

TEST_F(LanguageTest, EightBitFileWithoutMark) {
    dir.Write("alt.csv", EntryLine("Zeit", "Zeitüberschreitung") + "\r\n" +
                             EntryLine("Strom", "Courant \x80") + "\n");
    const LanguageLoadResult r = lang.SetLanguage("alt");
    ASSERT_TRUE(r.Ok()) << r.Message();
    EXPECT_EQ(lang.Translate("Zeit"), "Zeitüberschreitung") << "UTF-8";
    EXPECT_EQ(lang.Translate("Strom"), "Courant €") << "Windows-1252";
}

TEST_F(LanguageTest, FileNamesMatchRegardlessOfCase) {
    File("German.csv", {{"Zeit", "Zeit (de)"}});
    ASSERT_TRUE(lang.SetLanguage("german").Ok());
    EXPECT_EQ(lang.LanguageFilePath(), dir.File("German.csv"));
    EXPECT_EQ(lang.Translate("Zeit"), "Zeit (de)");
    ASSERT_TRUE(lang.SetLanguage("GERMAN").Ok());
}

TEST_F(LanguageTest, SameFileAgainIsMergedAgainAndAnEditIsSeen) {
    File("german.csv", {{"Zeit", "Zeit (de)"}});
    File("english.csv", {{"Zeit", "Time"}});
    ASSERT_TRUE(lang.SetLanguage("German").Ok());
    ASSERT_TRUE(lang.SetLanguage("english").Ok());
    ASSERT_EQ(lang.Translate("Zeit"), "Time");
    const LanguageLoadResult again = lang.SetLanguage("GERMAN");
    ASSERT_TRUE(again.Ok());
    EXPECT_EQ(again.entries, 1u);
    EXPECT_EQ(again.path, dir.File("german.csv"));
    EXPECT_EQ(lang.Translate("Zeit"), "Zeit (de)");
    EXPECT_EQ(lang.LanguageName(), "GERMAN");
    // Same size, same second: only the bytes tell the edit.
    File("german.csv", {{"Zeit", "Zeit (DE)"}});
    ASSERT_TRUE(lang.SetLanguage("german").Ok());
    EXPECT_EQ(lang.Translate("Zeit"), "Zeit (DE)");
}

TEST_F(LanguageTest, AvailableLanguagesAreTheCsvFilesWithoutUserData) {
    File("german.csv", {});
    File("English.csv", {});
    File("francais.CSV", {});
    File("UserData.csv", {});
    dir.Write("readme.txt", "x");
    dir.Write(".csv", "x");
    EXPECT_EQ(lang.AvailableLanguages(),
              (std::vector<std::string>{"English", "francais", "german"}));
    CLanguage none;
    none.SetLanguageFolder(dir.File("fehlt"));
    EXPECT_TRUE(none.AvailableLanguages().empty());
}

TEST_F(LanguageTest, NumbersUseAPointAfterSetLanguage) {
    File("english.csv", {{"Zeit", "Time"}});
    lang.SetLanguage("english");
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f", 2.5);
    EXPECT_STREQ(buf, "2.5");
}

TEST_F(LanguageTest, ProgramTableThroughFreeFunctions) {
    File("German.csv", {{"Zeit", "Zeit"}});
    File("english.csv", {{"Zeit", "Time"}});
    Language().Clear();
    SetLanguageFolder(dir.Path());
    ASSERT_TRUE(SetLanguage("German").Ok());
    ASSERT_TRUE(SetLanguage("english").Ok());
    EXPECT_EQ(Translate("Zeit"), "Time");
    EXPECT_EQ(Translate(u"Zeit"), u"Time");
    Language().Clear();
    EXPECT_EQ(Translate("Zeit"), "Zeit");
}

} // namespace
