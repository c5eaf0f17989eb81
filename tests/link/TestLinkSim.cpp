// The link end to end: the real serial port on the simulated machine's pseudo-terminal.
#include "link/AdapterDiscovery.h"
#include "link/PortSelection.h"
#include "link/QVX.h"
#include "link/ResultCodes.h"
#include "link/SerialPort.h"
#include "sim/SimMachine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Block = std::array<uint8_t, 512>;

// A write as the road runs it, without its checks: reconnect, the area, and the end frame's
// answer counting when nothing else failed.
int ReconnectAndWriteBlock(cQVX& link, cQVX::ConstBlock block) {
    int r = link.Connect();
    int endResult = kResultOk;
    if (r == kResultOk)
        r = link.WriteBlockArea(block, endResult);
    return r != kResultOk ? r : endResult;
}

int ReconnectAndWriteArea(cQVX& link, std::span<const uint8_t> image) {
    int r = link.Connect();
    int endResult = kResultOk;
    if (r == kResultOk)
        r = link.WriteApplicationAreaConnected(image, endResult);
    return r != kResultOk ? r : endResult;
}

double SecondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

class SimLink : public ::testing::Test {
protected:
    // Starts the machine and opens the line as OpenSelectedPort does.
    void Start(SimOptions options = {}) {
        options.announce = false;
        sim = std::make_unique<SimMachine>(options);
        device = sim->Start();
        ASSERT_FALSE(device.empty()) << sim->LastError();
        ASSERT_EQ(port.Open(device, 9600), 1) << port.LastError();
        port.SetRts(false);
        port.SetDtr(false);
        link = std::make_unique<cQVX_18>(&port, KELVANE_BIN_DIR "/");
    }
    void TearDown() override {
        link.reset();
        port.Close();
        if (sim)
            sim->Stop();
    }

    std::unique_ptr<SimMachine> sim;
    std::string device;
    SerialPort port;
    std::unique_ptr<cQVX_18> link;
};

TEST_F(SimLink, ReadAtTheHighSpeed) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(link->Connect(), kResultOk);
    Block block{};
    ASSERT_EQ(link->ReadParameterBlock(block), kResultOk);
    EXPECT_EQ(block, sim->ParameterImage());
    uint32_t counter = 0;
    ASSERT_EQ(link->ReadFasteningCounter(counter), kResultOk);
    EXPECT_EQ(counter, 1234u);
    EXPECT_EQ(link->GetMemorySize(), sim->MemorySize());
    EXPECT_EQ(link->AreaEnd(), sim->FlashEnd());
    EXPECT_EQ(link->EmulationStart(), sim->EmulationStart());
    EXPECT_EQ(link->EmulationLength(), sim->EmulationLength());
    auto c = sim->Counters();
    EXPECT_EQ(c.speedSwitches, 1u);
    EXPECT_EQ(c.loaderDownloads, 1u);
    EXPECT_EQ(c.wrongSpeedBytes, 0u);
    EXPECT_EQ(c.refusals, 0u);
}

TEST_F(SimLink, SlowLineOffsetBlockAndSmallMemory) {
    SimOptions o;
    o.wakeupN = 40;
    o.blockOffset = 64;
    o.memorySizeCode = 0x21000;
    o.descriptorPointer = 0; // descriptor at the pointer word itself, read as 0x00 0xFC
    o.emulationStart = 0x1001FC00;
    ASSERT_NO_FATAL_FAILURE(Start(o));
    ASSERT_EQ(link->Connect(), kResultOk);
    EXPECT_EQ(link->BlockOffset(), 64);
    EXPECT_EQ(link->GetMemorySize(), 0x20000u);
    EXPECT_EQ(link->EmulationStart(), 0x1001FC00u);
    EXPECT_EQ(link->EmulationStart(), sim->EmulationStart());
    Block block{};
    ASSERT_EQ(link->ReadParameterBlock(block), kResultOk);
    EXPECT_EQ(block, sim->ParameterImage());
    // 4099 bytes take 2.1 s at 19200 baud: longer than one receive window, still read.
    uint32_t counter = 0;
    EXPECT_EQ(link->ReadFasteningCounter(counter), kResultOk);
    EXPECT_EQ(counter, 1234u);
    auto c = sim->Counters();
    EXPECT_EQ(c.speedSwitches, 0u);
    EXPECT_EQ(c.byBaud.count(230400), 0u);
    EXPECT_EQ(c.wrongSpeedBytes, 0u);
}

TEST_F(SimLink, WrongWakeupAnswerKeepsTheSlowLine) {
    SimOptions o;
    o.fault = SimFault::BadWakeup;
    ASSERT_NO_FATAL_FAILURE(Start(o));
    ASSERT_EQ(link->Connect(), kResultOk);
    Block block{};
    ASSERT_EQ(link->ReadParameterBlock(block), kResultOk);
    EXPECT_EQ(block, sim->ParameterImage());
    EXPECT_EQ(sim->Counters().speedSwitches, 0u);
}

