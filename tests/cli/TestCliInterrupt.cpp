// Ctrl-C in kelvane-cli: during a write to the machine the first one lets the write finish, a
// second one within two seconds stops it between frames; outside a write it ends the program.
// SIGTERM, SIGHUP and SIGQUIT count as the first Ctrl-C. After kill -9 the next command finds
// the write's open entry, says what the machine holds and what repairs it, and closes it.
#include "tests/cli/CliRun.h"

#include "model/ParameterBlock.h"
#include "sim/SimMachine.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kFirmware =
    (fs::path(KELVANE_BIN_DIR) / "firmware" / "TVX18-4200_V04.03.000.bin").string();

bool Contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

bool WaitFor(const std::function<bool()>& done, int ms = 20000) {
    for (int i = 0; i < ms / 5; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

class CliInterrupt : public ::testing::Test {
protected:
    void SetUp() override { StartSim(false); }
    // keepMemory: the same machine on a new pseudo-terminal.
    void StartSim(bool eraseOnWrite, bool keepMemory = false) {
        if (sim)
            sim->Stop();
        const fs::path state = tmp.path() / "sim-state";
        if (!keepMemory)
            fs::remove_all(state);
        SimOptions o; // paced: a firmware write takes seconds, time to press Ctrl-C
        o.announce = false;
        o.eraseOnWrite = eraseOnWrite;
        o.stateDir = state.string();
        sim = std::make_unique<SimMachine>(std::move(o));
        device = sim->Start();
        ASSERT_FALSE(device.empty()) << sim->LastError();
    }
    void TearDown() override { sim->Stop(); }
    CliResult Cli(std::vector<std::string> args) {
        if (args[0] != "history")
            args.insert(args.begin() + 1, {"--port", device});
        return RunCli(args, tmp.UserEnv(), 60000);
    }

    // kelvane-cli ARGS --port <machine> in the background, standard error into a file.
    pid_t Spawn(std::vector<std::string> args) {
        args.insert(args.begin() + 1, {"--port", device});
        const auto env = tmp.UserEnv();
        const std::string exe = CliPath().string();
        const std::string errPath = (tmp.path() / "err.txt").string();
        pid_t pid = ::fork();
        if (pid == 0) {
            for (const auto& [k, v] : env)
                ::setenv(k.c_str(), v.c_str(), 1);
            int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(err, 2);
            ::dup2(null, 1);
            std::vector<char*> argv{const_cast<char*>(exe.c_str())};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(exe.c_str(), argv.data());
            ::_exit(127);
        }
        return pid;
    }
    // Exit status as waitpid gives it; kills the child after 60 s.
    int Wait(pid_t pid) {
        int status = 0;
        for (int i = 0; i < 6000; ++i) {
            if (::waitpid(pid, &status, WNOHANG) == pid)
                return status;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "kelvane-cli did not end";
        return status;
    }
    std::string Err() const { return ReadBytes(tmp.path() / "err.txt"); }
    uint64_t Frames() const { return sim->Counters().dataFrames; }
    // Frames of a whole firmware write: the application area up to the emulation area.
    uint64_t FullWrite() const { return (sim->EmulationStart() - 0x10001000u) / 256; }

    CliTempDir tmp;
    std::unique_ptr<SimMachine> sim;
    std::string device;
};

TEST_F(CliInterrupt, OnceDuringAFirmwareWriteLetsItFinish) {
    pid_t pid = Spawn({"firmware", "--yes", kFirmware});
    ASSERT_TRUE(WaitFor([&] { return Frames() > 10; }));
    ::kill(pid, SIGINT);
    const int status = Wait(pid);
    ASSERT_TRUE(WIFEXITED(status)) << Err();
    EXPECT_EQ(WEXITSTATUS(status), 0) << Err();
    EXPECT_TRUE(Contains(Err(), "wird zu Ende geführt")) << Err();
    EXPECT_EQ(Frames(), FullWrite());
}

TEST_F(CliInterrupt, TwiceDuringAFirmwareWriteStopsBetweenFrames) {
    pid_t pid = Spawn({"firmware", "--yes", kFirmware});
    ASSERT_TRUE(WaitFor([&] { return Frames() > 10; }));
    ::kill(pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(pid, SIGINT);
    const int status = Wait(pid);
    ASSERT_TRUE(WIFEXITED(status)) << Err();
    EXPECT_EQ(WEXITSTATUS(status), 1) << Err();
    EXPECT_TRUE(Contains(Err(), "nach dem laufenden Block angehalten")) << Err();
    // Stopped long before the end of the area, and not written again afterwards.
    const uint64_t frames = Frames();
    EXPECT_LT(frames, FullWrite() / 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Frames(), frames);
}

TEST_F(CliInterrupt, OutsideAWriteEndsTheProgram) {
    pid_t pid = Spawn({"read", (tmp.path() / "m.bin").string()});
    ASSERT_TRUE(WaitFor([&] { return sim->Counters().wakeups > 0; }));
    ::kill(pid, SIGINT);
    const int status = Wait(pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << Err();
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_FALSE(fs::exists(tmp.path() / "m.bin"));
}

// ---- a signal, or kill -9, at a moment of a write ----

struct Moment {
    const char* name;
    bool (*reached)(const SimCounters&);
};
const Moment kFrames{"frames", [](const SimCounters& c) { return c.dataFrames >= 2; }};
const Moment kReadBack{"read-back", [](const SimCounters& c) { return c.endFrames >= 1; }};

struct Signals {
    const char* name;
    std::vector<int> sent; // 100 ms apart
};
const Signals kSignalTable[] = {
    {"SIGTERM", {SIGTERM}}, {"SIGHUP", {SIGHUP}},           {"SIGQUIT", {SIGQUIT}},
    {"SIGINT", {SIGINT}},   {"2xSIGINT", {SIGINT, SIGINT}}, {"kill -9", {SIGKILL}},
};

using json = nlohmann::json;

class CliCut : public CliInterrupt {
protected:
    // Runs ARGS, sends the signals once the moment is reached, and checks how it ended: a
    // signal short of kill -9 never ends the program in the middle.
    void Interrupt(const std::vector<std::string>& args, const Moment& moment, const Signals& s) {
        pid_t pid = Spawn(args);
        ASSERT_TRUE(WaitFor([&] { return moment.reached(sim->Counters()); }, 60000));
        for (size_t i = 0; i < s.sent.size(); ++i) {
            if (i > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ::kill(pid, s.sent[i]);
        }
        const int status = Wait(pid);
        if (s.sent[0] == SIGKILL) {
            EXPECT_TRUE(WIFSIGNALED(status));
            // The killed program's exclusive flag outlives it on a pseudo-terminal while the
            // port does not yet clear a stale one: the machine, memory and all, moves to a
            // fresh one.
            StartSim(sim->Options().eraseOnWrite, true);
            return;
        }
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << Err();
        exitCode = WEXITSTATUS(status);
        if (s.sent.size() == 1) { // the first one lets the write finish
            EXPECT_EQ(exitCode, 0) << Err();
            EXPECT_TRUE(Contains(Err(), "wird zu Ende geführt")) << Err();
        } else if (exitCode != 0) {
            EXPECT_TRUE(Contains(Err(), "nach dem laufenden Block angehalten")) << Err();
        }
    }
    // The machine's entries that are still open.
    int OpenEntries() {
        CliResult r = Cli({"history", "--serial", "SIM0000001", "--json"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const json list = json::parse(r.out, nullptr, false);
        int open = 0;
        for (const json& e : list)
            open += e.value("state", "") == "open";
        return open;
    }
    int exitCode = -1;
};

TEST_F(CliCut, ParameterWrite) {
    const std::array<uint8_t, 512> old = sim->ParameterImage();
    ParameterBlock edited;
    edited.bytes = old;
    edited.Step(0).SetTime(444);
    edited.Step(5).SetTime(555);
    WriteBytes(tmp.path() / "edited.bin", std::string(edited.bytes.begin(), edited.bytes.end()));
    const std::vector<std::string> write{"write", "--password", SimMachine::kDefaultPassword,
                                         (tmp.path() / "edited.bin").string()};
    // The write's own wake-up comes last, after its backup: then nothing is sent yet.
    ASSERT_EQ(Cli({"write", "--password", SimMachine::kDefaultPassword,
                   (tmp.path() / "edited.bin").string()})
                  .exitCode,
              0);
    static uint64_t wakeups;
    wakeups = sim->Counters().wakeups;
    ASSERT_GE(wakeups, 2u);
    const Moment reconnect{"reconnect", [](const SimCounters& c) { return c.wakeups >= wakeups; }};
    for (const Moment& moment : {reconnect, kFrames, kReadBack}) {
        for (const Signals& s : kSignalTable) {
            SCOPED_TRACE(std::string(s.name) + " at " + moment.name);
            sim->SetParameterImage(old);
            sim->ResetCounters();
            exitCode = -1;
            Interrupt(write, moment, s);
            // The next command opens the port at once and tells a cut write.
            CliResult next = Cli({"read", (tmp.path() / "next.bin").string()});
            EXPECT_EQ(next.exitCode, 0) << next.err;
            const std::array<uint8_t, 512> now = sim->ParameterImage();
            ParameterBlock nowBlock;
            nowBlock.bytes = now;
            const bool holdsOld = now == old;
            // Merged for the write: the write mark and the rest as the machine keeps them.
            const bool holdsNew = nowBlock.Step(0).Time() == edited.Step(0).Time() &&
                                  nowBlock.Step(5).Time() == edited.Step(5).Time();
            if (exitCode == 0) {
                EXPECT_TRUE(holdsNew);
            }
            if (s.sent[0] == SIGKILL) {
                EXPECT_TRUE(Contains(next.err, "nicht zu Ende geführt")) << next.err;
                if (holdsOld) {
                    EXPECT_TRUE(Contains(next.err, "unverändert")) << next.err;
                } else {
                    EXPECT_TRUE(Contains(next.err, "kelvane-cli restore ")) << next.err;
                }
            } else {
                EXPECT_TRUE(holdsOld || holdsNew || exitCode == 1);
                EXPECT_FALSE(Contains(next.err, "nicht zu Ende geführt")) << next.err;
            }
            EXPECT_EQ(OpenEntries(), 0);
        }
    }
}

TEST_F(CliCut, FirmwareUpdate) {
    for (const bool erase : {false, true}) {
        for (const Moment& moment : {kFrames, kReadBack}) {
            for (const Signals& s : kSignalTable) {
                // An erasing loader only matters where the write is cut.
                if (erase && (s.sent[0] != SIGKILL || moment.name != kFrames.name))
                    continue;
                SCOPED_TRACE(std::string(s.name) + " at " + moment.name +
                             (erase ? " (erase on write)" : ""));
                StartSim(erase);
                exitCode = -1;
                Interrupt({"firmware", "--yes", kFirmware}, moment, s);
                CliResult next = Cli({"read", (tmp.path() / "next.bin").string()});
                ParameterBlock now;
                now.bytes = sim->ParameterImage();
                if (exitCode == 0) {
                    EXPECT_EQ(next.exitCode, 0) << next.err;
                    EXPECT_TRUE(Contains(now.SwVersion(), "04.03.000")) << now.SwVersion();
                } else if (s.sent[0] == SIGKILL) {
                    EXPECT_TRUE(Contains(next.err, "nicht zu Ende geführt")) << next.err;
                    EXPECT_TRUE(Contains(next.err, "kelvane-cli firmware ")) << next.err;
                }
                EXPECT_FALSE(Contains(next.err, "in use")) << next.err;
                EXPECT_EQ(OpenEntries(), 0);
            }
        }
    }
}

} // namespace
