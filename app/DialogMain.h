// The main controller: owns the edited parameter image, the machine's copy, the catalog, the
// serial port and the link, the state flags, and runs every command of the main window.
//
// Plain C++: the user is asked through cUserInterface, the pages are reached through CSheet.
// The state is the controller's own: the window, the command-line program and the tests read
// it through methods, and only the commands change it.
#pragma once

#include "app/FirstRun.h"
#include "app/MachineJournal.h"
#include "app/Settings.h"
#include "app/Sheet.h"
#include "app/UserInterface.h"
#include "link/PortSelection.h"
#include "link/QVX.h"
#include "link/SerialPort.h"
#include "link/TracePort.h"
#include "model/FirmwareVersion.h"
#include "model/ImageDiff.h"
#include "model/MachineCatalog.h"
#include "model/ParameterBlock.h"
#include "model/WriteCheck.h"
#include "pages/PageHost.h"
#include "report/Report.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class cFleetStore;
class cSTM;
struct FleetMachine;
struct LibraryRef;
struct LibraryVersion;

class cDialogMain : public PageHost {
public:
    using PasswordDigestBytes = std::array<uint8_t, ParameterBlock::kLenPasswordDigest>;

    // folders: AppFolder (catalog, "factorySettings", "BL.hex"), DataFolder ("configurations",
    // the settings file), DocumentsFolder. The settings file is read at once when it exists.
    // lister: how the port list is filled (default: the adapters and running simulators).
    cDialogMain(cUserInterface& ui, CSheet& sheet, FolderSet folders,
                PortSelection::ListFn lister = {});
    ~cDialogMain() override;
    cDialogMain(const cDialogMain&) = delete;
    cDialogMain& operator=(const cDialogMain&) = delete;

    // ---- machine link and parameter transfer ----

    // Port-bracketed steps: open the selected port, read (after Connect) or write the block,
    // close the port. -102 when the port cannot be opened. ReadFromMachine needs linkObject.
    int ReadFromMachine(ParameterBlock& destination);
    // "von Maschine" / "zur Maschine". True when the command did what it was asked.
    bool OnReadFromMachine();
    bool OnWriteToMachine();

    // The message of a result code in a box with OK; codes without a message show nothing.
    void ShowLinkError(int code);

    // 0 port open; -1 no adapter (no message); -2 opening failed ("com-port not opend", unless
    // quiet: a reopen inside a write, whose own failure message says it).
    int OpenSelectedPort(bool quiet = false);
    bool DiscoverAdapters();

    // ---- machine password ----

    // The password dialog: confirmed or not, and the entered text (at most 8 characters).
    bool AskPassword(std::string& password);
    // "Passwort ändern". True when the machine holds the new password digest.
    bool OnChangePassword();
    // 8-byte digest of the first eight UTF-16 units of a password (see PasswordUnits).
    static PasswordDigestBytes PasswordDigestOf(const std::string& password);
    // The first `limit` UTF-16 units of a password (an edit field's length limit).
    static std::string LimitCharacters(const std::string& text, size_t limit);
    // A password's UTF-16 units. Passwords travel as UTF-8 in which an unpaired surrogate (a
    // field cut after half of a pair) is kept as its own three-byte sequence; PasswordText
    // makes that form from the units.
    static std::u16string PasswordUnits(const std::string& text);
    static std::string PasswordText(std::u16string_view units);

    // ---- configuration files ----

