// kelvane-cli ports and read on the simulated machine.
#include "sim/SimMachine.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string RunShell(const std::string& command, int& status) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    status = pclose(p);
    return out;
}

// Points the user's folders elsewhere for one test and puts them back after it.
class UserFolders {
public:
    explicit UserFolders(const std::string& dir) {
        Set("XDG_RUNTIME_DIR", dir);
        Set("HOME", dir);
        Set("XDG_DATA_HOME", dir + "/data");
        Set("XDG_DOCUMENTS_DIR", dir + "/docs");
    }
    ~UserFolders() {
        for (const auto& [name, value] : saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

private:
    void Set(const std::string& name, const std::string& value) {
        const char* old = getenv(name.c_str());
        saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

TEST(CliPorts, ListsTheAnnouncedMachine) {
    const std::string cli = KELVANE_BIN_DIR "/kelvane-cli";
    if (!std::filesystem::exists(cli))
        GTEST_SKIP() << "kelvane-cli not built";
    char dir[] = "/tmp/kelvane-ports-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    UserFolders folders(dir);

    int status = -1;

    SimOptions o;
    o.pacing = false;
    o.serial = "NORKSIM7";
    SimMachine sim(o);
    const std::string device = sim.Start();
    ASSERT_FALSE(device.empty()) << sim.LastError();
    std::string out = RunShell(cli + " ports", status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << out;
    EXPECT_NE(out.find("Number of devices is"), std::string::npos) << out;
    EXPECT_NE(out.find("* 1  " + device), std::string::npos) << out;
    EXPECT_NE(out.find("NORKSIM7"), std::string::npos) << out;
    sim.Stop();

    // Gone again: nothing of ours is listed any more.
    out = RunShell(cli + " ports 2>&1", status);
    EXPECT_EQ(out.find(device + " "), std::string::npos) << out;
    std::filesystem::remove_all(dir);
}

class CliRead : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(cli))
            GTEST_SKIP() << "kelvane-cli not built";
        char tmpl[] = "/tmp/kelvane-cliread-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir = tmpl;
        folders = std::make_unique<UserFolders>(dir);
    }
    void TearDown() override {
        folders.reset();
        if (!dir.empty())
            std::filesystem::remove_all(dir);
    }
    std::string Read(const std::string& device, int& status) {
        return RunShell(cli + " read --port " + device + " " + dir + "/out.bin 2>&1", status);
    }
    const std::string cli = KELVANE_BIN_DIR "/kelvane-cli";
    std::string dir;
    std::unique_ptr<UserFolders> folders;
};

TEST_F(CliRead, WritesTheImageAndTellsTheLayout) {
    SimOptions o;
    o.announce = false;
    SimMachine sim(o);
    const std::string device = sim.Start();
    ASSERT_FALSE(device.empty()) << sim.LastError();
    int status = -1;
    std::string out = Read(device, status);
    ASSERT_EQ(WEXITSTATUS(status), 0) << out;
    EXPECT_NE(out.find("fastening counter: 1234"), std::string::npos) << out;
    EXPECT_NE(out.find("block offset: 0"), std::string::npos) << out;
    std::ifstream in(dir + "/out.bin", std::ios::binary);
    std::vector<uint8_t> got((std::istreambuf_iterator<char>(in)), {});
    auto image = sim.ParameterImage();
    EXPECT_EQ(got, std::vector<uint8_t>(image.begin(), image.end()));
}

TEST_F(CliRead, FailureLeavesNoFileAndSaysWhy) {
    struct Case {
        SimFault fault;
        unsigned skip;
        const char* message;
    } cases[] = {{SimFault::LoseBytes, 1, "Timeout"},
                 {SimFault::BadChecksum, 1, "Checksum-Error"},
                 {SimFault::Silent, 0, "Verbindung fehlgeschlagen"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        SimOptions o;
        o.announce = false;
        o.fault = c.fault;
        o.faultSkip = c.skip;
        o.faultAddress =
            c.fault == SimFault::Silent ? std::nullopt : std::optional<uint32_t>(0x10001100);
        SimMachine sim(o);
        const std::string device = sim.Start();
        ASSERT_FALSE(device.empty()) << sim.LastError();
        int status = -1;
        std::string out = Read(device, status);
        EXPECT_NE(WEXITSTATUS(status), 0) << out;
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
        EXPECT_FALSE(std::filesystem::exists(dir + "/out.bin"));
    }
    int status = -1;
    std::string out = Read("/dev/kelvane-no-such-port", status);
    EXPECT_NE(WEXITSTATUS(status), 0) << out;
    EXPECT_NE(out.find("com-port not opend"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(dir + "/out.bin"));
}

// A command killed in the middle of a read (kill -9: nothing of it runs any more) leaves the
// line as it was: the next command opens the port at once and reads.
TEST_F(CliRead, TheCommandAfterAKilledOneOpensThePortAtOnce) {
    SimOptions o;
    o.announce = false; // paced: the read lasts long enough to be cut
    SimMachine sim(o);
    const std::string device = sim.Start();
    ASSERT_FALSE(device.empty()) << sim.LastError();
    const std::string out = dir + "/cut.bin";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl(cli.c_str(), cli.c_str(), "read", "--port", device.c_str(), out.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Killed once the loader is on its way.
    const auto give = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto received = [&] {
        uint64_t n = 0;
        for (const auto& [baud, c] : sim.Counters().byBaud)
            n += c.received;
        return n;
    };
    while (received() < 200 && std::chrono::steady_clock::now() < give)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GE(received(), 200u);
    EXPECT_FALSE(std::filesystem::exists(out));

    const auto t0 = std::chrono::steady_clock::now();
    std::string text = Read(device, status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << text;
    EXPECT_EQ(text.find("in use"), std::string::npos) << text;
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(15));
}

// The simulated machine clears an exclusive flag its client left behind when that client
// ended without closing the line, as a real adapter drops it with its last close.
TEST(SimLine, ClearsTheExclusiveFlagOfAClientThatEnded) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root may open past the flag to clear it";
    SimOptions o;
    o.announce = false;
    o.pacing = false;
    SimMachine sim(o);
    const std::string device = sim.Start();
    ASSERT_FALSE(device.empty()) << sim.LastError();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
        ::_exit(fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(status, 0);
    int exclusive = 1;
    const auto give = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (exclusive && std::chrono::steady_clock::now() < give) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
        ::close(fd);
    }
    EXPECT_EQ(exclusive, 0);
}

} // namespace
