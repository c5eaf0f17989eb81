// kelvane-cli assign SERIAL NAME[@VERSION] | assign SERIAL --none: which approved configuration
// a machine must hold (NAME alone follows the newest version).
#include "cli/Cli.h"
#include "cli/FleetCli.h"

#include <iostream>

namespace {

int RunAssign(cli::Args& args) {
    const bool none = args.Flag("--none");
    const std::vector<std::string> rest = args.Positional();
    if (args.HasError())
        return 2;
    if (rest.size() != (none ? 1u : 2u) || rest[0].empty())
        return cli::Fail("usage: kelvane-cli assign SERIAL NAME[@VERSION] | assign SERIAL --none",
                         2);
    LibraryRef ref;
    if (!none && !ParseLibraryRef(rest[1], ref))
        return cli::Fail("\"" + rest[1] + "\" is no configuration name (NAME or NAME@VERSION)", 2);

    cHistoryStore history;
    cFleetStore fleet;
    if (!OpenFleet(history, fleet))
        return 1;
    bool known = false;
    std::string error;
    if (!fleet.Assign(rest[0], ref, known, error))
        return cli::Fail("assign: " + error);
    if (!known)
        std::cerr << "kelvane-cli: the history has not seen a machine " << rest[0]
                  << " yet; assigned all the same\n";
    if (none)
        std::cout << rest[0] << ": no configuration assigned\n";
    else if (ref.version)
        std::cout << rest[0] << ": " << ref.name << " v" << *ref.version << "\n";
    else
        std::cout << rest[0] << ": " << ref.name << " (the newest version, now v"
                  << fleet.Find(ref, error).value_or(LibraryVersion{}).version << ")\n";
    return 0;
}

} // namespace

KELVANE_CLI_COMMAND("assign", "assign SERIAL NAME[@VERSION] | assign SERIAL --none", RunAssign);
