#include "app/DialogMain.h"
#include "fleet/FleetStore.h" // the records the controller holds

#include "app/Folders.h"
#include "lang/Language.h"
#include "link/ResultCodes.h"
#include "link/STM.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

// The link's status pane and progress bar, shown through the user interface.
class cDialogMain::LinkStatus : public ILinkStatusBar, public ILinkProgress {
public:
    explicit LinkStatus(cUserInterface& ui) : ui(ui) {}
    void SetStatusText(const std::string& germanText) override {
        ui.ShowStatus(germanText.empty() ? std::string() : Translate(germanText));
    }
    void ShowProgress(bool visible) override { ui.ShowProgress(visible); }
    void SetProgress(int percent) override { ui.SetProgress(percent); }

private:
    cUserInterface& ui;
};

cDialogMain::cDialogMain(cUserInterface& ui, CSheet& sheet, FolderSet folderSet,
                         PortSelection::ListFn lister)
    : ui(ui), sheet(sheet), folders(std::move(folderSet)), portSelection(std::move(lister)),
      linkStatus(std::make_unique<LinkStatus>(ui)) {
    configName = Translate(" --- keine ---");
    settingsFile = SettingsFile(folders.dataFolder);
    catalogFile = CatalogFile(folders.appFolder);
    std::error_code ec;
    if (!settingsFile.empty() && fs::exists(settingsFile, ec))
        LoadSettings(settingsFile, settings);
    serialPort.SetIdleCallback([this] { this->ui.KeepAlive(); });
    portSelection.SetComPortIndex(settings.comPortIndex);
    portSelection.SetStoreIndexCallback([this](int index) {
        settings.comPortIndex = index;
        if (!settingsFile.empty())
            SaveComPortIndex(settingsFile, index);
    });
}

cDialogMain::~cDialogMain() {
    MarkWriteRunning(false);
    linkObject.reset();
    serialPort.Close();
    // The next program to open the port finds the machine started again.
    SettleAfterClose();
}

void cDialogMain::SetPauseFunction(std::function<void(int)> fn) {
    pause = std::move(fn);
    if (auto* link = dynamic_cast<cQVX_18*>(linkObject.get()); link && pause)
        link->SetPauseFunction(pause);
}

void cDialogMain::Pause(int milliseconds) {
    if (pause) {
        pause(milliseconds);
        return;
    }
    // In slices, so the window keeps painting through the prescribed waits.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (auto now = std::chrono::steady_clock::now(); now < end;
         now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            end - now, std::chrono::milliseconds(50)));
        ui.KeepAlive();
    }
}

namespace {

// The messages a machine command shows when the line or the machine failed it.
bool IsLinkFailure(std::string_view text) {
    static const std::string_view failures[] = {
        kMessageComPortError,
        kMessageTimeout,
        kMessageChecksum,
        kMessagePortNotOpened,
        "Verbindung fehlgeschlagen",
        "Fehler bei Datenübertagung",
        "Fehler bei Übertragung der Firmware\n\nFirmware-Update bitte wiederholen",
    };
    return std::find(std::begin(failures), std::end(failures), text) != std::end(failures);
}

} // namespace

void cDialogMain::Message(const char* germanText, cUserInterface::Buttons buttons,
                          cUserInterface::Icon icon) {
    // A port problem names the refused device's details in its text.
    std::string text = serialPort.FillProblemText(Translate(germanText));
    if (const char* reason = IsLinkFailure(germanText) ? FailureReason() : nullptr) {
        const std::string why = serialPort.FillProblemText(Translate(reason));
        text += "\n" + why;
        ui.ShowStatus(why);
    }
    ui.ShowMessage(text, buttons, icon);
}

bool cDialogMain::Ask(const char* germanText) {
    return ui.ShowMessage(Translate(germanText), cUserInterface::Buttons::OkCancel,
                          cUserInterface::Icon::Warning) == cUserInterface::Answer::Ok;
}

