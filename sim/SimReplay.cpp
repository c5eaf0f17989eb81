#include "sim/SimReplay.h"

#include "link/TraceReader.h"
#include "sim/SimMachine.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
// poll reports a closed slave at once; look again after this long instead of spinning.
constexpr auto kClosedRecheck = std::chrono::milliseconds(10);

struct Reply {
    std::vector<uint8_t> bytes;
    size_t needSent = 0; // program bytes that came before it in the trace
    double waitMs = 0;   // recorded pause after the last of those bytes
    int line = 0;
};

struct SentChunk {
    size_t offset = 0; // in the stream of everything the program sent
    int line = 0;
};

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s.empty() ? "(nothing)" : s;
}

class Replay {
public:
    explicit Replay(const Trace& trace) {
        double lastSentMs = 0;
        for (const auto& e : trace.events) {
            if (e.kind == TraceEvent::Sent) {
                chunks.push_back({sent.size(), e.line});
                sent.insert(sent.end(), e.bytes.begin(), e.bytes.end());
                lastSentMs = e.ms;
            } else if (e.kind == TraceEvent::Received || e.kind == TraceEvent::Echo) {
                replies.push_back({e.bytes, sent.size(), std::max(0.0, e.ms - lastSentMs), e.line});
            }
        }
        arrival.resize(sent.size());
    }

    int Run(int master, int stopFd);

private:
    void Take(const uint8_t* p, size_t n, Clock::time_point now);
    void Differs(size_t offset, const uint8_t* got, size_t n);
    bool Done() const { return got == sent.size() && nextReply == replies.size(); }
    std::optional<Clock::time_point> Due() const;

    std::vector<uint8_t> sent;
    std::vector<SentChunk> chunks;
    std::vector<Reply> replies;
    std::vector<Clock::time_point> arrival; // when each sent byte came in the replay
    Clock::time_point start = Clock::now();
    size_t got = 0;
    size_t nextReply = 0;
    bool failed = false;
};

void Replay::Differs(size_t offset, const uint8_t* gotBytes, size_t n) {
    failed = true;
    if (offset >= sent.size()) {
        std::fprintf(stderr,
                     "kelvane-sim: replay differs: the program sends more than the trace holds "
                     "(after %zu bytes): got %s\n",
                     sent.size(), Hex(gotBytes, std::min<size_t>(n, 16)).c_str());
        return;
    }
    auto c = std::upper_bound(chunks.begin(), chunks.end(), offset,
                              [](size_t o, const SentChunk& k) { return o < k.offset; }) -
             1;
    const size_t show = std::min<size_t>({n, 16, sent.size() - offset});
    std::fprintf(stderr,
                 "kelvane-sim: replay differs at trace line %d, byte %zu of that line (byte %zu "
                 "of all the program sent): expected %s, got %s\n",
                 c->line, offset - c->offset, offset, Hex(&sent[offset], show).c_str(),
                 Hex(gotBytes, std::min<size_t>(n, 16)).c_str());
    std::fprintf(stderr, "kelvane-sim: the machine stays silent from here on\n");
}

void Replay::Take(const uint8_t* p, size_t n, Clock::time_point now) {
    for (size_t i = 0; i < n && !failed; ++i) {
        if (got >= sent.size() || p[i] != sent[got]) {
            Differs(got, p + i, n - i);
            return;
        }
        arrival[got++] = now;
    }
}

std::optional<Clock::time_point> Replay::Due() const {
    if (failed || nextReply >= replies.size() || got < replies[nextReply].needSent)
        return std::nullopt;
    const Reply& r = replies[nextReply];
    const Clock::time_point anchor = r.needSent ? arrival[r.needSent - 1] : start;
    return anchor + std::chrono::microseconds(long(r.waitMs * 1000));
}

