// The USB-serial adapter and the line as the machine sees them: the pseudo-terminal, the
// announcement adapter discovery finds, the output queue paced at the line speed, and the
// machine's thread that reads the program's bytes.
#include "sim/SimMachineImpl.h"

#include <cerrno>
#include <cstring>
#include <set>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "base/FileIo.h"
#include "link/AdapterDiscovery.h"

using namespace simdetail;

namespace {

unsigned BaudOf(speed_t s) {
    switch (s) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    case B460800:
        return 460800;
    case B921600:
        return 921600;
    default:
        return 0;
    }
}

std::chrono::nanoseconds ByteTime(unsigned baud) {
    // 8N1: start bit, 8 data bits, stop bit.
    return std::chrono::nanoseconds(baud ? 10'000'000'000LL / baud : 0);
}

// Announcement names handed out in this process, so two machines in one test process do not
// share a file.
std::mutex gAnnounceMutex;
std::set<std::string> gAnnounced;

} // namespace

void ClearLeftExclusiveFlag(int master) {
    const int peer = ::ioctl(master, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (peer < 0)
        return;
    ::ioctl(peer, TIOCNXCL);
    ::close(peer);
}

bool SimMachine::Impl::OpenPty() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0)
        return Fail(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return Fail(std::string("cannot unlock the pseudo-terminal: ") + std::strerror(errno));
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0)
        return Fail(std::string("no slave name: ") + std::strerror(errno));
    devicePath = name;
    // A raw line from the start: a program that only sets the speed must not get its
    // input translated or echoed by the line discipline.
    termios t;
    if (::tcgetattr(master, &t) == 0) {
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B9600);
        ::cfsetospeed(&t, B9600);
        ::tcsetattr(master, TCSANOW, &t);
    }
    return true;
}

unsigned SimMachine::Impl::LineBaud() const {
    termios t;
    if (master < 0 || ::tcgetattr(master, &t) != 0)
        return 0;
    return BaudOf(::cfgetospeed(&t));
}

bool SimMachine::Impl::Announce() {
    std::string dir = AnnouncementDirectory();
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return Fail("cannot create " + dir + ": " + std::strerror(errno));
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return Fail(dir + " is not a folder of this user");
    std::string name;
    {
        std::lock_guard<std::mutex> g(gAnnounceMutex);
        std::string base = dir + "/sim-" + std::to_string(::getpid());
        name = base + ".port";
        for (int k = 2; gAnnounced.count(name); ++k)
            name = base + "-" + std::to_string(k) + ".port";
        gAnnounced.insert(name);
    }
    std::string text = "device=" + devicePath + "\nserial=" + opt.serial + "\n";
    std::string err;
    if (!WriteFileAtomic(name, text, &err)) {
        std::lock_guard<std::mutex> g(gAnnounceMutex);
        gAnnounced.erase(name);
        return Fail("cannot announce in " + name + ": " + err);
    }
    std::lock_guard<std::mutex> g(gAnnounceMutex);
    announcePath = name;
    return true;
}

std::string SimMachine::Impl::AnnouncedPath() const {
    std::lock_guard<std::mutex> g(gAnnounceMutex);
    return announcePath;
}

void SimMachine::Impl::Unannounce() {
    // The machine thread clears it while a caller may be asking for it: both under the lock.
    std::lock_guard<std::mutex> g(gAnnounceMutex);
    if (announcePath.empty())
        return;
    ::unlink(announcePath.c_str());
    gAnnounced.erase(announcePath);
    announcePath.clear();
}

void SimMachine::Impl::Enqueue(const uint8_t* p, size_t n, unsigned baud) {
    auto now = Clock::now();
    for (size_t i = 0; i < n; ++i) {
        Clock::time_point due = now;
        if (opt.pacing) {
            due = std::max(lastDue, now) + ByteTime(baud);
            lastDue = due;
        }
        out.push_back({p[i], AdapterRelease(due)});
    }
}

Clock::time_point SimMachine::Impl::AdapterRelease(Clock::time_point onLine) {
    if (!opt.adapterLatencyMs)
        return onLine;
    const auto latency = std::chrono::milliseconds(opt.adapterLatencyMs);
    if (packetBytes && onLine >= packetStart + latency)
        packetBytes = 0; // the timer ran out: that packet has left
    if (!packetBytes)
        packetStart = onLine;
    if (++packetBytes < kAdapterPacket)
        return packetStart + latency;
    // Full: the packet leaves with this byte, the bytes before it (at the queue's end) too.
    for (size_t k = 1; k < packetBytes && k <= out.size(); ++k)
        out[out.size() - k].due = onLine;
    packetBytes = 0;
    return onLine;
}

void SimMachine::Impl::Send(std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> v(bytes);
    Send(v);
}