bool cDialogMain::ShowIfMissing(const std::filesystem::path& file, const char* germanHeading) {
    if (InstallationFileReadable(file))
        return false;
    std::string text = germanHeading ? Translate(germanHeading) + "\n\n" : std::string();
    text += Translate("Datei fehlt oder ist nicht lesbar:") + "\n" + file.string();
    ui.ShowMessage(text, cUserInterface::Buttons::Ok, cUserInterface::Icon::Warning);
    return true;
}

void cDialogMain::ShowConnectFailure() {
    if (!ShowIfMissing(folders.appFolder / "BL.hex", "Verbindung fehlgeschlagen"))
        Message("Verbindung fehlgeschlagen");
}

void cDialogMain::ShowCatalogMessage(const std::string& germanText) {
    if (!germanText.empty())
        Message(germanText.c_str());
}

bool cDialogMain::DiscoverAdapters() {
    return portSelection.DiscoverAdapters();
}

int cDialogMain::OpenSelectedPort(bool quiet) {
    SettleAfterClose();
    if (quiet)
        portSelection.SetMessageCallback({});
    else
        portSelection.SetMessageCallback(
            [this](const std::string& text) { Message(text.c_str()); });
    const int result = portSelection.OpenSelectedPort(Line());
    if (result != kResultOk)
        return result;
    // An adapter left at its default latency timer makes every reply wait for it: said once
    // per adapter while the program runs.
    const int latency = portSelection.SelectedLatencyTimer();
    if (latency > 2 && latencyNoticed.insert(portSelection.SelectedPort()).second) {
        std::string text = Translate(
            "Latenz-Timer des USB-Adapters: %d ms, jede Antwort der Maschine wartet so lange. "
            "Abhilfe: die udev-Regel \"60-kelvane.rules\" installieren (siehe README) und den "
            "Adapter neu einstecken.");
        if (size_t at = text.find("%d"); at != std::string::npos)
            text.replace(at, 2, std::to_string(latency));
        ui.ShowNotice(text);
    }
    return result;
}

const char* cDialogMain::FailureReason() const {
    if (serialPort.Problem() != PortProblem::None)
        return PortProblemText(serialPort.Problem());
    if (const auto* link = dynamic_cast<const cQVX_18*>(linkObject.get())) {
        if (link->LoaderProblem() == cQVX_18::kLoaderMissing)
            return "Das Ladeprogramm \"BL.hex\" fehlt neben dem Programm. Bitte Kelvane neu "
                   "installieren.";
        if (link->LoaderProblem() == cQVX_18::kLoaderBroken)
            return "Das Ladeprogramm \"BL.hex\" neben dem Programm ist beschädigt. Bitte "
                   "Kelvane neu installieren.";
    }
    return nullptr;
}

void cDialogMain::CreateLink() {
    linkObject.reset();
    std::string programFolder = folders.appFolder.string();
    if (!programFolder.empty() && programFolder.back() != '/')
        programFolder += '/';
    auto link = std::make_unique<cQVX_18>(&Line(), programFolder);
    if (pause)
        link->SetPauseFunction(pause);
    link->readSteps = readSteps;
    linkObject = std::move(link);
}

cQVX& cDialogMain::Link() {
    if (!linkObject)
        CreateLink();
    return *linkObject;
}

bool cDialogMain::ConnectNewLink() {
    if (OpenSelectedPort() != kResultOk)
        return false;
    CreateLink();
    if (linkObject->Connect() != kResultOk) {
        // Closed again, so the next command opens the port then selected.
        linkObject.reset();
        ClosePort();
        ShowConnectFailure();
        return false;
    }
    AttachStatusTargets();
    return true;
}

void cDialogMain::AttachStatusTargets() {
    if (linkObject)
        linkObject->SetStatusTargets(linkStatus.get(), linkStatus.get());
}

