// The sync between the laptop's history and the team's server: push what the server lacks,
// pull what others made. Safe to cut at any moment: each batch is one transaction on each side,
// the server skips a UUID it has, and the laptop stores a pulled batch with the position it
// reached in one transaction, so the next sync goes on where this one stopped.
#pragma once

#include "history/HistoryStore.h"
#include "history/ServerHistory.h"

#include <cstdint>
#include <optional>
#include <string>

struct SyncCounts {
    int64_t pushed = 0; // entries sent (the server skips one it has from a cut sync)
    int64_t pulled = 0; // the team's entries received
};

struct SyncStatus {
    int64_t waiting = 0;               // entries made here the server has not confirmed
    std::optional<int64_t> lastSyncMs; // the last sync that worked (UTC ms)
    std::string lastError;             // how the last sync failed ("" when it worked)
    ServerError::Kind lastErrorKind = ServerError::None; // its kind, for the user's words
};

// One sync of local against the server conninfo. False with error (Local when the laptop's
// own history failed); counts holds what was done before it.
bool SyncHistory(cHistoryStore& local, const std::string& conninfo, SyncCounts& counts,
                 ServerError& error, int batch = 5000);

SyncStatus SyncStatusOf(cHistoryStore& local);

// Whether a sync in the background is worth starting: not within half a minute after one
// found the server unreachable (a laptop on the line would otherwise try after every command).
// A sync the user asks for always runs.
bool BackgroundSyncDue(cHistoryStore& local);

// One sync at a time per history file: a lock on "<file>.sync" beside it, released when the
// holder ends however it ends.
class cSyncLock {
public:
    // wait: block until the other sync ended; else give up at once. False: not taken.
    bool Take(const std::filesystem::path& historyFile, bool wait);
    ~cSyncLock();

private:
    int fd_ = -1;
};
