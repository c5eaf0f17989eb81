#include <gtest/gtest.h>

#include "model/IniFile.h"
#include "tests/TempDir.h"

namespace {

IniFile Parsed(std::string_view text) {
    IniFile ini;
    ini.Parse(text);
    return ini;
}

} // namespace

TEST(IniFile, NamesIgnoreCaseAndBlanks) {
    IniFile ini = Parsed("[Motor]\n"
                         "  max_Schwelle = 170  \n"
                         "MINDREHZAHL_TVX18=50\n"
                         "[ SETTINGS ]\n"
                         "Sprache=english\n");
    EXPECT_EQ(ini.GetInt("MOTOR", "max_Schwelle ", 0), 170);
    EXPECT_EQ(ini.GetInt("motor", "mindrehzahl_tvx18", 0), 50);
    EXPECT_EQ(ini.GetString("settings", "SPRACHE"), "english");
    EXPECT_EQ(ini.GetString("SETTINGS", "TEMPLATE", "Torvex.html"), "Torvex.html");
    EXPECT_EQ(ini.GetString("NOPE", "Sprache", "x"), "x");
    // A key belongs to its own section only.
    EXPECT_EQ(ini.GetInt("SETTINGS", "max_Schwelle", -1), -1);
}

TEST(IniFile, FirstSectionAndKeyWin) {
    IniFile ini = Parsed("k=before any section\n[A]\nk=1\nk=2\n[a]\nk=3\nz=4\n");
    EXPECT_EQ(ini.GetInt("A", "k", 0), 1);
    EXPECT_EQ(ini.GetInt("A", "z", 0), 0);
    EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"A"}));
    EXPECT_EQ(ini.Keys("a"), (std::vector<std::string>{"k"}));
}

TEST(IniFile, TextComesBackUnchanged) {
    const char* texts[] = {
        "",
        "[A]\nk=v\n",
        "[A]\r\nk=v\r\n; comment\r\n\r\n",
        "[A]\nk=v",               // no line end at the end
        "\xEF\xBB\xBF[A]\nk=v\n", // byte order mark
        "[A]\rk=v\r",             // old Mac line ends
        "garbage\n[broken\n=novalue\n  # x\n[A]\n\tk\t=\t v w \t\n[B]\n",
        "[A]\r\nmixed=1\nends=2\r\n",
    };
    for (const char* t : texts) {
        SCOPED_TRACE(t);
        EXPECT_EQ(Parsed(t).ToString(), t);
    }
}

TEST(IniFile, CrLfValuesAndNewLines) {
    IniFile ini = Parsed("[COM_PORT]\r\nCOMPORT=2\r\n");
    EXPECT_EQ(ini.GetString("COM_PORT", "COMPORT"), "2");
    ASSERT_TRUE(ini.SetString("SETTINGS", "SPRACHE", "english"));
    EXPECT_EQ(ini.ToString(), "[COM_PORT]\r\nCOMPORT=2\r\n[SETTINGS]\r\nSPRACHE=english\r\n");
}

TEST(IniFile, SetKeepsEverythingElse) {
    const std::string text = "; settings of the program\n"
                             "[COM_PORT]\n"
                             "comport = 1   \n"
                             "; chosen by the user\n"
                             "FUTURE_KEY=keep me\n"
                             "this line means nothing\n"
                             "\n"
                             "[SETTINGS]\n"
                             "SPRACHE=german\n"
                             "[OTHER]\n"
                             "x=y";
    IniFile ini = Parsed(text);
    ASSERT_TRUE(ini.SetInt("com_port", "COMPORT", 3));
    ASSERT_TRUE(ini.SetString("SETTINGS", "TEMPLATE", "/home/t/Torvex.html"));
    ASSERT_TRUE(ini.SetString("NEW", "k", "v"));
    EXPECT_EQ(ini.ToString(), "; settings of the program\n"
                              "[COM_PORT]\n"
                              "comport=3\n"
                              "; chosen by the user\n"
                              "FUTURE_KEY=keep me\n"
                              "this line means nothing\n"
                              "\n"
                              "[SETTINGS]\n"
                              "SPRACHE=german\n"
                              "TEMPLATE=/home/t/Torvex.html\n"
                              "[OTHER]\n"
                              "x=y\n"
                              "[NEW]\n"
                              "k=v\n");
    EXPECT_TRUE(ini.Remove("settings", "sprache"));
    EXPECT_FALSE(ini.Remove("settings", "sprache"));
    EXPECT_EQ(ini.GetString("SETTINGS", "SPRACHE", "gone"), "gone");
}

