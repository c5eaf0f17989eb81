// A private folder per test, and helpers to put bytes into files there.
#pragma once

#include <string>
#include <string_view>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Folder path ending in '/'.
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + name; }
    // Writes the bytes as they are.
    void Write(const std::string& name, std::string_view bytes) const;
    std::string Read(const std::string& name) const;
    // Names of all entries (for spotting leftovers).
    size_t EntryCount() const;

private:
    std::string path_;
};

// FF FE and the UTF-8 text as UTF-16LE units.
std::string Utf16Le(std::string_view utf8, bool mark = true);
// FE FF and the text as UTF-16BE units.
std::string Utf16Be(std::string_view utf8);
// One language-file line "<digest of german> TAB <text>" (no line end).
std::string EntryLine(std::string_view german, std::string_view text);
