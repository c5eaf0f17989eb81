// The controller's side of the service history: a backup before every write, a record of every
// command that reached a machine, restore from an entry, and the settings brought back after a
// firmware update.
#include "app/CutWrites.h"
#include "app/DialogMain.h"
#include "app/HistoryJournal.h"

#include "lang/Language.h"
#include "link/ResultCodes.h"
#include "link/WriteStop.h"
#include "model/ImageDiff.h"
#include "model/ImageListing.h"

#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

// The serial number as the history keeps it (blanks around removed).
std::string SerialOf(const ParameterBlock& image) {
    HistoryEntry e;
    e.TakeIdentity(image);
    return e.serialNr;
}

} // namespace

// ---- the journal in the history database ----

std::string cHistoryJournal::ErrorText(const HistoryError& error) {
    std::string text;
    switch (error.kind) {
    case HistoryError::None:
        return {};
    case HistoryError::Locked:
        text = Translate("Der Verlauf wird von einem anderen Programm benutzt");
        break;
    case HistoryError::ReadOnly:
        text = Translate("Der Verlauf ist schreibgeschützt");
        break;
    case HistoryError::Full:
        text = Translate("Der Datenträger ist voll");
        break;
    case HistoryError::Damaged:
        text = Translate("Der Verlauf ist beschädigt");
        break;
    case HistoryError::NotFound:
        text = Translate("Der Eintrag existiert nicht");
        break;
    case HistoryError::Duplicate:
    case HistoryError::Other:
        text = Translate("Fehler im Verlauf");
        break;
    }
    return error.detail.empty() ? text : text + " (" + error.detail + ")";
}

std::string cHistoryJournal::NoticeText(const HistoryNotice& notice) {
    std::string text;
    switch (notice.reason) {
    case HistoryNotice::None:
        return {};
    case HistoryNotice::Damaged:
        text = Translate("Die Verlaufsdatei war beschädigt und wurde beiseitegelegt:");
        break;
    case HistoryNotice::Foreign:
        text = Translate("Die Verlaufsdatei gehört nicht zu diesem Programm und wurde "
                         "beiseitegelegt:");
        break;
    case HistoryNotice::Newer:
        text = Translate("Die Verlaufsdatei stammt von einer neueren Programmversion und wurde "
                         "beiseitegelegt:");
        break;
    }
    return text + "\n" + notice.movedTo.string() + "\n" + notice.detail + "\n\n" +
           Translate("Ein neuer Verlauf wurde angelegt.");
}

std::string cHistoryJournal::DamageText(int64_t id, const std::string& which) {
    std::string parts;
    size_t from = 0;
    while (from <= which.size()) {
        size_t to = which.find(", ", from);
        if (to == std::string::npos)
            to = which.size();
        const std::string part = which.substr(from, to - from);
        const std::string shown = part == "before"  ? Translate("Abbild vor dem Befehl")
                                  : part == "after" ? Translate("Abbild nach dem Befehl")
                                  : part == "extra" ? Translate("Zusatzdaten")
                                                    : part;
        parts += (parts.empty() ? "" : ", ") + shown;
        from = to + 2;
    }
    return Translate("Verlaufseintrag") + " #" + std::to_string(id) + " " +
           Translate("ist beschädigt und wird nicht verwendet:") + " " + parts + " " +
           Translate("passt nicht zur gespeicherten Prüfsumme");
}

namespace {

std::string Size(uint64_t bytes) {
    return std::to_string((bytes + 1023) / 1024) + " KB";
}

} // namespace

std::string cHistoryJournal::FailureText(const HistoryError& error) const {
    if (error.kind != HistoryError::Full || store.FullRoom().folder.empty())
        return ErrorText(error);
    const cHistoryStore::Room& room = store.FullRoom();
    return Translate("Der Datenträger ist voll:") + " " + room.folder.string() + " " +
           Translate("braucht etwa") + " " + Size(room.needed) + ", " + Translate("frei sind") +
           " " + Size(room.available);
}

