// "Firmware Update", "Firmware Update SUPV", "Dump SUPV", "Dump Emulationsbereich" and the
// offer of newer firmware after a read.
#include "app/DialogMain.h"
#include "app/WriteRoad.h"

#include "base/FileIo.h"
#include "files/FirmwareFile.h"
#include "lang/Language.h"
#include "link/ResultCodes.h"
#include "link/STM.h"
#include "model/FirmwareVersion.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool SameMachine(const ParameterBlock& a, const ParameterBlock& b) {
    return a.VariantCode() == b.VariantCode() && a.Transmission() == b.Transmission() &&
           a.AngleHead() == b.AngleHead() && (a.MachineFlags() & 1) == (b.MachineFlags() & 1);
}

// The desktop, where dumps are proposed: $XDG_DESKTOP_DIR, ~/Desktop, or the home folder.
fs::path DesktopFolder(const fs::path& fallback) {
    std::error_code ec;
    if (const char* d = std::getenv("XDG_DESKTOP_DIR"); d && *d && fs::is_directory(d, ec))
        return d;
    if (const char* h = std::getenv("HOME"); h && *h) {
        fs::path desk = fs::path(h) / "Desktop";
        if (fs::is_directory(desk, ec))
            return desk;
        return h;
    }
    return fallback;
}

// The messages of a failed machine read; other codes end without one.
bool LinkFailureWithMessage(int code) {
    return code == kResultPortFailed || code == kResultLineSetting || code == kResultTimeout ||
           code == kResultChecksum;
}

constexpr const char* kFirmwareWritten = "Firmware wurde erfolgreich übertragen";
constexpr const char* kFirmwareFailed =
    "Fehler bei Übertragung der Firmware\n\nFirmware-Update bitte wiederholen";
constexpr const char* kFirmwareFilter = "Firmware Files (*.bin)|*.bin|";
constexpr const char* kDumpFilter = "Dump Files (*.bin)|*.bin|";
constexpr int kMaxFolderDepth = 16;

void ListFiles(const fs::path& folder, std::vector<std::string>& list, int depth) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        entries.push_back(*it);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });
    for (const auto& e : entries) {
        // A linked folder is not followed: it could lead back up the tree.
        if (e.is_directory(ec) && !e.is_symlink(ec)) {
            if (depth < kMaxFolderDepth)
                ListFiles(e.path(), list, depth + 1);
        } else if (!e.is_directory(ec)) {
            list.push_back(e.path().string());
        }
    }
}

// The firmware file chosen in folder; false when the dialog was cancelled.
bool AskFirmwareFile(cUserInterface& ui, const fs::path& folder, std::string& path) {
    cUserInterface::FileRequest request;
    request.folder = folder;
    request.filter = kFirmwareFilter;
    return ui.AskOpenFile(request, path) && !path.empty();
}

// Says why a firmware file is refused; fits false refuses a readable file as well. True when
// the file may be written.
bool FirmwareFileAccepted(cDialogMain& c, FirmwareStatus status, bool fits = true) {
    if (status == FirmwareStatus::CannotOpen) {
        c.Message("Firmwaredatei nicht gefunden");
        return false;
    }
    if (status != FirmwareStatus::Ok || !fits) {
        c.Message("ungültige Firmwaredatei");
        return false;
    }
    return true;
}

// Where a dump is written, proposed on the desktop; false when the dialog was cancelled.
bool AskDumpFile(cDialogMain& c, const char* proposedName, std::string& path) {
    cUserInterface::FileRequest request;
    request.folder = DesktopFolder(c.Folders().documentsFolder);
    request.proposedName = proposedName;
    request.filter = kDumpFilter;
    return c.Ui().AskSaveFile(request, path) && !path.empty();
}

} // namespace

fs::path cDialogMain::FirmwareFolder() const {
    return folders.appFolder / "firmware";
}

fs::path cDialogMain::SupervisorFirmwareFolder() const {
    return FirmwareFolder() / "SUPV";
}

void cDialogMain::ListFilesRecursive(const fs::path& folder, std::vector<std::string>& list) {
    ListFiles(folder, list, 0);
}

bool cDialogMain::CheckFirmwareFile(const std::string& path, FirmwareVersion& version) {
    if (!linkObject)
        return false;
    MainFirmware fw;
    if (FirmwareFile::ReadMain(path, linkObject->GetMemorySize(), fw) != FirmwareStatus::Ok)
        return false;
    version = FirmwareVersionOf(fw.block);
    return version.major >= 4 && SameMachine(fw.block, image);
}

std::string cDialogMain::OfferNewerFirmware() {
    FirmwareVersion best = FirmwareVersionOf(image);
    if (best.major != 4)
        return {};
    std::vector<std::string> files;
    ListFilesRecursive(FirmwareFolder(), files);
    std::string chosen;
    for (const std::string& path : files) {
        FirmwareVersion v;
        if (CheckFirmwareFile(path, v) && best < v) {
            best = v;
            chosen = path;
        }
    }
    if (!chosen.empty())
        ui.ShowMessage(Translate("Für diese Maschine liegt eine neuere Firmware vor:\n\n") + chosen,
                       cUserInterface::Buttons::Ok, cUserInterface::Icon::None);
    return chosen;
}

