#include "tests/cli/CliRun.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

fs::path CliPath() {
    return fs::path(KELVANE_BIN_DIR) / "kelvane-cli";
}

CliResult RunCli(const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, int timeoutMs) {
    return RunProgram(CliPath(), args, env, timeoutMs);
}

CliResult RunProgram(const fs::path& exePath, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env, int timeoutMs) {
    CliResult result;
    const std::string exe = exePath.string();

    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        size_t eq = kv.find('=');
        if (eq != std::string::npos)
            vars[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& [k, v] : env) {
        if (v.empty())
            vars.erase(k);
        else
            vars[k] = v;
    }
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : vars)
        envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStrings{exe};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (rc != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        result.err = "cannot start " + exe + ": " + std::strerror(rc);
        return result;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    bool timedOut = false;
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        int n = ::poll(fds, 2, static_cast<int>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[i]->append(buf, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0)
            ::close(f.fd);
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!timedOut && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}

CliTempDir::CliTempDir() {
    std::string tmpl = (fs::temp_directory_path() / "kelvane-cli-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

CliTempDir::~CliTempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::map<std::string, std::string> CliTempDir::UserEnv() const {
    return {{"HOME", (path_ / "home").string()},
            {"XDG_DATA_HOME", (path_ / "home" / "data").string()},
            {"XDG_CONFIG_HOME", (path_ / "home" / "config").string()},
            {"XDG_DOCUMENTS_DIR", (path_ / "home" / "Documents").string()}};
}

fs::path CliTempDir::MakeInstallation() const {
    fs::create_directories(AppDir());
    fs::path exe = AppDir() / "kelvane-cli";
    fs::copy_file(CliPath(), exe, fs::copy_options::overwrite_existing);
    fs::permissions(exe, fs::perms::owner_all);
    return exe;
}

void WriteBytes(const fs::path& p, const std::string& bytes) {
    if (p.has_parent_path())
        fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