    // "Konfiguration" / "Speichern" and "Laden". True when a file was written / loaded.
    bool SaveConfiguration();
    bool LoadConfiguration();
    // 0, -1 (cannot be opened, shorter than 560 bytes), -2 (sealed digest wrong). Only out is
    // written, and only on 0.
    static int ReadConfigFile(const std::string& path, ParameterBlock& out);
    // The rest of "Laden" for an image already read: taken into the editor as a configuration
    // (dataOrigin 2) shown as name. False, state unchanged, when the image is no usable
    // configuration (firmware major below 4, unknown machine kind).
    bool TakeConfiguration(const ParameterBlock& buffer, const std::string& name);
    // 0 or -1. Written to a temporary file and renamed, so a failure leaves no broken file.
    static int WriteConfigFile(const std::string& path, const ParameterBlock& image,
                               std::string* error = nullptr);
    // The copy a configuration file stores: machine identity, maintenance data and password
    // digest cleared, writeMark 1.
    static ParameterBlock ConfigurationCopy(const ParameterBlock& image);
    // "%s_%d_%d_%d_%d.bin": machine type, variant, gearbox, max torque in Nm mod 256, angle head.
    static std::string ProposedConfigName(const ParameterBlock& image);
    std::filesystem::path ConfigurationsFolder() const;

    // ---- factory settings ----

    // "Werkseinstellung". True when the machine was restored and read back.
    bool RestoreFactorySettings();
    // "%s_%d_%d_%d_%d_factory.bin" from the machine's image.
    static std::string ProposedFactoryName(const ParameterBlock& machine);
    std::filesystem::path FactorySettingsFolder() const;

    // ---- firmware update and dumps ----

    // "Firmware Update", "Firmware Update SUPV", "Dump SUPV", "Dump Emulationsbereich".
    // True when the command did what it was asked.
    // How "Firmware Update" treats a machine whose block area is not a usable image: ask
    // before a recovery (the window), refuse it, or recover without asking (a command line
    // that asked for it).
    enum class Recovery { Ask, Refuse, Recover };
    bool OnFirmwareUpdate(Recovery recovery = Recovery::Ask);
    // The last "Firmware Update" found a block area that is not a usable image.
    bool FirmwareNeedsRecovery() const { return firmwareNeedsRecovery; }
    bool OnSupervisorUpdate();
    bool OnDumpSupervisor();
    bool OnDumpEmulationArea();
    // Names the newest firmware file for the machine in the image, if one is newer than the
    // machine's. Meant for offerNewerFirmware: `c.offerNewerFirmware = [&c] {
    // c.OfferNewerFirmware(); };`. Returns the file named, "" for none.
    std::string OfferNewerFirmware();
    // A main firmware file that fits the machine in the image (linkObject's memory size,
    // major >= 4, same identity); its version on true.
    bool CheckFirmwareFile(const std::string& path, FirmwareVersion& version);
    // Every file below folder (sub-folders searched too), by full path, sorted by name within
    // each folder so the order does not depend on the file system.
    static void ListFilesRecursive(const std::filesystem::path& folder,
                                   std::vector<std::string>& list);
    std::filesystem::path FirmwareFolder() const;           // AppFolder/firmware
    std::filesystem::path SupervisorFirmwareFolder() const; // AppFolder/firmware/SUPV

    // ---- the window's own commands ----

    static constexpr int kLanguageCommandBase = 48000;
    static constexpr int kMaxLanguages = 100;

    // The window's part of each showing: ports, expert state, pages bound, settings and
    // catalog read again, the language list, the change flag, the title text, pages locked.
    void InitWindow();
    // Language menu entry (48000 + index). True when the window must close to be shown again
    // in the new language.
    bool OnLanguageChosen(int id);
    // The question before closing with unsaved changes. True when the window may close.
    bool ConfirmClose();
    // "Beenden", Escape and the window's close request: true when the window may close.
    bool OnCloseRequest();
    std::filesystem::path ManualPath() const; // AppFolder/doc/manual.pdf
    void OpenManual();
    // "Ausgabe" and "Druckvorlage". True when the report was written / a template chosen.
    bool OnReportOutput();
    bool OnChooseTemplate();
    // Every page writes its pending edits into the image.
    void CommitAllPages();
    // The language files' base names as the menu lists them (at most kMaxLanguages).
    static std::vector<std::string> ListLanguageFiles(const std::filesystem::path& folder);

