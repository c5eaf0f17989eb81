// kelvane-cli sha1 FILE...: the digest of each file as the program writes digests.
#include "base/FileIo.h"
#include "cli/Cli.h"
#include "crypto/SHA1.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <unistd.h>

namespace {

// Digests one file in chunks; false with the reason when it cannot be read to its end.
bool DigestFile(const std::string& name, SHA1::Digest& digest, std::string& reason) {
    // A FIFO or device in the file's place is refused, not waited on.
    int fd = OpenRegularFile(name);
    if (fd < 0) {
        reason = errno == EINVAL ? "not a regular file" : std::strerror(errno);
        return false;
    }
    SHA1 sha;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            reason = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        sha.AddBytes(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    digest = sha.Final();
    return true;
}

int RunSha1(cli::Args& args) {
    std::vector<std::string> files = args.Positional();
    if (args.HasError())
        return 2;
    if (files.empty())
        return cli::Fail("sha1 needs at least one file\nusage: kelvane-cli sha1 FILE...", 2);
    int rc = 0;
    for (const auto& name : files) {
        SHA1::Digest digest;
        std::string reason;
        if (!DigestFile(name, digest, reason)) {
            std::cout.flush();
            cli::Fail("cannot read " + name + ": " + reason);
            rc = 1;
            continue;
        }
        std::cout << SHA1::ToText(digest) << "  " << name << "\n";
    }
    return rc;
}

} // namespace

KELVANE_CLI_COMMAND("sha1", "sha1 FILE...", RunSha1);
