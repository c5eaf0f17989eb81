// tool_make_language: what it writes loads back to the table's texts, and a table it cannot
// turn into language files is refused with nothing written.
#include "lang/Language.h"
#include "tests/lang/FixtureLangFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

const std::string kTool = KELVANE_BIN_DIR "/../tools/tool_make_language";

int RunTool(const std::string& args) {
    const int status = std::system((kTool + " " + args + " 2>/dev/null >/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MakeLanguage, FilesLoadBackToTheTableTexts) {
    TempFolder dir;
    dir.Write("t.tsv", "# comment\n"
                       "Zeit\tTime\n"
                       "Zwei\\nZeilen\tTwo\\nlines\n"
                       "C:\\\\Pfad\tC:\\\\path\n"
                       "Mit\\tTab\tWith\\ttab\r\n"
                       " --- keine ---\t--- none ---\n");
    ASSERT_EQ(RunTool("--table " + dir.File("t.tsv") + " --out " + dir.Path()), 0);
    EXPECT_EQ(dir.Read("german.csv").substr(0, 2), "\xFF\xFE");

    CLanguage lang;
    lang.SetLanguageFolder(dir.Path());
    ASSERT_TRUE(lang.SetLanguage("german").Ok());
    EXPECT_EQ(lang.Size(), 5u);
    EXPECT_EQ(lang.Translate(" --- keine ---"), "--- keine ---") << "stored without its spaces";
    EXPECT_EQ(lang.Translate("Zwei\nZeilen"), "Zwei\nZeilen");
    ASSERT_TRUE(lang.SetLanguage("english").Ok());
    EXPECT_EQ(lang.Translate("Zeit"), "Time");
    EXPECT_EQ(lang.Translate("Zwei\nZeilen"), "Two\nlines");
    EXPECT_EQ(lang.Translate("C:\\Pfad"), "C:\\path");
    EXPECT_EQ(lang.Translate("Mit\tTab"), "With\ttab");
    EXPECT_EQ(lang.Translate(" --- keine ---"), "--- none ---");
    // Back to German in the same run: the German file brings back every text, also what was
    // handed out in English before.
    ASSERT_TRUE(lang.SetLanguage("german").Ok());
    EXPECT_EQ(lang.Translate("--- none ---"), "--- keine ---");
    EXPECT_EQ(lang.Translate(" --- keine ---"), "--- keine ---");
    EXPECT_EQ(lang.Translate("Time"), "Zeit");

    EXPECT_EQ(RunTool("--table " + dir.File("t.tsv") + " --check " + dir.Path()), 0);
    dir.Write("english.csv", dir.Read("english.csv") + std::string("x\0", 2));
    EXPECT_EQ(RunTool("--table " + dir.File("t.tsv") + " --check " + dir.Path()), 1);
}

// The shipped files: a key that only another language's file holds keeps that language's
// text after a switch back to German.
TEST(MakeLanguage, GermanHoldsEveryKeyOfTheOtherLanguages) {
    const std::filesystem::path folder = KELVANE_SOURCE_DIR "/data/language";
    std::vector<tagLangRecord> german;
    ASSERT_TRUE(CLanguage::ReadFile((folder / "german.csv").string(), german).Ok());
    std::set<TextDigestWords> keys;
    for (const tagLangRecord& r : german)
        keys.insert(r.key);
    size_t others = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".csv" || name == "german.csv")
            continue;
        ++others;
        std::vector<tagLangRecord> records;
        ASSERT_TRUE(CLanguage::ReadFile(entry.path().string(), records).Ok()) << name;
        for (const tagLangRecord& r : records)
            EXPECT_TRUE(keys.count(r.key))
                << name << ": " << DigestToHex(r.key) << " (" << r.utf8 << ") is not in german.csv";
    }
    EXPECT_GT(others, 0u);
}

struct BadTable {
    const char* name;
    std::string text;
};

class MakeLanguageRefuses : public testing::TestWithParam<BadTable> {};

TEST_P(MakeLanguageRefuses, WritesNothing) {
    TempFolder dir;
    dir.Write("t.tsv", GetParam().text);
    EXPECT_EQ(RunTool("--table " + dir.File("t.tsv") + " --out " + dir.Path()), 1);
    EXPECT_EQ(dir.EntryCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, MakeLanguageRefuses,
                         testing::Values(BadTable{"SameGermanTwice", "Zeit\tTime\nZeit\tPeriod\n"},
                                         BadTable{"NoTab", "Zeit Time\n"},
                                         BadTable{"TwoTabs", "Zeit\tTime\tx\n"},
                                         BadTable{"EnglishEndsInSpace", "Zeit\tTime \n"},
                                         BadTable{"EmptyEnglish", "Zeit\t\n"},
                                         BadTable{"OnlySpacesInGerman", "  \tTime\n"},
                                         BadTable{"UnknownEscape", "Zeit\tTi\\me\n"},
                                         BadTable{"NotUtf8", "Zeit\tT\xFCme\n"},
                                         BadTable{"NoTexts", "# only a comment\n"}),
                         [](const testing::TestParamInfo<BadTable>& i) {
                             return std::string(i.param.name);
                         });

} // namespace
