#include "history/History.h"

#include "crypto/SHA1.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/random.h>
#include <unistd.h>

HistoryEntry HistoryEntry::Record(const std::string& kind, const std::string& title,
                                  std::vector<uint8_t> payload) {
    HistoryEntry e;
    e.kind = kind;
    e.command = title;
    e.result = 0;
    e.payload = std::move(payload);
    return e;
}

std::string ImageDigest(const uint8_t* data, size_t size) {
    return SHA1::HexDigest(data, size);
}

std::string ImageDigest(const ParameterBlock& image) {
    return ImageDigest(image.bytes.data(), image.bytes.size());
}

bool ImagesIntact(const HistoryEntry& e, std::string& which) {
    which.clear();
    auto check = [&](const char* name, const std::string& digest, const uint8_t* data, size_t size,
                     bool present) {
        if (digest.empty() ? !present : present && ImageDigest(data, size) == digest)
            return;
        // An image without its digest counts too: nothing unchecked is ever used.
        which += (which.empty() ? "" : ", ") + std::string(name);
    };
    check("before", e.beforeDigest, e.before ? e.before->bytes.data() : nullptr,
          e.before ? e.before->bytes.size() : 0, e.before.has_value());
    check("after", e.afterDigest, e.after ? e.after->bytes.data() : nullptr,
          e.after ? e.after->bytes.size() : 0, e.after.has_value());
    check("extra", e.extraDigest, e.extra.data(), e.extra.size(), !e.extra.empty());
    return which.empty();
}

std::string LoginName() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name && *pw->pw_name)
        return pw->pw_name;
    for (const char* var : {"LOGNAME", "USER"})
        if (const char* v = std::getenv(var); v && *v)
            return v;
    return "?";
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !*name)
        return "?";
    return name;
}

std::string NewUuid() {
    uint8_t b[16];
    size_t got = 0;
    while (got < sizeof b) {
        const ssize_t n = ::getrandom(b + got, sizeof b - got, 0);
        if (n > 0)
            got += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR)
            std::abort(); // no random source: an identity must never repeat
    }
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

bool IsUuid(const std::string& t) {
    if (t.size() != 36)
        return false;
    for (size_t i = 0; i < t.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = t[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}
