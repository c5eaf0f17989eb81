#include "app/Folders.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// XDG only honours absolute paths; a relative one is as good as unset.
bool IsAbsolute(const std::string& p) {
    return !p.empty() && p[0] == '/';
}

// One value of user-dirs.dirs: a double-quoted string, "$HOME" at its start expanded, backslash
// escapes taken literally. Empty when the line's value is not of that shape.
std::string ParseUserDirValue(const std::string& raw, const std::string& home) {
    std::string v = raw;
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r'))
        v.pop_back();
    if (v.size() < 2 || v.front() != '"' || v.back() != '"')
        return {};
    v = v.substr(1, v.size() - 2);
    std::string out;
    size_t i = 0;
    if (v.compare(0, 5, "$HOME") == 0 && (v.size() == 5 || v[5] == '/')) {
        if (home.empty())
            return {};
        out = home;
        i = 5;
    } else if (v.empty() || v[0] != '/') {
        return {};
    }
    for (; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size())
            ++i;
        out += v[i];
    }
    return out;
}

} // namespace

FolderEnvironment FolderEnvironment::FromProcess() {
    FolderEnvironment env;
    env.home = Env("HOME");
    if (env.home.empty()) {
        if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
            env.home = pw->pw_dir;
    }
    env.xdgDataHome = Env("XDG_DATA_HOME");
    env.xdgConfigHome = Env("XDG_CONFIG_HOME");
    env.xdgDocumentsDir = Env("XDG_DOCUMENTS_DIR");
    return env;
}

fs::path AppFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty())
        return fs::current_path(ec);
    return exe.parent_path();
}

fs::path DataFolder(const FolderEnvironment& env) {
    fs::path base;
    if (IsAbsolute(env.xdgDataHome))
        base = env.xdgDataHome;
    else if (IsAbsolute(env.home))
        base = fs::path(env.home) / ".local" / "share";
    else
        return {};
    return base / "Nork" / "TorvexV4";
}

fs::path DataFolder() {
    return DataFolder(FolderEnvironment::FromProcess());
}

fs::path UserDocumentsDir(const FolderEnvironment& env) {
    if (IsAbsolute(env.xdgDocumentsDir))
        return env.xdgDocumentsDir;
    const bool haveHome = IsAbsolute(env.home);
    fs::path config;
    if (IsAbsolute(env.xdgConfigHome))
        config = env.xdgConfigHome;
    else if (haveHome)
        config = fs::path(env.home) / ".config";
    if (!config.empty()) {
        std::ifstream in(config / "user-dirs.dirs");
        std::string line;
        std::string found;
        while (std::getline(in, line)) {
            size_t start = line.find_first_not_of(" \t");
            if (start == std::string::npos || line[start] == '#')
                continue;
            static const std::string key = "XDG_DOCUMENTS_DIR=";
            if (line.compare(start, key.size(), key) != 0)
                continue;
            std::string v =
                ParseUserDirValue(line.substr(start + key.size()), haveHome ? env.home : "");
            if (!v.empty())
                found = v;
        }
        if (!found.empty())
            return found;
    }
    if (!haveHome)
        return {};
    return fs::path(env.home) / "Documents";
}

fs::path DocumentsFolder(const FolderEnvironment& env) {
    fs::path docs = UserDocumentsDir(env);
    if (docs.empty())
        return {};
    return docs / "Nork" / "TorvexV4";
}

fs::path DocumentsFolder() {
    return DocumentsFolder(FolderEnvironment::FromProcess());
}

fs::path SettingsFile(const fs::path& dataFolder) {
    if (dataFolder.empty())
        return {};
    return dataFolder / kDefaultSettingsName;
}

bool InstallationFileReadable(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec))
        return false;
    std::ifstream in(file, std::ios::binary);
    return in.good();
}

fs::path CatalogFile(const fs::path& appFolder) {
    return appFolder / kCatalogName;
}
