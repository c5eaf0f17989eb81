#include "history/HistorySync.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

ServerError LocalError(const HistoryError& e) {
    return {ServerError::Local, e.detail};
}

bool Run(cHistoryStore& local, const std::string& conninfo, SyncCounts& counts, ServerError& error,
         int batch) {
    if (!local.IsOpen()) {
        error = {ServerError::Local, "no history open"};
        return false;
    }
    cServerHistory server;
    std::string instance;
    if (!server.Connect(conninfo, error) || !server.CheckSchema(instance, error))
        return false;
    HistoryError failure;
    if (!local.StartWithServer(instance, failure)) {
        error = LocalError(failure);
        return false;
    }
    for (;;) {
        const std::vector<HistoryEntry> entries = local.Unpushed(batch, failure);
        if (failure) {
            error = LocalError(failure);
            return false;
        }
        if (entries.empty())
            break;
        if (!server.Push(entries, local.StoreId(), error))
            return false;
        std::vector<int64_t> ids;
        for (const HistoryEntry& e : entries)
            ids.push_back(e.id);
        // Cut here, the next sync sends them again and the server skips them.
        if (!local.MarkPushed(ids, failure)) {
            error = LocalError(failure);
            return false;
        }
        counts.pushed += static_cast<int64_t>(entries.size());
        if (static_cast<int>(entries.size()) < batch)
            break;
    }
    const std::string position = local.Meta("pull_seq");
    int64_t seq = position.empty() ? 0 : std::stoll(position);
    for (;;) {
        std::vector<HistoryEntry> entries;
        int64_t next = seq;
        bool more = false;
        if (!server.Pull(seq, local.StoreId(), batch, entries, next, more, error))
            return false;
        if (next != seq || !entries.empty()) {
            if (!local.AddPulled(entries, next, failure)) {
                error = LocalError(failure);
                return false;
            }
        }
        counts.pulled += static_cast<int64_t>(entries.size());
        seq = next;
        if (!more)
            break;
    }
    return true;
}

} // namespace

bool SyncHistory(cHistoryStore& local, const std::string& conninfo, SyncCounts& counts,
                 ServerError& error, int batch) {
    counts = {};
    error = {};
    const bool ok = Run(local, conninfo, counts, error, batch);
    HistoryError ignored;
    if (ok)
        local.SetMetas({{"last_sync_ms", std::to_string(cHistoryStore::NowMs())},
                        {"last_error", ""},
                        {"last_error_kind", ""}},
                       ignored);
    else if (error.kind != ServerError::Local)
        local.SetMetas({{"last_error", error.detail},
                        {"last_error_kind", std::to_string(static_cast<int>(error.kind))},
                        {"unreachable_ms", error.kind == ServerError::Unreachable
                                               ? std::to_string(cHistoryStore::NowMs())
                                               : ""}},
                       ignored);
    if (ok && !local.Meta("unreachable_ms").empty())
        local.SetMetas({{"unreachable_ms", ""}}, ignored);
    return ok;
}

bool BackgroundSyncDue(cHistoryStore& local) {
    const std::string since = local.Meta("unreachable_ms");
    return since.empty() || cHistoryStore::NowMs() - std::stoll(since) > 30000;
}

SyncStatus SyncStatusOf(cHistoryStore& local) {
    SyncStatus status;
    HistoryError ignored;
    status.waiting = local.Waiting(ignored);
    const std::string last = local.Meta("last_sync_ms");
    if (!last.empty())
        status.lastSyncMs = std::stoll(last);
    status.lastError = local.Meta("last_error");
    const std::string kind = local.Meta("last_error_kind");
    if (!status.lastError.empty())
        status.lastErrorKind = ServerError::Other;
    if (!kind.empty() && kind.find_first_not_of("0123456789") == std::string::npos &&
        kind.size() < 3 && std::stoi(kind) > ServerError::None &&
        std::stoi(kind) <= ServerError::Other)
        status.lastErrorKind = static_cast<ServerError::Kind>(std::stoi(kind));
    return status;
}

bool cSyncLock::Take(const std::filesystem::path& historyFile, bool wait) {
    if (fd_ >= 0)
        return true;
    const std::string name = historyFile.string() + ".sync";
    fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return false;
    int rc;
    do
        rc = ::flock(fd_, LOCK_EX | (wait ? 0 : LOCK_NB));
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

cSyncLock::~cSyncLock() {
    if (fd_ >= 0)
        ::close(fd_);
}