TEST_F(SimLink, WriteReconnectsAndChangesOnlyTheBlock) {
    SimOptions o;
    o.blockOffset = 100;
    ASSERT_NO_FATAL_FAILURE(Start(o));
    ASSERT_EQ(link->Connect(), kResultOk);
    Block block{};
    ASSERT_EQ(link->ReadParameterBlock(block), kResultOk);
    const auto areaBefore = sim->Peek(0x10001100, 1024);
    // The port is closed and opened again between the read and the write, as a command does.
    port.Close();
    ASSERT_EQ(port.Open(device, 9600), 1);
    for (int i = 124; i < 414; ++i)
        block[i] = uint8_t(i * 13);
    ASSERT_EQ(ReconnectAndWriteBlock(*link, block), kResultOk);
    EXPECT_EQ(sim->ParameterImage(), block);
    const auto areaAfter = sim->Peek(0x10001100, 1024);
    for (int i = 0; i < 1024; ++i) {
        if (i < 100 || i >= 612) {
            ASSERT_EQ(areaAfter[i], areaBefore[i]) << i;
        }
    }
    auto c = sim->Counters();
    EXPECT_EQ(c.loaderDownloads, 2u);
    EXPECT_EQ(c.dataFrames, 4u);
    EXPECT_EQ(c.endFrames, 1u);
}

