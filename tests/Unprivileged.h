// Runs part of a test as an unprivileged user. What a technician without root meets first (a
// device the user may not open, a history file the user may not write) must be tested where
// the tests run as root too: there the part runs in a child process under another user.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace unprivileged {

// The user a root test switches to: "kelvane-test" when the machine has it, else "nobody".
struct User {
    uid_t uid;
    gid_t gid;
};

inline User TestUser() {
    if (::geteuid() != 0)
        return {::geteuid(), ::getegid()};
    for (const char* name : {"kelvane-test", "nobody"})
        if (const passwd* pw = ::getpwnam(name))
            return {pw->pw_uid, pw->pw_gid};
    return {65534, 65534};
}

// The group's id, or -1 when the system has no such group.
inline long GroupId(const char* name) {
    const group* gr = ::getgrnam(name);
    return gr ? long(gr->gr_gid) : -1;
}

// Whether the running process holds the group (as a login gives it, not as /etc/group lists).
inline bool InGroup(const char* name) {
    const long gid = GroupId(name);
    if (gid < 0)
        return false;
    if (::getegid() == gid_t(gid))
        return true;
    std::vector<gid_t> groups(size_t(::getgroups(0, nullptr)) + 1);
    const int n = ::getgroups(int(groups.size()), groups.data());
    for (int i = 0; i < n; ++i)
        if (groups[size_t(i)] == gid_t(gid))
            return true;
    return false;
}

// Gives path and everything below it to the test user (root only; a normal user owns it).
inline void HandOver(const std::filesystem::path& path) {
    if (::geteuid() != 0)
        return;
    const User u = TestUser();
    std::error_code ec;
    (void)::lchown(path.c_str(), u.uid, u.gid);
    if (std::filesystem::is_directory(path, ec))
        for (const auto& e : std::filesystem::recursive_directory_iterator(path, ec))
            (void)::lchown(e.path().c_str(), u.uid, u.gid);
}

// Runs body as the test user. As root: in a child process with exactly the supplementary
// groups named (those the system lacks are left out); the child's failures fail the calling
// test. As a normal user: here, with the user's own groups (tests read them with InGroup).
// Files the body uses must be reachable by that user (HandOver, or world-readable folders).
inline void Run(const std::function<void()>& body, const std::vector<std::string>& groups = {}) {
    if (::geteuid() != 0) {
        body();
        return;
    }
    const User u = TestUser();
    std::vector<gid_t> gids;
    for (const auto& g : groups)
        if (const long id = GroupId(g.c_str()); id >= 0)
            gids.push_back(gid_t(id));
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0) << "fork";
    if (child == 0) {
        if (::setgroups(gids.size(), gids.data()) != 0 || ::setgid(u.gid) != 0 ||
            ::setuid(u.uid) != 0 || ::geteuid() == 0) {
            std::fprintf(stderr, "cannot become user %u\n", unsigned(u.uid));
            std::fflush(nullptr);
            ::_exit(3);
        }
        body();
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the part run as user " << u.uid << " failed (see above), status " << status;
}

} // namespace unprivileged
