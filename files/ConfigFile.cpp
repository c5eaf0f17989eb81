#include "files/ConfigFile.h"

#include "base/FileIo.h"
#include "crypto/Digests.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Field offsets and lengths of the parameter image that a configuration does not carry.
struct Field {
    size_t offset;
    size_t length;
};
constexpr size_t kOffWriteMark = 2;
constexpr Field kClearedFields[] = {
    {19, 12}, // elAssembly
    {31, 15}, // serialNr
    {46, 15}, // toolId
    {75, 4},  // calDate
    {79, 8},  // calName
    {87, 8},  // place
    {95, 8},  // passwordDigest
    {103, 2}, // torque
    {428, 4}, // serviceResetCounter
};

} // namespace

const char* ConfigStatusText(ConfigStatus status) {
    switch (status) {
    case ConfigStatus::kOk:
        return "valid";
    case ConfigStatus::kTooShort:
        return "shorter than 560 bytes";
    case ConfigStatus::kBadSeal:
        return "sealed digest does not match the image";
    }
    return "unknown";
}

ConfigImage ConfigurationCopy(const ConfigImage& image) {
    ConfigImage copy = image;
    copy[kOffWriteMark] = 1;
    for (const Field& f : kClearedFields) {
        std::fill_n(copy.begin() + static_cast<long>(f.offset), f.length, uint8_t{0});
    }
    return copy;
}

ConfigFileBytes BuildConfigFile(const ConfigImage& image) {
    ConfigFileBytes file{};
    const SealedDigest seal = SealDigest(image.data(), image.size(), kConfigSealFiller);
    std::copy(seal.begin(), seal.end(), file.begin());
    std::copy(image.begin(), image.end(), file.begin() + kConfigSealSize);
    return file;
}

ConfigFileBytes BuildConfigFile(const ConfigImage& image, uint8_t writeMark) {
    ConfigImage marked = image;
    marked[kOffWriteMark] = writeMark;
    return BuildConfigFile(marked);
}

ConfigParse ParseConfigFile(const void* data, size_t length) {
    ConfigParse parse;
    if (data == nullptr || length < kConfigFileSize) {
        parse.status = ConfigStatus::kTooShort;
        return parse;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    std::copy_n(bytes + kConfigSealSize, kConfigImageSize, parse.image.begin());
    parse.trailingBytes = length - kConfigFileSize;
    parse.status = SealMatches(parse.image.data(), parse.image.size(), kConfigSealFiller, bytes)
                       ? ConfigStatus::kOk
                       : ConfigStatus::kBadSeal;
    return parse;
}

int WriteConfigFile(const std::string& path, const ConfigImage& image, std::string* error) {
    const ConfigFileBytes file = BuildConfigFile(image);
    return WriteFileAtomic(path, file.data(), file.size(), error) ? 0 : -1;
}

namespace {

// The first 560 bytes of a regular file (fewer if it is shorter) and the file's total size.
bool ReadHead(const std::string& path, std::vector<uint8_t>& head, size_t& total,
              std::string* error) {
    auto fail = [&](const char* what) {
        if (error != nullptr) {
            *error = std::string(what) + ": " + std::strerror(errno);
        }
        return false;
    };
    uint64_t size = 0;
    const int fd = OpenRegularFile(path, &size, error);
    if (fd < 0) {
        return false;
    }
    head.assign(kConfigFileSize, 0);
    size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = ::read(fd, head.data() + got, head.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            errno = e;
            return fail("cannot read");
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    head.resize(got);
    total = std::max(got, static_cast<size_t>(size));
    return true;
}

} // namespace

bool ReadConfigFile(const std::string& path, ConfigParse& out, std::string* error) {
    std::vector<uint8_t> head;
    size_t total = 0;
    if (!ReadHead(path, head, total, error)) {
        return false;
    }
    out = ParseConfigFile(head.data(), head.size());
    if (out.status != ConfigStatus::kTooShort) {
        out.trailingBytes = total - kConfigFileSize;
    }
    return true;
}

int ReadConfigFile(const std::string& path, ConfigImage& out) {
    ConfigParse parse;
    if (!ReadConfigFile(path, parse, nullptr) || parse.status == ConfigStatus::kTooShort) {
        return -1;
    }
    if (parse.status != ConfigStatus::kOk) {
        return -2;
    }
    out = parse.image;
    return 0;
}
