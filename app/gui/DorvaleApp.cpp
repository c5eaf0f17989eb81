#include "app/gui/DorvaleApp.h"

#include "app/DialogMain.h"
#include "app/FirstRun.h"
#include "app/Folders.h"
#include "app/HistoryJournal.h"
#include "app/MainSheet.h"
#include "app/gui/MainWindow.h"
#include "app/gui/QtUserInterface.h"
#include "lang/Language.h"
#include "report/gui/StepGraphicExport.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <QTranslator>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

// A closed terminal, a logout, `kill` or Ctrl-C: the handler only writes to a pipe; the window
// hears it from its event loop, lets a running command (a write) finish, then closes.
int gSignalPipe[2] = {-1, -1};
constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void OnEndSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    ssize_t ignored = ::write(gSignalPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

bool CatchEndSignals() {
    if (gSignalPipe[0] < 0 && ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction sa {};
    sa.sa_handler = OnEndSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int signal : kEndSignals)
        ::sigaction(signal, &sa, nullptr);
    // The terminal may be gone: a message to it must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

} // namespace

QString CDorvaleApp::QtLanguageCode(const std::string& languageName) {
    static const std::pair<const char*, const char*> kCodes[] = {
        {"german", "de"},   {"english", "en"},    {"french", "fr"},    {"italian", "it"},
        {"spanish", "es"},  {"portuguese", "pt"}, {"dutch", "nl"},     {"danish", "da"},
        {"swedish", "sv"},  {"finnish", "fi"},    {"polish", "pl"},    {"czech", "cs"},
        {"slovak", "sk"},   {"hungarian", "hu"},  {"russian", "ru"},   {"turkish", "tr"},
        {"japanese", "ja"}, {"korean", "ko"},     {"chinese", "zh_CN"}};
    const QString name = QString::fromStdString(languageName).toLower();
    for (const auto& [language, code] : kCodes)
        if (name == language)
            return code;
    return {};
}

CDorvaleApp::Options CDorvaleApp::ParseArguments(const QStringList& arguments, bool ownOnly) {
    Options options;
    // An option of ours that needs a value: the value, or the error that it is missing.
    auto valueOf = [&](int& i, const QString& name, QString& value) {
        if (i + 1 < arguments.size()) {
            value = arguments[++i];
            if (value.isEmpty() && options.error.isEmpty())
                options.error = QString("%1 needs a value").arg(name);
        } else if (options.error.isEmpty()) {
            options.error =
                QString("%1 needs a value (%2)")
                    .arg(name, name == "--port" ? "a device, e.g. /dev/ttyUSB0" : "a file name");
        }
    };
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == "--help" || a == "-h")
            options.help = true;
        else if (a == "--version")
            options.version = true;
        else if (a == "--port")
            valueOf(i, a, options.port);
        else if (a == "--trace")
            valueOf(i, a, options.trace);
        else if (a.startsWith("--port=")) {
            options.port = a.mid(7);
            if (options.port.isEmpty() && options.error.isEmpty())
                options.error = "--port needs a value";
        } else if (a == "--exit-when-shown")
            options.exitWhenShown = true;
        else if (a == "--read")
            options.read = true;
        else if (a == "--screenshot")
            valueOf(i, a, options.screenshot);
        else if (a.startsWith("--screenshot="))
            options.screenshot = a.mid(13);
        // Qt's own options (-platform, -style ...) are taken by QApplication before this.
        else if (!ownOnly && options.error.isEmpty())
            options.error = QString("unknown argument: %1").arg(a);
    }
    return options;
}

const char* CDorvaleApp::Usage() {
    return "usage: kelvane [--port DEVICE] [--trace FILE] [--read] [--screenshot FILE]\n"
           "  --port DEVICE      select this device in the port list (e.g. /dev/pts/3); a\n"
           "                     device discovery does not list is added to the list\n"
           "  --trace FILE       write every byte sent to and received from the machine to FILE\n"
           "  --read             read the machine (\"von Maschine\") at start\n"
           "  --screenshot FILE  save a PNG of the window and end\n"
           "  --version          print the program version and end\n"
           "  --help             print this and end\n";
}

bool CDorvaleApp::LoadBaseLanguage(cUserInterface& ui) {
    const LanguageLoadResult result = SetLanguage("German");
    if (result.Ok())
        return true;
    ui.ShowMessage(result.Message(), cUserInterface::Buttons::Ok, cUserInterface::Icon::Warning);
    return false;
}

