#include "app/ProgramVersion.h"

#include <charconv>

#ifndef KELVANE_VERSION
#define KELVANE_VERSION ""
#endif

std::string NormaliseVersion(const std::string& text) {
    unsigned parts[4] = {};
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (p == end || *p != '.')
                return "0.0.0.0";
            ++p;
        }
        if (p == end || *p < '0' || *p > '9')
            return "0.0.0.0";
        auto [next, ec] = std::from_chars(p, end, parts[i]);
        if (ec != std::errc() || parts[i] > 0xFFFF)
            return "0.0.0.0";
        p = next;
    }
    if (p != end)
        return "0.0.0.0";
    std::string out;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            out += '.';
        out += std::to_string(parts[i]);
    }
    return out;
}

const std::string& GetProgramVersion() {
    static const std::string version = NormaliseVersion(KELVANE_VERSION);
    return version;
}

std::string TitleVersionText(const std::string& title, const std::string& versionWord) {
    return title + "  " + versionWord + " " + GetProgramVersion();
}