    // What the step overview below the sheet draws: the current set's five steps.
    OverviewInput OverviewOf(int width, int height) const;

    // Draws the report's step pictures (the window gives the JPEG export); empty: none.
    void SetPictureWriter(StepPictureWriter writer) { writePicture = std::move(writer); }
    // The overview strip's current client size, which the report's pictures take; empty (no
    // window) or a strip too small to draw in: the report's own default.
    void SetOverviewSize(std::function<std::pair<int, int>()> size) {
        overviewSize = std::move(size);
    }
    // The strip's size as the window gives it now; none without a window.
    std::optional<std::pair<int, int>> OverviewSize() const {
        if (!overviewSize)
            return std::nullopt;
        return overviewSize();
    }
    // The language menu's entries, as InitWindow found them.
    const std::vector<std::string>& LanguageNames() const { return languageNames; }
    // The window's title after the program's name, in the current language.
    const std::string& TitleVersionText() const { return titleVersionText; }

    // ---- operations the read and load commands share with the window ----

    void MarkChanged() override { settingsChanged = true; }
    // The edits count as kept: closing asks nothing (a window shown only for a picture).
    void ForgetChanges() { settingsChanged = false; }
    void SetExpertMode(bool on);
    // The expert box clicked to `checked`.
    void OnExpertModeClicked(bool checked);
    void OnParameterSetChanged(int index);
    // Parameter set 1 shown again (list, pages and overview), without turning the sheet to a
    // step page.
    void SelectFirstSet();
    void DrawStepOverview();
    // Run after a read found changed machine data: the offer of newer firmware.
    void SetNewerFirmwareOffer(std::function<void()> offer) {
        offerNewerFirmware = std::move(offer);
    }

    // ---- what the pages ask of the controller ----

    void RedrawStepGraphic() override { DrawStepOverview(); }
    void SetUserGearFactor(double factor) override { userGearFactor = factor; }
    void RefreshFromExpertPage() override;
    void ShowErrorCriteria(bool show) override;
    int BatteryVoltage() const override { return batteryVoltage; }
    int BatteryMaxSpeed() const override { return catalog.pageBatteryMaxSpeed; }
    void SetBatteryVoltage(int volts) override { batteryVoltage = volts; }
    bool CheckBatterySpeeds(int previousVoltage) override;

    // Replaces the prescribed waits (500 ms after a port close, the link's own waits).
    void SetPauseFunction(std::function<void(int milliseconds)> fn);

    // ---- steps the machine commands share (firmware and dump commands use them too) ----

    // linkObject := a new cQVX_18 on the serial port, the loader taken from AppFolder.
    void CreateLink();
    // Handed to every new link (cQVX::readSteps): the command-line program's bar for reads.
    void SetReadSteps(std::function<void(int percent)> steps) { readSteps = std::move(steps); }
    // Opens the selected port, makes a new link and connects it, with its status shown. On a
    // failure the link is gone, the port closed, and "Verbindung fehlgeschlagen" was shown
    // (a port that cannot be opened says its own message).
    bool ConnectNewLink();
    // The link shows its status text and progress through the user interface.
    void AttachStatusTargets();
    // Opens the selected port and wakes the supervisor's loader, with the controller's
    // messages, waits and status shown. On a failure the port is closed again and "Verbindung
    // fehlgeschlagen" was shown (a port that cannot be opened says its own message). sayFailure
    // and quietPort leave those messages to the caller.
    bool TriggerSupervisor(cSTM& stm, bool sayFailure = true, bool quietPort = false);
    // RTS off, DTR off, close. Dropping DTR resets the machine: it answers a wake-up only
    // kSettleMs later, so the next opening of the port waits for what is left of that.
    void ClosePort();
    static constexpr int kSettleMs = 500;
    void Pause(int milliseconds);
    // Why the last machine command failed, as a technician acts on it (German, still to be
    // translated): the port's problem (no permission, in use, adapter gone, not a serial
    // device) or the loader "BL.hex" missing or broken; nullptr when neither.
    const char* FailureReason() const;
    // A German text through Translate in a message box. A failure message of the link gets the
    // reason behind it on a second line, and the reason goes to the status bar as well.
    void Message(const char* germanText,
                 cUserInterface::Buttons buttons = cUserInterface::Buttons::Ok,
                 cUserInterface::Icon icon = cUserInterface::Icon::None);
    // The same with OK and Cancel: true for OK.
    bool Ask(const char* germanText);

