// firmware, supervisor and dump, run as a technician runs them, against the simulated machine
// on a pseudo-terminal.
#include "files/FirmwareFile.h"
#include "link/STM.h"
#include "sim/SimFirmware.h"
#include "sim/SimMachine.h"
#include "tests/cli/CliRun.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string Bytes(const std::vector<uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

const fs::path kFirmware = fs::path(KELVANE_BIN_DIR) / "firmware";
const std::string kMainFile = (kFirmware / "TVX18-4200_V04.03.000.bin").string();
const std::string kSupvFile = (kFirmware / "SUPV" / "SUPV_V01.00.03.bin").string();

class CliFirmware : public ::testing::Test {
public:
    void SetUp() override { Start(SimFault::None); }
    void TearDown() override {
        if (sim)
            sim->Stop();
    }
    void Start(SimFault fault) {
        if (sim)
            sim->Stop();
        SimOptions o;
        o.pacing = false;
        o.announce = false;
        o.fault = fault;
        sim = std::make_unique<SimMachine>(o);
        device = sim->Start();
        ASSERT_FALSE(device.empty()) << sim->LastError();
    }
    // kelvane-cli COMMAND --port <machine> ARGS, in a private home.
    CliResult Run(const std::string& command, std::vector<std::string> args) {
        args.insert(args.begin(), {command, "--port", device});
        return RunCli(args, tmp.UserEnv(), 60000);
    }
    std::string File(const std::string& name) const { return (tmp.path() / name).string(); }
    std::string SwVersion() const {
        ParameterBlock b;
        b.bytes = sim->ParameterImage();
        return b.SwVersion();
    }
    uint64_t Writes() const { return sim->Counters().writeCommands + sim->Counters().dataFrames; }

    CliTempDir tmp;
    std::unique_ptr<SimMachine> sim;
    std::string device;
};

} // namespace

TEST_F(CliFirmware, FirmwareNeedsYesAndThenWritesTheShippedFile) {
    CliResult r = Run("firmware", {kMainFile});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "Alle Benutzereinstellungen gehen verloren")) << r.err;
    EXPECT_TRUE(Contains(r.err, "--yes")) << r.err;
    EXPECT_EQ(Writes(), 0u);
    EXPECT_EQ(SwVersion(), "V04.02.005");

    r = Run("firmware", {"--yes", kMainFile});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "Firmware wurde erfolgreich übertragen\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "firmware: V04.03.000\n")) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(SwVersion(), "V04.03.000");
}

TEST_F(CliFirmware, FirmwareRefusals) {
    std::string shortFile = ReadBytes(kMainFile);
    shortFile.pop_back();
    WriteBytes(File("short.bin"), shortFile);
    ParameterBlock other = SimFirmwareBlock("V04.09.000");
    other.SetVariantCode(9);
    std::vector<uint8_t> image = SimFirmwareImage(kSimFirmwareMemorySize, "V04.09.000");
    std::copy(other.bytes.begin(), other.bytes.end(), image.begin() + 256);
    WriteBytes(File("other.bin"), Bytes(FirmwareFile::BuildMain(image, other)));
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string err;
    } cases[] = {
        {{"--yes", File("short.bin")}, 1, "kelvane-cli: ungültige Firmwaredatei\n"},
        {{"--yes", File("other.bin")}, 1, "kelvane-cli: Firmware passt nicht zur Maschine\n"},
        {{"--yes", File("none.bin")}, 1, "kelvane-cli: Firmwaredatei nicht gefunden\n"},
        {{"--yes"}, 2, "kelvane-cli: firmware needs one firmware file\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        CliResult r = Run("firmware", c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(Writes(), 0u);
}

TEST_F(CliFirmware, SupervisorWritesTheShippedFileAndRefusesAnOlderOne) {
    CliResult r = Run("supervisor", {kSupvFile});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "Firmware wurde erfolgreich übertragen\n")) << r.out;
    EXPECT_EQ(cSTM::SupervisorVersion(sim->SupervisorEeprom()), kSimSupervisorFirmwareVersion);

    const auto older = FirmwareFile::BuildSupervisor(SimSupervisorProgram(0x00010002),
                                                     SimSupervisorEepromImage(0x00010002));
    WriteBytes(File("older.bin"), Bytes(older));
    sim->ResetCounters();
    r = Run("supervisor", {File("older.bin")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvane-cli: Falsche Firmware-Version\n");
    EXPECT_EQ(sim->SupervisorCounters().records, 0u);
}

// The update changes the line's speed back and forth; a trace that missed a change would name
// the speed of later bytes wrongly, and a replay would then misread them.
TEST_F(CliFirmware, TheSupervisorUpdatesTraceHoldsEverySpeedChange) {
    CliResult r = Run("supervisor", {"--trace", File("s.trace"), kSupvFile});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::ifstream in(File("s.trace"));
    std::string line;
    int triggers = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        double ms = 0;
        std::string what, rest;
        int baud = 0;
        fields >> ms >> what >> baud;
        std::getline(fields, rest);
        // Only the wake-up sends the byte F8 (the loader gets text records): at 9600 baud.
        if (what == ">" && rest.find("F8") != std::string::npos) {
            ++triggers;
            EXPECT_EQ(baud, 9600) << line;
        }
    }
    // The read before, the reconnect, the one inside programming, the read-back.
    EXPECT_GE(triggers, 4);
}