bool cDialogMain::OnFirmwareUpdate(Recovery recovery) {
    OnParameterSetChanged(0);
    if (!ConnectNewLink())
        return false;
    machineKind = 18;
    ParameterBlock machine;
    int result = linkObject->ReadParameterBlock(machine.bytes);
    const bool usable = cWriteRoad::BlockAreaUsable(result, machine, linkObject->BlockOffset());
    FirmwareWrite write;
    // What the machine counted, kept with the backup: the emulation area survives any image.
    uint32_t counter = 0;
    if (linkObject->ReadFasteningCounter(counter) == kResultOk) {
        const auto area = linkObject->EmulationArea();
        write.emulationArea.assign(area.begin(), area.end());
    }
    ClosePort();
    if (usable && result != kResultOk) {
        ShowLinkError(result);
        return false;
    }
    // The machine as known from before, when the block names none now (a recovery).
    const std::string knownSerial = usable ? std::string() : KnownSerialNr();
    ReportCutWrites(machine, usable);
    write.recovery = !usable;
    write.options.serialNr = knownSerial;
    firmwareNeedsRecovery = write.recovery;
    if (write.recovery) {
        // Nothing on the machine says what it is: the firmware file's block will.
        if (recovery == Recovery::Refuse) {
            Message("Der Parameterbereich der Maschine ist nicht lesbar");
            return false;
        }
        if (recovery == Recovery::Ask &&
            !Ask("Der Parameterbereich der Maschine ist nicht lesbar.\n\nWiederherstellung: "
                 "Die ganze Firmware wird neu geschrieben. Seriennummer, Elektroniknummer und "
                 "Kennung der Maschine werden aus der Firmwaredatei übernommen, alle "
                 "Einstellungen gehen verloren. Wählen Sie nur eine Firmware, die zu dieser "
                 "Maschine gehört.\n\nWollen Sie den Vorgang fortsetzen"))
            return false;
    } else if (FirmwareVersionOf(machine).major != 4) {
        return false;
    }
    const FirmwareVersion current = FirmwareVersionOf(machine);

    std::string path;
    if (!AskFirmwareFile(ui, FirmwareFolder(), path))
        return false;

    // Everything about the file is checked before a byte goes to the machine.
    MainFirmware fw;
    const FirmwareStatus status = FirmwareFile::ReadMain(path, linkObject->GetMemorySize(), fw);
    const FirmwareVersion offered = FirmwareVersionOf(fw.block);
    if (!FirmwareFileAccepted(*this, status, offered.major >= 4))
        return false;
    const size_t at = *FirmwareFile::LocateBlock(fw.image);
    if (!write.recovery) {
        if (!SameMachine(machine, fw.block)) {
            Message("Firmware passt nicht zur Maschine");
            return false;
        }
        if (offered < current && !Ask("ACHTUNG\n\nDie ausgewählte Firmware ist veraltet\n\n"
                                      "Wollen Sie den Vorgang fortsetzen"))
            return false;
        if (!Ask("Alle Benutzereinstellungen gehen verloren\n\nWollen Sie den Vorgang "
                 "fortsetzen"))
            return false;

        // The machine keeps its own serial number, electronics and the clutch bit it may not
        // lose.
        ParameterBlock written;
        std::memcpy(written.bytes.data(), fw.image.data() + at, ParameterBlock::kSize);
        written.SetClutchLimitFlags(machine.ClutchLimitFlags() & 0x02);
        std::copy_n(machine.bytes.begin() + ParameterBlock::kOffSerialNr,
                    ParameterBlock::kLenSerialNr,
                    written.bytes.begin() + ParameterBlock::kOffSerialNr);
        std::copy_n(machine.bytes.begin() + ParameterBlock::kOffElAssembly,
                    ParameterBlock::kLenElAssembly,
                    written.bytes.begin() + ParameterBlock::kOffElAssembly);
        std::memcpy(fw.image.data() + at, written.bytes.data(), ParameterBlock::kSize);
        write.before = machine;
    }
    std::memcpy(write.imageBlock.bytes.data(), fw.image.data() + at, ParameterBlock::kSize);
    write.image = std::move(fw.image);
    write.options.command =
        write.recovery ? "Firmware Update (Wiederherstellung)" : "Firmware Update";
    write.options.successText = kFirmwareWritten;
    write.options.failureText = kFirmwareFailed;
    write.options.fasteningCounter = counter;

    const WriteOutcome outcome = cWriteRoad(*this).WriteFirmware(write);
    if (outcome.end == WriteOutcome::End::Failed && !outcome.differs) {
        Message(kFirmwareFailed);
    } else if (outcome.end == WriteOutcome::End::Failed) {
        char address[16];
        std::snprintf(address, sizeof address, "0x%08X", unsigned(*outcome.firstDifference));
        ui.ShowMessage(Translate(kFirmwareFailed) + "\n\n" +
                           Translate("Erste abweichende Adresse:") + " " + address,
                       cUserInterface::Buttons::Ok, cUserInterface::Icon::None);
    }
    if (!outcome.Written())
        return false;
    Message(kFirmwareWritten, cUserInterface::Buttons::Ok, cUserInterface::Icon::Information);
    Pause(1000);
    const bool readAgain = OnReadFromMachine();
    passwordVerified = false;
    // The user settings the update cleared can come back from the backup taken before it (or
    // before the first of the cut updates it repeats).
    if (readAgain)
        OfferSettingsAfterFirmware(outcome.entryId);
    return true;
}

