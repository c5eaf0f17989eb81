// The folders fixed at start-up: the installation beside the program and the per-user folders.
#pragma once

#include <filesystem>
#include <string>

// Where the per-user folders come from. Taken from the process environment by FromProcess();
// tests fill it themselves.
struct FolderEnvironment {
    std::string home;            // $HOME, else the password database
    std::string xdgDataHome;     // $XDG_DATA_HOME
    std::string xdgConfigHome;   // $XDG_CONFIG_HOME (for user-dirs.dirs)
    std::string xdgDocumentsDir; // $XDG_DOCUMENTS_DIR

    static FolderEnvironment FromProcess();
};

// Folder of the running executable (the installation tree is copied beside it).
std::filesystem::path AppFolder();

// The per-user application-data folder plus "Nork"/"TorvexV4"; empty when it cannot be
// determined. Nothing is created.
std::filesystem::path DataFolder(const FolderEnvironment& env);
std::filesystem::path DataFolder();

// The user's documents folder plus "Nork"/"TorvexV4"; empty when it cannot be determined.
std::filesystem::path DocumentsFolder(const FolderEnvironment& env);
std::filesystem::path DocumentsFolder();

// The documents folder itself: $XDG_DOCUMENTS_DIR, else the user-dirs.dirs entry, else
// ~/Documents. Empty when no home is known.
std::filesystem::path UserDocumentsDir(const FolderEnvironment& env);

// Base name of the settings file. The GUI and the command-line program share it, and it is the
// name the shipped defaults are copied under, so a user's first run reads those defaults.
inline constexpr const char* kSettingsBaseName = "Torvex Kelvane_R4";
inline constexpr const char* kDefaultSettingsName = "Torvex Kelvane_R4.ini";
inline constexpr const char* kCatalogName = "Torvex Transmissions_R4.ini";

// Whether a file of the installation tree can be read: a regular file that opens.
bool InstallationFileReadable(const std::filesystem::path& file);

// DataFolder/"Torvex Kelvane_R4.ini"; empty when dataFolder is empty.
std::filesystem::path SettingsFile(const std::filesystem::path& dataFolder);
// AppFolder/"Torvex Transmissions_R4.ini".
std::filesystem::path CatalogFile(const std::filesystem::path& appFolder);
