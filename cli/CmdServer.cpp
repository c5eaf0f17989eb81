// kelvane-cli server init [--server CONNINFO]: run by the database's owner, makes (or brings up
// to date) the schema "kelvane" of the team's history from the SQL files of the installation.
#include "app/Folders.h"
#include "app/HistoryJournal.h"
#include "cli/Cli.h"
#include "cli/HistoryCli.h"
#include "history/ServerHistory.h"

#include <iostream>

namespace {

int RunServer(cli::Args& args) {
    const std::string server = HistoryServer(args);
    const std::vector<std::string> rest = args.Positional();
    if (args.HasError())
        return 2;
    if (rest.size() != 1 || rest[0] != "init")
        return cli::Fail("usage: kelvane-cli server init [--server CONNINFO]", 2);
    if (server.empty())
        return cli::Fail("no server configured (--server CONNINFO, or HistoryServer in the "
                         "settings)");
    cServerHistory history;
    ServerError error;
    int from = 0;
    if (!history.Connect(server, error) || !history.InitSchema(AppFolder() / "sql", from, error))
        return cli::Fail(SyncErrorText(error));
    const int to = cServerHistory::kSchemaVersion;
    if (from == to)
        std::cout << "schema kelvane is current (version " << to << ")\n";
    else if (from == 0)
        std::cout << "schema kelvane created (version " << to << ")\n";
    else
        std::cout << "schema kelvane upgraded from version " << from << " to " << to << "\n";
    return 0;
}

} // namespace

KELVANE_CLI_COMMAND("server", "server init [--server CONNINFO]", RunServer);