void SimMachine::Impl::Send(const std::vector<uint8_t>& v) {
    if (silentNow || v.empty())
        return;
    counters.byBaud[lineBaud].replied += v.size();
    Enqueue(v.data(), v.size(), lineBaud);
}

void SimMachine::Impl::FlushOutput() {
    if (master < 0 || out.empty())
        return;
    auto now = Clock::now();
    uint8_t buf[4096];
    size_t n = 0;
    for (auto it = out.begin();
         it != out.end() && n < sizeof buf && it->due <= now && (!unplugAt || it->due < *unplugAt);
         ++it)
        buf[n++] = it->byte;
    if (unplugAt && now >= *unplugAt) {
        if (n)
            (void)!::write(master, buf, n);
        HangUp("adapter pulled in the middle of a reply");
        return;
    }
    if (!n)
        return;
    ssize_t w = ::write(master, buf, n);
    if (w < 0) {
        outBlocked = errno == EAGAIN || errno == EWOULDBLOCK;
        if (!outBlocked)
            out.clear();
        return;
    }
    out.erase(out.begin(), out.begin() + w);
    outBlocked = size_t(w) < n;
}

void SimMachine::Impl::HangUp(const char* why) {
    Log(why);
    unplugAt.reset();
    ++counters.hangups;
    ::close(master);
    master = -1;
    out.clear();
    packetBytes = 0;
    saveRequested = true;
    Unannounce();
}

void SimMachine::Impl::OnSlaveClosed() {
    ClearLeftExclusiveFlag(master);
    std::lock_guard<std::mutex> g(mu);
    out.clear();
    packetBytes = 0;
    outBlocked = false;
    supv.Reset();
    Reset("device closed");
    SaveLocked();
}

void SimMachine::Impl::Loop() {
    bool slaveClosed = false;
    uint8_t buf[4096];
    for (;;) {
        pollfd fds[2] = {{stopRead, POLLIN, 0}, {master, 0, 0}};
        nfds_t nfds = 1;
        std::optional<Clock::duration> wait;
        auto now = Clock::now();
        // The state the wait is computed from is also changed by callers (the next machine
        // plugged in, faults set): read it under the lock, release it before waiting.
        std::unique_lock<std::mutex> state(mu);
        if (master >= 0 && !slaveClosed) {
            fds[1].events = POLLIN;
            nfds = 2;
            if (outBlocked)
                fds[1].events |= POLLOUT;
            else if (!out.empty())
                wait = std::max<Clock::duration>(out.front().due - now, Clock::duration(0));
            if (PartialInput()) {
                auto left =
                    std::max<Clock::duration>(lastInput + kSilenceReset - now, Clock::duration(0));
                wait = wait ? std::min(*wait, left) : left;
            }
        } else if (master >= 0) {
            wait = kClosedRecheck; // poll reports the closed slave at once: look again later
        }
        if (auto due = LineDue()) {
            auto left = std::max<Clock::duration>(*due - now, Clock::duration(0));
            wait = wait ? std::min(*wait, left) : left;
        }
        state.unlock();
        timespec ts{}, *tsp = nullptr;
        if (wait) {
            auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*wait).count();
            ts.tv_sec = ns / 1'000'000'000;
            ts.tv_nsec = ns % 1'000'000'000;
            tsp = &ts;
        }
        int r = ::ppoll(fds, nfds, tsp, nullptr);
        if (r < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            break;
        if (opt.machines) {
            std::lock_guard<std::mutex> g(mu);
            LineCheck(Clock::now());
        }
        if (master >= 0 && slaveClosed) {
            pollfd p{master, POLLIN, 0};
            ::poll(&p, 1, 0);
            if (!(p.revents & POLLHUP))
                slaveClosed = false;
            continue;
        }
        if (nfds == 2 && (fds[1].revents & POLLIN)) {
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                std::lock_guard<std::mutex> g(mu);
                lineBaud = LineBaud();
                lastInput = Clock::now();
                lineTalked = !lineEmpty;
                for (ssize_t i = 0; i < n; ++i) {
                    counters.byBaud[lineBaud].received++;
                    Enqueue(&buf[i], 1, lineBaud); // the line's echo
                    if (lineEmpty)
                        continue; // no machine on the line
                    if (!Feed(buf[i], lineBaud))
                        break;
                }
            } else if (n < 0 && errno == EIO) {
                OnSlaveClosed();
                slaveClosed = true;
                continue;
            }
        } else if (nfds == 2 && (fds[1].revents & (POLLHUP | POLLERR))) {
            OnSlaveClosed();
            slaveClosed = true;
            continue;
        }
        std::lock_guard<std::mutex> g(mu);
        if (PartialInput())
            SilenceCheck();
        FlushOutput();
        if (saveRequested) {
            saveRequested = false;
            SaveLocked();
        }
    }
}
