// The supervisor link end to end: the real serial port on the simulated machine's
// pseudo-terminal, its supervisor's boot loader behind it.
#include "link/ResultCodes.h"
#include "link/STM.h"
#include "link/SerialPort.h"
#include "sim/SimFirmware.h"
#include "sim/SimMachine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// Records what the link shows.
struct Shown : ILinkStatusBar, ILinkProgress {
    void SetStatusText(const std::string& text) override { texts.push_back(text); }
    void ShowProgress(bool on) override { visible = on; }
    void SetProgress(int percent) override { progress.push_back(percent); }
    std::vector<std::string> texts;
    std::vector<int> progress;
    bool visible = false;
};

// The real port with one line setting made to fail, as on an adapter that lost its driver.
class FailingLinePort : public ISerialPort {
public:
    explicit FailingLinePort(ISerialPort& real) : real(real) {}
    bool failRts = false, failDtr = false, failBaud = false;

    int Open(const std::string& d, int b) override { return real.Open(d, b); }
    int Close() override { return real.Close(); }
    bool IsOpen() const override { return real.IsOpen(); }
    bool SetBaudRate(int b) override { return !failBaud && real.SetBaudRate(b); }
    int SetRts(bool on) override { return failRts ? 0 : real.SetRts(on); }
    int SetDtr(bool on) override { return failDtr ? 0 : real.SetDtr(on); }
    int Write(const uint8_t* d, size_t n) override { return real.Write(d, n); }
    int WriteByte(uint8_t b) override { return real.WriteByte(b); }
    int Read(uint8_t* b, size_t n) override { return real.Read(b, n); }
    void Flush() override { real.Flush(); }
    bool WaitReadable(Clock::time_point d) override { return real.WaitReadable(d); }

private:
    ISerialPort& real;
};

class StmLink : public ::testing::Test {
protected:
    void Start(SimFault fault = SimFault::None, std::string stateDir = {}) {
        port.Close();
        if (sim)
            sim->Stop();
        SimOptions o;
        o.announce = false;
        o.pacing = false;
        o.fault = fault;
        o.stateDir = std::move(stateDir);
        sim = std::make_unique<SimMachine>(o);
        device = sim->Start();
        ASSERT_FALSE(device.empty()) << sim->LastError();
        ASSERT_EQ(port.Open(device, cSTM::kTriggerBaud), 1) << port.LastError();
        port.SetRts(false);
        port.SetDtr(false);
    }
    // The fixed waits give a real supervisor time to start; the simulated one needs none.
    std::unique_ptr<cSTM> Link(ISerialPort* on = nullptr) {
        auto stm = std::make_unique<cSTM>(on ? on : &port);
        stm->SetPauseFunction([](int) {});
        stm->SetMessageFunction([this](const std::string& t) { messages.push_back(t); });
        stm->SetStatusTargets(&shown, &shown);
        return stm;
    }
    void TearDown() override {
        port.Close();
        if (sim)
            sim->Stop();
    }

    std::unique_ptr<SimMachine> sim;
    std::string device;
    SerialPort port;
    Shown shown;
    std::vector<std::string> messages;
};

TEST(StmRecords, TextRecordAndEndStatus) {
    const uint8_t data[] = {0x01, 0x02};
    // 02 + 40 + 00 + 0A + 01 + 02 = 0x4F; its two's complement is 0xB1.
    EXPECT_EQ(cSTM::TextRecord(0x4000, 0x0A, data, 2), ":0240000A0102B1");
    const uint8_t high[] = {0xFF};
    EXPECT_EQ(cSTM::TextRecord(0x9FC0, 0x00, high, 1), ":019FC000FFA1");

    const std::pair<char, int> statuses[] = {{'0', kResultOk},       {'1', kResultPortOpenFailed},
                                             {'2', kResultChecksum}, {'3', kResultChecksum},
                                             {'4', kResultTimeout},  {'x', kResultPortOpenFailed}};
    for (auto [status, result] : statuses)
        EXPECT_EQ(cSTM::EndStatusResult(uint8_t(status)), result) << status;
}

