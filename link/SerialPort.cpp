#include "link/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool ToSpeed(int baudRate, speed_t& speed) {
    switch (baudRate) {
    case 9600:
        speed = B9600;
        return true;
    case 19200:
        speed = B19200;
        return true;
    case 115200:
        speed = B115200;
        return true;
    case 230400:
        speed = B230400;
        return true;
    default:
        return false;
    }
}

// Milliseconds from now to the deadline, rounded up, for poll().
int MillisecondsUntil(ISerialPort::Clock::time_point deadline) {
    auto left = deadline - ISerialPort::Clock::now();
    if (left <= ISerialPort::Clock::duration::zero())
        return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

std::string RealPath(const std::string& device) {
    char real[PATH_MAX];
    return ::realpath(device.c_str(), real) ? std::string(real) : device;
}

// The slave side of a Unix 98 pseudo-terminal (/dev/pts/N).
bool IsPseudoTerminal(const struct stat& st) {
    const unsigned maj = major(st.st_rdev);
    return maj >= 136 && maj <= 143;
}

// A write that makes no progress for this long has nobody taking the bytes.
constexpr auto kWriteStall = std::chrono::seconds(3);
// Longest pause while more bytes are on their way: bounds the delay when they come in bursts
// (an adapter's latency timer) instead of at line speed.
constexpr auto kGatherSlice = std::chrono::milliseconds(4);
// How often a long wait lets the window repaint.
constexpr auto kIdleInterval = std::chrono::milliseconds(50);

} // namespace

SerialPort::~SerialPort() {
    Close();
}

bool SerialPort::IsSupportedBaudRate(int baudRate) {
    speed_t s;
    return ToSpeed(baudRate, s);
}

bool SerialPort::Fail(const char* what) {
    lastError = std::string(what) + ": " + std::strerror(errno);
    return false;
}

const char* PortProblemText(PortProblem problem) {
    switch (problem) {
    case PortProblem::NoPermission:
        return "Keine Berechtigung für die Schnittstelle. Abhilfe: den Benutzer in die Gruppe "
               "\"dialout\" aufnehmen (sudo usermod -aG dialout BENUTZER) und neu anmelden.";
    case PortProblem::NoAccess:
        return "Keine Berechtigung für %1, obwohl der Benutzer in der Gruppe \"dialout\" ist: das "
               "Gerät gehört %2, Gruppe %3, Rechte %4. Abhilfe: die udev-Regel "
               "\"60-kelvane.rules\" installieren (siehe README), die den Adapter der Gruppe "
               "\"dialout\" gibt, und den Adapter neu einstecken.";
    case PortProblem::InUse:
        return "Die Schnittstelle wird von einem anderen Programm benutzt. Bitte das andere "
               "Programm beenden.";
    case PortProblem::Gone:
        return "Adapter getrennt oder nicht da: das Gerät gibt es nicht (mehr). Adapter einstecken "
               "oder den Gerätenamen prüfen.";
    case PortProblem::NotSerial:
        return "Das gewählte Gerät ist keine serielle Schnittstelle.";
    case PortProblem::Stalled:
        return "Die Schnittstelle nimmt keine Daten mehr an (Senden blockiert). Abhilfe: den "
               "Adapter aus- und wieder einstecken.";
    case PortProblem::None:
        break;
    }
    return "";
}

bool SerialPort::FailOpen(PortProblem why, const std::string& what, int fd) {
    lastError = what;
    openProblem = why;
    if (fd >= 0)
        ::close(fd);
    return false;
}

PortProblem SerialPort::Problem() const {
    return openProblem;
}

