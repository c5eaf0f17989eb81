#include "app/FirstRun.h"

#include "app/Folders.h"
#include "base/FileIo.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

// Far above any template or configuration; keeps a stray huge file from filling the disk twice.
constexpr size_t kMaxShippedFile = 64u * 1024 * 1024;

// Creates dir and its parents. True when dir itself did not exist before.
bool CreateLevel(const fs::path& dir, FirstRunResult& result) {
    std::error_code ec;
    if (fs::is_directory(dir, ec))
        return false;
    bool created = fs::create_directories(dir, ec);
    if (ec)
        result.problems.push_back("cannot create folder " + dir.string() + ": " + ec.message());
    return created;
}

// Creates base/"Nork"/"TorvexV4" level by level. True when one of the two levels was new.
bool PrepareUserFolder(const fs::path& folder, FirstRunResult& result) {
    if (folder.empty())
        return false;
    // The platform's own folder (parent of "Nork") is created too, but does not count.
    fs::path nork = folder.parent_path();
    CreateLevel(nork.parent_path(), result);
    bool created = CreateLevel(nork, result);
    created = CreateLevel(folder, result) || created;
    return created;
}

void CopyOne(const fs::path& from, const fs::path& to, FirstRunResult& result) {
    std::error_code ec;
    if (fs::exists(to, ec))
        return; // the user's file wins
    std::string bytes;
    std::string error;
    if (!ReadWholeFile(from.string(), bytes, kMaxShippedFile, &error)) {
        result.problems.push_back("cannot read " + from.string() + ": " + error);
        return;
    }
    fs::create_directories(to.parent_path(), ec);
    if (!WriteFileAtomic(to.string(), bytes, &error)) {
        result.problems.push_back("cannot write " + to.string() + ": " + error);
        return;
    }
    result.copied.push_back(to);
}

// Every regular file of fromDir (not its sub-folders), in name order.
void CopyFolderFiles(const fs::path& fromDir, const fs::path& toDir, FirstRunResult& result) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(fromDir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fec;
        if (it->is_regular_file(fec))
            files.push_back(it->path());
    }
    if (ec && ec != std::errc::no_such_file_or_directory)
        result.problems.push_back("cannot list " + fromDir.string() + ": " + ec.message());
    std::sort(files.begin(), files.end());
    for (const auto& f : files)
        CopyOne(f, toDir / f.filename(), result);
}

} // namespace

FirstRunResult PrepareUserFolders(const FolderSet& folders) {
    FirstRunResult result;
    bool created = PrepareUserFolder(folders.dataFolder, result);
    created = PrepareUserFolder(folders.documentsFolder, result) || created;
    result.firstRun = created;
    // The save and template dialogs start in these; they are cheap to keep present.
    if (!folders.dataFolder.empty()) {
        CreateLevel(folders.dataFolder / "configurations", result);
        CreateLevel(folders.dataFolder / "templates", result);
    }
    if (!created)
        return result;
    const fs::path& app = folders.appFolder;
    if (!folders.dataFolder.empty()) {
        CopyOne(app / kDefaultSettingsName, folders.dataFolder / kDefaultSettingsName, result);
        CopyFolderFiles(app / "configurations", folders.dataFolder / "configurations", result);
        CopyFolderFiles(app / "templates", folders.dataFolder / "templates", result);
    }
    if (!folders.documentsFolder.empty())
        CopyFolderFiles(app / "templates", folders.documentsFolder, result);
    return result;
}

FolderSet PrepareFolders(FirstRunResult* result) {
    FolderSet folders;
    folders.appFolder = AppFolder();
    folders.dataFolder = DataFolder();
    folders.documentsFolder = DocumentsFolder();
    FirstRunResult r = PrepareUserFolders(folders);
    if (result)
        *result = std::move(r);
    return folders;
}
