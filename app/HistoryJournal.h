// The controller's journal kept in the service history database (history/), with the messages
// the user sees when the database cannot be used.
#pragma once

#include "app/MachineJournal.h"
#include "history/HistoryStore.h"
#include "history/ServerHistory.h"

#include <filesystem>
#include <string>
#include <vector>

class cHistoryJournal : public cMachineJournal {
public:
    // Opens DataFolder/history.sqlite. notice: what to tell the user when a file was moved
    // aside (translated, "" when nothing happened). False with error (translated) when there is
    // no history: every backup then fails with that reason.
    bool Open(const std::filesystem::path& dataFolder, std::string& notice, std::string& error);

    int64_t Backup(const MachineEvent& event, std::string& error) override;
    bool Record(int64_t backupId, const MachineEvent& event, std::string& error) override;
    bool Find(int64_t id, MachineEvent& event, std::string& error) override;

    // The user's words for a failure of the store / a file moved aside (translated).
    static std::string ErrorText(const HistoryError& error);
    static std::string NoticeText(const HistoryNotice& notice);
    // An entry whose images do not match their digests (which: as ImagesIntact names them):
    // "Verlaufseintrag #12 ist beschädigt und wird nicht verwendet: ..." (translated).
    static std::string DamageText(int64_t id, const std::string& which);
    // A failure of this store: a full disk with where and how much (translated).
    std::string FailureText(const HistoryError& error) const;
    // The entry a command makes of an event.
    static HistoryEntry EntryOf(const MachineEvent& event);

    // The team's server ("" none). The window sets it: after every recorded command a sync
    // runs in the background (kelvane-cli syncs once its command ended, by itself).
    std::string server;
    // The kelvane-cli that runs it ("": the one beside this program).
    std::filesystem::path syncProgram;
    // Starts one sync in a process of its own and returns at once; false without a server or
    // when it cannot be started. Unless the user asked for it, not right after the server was
    // found unreachable.
    bool SyncSoon(bool asked = false);
    // A sync started here still runs.
    bool Syncing();
    // "Zu senden: 3, letzte Synchronisation: ..." for the status bar, with the reason when the
    // last sync failed (translated).
    std::string SyncStatusText();

    cHistoryStore store;
    std::string openError; // why the history is not open (translated)

private:
    std::vector<int> syncPids; // started here, not yet collected
};

// The history's settings ("SETTINGS" section): "HistoryServer" (a libpq connection string or
// service name, never a password; "" none) and "Technician" (default: the login name).
struct HistorySettings {
    std::string server;
    // The kelvane-cli that runs it ("": the one beside this program).
    std::filesystem::path syncProgram;
    std::string technician;
};
HistorySettings LoadHistorySettings(const std::filesystem::path& settingsFile);

// The user's words for a failed sync (translated), with the server's own words after them.
std::string SyncErrorText(const ServerError& error);
