// kelvane-cli ports and read on the simulated machine.
#include "sim/SimMachine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sys/wait.h>

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

} // namespace
