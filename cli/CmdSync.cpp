// kelvane-cli sync [--server C] [--json]: sends the entries the team's server lacks and
// receives the team's. sync --status [--json]: how many wait, when the last sync worked.
#include "app/Folders.h"
#include "app/HistoryJournal.h"
#include "cli/Cli.h"
#include "cli/HistoryCli.h"
#include "history/HistorySync.h"

#include <iostream>

namespace fs = std::filesystem;

namespace {

bool OpenHistoryFile(cHistoryStore& store, const std::string& file) {
    HistoryNotice notice;
    HistoryError error;
    const fs::path folder = DataFolder();
    if (!folder.empty())
        store.SetTechnician(LoadHistorySettings(SettingsFile(folder)).technician);
    // Only the window's own file: never a new one made here.
    if (!fs::is_regular_file(file)) {
        cli::Fail(file + ": no such history");
        return false;
    }
    const bool ok = store.Open(file, notice, error);
    if (!ok)
        cli::Fail(cHistoryJournal::ErrorText(error));
    return ok && !notice;
}

int Status(cHistoryStore& store, bool json) {
    const SyncStatus status = SyncStatusOf(store);
    if (json) {
        nlohmann::json j;
        j["waiting"] = status.waiting;
        j["lastSyncMs"] = status.lastSyncMs ? nlohmann::json(*status.lastSyncMs) : nullptr;
        j["lastSync"] = status.lastSyncMs
                            ? nlohmann::json(cHistoryStore::LocalTime(*status.lastSyncMs))
                            : nullptr;
        j["lastError"] = status.lastError;
        std::cout << j.dump(2) << "\n";
        return 0;
    }
    std::cout << "waiting = " << status.waiting << "\n"
              << "lastSync = "
              << (status.lastSyncMs ? cHistoryStore::LocalTime(*status.lastSyncMs) : "never")
              << "\n";
    if (!status.lastError.empty())
        std::cout << "lastError = " << status.lastError << "\n";
    return 0;
}

int RunSync(cli::Args& args) {
    const bool json = args.Flag("--json");
    const bool status = args.Flag("--status");
    // Started by the window after a command: no output, nothing to tell anyone.
    const bool background = args.Flag("--background");
    // The window names the history it writes: the one a sync must carry.
    std::string historyFile;
    args.Option("--history", historyFile);
    const std::string server = HistoryServer(args);
    const std::vector<std::string> rest = args.Positional();
    if (args.HasError())
        return 2;
    if (!rest.empty())
        return cli::Fail("usage: kelvane-cli sync [--server CONNINFO] [--json] | sync --status "
                         "[--json]",
                         2);
    cHistoryStore store;
    if (historyFile.empty() ? !OpenHistoryStore(store) : !OpenHistoryFile(store, historyFile))
        return 1;
    if (status)
        return Status(store, json);
    if (server.empty())
        return cli::Fail("no server configured (--server CONNINFO, or HistoryServer in the "
                         "settings)");

    cSyncLock lock;
    lock.Take(store.File(), true); // waits for a sync in the background to end
    SyncCounts counts;
    ServerError error;
    const bool ok = SyncHistory(store, server, counts, error);
    if (background)
        return ok ? 0 : 1;
    if (json) {
        nlohmann::json j;
        j["pushed"] = counts.pushed;
        j["pulled"] = counts.pulled;
        j["ok"] = ok;
        j["error"] = ok ? nlohmann::json(nullptr) : nlohmann::json(SyncErrorText(error));
        std::cout << j.dump(2) << "\n";
    } else if (ok || counts.pushed || counts.pulled) {
        std::cout << "pushed = " << counts.pushed << "\n"
                  << "pulled = " << counts.pulled << "\n";
    }
    if (!ok)
        return cli::Fail(SyncErrorText(error));
    return 0;
}

} // namespace

KELVANE_CLI_COMMAND(
    "sync",
    "sync [--server CONNINFO] [--json] | sync --status [--json] | sync --background "
    "[--history FILE]",
    RunSync);
