// The main window's own commands on the controller: each showing's preparation, the language
// menu, closing, the report and the choice of its template.
#include "ControllerFixture.h"

#include "app/ProgramVersion.h"
#include "base/FileIo.h"
#include "lang/Language.h"
#include "model/IniFile.h"

#include <algorithm>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using Answer = cUserInterface::Answer;

namespace {

std::string SettingOf(const fs::path& file, const char* section, const char* key) {
    IniFile ini;
    if (!ini.Load(file.string()))
        return "";
    return ini.GetString(section, key, "");
}

int IndexOf(const std::vector<std::string>& names, const std::string& name) {
    auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

} // namespace

TEST_F(ControllerTest, EachShowingPreparesTheWindowAndLocksThePages) {
    controller->MarkChanged();
    controller->InitWindow();
    EXPECT_FALSE(controller->SettingsChanged());
    EXPECT_FALSE(controller->RestartPending());
    EXPECT_TRUE(sheet.Locked());
    EXPECT_EQ(sheet.Last("BindPages"), "BindPages 0");
    EXPECT_EQ(controller->TitleVersionText(), "Torvex Kelvane  Version " + GetProgramVersion());
    // Sorted, so the menu does not depend on the file system's order.
    EXPECT_THAT(controller->LanguageNames(), ElementsAre("english", "german"));
    // Nothing read yet: no write.
    EXPECT_FALSE(controller->Controls().writeButtonEnabled);

    ReadMachine();
    controller->InitWindow();
    EXPECT_TRUE(controller->Controls().writeButtonEnabled);
    EXPECT_TRUE(sheet.Locked()) << "locked again until the next read or load";
}

TEST(LanguageFiles, EveryCsvFileCountsAndTheListHasItsLimit) {
    TempFolder temp;
    for (int i = 0; i < cDialogMain::kMaxLanguages + 5; ++i)
        std::ofstream(temp.path() / ("lang" + std::to_string(1000 + i) + ".csv")) << "x";
    std::ofstream(temp.path() / "UserData.csv") << "x";
    std::ofstream(temp.path() / "readme.txt") << "x";
    fs::create_directory(temp.path() / "folder.csv");
    const auto names = cDialogMain::ListLanguageFiles(temp.path());
    ASSERT_EQ(names.size(), static_cast<size_t>(cDialogMain::kMaxLanguages));
    EXPECT_EQ(names.front(), "lang1000");
    EXPECT_TRUE(cDialogMain::ListLanguageFiles(temp.path() / "missing").empty());
}

TEST(LanguageFiles, CaseDoesNotCountAndTheUsersEntriesAreNoLanguage) {
    TempFolder temp;
    for (const char* name : {"english.csv", "French.CSV", "german.Csv", "Dansk.csv", "USERDATA.csv",
                             "UserData.csv", "notes.csvx"})
        std::ofstream(temp.path() / name) << "x";
    // No file at all: left out, without being opened.
    ASSERT_EQ(::mkfifo((temp.path() / "pipe.csv").c_str(), 0600), 0);
    fs::create_directory(temp.path() / "folder.CSV");
    EXPECT_THAT(cDialogMain::ListLanguageFiles(temp.path()),
                ElementsAre("Dansk", "english", "French", "german"));
}

TEST_F(ControllerTest, ALanguageChoiceRestartsOnceAndKeepsTheEdits) {
    controller->InitWindow();
    const int english = IndexOf(controller->LanguageNames(), "english");
    ASSERT_GE(english, 0);
    controller->OnParameterSetChanged(1);
    controller->MarkChanged();
    sheet.calls.clear();

    EXPECT_TRUE(controller->OnLanguageChosen(cDialogMain::kLanguageCommandBase + english));
    EXPECT_TRUE(controller->RestartPending());
    EXPECT_EQ(controller->CurrentSet(), 0);
    EXPECT_EQ(controller->CurrentSettings().languageName, "english");
    EXPECT_EQ(SettingOf(controller->SettingsPath(), "SETTINGS", "SPRACHE"), "english");
    const auto calls = sheet.Take();
    for (const char* commit :
         {"CommitHeader", "CommitSteps 5", "CommitMaintenance", "CommitExpert"})
        EXPECT_THAT(calls, Contains(commit));
    // The close that follows asks nothing.
    EXPECT_TRUE(controller->OnCloseRequest());
    EXPECT_TRUE(ui.messages.empty());

    // The window shown again keeps the change flag.
    controller->InitWindow();
    EXPECT_TRUE(controller->SettingsChanged());
    EXPECT_FALSE(controller->RestartPending());

    // The same entry again does nothing; entries outside the menu neither.
    EXPECT_FALSE(controller->OnLanguageChosen(cDialogMain::kLanguageCommandBase + english));
    EXPECT_FALSE(controller->OnLanguageChosen(cDialogMain::kLanguageCommandBase + 99));
    EXPECT_FALSE(controller->OnLanguageChosen(cDialogMain::kLanguageCommandBase - 1));
    EXPECT_FALSE(controller->RestartPending());
}

TEST_F(ControllerTest, TheActiveConfigurationFollowsEachLanguageChange) {
    struct BackToGerman {
        ~BackToGerman() { SetLanguage("german"); }
    } backToGerman;
    SetLanguageFolder(KELVANE_BIN_DIR "/language/");
    struct Case {
        const char* german; // as the program names it
        const char* shownGerman;
        const char* shownEnglish;
    };
    const Case cases[] = {{"von Maschine", "von Maschine", "From machine"},
                          {" --- keine ---", "--- keine ---", "--- none ---"},
                          {"Verlauf #9", "Verlauf #9", "History #9"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.german);
        ASSERT_TRUE(SetLanguage("german").Ok());
        // An image in the editor under the program's own name.
        ASSERT_TRUE(controller->TakeConfiguration(MachineImage(), c.german));
        controller->InitWindow();
        EXPECT_EQ(controller->ConfigName(), c.shownGerman);
        // Each case ends in German, so its first choice is a change.
        for (const char* language : {"english", "german"}) {
            const int index = IndexOf(controller->LanguageNames(), language);
            ASSERT_TRUE(controller->OnLanguageChosen(cDialogMain::kLanguageCommandBase + index));
            ASSERT_TRUE(SetLanguage(language).Ok());
            controller->InitWindow();
            EXPECT_EQ(controller->ConfigName(),
                      std::string(language) == "english" ? c.shownEnglish : c.shownGerman)
                << language;
        }
    }
}

TEST_F(ControllerTest, ClosingWithUnsavedChangesAsksOnce) {
    controller->MarkChanged();
    ui.answers = {Answer::No};
    EXPECT_FALSE(controller->OnCloseRequest());
    EXPECT_TRUE(controller->SettingsChanged());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].buttons, cUserInterface::Buttons::YesNo);
    EXPECT_EQ(ui.messages[0].text,
              "Die Einstellungen wurden geändert\n\nWollen Sie den das Programm beenden");

    ui.answers = {Answer::Yes};
    EXPECT_TRUE(controller->OnCloseRequest());
    EXPECT_FALSE(controller->SettingsChanged());
    ui.messages.clear();
    EXPECT_TRUE(controller->OnCloseRequest()); // the flag is gone: no second question
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ControllerTest, ReportNeedsDataThenWritesAndOpensIt) {
    controller->InitWindow();
    EXPECT_FALSE(controller->OnReportOutput());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("ungültige Konfigurationsdaten"));
    EXPECT_TRUE(ui.opened.empty());

    ReadMachine();
    std::vector<std::string> pictures;
    controller->SetPictureWriter([&](const std::string& path, int, int,
                                     const std::vector<StepShape>&, const StepDrawContext&) {
        pictures.push_back(fs::path(path).filename().string());
        return true;
    });
    // The first run copies the templates; this data folder is bare.
    fs::create_directories(controller->Folders().dataFolder / "templates");
    fs::copy_file(fs::path(KELVANE_BIN_DIR) / "templates" / "Torvex.html",
                  controller->Folders().dataFolder / "templates" / "Torvex.html");
    ASSERT_TRUE(controller->OnReportOutput()) << ::testing::PrintToString(ui.TakeMessages());
    const fs::path out = controller->Folders().documentsFolder / "Torvex.html";
    EXPECT_THAT(ui.opened, ElementsAre(out));
    EXPECT_THAT(pictures, ElementsAre("programSteps1.jpg", "programSteps2.jpg"));
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(out.string(), bytes, 1 << 20));
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_GT(bytes.size(), 1000u);
}