TEST_F(CliFirmware, SupervisorThatAnswersWronglyIsNotWritten) {
    Start(SimFault::SupvWrongTrigger);
    CliResult r = Run("supervisor", {kSupvFile});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvane-cli: Wrong Trigger\nkelvane-cli: Verbindung fehlgeschlagen\n");
    EXPECT_EQ(sim->SupervisorCounters().records, 0u);
}

TEST_F(CliFirmware, DumpsWriteWhatTheMachineHolds) {
    CliResult r = Run("dump", {"--emulation", File("e.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "Dump wurde erstellt\n")) << r.out;
    EXPECT_EQ(ReadBytes(File("e.bin")),
              Bytes(sim->Peek(sim->EmulationStart(), sim->EmulationLength())));

    r = Run("dump", {"--supervisor", File("s.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto eeprom = sim->SupervisorEeprom();
    EXPECT_EQ(ReadBytes(File("s.bin")), std::string(eeprom.begin(), eeprom.end()));

    // An existing file is replaced only with --yes.
    WriteBytes(File("old.bin"), "old");
    r = Run("dump", {"--supervisor", File("old.bin")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "--yes")) << r.err;
    EXPECT_EQ(ReadBytes(File("old.bin")), "old");
    r = Run("dump", {"--yes", "--emulation", File("old.bin")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadBytes(File("old.bin")).size(), sim->EmulationLength());
}

TEST_F(CliFirmware, DumpFailuresWriteNothing) {
    struct Case {
        SimFault fault;
        std::vector<std::string> args;
        int exitCode;
        std::string err;
    } cases[] = {
        {SimFault::SupvSilent,
         {"--supervisor", File("d.bin")},
         1,
         "kelvane-cli: Verbindung fehlgeschlagen\n"},
        {SimFault::Silent,
         {"--emulation", File("d.bin")},
         1,
         "kelvane-cli: Verbindung fehlgeschlagen\n"},
        {SimFault::None,
         {"--emulation", (tmp.path() / "missing" / "d.bin").string()},
         1,
         "kelvane-cli: Datei kann nicht geöffnet werden\n"},
        {SimFault::None,
         {"--supervisor", (tmp.path() / "missing" / "d.bin").string()},
         1,
         "kelvane-cli: Datei kann nicht geöffnet werden\n"},
        {SimFault::None,
         {"--emulation", "--supervisor", File("d.bin")},
         2,
         "kelvane-cli: dump needs one of --emulation and --supervisor\n"},
        {SimFault::None,
         {File("d.bin")},
         2,
         "kelvane-cli: dump needs one of --emulation and --supervisor\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SimFaultName(c.fault) + std::string(" ") + c.args.front());
        sim->SetFault(c.fault);
        CliResult r = Run("dump", c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.err, c.err);
        EXPECT_FALSE(fs::exists(File("d.bin")));
        EXPECT_FALSE(fs::exists(tmp.path() / "missing"));
    }
}

namespace {

// kelvane-cli with its standard error on a terminal (a pseudo-terminal this test reads);
// what the terminal showed.
std::string RunOnTerminal(const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return "no pty";
    const std::string slave = ::ptsname(master);
    const std::string exe = CliPath().string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const int fd = ::open(slave.c_str(), O_RDWR);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(fd, 2);
        for (const auto& [k, v] : env)
            ::setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    std::string shown;
    char buf[4096];
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 60000) <= 0)
            break;
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0)
            break; // EIO once the child has closed the terminal
        shown.append(buf, size_t(n));
    }
    ::waitpid(pid, nullptr, 0);
    ::close(master);
    return shown;
}

} // namespace

TEST_F(CliFirmware, AProgressBarOnATerminalOnlyAndNotWithQuiet) {
    const std::vector<std::vector<std::string>> commands = {
        {"supervisor", "--port", device, "--yes", kSupvFile},
        {"read", "--port", device, File("read.bin")},
        {"dump", "--port", device, "--yes", "--emulation", File("dump.bin")},
    };
    for (const auto& command : commands) {
        const std::string bar = RunOnTerminal(command, tmp.UserEnv());
        EXPECT_TRUE(Contains(bar, "] 0 %")) << command[0] << ": " << bar;
        EXPECT_TRUE(Contains(bar, "[####")) << command[0] << ": " << bar;
        if (command[0] != "supervisor") { // its loader's last records are not counted
            EXPECT_TRUE(Contains(bar, "100 %")) << command[0] << ": " << bar;
        }
    }
    const std::string quiet = RunOnTerminal(
        {"supervisor", "--port", device, "--yes", "--quiet", kSupvFile}, tmp.UserEnv());
    EXPECT_FALSE(Contains(quiet, " %")) << quiet;
    EXPECT_FALSE(Contains(
        RunOnTerminal({"read", "--port", device, "--quiet", File("q.bin")}, tmp.UserEnv()), " %"));
    // Standard error a pipe: no bar either.
    CliResult r = Run("supervisor", {"--yes", kSupvFile});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(Contains(r.err, " %")) << r.err;
}

TEST_F(CliFirmware, AMachineLeftErasedIsRecoveredOnlyWithRecover) {
    // A cut update on a loader that erases first: the block area is gone.
    const uint32_t area = 0x10001000;
    sim->Poke(area, std::vector<uint8_t>(sim->EmulationStart() - area, 0xFF));

    CliResult r = Run("firmware", {"--yes", kMainFile});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "Der Parameterbereich der Maschine ist nicht lesbar")) << r.err;
    EXPECT_TRUE(Contains(r.err, "--recover")) << r.err;
    EXPECT_EQ(Writes(), 0u);

    r = Run("firmware", {"--recover", kMainFile});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "Firmware wurde erfolgreich übertragen\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "firmware: V04.03.000\n")) << r.out;
    MainFirmware fw;
    ASSERT_EQ(FirmwareFile::ReadMain(kMainFile, sim->MemorySize(), fw), FirmwareStatus::Ok);
    ParameterBlock now;
    now.bytes = sim->ParameterImage();
    EXPECT_EQ(now, fw.block);
}

TEST_F(CliFirmware, FirmwareFaultsOfTheWriteRoad) {
    struct Case {
        SimFault fault;
        std::optional<uint32_t> address;
        int exitCode;
        std::string err;
    } cases[] = {
        {SimFault::LostEndAck, {}, 0, ""},
        {SimFault::DropFrame, 0x10003000, 1,
         "kelvane-cli: Fehler bei Übertragung der Firmware\n\nFirmware-Update bitte "
         "wiederholen\n\nErste abweichende Adresse: 0x10003000\n"},
        {SimFault::Swap, {}, 1, "kelvane-cli: ungültige Zielmaschine\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SimFaultName(c.fault));
        Start(SimFault::None);
        sim->SetFault(c.fault, 0, c.address);
        CliResult r = Run("firmware", {"--yes", kMainFile});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(r.err, c.err);
    }
}
