// kelvane-cli write [--port PATH] [--password PW] [--verify] [--yes] IN: "zur Maschine".
// IN is a 512-byte image (as "read" writes it: counts as read from the machine, which is read
// first, as the window does before an edit) or a 560-byte configuration file (loaded as
// "Laden" does: only the steps and switches reach the machine). Every write is read back and
// compared with what was sent; --verify (now always done) is still accepted.
#include "base/FileIo.h"
#include "cli/Cli.h"
#include "cli/ControllerUi.h"
#include "files/ConfigFile.h"
#include "lang/Language.h"
#include "link/ResultCodes.h"

#include <filesystem>
#include <iostream>

namespace {

int RunWrite(cli::Args& args) {
    cControllerSession session;
    std::string password;
    const bool havePassword = args.Option("--password", password);
    const bool verify = args.Flag("--verify");
    session.ui.yes = args.Flag("--yes");
    std::vector<std::string> rest;
    if (!session.Start(args, rest))
        return 2;
    if (rest.size() != 1 || rest[0].empty())
        return cli::Fail("write needs one input file (image or configuration)", 2);
    std::string passwordError;
    if (havePassword && !cli::LocaleText(password, password, passwordError))
        return cli::Fail("--password: " + passwordError, 2);
    if (havePassword)
        session.ui.password = password;
    const std::string in = rest[0];

    // Exactly an image's size is an image; anything else is taken as a configuration file and
    // read as "Laden" reads it: its first 560 bytes, whatever follows ("ungültige
    // Konfiguration" when it is shorter).
    std::vector<uint8_t> bytes;
    std::string error;
    std::error_code ec;
    const bool regular = std::filesystem::is_regular_file(in, ec);
    const bool isImage = regular && std::filesystem::file_size(in, ec) == ParameterBlock::kSize;
    if ((!regular || isImage) && !ReadWholeFile(in, bytes, ParameterBlock::kSize, &error))
        return cli::Fail("cannot read " + in + ": " + error);

    cDialogMain& c = *session.controller;
    if (bytes.size() == ParameterBlock::kSize) {
        ParameterBlock edited;
        std::copy(bytes.begin(), bytes.end(), edited.bytes.begin());
        // The image counts as read from the machine: read the machine now, as the window does
        // before anything is edited, then take the file's image as the edit.
        if (!c.OnReadFromMachine())
            return session.Finish(false, "von Maschine: not read");
        // An image read from another machine carries that machine's serial number.
        if (edited.SerialNr() != c.Image().SerialNr()) {
            session.ui.ShowMessage(Translate("ungültige Zielmaschine"), cUserInterface::Buttons::Ok,
                                   cUserInterface::Icon::None);
            return 1;
        }
        c.PageImage() = edited;
        c.MarkChanged();
    } else {
        session.ui.openFile = in;
        if (!c.LoadConfiguration())
            return session.Finish(false, "Laden: not loaded");
    }

    if (!c.OnWriteToMachine())
        return session.Finish(false, "zur Maschine: not written");

    // Every write is read back through the loader and compared; --verify only says so.
    if (verify)
        std::cout << "verified: the machine holds the 512 bytes sent\n";
    return 0;
}

} // namespace

KELVANE_CLI_SESSION_COMMAND("write", "write [--password PW] [--verify] [--yes] IN", RunWrite);
