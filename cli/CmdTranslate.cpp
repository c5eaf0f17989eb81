// kelvane-cli translate [--language NAME] TEXT: a German text as the chosen language shows it.
#include "app/Folders.h"
#include "app/Settings.h"
#include "cli/Cli.h"
#include "lang/Language.h"

#include <iostream>

namespace {

int RunTranslate(cli::Args& args) {
    std::string language;
    const bool chosen = args.Option("--language", language);
    std::vector<std::string> rest = args.Positional();
    if (args.HasError())
        return 2;
    if (rest.size() != 1)
        return cli::Fail("translate needs exactly one TEXT (quote it)\n"
                         "usage: kelvane-cli translate [--language NAME] TEXT",
                         2);
    if (chosen && !IsValidLanguageName(language))
        return cli::Fail("not a language name: '" + language + "'", 2);

    // As the program starts: German is the base of every table, the chosen language over it.
    SetLanguageFolder((AppFolder() / "language").string() + "/");
    SetLanguage("German");
    if (!chosen) {
        // The user's language from the settings; only read, nothing is created.
        Settings settings;
        LoadSettings(SettingsFile(DataFolder()), settings);
        language = settings.languageName;
    }
    LanguageLoadResult loaded = SetLanguage(language);
    if (!loaded.Ok()) {
        if (chosen)
            return cli::Fail(loaded.Message());
        // The window keeps the German texts when the stored language is gone; so do we.
        std::cerr << "kelvane-cli: " << loaded.Message() << "\n";
    }
    std::cout << Translate(rest[0]) << "\n";
    return 0;
}

} // namespace

KELVANE_CLI_COMMAND("translate", "translate [--language NAME] TEXT", RunTranslate);
