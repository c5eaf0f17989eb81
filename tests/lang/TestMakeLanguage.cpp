// tool_make_language: what it writes loads back to the table's texts, and a table it cannot
// turn into language files is refused with nothing written.
#include "lang/Language.h"
#include "tests/lang/FixtureLangFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>

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
    EXPECT_EQ(lang.Size(), 4u) << "a German text with spaces at its ends is left out";
    EXPECT_EQ(lang.Translate(" --- keine ---"), " --- keine ---");
    EXPECT_EQ(lang.Translate("Zwei\nZeilen"), "Zwei\nZeilen");
    ASSERT_TRUE(lang.SetLanguage("english").Ok());
    EXPECT_EQ(lang.Translate("Zeit"), "Time");
    EXPECT_EQ(lang.Translate("Zwei\nZeilen"), "Two\nlines");
    EXPECT_EQ(lang.Translate("C:\\Pfad"), "C:\\path");
    EXPECT_EQ(lang.Translate("Mit\tTab"), "With\ttab");
    EXPECT_EQ(lang.Translate(" --- keine ---"), "--- none ---");

    EXPECT_EQ(RunTool("--table " + dir.File("t.tsv") + " --check " + dir.Path()), 0);
    dir.Write("english.csv", dir.Read("english.csv") + std::string("x\0", 2));
    EXPECT_EQ(RunTool("--table " + dir.File("t.tsv") + " --check " + dir.Path()), 1);
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
                                         BadTable{"UnknownEscape", "Zeit\tTi\\me\n"},
                                         BadTable{"NotUtf8", "Zeit\tT\xFCme\n"},
                                         BadTable{"NoTexts", "# only a comment\n"}),
                         [](const testing::TestParamInfo<BadTable>& i) {
                             return std::string(i.param.name);
                         });

} // namespace
