// kelvane-cli diff A B [--json]: the fields in which two images differ, in the units the pages
// show. A and B: a 512-byte image or 560-byte configuration file, a history entry "@ID", or
// "machine" (read now, through --port or the chosen port). Exit 0 equal, 1 different, 2 when
// an operand cannot be had.
#include "cli/Cli.h"
#include "cli/ControllerUi.h"
#include "cli/HistoryCli.h"
#include "cli/ImageInput.h"

#include <iostream>

namespace {

struct Operand {
    ParameterBlock image;
    int machineKind = 0;
    std::string label;
};

bool Resolve(const std::string& text, cControllerSession& session, Operand& out) {
    out.label = text;
    if (text == "machine") {
        cDialogMain& c = *session.controller;
        if (!c.OnReadFromMachine()) {
            session.Finish(false, "von Maschine: not read");
            return false;
        }
        out.image = c.Image();
        out.machineKind = 18;
        return true;
    }
    if (!text.empty() && text[0] == '@') {
        const std::optional<int64_t> id = ParseEntryId(text);
        if (!id) {
            cli::Fail("not an entry id: '" + text + "'");
            return false;
        }
        if (!session.history.store.IsOpen()) {
            cli::Fail(session.history.openError);
            return false;
        }
        HistoryError error;
        const std::optional<HistoryEntry> e = session.history.store.Entry(*id, error);
        if (std::string which; e && !ImagesIntact(*e, which)) {
            cli::Fail(cHistoryJournal::DamageText(e->id, which));
            return false;
        }
        if (!e || !e->Image()) {
            cli::Fail("history entry " + std::to_string(*id) + ": " +
                      (e ? "holds no parameter image" : cHistoryJournal::ErrorText(error)));
            return false;
        }
        out.image = *e->Image();
        return true;
    }
    ImageInput in;
    std::string error;
    if (!ReadImageInput(text, in, error)) {
        cli::Fail(error);
        return false;
    }
    if (in.isConfig && !in.sealHolds)
        std::cerr << "kelvane-cli: " << text
                  << ": the sealed digest does not hold (the program refuses to load it)\n";
    out.image = in.image;
    out.machineKind = in.machineKind;
    return true;
}

int RunDiff(cli::Args& args) {
    const bool json = args.Flag("--json");
    cControllerSession session;
    std::vector<std::string> rest;
    if (!session.Start(args, rest))
        return 2;
    if (rest.size() != 2)
        return cli::Fail("diff needs two operands: FILE, @ID or machine", 2);
    Operand a, b;
    if (!Resolve(rest[0], session, a) || !Resolve(rest[1], session, b))
        return 2;
    const ConversionContext ctxA = ContextFor(a.image, a.machineKind);
    const ConversionContext ctxB = ContextFor(b.image, b.machineKind);
    const std::vector<FieldDifference> differences = DiffImages(a.image, b.image, ctxA, ctxB);
    if (json) {
        nlohmann::json j;
        j["a"] = JsonText(a.label);
        j["b"] = JsonText(b.label);
        j["equal"] = differences.empty();
        j["differences"] = DifferencesJson(differences, a.image, b.image, ctxA, ctxB);
        std::cout << DumpJson(j) << "\n";
    } else {
        std::cout << DifferenceText(differences);
        if (differences.empty())
            std::cerr << "kelvane-cli: " << ShownText(a.label) << " and " << ShownText(b.label)
                      << " are equal\n";
    }
    return differences.empty() ? 0 : 1;
}

} // namespace

KELVANE_CLI_SESSION_COMMAND("diff", "diff A B [--json]   (A, B: FILE | @ID | machine)", RunDiff);
