#include "base/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void SetError(std::string* error, std::string_view what, const std::string& path, int err) {
    if (error)
        *error = std::string(what) + " \"" + path + "\": " + std::strerror(err);
}

std::string FolderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool WriteAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

mode_t CurrentUmask() {
    mode_t m = ::umask(0);
    ::umask(m);
    return m;
}

} // namespace

bool WriteFileAtomic(const std::string& given, const void* data, size_t size, std::string* error) {
    if (given.empty() || given.back() == '/') {
        if (error)
            *error = "no file name given";
        return false;
    }
    // Through a symbolic link to the file it names, so the link stays a link.
    std::string path = given;
    struct stat lst {};
    if (::lstat(given.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        char* real = ::realpath(given.c_str(), nullptr);
        if (real) {
            path = real;
            std::free(real);
        }
    }
    struct stat st {};
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        SetError(error, "not a regular file", path, EISDIR);
        return false;
    }
    mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());

    std::string tmp = path + ".tmpXXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        SetError(error, "cannot create a temporary file beside", path, errno);
        return false;
    }
    auto fail = [&](std::string_view what) {
        int err = errno;
        if (fd >= 0)
            ::close(fd);
        ::unlink(tmp.c_str());
        SetError(error, what, path, err);
        return false;
    };
    if (::fchmod(fd, mode) != 0)
        return fail("cannot set the permissions for");
    if (!WriteAll(fd, static_cast<const uint8_t*>(data), size))
        return fail("cannot write");
    if (::fsync(fd) != 0)
        return fail("cannot flush");
    int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return fail("cannot write");
    if (::rename(tmp.c_str(), path.c_str()) != 0)
        return fail("cannot replace");

    // The rename itself reaches the disk with the folder.
    int dfd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool WriteFileAtomic(const std::string& path, const std::string& text, std::string* error) {
    return WriteFileAtomic(path, text.data(), text.size(), error);
}

int OpenRegularFile(const std::string& path, uint64_t* size, std::string* error) {
    // Non-blocking open: a FIFO without a writer would otherwise wait for ever.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetError(error, "cannot open", path, errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        SetError(error, "cannot read", path, err);
        errno = err;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        const int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        SetError(error, "not a regular file", path, err);
        errno = err;
        return -1;
    }
    // A regular file reads the same either way; later reads may block as usual.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (size)
        *size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    return fd;
}

namespace {

template <typename Buffer>
bool ReadInto(const std::string& path, Buffer& out, size_t maxSize, std::string* error) {
    out.clear();
    uint64_t size = 0;
    const int fd = OpenRegularFile(path, &size, error);
    if (fd < 0)
        return false;
    if (size > maxSize) {
        if (error)
            *error = "file \"" + path + "\" is larger than " + std::to_string(maxSize) + " bytes";
        ::close(fd);
        return false;
    }
    // Read to the end, not to the size seen: the file may change under us, never past maxSize.
    const size_t limit = maxSize == SIZE_MAX ? maxSize : maxSize + 1;
    out.resize(static_cast<size_t>(size));
    size_t have = 0;
    for (;;) {
        if (have == out.size()) {
            if (out.size() >= limit)
                break;
            out.resize(std::min(limit, out.size() + 4096));
        }
        ssize_t r = ::read(fd, out.data() + have, out.size() - have);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            SetError(error, "cannot read", path, errno);
            ::close(fd);
            out.clear();
            return false;
        }
        if (r == 0)
            break;
        have += static_cast<size_t>(r);
    }
    ::close(fd);
    if (have > maxSize) {
        if (error)
            *error = "file \"" + path + "\" is larger than " + std::to_string(maxSize) + " bytes";
        out.clear();
        return false;
    }
    out.resize(have);
    return true;
}

} // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxSize,
                   std::string* error) {
    return ReadInto(path, out, maxSize, error);
}

bool ReadWholeFile(const std::string& path, std::string& out, size_t maxSize, std::string* error) {
    return ReadInto(path, out, maxSize, error);
}
