// The fleet in the window: approvals saved from the editor and assigned to the connected
// machine, the compliance line after a read, the overview and its printable page.
#include "app/DialogMain.h"
#include "app/HistoryJournal.h"

#include "base/CalendarDate.h"
#include "files/ConfigFile.h"
#include "fleet/Compliance.h"
#include "fleet/FleetPage.h"
#include "fleet/FleetTable.h"
#include "lang/Language.h"
#include "model/ImageListing.h"

#include <algorithm>
#include <ctime>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string Format(std::string text, const std::string& name, int version) {
    if (size_t at = text.find("%s"); at != std::string::npos)
        text.replace(at, 2, name);
    if (size_t at = text.find("%d"); at != std::string::npos)
        text.replace(at, 2, std::to_string(version));
    return text;
}

std::string NowText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

} // namespace

void cDialogMain::SetJournal(cMachineJournal* j) {
    journal = j;
    fleetRecords.reset(); // the records of the history that goes
}

cFleetStore* cDialogMain::FleetRecords(bool quiet) {
    auto* history = dynamic_cast<cHistoryJournal*>(journal);
    if (!history || !history->store.IsOpen()) {
        fleetRecords.reset();
        if (!quiet)
            ui.ShowMessage(history && !history->openError.empty()
                               ? history->openError
                               : Translate("Der Verlauf konnte nicht geöffnet werden"));
        return nullptr;
    }
    if (!fleetRecords) {
        auto fleet = std::make_unique<cFleetStore>();
        std::string error;
        if (!fleet->Open(history->store, error)) {
            if (!quiet)
                ui.ShowMessage(Translate("Die Freigaben konnten nicht geöffnet werden") + "\n\n" +
                               error);
            return nullptr;
        }
        fleetRecords = std::move(fleet);
    }
    return fleetRecords.get();
}

std::string cDialogMain::CheckApproval() {
    approvalDifferences.clear();
    approvalText.clear();
    // The machine's own image, not the editor's: edits not yet written change nothing.
    if (connectedSerial.empty() || SerialOf(connectedImage) != connectedSerial)
        return "";
    cFleetStore* fleet = FleetRecords(true);
    if (!fleet)
        return "";
    std::string error;
    const ConversionContext ctx = MakeConversionContext(connectedImage, catalog, machineKind);
    const cFleetStore::Check check = fleet->CheckMachine(connectedImage, error, &ctx);
    approvalText = ComplianceText(check);
    approvalDifferences = check.compliance.differences;
    return approvalText;
}

bool cDialogMain::SaveAsApproval() {
    if (!dataLoaded) {
        Message("ungültige Konfigurationsdaten");
        return false;
    }
    cFleetStore* fleet = FleetRecords();
    if (!fleet)
        return false;
    std::string error;
    std::vector<std::string> names;
    for (const LibraryVersion& v : fleet->Versions("", error))
        if (names.empty() || names.back() != v.name)
            names.push_back(v.name);

    const std::string title = Translate("Als Freigabe speichern");
    std::string name = names.empty() ? std::string() : names.front();
    for (;;) {
        if (!ui.AskText({title, Translate("Name der Freigabe:"), names}, name))
            return false;
        const char* problem = LibraryNameProblem(name);
        if (!problem)
            break;
        ui.ShowMessage(Translate(problem), cUserInterface::Buttons::Ok,
                       cUserInterface::Icon::Warning);
    }
    std::string note;
    if (!ui.AskText({title, Translate("Notiz:"), {}}, note))
        return false;

    CommitAllPages();
    const int version = fleet->AddVersion(name, image, note, error);
    if (version == 0) {
        ui.ShowMessage(Translate("Die Freigabe konnte nicht gespeichert werden") + "\n\n" + error);
        return false;
    }
    ui.ShowStatus(Format(Translate("gespeichert als Freigabe %s v%d"), name, version));
    CheckApproval(); // the machine may follow this name's newest version
    return true;
}

bool cDialogMain::AssignConnected(const LibraryRef& ref) {
    if (connectedSerial.empty()) {
        Message("Bitte zuerst die Maschine lesen (von Maschine).");
        return false;
    }
    cFleetStore* fleet = FleetRecords();
    if (!fleet)
        return false;
    std::string error;
    bool known = false;
    if (!fleet->Assign(connectedSerial, ref, known, error)) {
        ui.ShowMessage(Translate("Die Zuweisung konnte nicht gespeichert werden") + "\n\n" + error);
        return false;
    }
    ui.ShowStatus(ref.name.empty()
                      ? Format(Translate("%s: keine Freigabe zugewiesen"), connectedSerial, 0)
                      : Translate("zugewiesen:") + " " + connectedSerial + " -> " + ref.Text());
    CheckApproval();
    return true;
}

bool cDialogMain::ExportApproval(const LibraryVersion& version) {
    cUserInterface::FileRequest request;
    request.folder = ConfigurationsFolder();
    request.proposedName = version.name + "_v" + std::to_string(version.version) + ".bin";
    if (!request.folder.empty()) {
        std::error_code ec;
        fs::create_directories(request.folder, ec);
    }
    std::string path;
    if (!ui.AskSaveFile(request, path) || path.empty())
        return false;
    std::string error;
    if (::WriteConfigFile(path, version.image.bytes, &error) != 0) {
        ui.ShowMessage(Translate("Die Konfiguration konnte nicht gespeichert werden") + "\n\n" +
                       path + (error.empty() ? "" : "\n" + error));
        return false;
    }
    return true;
}

std::vector<FleetMachine> cDialogMain::FleetOverview(std::string& error) {
    cFleetStore* fleet = FleetRecords(true);
    if (!fleet) {
        auto* history = dynamic_cast<cHistoryJournal*>(journal);
        error = history && !history->openError.empty()
                    ? history->openError
                    : Translate("Der Verlauf konnte nicht geöffnet werden");
        return {};
    }
    FleetOptions options;
    options.due = LoadDueSettings(settingsFile);
    options.now = std::time(nullptr);
    options.firmwareFolder = FirmwareFolder();
    return fleet->Overview(options, error);
}

bool cDialogMain::WriteFleetPage(const std::vector<FleetMachine>& machines,
                                 const std::string& filterText) {
    std::error_code ec;
    fs::create_directories(folders.documentsFolder, ec);
    cUserInterface::FileRequest request;
    request.folder = folders.documentsFolder;
    request.proposedName = "Flotte.html";
    request.filter = "HTML (*.html)|*.html|";
    request.defaultExtension = "html";
    std::string path;
    if (!ui.AskSaveFile(request, path) || path.empty())
        return false;
    FleetPageJob job;
    // The user's own layout in the data folder's templates comes first.
    job.templatePath = ResolveTemplatePath("Flotte.html", folders.dataFolder).string();
    if (!fs::is_regular_file(job.templatePath, ec))
        job.templatePath = (folders.appFolder / "templates" / "Flotte.html").string();
    job.outputPath = path;
    job.title = Translate("Flotte");
    job.date = NowText();
    job.filter = filterText;
    std::string error;
    if (!::WriteFleetPage(job, machines, error)) {
        ui.ShowMessage(Translate("Die Flottenseite konnte nicht geschrieben werden") + "\n\n" +
                       error);
        return false;
    }
    ui.OpenDocument(path);
    return true;
}
