// The simulated machine driven over its pseudo-terminal with raw termios reads and writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "crypto/Digests.h"
#include "sim/SimMachine.h"

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kInfo = 0x10000F00;
constexpr uint32_t kBlockArea = 0x10001100;

// The program's side of the line: a raw tty at a chosen speed.
class Line {
public:
    explicit Line(const std::string& device) {
        fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0) {
            termios t;
            ::tcgetattr(fd_, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Line() { Close(); }
    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    bool Open() const { return fd_ >= 0; }

    void Speed(speed_t s) {
        termios t;
        ::tcgetattr(fd_, &t);
        ::cfsetispeed(&t, s);
        ::cfsetospeed(&t, s);
        ::tcsetattr(fd_, TCSANOW, &t);
    }

    // Up to n bytes, waiting at most ms for them all.
    Bytes Read(size_t n, int ms = 1000) {
        Bytes out;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (out.size() < n) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            end - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0)
                break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                break;
            if (p.revents & (POLLHUP | POLLERR)) {
                hungUp_ = true;
                break;
            }
            uint8_t buf[4096];
            ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - out.size()));
            if (r <= 0) {
                hungUp_ = r == 0 || errno == EIO;
                if (hungUp_)
                    break;
                continue;
            }
            out.insert(out.end(), buf, buf + r);
        }
        return out;
    }

    // Writes and takes back the echo; false when the echo is not the bytes sent.
    bool Send(const Bytes& b) {
        if (::write(fd_, b.data(), b.size()) != ssize_t(b.size()))
            return false;
        return Read(b.size()) == b;
    }
    void SendNoEcho(const Bytes& b) {
        ASSERT_EQ(::write(fd_, b.data(), b.size()), ssize_t(b.size()));
    }
    bool HungUp() const { return hungUp_; }

private:
    int fd_ = -1;
    bool hungUp_ = false;
};

Bytes Command(uint8_t code, uint32_t addr, uint32_t len) {
    Bytes f(16, 0);
    f[1] = code;
    for (int i = 0; i < 4; ++i) {
        f[2 + i] = uint8_t(addr >> (24 - 8 * i));
        f[6 + i] = uint8_t(len >> (24 - 8 * i));
    }
    for (int i = 1; i <= 14; ++i)
        f[15] ^= f[i];
    return f;
}

Bytes DataFrame(const Bytes& data) {
    Bytes f(264, 0);
    f[0] = 0x01;
    f[1] = 0x01;
    std::copy(data.begin(), data.begin() + std::min<size_t>(256, data.size()), f.begin() + 2);
    for (int i = 1; i <= 262; ++i)
        f[263] ^= f[i];
    return f;
}

