// kelvane-cli rollout down the simulated line: machines one after another on one adapter,
// some skipped with their reason, one with another password, a pulled adapter and Ctrl-C.
#include "crypto/Digests.h"
#include "crypto/SHA1.h"
#include "model/ParameterBlock.h"
#include "sim/SimMachine.h"
#include "tests/cli/CliRun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;
using Image = std::array<uint8_t, 512>;

namespace {

bool Contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

std::string Serial(unsigned k) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM%07u", k);
    return serial;
}

Image Machine(unsigned k) {
    ParameterBlock b;
    b.bytes = SimMachine::DefaultImage();
    b.SetSerialNr(Serial(k));
    return b.bytes;
}

std::string Digest(const Image& b) {
    return SHA1::HexDigest(b.data(), b.size());
}

class CliRollout : public ::testing::Test {
protected:
    // A line of n machines; approved: machine 1's image with set 1's first step changed.
    void Line(unsigned n, std::map<unsigned, Image> images = {}) {
        SimOptions o;
        o.pacing = false;
        o.announce = false;
        o.machines = n;
        o.lineImages = std::move(images);
        sim = std::make_unique<SimMachine>(std::move(o));
        device = sim->Start();
        ASSERT_FALSE(device.empty()) << sim->LastError();
        ParameterBlock approved;
        approved.bytes = Machine(1);
        approved.Step(0).SetTime(777);
        WriteBytes(tmp.path() / "approved.bin",
                   std::string(approved.bytes.begin(), approved.bytes.end()));
        CliResult r = Cli({"library", "add", "Station-12", (tmp.path() / "approved.bin").string()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    void TearDown() override {
        if (sim)
            sim->Stop();
    }
    CliResult Cli(std::vector<std::string> args) { return RunCli(args, tmp.UserEnv(), 180000); }
    CliResult Rollout(std::vector<std::string> more) {
        std::vector<std::string> args = {"rollout",    "Station-12", "--port", device,
                                         "--password", "0000",       "--json"};
        args.insert(args.end(), more.begin(), more.end());
        return Cli(args);
    }
    // Machine k as the approval leaves it: its own image with the approved step.
    static Image Approved(Image machine) {
        ParameterBlock b;
        b.bytes = machine;
        b.Step(0).SetTime(777);
        b.SetWriteMark(1);
        return b.bytes;
    }
    static json Parse(const CliResult& r) {
        json j = json::parse(r.out, nullptr, false);
        EXPECT_FALSE(j.is_discarded()) << r.out << r.err;
        return j;
    }
    uint16_t StepTime(unsigned k) const {
        ParameterBlock b;
        b.bytes = sim->LineImage(k).value_or(Image{});
        return b.Step(0).Time();
    }

    CliTempDir tmp;
    std::unique_ptr<SimMachine> sim;
    std::string device;
};

TEST_F(CliRollout, ThreeMachinesOneOfAnotherTypeOneAlreadyCompliant) {
    Image other = Machine(2);
    std::memcpy(other.data() + ParameterBlock::kOffMachineType, "TVX14-1000      ", 16);
    ASSERT_NO_FATAL_FAILURE(Line(3, {{2, other}, {3, Approved(Machine(3))}}));
    const Image first = Machine(1);

    CliResult r = Rollout({"--count", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json j = Parse(r);
    ASSERT_EQ(j["machines"].size(), 3u) << r.out;
    EXPECT_EQ(j["machines"][0]["serialNr"], "SIM0000001");
    EXPECT_EQ(j["machines"][0]["result"], "written");
    EXPECT_EQ(j["machines"][0]["before"], Digest(first));
    EXPECT_EQ(j["machines"][0]["after"], Digest(*sim->LineImage(1)));
    EXPECT_EQ(j["machines"][1]["result"], "skipped");
    EXPECT_TRUE(Contains(j["machines"][1]["reason"], "anderer Maschinentyp")) << j.dump();
    EXPECT_EQ(j["machines"][2]["result"], "compliant");
    EXPECT_TRUE(Contains(r.err, "1/3 fertig: SIM0000001")) << r.err;
    EXPECT_TRUE(Contains(r.err, "3/3 fertig: SIM0000003")) << r.err;

    EXPECT_EQ(StepTime(1), 777);
    EXPECT_EQ(*sim->LineImage(2), other) << "nothing written to the other type";
    // The write is a normal history entry of the machine, with its backup before it.
    const int64_t entry = j["machines"][0]["historyEntry"];
    r = Cli({"history", "show", std::to_string(entry), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json shown = Parse(r);
    EXPECT_EQ(shown["command"], "zur Maschine");
    EXPECT_EQ(shown["result"], 0);
    EXPECT_EQ(shown["rollout"], j["rollout"]);
    // The listing marks the rollout's write, and only that.
    r = Cli({"history", "--serial", "SIM0000001"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "[" + j["rollout"].get<std::string>() + "]")) << r.out;
    r = Cli({"history", "--serial", "SIM0000003", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json third = Parse(r);
    ASSERT_EQ(third.size(), 1u) << r.out;
    EXPECT_FALSE(third[0].contains("rollout")) << "a read is no rollout's write";
}

TEST_F(CliRollout, TenMachinesWithSerialsAndAWrongPassword) {
    Image locked = Machine(4);
    const PasswordDigestBytes pw = PasswordDigest(std::string_view("4321"));
    std::copy(pw.begin(), pw.end(), locked.begin() + ParameterBlock::kOffPasswordDigest);
    ASSERT_NO_FATAL_FAILURE(Line(10, {{4, locked}}));
    std::string serials;
    for (unsigned k = 1; k <= 10; ++k)
        if (k != 7)
            serials += (serials.empty() ? "" : ",") + Serial(k);

    CliResult r = Rollout({"--count", "10", "--serials", serials});
    EXPECT_EQ(r.exitCode, 1) << "one machine failed: " << r.err;
    const json j = Parse(r);
    ASSERT_EQ(j["machines"].size(), 10u) << r.out;
    for (unsigned k = 1; k <= 10; ++k) {
        const json& m = j["machines"][k - 1];
        EXPECT_EQ(m["serialNr"], Serial(k)) << k;
        const char* want = k == 4 ? "failed" : k == 7 ? "skipped" : "written";
        EXPECT_EQ(m["result"], want) << k << " " << m.dump();
        EXPECT_EQ(StepTime(k), k == 4 || k == 7 ? 0 : 777) << k;
    }
    EXPECT_TRUE(Contains(j["machines"][6]["reason"], "--serials"));
    EXPECT_TRUE(Contains(r.err, "Ungültiges Passwort")) << r.err;
}

TEST_F(CliRollout, APulledAdapterEndsItWithTheSummary) {
    ASSERT_NO_FATAL_FAILURE(Line(3));
    std::atomic<bool> done{false};
    // The adapter is pulled while the second machine is on the line.
    std::thread puller([&] {
        while (!done && sim->LineMachine() < 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!done)
            sim->SetFault(SimFault::Unplug);
    });
    CliResult r = Rollout({"--count", "3"});
    done = true;
    puller.join();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "adapter is gone")) << r.err;
    const json j = Parse(r);
    EXPECT_EQ(j["adapterGone"], true);
    ASSERT_GE(j["machines"].size(), 1u);
    EXPECT_EQ(j["machines"][0]["result"], "written");
    EXPECT_EQ(StepTime(1), 777);
    EXPECT_EQ(StepTime(3), 0) << "the third machine was never reached";
}

TEST_F(CliRollout, CtrlCEndsAfterTheMachineOnTheLine) {
    ASSERT_NO_FATAL_FAILURE(Line(3));
    const std::string out = (tmp.path() / "out.txt").string();
    const std::string errPath = (tmp.path() / "err.txt").string();
    std::vector<std::string> args = {"rollout",    "Station-12", "--port", device,
                                     "--password", "0000",       "--json"};
    const auto env = tmp.UserEnv();
    const std::string exe = CliPath().string();
    pid_t pid = ::fork();
    if (pid == 0) {
        for (const auto& [k, v] : env)
            ::setenv(k.c_str(), v.c_str(), 1);
        ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        ::dup2(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    // Once the second machine has been written to, Ctrl-C.
    for (int i = 0; i < 6000 && sim->LineMachine() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const uint64_t frames = sim->Counters().dataFrames;
    for (int i = 0; i < 6000 && sim->Counters().dataFrames == frames; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::kill(pid, SIGINT);
    int status = 0;
    for (int i = 0; i < 3000 && ::waitpid(pid, &status, WNOHANG) != pid; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "rollout did not end after Ctrl-C";
    }
    ASSERT_TRUE(WIFEXITED(status)) << ReadBytes(errPath);
    EXPECT_EQ(WEXITSTATUS(status), 0) << ReadBytes(errPath);
    const json j = json::parse(ReadBytes(out), nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << ReadBytes(out);
    EXPECT_EQ(j["interrupted"], true);
    ASSERT_EQ(j["machines"].size(), 2u) << j.dump();
    EXPECT_EQ(j["machines"][1]["result"], "written") << "the machine on the line is finished";
    EXPECT_EQ(StepTime(2), 777);
    EXPECT_EQ(sim->LineMachine(), 2u) << "the third machine never came";
}

} // namespace
