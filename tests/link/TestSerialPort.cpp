// The serial port over a pseudo-terminal whose master side this test plays.
#include "link/SerialPort.h"
#include "tests/link/WallClockShift.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

class Pty : public ::testing::Test {
protected:
    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        slave = ptsname(master);
    }
    void TearDown() override {
        stop = true;
        if (peer.joinable())
            peer.join();
        CloseMaster();
    }
    void CloseMaster() {
        if (master >= 0)
            close(master);
        master = -1;
    }
    // The far end: echoes every byte, then sends reply once `replyAfter` bytes came.
    void Echo(size_t replyAfter, std::string reply) {
        peer = std::thread([this, replyAfter, reply] {
            size_t seen = 0;
            bool replied = false;
            uint8_t buf[4096];
            while (!stop) {
                pollfd p{master, POLLIN, 0};
                if (poll(&p, 1, 20) <= 0)
                    continue;
                ssize_t n = read(master, buf, sizeof buf);
                if (n <= 0)
                    return;
                for (ssize_t off = 0; off < n;) {
                    ssize_t w = write(master, buf + off, size_t(n - off));
                    if (w > 0)
                        off += w;
                }
                seen += size_t(n);
                if (!replied && seen >= replyAfter) {
                    replied = true;
                    (void)!write(master, reply.data(), reply.size());
                }
            }
        });
    }

    int master = -1;
    std::string slave;
    std::thread peer;
    std::atomic<bool> stop{false};
};

TEST_F(Pty, OpensRaw8N1WithoutFlowControl) {
    SerialPort port;
    ASSERT_EQ(port.Open(slave, 9600), 1) << port.LastError();
    EXPECT_EQ(port.Open(slave, 19200), 1); // already open: untouched
    termios t{};
    ASSERT_EQ(tcgetattr(port.Handle(), &t), 0);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));

    const std::pair<int, speed_t> speeds[] = {
        {19200, B19200}, {115200, B115200}, {230400, B230400}, {9600, B9600}};
    for (auto [baud, speed] : speeds) {
        ASSERT_TRUE(port.SetBaudRate(baud)) << baud;
        ASSERT_EQ(tcgetattr(port.Handle(), &t), 0);
        EXPECT_EQ(cfgetispeed(&t), speed);
        EXPECT_EQ(cfgetospeed(&t), speed);
    }
    EXPECT_FALSE(port.SetBaudRate(4800));

    // A pseudo-terminal has no modem lines: switching them is accepted.
    EXPECT_EQ(port.SetRts(true), 1);
    EXPECT_EQ(port.SetDtr(true), 1);
    EXPECT_EQ(port.SetRts(false), 1);
    EXPECT_FALSE(port.HasModemLines());
    EXPECT_EQ(port.Close(), 1);
    EXPECT_EQ(port.Close(), 1);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(Pty, OpenFailures) {
    SerialPort port;
    EXPECT_EQ(port.Open("/dev/kelvane-no-such-port", 9600), 0);
    EXPECT_EQ(port.Open(slave, 4800), 0);
    EXPECT_EQ(port.Open("/dev/null", 9600), 0); // not a serial device
    EXPECT_FALSE(port.IsOpen());

    SerialPort first, second;
    ASSERT_EQ(first.Open(slave, 9600), 1);
    EXPECT_EQ(second.Open(slave, 9600), 0); // in use
    first.Close();
    EXPECT_EQ(second.Open(slave, 9600), 1);
}

TEST_F(Pty, ClosedPortDoesNothing) {
    SerialPort port;
    uint8_t b[4] = {1, 2, 3, 4};
    EXPECT_EQ(port.Write(b, 4), 0);
    EXPECT_EQ(port.WriteByte(1), 0);
    EXPECT_EQ(port.Read(b, 4), 0);
    EXPECT_EQ(port.SetRts(true), 0);
    EXPECT_FALSE(port.SetBaudRate(9600));
    EXPECT_FALSE(port.WaitReadable(ISerialPort::Clock::now() + std::chrono::seconds(5)));
}