TEST_F(StmLink, TriggerThenEepromRead) {
    ASSERT_NO_FATAL_FAILURE(Start());
    auto stm = Link();
    ASSERT_EQ(stm->Trigger(), kResultOk);
    EXPECT_EQ(sim->SupervisorCounters().triggers, 1u);
    cSTM::Eeprom eeprom;
    eeprom.fill(0x55);
    ASSERT_EQ(stm->ReadSupervisorEeprom(eeprom), kResultOk);
    EXPECT_EQ(eeprom, sim->SupervisorEeprom());
    EXPECT_EQ(cSTM::SupervisorVersion(eeprom), SimSupervisor::kDefaultVersion);
    EXPECT_EQ(shown.texts, (std::vector<std::string>{"Übertragung von Maschine", ""}));
    ASSERT_FALSE(shown.progress.empty());
    EXPECT_LE(shown.progress.back(), 100);
    EXPECT_FALSE(shown.visible);
    EXPECT_TRUE(messages.empty());
    // Nothing reached the main controller.
    EXPECT_EQ(sim->Counters().wakeups, 0u);
}

TEST_F(StmLink, ProgramReplacesBothImagesWithEveryPauseKept) {
    char dir[] = "/tmp/kelvane-supv-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    ASSERT_NO_FATAL_FAILURE(Start(SimFault::None, dir));
    const auto eeprom = SimSupervisorEepromImage(0x00010007);
    const auto program = SimSupervisorProgram(0x00010007);
    auto stm = Link();
    ASSERT_EQ(stm->Program(eeprom, program), kResultOk);
    EXPECT_EQ(sim->SupervisorEeprom(), eeprom);
    EXPECT_EQ(sim->SupervisorProgram(), program);
    const SimSupervisorCounters c = sim->SupervisorCounters();
    EXPECT_EQ(c.records, 2u + 128u);
    EXPECT_EQ(c.badRecords, 0u);
    EXPECT_EQ(c.shortPauses, 0u);
    EXPECT_EQ(c.programmed, 1u);
    EXPECT_FALSE(shown.visible);

    // The loader started the new program: on a line opened again, as the next command opens
    // it, the supervisor is triggered again and tells the new version.
    port.Close();
    ASSERT_EQ(port.Open(device, cSTM::kTriggerBaud), 1);
    ASSERT_EQ(stm->Trigger(), kResultOk);
    cSTM::Eeprom back{};
    ASSERT_EQ(stm->ReadSupervisorEeprom(back), kResultOk);
    EXPECT_EQ(cSTM::SupervisorVersion(back), 0x00010007u);

    // The machine keeps them when it is started again.
    ASSERT_NO_FATAL_FAILURE(Start(SimFault::None, dir));
    EXPECT_EQ(sim->SupervisorEeprom(), eeprom);
    EXPECT_EQ(sim->SupervisorProgram(), program);
    std::filesystem::remove_all(dir);
}

// What the loader checks is real: records sent without their pause are lost, broken records
// are check errors, and the loader says so at the end instead of taking a broken program.
TEST_F(StmLink, BrokenTransfersAreRefusedByTheLoader) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const auto before = sim->SupervisorProgram();
    const auto program = SimSupervisorProgram(9);
    struct Case {
        const char* what;
        std::function<void(cSTM&)> send;
        int result;
    } cases[] = {
        {"no pauses",
         [&](cSTM& stm) {
             stm.SendHexRecords(cSTM::kProgramAddress, program.data(), 1024, cSTM::kTypeProgram, 64,
                                1);
         },
         kResultPortOpenFailed},
        {"outside the program image",
         [&](cSTM& stm) {
             stm.SendHexRecords(0x7000, program.data(), 64, cSTM::kTypeProgram, 64, 20);
         },
         kResultChecksum},
        {"wrong check byte",
         [&](cSTM&) {
             std::string r = cSTM::TextRecord(cSTM::kProgramAddress, 0, program.data(), 64);
             r.back() = r.back() == '0' ? '1' : '0';
             port.Write(reinterpret_cast<const uint8_t*>(r.data()), r.size());
             // Its pause, so only the check byte is wrong.
             for (int i = 0; i < 300; ++i)
                 port.WriteByte('\r');
         },
         kResultChecksum},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        port.Close();
        ASSERT_EQ(port.Open(device, cSTM::kTriggerBaud), 1);
        auto stm = Link();
        ASSERT_EQ(stm->Trigger(), kResultOk);
        c.send(*stm);
        EXPECT_EQ(stm->SendEndRecord(), c.result);
        EXPECT_EQ(sim->SupervisorProgram(), before);
    }
    EXPECT_GT(sim->SupervisorCounters().shortPauses, 0u);
    EXPECT_EQ(sim->SupervisorCounters().badRecords, 2u);
    EXPECT_EQ(sim->SupervisorCounters().programmed, 0u);
}

