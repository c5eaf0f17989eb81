#include "cli/HistoryCli.h"

#include "app/Folders.h"
#include "app/HistoryJournal.h"
#include "base/Hex.h"
#include "cli/Cli.h"
#include "cli/ImageInput.h"
#include "fleet/FleetStore.h"
#include "lang/Language.h"
#include "link/ResultCodes.h"
#include "model/ImageListing.h"

#include "history/HistorySync.h"

#include <fcntl.h>
#include <iostream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string HistoryServer(cli::Args& args) {
    std::string server;
    if (args.Option("--server", server))
        return server;
    const fs::path folder = DataFolder();
    return folder.empty() ? std::string() : LoadHistorySettings(SettingsFile(folder)).server;
}

void SyncInBackground(cHistoryStore& store, const std::string& conninfo) {
    // A listing reads the file read-only; the sync opens it for writing itself.
    if (conninfo.empty() || !store.IsOpen() || !store.NewerVersion().empty() ||
        ::access(store.File().c_str(), W_OK) != 0 || !BackgroundSyncDue(store))
        return;
    const fs::path historyFile = store.File();
    std::cout.flush();
    std::cerr.flush();
    const pid_t child = ::fork();
    if (child < 0)
        return;
    if (child > 0) {
        // The middle process ends at once; the grandchild is nobody's to wait for.
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        return;
    }
    ::setsid();
    if (::fork() != 0)
        ::_exit(0);
    // Detached: no terminal to write to, no signal of the shell that started the command.
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
    }
    cSyncLock lock;
    if (lock.Take(historyFile, true)) {
        cHistoryStore store;
        HistoryNotice notice;
        HistoryError error;
        if (store.Open(historyFile, notice, error) && !notice) {
            SyncCounts counts;
            ServerError failure;
            SyncHistory(store, conninfo, counts, failure);
        }
    }
    ::_exit(0);
}

bool OpenHistoryStore(cHistoryStore& store) {
    HistoryNotice notice;
    HistoryError error{HistoryError::Other, "no data folder (HOME is not set)"};
    const fs::path folder = DataFolder();
    if (!folder.empty())
        store.SetTechnician(LoadHistorySettings(SettingsFile(folder)).technician);
    const bool ok = !folder.empty() && store.Open(folder / cHistoryStore::kFileName, notice, error);
    if (notice)
        std::cerr << "kelvane-cli: " << cHistoryJournal::NoticeText(notice) << "\n";
    if (!ok)
        cli::Fail(cHistoryJournal::ErrorText(error));
    return ok;
}

bool OpenHistoryForReading(cHistoryStore& store) {
    HistoryError error{HistoryError::Other, "no data folder (HOME is not set)"};
    const fs::path folder = DataFolder();
    const bool ok =
        !folder.empty() && store.OpenForReading(folder / cHistoryStore::kFileName, error);
    if (!ok) {
        cli::Fail(Translate("Der Verlauf konnte nicht geöffnet werden") + ": " +
                  cHistoryJournal::ErrorText(error));
        return false;
    }
    if (!store.NewerVersion().empty())
        std::cerr << "kelvane-cli: "
                  << Translate("Der Verlauf wurde von einer neueren Programmversion geschrieben "
                               "und wird nicht verändert:")
                  << " " << store.File().string() << " (Kelvane " << store.NewerVersion() << ")\n";
    return true;
}

std::optional<int64_t> ParseEntryId(const std::string& text) {
    std::string digits = !text.empty() && text[0] == '@' ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 18 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int64_t id = std::stoll(digits);
    return id > 0 ? std::optional<int64_t>(id) : std::nullopt;
}

// The identity texts are the image's bytes (Latin-1); messages are the program's UTF-8, which may
// quote a machine's bytes. Either way JSON gets valid UTF-8.
nlohmann::json MachineJson(const HistoryMachine& m) {
    nlohmann::json j;
    j["serialNr"] = Latin1ToUtf8(m.serialNr);
    j["machineType"] = Latin1ToUtf8(m.machineType);
    j["swVersion"] = Latin1ToUtf8(m.swVersion);
    j["lastSeenMs"] = m.lastSeenMs;
    j["lastSeen"] = cHistoryStore::LocalTime(m.lastSeenMs);
    j["fasteningCounter"] = m.fasteningCounter ? nlohmann::json(*m.fasteningCounter) : nullptr;
    j["entries"] = m.entries;
    return j;
}

nlohmann::json EntryJson(const HistoryEntry& e) {
    nlohmann::json j;
    j["id"] = e.id;
    j["timeMs"] = e.timeMs;
    j["time"] = cHistoryStore::LocalTime(e.timeMs);
    j["command"] = JsonText(e.command);
    j["result"] = e.result ? nlohmann::json(*e.result) : nullptr;
    // "open": no outcome yet (running, or cut and not yet found); "cut": found cut afterwards.
    j["state"] = !e.result                 ? "open"
                 : *e.result == kResultCut ? "cut"
                 : *e.result == 0          ? "ok"
                                           : "failed";
    j["message"] = JsonText(e.message);
    j["machineType"] = Latin1ToUtf8(e.machineType);
    j["serialNr"] = Latin1ToUtf8(e.serialNr);
    j["elAssembly"] = Latin1ToUtf8(e.elAssembly);
    j["swVersion"] = Latin1ToUtf8(e.swVersion);
    j["fasteningCounter"] = e.fasteningCounter ? nlohmann::json(*e.fasteningCounter) : nullptr;
    j["uuid"] = e.uuid;
    j["technician"] = JsonText(e.technician);
    j["host"] = JsonText(e.host);
    j["fromHere"] = e.fromHere;
    if (e.IsMachineCommand())
        if (const std::string rollout = RolloutOf(e.payload); !rollout.empty())
            j["rollout"] = JsonText(rollout);
    if (!e.IsMachineCommand())
        j["kind"] = JsonText(e.kind);
    return j;
}

std::string HexOf(const uint8_t* p, size_t n) {
    return HexBytes(p, n, false, false);
}

ConversionContext ContextFor(const ParameterBlock& image, int machineKind) {
    MachineCatalog catalog;
    LoadCatalogFor(image, catalog);
    return MakeConversionContext(image, catalog, machineKind);
}