    // ---- state, as the window, the command-line program and the tests see it ----

    const FolderSet& Folders() const { return folders; }
    // Another installation tree (the catalog in it with it), as a program started elsewhere.
    void SetAppFolder(const std::filesystem::path& folder);
    const std::filesystem::path& SettingsPath() const { return settingsFile; }
    const std::filesystem::path& CatalogPath() const { return catalogFile; }
    const Settings& CurrentSettings() const { return settings; }
    // The report template this run uses (not stored; "Druckvorlage" stores its choice).
    void UseTemplate(const std::string& path) { settings.templatePath = path; }

    // The line every machine command uses: the serial port, a trace around it, or the line
    // given to UseLine.
    ISerialPort& Line();
    bool PortOpen() const { return serialPort.IsOpen(); }
    // Every machine command talks over line from now on (not owned; the fuzz target feeds the
    // machine's replies from memory).
    void UseLine(ISerialPort& line) { givenLine = &line; }
    // Writes every byte on the line from now on to path (--trace); false with the reason.
    bool StartTrace(const std::string& path, const std::string& command, std::string& error);
    // The port list and the port chosen in it.
    PortSelection& Ports() { return portSelection; }
    const PortSelection& Ports() const { return portSelection; }
    // The link the machine commands talk through: made on the serial port when there is none;
    // null when none was made yet.
    cQVX& Link();
    const cQVX* CurrentLink() const { return linkObject.get(); }
    // Hands the link over (null when none), and takes another (tests wrap the link).
    std::unique_ptr<cQVX> TakeLink() { return std::move(linkObject); }
    void UseLink(std::unique_ptr<cQVX> link) { linkObject = std::move(link); }

    // The image the pages edit, in place: BindPages hands them the same. Whoever edits it as a
    // page would (the command-line program, tests) calls MarkChanged.
    const ParameterBlock& Image() const { return image; }
    ParameterBlock& PageImage() { return image; }
    // An image "read" wrote earlier, in the editor as read from the machine (nothing shown).
    void TakeImageAsRead(const ParameterBlock& read);
    // The editor back to its start: no image, nothing loaded.
    void ClearEditor();
    // The machine's image as read just before the last write.
    const ParameterBlock& MachineImage() const { return machineImage; }
    uint32_t FasteningCounter() const { return fasteningCounter; }
    const MachineCatalog& Catalog() const { return catalog; }
    // The digest of the block as the machine held it after the last read or write.
    const ParameterBlock::DigestWords& BlockDigest() const { return blockDigest; }
    // The machine password was entered for this machine in this run (and is its digest).
    bool PasswordVerified() const { return passwordVerified; }
    const PasswordDigestBytes& VerifiedPasswordDigest() const { return verifiedPasswordDigest; }
    bool DataLoaded() const { return dataLoaded; }
    int DataOrigin() const { return dataOrigin; }
    bool SettingsChanged() const { return settingsChanged; }
    const std::string& ConfigName() const { return configName; }
    int MachineKind() const { return machineKind; }
    double UserGearFactor() const { return userGearFactor; }
    int CurrentSet() const { return currentSet; }
    // A language change closes the window to show it again.
    bool RestartPending() const { return restartPending; }

