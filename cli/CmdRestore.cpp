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

    HistoryError error;
    const std::optional<HistoryEntry> entry = session.history.store.Entry(*id, error);
    if (!entry)
        return cli::Fail(cHistoryJournal::ErrorText(error));
    if (!entry->Image())
        return cli::Fail(Translate("Der Eintrag enthält kein Parameterabbild"));

    cDialogMain& c = *session.controller;
    if (!c.OnReadFromMachine())
        return session.Finish(false, "von Maschine: not read");
    HistoryEntry now;
    now.TakeIdentity(c.Image());
    if (now.serialNr != entry->serialNr)
        return cli::Fail(Translate("Der Eintrag stammt von einer anderen Maschine") + " (" +
                         Translate("Seriennummer") + " " + ShownLatin1(entry->serialNr) + "; " +
                         Translate("angeschlossen") + ": " + ShownLatin1(now.serialNr) + ")");

    const ParameterBlock& target = *entry->Image();
    const std::vector<FieldDifference> differences =
        DiffImages(c.Image(), target, ContextFor(c.Image(), 18), ContextFor(target, 18));
    if (differences.empty()) {
        std::cout << "the machine already holds entry " << *id << "\n";
        return 0;
    }
    std::cout << DifferenceText(differences);
    if (session.ui.ShowMessage(Translate("Verlauf") + " #" + std::to_string(*id) + ": " +
                                   std::to_string(differences.size()) + " fields",
                               cUserInterface::Buttons::OkCancel,
                               cUserInterface::Icon::None) != cUserInterface::Answer::Ok)
        return 1;
    // As an image read from this machine and edited: the whole image goes back, the machine's
    // own identity and password stay.
    c.PageImage() = target;
    c.MarkChanged();
    if (!c.OnWriteToMachine())
        return session.Finish(false, "zur Maschine: not written");
    return 0;
}

} // namespace

KELVANE_CLI_SESSION_COMMAND("restore", "restore ID [--password PW] [--yes]", RunRestore);
