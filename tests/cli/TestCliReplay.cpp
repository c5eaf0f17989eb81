// Traces recorded from the simulated machine (kelvane-cli --trace), replayed by kelvane-sim
// --replay against the command that made them: the same result, and the replay agrees that
// the program sent what was recorded.
#include "tests/cli/CliRun.h"

#include "link/TraceReader.h"
#include "sim/SimMachine.h"
#include "tests/BadInput.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const fs::path kTraces = fs::path(KELVANE_TEST_DATA) / "traces";
const std::string kFirmware =
    (fs::path(KELVANE_BIN_DIR) / "firmware" / "TVX18-4200_V04.03.000.bin").string();

bool Contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

// kelvane-sim --replay TRACE as a child; its device from the first line of its output.
class ReplaySim {
public:
    ReplaySim(const fs::path& trace, const fs::path& errFile) : errFile(errFile) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(err, 2);
            const std::string exe = (fs::path(KELVANE_BIN_DIR) / "kelvane-sim").string();
            ::execl(exe.c_str(), exe.c_str(), "--replay", trace.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        // The device line, or the end of output when the trace was refused.
        char c;
        pollfd p{out[0], POLLIN, 0};
        while (::poll(&p, 1, 10000) == 1 && ::read(out[0], &c, 1) == 1 && c != '\n')
            device += c;
        ::close(out[0]);
    }
    ~ReplaySim() {
        if (pid > 0 && code == -2)
            Stop();
    }

    // SIGTERM, then the exit code (-1: no normal exit within 10 s) and what it said.
    int Stop() {
        if (pid <= 0)
            return code = -1;
        ::kill(pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 1000; ++i) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                err = ReadBytes(errFile);
                return code;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return code = -1;
    }

    std::string device;
    std::string err;

private:
    fs::path errFile;
    pid_t pid = -1;
    int code = -2;
};

class CliReplay : public ::testing::Test {
protected:
    void SetUp() override {
        auto image = SimMachine::DefaultImage();
        WriteBytes(File("image.bin"), std::string(image.begin(), image.end()));
    }
    std::string File(const std::string& name) const { return (tmp.path() / name).string(); }
    // command --port <replayed machine> args, in a private home.
    CliResult Run(ReplaySim& sim, const std::string& command, std::vector<std::string> args) {
        args.insert(args.begin(), {command, "--port", sim.device});
        return RunCli(args, tmp.UserEnv(), 60000);
    }
    CliTempDir tmp;
};

struct ReplayCase {
    const char* trace;
    const char* command;
    std::vector<std::string> args; // "@" + name: a file in the test's folder
    int exitCode;
    const char* says; // part of the command's output (out and err)
};