struct SupvFaultCase {
    SimFault fault;
    int result;
    std::vector<std::string> messages;
    uint64_t records; // text records the loader took
};

void PrintTo(const SupvFaultCase& c, std::ostream* os) {
    *os << SimFaultName(c.fault);
}

class StmFaults : public StmLink, public ::testing::WithParamInterface<SupvFaultCase> {};

TEST_P(StmFaults, EndInTheirResultAndKeepTheImages) {
    const SupvFaultCase& f = GetParam();
    ASSERT_NO_FATAL_FAILURE(Start(f.fault));
    const auto eeprom = sim->SupervisorEeprom();
    const auto program = sim->SupervisorProgram();
    auto stm = Link();
    EXPECT_EQ(stm->Program(SimSupervisorEepromImage(5), SimSupervisorProgram(5)), f.result);
    EXPECT_EQ(messages, f.messages);
    EXPECT_EQ(sim->SupervisorCounters().records, f.records);
    EXPECT_EQ(sim->SupervisorCounters().programmed, 0u);
    EXPECT_EQ(sim->SupervisorEeprom(), eeprom);
    EXPECT_EQ(sim->SupervisorProgram(), program);
}

INSTANTIATE_TEST_SUITE_P(
    Supervisor, StmFaults,
    ::testing::Values(
        SupvFaultCase{SimFault::SupvWrongTrigger, kResultWrongTrigger, {"Wrong Trigger"}, 0},
        SupvFaultCase{SimFault::SupvSilent, kResultTimeout, {}, 0},
        SupvFaultCase{SimFault::SupvCheckError, kResultChecksum, {}, 130},
        SupvFaultCase{SimFault::SupvFailStatus, kResultPortOpenFailed, {}, 130}),
    [](const auto& info) {
        std::string n = SimFaultName(info.param.fault);
        std::erase(n, '-');
        return n;
    });

TEST_F(StmLink, EepromReadOfASilentLoaderTimesOut) {
    ASSERT_NO_FATAL_FAILURE(Start());
    auto stm = Link();
    // Not triggered: the loader does not listen, and the read ends after its 3 s.
    ASSERT_TRUE(port.SetBaudRate(cSTM::kLoaderBaud));
    cSTM::Eeprom eeprom;
    eeprom.fill(0x55);
    EXPECT_EQ(stm->ReadSupervisorEeprom(eeprom), kResultTimeout);
    EXPECT_EQ(eeprom, cSTM::Eeprom{});
    EXPECT_EQ(sim->SupervisorCounters().eepromReads, 0u);
    EXPECT_FALSE(shown.visible);
}

TEST_F(StmLink, FailingLineSettingIsALineError) {
    ASSERT_NO_FATAL_FAILURE(Start());
    for (int which = 0; which < 3; ++which) {
        SCOPED_TRACE(which);
        FailingLinePort failing(port);
        failing.failRts = which == 0;
        failing.failDtr = which == 1;
        failing.failBaud = which == 2;
        auto stm = Link(&failing);
        EXPECT_EQ(stm->Trigger(), kResultLineSetting);
        ASSERT_TRUE(port.SetBaudRate(cSTM::kTriggerBaud));
    }
    EXPECT_TRUE(messages.empty());
}

} // namespace
