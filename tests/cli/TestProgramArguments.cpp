// The window program's own command line, run as a process without a display.
#include "app/ProgramVersion.h"
#include "tests/cli/CliRun.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

fs::path Program() {
    return fs::path(KELVANE_BIN_DIR) / "kelvane";
}

// No display of any kind: what a terminal over ssh or a build machine gives.
std::map<std::string, std::string> NoDisplay(const CliTempDir& tmp) {
    auto env = tmp.UserEnv();
    env["DISPLAY"] = "";
    env["WAYLAND_DISPLAY"] = "";
    env["QT_QPA_PLATFORM"] = "";
    return env;
}

} // namespace

TEST(ProgramArguments, AnswersWithoutADisplay) {
    if (!fs::exists(Program()))
        GTEST_SKIP() << "the window program is not built";
    CliTempDir tmp;
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string out;     // start of standard output
        std::string errLine; // first line of standard error
    } cases[] = {
        {{"--help"}, 0, "usage: kelvane", ""},
        {{"-h"}, 0, "usage: kelvane", ""},
        {{"--version"}, 0, "kelvane " + GetProgramVersion() + "\n", ""},
        {{"--port"}, 2, "", "kelvane: --port needs a value (a device, e.g. /dev/ttyUSB0)"},
        {{"--read", "--port="}, 2, "", "kelvane: --port needs a value"},
        {{"--screenshot"}, 2, "", "kelvane: --screenshot needs a value (a file name)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        CliResult r = RunProgram(Program(), c.args, NoDisplay(tmp), 20000);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.errLine);
    }
}