namespace {

bool HoldsGroup(gid_t gid) {
    if (::getegid() == gid)
        return true;
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(n > 0 ? size_t(n) : 0);
    const int got = ::getgroups(n, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.end();
}

std::string UserName(uid_t uid) {
    const passwd* pw = ::getpwuid(uid);
    return pw ? std::string(pw->pw_name) : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
    const group* gr = ::getgrgid(gid);
    return gr ? std::string(gr->gr_name) : std::to_string(gid);
}

} // namespace

PortProblem SerialPort::RefusedBecause(const std::string& device) {
    refusedDevice.clear();
    // Joining "dialout" is the answer only for a user not yet in it (as the login gave it).
    const group* dialout = ::getgrnam("dialout");
    struct stat st {};
    if (!dialout || !HoldsGroup(dialout->gr_gid) || ::stat(device.c_str(), &st) != 0)
        return PortProblem::NoPermission;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
    refusedDevice = {device, UserName(st.st_uid), GroupName(st.st_gid), mode};
    return PortProblem::NoAccess;
}

std::string SerialPort::FillProblemText(std::string text) const {
    if (openProblem != PortProblem::NoAccess)
        return text;
    for (size_t i = 0; i < refusedDevice.size(); ++i) {
        const std::string mark = "%" + std::to_string(i + 1);
        for (size_t at = text.find(mark); at != std::string::npos;
             at = text.find(mark, at + refusedDevice[i].size()))
            text.replace(at, mark.size(), refusedDevice[i]);
    }
    return text;
}

bool SerialPort::HeldElsewhere(const std::string& device) const {
    if (processFolder.empty())
        return false;
    const std::string self = std::to_string(::getpid());
    DIR* procs = ::opendir(processFolder.c_str());
    if (!procs)
        return false;
    bool held = false;
    while (const dirent* p = ::readdir(procs)) {
        const std::string pid = p->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        const std::string fdDir = processFolder + "/" + pid + "/fd";
        DIR* fds = ::opendir(fdDir.c_str()); // other users' processes: not readable, skipped
        if (!fds)
            continue;
        while (const dirent* f = ::readdir(fds)) {
            char target[PATH_MAX];
            const std::string link = fdDir + "/" + f->d_name;
            ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            if (n > 0 && device.compare(0, std::string::npos, target, size_t(n)) == 0) {
                held = true;
                break;
            }
        }
        ::closedir(fds);
        if (held)
            break;
    }
    ::closedir(procs);
    return held;
}

int SerialPort::Open(const std::string& device, int baudRate) {
    if (isOpen)
        return 1;
    openProblem = PortProblem::None;
    speed_t speed;
    if (!ToSpeed(baudRate, speed)) {
        lastError = "unsupported baud rate " + std::to_string(baudRate);
        return 0;
    }
    // Looked at before opening: a FIFO or a file must not be opened for writing at all.
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) {
        const int e = errno;
        return FailOpen(e == EACCES ? RefusedBecause(device) : PortProblem::Gone,
                        device + ": " + std::strerror(e), -1);
    }
    if (!S_ISCHR(st.st_mode))
        return FailOpen(PortProblem::NotSerial, device + ": not a character device", -1);
    // /dev/tty, the console and the virtual consoles are terminals, never an adapter.
    const unsigned maj = major(st.st_rdev), min = minor(st.st_rdev);
    if (maj == 5 || (maj == 4 && min < 64))
        return FailOpen(PortProblem::NotSerial, device + ": a console, not a serial line", -1);
    for (int own = 0; own <= 2; ++own) {
        struct stat o {};
        if (::isatty(own) && ::fstat(own, &o) == 0 && o.st_rdev == st.st_rdev)
            return FailOpen(PortProblem::NotSerial, device + ": this program's own terminal", -1);
    }
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        PortProblem why = PortProblem::Gone;
        if (e == EACCES || e == EPERM)
            why = RefusedBecause(device);
        else if (e == EBUSY)
            why = PortProblem::InUse; // held with TIOCEXCL
        else if (e == EISDIR || e == ENOTTY)
            why = PortProblem::NotSerial;
        std::string what = device + ": " + std::strerror(e);
        // Only root may open past a flag whose setter ended while the other end stayed open.
        if (e == EBUSY && !HeldElsewhere(RealPath(device)))
            what += " (exclusive flag left by a program that ended; the device's other end "
                    "keeps it)";
        return FailOpen(why, what, -1);
    }
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        const int e = errno;
        return FailOpen(e == ENOTTY || e == EINVAL ? PortProblem::NotSerial : PortProblem::Gone,
                        device + ": " + std::strerror(e), fd);
    }
    // No sharing: another program of ours (the lock), one that set the port exclusive (root
    // gets past TIOCEXCL, so ask), or one that simply has it open and would read along.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return FailOpen(PortProblem::InUse, device + ": locked by another program", fd);
    // A flag nobody holds the device for is stale: its setter ended while the other end of a
    // pseudo-terminal kept the line (a real adapter drops it with the last close). The scan
    // for holders decides; root got this far past the flag.
    const bool held = HeldElsewhere(RealPath(device));
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive && held)
        return FailOpen(PortProblem::InUse, device + ": held exclusively by another program", fd);
    if (held)
        return FailOpen(PortProblem::InUse, device + ": open in another program", fd);
    if (exclusive)
        ::ioctl(fd, TIOCNXCL);
    // Not on a pseudo-terminal: there the flag would outlive a killed command, and nobody but
    // root could open the line again. The lock and the scan for holders still keep it ours.
    if (!IsPseudoTerminal(st) && ::ioctl(fd, TIOCEXCL) != 0)
        return FailOpen(PortProblem::InUse, device + ": cannot be made exclusive", fd);
    if (::tcflush(fd, TCIOFLUSH) != 0) {
        ::ioctl(fd, TIOCNXCL);
        return FailOpen(PortProblem::Gone, device + ": " + std::strerror(errno), fd);
    }
    ::cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        ::ioctl(fd, TIOCNXCL);
        return FailOpen(PortProblem::Gone, device + ": line settings: " + std::strerror(errno), fd);
    }
    // A USB-serial adapter holds short replies back for its latency timer (16 ms by default
    // on FTDI chips); the driver shortens it to 1 ms in low-latency mode. Ptys have no such
    // setting.
    lowLatency = false;
    serial_struct ss{};
    if (::ioctl(fd, TIOCGSERIAL, &ss) == 0) {
        if (!(ss.flags & ASYNC_LOW_LATENCY)) {
            ss.flags |= ASYNC_LOW_LATENCY;
            lowLatency = ::ioctl(fd, TIOCSSERIAL, &ss) == 0;
        } else {
            lowLatency = true;
        }
    }
    int bits = 0;
    hasModemLines = ::ioctl(fd, TIOCMGET, &bits) == 0;
    handle = fd;
    isOpen = 1;
    lineGone = false;
    lineBaud = baudRate;
    (void)dataBits;
    SetRts(false);
    SetDtr(false);
    return 1;
}

