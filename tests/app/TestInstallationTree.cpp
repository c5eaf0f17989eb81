// An installation tree with a file missing or unreadable: the controller goes on where it can
// and names the file.
#include "ControllerFixture.h"

#include "app/Folders.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

enum class Damage { Missing, Unreadable };

// The files of the built installation tree these commands use, with `file` missing or
// replaced by a folder (what no one, root included, can read as a file).
fs::path DamagedTree(const fs::path& base, const std::string& file, Damage damage) {
    const fs::path bin = KELVANE_BIN_DIR;
    const fs::path app = base / "app";
    fs::create_directories(app);
    for (const char* name : {"BL.hex", "Torvex Transmissions_R4.ini", "Torvex Kelvane_R4.ini"})
        fs::copy_file(bin / name, app / name);
    fs::copy(bin / "language", app / "language", fs::copy_options::recursive);
    fs::remove(app / file);
    if (damage == Damage::Unreadable)
        fs::create_directory(app / file);
    return app;
}

bool AnyNames(const std::vector<std::string>& messages, const std::string& what) {
    return std::any_of(messages.begin(), messages.end(),
                       [&](const std::string& m) { return m.find(what) != std::string::npos; });
}

} // namespace

TEST_F(ControllerTest, AMissingOrUnreadableLoaderIsNamedAndNothingIsRead) {
    for (Damage damage : {Damage::Missing, Damage::Unreadable}) {
        SCOPED_TRACE(damage == Damage::Missing ? "missing" : "unreadable");
        TempFolder tree;
        controller->SetAppFolder(DamagedTree(tree.path(), "BL.hex", damage));
        const ParameterBlock before = controller->Image();

        EXPECT_FALSE(controller->OnReadFromMachine());
        const auto messages = ui.TakeMessages();
        ASSERT_EQ(messages.size(), 1u) << ::testing::PrintToString(messages);
        EXPECT_NE(messages[0].find("Verbindung fehlgeschlagen"), std::string::npos);
        EXPECT_NE(messages[0].find((controller->Folders().appFolder / "BL.hex").string()),
                  std::string::npos)
            << messages[0];
        EXPECT_EQ(controller->Image().bytes, before.bytes);
        EXPECT_FALSE(controller->DataLoaded());
    }
    // With the loader back the same controller reads: nothing was left half done.
    controller->SetAppFolder(KELVANE_BIN_DIR);
    ReadMachine();
}

TEST_F(ControllerTest, AMissingOrUnreadableCatalogIsNamedWhenTheWindowIsPrepared) {
    for (Damage damage : {Damage::Missing, Damage::Unreadable}) {
        SCOPED_TRACE(damage == Damage::Missing ? "missing" : "unreadable");
        TempFolder tree;
        const fs::path app = DamagedTree(tree.path(), "Torvex Transmissions_R4.ini", damage);
        controller->SetAppFolder(app);
        sheet.calls.clear();

        controller->InitWindow();
        EXPECT_TRUE(AnyNames(ui.TakeMessages(), CatalogFile(app).string()));
        // The pages still get their limits (the built-in ones) and the window comes up.
        EXPECT_FALSE(sheet.Last("SetLimits").empty());
        EXPECT_TRUE(sheet.Locked());
    }
}