TEST(IniFile, Numbers) {
    IniFile ini = Parsed("[N]\na=12\nb= -3 \nc=12abc\nd=\ne=99999999999\nf=+7\n"
                         "g=15000 ; Nm\nh=abc\ni=-\nj=-8x\n"
                         "r=18.2\ns=18,2\nt=1e3\n");
    // The leading number counts; a value without digits or beyond int keeps the default.
    struct {
        const char* key;
        int expected;
    } ints[] = {{"a", 12},    {"b", -3}, {"c", 12}, {"d", 42}, {"e", 42},      {"f", 7},
                {"g", 15000}, {"h", 42}, {"i", 42}, {"j", -8}, {"missing", 42}};
    for (const auto& c : ints)
        EXPECT_EQ(ini.GetInt("N", c.key, 42), c.expected) << c.key;
    EXPECT_DOUBLE_EQ(ini.GetDouble("N", "r", 0), 18.2);
    EXPECT_DOUBLE_EQ(ini.GetDouble("N", "s", -1), -1);
    EXPECT_DOUBLE_EQ(ini.GetDouble("N", "t", -1), 1000);

    ASSERT_TRUE(ini.SetDouble("N", "ratio", 25.662, 3));
    EXPECT_EQ(ini.GetString("N", "ratio"), "25.662");
}

TEST(IniFile, ValueLengthLimit) {
    const std::string ok(259, 'a');
    const std::string tooLong(260, 'a');
    const std::string umlauts = [] {
        std::string s;
        for (int i = 0; i < 259; ++i)
            s += "ä"; // 259 characters, 518 bytes
        return s;
    }();
    IniFile ini = Parsed("[S]\nok=" + ok + "\nlong=" + tooLong + "\nwide=" + umlauts + "\n");
    EXPECT_EQ(ini.GetString("S", "ok"), ok);
    EXPECT_EQ(ini.GetString("S", "wide"), umlauts);
    // Too long to be what the program wrote: not taken, not cut, but kept in the file.
    EXPECT_EQ(ini.GetString("S", "long", "default"), "default");
    EXPECT_EQ(ini.Find("S", "long"), tooLong);

    const std::string before = ini.ToString();
    EXPECT_FALSE(ini.SetString("S", "ok", tooLong));
    EXPECT_TRUE(ini.SetString("S", "ok", ok));
    EXPECT_EQ(ini.ToString(), before);
}

TEST(IniFile, RefusesWhatWouldBreakTheFile) {
    IniFile ini = Parsed("[S]\nk=v\n");
    const std::string before = ini.ToString();
    struct {
        const char* section;
        const char* key;
        std::string value;
    } cases[] = {
        {"S", "k", "two\nlines"},
        {"S", "k", "cr\rhere"},
        {"S", "a=b", "v"},
        {"S", "", "v"},
        {"S", "  ", "v"},
        {"S]", "k", "v"},
        {"", "k", "v"},
        {"S", "[T]", "v"},
        {"S", ";c", "v"},
        {"S\n[T", "k", "v"},
        {"S", "k", std::string("nul\0x", 5)},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(ini.SetString(c.section, c.key, c.value)) << c.section << "/" << c.key;
        EXPECT_EQ(ini.ToString(), before);
    }
}

TEST(IniFile, LoadAndSave) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string path = dir.File("Kelvane.ini");

    IniFile ini;
    std::string error;
    EXPECT_FALSE(ini.Load(path, &error));
    EXPECT_NE(error.find("Kelvane.ini"), std::string::npos);
    EXPECT_TRUE(ini.Sections().empty());

    dir.Write("Kelvane.ini", "[COM_PORT]\r\nCOMPORT=1\r\n; mine\r\n");
    ASSERT_TRUE(ini.Load(path));
    ASSERT_TRUE(ini.SetInt("COM_PORT", "COMPORT", 2));
    ASSERT_TRUE(ini.Save(path, &error)) << error;
    EXPECT_EQ(dir.Read("Kelvane.ini"), "[COM_PORT]\r\nCOMPORT=2\r\n; mine\r\n");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"Kelvane.ini"});

    // A folder that does not exist: reported, nothing created.
    EXPECT_FALSE(ini.Save(dir.File("missing/Kelvane.ini"), &error));
    EXPECT_FALSE(error.empty());
}

TEST(IniFile, Utf16TextRoundTripsInItsEncoding) {
    // "[A]\r\nk=Über 😀\r\n" as UTF-16LE with its mark.
    const std::u16string units = u"[A]\r\nk=\u00DCber \U0001F600\r\n";
    std::string le = "\xFF\xFE";
    for (char16_t u : units) {
        le += static_cast<char>(u & 0xFF);
        le += static_cast<char>(u >> 8);
    }
    IniFile ini;
    ini.Parse(le);
    EXPECT_EQ(ini.GetString("A", "k"), "\xC3\x9C"
                                       "ber \xF0\x9F\x98\x80");
    EXPECT_EQ(ini.ToString(), le) << "unchanged text comes back byte for byte";
    ASSERT_TRUE(ini.SetString("A", "n", "1"));
    const std::string out = ini.ToString();
    EXPECT_EQ(out.substr(0, le.size()), le);
    EXPECT_EQ(out.substr(le.size()), std::string("n\0=\0"
                                                 "1\0\r\0\n\0",
                                                 10));
    // A lone last byte is dropped, not read as a character.
    ini.Parse(le + "x");
    EXPECT_EQ(ini.GetString("A", "k"), "\xC3\x9C"
                                       "ber \xF0\x9F\x98\x80");
}