bool cDialogMain::TriggerSupervisor(cSTM& stm, bool sayFailure, bool quietPort) {
    stm.SetMessageFunction([this](const std::string& text) { Message(text.c_str()); });
    stm.SetPauseFunction([this](int ms) { Pause(ms); });
    if (OpenSelectedPort(quietPort) != kResultOk)
        return false;
    if (stm.Trigger() != kResultOk) {
        ClosePort();
        if (sayFailure)
            Message("Verbindung fehlgeschlagen");
        return false;
    }
    stm.SetStatusTargets(linkStatus.get(), linkStatus.get());
    return true;
}

void cDialogMain::ClosePort() {
    if (Line().IsOpen())
        settleUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSettleMs);
    Line().SetRts(false);
    Line().SetDtr(false);
    Line().Close();
}

void cDialogMain::SettleAfterClose() {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        settleUntil - std::chrono::steady_clock::now());
    settleUntil = {};
    if (left.count() > 0)
        Pause(int(left.count()));
}

ISerialPort& cDialogMain::Line() {
    if (givenLine)
        return *givenLine;
    if (trace)
        return *trace;
    return serialPort;
}

bool cDialogMain::StartTrace(const std::string& path, const std::string& command,
                             std::string& error) {
    auto t = std::make_unique<cTracePort>(serialPort);
    if (!t->Start(path, command, error))
        return false;
    trace = std::move(t);
    return true;
}

fs::path cDialogMain::ConfigurationsFolder() const {
    return folders.dataFolder.empty() ? fs::path() : folders.dataFolder / "configurations";
}

fs::path cDialogMain::FactorySettingsFolder() const {
    return folders.appFolder / "factorySettings";
}

void cDialogMain::DrawStepOverview() {
    sheet.RedrawStepOverview();
}

void cDialogMain::OnParameterSetChanged(int index) {
    if (settingsChanged)
        sheet.CommitSteps(stepCount);
    currentSet = index == 1 ? 1 : 0;
    controls.setListSelection = currentSet;
    stepCount = 5;
    sheet.SetStepCaptions(currentSet, image.ModeFlags());
    sheet.BindPages(image, currentSet);
    sheet.SetActivePage(CSheet::kFirstStepPage);
}

void cDialogMain::SelectFirstSet() {
    if (currentSet == 0)
        return;
    if (settingsChanged)
        sheet.CommitSteps(stepCount);
    currentSet = 0;
    controls.setListSelection = 0;
    stepCount = 5;
    // Rebound as well, so the pages never show set 2 while set 1 is counted.
    sheet.SetStepCaptions(currentSet, image.ModeFlags());
    sheet.BindPages(image, currentSet);
    DrawStepOverview();
}

void cDialogMain::OnExpertModeClicked(bool checked) {
    controls.expertChecked = checked;
    if (checked) {
        bool allowed = image.ParameterisationAllowed();
        sheet.EnableExpertControls(allowed);
        controls.setListEnabled = true;
        controls.expertBoxEnabled = allowed;
        image.SetExpertMode(true);
    } else {
        controls.setListEnabled = false;
        controls.setListSelection = 0;
        sheet.EnableExpertControls(false);
        image.Step(4).SetNextStep(kNextStepLast);
        sheet.SetForcedLast(4, true);
        image.SetExpertMode(false);
    }
    OnParameterSetChanged(controls.setListSelection);
}

void cDialogMain::SetExpertMode(bool on) {
    OnExpertModeClicked(on);
}

void cDialogMain::SetAppFolder(const fs::path& folder) {
    folders.appFolder = folder;
    catalogFile = CatalogFile(folder);
}

void cDialogMain::TakeImageAsRead(const ParameterBlock& read) {
    image = read;
    dataLoaded = true;
    dataOrigin = kDataOriginMachine;
}

void cDialogMain::ClearEditor() {
    image = ParameterBlock::Default();
    dataLoaded = false;
    dataOrigin = kDataOriginNone;
    machineKind = 0;
}
