// kelvane-cli factory [--port PATH] [--file F] [--yes]: "Werkseinstellung". Without --file the
// factory file named after the machine is taken from the factorySettings folder. All user
// settings on the machine are replaced, so the question before the write needs --yes.
#include "cli/Cli.h"
#include "cli/ControllerUi.h"

namespace {

int RunFactory(cli::Args& args) {
    cControllerSession session;
    std::string file;
    if (args.Option("--file", file))
        session.ui.openFile = file;
    session.ui.yes = args.Flag("--yes");
    std::vector<std::string> rest;
    if (!session.Start(args, rest))
        return 2;
    if (!rest.empty())
        return cli::Fail("factory takes no file argument (--file F)", 2);
    return session.Finish(session.controller->RestoreFactorySettings(),
                          "Werkseinstellung: not restored");
}

} // namespace

KELVANE_CLI_SESSION_COMMAND("factory", "factory [--file F] [--yes]", RunFactory);