bool cHistoryJournal::Open(const fs::path& dataFolder, std::string& notice, std::string& error) {
    HistoryNotice moved;
    HistoryError failure{HistoryError::Other, "no data folder"};
    const bool ok =
        !dataFolder.empty() && store.Open(dataFolder / cHistoryStore::kFileName, moved, failure);
    notice = NoticeText(moved);
    openError.clear();
    if (!ok && !store.NewerVersion().empty()) {
        openError = Translate("Der Verlauf wurde von einer neueren Programmversion geschrieben "
                              "und wird nicht verändert:") +
                    " " + (dataFolder / cHistoryStore::kFileName).string() + " (Kelvane " +
                    store.NewerVersion() + ")";
        // Still listed in the Verlauf, as it is; every backup is refused with openError.
        HistoryError readFailure;
        store.OpenForReading(dataFolder / cHistoryStore::kFileName, readFailure);
    } else if (!ok)
        openError =
            Translate("Der Verlauf konnte nicht geöffnet werden") + ": " + FailureText(failure);
    error = openError;
    return ok;
}

HistoryEntry cHistoryJournal::EntryOf(const MachineEvent& event) {
    HistoryEntry e;
    e.command = event.command;
    e.result = event.result;
    e.message = event.message;
    if (const auto& image = event.before ? event.before : event.after)
        e.TakeIdentity(*image);
    // The next command that meets the machine finds a cut write by this.
    if (e.serialNr.empty())
        e.serialNr = event.serialNr;
    e.fasteningCounter = event.fasteningCounter;
    e.before = event.before;
    e.after = event.after;
    e.extra = event.extra;
    // A rollout's write names it (fleet/FleetStore.h reads it: RolloutOf).
    if (!event.rolloutId.empty()) {
        const std::string text = nlohmann::json{{"rollout", event.rolloutId}}.dump(
            -1, ' ', false, nlohmann::json::error_handler_t::replace);
        e.payload.assign(text.begin(), text.end());
    }
    return e;
}

int64_t cHistoryJournal::Backup(const MachineEvent& event, std::string& error) {
    if (!store.IsOpen() || store.IsReadOnly()) {
        error =
            openError.empty() ? Translate("Der Verlauf konnte nicht geöffnet werden") : openError;
        return 0;
    }
    HistoryEntry e = EntryOf(event);
    e.result.reset(); // open until the command reports back
    HistoryError failure;
    int64_t id = store.Add(e, failure);
    if (id == 0 && failure.kind == HistoryError::Damaged) {
        // Found damaged in use: aside with the rest of it, and the backup into a new file.
        HistoryNotice moved;
        if (store.ReplaceDamaged(moved, failure))
            id = store.Add(e, failure);
        error = NoticeText(moved);
        if (id > 0) {
            RunningWrites::Hold(store.File(), id);
            return id;
        }
    }
    if (id == 0)
        error = error.empty() ? FailureText(failure) : error + "\n" + FailureText(failure);
    else
        RunningWrites::Hold(store.File(), id);
    return id;
}

bool cHistoryJournal::Record(int64_t backupId, const MachineEvent& event, std::string& error) {
    if (!store.IsOpen() || store.IsReadOnly()) {
        error = openError;
        return false;
    }
    HistoryError failure;
    bool ok;
    if (backupId > 0) {
        ok = store.Complete(backupId, event.result, event.message, event.after,
                            event.fasteningCounter, failure);
        RunningWrites::Release(backupId);
    } else
        ok = store.Add(EntryOf(event), failure) > 0;
    if (!ok)
        error = FailureText(failure);
    return ok;
}

bool cHistoryJournal::Find(int64_t id, MachineEvent& event, std::string& error) {
    HistoryError failure;
    const std::optional<HistoryEntry> e = store.Entry(id, failure);
    if (!e) {
        error = ErrorText(failure);
        return false;
    }
    // A damaged image is never handed on, and no other image of the entry in its place.
    if (std::string which; !ImagesIntact(*e, which)) {
        error = DamageText(id, which);
        return false;
    }
    event = {};
    event.command = e->command;
    event.result = e->result.value_or(0);
    event.message = e->message;
    event.before = e->before;
    event.after = e->after;
    event.fasteningCounter = e->fasteningCounter;
    event.extra = e->extra;
    return true;
}

// ---- the controller ----

