// kelvane-cli save [--yes] IN.bin OUT.bin: "Speichern" of a 512-byte image: OUT becomes the
// sealed configuration file, without the machine's identity, maintenance data and password.
// An existing OUT is replaced only with --yes.
#include "base/FileIo.h"
#include "cli/Cli.h"
#include "cli/ControllerUi.h"

#include <iostream>

namespace {

int RunSave(cli::Args& args) {
    cControllerSession session;
    session.ui.yes = args.Flag("--yes");
    std::vector<std::string> rest;
    if (!session.Start(args, rest))
        return 2;
    if (rest.size() != 2 || rest[0].empty() || rest[1].empty())
        return cli::Fail("save needs IN.bin (a 512-byte image) and OUT.bin", 2);

    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadWholeFile(rest[0], bytes, 4096, &error))
        return cli::Fail("cannot read " + rest[0] + ": " + error);
    if (bytes.size() != ParameterBlock::kSize)
        return cli::Fail(rest[0] + ": " + std::to_string(bytes.size()) +
                         " bytes: not a 512-byte parameter image");

    cDialogMain& c = *session.controller;
    ParameterBlock read;
    std::copy(bytes.begin(), bytes.end(), read.bytes.begin());
    c.TakeImageAsRead(read);
    session.ui.saveFile = rest[1];
    if (!c.SaveConfiguration())
        return session.Finish(false, "Speichern: not saved");
    std::cout << "configuration written to " << rest[1] << "\n";
    return 0;
}

} // namespace

KELVANE_CLI_SESSION_COMMAND("save", "save [--yes] IN.bin OUT.bin", RunSave);
