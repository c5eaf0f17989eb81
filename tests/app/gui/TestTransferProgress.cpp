// The window during a transfer at the line's real pace: it keeps painting, a firmware write
// shows its status text and progress, and a second command waits its turn.
#include "app/DialogMain.h"
#include "app/MainSheet.h"
#include "app/gui/MainWindow.h"
#include "app/gui/QtUserInterface.h"
#include "lang/Language.h"
#include "sim/SimMachine.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// The window's own answers, with the firmware file chosen and every question answered OK.
class ChoosingUi : public QtUserInterface {
public:
    Answer ShowMessage(const std::string& text, Buttons buttons, Icon) override {
        messages.push_back(text);
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    bool AskOpenFile(const FileRequest&, std::string& path) override {
        path = file;
        return !file.empty();
    }
    std::string file;
    std::vector<std::string> messages;
};

// Looks at the window every 10 ms while a command runs.
struct Probe {
    int samples = 0, progressShown = 0, secondRefused = 0, maxValue = 0;
    QStringList statusTexts;
    QTimer timer;

    explicit Probe(cMainWindow& w) {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this, &w] {
            if (!w.Busy())
                return;
            ++samples;
            if (w.Progress()->isVisible()) {
                ++progressShown;
                maxValue = std::max(maxValue, w.Progress()->value());
            }
            const QString status = w.StatusPane()->text();
            if (!status.isEmpty() && !statusTexts.contains(status))
                statusTexts << status;
            if (!w.RunCommand([] { return true; }))
                ++secondRefused;
        });
        timer.start();
    }
};

} // namespace

class TestTransferProgress : public QObject {
    Q_OBJECT
private slots:
    void aPacedReadShowsProgressAndTakesNoSecondCommand() {
        SetLanguageFolder(KELVANE_BIN_DIR "/language/");
        SetLanguage("German");
        SimOptions options;
        options.announce = false; // paced: the read takes about half a second
        SimMachine sim(options);
        const std::string device = sim.Start();
        QVERIFY(!device.empty());

        QTemporaryDir temp;
        FolderSet folders;
        folders.appFolder = KELVANE_BIN_DIR;
        folders.dataFolder = (temp.path() + "/data").toStdString();
        folders.documentsFolder = (temp.path() + "/documents").toStdString();
        std::filesystem::create_directories(folders.dataFolder);
        ChoosingUi ui;
        ui.SetUnattended(true); // a dialog the script does not answer must not wait
        CMainSheet sheet;
        cDialogMain controller(ui, sheet, folders, [&] {
            return std::vector<AdapterRecord>{{"NORKSIM1", device}};
        });
        sheet.SetHost(&controller);
        controller.Ports().SetReportCount(false);

        cMainWindow w(controller, sheet);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.Progress()->isVisible());

        {
            Probe probe(w);
            w.ReadButton()->click();
            QVERIFY2(controller.DataLoaded(), ui.messages.empty() ? "" : ui.messages[0].c_str());
            QVERIFY2(probe.samples > 5,
                     qPrintable(QString("only %1 looks during the read").arg(probe.samples)));
            QCOMPARE(probe.secondRefused, probe.samples);
        }

        ui.file = KELVANE_BIN_DIR "/firmware/TVX18-4200_V04.03.000.bin";
        ui.messages.clear();
        Probe probe(w);
        QVERIFY(w.RunCommand([&] { return controller.OnFirmwareUpdate(); }));
        QVERIFY(probe.progressShown > 0);
        QVERIFY(probe.maxValue > 50);
        QCOMPARE(probe.secondRefused, probe.samples);
        QVERIFY2(probe.statusTexts.contains("Übertragung zur Maschine"),
                 qPrintable(probe.statusTexts.join("|")));
        QVERIFY(!w.Progress()->isVisible());
        QVERIFY(!w.Busy());
        controller.ForgetChanges();
        sheet.SetHost(nullptr);
    }
};

QTEST_MAIN(TestTransferProgress)
#include "TestTransferProgress.moc"
