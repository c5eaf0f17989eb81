#include "app/Folders.h"
#include "app/Settings.h"
#include "tests/BadInput.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "kelvane-settings-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        file = dir / "Torvex Kelvane_R4.ini";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }
    void Write(const std::string& text) { std::ofstream(file, std::ios::binary) << text; }
    std::string Read() const {
        std::ifstream in(file, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static void WriteBytes(const fs::path& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
    }
    static std::string ReadText(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    Settings Load(const std::string& text) {
        Write(text);
        Settings s;
        EXPECT_EQ(LoadSettings(file, s), 0);
        return s;
    }

    fs::path dir;
    fs::path file;
};

} // namespace

TEST_F(SettingsTest, MissingFileGivesDefaults) {
    Settings s;
    EXPECT_EQ(LoadSettings(dir / "absent.ini", s), 0);
    EXPECT_EQ(s.comPortIndex, 1);
    EXPECT_EQ(s.languageName, "german");
    EXPECT_EQ(s.templatePath, "Torvex.html");
    EXPECT_EQ(LoadSettings("", s), 0);
    EXPECT_EQ(s.comPortIndex, 1);
}

TEST_F(SettingsTest, ReadsKeysRegardlessOfCaseAndLineEnds) {
    Settings s = Load("; Kelvane\r\n[com_port]\r\n  comport = 3 \r\n"
                      "[Settings]\r\nSprache=english\r\ntemplate=/srv/tpl/Kurz.html\r\n");
    EXPECT_EQ(s.comPortIndex, 3);
    EXPECT_EQ(s.languageName, "english");
    EXPECT_EQ(s.templatePath, "/srv/tpl/Kurz.html");
    // Quotes around a value, as a hand-edited file may have them.
    s = Load("[SETTINGS]\nSPRACHE=\"english\"\nTEMPLATE=\"/srv/mit Leerzeichen.html\"\n");
    EXPECT_EQ(s.languageName, "english");
    EXPECT_EQ(s.templatePath, "/srv/mit Leerzeichen.html");
}

TEST_F(SettingsTest, BadValuesKeepTheCurrentOnes) {
    struct Case {
        std::string text;
        int port;
        const char* language;
        const char* templ;
    } cases[] = {
        {"[COM_PORT]\nCOMPORT=abc\n[SETTINGS]\nSPRACHE=\nTEMPLATE=\n", 1, "german", "Torvex.html"},
        {"[COM_PORT]\nCOMPORT=0\n", 1, "german", "Torvex.html"},
        {"[COM_PORT]\nCOMPORT=-4\n", 1, "german", "Torvex.html"},
        {"[COM_PORT]\nCOMPORT=99999999999999\n", 1, "german", "Torvex.html"},
        // The leading number counts, as the profile reading has always taken it.
        {"[COM_PORT]\nCOMPORT=2x\n", 2, "german", "Torvex.html"},
        // A language is a file name in the language folder, never a path out of it.
        {"[SETTINGS]\nSPRACHE=../../etc/passwd\n", 1, "german", "Torvex.html"},
        {"[SETTINGS]\nSPRACHE=..\n", 1, "german", "Torvex.html"},
        {"[SETTINGS]\nSPRACHE=eng\x01lish\n", 1, "german", "Torvex.html"},
        // Keys outside their section, or in a section of another name, do not count.
        {"COMPORT=5\nSPRACHE=english\n[OTHER]\nCOMPORT=6\n", 1, "german", "Torvex.html"},
        // Not an INI file at all.
        {std::string("\x00\xff\xfe garbage\n=\n[\n", 16), 1, "german", "Torvex.html"},
    };
    for (const auto& c : cases) {
        Settings s = Load(c.text);
        EXPECT_EQ(s.comPortIndex, c.port) << c.text;
        EXPECT_EQ(s.languageName, c.language) << c.text;
        EXPECT_EQ(s.templatePath, c.templ) << c.text;
    }
    // Longer than any value the program reads: the current value stays.
    Settings s = Load("[SETTINGS]\nTEMPLATE=/" + std::string(400, 'a') + "\n");
    EXPECT_EQ(s.templatePath, "Torvex.html");
}

TEST_F(SettingsTest, CurrentValuesAreTheDefaults) {
    Settings s;
    s.comPortIndex = 4;
    s.languageName = "english";
    Write("[SETTINGS]\nTEMPLATE=a.html\n");
    LoadSettings(file, s);
    EXPECT_EQ(s.comPortIndex, 4);
    EXPECT_EQ(s.languageName, "english");
    EXPECT_EQ(s.templatePath, "a.html");
}

TEST_F(SettingsTest, SavesKeepEverythingElse) {
    const std::string before = "; comment kept\r\n[SETTINGS]\r\nsprache=german\r\nEXTRA=1\r\n"
                               "\r\n[Fremd]\r\nx = y\r\n";
    Write(before);
    ASSERT_TRUE(SaveLanguageName(file, "english"));
    ASSERT_TRUE(SaveComPortIndex(file, 2));
    ASSERT_TRUE(SaveTemplatePath(file, "/home/anna/Vorlage.html"));
    std::string after = Read();
    EXPECT_NE(after.find("; comment kept\r\n"), std::string::npos) << after;
    EXPECT_NE(after.find("EXTRA=1\r\n"), std::string::npos) << after;
    EXPECT_NE(after.find("[Fremd]\r\nx = y\r\n"), std::string::npos) << after;
    EXPECT_EQ(after.find("german"), std::string::npos) << after;
    Settings s;
    LoadSettings(file, s);
    EXPECT_EQ(s.comPortIndex, 2);
    EXPECT_EQ(s.languageName, "english");
    EXPECT_EQ(s.templatePath, "/home/anna/Vorlage.html");
    // Only our files in the folder: the temporary one is gone.
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir))
        ++n;
    EXPECT_EQ(n, 1u);
}

