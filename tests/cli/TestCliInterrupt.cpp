// Ctrl-C in kelvane-cli: during a write to the machine the first one lets the write finish, a
// second one within two seconds stops it between frames; outside a write it ends the program.
#include "tests/cli/CliRun.h"

#include "sim/SimMachine.h"

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
    void SetUp() override {
        SimOptions o; // paced: a firmware write takes seconds, time to press Ctrl-C
        o.announce = false;
        sim = std::make_unique<SimMachine>(std::move(o));
        device = sim->Start();
        ASSERT_FALSE(device.empty()) << sim->LastError();
    }
    void TearDown() override { sim->Stop(); }

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

} // namespace
