// Preparing the per-user folders and copying the shipped defaults on a user's first run.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct FolderSet {
    std::filesystem::path appFolder;
    std::filesystem::path dataFolder;      // empty: could not be determined
    std::filesystem::path documentsFolder; // empty: could not be determined
};

struct FirstRunResult {
    bool firstRun = false;                     // a "Nork" or "TorvexV4" level was created
    std::vector<std::filesystem::path> copied; // destination files written
    std::vector<std::string> problems;         // copies or folders that failed (not fatal)
};

// Creates the per-user folders (each of the parent, "Nork" and "TorvexV4" levels when missing).
// When one of the "Nork"/"TorvexV4" levels had to be created, copies from appFolder:
//   "Torvex Kelvane_R4.ini"      -> dataFolder
//   configurations/*             -> dataFolder/configurations
//   templates/*                  -> dataFolder/templates
//   templates/*                  -> documentsFolder
// A file that already exists at the destination is kept: the user's own files win.
// Failures are collected in problems and otherwise ignored.
FirstRunResult PrepareUserFolders(const FolderSet& folders);

// The folders of this process, prepared: AppFolder(), DataFolder(), DocumentsFolder() and the
// first-run copy.
FolderSet PrepareFolders(FirstRunResult* result = nullptr);