TEST_F(ControllerTest, AReportFromAMissingTemplateWritesNothingAndOpensNothing) {
    ReadMachine();
    controller->UseTemplate((temp.path() / "nowhere.html").string());
    EXPECT_FALSE(controller->OnReportOutput());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("ungültige Druckvorlage"));
    EXPECT_TRUE(ui.opened.empty());
    EXPECT_FALSE(fs::exists(controller->Folders().documentsFolder / "Torvex.html"));
}

TEST_F(ControllerTest, ChoosingATemplateStoresItsFullPath) {
    ui.openFiles = {std::nullopt};
    EXPECT_FALSE(controller->OnChooseTemplate());
    ASSERT_EQ(ui.fileRequests.size(), 1u);
    EXPECT_EQ(ui.fileRequests[0].folder, controller->Folders().dataFolder / "templates");
    EXPECT_EQ(ui.fileRequests[0].proposedName, "Torvex.html");
    EXPECT_EQ(ui.fileRequests[0].filter, "Template Files (*.html)|*.html|");
    EXPECT_EQ(ui.fileRequests[0].defaultExtension, "html");
    EXPECT_EQ(controller->CurrentSettings().templatePath, "Torvex.html");

    const std::string chosen = (temp.path() / "mine" / "Short.html").string();
    ui.openFiles = {chosen};
    EXPECT_TRUE(controller->OnChooseTemplate());
    EXPECT_EQ(controller->CurrentSettings().templatePath, chosen);
    EXPECT_EQ(SettingOf(controller->SettingsPath(), "SETTINGS", "TEMPLATE"), chosen);

    // The next dialog starts in the chosen template's folder.
    ui.openFiles = {std::nullopt};
    controller->OnChooseTemplate();
    EXPECT_EQ(ui.fileRequests.back().folder, temp.path() / "mine");
    EXPECT_EQ(ui.fileRequests.back().proposedName, "Short.html");
}

