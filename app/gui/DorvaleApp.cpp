#include "app/gui/DorvaleApp.h"

#include "app/DialogMain.h"
#include "app/FirstRun.h"
#include "app/HistoryJournal.h"
#include "app/MainSheet.h"
#include "app/gui/MainWindow.h"
#include "app/gui/QtUserInterface.h"
#include "lang/Language.h"
#include "report/gui/StepGraphicExport.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

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

CDorvaleApp::Options CDorvaleApp::ParseArguments(const QStringList& arguments) {
    Options options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == "--help" || a == "-h")
            options.help = true;
        else if (a == "--port" && i + 1 < arguments.size())
            options.port = arguments[++i];
        else if (a.startsWith("--port="))
            options.port = a.mid(7);
        else if (a == "--exit-when-shown")
            options.exitWhenShown = true;
        else if (a == "--read")
            options.read = true;
        else if (a == "--screenshot" && i + 1 < arguments.size())
            options.screenshot = arguments[++i];
        // Qt's own options (-platform, -style ...) are taken by QApplication before this.
        else
            options.error = QString("unknown argument: %1").arg(a);
    }
    return options;
}

int CDorvaleApp::Run(const Options& options) {
    const FolderSet folders = PrepareFolders();
    // German is always the base of the table; the chosen language is laid over it.
    SetLanguageFolder((folders.appFolder / "language").string() + "/");
    SetLanguage("German");

    QtUserInterface ui;
    ui.SetUnattended(!options.screenshot.isEmpty() || options.exitWhenShown);
    CMainSheet sheet;
    cHistoryJournal history; // outlives the controller that writes to it
    cDialogMain controller(ui, sheet, folders);
    sheet.SetHost(&controller);
    controller.writePicture = [](const std::string& path, int width, int height,
                                 const std::vector<StepShape>& steps,
                                 const StepDrawContext& context) {
        return ExportStepGraphic(path, width, height, steps, context);
    };
    controller.offerNewerFirmware = [&controller] { controller.OfferNewerFirmware(); };
    // A language file that cannot be read leaves the German texts; say why.
    QTranslator qtTexts;
    auto useLanguage = [&ui, &qtTexts](const std::string& name) {
        // Qt's own dialog texts ("Öffnen", "Suchen in:") in the same language, when the
        // system has them.
        QCoreApplication::removeTranslator(&qtTexts);
        const QString code = QtLanguageCode(name);
        if (!code.isEmpty() &&
            qtTexts.load("qtbase_" + code, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&qtTexts);
        const LanguageLoadResult result = SetLanguage(name);
        if (!result.Ok())
            ui.ShowMessage(result.Message(), cUserInterface::Buttons::Ok,
                           cUserInterface::Icon::Warning);
    };
    useLanguage(controller.settings.languageName);
    {
        // Without a history every write asks whether to go on without a backup.
        std::string notice, error;
        history.Open(folders.dataFolder, notice, error);
        if (!notice.empty())
            ui.ShowMessage(notice, cUserInterface::Buttons::Ok, cUserInterface::Icon::Warning);
        controller.journal = &history;
    }

    // The same controller is shown again after a language change, so the edited image and
    // the change flag survive it; only the window is made anew.
    bool first = true;
    do {
        if (controller.restartPending)
            useLanguage(controller.settings.languageName);
        cMainWindow window(controller, sheet, options.port);
        if (first && (options.read || !options.screenshot.isEmpty())) {
            QTimer::singleShot(0, &window, [&] {
                if (options.read)
                    window.RunCommand([&] { return controller.OnReadFromMachine(); });
                if (!options.screenshot.isEmpty()) {
                    if (!window.grab().save(options.screenshot))
                        std::fprintf(stderr, "kelvane: cannot write %s\n",
                                     qPrintable(options.screenshot));
                    controller.settingsChanged = false;
                    window.reject();
                }
            });
        }
        if (first && options.exitWhenShown) {
            QTimer::singleShot(0, &window, [&] {
                std::printf("shown\n");
                std::fflush(stdout);
                controller.settingsChanged = false;
                window.reject();
            });
        }
        first = false;
        window.exec();
    } while (controller.restartPending);
    sheet.SetHost(nullptr);
    return 0;
}