int CDorvaleApp::Run(const Options& options) {
    const FolderSet folders = PrepareFolders();
    QtUserInterface ui;
    ui.SetUnattended(!options.screenshot.isEmpty() || options.exitWhenShown);
    // German is always the base of the table; the chosen language is laid over it.
    SetLanguageFolder((folders.appFolder / "language").string() + "/");
    const bool baseLoaded = LoadBaseLanguage(ui);

    CMainSheet sheet;
    cHistoryJournal history; // outlives the controller that writes to it
    cDialogMain controller(ui, sheet, folders);
    sheet.SetHost(&controller);
    controller.SetPictureWriter([](const std::string& path, int width, int height,
                                   const std::vector<StepShape>& steps,
                                   const StepDrawContext& context) {
        return ExportStepGraphic(path, width, height, steps, context);
    });
    controller.SetNewerFirmwareOffer([&controller] { controller.OfferNewerFirmware(); });
    // A language file that cannot be read leaves the German texts; say why.
    QTranslator qtTexts;
    auto useLanguage = [&ui, &qtTexts, baseLoaded](const std::string& name) {
        // Qt's own dialog texts ("Öffnen", "Suchen in:") in the same language, when the
        // system has them.
        QCoreApplication::removeTranslator(&qtTexts);
        const QString code = QtLanguageCode(name);
        if (!code.isEmpty() &&
            qtTexts.load("qtbase_" + code, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&qtTexts);
        const LanguageLoadResult result = SetLanguage(name);
        // A German base already said to be missing is not said twice.
        if (!result.Ok() && (baseLoaded || QString::fromStdString(name).toLower() != "german"))
            ui.ShowMessage(result.Message(), cUserInterface::Buttons::Ok,
                           cUserInterface::Icon::Warning);
    };
    useLanguage(controller.CurrentSettings().languageName);
    {
        // Without a history every write asks whether to go on without a backup.
        std::string notice, error;
        const HistorySettings shared = LoadHistorySettings(SettingsFile(folders.dataFolder));
        history.store.SetTechnician(shared.technician);
        history.server = shared.server;
        history.Open(folders.dataFolder, notice, error);
        if (!notice.empty())
            ui.ShowMessage(notice, cUserInterface::Buttons::Ok, cUserInterface::Icon::Warning);
        controller.SetJournal(&history);
    }
    if (!options.trace.isEmpty()) {
        std::string error;
        if (!controller.StartTrace(options.trace.toStdString(), "kelvane", error))
            ui.ShowMessage("--trace: " + error, cUserInterface::Buttons::Ok,
                           cUserInterface::Icon::Warning);
    }

    bool ending = false;
    cMainWindow* shown = nullptr;
    std::unique_ptr<QSocketNotifier> signalNotifier;
    QTimer closeWhenIdle;
    closeWhenIdle.setInterval(100);
    QObject::connect(&closeWhenIdle, &QTimer::timeout, [&] {
        // Between two windows (a language change) the loop below ends by itself.
        if (shown && shown->CloseWithoutAsking())
            closeWhenIdle.stop();
    });
    if (CatchEndSignals()) {
        signalNotifier = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, [&] {
            char bytes[16];
            while (::read(gSignalPipe[0], bytes, sizeof bytes) > 0) {
            }
            ending = true;
            closeWhenIdle.start();
        });
    }

    // The same controller is shown again after a language change, so the edited image and
    // the change flag survive it; only the window is made anew.
    bool first = true;
    do {
        if (controller.RestartPending())
            useLanguage(controller.CurrentSettings().languageName);
        cMainWindow window(controller, sheet, options.port);
        if (first && (options.read || !options.screenshot.isEmpty())) {
            QTimer::singleShot(0, &window, [&] {
                if (options.read)
                    window.RunCommand([&] { return controller.OnReadFromMachine(); });
                if (!options.screenshot.isEmpty()) {
                    if (!window.grab().save(options.screenshot))
                        std::fprintf(stderr, "kelvane: cannot write %s\n",
                                     qPrintable(options.screenshot));
                    controller.ForgetChanges();
                    window.reject();
                }
            });
        }
        if (first && options.exitWhenShown) {
            QTimer::singleShot(0, &window, [&] {
                std::printf("shown\n");
                std::fflush(stdout);
                controller.ForgetChanges();
                window.reject();
            });
        }
        first = false;
        shown = &window;
        window.exec();
        shown = nullptr;
    } while (controller.RestartPending() && !ending);
    closeWhenIdle.stop();
    sheet.SetHost(nullptr);
    return 0;
}
