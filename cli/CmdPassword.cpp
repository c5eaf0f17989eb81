// kelvane-cli password [--port PATH] --old PW --new PW: "Passwort ändern". The new password is
// also its repetition; like the dialog's field it holds at most eight characters.
#include "cli/Cli.h"
#include "cli/ControllerUi.h"

#include <iostream>

namespace {

int RunPassword(cli::Args& args) {
    cControllerSession session;
    std::string oldPassword, newPassword;
    const bool haveOld = args.Option("--old", oldPassword);
    const bool haveNew = args.Option("--new", newPassword);
    std::vector<std::string> rest;
    if (!session.Start(args, rest))
        return 2;
    if (!rest.empty() || !haveOld || !haveNew)
        return cli::Fail("password needs --old PW and --new PW", 2);
    std::string error;
    if (!cli::LocaleText(oldPassword, oldPassword, error))
        return cli::Fail("--old: " + error, 2);
    if (!cli::LocaleText(newPassword, newPassword, error))
        return cli::Fail("--new: " + error, 2);
    session.ui.passwordChange =
        cUserInterface::PasswordChange{oldPassword, newPassword, newPassword};

    cDialogMain& c = *session.controller;
    if (!c.Ports().AdapterPresent())
        return cli::Fail("no adapter found");
    const bool ok = c.OnChangePassword();
    if (!ok && cDialogMain::LimitCharacters(newPassword, 8) != newPassword)
        std::cerr << "kelvane-cli: the new password has more than 8 characters\n";
    return session.Finish(ok, "Passwort ändern: not changed");
}

} // namespace

KELVANE_CLI_SESSION_COMMAND("password", "password --old PW --new PW", RunPassword);
