// kelvane-cli read [--port PATH] OUT.bin: "von Maschine" as the window runs it (firmware check
// included) and the image the editor then holds written to OUT (512 bytes). OUT is written only
// when the read succeeded.
#include "base/FileIo.h"
#include "cli/Cli.h"
#include "cli/ControllerUi.h"
#include "cli/FleetCli.h"

#include <cstdio>

namespace {

int RunRead(cli::Args& args) {
    cControllerSession session;
    std::vector<std::string> rest;
    if (!session.Start(args, rest))
        return 2;
    if (rest.size() != 1 || rest[0].empty())
        return cli::Fail("read needs one output file", 2);
    const std::string out = rest[0];

    cDialogMain& c = *session.controller;
    session.ShowReadBar();
    const bool read = c.OnReadFromMachine();
    session.EndReadBar();
    if (!read)
        return session.Finish(false, "von Maschine: not read");

    std::string error;
    if (!WriteFileAtomic(out, c.Image().bytes.data(), c.Image().bytes.size(), &error))
        return cli::Fail("cannot write " + out + ": " + error);

    std::printf("port: %s\n", c.Ports().SelectedPort().c_str());
    if (const auto* link = dynamic_cast<const cQVX_18*>(c.CurrentLink())) {
        std::printf("memory size: 0x%X\n", unsigned(link->GetMemorySize()));
        std::printf("block offset: %u\n", unsigned(link->BlockOffset()));
        std::printf("emulation area: 0x%08X, %u bytes\n", unsigned(link->EmulationStart()),
                    unsigned(link->EmulationLength()));
    }
    std::printf("fastening counter: %u\n", unsigned(c.FasteningCounter()));
    std::printf("image written to %s\n", out.c_str());
    std::fputs(ComplianceAfterRead(c.Image()).c_str(), stdout);
    return 0;
}

} // namespace

KELVANE_CLI_SESSION_COMMAND("read", "read OUT.bin", RunRead);
