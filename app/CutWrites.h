// Which open history entries belong to a write that still runs on this computer. Each running
// write holds a lock on the byte at its entry's id in "history.sqlite.running" beside the
// history; the system drops the lock when the process ends, however it ends (kill -9 too), so
// an open entry without it was cut.
#pragma once

#include <cstdint>
#include <filesystem>

namespace RunningWrites {

// From the backup on: this process writes for entry id of the history in historyFile.
void Hold(const std::filesystem::path& historyFile, int64_t id);
// The write of entry id has been recorded.
void Release(int64_t id);
// Whether another process holds entry id. False when that cannot be known (no lock file).
bool HeldElsewhere(const std::filesystem::path& historyFile, int64_t id);

} // namespace RunningWrites