TEST_F(CliReplay, EachRecordedCommandGivesTheSameResultAgain) {
    const std::vector<ReplayCase> cases = {
        {"read.trace", "read", {"@m.bin"}, 0, "fastening counter: 1234"},
        {"write.trace",
         "write",
         {"--password", "0000", "--yes", "@image.bin"},
         0,
         "Parameter wurden übertragen"},
        {"firmware.trace", "firmware", {"--yes", kFirmware}, 0, "firmware: V04.03.000"},
        // The machine refused the read command: the same failure, from the trace alone.
        {"read-refused.trace", "read", {"@r.bin"}, 1, "Verbindung fehlgeschlagen"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        ReplaySim sim(kTraces / c.trace, File("sim.err"));
        ASSERT_FALSE(sim.device.empty()) << ReadBytes(File("sim.err"));
        std::vector<std::string> args;
        for (const auto& a : c.args)
            args.push_back(a[0] == '@' ? File(a.substr(1)) : a);
        CliResult r = Run(sim, c.command, args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        EXPECT_TRUE(Contains(r.out + r.err, c.says)) << r.out << r.err;
        EXPECT_EQ(sim.Stop(), 0) << sim.err;
        EXPECT_TRUE(Contains(sim.err, "replay complete")) << sim.err;
    }
    // What the replayed read wrote is the machine's image as recorded.
    auto image = SimMachine::DefaultImage();
    EXPECT_EQ(ReadBytes(File("m.bin")), std::string(image.begin(), image.end()));
    EXPECT_FALSE(fs::exists(File("r.bin")));
}

// A write begins as a read does; where it goes on, the recorded read has nothing more to give.
TEST_F(CliReplay, ATraceOfAnotherCommandIsToldWhereItDiffers) {
    ReplaySim sim(kTraces / "read.trace", File("sim.err"));
    ASSERT_FALSE(sim.device.empty());
    CliResult r = Run(sim, "write", {"--password", "0000", "--yes", File("image.bin")});
    EXPECT_NE(r.exitCode, 0) << r.out;
    EXPECT_EQ(sim.Stop(), 1) << sim.err;
    EXPECT_TRUE(Contains(sim.err, "replay differs")) << sim.err;

    // The other way round the first difference is named with its trace line and bytes.
    ReplaySim sim2(kTraces / "write.trace", File("sim2.err"));
    ASSERT_FALSE(sim2.device.empty());
    r = Run(sim2, "firmware", {"--yes", kFirmware});
    EXPECT_NE(r.exitCode, 0) << r.out;
    EXPECT_EQ(sim2.Stop(), 1) << sim2.err;
    EXPECT_TRUE(Contains(sim2.err, "replay differs at trace line ")) << sim2.err;
    EXPECT_TRUE(Contains(sim2.err, "expected ")) << sim2.err;
    EXPECT_TRUE(Contains(sim2.err, ", got ")) << sim2.err;
}

TEST_F(CliReplay, ADamagedTraceIsRefusedAtOnce) {
    const std::string good = ReadBytes(kTraces / "read.trace");
    const size_t cut = good.find(" A2 01 00");
    ASSERT_NE(cut, std::string::npos);
    struct Damage {
        const char* name;
        std::string text;
        const char* says;
    } damages[] = {
        {"empty", "", "empty file"},
        {"not a trace", "P1\n2 2\n", "line 1: not a kelvane trace"},
        {"cut in a byte", good.substr(0, cut + 2), "bad byte \"A\""},
        {"unknown event", "# kelvane trace 1\n1.0 ?? 19200 FF\n", "unknown event"},
        {"time backwards", "# kelvane trace 1\n2.0 > 19200 FF\n1.0 < 19200 FF\n",
         "time goes backwards"},
        {"no bytes", "# kelvane trace 1\n2.0 > 19200\n", "no bytes"},
    };
    for (const auto& d : damages) {
        SCOPED_TRACE(d.name);
        WriteBytes(File("bad.trace"), d.text);
        ReplaySim sim(File("bad.trace"), File("sim.err"));
        EXPECT_TRUE(sim.device.empty()) << sim.device;
        EXPECT_EQ(sim.Stop(), 2);
        EXPECT_TRUE(Contains(sim.err, "cannot replay")) << sim.err;
        EXPECT_TRUE(Contains(sim.err, d.says)) << sim.err;
    }
    ReplaySim missing(File("none.trace"), File("sim.err"));
    EXPECT_EQ(missing.Stop(), 2);
    EXPECT_TRUE(Contains(missing.err, "none.trace")) << missing.err;
    // A FIFO without a writer is refused at once, not waited on.
    ASSERT_EQ(::mkfifo(File("pipe.trace").c_str(), 0600), 0);
    ReplaySim pipe(File("pipe.trace"), File("sim.err"));
    EXPECT_EQ(pipe.Stop(), 2);
    EXPECT_TRUE(Contains(pipe.err, "not a regular file")) << pipe.err;
}

// The reader takes back what the port writes, with its line numbers for messages.
TEST(TraceReader, ReadsEveryEventKind) {
    Trace t;
    std::string error;
    ASSERT_TRUE(ParseTrace("# kelvane trace 1\n# command: kelvane-cli read\n"
                           "0.5 open 9600 /dev/pts/3\n\n1.25 > 19200 00 ed\n"
                           "1.5 echo 19200 00 ED\r\n2 < 19200 A2 01 00\n3 close 230400\n",
                           t, error))
        << error;
    EXPECT_EQ(t.command, "kelvane-cli read");
    ASSERT_EQ(t.events.size(), 5u);
    EXPECT_EQ(t.events[0].kind, TraceEvent::Open);
    EXPECT_EQ(t.events[0].text, "/dev/pts/3");
    EXPECT_EQ(t.events[1].kind, TraceEvent::Sent);
    EXPECT_EQ(t.events[1].bytes, (std::vector<uint8_t>{0x00, 0xED}));
    EXPECT_EQ(t.events[1].line, 5);
    EXPECT_EQ(t.events[2].kind, TraceEvent::Echo);
    EXPECT_EQ(t.events[3].bytes, (std::vector<uint8_t>{0xA2, 0x01, 0x00}));
    EXPECT_DOUBLE_EQ(t.events[3].ms, 2.0);
    EXPECT_EQ(t.events[4].kind, TraceEvent::Close);
    EXPECT_EQ(t.events[4].baud, 230400);
}

// A trace sent in may be anything a user can name: each is refused at once, none read whole.
TEST(TraceReader, WhatIsNoTraceFileIsRefusedAtOnce) {
    CliTempDir tmp;
    const auto inputs = MakeBadInputs(tmp.path().string(), "trace");
    ASSERT_FALSE(inputs.empty());
    for (const auto& in : inputs) {
        Trace t;
        std::string error;
        EXPECT_FALSE(ReadTrace(in.path, t, error)) << in.what;
        EXPECT_NE(error.find(in.path), std::string::npos) << in.what << ": " << error;
    }
}

} // namespace