    // Controls of the main window, as the window shows them.
    struct WindowControls {
        bool expertChecked = false;
        bool expertBoxEnabled = false;
        bool setListEnabled = false;
        int setListSelection = 0;
        bool writeButtonEnabled = false;
    };
    const WindowControls& Controls() const { return controls; }

    // ---- service history ----

    // Where machine commands are recorded; null: no history (nothing stored, nothing asked).
    void SetJournal(cMachineJournal* j);
    cMachineJournal* Journal() const { return journal; }
    // Before the first written byte: stores the machine's state. False when the write must not
    // start (the backup failed and the user did not agree to go on without it). backupId is
    // the entry to complete with RecordCommand, 0 for none.
    bool BackupBeforeWrite(MachineEvent event, int64_t& backupId);
    // Records the outcome of a command that reached a machine; a failure to store is shown in
    // the status bar, never stops the command.
    void RecordCommand(int64_t backupId, const MachineEvent& event);
    // From the backup to the record a write is running: a signal then lets it finish (or stop
    // between frames) instead of ending the program in the middle.
    bool writeRunning = false;
    void MarkWriteRunning(bool running);
    // After a read at a command's start: writes to this machine whose entries stayed open
    // (the program killed, the power lost) are told with what repairs them and closed as cut.
    // usable: the block names the machine (else open firmware updates of any machine count).
    void ReportCutWrites(const ParameterBlock& machine, bool usable);
    // The serial number the last usable read found, when it was read on the selected port; ""
    // otherwise. Entries whose images name no machine (supervisor, recovery) carry it.
    std::string KnownSerialNr() const;
    // After a read that found the block area unusable: how to bring the machine back.
    void ShowRecoveryHint(bool usable);
    // "Wiederherstellen" in the history and `kelvane-cli restore`: reads the machine, refuses
    // an entry of another one, lists what comes back and what stays the machine's (identity,
    // software version, machine data, password), and on OK writes the entry by "zur Maschine";
    // then names the fields written. True when the machine holds the entry.
    bool RestoreFromHistory(int64_t entryId);
    // A command that only read from the machine, for the history: the image read (null when
    // none), the message shown (German, null for none).
    void RecordRead(const char* command, int result, const char* germanMessage,
                    const ParameterBlock* read, std::optional<uint32_t> counter,
                    std::vector<uint8_t> extra = {});
    // After a "Firmware Update" that erased the user settings: offers to write back the steps
    // and settings of the backup taken before it, and writes them only when the user agrees.
    // True when they were written.
    bool OfferSettingsAfterFirmware(int64_t backupId);

    // ---- the fleet (app/FleetCommands.cpp) ----

    // The fleet's records in the history's database, opened at first use; null (the reason
    // shown unless quiet) without a history.
    cFleetStore* FleetRecords(bool quiet = false);
    // The serial number of the last image read from a machine ("" none): the machine
    // "Freigaben" assigns.
    const std::string& ConnectedSerial() const { return connectedSerial; }
    // What the connected machine holds, as last read or written, against its approval. The line the
    // status bar shows ("" when none is assigned or the history cannot be read);
    // ApprovalDifferences are the fields that differ (the approval's value old, the machine's new)
    // for the comparison.
    std::string CheckApproval();
    const std::string& ApprovalText() const { return approvalText; }
    const std::vector<FieldDifference>& ApprovalDifferences() const { return approvalDifferences; }
    // "Als Freigabe speichern": the editor's configuration as the next version of a name the
    // user gives (an existing one or a new one) with a note. True when it was added.
    bool SaveAsApproval();
    // Assigns ref (its name empty: none) to the connected machine. True when recorded.
    bool AssignConnected(const LibraryRef& ref);
    // A version as a sealed configuration file, asking where. True when written.
    bool ExportApproval(const LibraryVersion& version);
    // Every machine the history knows, with the program's due settings and firmware.
    std::vector<FleetMachine> FleetOverview(std::string& error);
    // The printable fleet page of machines, asking where; filterText goes into its title.
    // True when written (and opened).
    bool WriteFleetPage(const std::vector<FleetMachine>& machines, const std::string& filterText);

