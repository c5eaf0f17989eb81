// The link's bytes on the wire and its results, against a scripted machine without timing.
#include "link/QVX.h"
#include "link/ResultCodes.h"
#include "tests/link/FakeMachinePort.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

const std::string kDataFolder = KELVANE_SOURCE_DIR "/data/";

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

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> v;
    for (int b : list)
        v.push_back(uint8_t(b));
    return v;
}

class LinkFake : public ::testing::Test {
protected:
    void SetUp() override {
        machine.StandardLayout();
        for (int i = 0; i < 1024; ++i)
            if (i >= 2)
                machine.memory[0x10001100 + i] = uint8_t(i * 7);
    }
    cQVX_18& Link(const std::string& folder = kDataFolder) {
        link = std::make_unique<cQVX_18>(&machine, folder);
        link->SetPauseFunction([](int) {});
        return *link;
    }
    // Index of the first write of exactly these bytes, -1 if none.
    int Find(const std::vector<uint8_t>& bytes) const {
        for (size_t i = 0; i < machine.sent.size(); ++i)
            if (machine.sent[i].bytes == bytes)
                return int(i);
        return -1;
    }
    bool AnyWriteOfSize(size_t n) const {
        for (const auto& s : machine.sent)
            if (s.bytes.size() == n)
                return true;
        return false;
    }

    FakeMachinePort machine;
    std::unique_ptr<cQVX_18> link;
};

TEST_F(LinkFake, ConnectWakesSwitchesSpeedLoadsAndLearnsLayout) {
    ASSERT_EQ(Link().Connect(), kResultOk);
    EXPECT_TRUE(link->Connected());
    const auto& s = machine.sent;
    ASSERT_GE(s.size(), 6u);
    EXPECT_EQ(s[0].bytes, Bytes({0xFF}));
    EXPECT_EQ(s[0].baud, 19200);
    EXPECT_EQ(s[1].bytes, Bytes({0x00, 0xED}));
    EXPECT_EQ(s[2].bytes, Bytes({0x00, 0x2F})); // 12288 / 257 = 47
    EXPECT_EQ(s[2].baud, 19200);
    EXPECT_EQ(s[3].bytes, Bytes({0xF0}));
    EXPECT_EQ(s[3].baud, 230400);
    EXPECT_EQ(s[4].bytes, Bytes({0x00, 0x0A, 0x00, 0x00})); // loader size, LSB first

    std::ifstream in(kDataFolder + "BL.hex");
    ASSERT_TRUE(in);
    ASSERT_EQ(machine.loaderSize, 0xA00u);
    EXPECT_EQ(s[5].bytes.size(), 0xA00u);
    EXPECT_EQ(s[5].bytes[0], 0xBB); // first data byte of the committed loader
    EXPECT_EQ(s[5].baud, 230400);

    // The first read is the information block: command frame, address and length MSB first.
    EXPECT_EQ(s[6].bytes, Bytes({0x00, 0x04, 0x10, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x20, 0, 0,
                                 0, 0, 0, 0x04 ^ 0x10 ^ 0x0F ^ 0x20}));
    EXPECT_EQ(link->GetMemorySize(), 0x10000u);
    EXPECT_EQ(link->AreaEnd(), 0x10011000u);
    EXPECT_EQ(link->EmulationStart(), 0x1000F000u);
    EXPECT_EQ(link->EmulationLength(), 4096);
    EXPECT_EQ(link->BlockOffset(), 0);
    EXPECT_EQ(link->BlockAddress(), 0x10001100u);
}

// A write the line did not take ends the exchange at once, as a port failure the port can
// explain, never as the time-out of an answer to bytes that did not leave.
TEST_F(LinkFake, AShortWriteEndsTheExchangeAsAPortFailure) {
    ASSERT_EQ(Link().Connect(), kResultOk);
    std::array<uint8_t, 512> block;
    ASSERT_EQ(link->ReadParameterBlock(block), kResultOk);
    const size_t writes = machine.sent.size();
    for (size_t at = 0; at < writes; ++at) {
        SCOPED_TRACE(at);
        machine = FakeMachinePort();
        SetUp();
        machine.shortWriteAt = int(at);
        int r = Link().Connect();
        if (r == kResultOk)
            r = link->ReadParameterBlock(block);
        EXPECT_EQ(r, kResultPortFailed);
        EXPECT_EQ(machine.sent.size(), at + 1); // nothing more after the short write
    }
}

