// sha1 and translate, run as a technician would run them.
#include "base/TextCodec.h"
#include "lang/Language.h"
#include "tests/cli/CliRun.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(CliSha1, DigestsEachFileInTurn) {
    CliTempDir tmp;
    const fs::path abc = tmp.path() / "abc.txt";
    const fs::path empty = tmp.path() / "leer datei.bin";
    const fs::path million = tmp.path() / "million";
    WriteBytes(abc, "abc");
    WriteBytes(empty, "");
    WriteBytes(million, std::string(1000000, 'a')); // read in many chunks
    CliResult r = RunCli({"sha1", abc.string(), empty.string(), million.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "A9993E364706816ABA3E25717850C26C9CD0D89D  " + abc.string() + "\n" +
                         "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709  " + empty.string() + "\n" +
                         "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F  " + million.string() + "\n");
}

TEST(CliSha1, UnreadableFilesAreReportedAndTheRestDone) {
    CliTempDir tmp;
    const fs::path abc = tmp.path() / "abc";
    WriteBytes(abc, "abc");
    const fs::path missing = tmp.path() / "fehlt.bin";
    const fs::path fifo = tmp.path() / "fifo"; // no writer: reading it would wait for ever
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CliResult r = RunCli(
        {"sha1", missing.string(), abc.string(), tmp.path().string(), fifo.string()}, {}, 10000);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "A9993E364706816ABA3E25717850C26C9CD0D89D  " + abc.string() + "\n");
    EXPECT_NE(r.err.find("cannot read " + missing.string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot read " + tmp.path().string() + ":"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot read " + fifo.string() + ": not a regular file"),
              std::string::npos)
        << r.err;
}

TEST(CliSha1, UsageErrors) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"sha1"}, {"sha1", "--x", "f"}}) {
        CliResult r = RunCli(args);
        EXPECT_EQ(r.exitCode, 2) << args.size();
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("usage: kelvane-cli sha1 FILE..."), std::string::npos) << r.err;
    }
}

namespace {

// A language file as the language tables read it: UTF-16LE with its mark, one
// "<digest of the German text> TAB <translation>" line per entry.
void WriteLanguageFile(const fs::path& file,
                       const std::vector<std::pair<std::string, std::string>>& entries) {
    std::u16string text = u"\uFEFF";
    for (const auto& [german, translation] : entries) {
        // Line feeds in a text are written as the escape "\n".
        std::string escaped;
        for (char c : translation)
            escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
        text += Utf8ToUtf16(DigestToHex(TextDigest(std::string_view(german))) + "\t" + escaped +
                            "\r\n");
    }
    std::string bytes;
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    WriteBytes(file, bytes);
}

class CliTranslate : public ::testing::Test {
protected:
    void SetUp() override {
        exe = tmp.MakeInstallation();
        const fs::path lang = tmp.AppDir() / "language";
        WriteLanguageFile(lang / "german.csv", {{"Sprache", "Sprache"}});
        WriteLanguageFile(lang / "english.csv",
                          {{"Die Einstellungen wurden geändert", "The settings were changed"},
                           {"Sprache", "Language"},
                           {"ACHTUNG\n\nWeiter?", "CAUTION\n\nGo on?"}});
        env = tmp.UserEnv();
    }
    CliResult Run(const std::vector<std::string>& args) {
        std::vector<std::string> all{"translate"};
        all.insert(all.end(), args.begin(), args.end());
        return RunProgram(exe, all, env);
    }
    void StoreLanguage(const std::string& name) {
        WriteBytes(tmp.path() / "home" / "data" / "Nork" / "TorvexV4" / "Torvex Kelvane_R4.ini",
                   "[SETTINGS]\r\nSPRACHE=" + name + "\r\n");
    }

    CliTempDir tmp;
    fs::path exe;
    std::map<std::string, std::string> env;
};

} // namespace

TEST_F(CliTranslate, ChosenLanguage) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"--language", "english", "Die Einstellungen wurden geändert"},
         "The settings were changed\n"},
        {{"--language=English", "Sprache"}, "Language\n"}, // file names regardless of case
        {{"Sprache", "--language", "english"}, "Language\n"},
        {{"--language", "english", "ACHTUNG\n\nWeiter?"}, "CAUTION\n\nGo on?\n"},
        {{"--language", "english", "Unbekannter Text"}, "Unbekannter Text\n"},
        {{"--language", "german", "Sprache"}, "Sprache\n"},
    };
    for (const auto& c : cases) {
        CliResult r = Run(c.args);
        EXPECT_EQ(r.exitCode, 0) << c.args[0] << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.args[0];
        EXPECT_EQ(r.err, "") << c.args[0];
    }
}

TEST_F(CliTranslate, LanguageFromTheSettings) {
    // No settings file: German.
    CliResult r = Run({"Sprache"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Sprache\n");
    // Nothing was created for the user by a mere translation.
    EXPECT_FALSE(fs::exists(tmp.path() / "home" / "data"));

    StoreLanguage("english");
    r = Run({"Sprache"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Language\n");

    // The stored language has no file any more: German texts, with a note.
    StoreLanguage("klingonisch");
    r = Run({"Sprache"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "Sprache\n");
    EXPECT_NE(r.err.find("Fehler beim laden der Sprach-Datei"), std::string::npos) << r.err;
}

TEST_F(CliTranslate, Errors) {
    CliResult r = Run({"--language", "klingonisch", "Sprache"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Fehler beim laden der Sprach-Datei"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("klingonisch"), std::string::npos) << r.err;

    for (const auto& args :
         std::vector<std::vector<std::string>>{{},
                                               {"a", "b"},
                                               {"--language"},
                                               {"--language", "../../etc/passwd", "Sprache"},
                                               {"--bogus", "Sprache"}}) {
        r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << args.size() << ": " << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(r.err.empty());
    }
}
