// Ctrl-C (and SIGTERM, SIGHUP, SIGQUIT) in kelvane-cli during a write to the machine: the link
// and the write road say while a write runs, and once a stop is asked for the link ends the
// write between two frames instead of in one.
// Set from a signal handler, so plain lock-free atomics only.
#pragma once

#include <atomic>

namespace WriteStop {

inline std::atomic<int> writing{0};        // > 0 while a write to the machine runs
inline std::atomic<bool> requested{false}; // stop after the frame on the line
// A write ran in this process: its outcome is still to be told before the program ends.
inline std::atomic<bool> wrote{false};

// Marks the scope of one write.
class Writing {
public:
    Writing() { ++writing; }
    ~Writing() { --writing; }
    Writing(const Writing&) = delete;
    Writing& operator=(const Writing&) = delete;
};

} // namespace WriteStop
