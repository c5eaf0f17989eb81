// The main window's own commands: what each showing of the window prepares, the language
// menu, closing, the manual and the report.
#include "app/DialogMain.h"

#include "app/ProgramVersion.h"
#include "lang/Language.h"

#include <algorithm>
#include <strings.h>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool SameLetters(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

} // namespace

std::vector<std::string> cDialogMain::ListLanguageFiles(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& file = it->path();
        std::error_code typeError;
        // Files copied from other systems may say ".CSV"; the user's own entries are no
        // language.
        if (!SameLetters(file.extension().string(), ".csv") || !it->is_regular_file(typeError))
            continue;
        const std::string name = file.stem().string();
        if (!SameLetters(name, "UserData"))
            names.push_back(name);
    }
    // Directory order differs between file systems; the menu should not. Letter case does not
    // count, as a reader expects of a menu.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int c = ::strcasecmp(a.c_str(), b.c_str());
        return c != 0 ? c < 0 : a < b;
    });
    if (names.size() > static_cast<size_t>(kMaxLanguages))
        names.resize(kMaxLanguages);
    return names;
}

namespace {

// An entry taken from the history is named "Verlauf #ID" in the language shown: the name with
// word (as shown now) replaced by to, or "" for any other name.
constexpr const char* kHistoryName = "Verlauf";

std::string HistoryEntryName(const std::string& name, const std::string& word,
                             const std::string& to) {
    const std::string prefix = word + " #";
    return name.rfind(prefix, 0) == 0 ? to + name.substr(word.size()) : std::string();
}

} // namespace

void cDialogMain::InitWindow() {
    DiscoverAdapters();

    const bool expert = image.ExpertMode();
    controls.setListEnabled = expert;
    sheet.EnableExpertControls(expert);
    controls.setListSelection = currentSet;
    sheet.BindPages(image, currentSet);

    if (const std::string entry =
            HistoryEntryName(configName, kHistoryName, Translate(kHistoryName));
        !entry.empty())
        configName = entry;
    else
        configName = Translate(configName);
    if (dataLoaded && portSelection.AdapterPresent())
        controls.writeButtonEnabled = true;

    // Read again, so a language restart works with the settings file as it is on disk.
    if (!settingsFile.empty())
        LoadSettings(settingsFile, settings);
    catalog.LoadCatalog(catalogFile.string(), image);
    ShowIfMissing(catalogFile); // the pages keep the built-in limits
    sheet.SetLimits(catalog.pageBatteryMaxSpeed, catalog.pageMinSpeed, catalog.minThreshold,
                    catalog.maxThreshold, catalog.clutchMaxSpeed);

    languageNames = ListLanguageFiles(folders.appFolder / "language");

    if (!restartPending)
        settingsChanged = false;
    restartPending = false;
    titleVersionText = ::TitleVersionText(Translate("Torvex Kelvane"), Translate("Version"));
    sheet.LockPages(true);
}

OverviewInput cDialogMain::OverviewOf(int width, int height) const {
    OverviewInput in;
    in.width = width;
    in.height = height;
    in.steps = StepShapes(image, currentSet == 1 ? 5 : 0, 5);
    in.context.machineKind = machineKind;
    in.context.userGearFactor = userGearFactor;
    in.context.batteryMaxSpeed = catalog.batteryMaxSpeed;
    in.currentSet = currentSet;
    in.switchOver = (image.ModeFlags() & 0x01) != 0;
    in.activeTab = sheet.ActivePage();
    return in;
}

void cDialogMain::CommitAllPages() {
    sheet.CommitHeader();
    sheet.CommitSteps(5);
    sheet.CommitMaintenance();
    sheet.CommitExpert();
}

bool cDialogMain::OnLanguageChosen(int id) {
    const int index = id - kLanguageCommandBase;
    if (index < 0 || index >= static_cast<int>(languageNames.size()) || index == languageIndex)
        return false;
    languageIndex = index;
    CommitAllPages();
    // The box holds its text in the current language; the next showing translates it again
    // from the German, so put the German back (else English stays after a change to German).
    for (const char* german : {" --- keine ---", "von Maschine"})
        if (configName == Translate(german))
            configName = german;
    if (const std::string entry =
            HistoryEntryName(configName, Translate(kHistoryName), kHistoryName);
        !entry.empty())
        configName = entry;
    settings.languageName = languageNames[static_cast<size_t>(index)];
    if (!settingsFile.empty() && !SaveLanguageName(settingsFile, settings.languageName))
        Message("Die Einstellung konnte nicht gespeichert werden");
    restartPending = true;
    currentSet = 0;
    controls.setListSelection = 0;
    OnParameterSetChanged(0);
    return true;
}

bool cDialogMain::ConfirmClose() {
    if (settingsChanged &&
        ui.ShowMessage(Translate("Die Einstellungen wurden geändert\n\nWollen Sie den das "
                                 "Programm beenden"),
                       cUserInterface::Buttons::YesNo,
                       cUserInterface::Icon::Warning) == cUserInterface::Answer::No)
        return false;
    settingsChanged = false;
    return true;
}

bool cDialogMain::OnCloseRequest() {
    return restartPending || ConfirmClose();
}

fs::path cDialogMain::ManualPath() const {
    return folders.appFolder / "doc" / "manual.pdf";
}

void cDialogMain::OpenManual() {
    ui.OpenDocument(ManualPath());
}

bool cDialogMain::OnReportOutput() {
    if (!dataLoaded) {
        Message("ungültige Konfigurationsdaten");
        return false;
    }
    CommitAllPages();
    if (folders.documentsFolder.empty()) {
        Message("ungültige HTML-Ausgabedatei");
        return false;
    }
    // Made at start-up, but the user may have removed it since.
    std::error_code ec;
    fs::create_directories(folders.documentsFolder, ec);
    ReportJob job;
    job.image = &image;
    job.machineKind = machineKind;
    job.title = titleVersionText;
    job.catalog = &catalog;
    job.fasteningCounter = fasteningCounter;
    job.templatePath = ResolveTemplatePath(settings.templatePath, folders.dataFolder).string();
    job.outputFolder = folders.documentsFolder.string();
    job.userGearFactor = userGearFactor;
    job.writePicture = writePicture;
    if (overviewSize) {
        // The pictures are drawn like the strip, at the size it has now.
        const auto [width, height] = overviewSize();
        if (width > 10 && height > 0) {
            job.stripWidth = width;
            job.stripHeight = height;
        }
    }
    const ReportResult result = WriteReport(job);
    if (!result.message.empty())
        ui.ShowMessage(result.message);
    if (result.code != 0)
        return false;
    ui.OpenDocument(result.outputPath);
    return true;
}

bool cDialogMain::OnChooseTemplate() {
    const fs::path current(settings.templatePath);
    cUserInterface::FileRequest request;
    request.folder =
        current.has_parent_path()
            ? current.parent_path()
            : (folders.dataFolder.empty() ? fs::path() : folders.dataFolder / "templates");
    request.proposedName = current.filename().string();
    request.filter = "Template Files (*.html)|*.html|";
    request.defaultExtension = "html";
    std::string path;
    if (!ui.AskOpenFile(request, path) || path.empty())
        return false;
    std::error_code ec;
    const fs::path full = fs::absolute(path, ec);
    settings.templatePath = ec ? path : full.string();
    // The choice holds for this run either way; say when the next run will not know it.
    if (!settingsFile.empty() && !SaveTemplatePath(settingsFile, settings.templatePath))
        Message("Die Einstellung konnte nicht gespeichert werden");
    return true;
}
