#include "link/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
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
int MillisecondsUntil(ISerialPort::WallClock::time_point deadline) {
    auto left = deadline - ISerialPort::WallClock::now();
    if (left <= ISerialPort::WallClock::duration::zero())
        return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
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

int SerialPort::Open(const std::string& device, int baudRate) {
    if (isOpen)
        return 1;
    speed_t speed;
    if (!ToSpeed(baudRate, speed)) {
        lastError = "unsupported baud rate " + std::to_string(baudRate);
        return 0;
    }
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Fail(device.c_str());
    // No sharing: another program of ours holding the line makes the open fail.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        Fail("port in use");
        ::close(fd);
        return 0;
    }
    termios t{};
    if (::tcflush(fd, TCIOFLUSH) != 0 || ::tcgetattr(fd, &t) != 0) {
        Fail("not a serial device");
        ::close(fd);
        return 0;
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
        Fail("line settings");
        ::close(fd);
        return 0;
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
    if (::tcsetattr(handle, TCSADRAIN, &t) != 0)
        return Fail("set baud rate");
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
        if (errno != ENOTTY && errno != EINVAL)
            return Fail("modem line");
        hasModemLines = false;
    }
    // No modem lines (a pseudo-terminal): nothing to switch, but the line must still be there.
    termios t{};
    if (::tcgetattr(handle, &t) != 0)
        return Fail("line gone");
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
        if (r < 0)
            break;
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
                lineGone = true;
                break;
            }
        }
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            lineGone = true;
            break;
        }
        if (std::chrono::steady_clock::now() - lastProgress > kWriteStall)
            break;
    }
    // The rest of the echo: until the whole-second clock has advanced by more than 2 without
    // an echoed byte (a long block at a slow speed keeps echoing past one window).
    auto deadline = WallClock::from_time_t(std::time(nullptr) + 3);
    while (echoed < written && WaitQueued(deadline, written - echoed)) {
        int n = Read(sink, std::min(sizeof sink, written - echoed));
        if (n > 0) {
            echoed += static_cast<size_t>(n);
            deadline = WallClock::from_time_t(std::time(nullptr) + 3);
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
            lineGone = true;
            return 0;
        }
        pollfd p{handle, POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
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
        lineGone = true;
    return 0;
}

void SerialPort::Flush() {
    if (isOpen)
        ::tcflush(handle, TCIOFLUSH);
}

void SerialPort::Idle() {
    if (!idle)
        return;
    const auto now = WallClock::now();
    if (now - lastIdle < kIdleInterval)
        return;
    lastIdle = now;
    idle();
}

bool SerialPort::WaitReadable(WallClock::time_point deadline) {
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
            lineGone = true;
            return false;
        }
        if (p.revents & POLLIN)
            return true;
    }
}

bool SerialPort::WaitQueued(WallClock::time_point deadline, size_t wanted) {
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
