// The window's sync with the team's server: it runs in a process of its own after a machine
// command, so the window never waits for the server, and the status bar shows what waits to
// be sent, when the last sync worked, and why the last one failed.
#include "app/DialogMain.h"
#include "app/HistoryJournal.h"
#include "app/MainSheet.h"
#include "app/gui/MainWindow.h"
#include "lang/Language.h"
#include "sim/SimMachine.h"
#include "tests/app/gui/RecordingUi.h"
#include "tests/app/gui/SimWindowSetup.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class TestBackgroundSync : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> temp;
    std::unique_ptr<SimMachine> sim;
    std::string device;
    std::unique_ptr<RecordingUi> ui;
    std::unique_ptr<CMainSheet> sheet;
    cHistoryJournal journal;
    std::unique_ptr<cDialogMain> controller;
    int silent = -1; // a server that takes the connection and never answers

private slots:
    void init() {
        temp = std::make_unique<QTemporaryDir>();
        GermanForTests();
        sim = StartQuickSim(device);
        QVERIFY(!device.empty());
        // Not the folder kelvane-cli would find by itself: the sync must take the window's.
        const FolderSet folders = TestFolders(temp->path(), "window-data");
        std::string notice, error;
        QVERIFY2(journal.Open(folders.dataFolder, notice, error), error.c_str());

        silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(silent, reinterpret_cast<sockaddr*>(&address), length) == 0);
        QVERIFY(::listen(silent, 4) == 0);
        QVERIFY(::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length) == 0);
        journal.server = "host=127.0.0.1 port=" + std::to_string(ntohs(address.sin_port)) +
                         " connect_timeout=60";
        journal.syncProgram = KELVANE_BIN_DIR "/kelvane-cli";

        ui = std::make_unique<RecordingUi>();
        sheet = std::make_unique<CMainSheet>();
        controller = std::make_unique<cDialogMain>(*ui, *sheet, folders, [this] {
            return std::vector<AdapterRecord>{{"NORKSIM1", device}};
        });
        sheet->SetHost(controller.get());
        ReadyForTests(*controller, &journal);
    }

    void cleanup() {
        if (silent >= 0)
            ::close(silent);
        silent = -1;
        QTRY_VERIFY_WITH_TIMEOUT(!journal.Syncing(), 30000);
        sheet->SetHost(nullptr);
        controller.reset();
        sheet.reset();
        ui.reset();
        journal.store.Close();
        sim->Stop();
    }

    void aCommandNeverWaitsAndTheStatusBarSaysWhatWaitsAndWhy() {
        cMainWindow w(*controller, *sheet);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* pane = w.findChild<QLabel*>("syncPane");
        QVERIFY(pane);
        QCOMPARE(pane->text(), QString("Zu senden: 0, letzte Synchronisation: noch nie"));

        w.ReadButton()->click();
        QVERIFY(controller->DataLoaded());
        // The command has ended while its sync still waits for the server's answer.
        QVERIFY(journal.Syncing());
        QTRY_COMPARE_WITH_TIMEOUT(pane->text(),
                                  QString("Zu senden: 1, letzte Synchronisation: noch nie"), 10000);

        ::close(silent); // the server goes away: the waiting connection is cut
        silent = -1;
        QTRY_VERIFY_WITH_TIMEOUT(!journal.Syncing(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(pane->text(),
                                  QString("Zu senden: 1, letzte Synchronisation: noch nie - Der "
                                          "Server ist nicht erreichbar"),
                                  10000);

        // Right after the server was found unreachable the next command starts no sync.
        w.ReadButton()->click();
        QVERIFY(controller->DataLoaded());
        QVERIFY(!journal.Syncing());
        QTRY_COMPARE_WITH_TIMEOUT(pane->text(),
                                  QString("Zu senden: 2, letzte Synchronisation: noch nie - Der "
                                          "Server ist nicht erreichbar"),
                                  10000);
    }
};

QTEST_MAIN(TestBackgroundSync)
#include "TestBackgroundSync.moc"
