// Runs the built kelvane-cli as a child process and collects what it printed.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

struct CliResult {
    int exitCode = -1; // -1: did not exit normally (signal, time-out)
    std::string out;
    std::string err;
};

// exe ARGS with the current environment, changed by env (an empty value unsets the variable).
// Gives up after timeoutMs and kills the child.
CliResult RunProgram(const std::filesystem::path& exe, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env = {}, int timeoutMs = 30000);
// The built kelvane-cli.
std::filesystem::path CliPath();
CliResult RunCli(const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env = {}, int timeoutMs = 30000);

// A private folder removed with its contents at the end.
class CliTempDir {
public:
    CliTempDir();
    ~CliTempDir();
    CliTempDir(const CliTempDir&) = delete;
    CliTempDir& operator=(const CliTempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // Environment that points HOME and the XDG folders into this folder.
    std::map<std::string, std::string> UserEnv() const;
    // A private installation: a copy of kelvane-cli in path()/"app", whose AppFolder is then
    // that folder. Returns the executable.
    std::filesystem::path MakeInstallation() const;
    std::filesystem::path AppDir() const { return path_ / "app"; }

private:
    std::filesystem::path path_;
};

void WriteBytes(const std::filesystem::path& p, const std::string& bytes);
std::string ReadBytes(const std::filesystem::path& p);
