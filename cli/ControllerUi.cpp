#include "cli/ControllerUi.h"
#include "cli/HistoryCli.h"

#include "app/Folders.h"
#include "app/Settings.h"
#include "lang/Language.h"
#include "link/WriteStop.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <iostream>

#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Ctrl-C while a write to the machine runs (from its backup to its record): a write cut in one
// frame leaves the machine with half an area, so the first one only says the write finishes; a
// second one within two seconds stops it between frames. A closed terminal, a logout or `kill`
// (SIGHUP, SIGTERM, SIGQUIT) count as the first one: the write finishes and is recorded.
// Outside a write every one of them ends the program as always.
// Texts are translated before, the handler only copies them.
char gFinishesFirst[512];
char gStopping[512];
std::atomic<long long> gFirstInterruptMs{-1};
constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

long long MonotonicMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void OnEndSignal(int signal) {
    const int saved = errno;
    // After a write the command still tells its outcome; a signal then waits for that too.
    if (WriteStop::writing.load() <= 0 && !WriteStop::wrote.load()) {
        std::signal(signal, SIG_DFL);
        ::raise(signal);
        errno = saved;
        return;
    }
    // The terminal or the session may be gone: what is said afterwards must not end us.
    if (signal != SIGINT)
        std::signal(SIGPIPE, SIG_IGN);
    const long long now = MonotonicMs();
    const long long first = gFirstInterruptMs.load();
    const char* text = gFinishesFirst;
    if (signal == SIGINT && first >= 0 && now - first <= 2000) {
        WriteStop::requested = true;
        text = gStopping;
    } else if (signal == SIGINT) {
        gFirstInterruptMs = now;
    }
    ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
    errno = saved;
}

void CopyText(char* to, size_t size, const std::string& text) {
    const std::string line = "\nkelvane-cli: " + text + "\n";
    std::strncpy(to, line.c_str(), size - 1);
    to[size - 1] = 0;
}

void CatchInterruptDuringWrites() {
    CopyText(gFinishesFirst, sizeof gFinishesFirst,
             Translate("Die Übertragung zur Maschine wird zu Ende geführt (Strg+C innerhalb von "
                       "zwei Sekunden noch einmal: nach dem laufenden Block anhalten)"));
    CopyText(gStopping, sizeof gStopping,
             Translate("Die Übertragung wird nach dem laufenden Block angehalten"));
    struct sigaction sa {};
    sa.sa_handler = OnEndSignal;
    sigemptyset(&sa.sa_mask);
    for (int signal : kEndSignals)
        sigaddset(&sa.sa_mask, signal);
    sa.sa_flags = SA_RESTART;
    for (int signal : kEndSignals)
        ::sigaction(signal, &sa, nullptr);
}

} // namespace

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
    server = HistoryServer(args);
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
    controller->Ports().SetReportCount(false);
    std::string traceError;
    if (traced && !controller->StartTrace(tracePath, "kelvane-cli", traceError)) {
        cli::Fail("cannot write the trace " + traceError);
        return false;
    }
    if (!chosen)
        language = controller->CurrentSettings().languageName;
    LanguageLoadResult loaded = SetLanguage(language);
    if (!loaded.Ok()) {
        if (chosen) {
            cli::Fail(loaded.Message());
            return false;
        }
        // The window keeps the German texts when the stored language is gone; so do we.
        std::cerr << "kelvane-cli: " << loaded.Message() << "\n";
    }
    // Without a history every write asks (and is refused unless --no-backup).
    std::string notice, error;
    history.store.SetTechnician(LoadHistorySettings(SettingsFile(folders.dataFolder)).technician);
    history.Open(folders.dataFolder, notice, error);
    if (!notice.empty())
        std::cerr << "kelvane-cli: " << notice << "\n";
    controller->SetJournal(&history);
    controller->DiscoverAdapters();
    CatchInterruptDuringWrites();
    rest = args.Positional();
    return !args.HasError();
}

cControllerSession::~cControllerSession() {
    SyncInBackground(history.store, server);
}

int cControllerSession::Finish(bool ok, const std::string& what) {
    if (ok)
        return 0;
    if (ui.ErrorsShown() == 0) {
        if (controller && !controller->Ports().AdapterPresent())
            cli::Fail("no adapter found (--port PATH names the port)");
        else
            cli::Fail(what);
    }
    return 1;
}

void cControllerSession::ShowReadBar() {
    controller->SetReadSteps([this](int percent) {
        if (!readBarOpen) {
            ui.ShowProgress(true);
            readBarOpen = true;
        }
        ui.SetProgress(percent);
        // Closed at once: the command's own message follows on its own line.
        if (percent >= 100)
            EndReadBar();
    });
}

void cControllerSession::EndReadBar() {
    if (readBarOpen)
        ui.ShowProgress(false);
    readBarOpen = false;
}