TEST_F(ControllerTest, ASettingThatCannotBeStoredIsSaid) {
    // A folder where the settings file should be: nothing can be written there.
    fs::create_directories(controller->SettingsPath());
    const std::string chosen = (temp.path() / "Short.html").string();
    ui.openFiles = {chosen};
    EXPECT_TRUE(controller->OnChooseTemplate());
    EXPECT_EQ(controller->CurrentSettings().templatePath, chosen); // this run uses it anyway
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("Die Einstellung konnte nicht gespeichert werden"));

    controller->InitWindow();
    ui.TakeMessages();
    ASSERT_TRUE(controller->OnLanguageChosen(cDialogMain::kLanguageCommandBase +
                                             IndexOf(controller->LanguageNames(), "english")));
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("Die Einstellung konnte nicht gespeichert werden"));
}

TEST_F(ControllerTest, TheManualIsOpenedFromTheProgramFolder) {
    controller->OpenManual();
    EXPECT_THAT(ui.opened, ElementsAre(fs::path(KELVANE_BIN_DIR) / "doc" / "manual.pdf"));
}

TEST_F(ControllerTest, TheOverviewDrawsTheSetThatIsShown) {
    ReadMachine(); // a kind-18 machine
    // Both sets end at their first step; the others link on to the end.
    ParameterBlock& image = controller->PageImage();
    for (size_t set : {0u, 5u}) {
        for (size_t i = 0; i < 5; ++i) {
            image.Step(set + i).SetSpeed(300);
            image.Step(set + i).SetType(0);
            image.Step(set + i).SetNextStep(i == 0 || i == 4 ? 0xFF : static_cast<uint8_t>(i + 1));
        }
    }
    image.Step(5).SetSpeed(700); // tells set 2 from set 1
    image.SetParameterSet12(true);
    auto profileEnd = [](const DrawList& l) {
        int maxX = 0;
        bool first = true;
        for (const DrawOp& op : l) {
            if (op.kind != DrawOp::Kind::Line || !(op.color == kDrawProfile))
                continue;
            if (!first) // the first stroke runs back from the middle line's end
                maxX = std::max({maxX, op.x1, op.x2});
            first = false;
        }
        return maxX;
    };
    // Strip 510 wide: segments of 100 from x = 10.
    controller->OnParameterSetChanged(1);
    OverviewInput set2 = controller->OverviewOf(510, 100);
    EXPECT_EQ(set2.steps[0].speed, 700);
    EXPECT_EQ(profileEnd(DrawStepOverview(set2)), 510) << "set 2 goes on at its step 2";
    controller->OnParameterSetChanged(0);
    OverviewInput set1 = controller->OverviewOf(510, 100);
    EXPECT_EQ(set1.steps[0].speed, 300);
    EXPECT_EQ(profileEnd(DrawStepOverview(set1)), 110) << "set 1 ends at its last step";
}

TEST_F(ControllerTest, ReportPicturesTakeTheOverviewsCurrentSize) {
    ReadMachine();
    fs::create_directories(controller->Folders().dataFolder / "templates");
    fs::copy_file(fs::path(KELVANE_BIN_DIR) / "templates" / "Torvex.html",
                  controller->Folders().dataFolder / "templates" / "Torvex.html");
    std::vector<std::pair<int, int>> sizes;
    controller->SetPictureWriter([&](const std::string&, int w, int h,
                                     const std::vector<StepShape>&, const StepDrawContext&) {
        sizes.emplace_back(w, h);
        return true;
    });
    struct Case {
        std::optional<std::pair<int, int>> strip; // nullopt: no window
        std::pair<int, int> picture;
    } cases[] = {
        {std::pair{833, 97}, {833, 97}},
        {std::nullopt, {620, 110}},    // without a window: the documented default
        {std::pair{0, 0}, {620, 110}}, // a window not laid out yet
    };
    for (const Case& c : cases) {
        sizes.clear();
        controller->SetOverviewSize(nullptr);
        if (c.strip)
            controller->SetOverviewSize([&c] { return *c.strip; });
        ASSERT_TRUE(controller->OnReportOutput());
        EXPECT_THAT(sizes, ElementsAre(c.picture, c.picture));
    }
}