TEST_F(LinkFake, WakeupAnswersThatKeepTheLineSlow) {
    struct Case {
        const char* what;
        uint8_t first;
        uint16_t n;
    } cases[] = {{"n = 40", 0xA2, 40}, {"first byte not 0xA2", 0x55, 256}, {"n = 0", 0xA2, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        machine = FakeMachinePort();
        machine.StandardLayout();
        machine.wakeupFirst = c.first;
        machine.wakeupN = c.n;
        ASSERT_EQ(Link().Connect(), kResultOk);
        for (const auto& s : machine.sent)
            EXPECT_EQ(s.baud, 19200);
        EXPECT_EQ(Find({0xF0}), -1);
        EXPECT_EQ(machine.sent[2].bytes, Bytes({0x00, 0x0A, 0x00, 0x00}));
    }
}

TEST_F(LinkFake, SilentWakeupTimesOutAndSendsNoLoader) {
    machine.answerWakeup = false;
    EXPECT_EQ(Link().Connect(), kResultTimeout);
    EXPECT_FALSE(link->Connected());
    EXPECT_FALSE(AnyWriteOfSize(4));
    EXPECT_EQ(machine.sent.size(), 2u);
}

TEST_F(LinkFake, UnusableLoaderIsRefusedBeforeAnythingIsSent) {
    char dir[] = "/tmp/kelvane-link-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string folder = std::string(dir) + "/";
    struct Case {
        const char* what;
        const char* text; // nullptr: no file
    } cases[] = {
        {"missing", nullptr},
        {"malformed", ":10020000GG\n"},
        {"outside the window", ":020000042000DA\n:01000000AA55\n:00000001FF\n"},
        {"no data", ":00000001FF\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove((folder + "BL.hex").c_str());
        if (c.text)
            std::ofstream(folder + "BL.hex") << c.text;
        machine = FakeMachinePort();
        machine.StandardLayout();
        EXPECT_EQ(Link(folder).Connect(), kResultRefused);
        EXPECT_FALSE(AnyWriteOfSize(4));
    }
    std::remove((folder + "BL.hex").c_str());
    rmdir(dir);
}

TEST_F(LinkFake, LoaderRefusals) {
    machine.loaderAck = 0x00;
    EXPECT_EQ(Link().Connect(), kResultRefused);
    EXPECT_FALSE(AnyWriteOfSize(0xA00)); // the image is not sent after a refused size
}

TEST_F(LinkFake, MemorySizeCodes) {
    const std::pair<uint32_t, uint32_t> table[] = {{0x3000, 0x2000},   {0x5000, 0x4000},
                                                   {0x9000, 0x8000},   {0x11000, 0x10000},
                                                   {0x21000, 0x20000}, {0x33000, 0x32000}};
    for (auto [code, size] : table)
        EXPECT_EQ(cQVX_18::MemorySizeForCode(code, 7), size) << std::hex << code;
    EXPECT_EQ(cQVX_18::MemorySizeForCode(0x12345, 7), 7u);

    machine.PutLe32(0x10000F00 + 24, 0x4711);
    ASSERT_EQ(Link().Connect(), kResultOk);
    EXPECT_EQ(link->GetMemorySize(), 0u); // unknown code: a new link keeps 0
}

TEST_F(LinkFake, DescriptorPointerFCMeansThePointerWordItself) {
    machine.Put(0x10010E00, {0x00, 0xFC, 0x00, 0x10, 0x00, 0x02}); // start 0x1000FC00, 512
    ASSERT_EQ(Link().Connect(), kResultOk);
    EXPECT_EQ(link->EmulationStart(), 0x1000FC00u);
    EXPECT_EQ(link->EmulationLength(), 512);
}

TEST_F(LinkFake, BlockOffsets) {
    struct Case {
        uint8_t b0, b1;
        int result;
        uint16_t offset;
    } cases[] = {{0x20, 0x01, kResultOk, 0},
                 {0x00, 0x40, kResultOk, 64},
                 {0x02, 0x00, kResultOk, 512},
                 {0x02, 0x01, kResultRefused, 513},
                 {0xFF, 0xFF, kResultRefused, 0xFFFF}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.offset));
        machine = FakeMachinePort();
        machine.StandardLayout();
        for (int i = 2; i < 1024; ++i)
            machine.memory[0x10001100 + i] = uint8_t(i * 7);
        machine.Put(0x10001100, {c.b0, c.b1});
        ASSERT_EQ(Link().Connect(), kResultOk);
        EXPECT_EQ(link->BlockOffset(), c.offset);
        std::array<uint8_t, 512> block;
        block.fill(0xEE);
        EXPECT_EQ(link->ReadParameterBlock(block), c.result);
        if (c.result == kResultOk) {
            for (int i = 0; i < 512; ++i)
                ASSERT_EQ(block[i], machine.At(0x10001100 + c.offset + i)) << i;
        } else {
            EXPECT_EQ(block[0], 0xEE);
        }
    }
}