    // ---- the road of every write (app/WriteRoad.h) ----

    // The check before any image is sent; a finding is shown, naming the fields. catalog null:
    // the machine's own tables.
    bool CheckBeforeWrite(const ParameterBlock& outgoing, const ParameterBlock& machine,
                          const MachineCatalog* catalog);
    static std::string FindingsText(const std::vector<WriteFinding>& findings);
    // The check CheckBeforeWrite runs (tests put their own findings in).
    using WriteCheckFn = std::function<std::vector<WriteFinding>(
        const ParameterBlock&, const ParameterBlock&, const MachineCatalog&, uint16_t)>;
    void SetWriteCheck(WriteCheckFn fn) { writeCheck = std::move(fn); }
    cUserInterface& Ui() { return ui; }

private:
    // "zur Maschine" of the editor's image; tellDone: the success in a box of its own.
    bool WriteEditedImage(bool tellDone);
    class LinkStatus;

    void ShowCatalogMessage(const std::string& germanText);
    // Names a file of the installation tree that is missing or cannot be read, after
    // germanHeading when one is given; false when the file is fine.
    bool ShowIfMissing(const std::filesystem::path& file, const char* germanHeading = nullptr);
    // After a failed Connect: the loader beside the program when that is what is missing,
    // else "Verbindung fehlgeschlagen".
    void ShowConnectFailure();
    // The pages and window after a successful read of the image (refresh of step 8.3).
    void RefreshAfterRead();

    cUserInterface& ui;
    CSheet& sheet;
    FolderSet folders;
    std::filesystem::path settingsFile;
    std::filesystem::path catalogFile;
    Settings settings;

    SerialPort serialPort;
    PortSelection portSelection;
    std::unique_ptr<cQVX> linkObject;

    ParameterBlock image = ParameterBlock::Default(); // what the pages edit
    ParameterBlock machineImage;                      // the machine's image just before a write
    uint32_t fasteningCounter = 0;
    MachineCatalog catalog;
    ParameterBlock::DigestWords blockDigest{};
    bool passwordVerified = false;
    PasswordDigestBytes verifiedPasswordDigest{};
    bool dataLoaded = false;
    int dataOrigin = kDataOriginNone;
    bool settingsChanged = false;
    std::string configName;
    int machineKind = 0;
    double userGearFactor = 1.0;
    int currentSet = 0;
    int stepCount = 5;
    int batteryVoltage = 18;
    bool restartPending = false;
    WindowControls controls;
    bool firmwareNeedsRecovery = false;

    StepPictureWriter writePicture;
    std::function<std::pair<int, int>()> overviewSize;
    std::vector<std::string> languageNames;
    int languageIndex = -1;
    std::string titleVersionText;
    std::function<void()> offerNewerFirmware;
    std::function<void(int percent)> readSteps;
    cMachineJournal* journal = nullptr;
    std::unique_ptr<cFleetStore> fleetRecords;
    std::string connectedSerial;
    ParameterBlock connectedImage; // as read or written last
    std::vector<FieldDifference> approvalDifferences;
    std::string approvalText;
    WriteCheckFn writeCheck = CheckImageForWrite;

    std::unique_ptr<LinkStatus> linkStatus;
    std::unique_ptr<cTracePort> trace;
    ISerialPort* givenLine = nullptr;
    std::function<void(int)> pause;
    // Until when the machine restarts after the last close (see ClosePort).
    std::chrono::steady_clock::time_point settleUntil{};
    void SettleAfterClose();
    // What the last usable read of the block found and on which port (KnownSerialNr).
    std::string readSerialNr, readSerialPort;
    std::set<std::string> latencyNoticed; // adapters whose slow latency timer was named
};
