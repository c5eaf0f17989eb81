// The history's settings, the sync in the background and the words for a failed sync.
#include "app/HistoryJournal.h"

#include "app/Folders.h"
#include "history/HistorySync.h"
#include "lang/Language.h"
#include "model/IniFile.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

HistorySettings LoadHistorySettings(const std::filesystem::path& settingsFile) {
    HistorySettings s;
    IniFile ini;
    if (!settingsFile.empty() && ini.Load(settingsFile.string())) {
        s.server = ini.GetString("SETTINGS", "HistoryServer", "");
        s.technician = ini.GetString("SETTINGS", "Technician", "");
    }
    if (s.technician.empty())
        s.technician = LoginName();
    return s;
}

std::string SyncErrorText(const ServerError& error) {
    std::string text;
    switch (error.kind) {
    case ServerError::None:
        return {};
    case ServerError::Unreachable:
        text = Translate("Der Server ist nicht erreichbar");
        break;
    case ServerError::Auth:
        text = Translate("Der Server hat die Anmeldung abgelehnt: falsches Passwort oder "
                         "unbekannter Benutzer");
        break;
    case ServerError::NoDatabase:
        text = Translate("Die Datenbank existiert auf dem Server nicht");
        break;
    case ServerError::Permission:
        text = Translate("Keine Berechtigung auf dem Server (die Rolle kelvane_technician fehlt)");
        break;
    case ServerError::NoSchema:
        text = Translate("Auf dem Server ist kein gemeinsamer Verlauf eingerichtet "
                         "(kelvane-cli server init)");
        break;
    case ServerError::SchemaOld:
        text = Translate("Das Schema auf dem Server ist zu alt: der Administrator muss "
                         "kelvane-cli server init ausführen");
        break;
    case ServerError::SchemaNew:
        text = Translate("Das Schema auf dem Server ist zu neu: bitte Kelvane aktualisieren");
        break;
    case ServerError::Full:
        text = Translate("Der Datenträger des Servers ist voll: die Einträge bleiben hier und "
                         "werden beim nächsten Mal gesendet");
        break;
    case ServerError::Busy:
        text = Translate("Der Server ist überlastet (zu wenig Speicher oder zu viele "
                         "Verbindungen): später noch einmal versuchen");
        break;
    case ServerError::Config:
        text = Translate("Die Serverangabe ist ungültig");
        break;
    case ServerError::Local:
        text = Translate("Fehler im Verlauf");
        break;
    case ServerError::Other:
        text = Translate("Fehler auf dem Server");
        break;
    }
    return error.detail.empty() ? text : text + " (" + error.detail + ")";
}

bool cHistoryJournal::SyncSoon(bool asked) {
    if (server.empty() || !store.IsOpen() || store.IsReadOnly() ||
        (!asked && !BackgroundSyncDue(store)))
        return false;
    Syncing(); // collects one that ended
    // kelvane-cli beside the program: a process of its own, so neither a slow network nor a
    // cut one holds the window up, and a sync cut by closing the window is safe.
    const std::string exe =
        (syncProgram.empty() ? AppFolder() / "kelvane-cli" : syncProgram).string();
    // The file this window writes, wherever kelvane-cli would look by itself.
    std::vector<std::string> args = {exe,    "sync",      "--background",       "--server",
                                     server, "--history", store.File().string()};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const bool started =
        ::posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!started)
        return false;
    syncPids.push_back(pid);
    return true;
}

bool cHistoryJournal::Syncing() {
    std::vector<int> running;
    for (const int pid : syncPids) {
        pid_t r;
        do
            r = ::waitpid(pid, nullptr, WNOHANG);
        while (r < 0 && errno == EINTR);
        if (r == 0)
            running.push_back(pid);
    }
    syncPids = running;
    return !syncPids.empty();
}

std::string cHistoryJournal::SyncStatusText() {
    if (!store.IsOpen())
        return {};
    const SyncStatus status = SyncStatusOf(store);
    std::string text =
        Translate("Zu senden:") + " " + std::to_string(status.waiting) + ", " +
        Translate("letzte Synchronisation:") + " " +
        (status.lastSyncMs ? cHistoryStore::LocalTime(*status.lastSyncMs) : Translate("noch nie"));
    // Why the last one failed, in words short enough for the status bar.
    if (status.lastErrorKind != ServerError::None)
        text += " - " + SyncErrorText({status.lastErrorKind, ""});
    return text;
}