bool cDialogMain::OnSupervisorUpdate() {
    cSTM stm(&Line());
    if (!TriggerSupervisor(stm))
        return false;
    cSTM::Eeprom eeprom{};
    int result = stm.ReadSupervisorEeprom(eeprom);
    ClosePort();
    if (LinkFailureWithMessage(result)) {
        ShowLinkError(result);
        return false;
    }
    const uint32_t current = cSTM::SupervisorVersion(eeprom);

    std::string path;
    if (!AskFirmwareFile(ui, SupervisorFirmwareFolder(), path))
        return false;
    SupervisorFirmware fw;
    if (!FirmwareFileAccepted(*this, FirmwareFile::ReadSupervisor(path, fw)))
        return false;
    if (cSTM::SupervisorVersion(fw.eeprom) < current) {
        Message("Falsche Firmware-Version");
        return false;
    }

    SupervisorWrite write;
    write.options.command = "Firmware Update SUPV";
    // The supervisor names no machine: the last read of this port does.
    write.options.serialNr = KnownSerialNr();
    write.options.successText = kFirmwareWritten;
    write.options.failureText = kFirmwareFailed;
    write.before = eeprom;
    write.eeprom = fw.eeprom;
    write.program = fw.program;
    const WriteOutcome outcome = cWriteRoad(*this).WriteSupervisor(write);
    if (outcome.end == WriteOutcome::End::Written)
        Message(kFirmwareWritten, cUserInterface::Buttons::Ok, cUserInterface::Icon::Information);
    else if (outcome.end == WriteOutcome::End::Failed)
        Message(kFirmwareFailed);
    return outcome.Written();
}

bool cDialogMain::OnDumpSupervisor() {
    cSTM stm(&Line());
    if (!TriggerSupervisor(stm))
        return false;
    cSTM::Eeprom eeprom{};
    const int result = stm.ReadSupervisorEeprom(eeprom);
    ClosePort();
    RecordRead("Dump SUPV", result, nullptr, nullptr, std::nullopt,
               result == kResultOk ? std::vector<uint8_t>(eeprom.begin(), eeprom.end())
                                   : std::vector<uint8_t>());
    if (result != kResultOk) {
        // An incomplete EEPROM is never written as a dump.
        ShowLinkError(result);
        return false;
    }

    std::string path;
    if (!AskDumpFile(*this, "eeSupvDump.bin", path))
        return false;
    // Whole or not at all, and a failure is said as such.
    if (!WriteFileAtomic(path, eeprom.data(), eeprom.size())) {
        Message("Datei kann nicht geöffnet werden");
        return false;
    }
    Message("Dump wurde erstellt", cUserInterface::Buttons::Ok, cUserInterface::Icon::Information);
    return true;
}

bool cDialogMain::OnDumpEmulationArea() {
    std::string path;
    if (!AskDumpFile(*this, "eeEmulationDump.bin", path))
        return false;

    if (!ConnectNewLink())
        return false;
    machineKind = 18;
    // Read into a buffer: the edited image stays what the pages show.
    ParameterBlock machine;
    int result = linkObject->ReadParameterBlock(machine.bytes);
    const int readResult = result;
    if (result == kResultOk)
        result = linkObject->DumpEmulationArea(path);
    ClosePort();
    std::vector<uint8_t> area;
    if (auto* link = dynamic_cast<cQVX_18*>(linkObject.get()))
        area.assign(link->EmulationArea().begin(), link->EmulationArea().end());
    RecordRead(
        "Dump Emulationsbereich", result, nullptr, readResult == kResultOk ? &machine : nullptr,
        area.empty() ? std::nullopt : std::optional<uint32_t>(cQVX_18::FindFasteningCounter(area)),
        std::move(area));
    linkObject.reset();

    if (result == kResultOk) {
        Message("Dump wurde erstellt", cUserInterface::Buttons::Ok,
                cUserInterface::Icon::Information);
        return true;
    }
    // Any file that cannot be written (no folder, a folder of that name, a full disk).
    if (result == kResultFileNotWritten)
        Message("Datei kann nicht geöffnet werden");
    else
        ShowLinkError(result);
    return false;
}
