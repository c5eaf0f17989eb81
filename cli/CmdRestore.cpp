// kelvane-cli restore ID [--port P] [--password PW] [--yes]: writes a history entry's image
// (the machine's state before that command, or the image then read) back to the machine it
// came from, with every check of "zur Maschine" and a backup first. The machine is read now;
// an entry of another machine is refused.
#include "cli/Cli.h"
#include "cli/ControllerUi.h"
#include "cli/HistoryCli.h"
#include "lang/Language.h"

#include <iostream>

namespace {

int RunRestore(cli::Args& args) {
    cControllerSession session;
    std::string password;
    const bool havePassword = args.Option("--password", password);
    session.ui.yes = args.Flag("--yes");
    std::vector<std::string> rest;
    if (!session.Start(args, rest))
        return 2;
    if (rest.size() != 1)
        return cli::Fail("restore needs one history entry id", 2);
    const std::optional<int64_t> id = ParseEntryId(rest[0]);
    if (!id)
        return cli::Fail("not an entry id: '" + rest[0] + "'", 2);
    if (havePassword)
        session.ui.password = password;
    if (!session.history.store.IsOpen())
        return cli::Fail(session.history.openError);

    // The window's "Wiederherstellen": the machine read, the entry of the same machine, what
    // comes back and what stays told, then written by "zur Maschine".
    if (!session.controller->RestoreFromHistory(*id))
        return session.Finish(false, "restore: not written");
    return 0;
}

} // namespace

KELVANE_CLI_SESSION_COMMAND("restore", "restore ID [--password PW] [--yes]", RunRestore);