TEST_F(SimLink, ApplicationAreaAndDump) {
    SimOptions o;
    o.pacing = false; // 224 frames: at the line's speed this alone takes five seconds
    ASSERT_NO_FATAL_FAILURE(Start(o));
    ASSERT_EQ(link->Connect(), kResultOk);
    const uint32_t end = link->EmulationStart();
    std::vector<uint8_t> image(link->GetMemorySize(), 0);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t(i * 7 + (i >> 9));
    ASSERT_EQ(ReconnectAndWriteArea(*link, image), kResultOk);
    EXPECT_EQ(sim->Peek(0x10001000, end - 0x10001000),
              std::vector<uint8_t>(image.begin(), image.begin() + (end - 0x10001000)));

    char dir[] = "/tmp/kelvane-simdump-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string path = std::string(dir) + "/eeEmulationDump.bin";
    ASSERT_EQ(link->DumpEmulationArea(path), kResultOk);
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> dump((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(dump, sim->Peek(sim->EmulationStart(), sim->EmulationLength()));
    std::filesystem::remove_all(dir);
}

TEST_F(SimLink, FasteningCounterIsTheLargestTypeTenRecord) {
    ASSERT_NO_FATAL_FAILURE(Start());
    std::vector<uint8_t> area(sim->EmulationLength(), 0xFF);
    auto record = [&](size_t offset, uint8_t type, uint32_t value) {
        area[offset] = type;
        for (int i = 0; i < 4; ++i)
            area[offset + 4 + i] = uint8_t(value >> (8 * i));
    };
    record(0, 10, 60000); // the first record is never examined
    record(16, 10, 5);
    record(32, 9, 65000); // not a fastening record
    record(area.size() / 2, 10, 70000);
    record(area.size() - 16, 10, 3);
    ASSERT_TRUE(sim->Poke(sim->EmulationStart(), area));
    ASSERT_EQ(link->Connect(), kResultOk);
    uint32_t counter = 0;
    ASSERT_EQ(link->ReadFasteningCounter(counter), kResultOk);
    EXPECT_EQ(counter, 70000u % 65535u);
    EXPECT_EQ(std::vector<uint8_t>(link->EmulationArea().begin(), link->EmulationArea().end()),
              area);
}

TEST_F(SimLink, BlockOffsetPastHalfTheAreaIsRefusedBeforeAnyTransfer) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(sim->Poke(0x10001100, {0x02, 0x01}));
    ASSERT_EQ(link->Connect(), kResultOk);
    EXPECT_EQ(link->BlockOffset(), 513);
    const auto before = sim->Counters();
    Block untouched;
    untouched.fill(0xEE);
    Block block = untouched;
    EXPECT_EQ(link->ReadParameterBlock(block), kResultRefused);
    EXPECT_EQ(block, untouched);
    int endResult = kResultOk;
    EXPECT_EQ(link->WriteBlockArea(block, endResult), kResultRefused);
    const auto after = sim->Counters();
    EXPECT_EQ(after.readCommands, before.readCommands);
    EXPECT_EQ(after.writeCommands, 0u);
    EXPECT_EQ(after.dataFrames, 0u);
}

// Each fault gives its result code, within the receive window, and leaves the destination or
// the machine untouched.
struct Fault {
    const char* what;
    SimFault mode;
    unsigned skip;
    std::optional<uint32_t> address;
    enum Step { Connect, Read, Counter, Write } step;
    int result;
};

void PrintTo(const Fault& f, std::ostream* os) {
    *os << f.what;
}

class SimFaults : public SimLink, public ::testing::WithParamInterface<Fault> {};

TEST_P(SimFaults, EndInTheirResultCode) {
    const Fault& f = GetParam();
    SimOptions o;
    o.emulationStart = 0x1000E000;
    if (f.step != Fault::Write) {
        o.fault = f.mode;
        o.faultSkip = f.skip;
        o.faultAddress = f.address;
    }
    ASSERT_NO_FATAL_FAILURE(Start(o));
    const Block original = sim->ParameterImage();
    Block block;
    block.fill(0xEE);
    int result = kResultOk;
    double seconds = 0;
    auto timed = [&](auto fn) {
        auto t0 = Clock::now();
        result = fn();
        seconds = SecondsSince(t0);
    };
    if (f.step == Fault::Connect) {
        timed([&] { return link->Connect(); });
        EXPECT_EQ(sim->Counters().dataFrames, 0u);
    } else {
        ASSERT_EQ(link->Connect(), kResultOk);
        if (f.step == Fault::Read) {
            timed([&] { return link->ReadParameterBlock(block); });
            EXPECT_EQ(block[0], 0xEE);
            EXPECT_EQ(block[511], 0xEE);
        } else if (f.step == Fault::Counter) {
            uint32_t counter = 77;
            timed([&] { return link->ReadFasteningCounter(counter); });
            EXPECT_EQ(counter, 77u);
        } else {
            ASSERT_EQ(link->ReadParameterBlock(block), kResultOk);
            sim->SetFault(f.mode, f.skip, f.address);
            Block changed = block;
            changed[200] ^= 0xFF;
            timed([&] { return ReconnectAndWriteBlock(*link, changed); });
        }
    }
    EXPECT_EQ(result, f.result);
    // One receive window (under 2 s) after the prescribed waits, never a hang.
    EXPECT_LT(seconds, f.step == Fault::Write ? 4.0 : 3.0);
    if (f.step == Fault::Write && f.mode != SimFault::HangupInWrite) {
        EXPECT_EQ(sim->ParameterImage(), original);
    }
    // A failed block write stops at once: no end frame makes the machine take it.
    if (f.step == Fault::Write) {
        EXPECT_EQ(sim->Counters().endFrames, 0u);
    }
}

const Fault kFaults[] = {
    {"silent", SimFault::Silent, 0, {}, Fault::Connect, kResultTimeout},
    {"refused read of the layout", SimFault::RefuseCommand, 0, {}, Fault::Connect, kResultRefused},
    {"bad check byte in the layout", SimFault::BadChecksum, 0, {}, Fault::Connect, kResultChecksum},
    {"refused block read", SimFault::RefuseCommand, 1, 0x10001100u, Fault::Read, kResultRefused},
    {"bad check byte in the block", SimFault::BadChecksum, 1, 0x10001100u, Fault::Read,
     kResultChecksum},
    {"bytes lost in the block", SimFault::LoseBytes, 1, 0x10001100u, Fault::Read, kResultTimeout},
    {"bytes lost in the emulation area", SimFault::LoseBytes, 0, 0x1000E000u, Fault::Counter,
     kResultTimeout},
    {"refused begin-write", SimFault::RefuseCommand, 0, 0x10001100u, Fault::Write, kResultRefused},
    {"refused data frame", SimFault::RefuseData, 0, {}, Fault::Write, kResultRefused},
    {"silent on reconnect", SimFault::Silent, 0, {}, Fault::Write, kResultTimeout},
    {"line gone mid-write", SimFault::HangupInWrite, 2, {}, Fault::Write, kResultTimeout},
};

INSTANTIATE_TEST_SUITE_P(Link, SimFaults, ::testing::ValuesIn(kFaults), [](const auto& info) {
    std::string n = info.param.what;
    for (auto& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return n;
});

TEST(SimDiscovery, AnnouncedMachineIsListedAndOpened) {
    SimOptions o;
    o.pacing = false;
    o.serial = "NORKSIM1";
    SimMachine sim(o);
    std::string device = sim.Start();
    ASSERT_FALSE(device.empty()) << sim.LastError();
    ASSERT_FALSE(sim.AnnouncementPath().empty());

    bool found = false;
    for (const auto& a : ListAdapters())
        found = found || (a.devicePath == device && a.serialNumber == "NORKSIM1");
    EXPECT_TRUE(found);

    // Only our machines in the list: pick ours and open it as a command does.
    PortSelection sel([&] {
        return std::vector<AdapterRecord>{{"FT000001", "/dev/kelvane-none"}, {"NORKSIM1", device}};
    });
    sel.SetReportCount(false);
    ASSERT_TRUE(sel.DiscoverAdapters());
    ASSERT_EQ(sel.Ports(), std::vector<std::string>{device});
    SerialPort port;
    ASSERT_EQ(sel.OpenSelectedPort(port), kResultOk);
    cQVX_18 link(&port, KELVANE_BIN_DIR "/");
    EXPECT_EQ(link.Connect(), kResultOk);
    port.Close();

    sim.Stop();
    for (const auto& a : ListAdapters())
        EXPECT_NE(a.devicePath, device);
}

} // namespace