const Bytes kEnd = {0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

SimOptions Quiet() {
    SimOptions o;
    o.pacing = false;
    o.announce = false;
    if (std::getenv("SIM_TEST_LOG"))
        o.log = [](const std::string& s) { fprintf(stderr, "sim: %s\n", s.c_str()); };
    return o;
}

std::string TempDir() {
    char tmpl[] = "/tmp/kelvane-sim-test-XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    return d ? d : "";
}

class SimTest : public ::testing::Test {
protected:
    std::unique_ptr<SimMachine> sim;
    std::unique_ptr<Line> line;

    void Begin(SimOptions o = Quiet()) {
        sim = std::make_unique<SimMachine>(o);
        std::string dev = sim->Start();
        ASSERT_FALSE(dev.empty()) << sim->LastError();
        line = std::make_unique<Line>(dev);
        ASSERT_TRUE(line->Open());
        line->Speed(B9600);
    }

    // The program's Connect up to the running loader; returns the wake-up answer.
    Bytes Connect(bool expectFast) {
        line->Speed(B19200);
        EXPECT_TRUE(line->Send({0xFF}));
        EXPECT_TRUE(line->Send({0x00, 0xED}));
        Bytes answer = line->Read(3);
        if (answer.size() != 3)
            return answer;
        uint16_t n = uint16_t(answer[1] << 8 | answer[2]);
        if (answer[0] == 0xA2 && n > 40) {
            EXPECT_TRUE(expectFast);
            uint16_t div = uint16_t(12288 / (n + 1));
            EXPECT_TRUE(line->Send({uint8_t(div >> 8), uint8_t(div)}));
            line->Speed(B230400);
            EXPECT_TRUE(line->Send({0xF0}));
        } else {
            EXPECT_FALSE(expectFast);
        }
        Bytes loader(300, 0x5A);
        EXPECT_TRUE(line->Send({uint8_t(loader.size()), uint8_t(loader.size() >> 8), 0, 0}));
        EXPECT_EQ(line->Read(1), Bytes{0x01});
        EXPECT_TRUE(line->Send(loader));
        EXPECT_EQ(line->Read(1), Bytes{0x01});
        return answer;
    }

    // A read through the loader: the acknowledgement, then the n + 3 reply bytes checked.
    Bytes ReadMem(uint32_t addr, uint32_t n) {
        EXPECT_TRUE(line->Send(Command(0x04, addr, n)));
        Bytes ack = line->Read(1);
        EXPECT_EQ(ack, Bytes{'U'});
        Bytes r = line->Read(n + 3);
        EXPECT_EQ(r.size(), n + 3);
        if (r.size() != n + 3)
            return {};
        uint8_t x = 0;
        for (size_t i = 1; i <= n + 1; ++i)
            x ^= r[i];
        EXPECT_EQ(x, r[n + 2]) << "check byte";
        return Bytes(r.begin() + 2, r.begin() + 2 + n);
    }

    void WriteBlockArea(const Bytes& area) {
        ASSERT_TRUE(line->Send(Command(0x00, kBlockArea, 0)));
        ASSERT_EQ(line->Read(1), Bytes{'U'});
        for (size_t i = 0; i < area.size(); i += 256) {
            ASSERT_TRUE(line->Send(DataFrame(Bytes(area.begin() + i, area.begin() + i + 256))));
            Bytes ack = line->Read(1);
            ASSERT_EQ(ack.size(), 1u);
            ASSERT_TRUE(ack[0] == 'U' || ack[0] == 'P');
        }
        ASSERT_TRUE(line->Send(kEnd));
        ASSERT_EQ(line->Read(1), Bytes{'U'});
    }
};

TEST_F(SimTest, WakeUpAnswerDecidesTheLineSpeed) {
    struct Case {
        uint16_t n;
        Bytes answer;
        bool fast;
    };
    for (const Case& c : {Case{40, {0xA2, 0x00, 0x28}, false}, Case{41, {0xA2, 0x00, 0x29}, true},
                          Case{256, {0xA2, 0x01, 0x00}, true}}) {
        SCOPED_TRACE(c.n);
        SimOptions o = Quiet();
        o.wakeupN = c.n;
        Begin(o);
        EXPECT_EQ(Connect(c.fast), c.answer);
        // The loader answers at the speed it ended up at.
        EXPECT_EQ(ReadMem(kInfo, 32).size(), 32u);
        SimCounters k = sim->Counters();
        EXPECT_EQ(k.wakeups, 1u);
        EXPECT_EQ(k.speedSwitches, c.fast ? 1u : 0u);
        EXPECT_EQ(k.loaderDownloads, 1u);
        EXPECT_EQ(k.wrongSpeedBytes, 0u);
        EXPECT_GT(k.byBaud[c.fast ? 230400 : 19200].replied, 35u);
        line.reset();
        sim.reset();
    }
}

TEST_F(SimTest, BytesAtTheWrongSpeedAreIgnoredButEchoed) {
    Begin();
    line->Speed(B19200);
    ASSERT_TRUE(line->Send({0xFF, 0x00, 0xED}));
    ASSERT_EQ(line->Read(3), (Bytes{0xA2, 0x01, 0x00}));
    ASSERT_TRUE(line->Send({0x00, 0x2F}));
    // The program forgets to switch: the switch byte and loader size go out at 19200.
    EXPECT_TRUE(line->Send({0xF0}));
    EXPECT_TRUE(line->Send({0x10, 0, 0, 0}));
    EXPECT_TRUE(line->Read(1, 200).empty());
    EXPECT_EQ(sim->Counters().wrongSpeedBytes, 5u);

    // A wrong divisor leaves the machine at a speed nobody sends at.
    line->Speed(B19200);
    ASSERT_TRUE(line->Send({0xFF, 0x00, 0xED})); // wake-up byte resets, whatever the speed
    ASSERT_EQ(line->Read(3).size(), 3u);
    ASSERT_TRUE(line->Send({0x00, 0x30}));
    line->Speed(B230400);
    EXPECT_TRUE(line->Send({0xF0, 0x10, 0, 0, 0}));
    EXPECT_TRUE(line->Read(1, 200).empty());
}

TEST_F(SimTest, ReadsShowTheLayout) {
    struct Case {
        uint32_t code;
        uint32_t memorySize;
        uint16_t blockOffset;
        uint16_t pointer;
        uint32_t emulationStart;
        uint16_t emulationLength;
    };
    for (const Case& c :
         {Case{0x11000, 0x10000, 0, 0x10, 0, 4096}, Case{0x21000, 0x20000, 64, 0, 0x1001FC00, 1024},
          Case{0x3000, 0x2000, 512, 0x20, 0, 512}}) {
        SCOPED_TRACE(c.code);
        SimOptions o = Quiet();
        o.memorySizeCode = c.code;
        o.blockOffset = c.blockOffset;
        o.descriptorPointer = c.pointer;
        o.emulationStart = c.emulationStart;
        o.emulationLength = c.emulationLength;
        o.fasteningCounter = 70;
        Begin(o);
        Connect(true);
        Bytes info = ReadMem(kInfo, 32);
        ASSERT_EQ(info.size(), 32u);
        EXPECT_EQ(uint32_t(info[24] | info[25] << 8 | info[26] << 16 | info[27] << 24), c.code);

        Bytes word = ReadMem(c.memorySize + 0x10000E00, 2);
        ASSERT_EQ(word.size(), 2u);
        uint32_t ptr = (word[0] == 0 && word[1] == 0xFC) ? 0 : word[0] * 256u + word[1];
        EXPECT_EQ(ptr, c.pointer);
        Bytes d = ReadMem(c.memorySize + 0x10000E00 + ptr, 6);
        uint32_t start = d[0] | d[1] << 8 | d[2] << 16 | uint32_t(d[3]) << 24;
        uint16_t len = uint16_t(d[4] | d[5] << 8);
        EXPECT_EQ(start, sim->EmulationStart());
        if (c.emulationStart) {
            EXPECT_EQ(start, c.emulationStart);
        }
        EXPECT_EQ(len, c.emulationLength);
        EXPECT_EQ(start % 256, 0u);

        Bytes area = ReadMem(kBlockArea, 1024);
        ASSERT_EQ(area.size(), 1024u);
        if (c.blockOffset == 0) {
            EXPECT_EQ((Bytes{area[0], area[1]}), (Bytes{0x20, 0x01}));
        } else {
            EXPECT_EQ(area[0] * 256 + area[1], c.blockOffset);
        }
        auto image = SimMachine::DefaultImage();
        EXPECT_TRUE(std::equal(image.begin() + 3, image.end(), area.begin() + c.blockOffset + 3));

        // Fastening records of type 10; the largest counts.
        Bytes emu = ReadMem(start, len);
        ASSERT_EQ(emu.size(), len);
        uint32_t best = 0;
        for (size_t off = len - 16; off > 0; off -= 16)
            if (emu[off] == 10)
                best = std::max(best, uint32_t(emu[off + 4] | emu[off + 5] << 8 |
                                               emu[off + 6] << 16 | emu[off + 7] << 24) %
                                          65535);
        EXPECT_EQ(best, 70u);
        line.reset();
        sim.reset();
    }
}

TEST_F(SimTest, DefaultImageIsAKind18MachineWithPassword0000) {
    auto b = SimMachine::DefaultImage();
    EXPECT_EQ(std::string(b.begin() + 3, b.begin() + 19), "TVX18-4200      ");
    EXPECT_EQ(b[7], '8');
    EXPECT_EQ(std::string(b.begin() + 61, b.begin() + 71), "V04.02.005");
    EXPECT_EQ(std::string(b.begin() + 31, b.begin() + 41), "SIM0000001");
    EXPECT_EQ(b[1] & 1, 1);
    EXPECT_EQ(b[110], 1);
    EXPECT_EQ(b[111], 0);
    PasswordDigestBytes d = PasswordDigest(std::string_view("0000"));
    EXPECT_TRUE(std::equal(d.begin(), d.end(), b.begin() + 95));
    EXPECT_EQ(b[124 + 28], 1); // step chain of a fresh image
    EXPECT_EQ(b[124 + 4 * 29 + 28], 0xFF);
}

TEST_F(SimTest, WriteSurvivesARestartWithTheStateFolder) {
    std::string dir = TempDir();
    SimOptions o = Quiet();
    o.stateDir = dir;
    Begin(o);
    Connect(true);
    Bytes area = ReadMem(kBlockArea, 1024);
    ASSERT_EQ(area.size(), 1024u);
    std::memcpy(area.data() + 46, "LINE-7", 6); // toolId
    WriteBlockArea(area);
    EXPECT_EQ(sim->Peek(kBlockArea, 1024), area);
    EXPECT_EQ(sim->Counters().dataFrames, 4u);
    line.reset();
    sim.reset();

    struct stat st;
    ASSERT_EQ(::stat((dir + "/memory.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0x11000);
    Begin(o);
    Connect(true);
    EXPECT_EQ(ReadMem(kBlockArea, 1024), area);
    auto img = sim->ParameterImage();
    EXPECT_EQ(std::string(img.begin() + 46, img.begin() + 52), "LINE-7");
    line.reset();
    sim.reset();

    // A kept memory of another size is refused rather than overwritten.
    o.memorySizeCode = 0x21000;
    SimMachine other(o);
    EXPECT_TRUE(other.Start().empty());
    EXPECT_NE(other.LastError().find("memory"), std::string::npos) << other.LastError();
    EXPECT_EQ(::stat((dir + "/memory.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0x11000);
    std::system(("rm -rf " + dir).c_str());
}

TEST_F(SimTest, BadFramesAreRefused) {
    Begin();
    Connect(true);
    struct Case {
        const char* what;
        Bytes frame;
    };
    Bytes badCheck = Command(0x04, kInfo, 32);
    badCheck[15] ^= 1;
    Bytes badData = DataFrame(Bytes(256, 1));
    badData[263] ^= 1;
    for (const Case& c :
         {Case{"check byte", badCheck}, Case{"outside the flash", Command(0x04, 0x20000000, 16)},
          Case{"read of 0 bytes", Command(0x04, kInfo, 0)},
          Case{"unknown code", Command(0x07, kInfo, 4)},
          Case{"write into the boot loader", Command(0x00, 0x10000F00, 0)},
          Case{"data without begin write", DataFrame(Bytes(256, 1))}}) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(line->Send(c.frame));
        EXPECT_EQ(line->Read(1), Bytes{kSimRefusal});
    }
    ASSERT_TRUE(line->Send(Command(0x00, kBlockArea, 0)));
    ASSERT_EQ(line->Read(1), Bytes{'U'});
    ASSERT_TRUE(line->Send(badData));
    EXPECT_EQ(line->Read(1), Bytes{kSimRefusal});
    EXPECT_EQ(sim->Counters().refusals, 7u);
    EXPECT_EQ(sim->Counters().dataFrames, 0u);
    // Still serving after all that.
    EXPECT_EQ(ReadMem(kInfo, 32).size(), 32u);
}

TEST_F(SimTest, FaultModesShowOnTheLine) {
    // silent: echo only.
    {
        SimOptions o = Quiet();
        o.fault = SimFault::Silent;
        Begin(o);
        line->Speed(B19200);
        EXPECT_TRUE(line->Send({0xFF, 0x00, 0xED}));
        EXPECT_TRUE(line->Read(1, 200).empty());
    }
    // bad-wakeup: wrong first byte, the loader is taken at 19200.
    {
        SimOptions o = Quiet();
        o.fault = SimFault::BadWakeup;
        Begin(o);
        EXPECT_EQ(Connect(false), (Bytes{0xA0, 0x01, 0x00}));
        EXPECT_EQ(ReadMem(kInfo, 32).size(), 32u);
        EXPECT_GT(sim->Counters().byBaud[19200].replied, 35u);
    }
    // refuse-command, only at the block area and after one has passed.
    {
        SimOptions o = Quiet();
        o.fault = SimFault::RefuseCommand;
        o.faultAddress = kBlockArea;
        o.faultSkip = 1;
        Begin(o);
        Connect(true);
        EXPECT_EQ(ReadMem(kBlockArea, 2).size(), 2u);
        EXPECT_EQ(ReadMem(kInfo, 32).size(), 32u);
        ASSERT_TRUE(line->Send(Command(0x04, kBlockArea, 1024)));
        EXPECT_EQ(line->Read(1), Bytes{kSimRefusal});
        ASSERT_TRUE(line->Send(Command(0x00, kBlockArea, 0)));
        EXPECT_EQ(line->Read(1), Bytes{kSimRefusal});
    }
    // refuse-data from the third frame on.
    {
        SimOptions o = Quiet();
        o.fault = SimFault::RefuseData;
        o.faultSkip = 2;
        Begin(o);
        Connect(true);
        ASSERT_TRUE(line->Send(Command(0x00, kBlockArea, 0)));
        ASSERT_EQ(line->Read(1), Bytes{'U'});
        Bytes acks;
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(line->Send(DataFrame(Bytes(256, uint8_t(i)))));
            Bytes a = line->Read(1);
            ASSERT_EQ(a.size(), 1u);
            acks.push_back(a[0]);
        }
        EXPECT_EQ(acks, (Bytes{'P', 'P', kSimRefusal}));
        EXPECT_EQ(sim->Peek(kBlockArea + 256, 256), Bytes(256, 1));
        EXPECT_NE(sim->Peek(kBlockArea + 512, 256), Bytes(256, 2));
    }
    // bad-checksum and lose-bytes on read replies.
    for (SimFault f : {SimFault::BadChecksum, SimFault::LoseBytes}) {
        SCOPED_TRACE(SimFaultName(f));
        SimOptions o = Quiet();
        o.fault = f;
        o.faultAddress = kBlockArea;
        Begin(o);
        Connect(true);
        EXPECT_EQ(ReadMem(kInfo, 32).size(), 32u);
        ASSERT_TRUE(line->Send(Command(0x04, kBlockArea, 1024)));
        ASSERT_EQ(line->Read(1), Bytes{'U'});
        Bytes r = line->Read(1027, 300);
        if (f == SimFault::LoseBytes) {
            EXPECT_EQ(r.size(), 1023u);
        } else {
            ASSERT_EQ(r.size(), 1027u);
            uint8_t x = 0;
            for (size_t i = 1; i <= 1025; ++i)
                x ^= r[i];
            EXPECT_NE(x, r[1026]);
        }
    }
}

TEST_F(SimTest, HangupInWriteClosesTheLineAndKeepsTheFramesWritten) {
    std::string runtime = TempDir();
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    std::string dir = TempDir();
    SimOptions o = Quiet();
    o.fault = SimFault::HangupInWrite;
    o.faultSkip = 1;
    o.stateDir = dir;
    o.announce = true;
    Begin(o);
    std::string ann = sim->AnnouncementPath();
    ASSERT_FALSE(ann.empty());
    Connect(true);
    ASSERT_TRUE(line->Send(Command(0x00, kBlockArea, 0)));
    ASSERT_EQ(line->Read(1), Bytes{'U'});
    ASSERT_TRUE(line->Send(DataFrame(Bytes(256, 0x11))));
    ASSERT_EQ(line->Read(1), Bytes{'P'});
    line->SendNoEcho(DataFrame(Bytes(256, 0x22)));
    Bytes echo = line->Read(264, 500);
    EXPECT_LT(echo.size(), 264u);
    EXPECT_TRUE(line->HungUp());
    EXPECT_EQ(sim->Counters().hangups, 1u);
    EXPECT_NE(::access(ann.c_str(), F_OK), 0) << "the adapter is gone";
    line.reset();
    sim.reset();

    o.fault = SimFault::None;
    SimMachine again(o);
    ASSERT_FALSE(again.Start().empty()) << again.LastError();
    EXPECT_EQ(again.Peek(kBlockArea, 256), Bytes(256, 0x11));
    EXPECT_NE(again.Peek(kBlockArea + 256, 256), Bytes(256, 0x22));
    again.Stop();
    std::system(("rm -rf " + dir + " " + runtime).c_str());
}

TEST_F(SimTest, AnnouncementFileLivesWhileTheMachineRuns) {
    std::string runtime = TempDir();
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    SimOptions o = Quiet();
    o.announce = true;
    o.serial = "NORKTEST9";
    SimMachine a(o), b(o);
    std::string devA = a.Start(), devB = b.Start();
    ASSERT_FALSE(devA.empty()) << a.LastError();
    ASSERT_FALSE(devB.empty()) << b.LastError();
    std::string expected = runtime + "/kelvane/sim-" + std::to_string(::getpid()) + ".port";
    EXPECT_EQ(a.AnnouncementPath(), expected);
    EXPECT_NE(b.AnnouncementPath(), expected);
    struct stat st;
    ASSERT_EQ(::stat((runtime + "/kelvane").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::ifstream in(expected);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "device=" + devA + "\nserial=NORKTEST9\n");
    a.Stop();
    EXPECT_NE(::access(expected.c_str(), F_OK), 0);
    EXPECT_EQ(::access(b.AnnouncementPath().c_str(), F_OK), 0);
    std::string pathB = b.AnnouncementPath();
    b.Stop();
    EXPECT_NE(::access(pathB.c_str(), F_OK), 0);
    std::system(("rm -rf " + runtime).c_str());
}

TEST_F(SimTest, ClosingTheDeviceOrAWakeUpByteResetsTheMachine) {
    Begin();
    Connect(true);
    // The wake-up byte at 19200 reaches a machine running at 230400.
    EXPECT_EQ(Connect(true), (Bytes{0xA2, 0x01, 0x00}));
    EXPECT_EQ(ReadMem(kInfo, 32).size(), 32u);
    // Closing and opening the port again: back in the boot loader.
    std::string dev = sim->DevicePath();
    line.reset();
    for (int i = 0; i < 100 && sim->Counters().resets < 2; ++i)
        ::usleep(10000);
    line = std::make_unique<Line>(dev);
    ASSERT_TRUE(line->Open());
    EXPECT_EQ(Connect(true), (Bytes{0xA2, 0x01, 0x00}));
    EXPECT_EQ(ReadMem(kInfo, 32).size(), 32u);
    EXPECT_EQ(sim->Counters().resets, 2u);
}

TEST_F(SimTest, IncompleteFrameIsDroppedAfterASecondOfSilence) {
    Begin();
    Connect(true);
    Bytes half = Command(0x04, kInfo, 32);
    half.resize(8);
    ASSERT_TRUE(line->Send(half));
    EXPECT_TRUE(line->Read(1, 1300).empty());
    EXPECT_EQ(ReadMem(kInfo, 32).size(), 32u);
}

TEST_F(SimTest, PacedExchangeIsCountedPerLineSpeed) {
    SimOptions o;
    o.announce = false; // pacing stays on
    Begin(o);
    Connect(true);
    ASSERT_EQ(ReadMem(kBlockArea, 1024).size(), 1024u);
    SimCounters k = sim->Counters();
    // 19200: 0xFF, 0x00 0xED, divisor in; the wake-up answer out.
    EXPECT_EQ(k.byBaud[19200].received, 5u);
    EXPECT_EQ(k.byBaud[19200].replied, 3u);
    // 230400: 0xF0, size, loader, command in; two loader acks, command ack, reply out.
    EXPECT_EQ(k.byBaud[230400].received, 1u + 4 + 300 + 16);
    EXPECT_EQ(k.byBaud[230400].replied, 2u + 1 + 1027);
    EXPECT_EQ(k.prescribedWaitMs, 100u + 20 + 50);
    double expect = 0.170 + 8 * 10.0 / 19200 + (321 + 1030) * 10.0 / 230400;
    EXPECT_NEAR(k.LeastLineSeconds(), expect, 1e-9);
}

TEST_F(SimTest, ImageOptionsAndBadSettingsGiveClearErrors) {
    std::string dir = TempDir();
    auto image = SimMachine::DefaultImage();
    std::memcpy(image.data() + 31, "CFG0000042", 10);
    {
        std::ofstream f(dir + "/cfg.bin", std::ios::binary);
        std::string seal(48, 'S');
        f.write(seal.data(), 48);
        f.write(reinterpret_cast<const char*>(image.data()), 512);
    }
    SimOptions o = Quiet();
    o.imageFile = dir + "/cfg.bin";
    SimMachine fromFile(o);
    ASSERT_FALSE(fromFile.Start().empty()) << fromFile.LastError();
    EXPECT_EQ(fromFile.ParameterImage(), image);
    fromFile.Stop();

    struct Case {
        const char* what;
        SimOptions o;
        const char* message;
    };
    std::vector<Case> cases;
    cases.push_back({"short file", Quiet(), "expected 512"});
    {
        std::ofstream f(dir + "/short.bin", std::ios::binary);
        f << "abc";
    }
    cases.back().o.imageFile = dir + "/short.bin";
    cases.push_back({"marker", Quiet(), "0x20 0x01"});
    cases.back().o.image = std::array<uint8_t, 512>{};
    cases.push_back({"offset", Quiet(), "above 512"});
    cases.back().o.blockOffset = 513;
    cases.push_back({"descriptor", Quiet(), "0xFC00"});
    cases.back().o.descriptorPointer = 0;
    cases.push_back({"emulation", Quiet(), "emulation"});
    cases.back().o.emulationLength = 20;
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimMachine m(c.o);
        EXPECT_TRUE(m.Start().empty());
        EXPECT_NE(m.LastError().find(c.message), std::string::npos) << m.LastError();
    }
    std::system(("rm -rf " + dir).c_str());
}

} // namespace

namespace {

// kelvane-sim itself: device path on the first line, announcement while it runs, clean exit on
// SIGTERM.
class SimExecutable : public ::testing::Test {
protected:
    std::string exe = std::string(KELVANE_BIN_DIR) + "/kelvane-sim";
    void SetUp() override {
        if (::access(exe.c_str(), X_OK) != 0)
            GTEST_SKIP() << exe << " is not built";
    }
    // Runs it with args; returns its pid and the read end of its standard output.
    pid_t Spawn(std::vector<std::string> args, int& out) {
        int p[2];
        EXPECT_EQ(::pipe(p), 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, p[1], 1);
        posix_spawn_file_actions_addclose(&fa, p[0]);
        args.insert(args.begin(), exe);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        EXPECT_EQ(::posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        ::close(p[1]);
        out = p[0];
        return pid;
    }
    std::string ReadAll(int fd, bool oneLine) {
        std::string s;
        char c;
        while (::read(fd, &c, 1) == 1) {
            if (oneLine && c == '\n')
                break;
            s.push_back(c);
        }
        return s;
    }
    int Wait(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_F(SimExecutable, PrintsTheDeviceAnnouncesAndStopsOnSignal) {
    std::string runtime = TempDir();
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    int out = -1;
    pid_t pid = Spawn({"--no-pacing", "--serial", "NORKEXE1"}, out);
    std::string device = ReadAll(out, true);
    ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
    std::string ann = runtime + "/kelvane/sim-" + std::to_string(pid) + ".port";
    std::ifstream in(ann);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "device=" + device + "\nserial=NORKEXE1\n");

    Line line(device);
    ASSERT_TRUE(line.Open());
    line.Speed(B19200);
    ASSERT_TRUE(line.Send({0xFF, 0x00, 0xED}));
    EXPECT_EQ(line.Read(3), (Bytes{0xA2, 0x01, 0x00}));

    ::kill(pid, SIGTERM);
    EXPECT_EQ(Wait(pid), 0);
    ::close(out);
    EXPECT_NE(::access(ann.c_str(), F_OK), 0);
    std::system(("rm -rf " + runtime).c_str());
}

TEST_F(SimExecutable, HelpListsEveryFaultModeAndBadOptionsFail) {
    int out = -1;
    pid_t pid = Spawn({"--help"}, out);
    std::string help = ReadAll(out, false);
    ::close(out);
    EXPECT_EQ(Wait(pid), 0);
    for (const auto& m : SimFaultModes())
        EXPECT_NE(help.find(m.name), std::string::npos) << m.name;
    EXPECT_NE(help.find("--machines N"), std::string::npos);
    for (std::vector<std::string> bad : {std::vector<std::string>{"--fault", "sometimes"},
                                         {"--machines", "0"},
                                         {"--block-offset", "600"},
                                         {"--wakeup"},
                                         {"--frobnicate"}}) {
        pid = Spawn(bad, out);
        ::close(out);
        EXPECT_EQ(Wait(pid), 2) << bad[0];
    }
}

} // namespace