bool cDialogMain::BackupBeforeWrite(MachineEvent event, int64_t& backupId) {
    backupId = 0;
    if (!journal) {
        MarkWriteRunning(true);
        return true;
    }
    std::string error;
    backupId = journal->Backup(event, error);
    if (backupId > 0) {
        // Stored, but something about the history is worth knowing (a file moved aside).
        if (!error.empty())
            ui.ShowMessage(error, cUserInterface::Buttons::Ok, cUserInterface::Icon::Warning);
        MarkWriteRunning(true);
        return true;
    }
    // Nothing has been written yet: the user decides whether the write may go on unguarded.
    const bool goOn = ui.ConfirmWithoutBackup(
        Translate("Die Sicherung des Maschinenzustands konnte nicht gespeichert werden:") + "\n" +
        error + "\n\n" + Translate("Ohne Sicherung fortfahren?"));
    MarkWriteRunning(goOn);
    return goOn;
}

void cDialogMain::MarkWriteRunning(bool running) {
    if (running != writeRunning)
        WriteStop::writing += running ? 1 : -1;
    if (running)
        WriteStop::wrote = true;
    writeRunning = running;
}

void cDialogMain::RecordCommand(int64_t backupId, const MachineEvent& event) {
    if (journal) {
        std::string error;
        if (!journal->Record(backupId, event, error))
            ui.ShowStatus(Translate("Verlauf: Eintrag nicht gespeichert:") + " " + error);
    }
    // The write's outcome is stored: from here a signal ends the program again.
    MarkWriteRunning(false);
}

void cDialogMain::RecordRead(const char* command, int result, const char* germanMessage,
                             const ParameterBlock* read, std::optional<uint32_t> counter,
                             std::vector<uint8_t> extra) {
    MachineEvent event;
    event.command = command;
    event.result = result;
    if (germanMessage)
        event.message = Translate(germanMessage);
    else if (const char* text = ResultMessage(result))
        event.message = Translate(text);
    if (read)
        event.after = *read;
    event.fasteningCounter = counter;
    event.extra = std::move(extra);
    RecordCommand(0, event);
}

bool cDialogMain::RestoreFromHistory(int64_t entryId) {
    MachineEvent event;
    std::string error;
    if (!journal || !journal->Find(entryId, event, error)) {
        ui.ShowMessage(error.empty() ? Translate("Der Eintrag existiert nicht") : error);
        return false;
    }
    const std::optional<ParameterBlock> entryImage = event.before ? event.before : event.after;
    if (!entryImage) {
        Message("Der Eintrag enthält kein Parameterabbild");
        return false;
    }
    // The machine as it is now: what the restore changes is told against it.
    if (!OnReadFromMachine())
        return false;
    const ParameterBlock machine = image;
    const std::string now = SerialOf(machine), theirs = SerialOf(*entryImage);
    if (now != theirs) {
        ui.ShowMessage(Translate("Der Eintrag stammt von einer anderen Maschine") + " (" +
                           Translate("Seriennummer") + " " + theirs + "; " +
                           Translate("angeschlossen") + ": " + now + ")",
                       cUserInterface::Buttons::Ok, cUserInterface::Icon::Warning);
        return false;
    }
    // The whole entry, as an image read from this machine and edited: the write road keeps
    // the machine's identity, software version, machine data and password.
    ParameterBlock restored = *entryImage;
    const ParameterBlock outgoing =
        ParameterBlock::MergeForWrite(restored, machine, kDataOriginMachine);
    const ConversionContext ctx = MakeConversionContext(machine, catalog, machineKind);
    std::vector<FieldDifference> changes = DiffImages(machine, outgoing, ctx);
    // The write mark is the road's, not the entry's.
    std::erase_if(changes, [](const FieldDifference& d) { return d.name == "writeMark"; });
    const std::string title = Translate("Verlauf") + " #" + std::to_string(entryId);
    if (changes.empty()) {
        ui.ShowMessage(title + ": " + Translate("Die Maschine enthält bereits diesen Stand"),
                       cUserInterface::Buttons::Ok, cUserInterface::Icon::Information);
        return true;
    }
    const std::string kept =
        Translate("Von der Maschine bleiben: Typ, Elektronik, Seriennummer, Software-Version, "
                  "Maschinendaten und Passwort");
    // Captions in the window's language, the record's name beside each for the history.
    const Translator translate = [](std::string_view german) { return Translate(german); };
    const auto caption = [&](const FieldDifference& d) {
        return DifferenceCaption(d, translate) + " (" + d.name + ")";
    };
    std::string listing;
    for (const FieldDifference& d : changes)
        listing += caption(d) + ": " + d.oldValue + " -> " + d.newValue + "\n";
    if (ui.ShowMessage(title + " " + Translate("wiederherstellen:") + "\n" + listing + "\n" + kept,
                       cUserInterface::Buttons::OkCancel,
                       cUserInterface::Icon::None) != cUserInterface::Answer::Ok)
        return false;

    image = restored;
    RefreshAfterRead();
    configName = title;
    settingsChanged = true;
    if (!WriteEditedImage(false))
        return false;
    // What the machine took, read back by the road: one box with the write's own message.
    std::vector<FieldDifference> written = DiffImages(machine, machineImage, ctx, ctx);
    std::erase_if(written, [](const FieldDifference& d) { return d.name == "writeMark"; });
    std::string names;
    for (const FieldDifference& d : written)
        names += "\n  " + caption(d);
    ui.ShowMessage(Translate("Parameter wurden übertragen") + "\n" + title + ", " +
                       Translate("geschrieben:") + names,
                   cUserInterface::Buttons::Ok, cUserInterface::Icon::Information);
    return true;
}

