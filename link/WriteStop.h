// Ctrl-C in kelvane-cli during a write to the machine: the link says while a write runs, and
// once a stop is asked for it ends the write between two frames instead of in one.
// Set from a signal handler, so plain lock-free atomics only.
#pragma once

#include <atomic>

namespace WriteStop {

inline std::atomic<int> writing{0};        // > 0 while a write to the machine runs
inline std::atomic<bool> requested{false}; // stop after the frame on the line

// Marks the scope of one write.
class Writing {
public:
    Writing() { ++writing; }
    ~Writing() { --writing; }
    Writing(const Writing&) = delete;
    Writing& operator=(const Writing&) = delete;
};

} // namespace WriteStop
