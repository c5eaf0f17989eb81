// kelvane-cli ports lists a running simulated machine like an adapter and marks the choice.
#include "sim/SimMachine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

TEST(CliPorts, ListsTheAnnouncedMachine) {
    const std::string cli = KELVANE_BIN_DIR "/kelvane-cli";
    if (!std::filesystem::exists(cli))
        GTEST_SKIP() << "kelvane-cli not built";
    char dir[] = "/tmp/kelvane-ports-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    setenv("XDG_RUNTIME_DIR", dir, 1);
    setenv("HOME", dir, 1);
    setenv("XDG_DATA_HOME", (std::string(dir) + "/data").c_str(), 1);

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

} // namespace