bool cDialogMain::OfferSettingsAfterFirmware(int64_t backupId) {
    if (!journal || backupId <= 0 || dataOrigin != kDataOriginMachine)
        return false;
    MachineEvent event;
    std::string error;
    std::optional<ParameterBlock> saved;
    std::string savedTime;
    auto* history = dynamic_cast<cHistoryJournal*>(journal);
    if (history) {
        // Only the backup of an update tells what the update took away (damaged or not).
        HistoryError failure;
        const std::optional<HistoryEntry> backup = history->store.Entry(backupId, failure);
        if (!backup || backup->command.rfind("Firmware Update", 0) != 0)
            return false;
    } else if (!journal->Find(backupId, event, error) ||
               event.command.rfind("Firmware Update", 0) != 0)
        return false;
    else
        saved = event.before;
    if (history) {
        HistoryError failure;
        const std::vector<HistoryEntry> newest =
            history->store.Entries(SerialOf(image), failure, true);
        // The editor must hold the machine as read after the update: the newest entry of this
        // machine is then that read, and it went through.
        if (newest.empty() || newest[0].id <= backupId || newest[0].command != "von Maschine" ||
            newest[0].result != kResultOk || !newest[0].message.empty())
            return false;
        // A retry after a cut update backed up an erased machine: the settings are those of
        // the backup before the first of the cut updates.
        saved.reset();
        for (const HistoryEntry& e : newest) {
            if (e.id > backupId || e.command.rfind("Firmware Update", 0) != 0)
                continue;
            // A damaged backup is passed over, said, and the next older one asked.
            if (std::string which; !ImagesIntact(e, which)) {
                ui.ShowMessage(cHistoryJournal::DamageText(e.id, which),
                               cUserInterface::Buttons::Ok, cUserInterface::Icon::Warning);
                continue;
            }
            if (e.before && SettingsDiffer(*e.before, image)) {
                saved = e.before;
                savedTime = cHistoryStore::LocalTime(e.timeMs);
                break;
            }
            if (e.id != backupId && e.result == kResultOk)
                break; // an update that went through took those settings deliberately
        }
    }
    // Only the machine the backup came from, and only when the update cost something.
    if (!saved || SerialOf(*saved) != SerialOf(image) || !SettingsDiffer(*saved, image))
        return false;
    if (!ui.ConfirmSettingsBack(
            Translate("Die Firmware-Aktualisierung hat die Benutzereinstellungen "
                      "gelöscht.\n\nSollen die Schritte und Einstellungen der "
                      "Sicherung vor dem Update zurückgeschrieben werden?") +
            (savedTime.empty() ? "" : "\n\n" + Translate("Sicherung vom") + " " + savedTime)))
        return false;
    const ParameterBlock& backup = *saved;

    // The machine as just read, with the parts a configuration file carries from the backup.
    ParameterBlock restored = image;
    using P = ParameterBlock;
    auto take = [&](size_t offset, size_t length) {
        std::copy_n(backup.bytes.begin() + offset, length, restored.bytes.begin() + offset);
    };
    take(P::kOffRestartLock, 1);
    take(P::kOffSteps, P::kStepCount * StepRecordView::kSize);
    take(P::kOffRlLock, P::kOffBlinkNio - P::kOffRlLock + 1);
    image = restored;
    RefreshAfterRead();
    settingsChanged = true;
    return OnWriteToMachine();
}