int Replay::Run(int master, int stopFd) {
    std::vector<uint8_t> out; // reply bytes the line has not taken yet
    bool slaveClosed = false;
    uint8_t buf[4096];
    for (;;) {
        const auto now = Clock::now();
        if (out.empty()) {
            if (auto due = Due(); due && *due <= now) {
                out = replies[nextReply++].bytes;
            }
        }
        if (!out.empty() && !slaveClosed) {
            ssize_t w = ::write(master, out.data(), out.size());
            if (w > 0)
                out.erase(out.begin(), out.begin() + w);
        }

        pollfd fds[2] = {{stopFd, POLLIN, 0}, {master, 0, 0}};
        nfds_t nfds = 1;
        int timeout = -1;
        if (!slaveClosed) {
            fds[1].events = POLLIN | (out.empty() ? 0 : POLLOUT);
            nfds = 2;
        } else {
            timeout = int(kClosedRecheck.count());
        }
        if (out.empty())
            if (auto due = Due()) {
                auto ms = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count();
                ms = std::max<long>(ms, 0);
                timeout = timeout < 0 ? int(ms) : std::min(timeout, int(ms));
            }
        int r = ::poll(fds, nfds, timeout);
        if (r < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            break;
        if (slaveClosed) {
            pollfd p{master, POLLIN, 0};
            ::poll(&p, 1, 0);
            if (!(p.revents & POLLHUP))
                slaveClosed = false;
            continue;
        }
        if (nfds == 2 && (fds[1].revents & POLLIN)) {
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                if (!failed)
                    Take(buf, size_t(n), Clock::now());
            } else if (n < 0 && errno == EIO) {
                slaveClosed = true;
                ClearLeftExclusiveFlag(master);
            }
        } else if (nfds == 2 && (fds[1].revents & (POLLHUP | POLLERR))) {
            slaveClosed = true;
            ClearLeftExclusiveFlag(master);
        }
    }
    // Bytes the program sent just before the end still count.
    for (;;) {
        ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0)
            break;
        if (!failed)
            Take(buf, size_t(n), Clock::now());
    }
    if (failed)
        return 1;
    if (!Done()) {
        if (got < sent.size()) {
            auto c = std::upper_bound(chunks.begin(), chunks.end(), got,
                                      [](size_t o, const SentChunk& k) { return o < k.offset; }) -
                     1;
            std::fprintf(stderr,
                         "kelvane-sim: replay incomplete: the program sent %zu of the %zu bytes "
                         "the trace holds (stopped at trace line %d)\n",
                         got, sent.size(), c->line);
        } else {
            std::fprintf(stderr,
                         "kelvane-sim: replay incomplete: the reply of trace line %d was not "
                         "sent\n",
                         replies[nextReply].line);
        }
        return 1;
    }
    std::fprintf(stderr, "kelvane-sim: replay complete, the program sent the recorded %zu bytes\n",
                 sent.size());
    return 0;
}

int OpenPty(std::string& device) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0)
        return -1;
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return -1;
    }
    device = name;
    termios t;
    if (::tcgetattr(master, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
    }
    return master;
}

} // namespace

int RunReplay(const std::string& tracePath, const sigset_t& stopSignals) {
    Trace trace;
    std::string error;
    if (!ReadTrace(tracePath, trace, error)) {
        std::fprintf(stderr, "kelvane-sim: cannot replay %s\n", error.c_str());
        return 2;
    }
    std::string device;
    int master = OpenPty(device);
    if (master < 0) {
        std::fprintf(stderr, "kelvane-sim: cannot open a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return 2;
    }
    int stopFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (stopFd < 0) {
        std::fprintf(stderr, "kelvane-sim: %s\n", std::strerror(errno));
        ::close(master);
        return 2;
    }
    std::printf("%s\n", device.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "kelvane-sim: replaying %s (%s) on %s\n", tracePath.c_str(),
                 trace.command.empty() ? "no command named" : trace.command.c_str(),
                 device.c_str());
    Replay replay(trace);
    const int rc = replay.Run(master, stopFd);
    ::close(stopFd);
    ::close(master);
    return rc;
}