TEST_F(LinkFake, WrongCheckByteCopiesNothing) {
    ASSERT_EQ(Link().Connect(), kResultOk);
    machine.corruptReplies = true;
    std::array<uint8_t, 512> block;
    block.fill(0xEE);
    EXPECT_EQ(link->ReadParameterBlock(block), kResultChecksum);
    EXPECT_EQ(block[100], 0xEE);
    uint32_t counter = 99;
    EXPECT_EQ(link->ReadFasteningCounter(counter), kResultChecksum);
    EXPECT_EQ(counter, 99u);
}

TEST(FasteningCounter, LargestTypeTenRecordModulo65535) {
    std::vector<uint8_t> area(4096, 0xFF);
    auto record = [&](size_t index, uint8_t type, uint32_t value) {
        uint8_t* r = area.data() + index * 16;
        r[0] = type;
        r[4] = uint8_t(value);
        r[5] = uint8_t(value >> 8);
        r[6] = uint8_t(value >> 16);
        r[7] = uint8_t(value >> 24);
    };
    EXPECT_EQ(cQVX_18::FindFasteningCounter(area), 0u);
    record(0, 10, 60000); // the first record is not examined
    record(3, 10, 5);
    record(100, 10, 70000);
    record(255, 10, 3);
    record(7, 11, 9000); // another record type
    EXPECT_EQ(cQVX_18::FindFasteningCounter(area), 4465u);
    EXPECT_EQ(cQVX_18::FindFasteningCounter(std::span<const uint8_t>(area.data(), 15)), 0u);
    EXPECT_EQ(cQVX_18::FindFasteningCounter(std::span<const uint8_t>(area.data(), 16)), 0u);
}

TEST_F(LinkFake, FasteningCounterFromTheEmulationArea) {
    machine.Put(0x1000F000 + 16 * 9, {10, 0, 0, 0, 0x39, 0x30, 0, 0}); // 12345
    ASSERT_EQ(Link().Connect(), kResultOk);
    uint32_t counter = 0;
    ASSERT_EQ(link->ReadFasteningCounter(counter), kResultOk);
    EXPECT_EQ(counter, 12345u);
    EXPECT_EQ(machine.readAddresses.back(), 0x1000F000u);
    EXPECT_EQ(link->EmulationArea().size(), 4096u);
}

class LinkWrite : public LinkFake {
protected:
    void SetUp() override {
        LinkFake::SetUp();
        machine.Put(0x10001100, {0x00, 0x40});
        ASSERT_EQ(Link().Connect(), kResultOk);
        std::array<uint8_t, 512> block;
        ASSERT_EQ(link->ReadParameterBlock(block), kResultOk);
        for (int i = 0; i < 512; ++i)
            source[i] = uint8_t(255 - i % 251);
        machine.sent.clear();
    }
    std::array<uint8_t, 512> source;
};

