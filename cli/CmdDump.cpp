// kelvane-cli dump [--port PATH] [--yes] --emulation|--supervisor OUT: "Dump Emulationsbereich"
// (the main controller's EEPROM emulation area) or "Dump SUPV" (the supervisor's 128-byte
// EEPROM) into OUT. OUT is written whole or not at all, and an existing OUT is replaced only
// with --yes.
#include "cli/Cli.h"
#include "cli/ControllerUi.h"

#include <cstdio>

namespace {

int RunDump(cli::Args& args) {
    cControllerSession session;
    const bool emulation = args.Flag("--emulation");
    const bool supervisor = args.Flag("--supervisor");
    session.ui.yes = args.Flag("--yes");
    std::vector<std::string> rest;
    if (!session.Start(args, rest))
        return 2;
    if (emulation == supervisor)
        return cli::Fail("dump needs one of --emulation and --supervisor", 2);
    if (rest.size() != 1 || rest[0].empty())
        return cli::Fail("dump needs one output file", 2);
    session.ui.saveFile = rest[0];

    cDialogMain& c = *session.controller;
    if (emulation)
        session.ShowReadBar();
    const bool ok = emulation ? c.OnDumpEmulationArea() : c.OnDumpSupervisor();
    session.EndReadBar();
    if (!ok)
        return session.Finish(false, emulation ? "Dump Emulationsbereich: no dump written"
                                               : "Dump SUPV: no dump written");
    std::printf("dump written to %s\n", rest[0].c_str());
    return 0;
}

} // namespace

KELVANE_CLI_SESSION_COMMAND("dump", "dump [--yes] --emulation|--supervisor OUT", RunDump);
