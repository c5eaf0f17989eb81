#include "app/FirstRun.h"
#include "app/Folders.h"
#include "app/ProgramVersion.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

// A private folder per test; ctest runs the test processes side by side.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "kelvane-app-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void WriteText(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

TEST(Folders, DataFolderFollowsXdgDataHome) {
    struct Case {
        const char* home;
        const char* xdgData;
        const char* expected;
    } cases[] = {
        {"/home/anna", "/srv/data", "/srv/data/Nork/TorvexV4"},
        {"/home/anna", "", "/home/anna/.local/share/Nork/TorvexV4"},
        // A relative XDG path is ignored, as the XDG rules say.
        {"/home/anna", "rel/data", "/home/anna/.local/share/Nork/TorvexV4"},
        {"", "/srv/data", "/srv/data/Nork/TorvexV4"},
        {"", "", ""},
        {"relative-home", "", ""},
    };
    for (const auto& c : cases) {
        FolderEnvironment env;
        env.home = c.home;
        env.xdgDataHome = c.xdgData;
        EXPECT_EQ(DataFolder(env), fs::path(c.expected)) << c.home << " | " << c.xdgData;
    }
}

TEST(Folders, DocumentsFromEnvironmentUserDirsOrHome) {
    TempDir tmp;
    const fs::path home = tmp.path() / "home";
    const fs::path config = home / ".config";
    FolderEnvironment env;
    env.home = home.string();

    // Nothing configured: ~/Documents.
    EXPECT_EQ(DocumentsFolder(env), home / "Documents" / "Nork" / "TorvexV4");

    // user-dirs.dirs as xdg-user-dirs writes it, with comments, CR LF and an entry for another
    // folder; "$HOME" is expanded.
    WriteText(config / "user-dirs.dirs", "# written by xdg-user-dirs-update\r\n"
                                         "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\r\n"
                                         "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\r\n");
    EXPECT_EQ(UserDocumentsDir(env), home / "Dokumente");

    // An absolute entry, escapes taken literally; a broken entry after it does not win.
    WriteText(config / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"/data/My \\\"Docs\\\"\"\n"
                                         "XDG_DOCUMENTS_DIR=unquoted\n");
    EXPECT_EQ(UserDocumentsDir(env), fs::path("/data/My \"Docs\""));

    // Only broken entries: back to ~/Documents.
    WriteText(config / "user-dirs.dirs",
              "XDG_DOCUMENTS_DIR=\"relative/x\"\nXDG_DOCUMENTS_DIR=\"\n");
    EXPECT_EQ(UserDocumentsDir(env), home / "Documents");

    // XDG_CONFIG_HOME moves the file.
    WriteText(tmp.path() / "cfg" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Docs2\"\n");
    env.xdgConfigHome = (tmp.path() / "cfg").string();
    EXPECT_EQ(UserDocumentsDir(env), home / "Docs2");

    // The environment variable wins over everything.
    env.xdgDocumentsDir = "/media/docs";
    EXPECT_EQ(DocumentsFolder(env), fs::path("/media/docs/Nork/TorvexV4"));

    // No home and nothing else: undetermined.
    EXPECT_TRUE(DocumentsFolder(FolderEnvironment{}).empty());
}

TEST(Folders, FilesAndAppFolder) {
    EXPECT_EQ(SettingsFile("/d/Nork/TorvexV4"), fs::path("/d/Nork/TorvexV4/Torvex Kelvane_R4.ini"));
    EXPECT_TRUE(SettingsFile("").empty());
    EXPECT_EQ(CatalogFile("/opt/k"), fs::path("/opt/k/Torvex Transmissions_R4.ini"));
    // The test executables live in <build>/tests, beside <build>/bin.
    EXPECT_EQ(fs::weakly_canonical(AppFolder()),
              fs::weakly_canonical(fs::path(KELVANE_BIN_DIR).parent_path() / "tests"));
}

TEST(Folders, ProcessEnvironmentIsUsed) {
    TempDir tmp;
    const char* oldData = std::getenv("XDG_DATA_HOME");
    std::string saved = oldData ? oldData : "";
    setenv("XDG_DATA_HOME", tmp.path().c_str(), 1);
    EXPECT_EQ(DataFolder(), tmp.path() / "Nork" / "TorvexV4");
    if (oldData)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

class FirstRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        folders.appFolder = tmp.path() / "app";
        folders.dataFolder = tmp.path() / "data" / "Nork" / "TorvexV4";
        folders.documentsFolder = tmp.path() / "docs" / "Nork" / "TorvexV4";
        WriteText(folders.appFolder / "Torvex Kelvane_R4.ini", "[SETTINGS]\nSPRACHE=german\n");
        WriteText(folders.appFolder / "configurations" / "demo.bin", std::string(560, '\x5a'));
        WriteText(folders.appFolder / "templates" / "Torvex.html", "<html>###TITLE_LABEL###");
        WriteText(folders.appFolder / "templates" / "kurz.html", "<html>kurz");
        WriteText(folders.appFolder / "templates" / "old" / "nested.html", "not copied");
    }
    TempDir tmp;
    FolderSet folders;
};

