// kelvane-cli firmware [--port PATH] [--yes] FILE: "Firmware Update" with FILE as the file the
// dialog would choose. The machine's user settings are lost and an older firmware may be
// chosen, so both questions before the write need --yes. --restore-settings writes the steps
// and settings of the backup taken before the update back afterwards (needs --password). A
// machine whose block area is not a usable image (erased by a cut update, check error, no
// version) is written only with --recover: the whole application area from FILE, whose own
// block then names the machine.
// kelvane-cli supervisor [--port PATH] [--yes] FILE: "Firmware Update SUPV" with FILE.
#include "cli/Cli.h"
#include "cli/ControllerUi.h"
#include "model/ImageFields.h"

#include <cstdio>

namespace {

// The flags both commands share; FILE answers the file dialog. False (exit code in code) on a
// usage error.
bool Prepare(cControllerSession& session, cli::Args& args, const char* name, int& code) {
    session.ui.yes = args.Flag("--yes");
    session.ui.restoreSettings = args.Flag("--restore-settings");
    std::string password;
    if (args.Option("--password", password))
        session.ui.password = password;
    code = 2;
    std::vector<std::string> rest;
    if (!session.Start(args, rest))
        return false;
    if (rest.size() != 1 || rest[0].empty()) {
        cli::Fail(std::string(name) + " needs one firmware file", 2);
        return false;
    }
    session.ui.openFile = rest[0];
    return true;
}

int RunFirmware(cli::Args& args) {
    cControllerSession session;
    const bool recover = args.Flag("--recover");
    int code = 0;
    if (!Prepare(session, args, "firmware", code))
        return code;
    cDialogMain& c = *session.controller;
    if (!c.OnFirmwareUpdate(recover ? cDialogMain::Recovery::Recover
                                    : cDialogMain::Recovery::Refuse)) {
        if (!recover && c.FirmwareNeedsRecovery())
            return cli::Fail("nothing written; firmware --recover FILE writes the whole "
                             "application area from FILE, whose block then names the machine");
        return session.Finish(false, "Firmware Update: nothing written");
    }
    // The update ends with a read of the machine: what it runs now.
    if (c.DataOrigin() == kDataOriginMachine)
        std::printf("firmware: %s\n", ShownText(c.Image().SwVersion()).c_str());
    return 0;
}

int RunSupervisor(cli::Args& args) {
    cControllerSession session;
    int code = 0;
    if (!Prepare(session, args, "supervisor", code))
        return code;
    return session.Finish(session.controller->OnSupervisorUpdate(),
                          "Firmware Update SUPV: nothing written");
}

} // namespace

KELVANE_CLI_SESSION_COMMAND(
    "firmware", "firmware [--yes] [--recover] [--restore-settings] [--password PW] FILE",
    RunFirmware);
KELVANE_CLI_SESSION_COMMAND("supervisor", "supervisor [--yes] FILE", RunSupervisor);
