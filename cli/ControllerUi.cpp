#include "cli/ControllerUi.h"

#include "app/Folders.h"
#include "app/Settings.h"
#include "lang/Language.h"

#include <algorithm>
#include <iostream>

#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

void cControllerUi::Error(const std::string& text) {
    if (barShown) { // a message starts on a line of its own
        std::cerr << "\n";
        barShown = false;
    }
    std::cerr << "kelvane-cli: " << text << "\n";
    ++errorsShown;
}

cUserInterface::Answer cControllerUi::ShowMessage(const std::string& text, Buttons buttons,
                                                  Icon icon) {
    if (buttons == Buttons::Ok) {
        if (icon == Icon::Information)
            std::cout << text << "\n";
        else
            Error(text);
        return Answer::Ok;
    }
    if (yes) {
        std::cout << text << "\n(--yes)\n";
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    Error(text + "\n(not confirmed: --yes answers it)");
    return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
}

bool cControllerUi::ConfirmWithoutBackup(const std::string& text) {
    if (noBackup) {
        std::cerr << "kelvane-cli: " << text << "\n(--no-backup)\n";
        return true;
    }
    Error(text + "\n(refused: --no-backup writes without a backup)");
    return false;
}

bool cControllerUi::ConfirmSettingsBack(const std::string& text) {
    // The update itself succeeded: this is news, not an error.
    std::cout << text
              << (restoreSettings ? "\n(--restore-settings)\n"
                                  : "\n(not written: --restore-settings writes them back)\n");
    return restoreSettings;
}

void cControllerUi::ShowStatus(const std::string& text) {
    // The status bar's progress texts are not worth a line; a history that failed to keep an
    // entry is.
    if (text.rfind(Translate("Verlauf: Eintrag nicht gespeichert:"), 0) == 0)
        std::cerr << "kelvane-cli: " << text << "\n";
}

void cControllerUi::ShowProgress(bool visible) {
    if (visible && progressBar && ::isatty(STDERR_FILENO)) {
        barShown = true;
        barPercent = -1;
        SetProgress(0);
    } else if (!visible && barShown) {
        std::cerr << "\n" << std::flush;
        barShown = false;
    }
}

void cControllerUi::SetProgress(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (!barShown || percent == barPercent)
        return;
    barPercent = percent;
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::cerr << "\r[" << std::string(size_t(filled), '#')
              << std::string(size_t(kWidth - filled), ' ') << "] " << percent << " %" << std::flush;
}

void cControllerUi::ShowNotice(const std::string& text) {
    std::cerr << "kelvane-cli: " << text << "\n";
}

bool cControllerUi::AskPassword(std::string& out) {
    if (!password) {
        Error(Translate("Bitte geben Sie Ihr Passwort ein") + " (--password PW)");
        return false;
    }
    out = *password;
    return true;
}

bool cControllerUi::AskPasswordChange(PasswordChange& entry) {
    if (!passwordChange)
        return false;
    entry = *passwordChange;
    return true;
}

bool cControllerUi::AskOpenFile(const FileRequest& request, std::string& path) {
    if (openFile) {
        path = *openFile;
        return true;
    }
    if (request.proposedName.empty()) {
        Error("no file given");
        return false;
    }
    // As a dialog confirmed with the name it proposes.
    path = (request.folder / request.proposedName).string();
    return true;
}

bool cControllerUi::AskSaveFile(const FileRequest&, std::string& path) {
    if (!saveFile)
        return false;
    std::error_code ec;
    if (fs::exists(*saveFile, ec) && !yes) {
        Error(*saveFile + " exists (not replaced: --yes replaces it)");
        return false;
    }
    path = *saveFile;
    return true;
}

bool cControllerSession::Start(cli::Args& args, std::vector<std::string>& rest) {
    std::string language;
    const bool chosen = args.Option("--language", language);
    args.Option("--port", port);
    if (args.Flag("--quiet"))
        ui.progressBar = false;
    std::string tracePath;
    const bool traced = args.Option("--trace", tracePath);
    ui.noBackup = args.Flag("--no-backup");
    if (chosen && !IsValidLanguageName(language)) {
        cli::Fail("not a language name: '" + language + "'");
        return false;
    }

    FolderSet folders;
    folders.appFolder = AppFolder();
    folders.dataFolder = DataFolder();
    folders.documentsFolder = DocumentsFolder();

    // As the program starts: German is the base of every table, the chosen language over it.
    SetLanguageFolder((folders.appFolder / "language").string() + "/");
    SetLanguage("German");
    PortSelection::ListFn lister;
    if (!port.empty()) {
        const std::string device = port;
        lister = [device] { return std::vector<AdapterRecord>{{"", device}}; };
    }
    controller = std::make_unique<cDialogMain>(ui, sheet, folders, lister);
    controller->portSelection.SetReportCount(false);
    std::string traceError;
    if (traced && !controller->StartTrace(tracePath, "kelvane-cli", traceError)) {
        cli::Fail("cannot write the trace " + traceError);
        return false;
    }
    if (!chosen)
        language = controller->settings.languageName;
    LanguageLoadResult loaded = SetLanguage(language);
    if (!loaded.Ok()) {
        if (chosen) {
            cli::Fail(loaded.Message());
            return false;
        }
        // The window keeps the German texts when the stored language is gone; so do we.
        std::cerr << "kelvane-cli: " << loaded.Message() << "\n";
    }
    controller->configName = Translate(" --- keine ---");
    // Without a history every write asks (and is refused unless --no-backup).
    std::string notice, error;
    history.Open(folders.dataFolder, notice, error);
    if (!notice.empty())
        std::cerr << "kelvane-cli: " << notice << "\n";
    controller->journal = &history;
    controller->DiscoverAdapters();
    rest = args.Positional();
    return !args.HasError();
}

int cControllerSession::Finish(bool ok, const std::string& what) {
    if (ok)
        return 0;
    if (ui.ErrorsShown() == 0) {
        if (controller && !controller->portSelection.AdapterPresent())
            cli::Fail("no adapter found (--port PATH names the port)");
        else
            cli::Fail(what);
    }
    return 1;
}