TEST_F(FirstRunTest, FirstRunCopiesShippedDefaults) {
    FirstRunResult r = PrepareUserFolders(folders);
    EXPECT_TRUE(r.firstRun);
    EXPECT_TRUE(r.problems.empty());
    const fs::path& data = folders.dataFolder;
    const fs::path& docs = folders.documentsFolder;
    EXPECT_EQ(ReadText(data / "Torvex Kelvane_R4.ini"), "[SETTINGS]\nSPRACHE=german\n");
    EXPECT_EQ(ReadText(data / "configurations" / "demo.bin"), std::string(560, '\x5a'));
    EXPECT_EQ(ReadText(data / "templates" / "Torvex.html"), "<html>###TITLE_LABEL###");
    EXPECT_EQ(ReadText(data / "templates" / "kurz.html"), "<html>kurz");
    // The templates also straight into the documents folder, no sub-folder.
    EXPECT_EQ(ReadText(docs / "Torvex.html"), "<html>###TITLE_LABEL###");
    EXPECT_EQ(ReadText(docs / "kurz.html"), "<html>kurz");
    EXPECT_FALSE(fs::exists(data / "templates" / "old"));
    EXPECT_FALSE(fs::exists(docs / "templates"));
    EXPECT_EQ(r.copied.size(), 6u);
    // No temporary files left behind by the copies.
    for (const auto& e : fs::recursive_directory_iterator(tmp.path() / "data"))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

TEST_F(FirstRunTest, SecondRunCopiesNothingEvenAfterDeletion) {
    ASSERT_TRUE(PrepareUserFolders(folders).firstRun);
    fs::remove(folders.dataFolder / "Torvex Kelvane_R4.ini");
    fs::remove(folders.dataFolder / "templates" / "kurz.html");
    FirstRunResult r = PrepareUserFolders(folders);
    EXPECT_FALSE(r.firstRun);
    EXPECT_TRUE(r.copied.empty());
    EXPECT_FALSE(fs::exists(folders.dataFolder / "Torvex Kelvane_R4.ini"));
    EXPECT_FALSE(fs::exists(folders.dataFolder / "templates" / "kurz.html"));
}

TEST_F(FirstRunTest, AnyMissingLevelCountsAsFirstRun) {
    // Only "Nork" exists for the data folder; the documents folder is complete.
    fs::create_directories(folders.dataFolder.parent_path());
    fs::create_directories(folders.documentsFolder);
    FirstRunResult r = PrepareUserFolders(folders);
    EXPECT_TRUE(r.firstRun);
    EXPECT_TRUE(fs::exists(folders.dataFolder / "Torvex Kelvane_R4.ini"));
    EXPECT_TRUE(fs::exists(folders.documentsFolder / "Torvex.html"));
}

TEST_F(FirstRunTest, UserFilesAreNeverOverwritten) {
    // The data folder is the user's own; only the documents folder is new.
    WriteText(folders.dataFolder / "Torvex Kelvane_R4.ini", "[SETTINGS]\nSPRACHE=english\n");
    WriteText(folders.dataFolder / "templates" / "Torvex.html", "mine");
    FirstRunResult r = PrepareUserFolders(folders);
    EXPECT_TRUE(r.firstRun);
    EXPECT_EQ(ReadText(folders.dataFolder / "Torvex Kelvane_R4.ini"),
              "[SETTINGS]\nSPRACHE=english\n");
    EXPECT_EQ(ReadText(folders.dataFolder / "templates" / "Torvex.html"), "mine");
    EXPECT_EQ(ReadText(folders.dataFolder / "templates" / "kurz.html"), "<html>kurz");
    EXPECT_EQ(ReadText(folders.documentsFolder / "Torvex.html"), "<html>###TITLE_LABEL###");
}

TEST_F(FirstRunTest, MissingSourcesAndFoldersAreNotFatal) {
    // An installation without defaults: the folders still appear, the copy fails quietly.
    fs::remove_all(folders.appFolder);
    FirstRunResult r = PrepareUserFolders(folders);
    EXPECT_TRUE(r.firstRun);
    EXPECT_TRUE(r.copied.empty());
    EXPECT_TRUE(fs::is_directory(folders.dataFolder / "configurations"));
    EXPECT_TRUE(fs::is_directory(folders.documentsFolder));
    EXPECT_FALSE(fs::exists(folders.dataFolder / "Torvex Kelvane_R4.ini"));
}

TEST_F(FirstRunTest, UndeterminedFolderIsSkipped) {
    folders.dataFolder.clear();
    FirstRunResult r = PrepareUserFolders(folders);
    EXPECT_TRUE(r.firstRun);
    EXPECT_EQ(ReadText(folders.documentsFolder / "kurz.html"), "<html>kurz");
    EXPECT_FALSE(fs::exists(tmp.path() / "data"));
}

TEST_F(FirstRunTest, UncreatableDataFolderReportsProblems) {
    // A file where the data folder's parent should be: no folder, no copies there, but the
    // documents folder still gets its templates.
    WriteText(tmp.path() / "data", "in the way");
    FirstRunResult r = PrepareUserFolders(folders);
    EXPECT_TRUE(r.firstRun);
    EXPECT_FALSE(r.problems.empty());
    EXPECT_EQ(ReadText(tmp.path() / "data"), "in the way");
    EXPECT_TRUE(fs::exists(folders.documentsFolder / "Torvex.html"));
}

TEST(ProgramVersion, BuildVersionAndFormats) {
    EXPECT_EQ(GetProgramVersion(), "4.0.0.8");
    EXPECT_EQ(GetProgramVersion(), KELVANE_VERSION);
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"4.0.0.8", "4.0.0.8"}, {"65535.0.1.2", "65535.0.1.2"}, {"04.00.0.8", "4.0.0.8"},
        {"", "0.0.0.0"},        {"4.0.0", "0.0.0.0"},           {"4.0.0.8.1", "0.0.0.0"},
        {"4.0.0.x", "0.0.0.0"}, {"65536.0.0.0", "0.0.0.0"},     {"-1.0.0.0", "0.0.0.0"},
        {"4..0.8", "0.0.0.0"},  {" 4.0.0.8", "0.0.0.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NormaliseVersion(c.in), c.out) << c.in;
    EXPECT_EQ(TitleVersionText("Torvex Kelvane", "Version"), "Torvex Kelvane  Version 4.0.0.8");
}
