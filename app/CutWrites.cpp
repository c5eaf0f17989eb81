// A write the program never finished (killed, a crash, the power lost) left its history entry
// open. The next command that reads the machine finds it, says what happened, what the machine
// holds and what repairs it, and closes the entry as cut.
#include "app/CutWrites.h"
#include "app/DialogMain.h"
#include "app/HistoryJournal.h"

#include "lang/Language.h"
#include "link/ResultCodes.h"

#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// One descriptor for the whole process: open-file-description locks belong to it, so no other
// descriptor's close can drop them.
std::mutex gLockMutex;
int gLockFd = -1;
fs::path gLockFile;

pid_t gLockPid = 0;

int LockFd(const fs::path& historyFile) {
    const fs::path file = historyFile.string() + ".running";
    // A forked child shares the parent's description, and with it its locks: it needs its own.
    if (gLockFd >= 0 && gLockPid != ::getpid())
        gLockFd = -1;
    if (gLockFd >= 0 && file == gLockFile)
        return gLockFd;
    if (gLockFd >= 0)
        ::close(gLockFd);
    gLockFile = file;
    gLockPid = ::getpid();
    gLockFd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    return gLockFd;
}

bool Lock(int fd, short type, int64_t id, int command, struct flock* out = nullptr) {
    struct flock l {};
    l.l_type = type;
    l.l_whence = SEEK_SET;
    l.l_start = static_cast<off_t>(id);
    l.l_len = 1;
    const bool ok = ::fcntl(fd, command, &l) == 0;
    if (out)
        *out = l;
    return ok;
}

bool IsMainFirmware(const std::string& command) {
    return command == "Firmware Update" || command == "Firmware Update (Wiederherstellung)";
}

std::string SerialOf(const ParameterBlock& image) {
    HistoryEntry e;
    e.TakeIdentity(image);
    return e.serialNr;
}

// What the machine holds now and the command that repairs it.
std::string StateAndRemedy(const HistoryEntry& e, const ParameterBlock& machine, bool usable) {
    const std::string id = std::to_string(e.id);
    std::string text;
    if (!usable)
        text =
            Translate("Der Parameterbereich der Maschine ist gelöscht oder nicht lesbar.") + "\n";
    if (IsMainFirmware(e.command)) {
        text += Translate("Die Firmware der Maschine ist unvollständig.") + "\n" +
                Translate("Firmware noch einmal schreiben:") + " kelvane-cli firmware " +
                (usable ? "" : "--recover ") + Translate("DATEI") + " (" + Translate("Tools") +
                " -> " + Translate("Firmware Update") + ")";
        return text;
    }
    if (usable && e.before && e.before->bytes == machine.bytes)
        text += Translate("Die Maschine hält unverändert den Stand vor dem Schreiben.");
    else
        text += Translate("Die Maschine hält weder sicher den alten noch den neuen Stand.");
    if (e.before)
        text += "\n" + Translate("Stand vor dem Schreiben zurückschreiben:") +
                " kelvane-cli restore " + id + " (" + Translate("Verlauf") + " #" + id + ")";
    return text;
}

} // namespace

void RunningWrites::Hold(const fs::path& historyFile, int64_t id) {
    std::lock_guard<std::mutex> guard(gLockMutex);
    const int fd = LockFd(historyFile);
    if (fd >= 0 && id > 0)
        Lock(fd, F_WRLCK, id, F_OFD_SETLK);
}

void RunningWrites::Release(int64_t id) {
    std::lock_guard<std::mutex> guard(gLockMutex);
    if (gLockFd >= 0 && id > 0)
        Lock(gLockFd, F_UNLCK, id, F_OFD_SETLK);
}

bool RunningWrites::HeldElsewhere(const fs::path& historyFile, int64_t id) {
    std::lock_guard<std::mutex> guard(gLockMutex);
    const int fd = LockFd(historyFile);
    struct flock l {};
    if (fd < 0 || !Lock(fd, F_WRLCK, id, F_OFD_GETLK, &l))
        return false;
    return l.l_type != F_UNLCK;
}

std::string cDialogMain::KnownSerialNr() const {
    return readSerialPort == portSelection.SelectedPort() ? readSerialNr : std::string();
}

void cDialogMain::ReportCutWrites(const ParameterBlock& machine, bool usable) {
    // Every command's first read passes here: the machine on this port, as far as it is known.
    readSerialNr = usable ? SerialOf(machine) : std::string();
    readSerialPort = usable ? portSelection.SelectedPort() : std::string();
    auto* history = dynamic_cast<cHistoryJournal*>(journal);
    if (!history || !history->store.IsOpen() || history->store.IsReadOnly() || writeRunning)
        return;
    HistoryError error;
    std::optional<std::string> serial;
    if (usable) {
        serial = SerialOf(machine);
        if (serial->empty())
            return;
    }
    std::vector<HistoryEntry> open = history->store.OpenEntries(serial, error);
    // A machine that cannot name itself is matched by what can leave it so: a main firmware
    // update.
    if (!usable)
        std::erase_if(open, [](const HistoryEntry& e) { return !IsMainFirmware(e.command); });
    for (const HistoryEntry& e : open) {
        // Another program on this computer is writing it now.
        if (RunningWrites::HeldElsewhere(history->store.File(), e.id))
            continue;
        const std::string found = cHistoryStore::LocalTime(cHistoryStore::NowMs());
        const std::string what = StateAndRemedy(e, machine, usable);
        std::string text = Translate("Ein Schreibvorgang wurde nicht zu Ende geführt:") + "\n" +
                           Translate(e.command) + ", " + cHistoryStore::LocalTime(e.timeMs) + " (" +
                           Translate("Verlauf") + " #" + std::to_string(e.id) + ")";
        if (!usable && !e.serialNr.empty())
            text += ", " + Translate("Seriennummer") + " " + e.serialNr;
        ui.ShowMessage(text + "\n" + what, cUserInterface::Buttons::Ok,
                       cUserInterface::Icon::Warning);
        const std::string stored =
            Translate("Abgebrochen, festgestellt am") + " " + found + "\n" + what;
        HistoryError failure;
        if (!history->store.Complete(e.id, kResultCut, stored, std::nullopt, std::nullopt, failure))
            ui.ShowStatus(Translate("Verlauf: Eintrag nicht gespeichert:") + " " +
                          cHistoryJournal::ErrorText(failure));
    }
}