int SerialPort::Close() {
    if (!isOpen)
        return 1;
    SetRts(false);
    SetDtr(false);
    ::ioctl(handle, TIOCNXCL);
    ::close(handle);
    handle = -1;
    isOpen = 0;
    lineGone = false;
    return 1;
}

bool SerialPort::SetBaudRate(int baudRate) {
    if (!isOpen) {
        lastError = "port not open";
        return false;
    }
    speed_t speed;
    if (!ToSpeed(baudRate, speed)) {
        lastError = "unsupported baud rate " + std::to_string(baudRate);
        return false;
    }
    termios t{};
    if (::tcgetattr(handle, &t) != 0)
        return Fail("read line settings");
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    if (::tcsetattr(handle, TCSADRAIN, &t) != 0) {
        if (errno == EIO || errno == ENODEV || errno == ENXIO)
            MarkGone();
        return Fail("set baud rate");
    }
    lineBaud = baudRate;
    return SetRts(true) == 1 && SetDtr(true) == 1;
}

int SerialPort::SetModemLine(int line, bool on) {
    if (!isOpen) {
        lastError = "port not open";
        return 0;
    }
    if (hasModemLines) {
        if (::ioctl(handle, on ? TIOCMBIS : TIOCMBIC, &line) == 0)
            return 1;
        if (errno != ENOTTY && errno != EINVAL) {
            if (errno == EIO || errno == ENODEV || errno == ENXIO)
                MarkGone();
            return Fail("modem line");
        }
        hasModemLines = false;
    }
    // No modem lines (a pseudo-terminal): nothing to switch, but the line must still be there.
    termios t{};
    if (::tcgetattr(handle, &t) != 0) {
        MarkGone();
        return Fail("line gone");
    }
    return 1;
}

int SerialPort::SetRts(bool on) {
    return SetModemLine(TIOCM_RTS, on);
}

int SerialPort::SetDtr(bool on) {
    return SetModemLine(TIOCM_DTR, on);
}

