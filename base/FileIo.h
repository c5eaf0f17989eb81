// Whole-file reads and writes that never leave a half-written file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Writes data to a temporary file in the same folder, flushes it to disk and renames it over
// path. On failure the old file (if any) is untouched, no temporary file is left, and error
// (if given) says why. A new file gets the usual permissions (0666 less the umask); an existing
// file keeps its own. A symbolic link is written through: the file it names is replaced.
bool WriteFileAtomic(const std::string& path, const void* data, size_t size,
                     std::string* error = nullptr);
bool WriteFileAtomic(const std::string& path, const std::string& text,
                     std::string* error = nullptr);

// Opens a file a user named for reading, only when it is a regular file. The open itself never
// waits: a FIFO or device in its place is refused, not read. Returns a blocking descriptor (the
// caller closes it) and the file's size, or -1 with errno set and the reason in error.
int OpenRegularFile(const std::string& path, uint64_t* size = nullptr,
                    std::string* error = nullptr);

// Reads a regular file of at most maxSize bytes into out. False (out cleared, reason in error)
// when it cannot be opened or read, is not a regular file, or is larger than maxSize.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxSize,
                   std::string* error = nullptr);
bool ReadWholeFile(const std::string& path, std::string& out, size_t maxSize,
                   std::string* error = nullptr);
