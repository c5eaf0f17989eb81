// The shipped language files against the table they are made from.
#include "lang/Language.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

struct Row {
    std::string german, english;
    size_t line;
};

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char c = s[++i];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<Row> ReadTable() {
    std::ifstream in(KELVANE_SOURCE_DIR "/tools/texts.tsv");
    std::vector<Row> rows;
    std::string line;
    size_t n = 0;
    while (std::getline(in, line)) {
        ++n;
        if (line.empty() || line[0] == '#')
            continue;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        rows.push_back({Unescape(line.substr(0, tab)), Unescape(line.substr(tab + 1)), n});
    }
    return rows;
}

const std::string kFolder = KELVANE_BIN_DIR "/language/";

TEST(LanguageTable, EveryTextTranslatesToItsEnglishText) {
    const std::vector<Row> rows = ReadTable();
    ASSERT_GT(rows.size(), 100u);
    CLanguage lang;
    lang.SetLanguageFolder(kFolder);
    lang.SetUserDataFile(kFolder + "no-user-data.csv");
    ASSERT_TRUE(lang.SetLanguage("German").Ok());
    // German shows each text as it stands, a text with spaces at its ends without them.
    auto trimmed = [](std::string t) {
        t.erase(0, t.find_first_not_of(' '));
        t.erase(t.find_last_not_of(' ') + 1);
        return t;
    };
    for (const Row& r : rows)
        EXPECT_EQ(lang.Translate(r.german), trimmed(r.german)) << "texts.tsv:" << r.line;
    const LanguageLoadResult loaded = lang.SetLanguage("english");
    ASSERT_TRUE(loaded.Ok()) << loaded.Message();
    EXPECT_EQ(loaded.entries, rows.size());
    for (const Row& r : rows)
        EXPECT_EQ(lang.Translate(r.german), r.english) << "texts.tsv:" << r.line;
    // Once shown in English, a text stays English when asked again (controls re-translated).
    for (const Row& r : rows)
        EXPECT_EQ(lang.Translate(r.english), r.english) << "texts.tsv:" << r.line;
}

TEST(LanguageTable, ShippedLanguagesAreGermanAndEnglish) {
    CLanguage lang;
    lang.SetLanguageFolder(kFolder);
    EXPECT_EQ(lang.AvailableLanguages(), (std::vector<std::string>{"english", "german"}));
}

} // namespace
