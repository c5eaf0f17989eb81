// The settings file: the chosen adapter port, the language and the report template.
#pragma once

#include <filesystem>
#include <string>

struct Settings {
    int comPortIndex = 1;                     // "COM_PORT"/"COMPORT": 1-based list position
    std::string languageName = "german";      // "SETTINGS"/"SPRACHE": base name of a language file
    std::string templatePath = "Torvex.html"; // "SETTINGS"/"TEMPLATE": full path or bare name
};

// Reads the three keys from file into settings. A missing file, a missing key or a value that
// is not sensible keeps the current value. Always returns 0.
int LoadSettings(const std::filesystem::path& file, Settings& settings);

// Each writes one key, keeping everything else in the file; the file is replaced atomically and
// created when missing. False (with the reason in error, if given) when it cannot be written or
// the value is not acceptable.
bool SaveComPortIndex(const std::filesystem::path& file, int index, std::string* error = nullptr);
bool SaveLanguageName(const std::filesystem::path& file, const std::string& name,
                      std::string* error = nullptr);
bool SaveTemplatePath(const std::filesystem::path& file, const std::string& path,
                      std::string* error = nullptr);

// A language name names a file in the language folder: no folder parts, no control characters.
bool IsValidLanguageName(const std::string& name);

// The template to open: a path with a folder part (absolute or relative) as it stands, a bare
// file name in dataFolder/"templates".
std::filesystem::path ResolveTemplatePath(const std::string& templatePath,
                                          const std::filesystem::path& dataFolder);