TEST_F(Pty, WriteRemovesTheEchoAndLeavesTheAnswer) {
    SerialPort port;
    ASSERT_EQ(port.Open(slave, 230400), 1);
    // Far more than the line's buffers hold: the echo must be taken in while writing.
    std::vector<uint8_t> data(100000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 31);
    Echo(data.size(), "AB");
    auto t0 = Clock::now();
    ASSERT_EQ(port.Write(data.data(), data.size()), int(data.size()));
    EXPECT_LT(SecondsSince(t0), 2.0);
    uint8_t got[8] = {};
    size_t n = 0;
    auto deadline = ISerialPort::Clock::now() + std::chrono::seconds(2);
    while (n < 2 && port.WaitReadable(deadline))
        n += size_t(port.Read(got + n, sizeof got - n));
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(got[0], 'A');
    EXPECT_EQ(got[1], 'B');
}

TEST_F(Pty, ReadNeverWaits) {
    SerialPort port;
    ASSERT_EQ(port.Open(slave, 9600), 1);
    uint8_t b[16];
    auto t0 = Clock::now();
    EXPECT_EQ(port.Read(b, sizeof b), 0);
    EXPECT_LT(SecondsSince(t0), 0.05);
    ASSERT_EQ(write(master, "xyz", 3), 3);
    ASSERT_TRUE(port.WaitReadable(ISerialPort::Clock::now() + std::chrono::seconds(2)));
    EXPECT_EQ(port.Read(b, 2), 2);
    EXPECT_EQ(port.Read(b, 16), 1);
    EXPECT_EQ(b[0], 'z');
    port.Flush();
}

TEST_F(Pty, LostEchoEndsTheWriteAfterTheWindow) {
    SerialPort port;
    ASSERT_EQ(port.Open(slave, 19200), 1);
    const uint8_t data[16] = {};
    auto t0 = Clock::now();
    EXPECT_EQ(port.Write(data, sizeof data), 16);
    double s = SecondsSince(t0);
    EXPECT_GE(s, 1.9);
    EXPECT_LE(s, 3.5);
}

// The echo wait counts on the monotonic clock: the system time set forward or back while it
// runs (by hand, by NTP, during a long firmware update) neither cuts it nor stretches it.
TEST_F(Pty, AClockChangeNeitherCutsNorStretchesTheEchoWait) {
    for (const auto jump : {std::chrono::hours(1), -std::chrono::hours(1)}) {
        SCOPED_TRACE(jump.count());
        SerialPort port;
        ASSERT_EQ(port.Open(slave, 19200), 1);
        std::atomic<bool> done{false};
        std::thread changer([&done, jump] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ShiftWallClock(jump);
            // Set right again after 5 s at the latest, so a stretched wait ends.
            for (int i = 0; i < 100 && !done; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ShiftWallClock(std::chrono::seconds(0));
        });
        const uint8_t data[16] = {};
        const auto t0 = Clock::now();
        EXPECT_EQ(port.Write(data, sizeof data), 16);
        const double s = SecondsSince(t0);
        done = true;
        changer.join();
        EXPECT_GE(s, 1.9);
        EXPECT_LE(s, 3.5);
    }
}

// A line that takes no bytes (output held): the write comes back short with its reason, so
// the command can say it instead of waiting for an answer.
TEST_F(Pty, AWriteTheLineDoesNotTakeEndsShortWithItsReason) {
    const int held = open(slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(tcflow(held, TCOOFF), 0);
    SerialPort port;
    ASSERT_EQ(port.Open(slave, 19200), 1) << port.LastError();
    const uint8_t data[16] = {};
    EXPECT_LT(port.Write(data, sizeof data), 16);
    EXPECT_EQ(port.Problem(), PortProblem::Stalled) << port.LastError();
    EXPECT_NE(std::string(PortProblemText(port.Problem())), "");
    tcflow(held, TCOON);
    close(held);
}

TEST_F(Pty, LineGoneIsSeenAtOnce) {
    SerialPort port;
    ASSERT_EQ(port.Open(slave, 19200), 1);
    CloseMaster();
    uint8_t b[4];
    auto t0 = Clock::now();
    EXPECT_EQ(port.Read(b, sizeof b), 0);
    EXPECT_FALSE(port.WaitReadable(ISerialPort::Clock::now() + std::chrono::seconds(5)));
    EXPECT_LT(port.Write(b, sizeof b), 4);
    EXPECT_LT(SecondsSince(t0), 0.5);
    EXPECT_EQ(port.SetRts(true), 0); // a real failure of a line setting
    EXPECT_EQ(port.Close(), 1);
}

} // namespace
