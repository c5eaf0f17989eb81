#include "link/TraceReader.h"

#include "base/FileIo.h"
#include "base/Hex.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

// A firmware update's trace is under 1 MB.

bool KindOf(const std::string& word, TraceEvent::Kind& kind) {
    static const struct {
        const char* name;
        TraceEvent::Kind kind;
    } kinds[] = {
        {">", TraceEvent::Sent},    {"<", TraceEvent::Received},  {"echo", TraceEvent::Echo},
        {"open", TraceEvent::Open}, {"close", TraceEvent::Close}, {"speed", TraceEvent::Speed},
        {"rts", TraceEvent::Rts},   {"dtr", TraceEvent::Dtr},     {"flush", TraceEvent::Flush}};
    for (const auto& k : kinds)
        if (word == k.name) {
            kind = k.kind;
            return true;
        }
    return false;
}

} // namespace

bool ParseTrace(const std::string& text, Trace& out, std::string& error) {
    out = Trace{};
    std::istringstream in(text);
    std::string line;
    int number = 0;
    bool formatSeen = false;
    double lastMs = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(number) + ": " + why;
        return false;
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (number == 1) {
            if (line != "# kelvane trace 1")
                return fail("not a kelvane trace (the first line must be \"# kelvane trace 1\")");
            formatSeen = true;
            continue;
        }
        if (line.empty())
            continue;
        if (line[0] == '#') {
            const std::string tag = "# command: ";
            if (line.compare(0, tag.size(), tag) == 0)
                out.command = line.substr(tag.size());
            continue;
        }
        std::istringstream fields(line);
        std::string msText, what, baudText;
        if (!(fields >> msText >> what >> baudText))
            return fail("too few fields");
        TraceEvent e;
        e.line = number;
        char* end = nullptr;
        errno = 0;
        e.ms = std::strtod(msText.c_str(), &end);
        if (errno || *end || !std::isfinite(e.ms) || e.ms < 0)
            return fail("bad time \"" + msText + "\"");
        if (e.ms < lastMs)
            return fail("time goes backwards");
        lastMs = e.ms;
        if (!KindOf(what, e.kind))
            return fail("unknown event \"" + what + "\"");
        errno = 0;
        long baud = std::strtol(baudText.c_str(), &end, 10);
        if (errno || *end || baud < 0 || baud > 10'000'000)
            return fail("bad line speed \"" + baudText + "\"");
        e.baud = int(baud);
        std::string rest;
        std::getline(fields, rest);
        if (!rest.empty() && rest[0] == ' ')
            rest.erase(0, 1);
        if (e.kind == TraceEvent::Sent || e.kind == TraceEvent::Received ||
            e.kind == TraceEvent::Echo) {
            std::istringstream hex(rest);
            std::string pair;
            while (hex >> pair) {
                int hi = pair.size() == 2 ? HexDigit(pair[0]) : -1;
                int lo = pair.size() == 2 ? HexDigit(pair[1]) : -1;
                if (hi < 0 || lo < 0)
                    return fail("bad byte \"" + pair + "\"");
                e.bytes.push_back(uint8_t(hi << 4 | lo));
            }
            if (e.bytes.empty())
                return fail("no bytes");
        } else {
            e.text = rest;
        }
        out.events.push_back(std::move(e));
    }
    if (!formatSeen) {
        error = "empty file, not a kelvane trace";
        return false;
    }
    return true;
}

bool ReadTrace(const std::string& path, Trace& out, std::string& error) {
    // Traces come from users: a FIFO in the file's place is refused, not waited on.
    std::string text;
    if (!ReadWholeFile(path, text, kMaxTraceFileSize, &error))
        return false;
    if (!ParseTrace(text, out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}