int SerialPort::Write(const uint8_t* data, size_t count) {
    if (!isOpen)
        return 0;
    size_t written = 0;
    size_t echoed = 0;
    uint8_t sink[1024];
    auto lastProgress = std::chrono::steady_clock::now();
    // Take the echo in while writing, so a long write never fills the input queue.
    while (written < count) {
        pollfd p{handle, POLLOUT, 0};
        if (echoed < written)
            p.events |= POLLIN;
        int r = ::poll(&p, 1, 100);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            Fail("wait to write");
            MarkGone();
            break;
        }
        if (p.revents & POLLIN) {
            ssize_t n = ::read(handle, sink, std::min(sizeof sink, written - echoed));
            if (n > 0)
                echoed += static_cast<size_t>(n);
        }
        if (p.revents & POLLOUT) {
            ssize_t n = ::write(handle, data + written, count - written);
            if (n > 0) {
                written += static_cast<size_t>(n);
                lastProgress = std::chrono::steady_clock::now();
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                MarkGone();
                break;
            }
        }
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            MarkGone();
            break;
        }
        if (std::chrono::steady_clock::now() - lastProgress > kWriteStall) {
            MarkStalled();
            break;
        }
    }
    // The rest of the echo: until the whole-second clock has advanced by more than 2 without
    // an echoed byte (a long block at a slow speed keeps echoing past one window).
    auto deadline = WholeSecondsFromNow(3);
    while (echoed < written && WaitQueued(deadline, written - echoed)) {
        int n = Read(sink, std::min(sizeof sink, written - echoed));
        if (n > 0) {
            echoed += static_cast<size_t>(n);
            deadline = WholeSecondsFromNow(3);
        }
    }
    return static_cast<int>(written);
}

int SerialPort::WriteByte(uint8_t byte) {
    if (!isOpen)
        return 0;
    for (int tries = 0; tries < 30; ++tries) {
        ssize_t n = ::write(handle, &byte, 1);
        if (n == 1)
            return 1;
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            MarkGone();
            return 0;
        }
        pollfd p{handle, POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
    MarkStalled();
    return 0;
}

int SerialPort::Read(uint8_t* buffer, size_t max) {
    if (!isOpen || max == 0)
        return 0;
    ssize_t n = ::read(handle, buffer, max);
    if (n > 0)
        return static_cast<int>(n);
    // With VMIN 0 an empty queue reads as 0; an error means the line is gone.
    if (n < 0 && errno != EAGAIN && errno != EINTR)
        MarkGone();
    return 0;
}

void SerialPort::MarkGone() {
    lineGone = true;
    openProblem = PortProblem::Gone;
}

void SerialPort::MarkStalled() {
    lastError = "write stalled: the line takes no bytes";
    if (openProblem == PortProblem::None)
        openProblem = PortProblem::Stalled;
}

void SerialPort::Flush() {
    if (isOpen)
        ::tcflush(handle, TCIOFLUSH);
}

void SerialPort::Idle() {
    if (!idle)
        return;
    const auto now = Clock::now();
    if (now - lastIdle < kIdleInterval)
        return;
    lastIdle = now;
    idle();
}

bool SerialPort::WaitReadable(Clock::time_point deadline) {
    for (;;) {
        if (!isOpen || lineGone)
            return false;
        Idle();
        int ms = MillisecondsUntil(deadline);
        if (ms == 0)
            return false;
        if (idle)
            ms = std::min(ms, int(kIdleInterval.count()));
        pollfd p{handle, POLLIN, 0};
        int r = ::poll(&p, 1, ms);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (r == 0)
            continue; // the clock decides
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            MarkGone();
            return false;
        }
        if (p.revents & POLLIN)
            return true;
    }
}

bool SerialPort::WaitQueued(Clock::time_point deadline, size_t wanted) {
    if (!WaitReadable(deadline))
        return false;
    int queued = 0;
    if (wanted <= 1 || lineBaud <= 0 || ::ioctl(handle, FIONREAD, &queued) != 0 || queued < 0 ||
        size_t(queued) >= wanted)
        return true;
    // The rest comes at 10 bit times a byte: pause until about the last one is due, so a
    // reply costs a few wake-ups instead of one a byte (every 43 us at 230400 baud).
    const auto due = std::chrono::microseconds((wanted - size_t(queued) - 1) * 10'000'000ull /
                                               unsigned(lineBaud));
    const int ms = std::min(MillisecondsUntil(deadline) - 1,
                            int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::min<std::chrono::microseconds>(due, kGatherSlice))
                                    .count()));
    if (ms > 0)
        ::poll(nullptr, 0, ms);
    return true;
}
