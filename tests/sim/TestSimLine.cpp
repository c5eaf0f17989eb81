// The simulated line: machines one after another on one pseudo-terminal, read and written
// through the real link.
#include "link/QVX.h"
#include "link/ResultCodes.h"
#include "link/SerialPort.h"
#include "model/ParameterBlock.h"
#include "sim/SimMachine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Block = std::array<uint8_t, 512>;

std::string SerialOf(const Block& b) {
    std::string s(reinterpret_cast<const char*>(b.data()) + ParameterBlock::kOffSerialNr,
                  ParameterBlock::kLenSerialNr);
    return s.substr(0, s.find('\0'));
}

std::string TypeOf(const Block& b) {
    std::string s(reinterpret_cast<const char*>(b.data()) + ParameterBlock::kOffMachineType,
                  ParameterBlock::kLenMachineType);
    return s.substr(0, s.find_last_not_of(' ') + 1);
}

class SimLine : public ::testing::Test {
protected:
    void Start(unsigned machines, std::string stateDir = {}) {
        options.announce = false;
        options.pacing = false;
        options.machines = machines;
        options.lineGap = 300ms;
        options.stateDir = std::move(stateDir);
        sim = std::make_unique<SimMachine>(options);
        device = sim->Start();
        ASSERT_FALSE(device.empty()) << sim->LastError();
    }
    // One command as the program runs it: open, connect, read, optionally write, close.
    int Command(Block& read, const Block* write = nullptr) {
        SerialPort port;
        if (port.Open(device, 9600) != 1)
            return -1;
        cQVX_18 link(&port, KELVANE_BIN_DIR "/");
        int r = link.Connect();
        if (r == kResultOk)
            r = link.ReadParameterBlock(read);
        if (r == kResultOk && write) {
            int end = kResultOk;
            r = link.WriteBlockArea(*write, end);
        }
        port.Close();
        return r;
    }
    void TearDown() override {
        if (sim)
            sim->Stop();
        if (!tempDir.empty())
            std::filesystem::remove_all(tempDir);
    }
    std::string TempDir() {
        char tmpl[] = "/tmp/kelvane-line-test-XXXXXX";
        tempDir = ::mkdtemp(tmpl) ? tmpl : "";
        return tempDir;
    }

    SimOptions options;
    std::unique_ptr<SimMachine> sim;
    std::string device, tempDir;
};

TEST_F(SimLine, MachinesFollowEachOtherAfterTheGapAndTheLineEndsEmpty) {
    ASSERT_NO_FATAL_FAILURE(Start(3));
    // Untouched, the first machine stays however long the line is quiet.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(sim->LineMachine(), 1u);
    for (unsigned k = 1; k <= 3; ++k) {
        Block b{};
        ASSERT_EQ(Command(b), kResultOk) << "machine " << k;
        EXPECT_EQ(SerialOf(b), "SIM000000" + std::to_string(k));
        EXPECT_EQ(TypeOf(b), "TVX18-4200");
        // A pause shorter than the gap (as between a command's steps) keeps the machine.
        std::this_thread::sleep_for(100ms);
        ASSERT_EQ(Command(b), kResultOk);
        EXPECT_EQ(SerialOf(b), "SIM000000" + std::to_string(k));
        std::this_thread::sleep_for(500ms);
    }
    EXPECT_EQ(sim->LineMachine(), 0u);
    Block none{};
    EXPECT_NE(Command(none), kResultOk) << "no machine answers after the last";
    EXPECT_EQ(sim->LineImage(2).value_or(Block{}).at(ParameterBlock::kOffSerialNr + 9), '2');
}

TEST_F(SimLine, EachMachineKeepsItsOwnMemory) {
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    Block other = SimMachine::DefaultImage();
    std::memcpy(other.data() + ParameterBlock::kOffMachineType, "TVX10-2200      ", 16);
    options.lineImages[2] = other;
    ASSERT_NO_FATAL_FAILURE(Start(3, dir));

    Block b{};
    ASSERT_EQ(Command(b), kResultOk);
    Block written = b;
    written[ParameterBlock::kOffPlace] = 'X';
    Block again{};
    ASSERT_EQ(Command(again, &written), kResultOk);
    ASSERT_TRUE(sim->PlugNextMachine());
    ASSERT_EQ(Command(b), kResultOk);
    EXPECT_EQ(TypeOf(b), "TVX10-2200") << "machine 2 is the one given";
    EXPECT_EQ(b[ParameterBlock::kOffPlace], 0) << "machine 1's write stays with machine 1";
    EXPECT_EQ(sim->LineImage(1)->at(ParameterBlock::kOffPlace), 'X');
    sim->Stop();

    // Started again on the same folder the line begins with machine 1 as it was left.
    sim = std::make_unique<SimMachine>(options);
    device = sim->Start();
    ASSERT_FALSE(device.empty()) << sim->LastError();
    ASSERT_EQ(Command(b), kResultOk);
    EXPECT_EQ(SerialOf(b), "SIM0000001");
    EXPECT_EQ(b[ParameterBlock::kOffPlace], 'X');
    EXPECT_TRUE(std::filesystem::exists(dir + "/machine-1/memory.bin"));
}

} // namespace