TEST_F(SettingsTest, SaveCreatesMissingFileAndRefusesBadValues) {
    ASSERT_TRUE(SaveComPortIndex(file, 7));
    Settings s;
    LoadSettings(file, s);
    EXPECT_EQ(s.comPortIndex, 7);

    std::string error;
    const std::string kept = Read();
    EXPECT_FALSE(SaveComPortIndex(file, 0, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(SaveLanguageName(file, "../x"));
    EXPECT_FALSE(SaveLanguageName(file, ""));
    EXPECT_FALSE(SaveTemplatePath(file, "a\nb"));
    EXPECT_FALSE(SaveTemplatePath(file, "/" + std::string(300, 'p')));
    EXPECT_EQ(Read(), kept);
    EXPECT_FALSE(SaveComPortIndex("", 1));
}

TEST_F(SettingsTest, UnreadableOrUnwritableFileIsLeftAlone) {
    // Something that exists but cannot be read as a file (works for root too): writing our key
    // over it would lose whatever it holds.
    fs::create_directory(file);
    std::string error;
    EXPECT_FALSE(SaveComPortIndex(file, 2, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(file));
    Settings s;
    EXPECT_EQ(LoadSettings(file, s), 0);
    EXPECT_EQ(s.comPortIndex, 1);
    fs::remove(file);

    // The folder cannot be made: nothing is written, nothing is left behind.
    WriteBytes(dir / "blocker", "a file where a folder should be");
    error.clear();
    EXPECT_FALSE(SaveLanguageName(dir / "blocker" / "x.ini", "english", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadText(dir / "blocker"), "a file where a folder should be");

    if (geteuid() != 0) {
        Write("[SETTINGS]\nSPRACHE=english\nMINE=keep\n");
        fs::permissions(file, fs::perms::owner_write);
        EXPECT_FALSE(SaveComPortIndex(file, 2));
        fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(Read(), "[SETTINGS]\nSPRACHE=english\nMINE=keep\n");
    }
}

TEST_F(SettingsTest, Utf16FileIsReadAndWrittenBackInItsOwnEncoding) {
    auto utf16 = [](const std::string& ascii, bool big) {
        std::string out = big ? "\xFE\xFF" : "\xFF\xFE";
        for (char c : ascii) {
            out += big ? '\0' : c;
            out += big ? c : '\0';
        }
        return out;
    };
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "big-endian" : "little-endian");
        const std::string before = "[COM_PORT]\r\nCOMPORT=3\r\n[SETTINGS]\r\nSPRACHE=english\r\n";
        Write(utf16(before, big));
        Settings s;
        ASSERT_EQ(LoadSettings(file, s), 0);
        EXPECT_EQ(s.comPortIndex, 3);
        EXPECT_EQ(s.languageName, "english");
        ASSERT_TRUE(SaveTemplatePath(file, "/t/mine.html"));
        ASSERT_TRUE(SaveLanguageName(file, "german"));
        // The whole file UTF-16, one mark, the new key in the file's own line ends.
        EXPECT_EQ(Read(), utf16("[COM_PORT]\r\nCOMPORT=3\r\n[SETTINGS]\r\nSPRACHE=german\r\n"
                                "TEMPLATE=/t/mine.html\r\n",
                                big));
        ASSERT_EQ(LoadSettings(file, s), 0);
        EXPECT_EQ(s.templatePath, "/t/mine.html");
    }
}

TEST_F(SettingsTest, BadInputsGiveTheDefaultsAndAreNotOverwritten) {
    const auto inputs = MakeBadInputs(dir.string(), "settings", uint64_t{1} << 30);
    ASSERT_FALSE(inputs.empty());
    for (const BadInput& in : inputs) {
        SCOPED_TRACE(in.what);
        Settings s;
        s.languageName = "english";
        EXPECT_EQ(LoadSettings(in.path, s), 0);
        EXPECT_EQ(s.languageName, "english") << "what was set before stays";
        if (in.what == "empty file")
            continue;
        EXPECT_FALSE(SaveComPortIndex(in.path, 2));
    }
    EXPECT_EQ(fs::file_size(inputs[3].path), uint64_t{1} << 30);
}

TEST_F(SettingsTest, ShippedDefaultsReadAsTheDefaults) {
    Settings s;
    s.comPortIndex = 9;
    s.languageName = "x";
    s.templatePath = "y";
    LoadSettings(fs::path(KELVANE_SOURCE_DIR) / "data" / kDefaultSettingsName, s);
    EXPECT_EQ(s.comPortIndex, 1);
    EXPECT_EQ(s.languageName, "german");
    EXPECT_EQ(s.templatePath, "Torvex.html");
    // And the build copies it beside the executables, where the first run finds it.
    EXPECT_TRUE(fs::exists(fs::path(KELVANE_BIN_DIR) / kDefaultSettingsName));
}

TEST(SettingsHelpers, TemplatePathAndLanguageNames) {
    EXPECT_EQ(ResolveTemplatePath("Torvex.html", "/d"), fs::path("/d/templates/Torvex.html"));
    EXPECT_EQ(ResolveTemplatePath("/x/y.html", "/d"), fs::path("/x/y.html"));
    EXPECT_EQ(ResolveTemplatePath("sub/y.html", "/d"), fs::path("sub/y.html"));
    EXPECT_EQ(ResolveTemplatePath("./y.html", "/d"), fs::path("./y.html"));
    for (const char* ok : {"german", "English", "Français", "pt-BR", "my lang"})
        EXPECT_TRUE(IsValidLanguageName(ok)) << ok;
    for (const char* bad : {"", ".", "..", "a/b", "a\\b", "tab\there", "/german"})
        EXPECT_FALSE(IsValidLanguageName(bad)) << bad;
}