TEST_F(LinkWrite, WholeBlockAreaGoesBackWithTheBlockAtItsOffset) {
    ASSERT_EQ(ReconnectAndWriteBlock(*link, source), kResultOk);
    EXPECT_EQ(machine.sent[0].bytes, Bytes({0xFF})); // reconnects first
    int begin =
        Find(Bytes({0x00, 0x00, 0x10, 0x00, 0x11, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10 ^ 0x11}));
    ASSERT_GE(begin, 0);
    ASSERT_EQ(machine.dataFrames.size(), 4u);
    std::vector<uint8_t> area;
    for (const auto& f : machine.dataFrames) {
        EXPECT_EQ(f[0], 0x01);
        EXPECT_EQ(f[1], 0x01);
        uint8_t x = 0;
        for (int i = 1; i <= 262; ++i)
            x ^= f[i];
        EXPECT_EQ(f[263], x);
        for (int i = 258; i <= 262; ++i)
            EXPECT_EQ(f[i], 0);
        area.insert(area.end(), f.begin() + 2, f.begin() + 258);
    }
    for (int i = 0; i < 1024; ++i) {
        uint8_t want = (i >= 64 && i < 576) ? source[i - 64] : machine.At(0x10001100 + i);
        ASSERT_EQ(area[i], want) << i;
    }
    EXPECT_EQ(machine.sent.back().bytes, Bytes({2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(LinkWrite, FailuresOfTheWrite) {
    struct Case {
        const char* what;
        void (*setup)(FakeMachinePort&);
        int result;
        size_t dataFrames;
        int endFrames;
    } cases[] = {
        {"end frame refused", [](FakeMachinePort& m) { m.endAck = 'N'; }, kResultRefused, 4, 1},
        {"end frame unanswered", [](FakeMachinePort& m) { m.answerEnd = false; }, kResultTimeout, 4,
         1},
        {"data frame refused", [](FakeMachinePort& m) { m.dataAck = 'N'; }, kResultRefused, 1, 0},
        {"begin-write refused", [](FakeMachinePort& m) { m.commandAck = 'N'; }, kResultRefused, 0,
         0},
        {"reconnect silent", [](FakeMachinePort& m) { m.answerWakeup = false; }, kResultTimeout, 0,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.setup(machine);
        EXPECT_EQ(ReconnectAndWriteBlock(*link, source), c.result);
        EXPECT_EQ(machine.dataFrames.size(), c.dataFrames);
        EXPECT_EQ(machine.endFrames, c.endFrames);
        machine = FakeMachinePort();
    }
}

TEST_F(LinkFake, WriteWithoutReadSendsNothing) {
    ASSERT_EQ(Link().Connect(), kResultOk);
    machine.sent.clear();
    std::array<uint8_t, 512> source{};
    int endResult = kResultOk;
    EXPECT_EQ(link->WriteBlockArea(source, endResult), kResultRefused);
    EXPECT_TRUE(machine.sent.empty());
}

struct Status : ILinkStatusBar, ILinkProgress {
    std::vector<std::string> texts;
    std::vector<int> positions;
    std::vector<bool> shown;
    void SetStatusText(const std::string& t) override { texts.push_back(t); }
    void ShowProgress(bool v) override { shown.push_back(v); }
    void SetProgress(int p) override { positions.push_back(p); }
};

TEST_F(LinkFake, ApplicationAreaUpToTheEmulationStart) {
    ASSERT_EQ(Link().Connect(), kResultOk);
    Status status;
    link->SetStatusTargets(&status, &status);
    std::vector<uint8_t> image(0x10000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t(i ^ (i >> 8));
    ASSERT_EQ(ReconnectAndWriteArea(*link, image), kResultOk);
    ASSERT_EQ(machine.dataFrames.size(), 0xE000u / 256);
    EXPECT_TRUE(std::equal(machine.dataFrames[5].begin() + 2, machine.dataFrames[5].begin() + 258,
                           image.begin() + 5 * 256));
    EXPECT_EQ(machine.endFrames, 1);
    EXPECT_EQ(status.texts, (std::vector<std::string>{"Übertragung zur Maschine", ""}));
    EXPECT_EQ(status.shown, (std::vector<bool>{true, false}));
    EXPECT_EQ(status.positions.front(), 0);
    EXPECT_EQ(status.positions.back(), 100);
}

TEST_F(LinkFake, ApplicationAreaFailures) {
    ASSERT_EQ(Link().Connect(), kResultOk);
    std::vector<uint8_t> image(0x10000, 0x5A);

    // An image shorter than the area is refused before the machine is asked to write.
    EXPECT_EQ(ReconnectAndWriteArea(*link, std::span<const uint8_t>(image.data(), 0x1000)),
              kResultRefused);
    EXPECT_TRUE(machine.dataFrames.empty());

    // A refused data frame ends the loop; the end frame is still sent.
    machine.dataAck = 'X';
    EXPECT_EQ(ReconnectAndWriteArea(*link, image), kResultRefused);
    EXPECT_EQ(machine.dataFrames.size(), 1u);
    EXPECT_EQ(machine.endFrames, 1);

    // Every frame taken but the end frame refused: not a success.
    machine.dataAck = 'U';
    machine.endAck = 'N';
    EXPECT_EQ(ReconnectAndWriteArea(*link, image), kResultRefused);
}

TEST_F(LinkFake, DumpOfTheEmulationArea) {
    machine.Put(0x1000F000, {1, 2, 3});
    ASSERT_EQ(Link().Connect(), kResultOk);
    char dir[] = "/tmp/kelvane-dump-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string path = std::string(dir) + "/eeEmulationDump.bin";
    ASSERT_EQ(link->DumpEmulationArea(path), kResultOk);
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> got((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(got.size(), 4096u);
    EXPECT_EQ(got[0], 1);
    EXPECT_EQ(got[2], 3);
    EXPECT_EQ(got[3], 0xFF);
    // A dump that cannot be written is a failure.
    EXPECT_EQ(link->DumpEmulationArea(std::string(dir) + "/missing/dump.bin"),
              kResultFileNotWritten);
    std::remove(path.c_str());
    rmdir(dir);
}

} // namespace
