// "Verlauf": the history dialog on a controller that read from and wrote to the simulated
// machine; the difference against the editor, two entries compared, an entry restored.
#include "app/DialogMain.h"
#include "app/HistoryJournal.h"
#include "app/MainSheet.h"
#include "app/gui/DialogHistory.h"
#include "app/gui/MainWindow.h"
#include "app/gui/QtUserInterface.h"
#include "lang/Language.h"
#include "sim/SimMachine.h"
#include "tests/app/gui/ModalHelpers.h"
#include "tests/app/gui/RecordingUi.h"
#include "tests/app/gui/SimWindowSetup.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {

// The record names behind the rows (the rows show the pages' captions).
QStringList Fields(QTreeWidget* list) {
    QStringList names;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        names << list->topLevelItem(i)->data(0, Qt::UserRole).toString();
    return names;
}

QStringList Rows(QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = list->topLevelItem(i);
        rows << item->text(0) + " | " + item->text(1) + " | " + item->text(2);
    }
    return rows;
}

} // namespace

class TestDialogHistory : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> temp;
    std::unique_ptr<SimMachine> sim;
    std::string device;
    std::unique_ptr<RecordingUi> ui;
    std::unique_ptr<CMainSheet> sheet;
    cHistoryJournal journal;
    std::unique_ptr<cDialogMain> controller;

private slots:
    void init() {
        temp = std::make_unique<QTemporaryDir>();
        GermanForTests();
        sim = StartQuickSim(device);
        QVERIFY(!device.empty());
        const FolderSet folders = TestFolders(temp->path());
        std::string notice, error;
        QVERIFY2(journal.Open(folders.dataFolder, notice, error), error.c_str());
        ui = std::make_unique<RecordingUi>();
        sheet = std::make_unique<CMainSheet>();
        controller = std::make_unique<cDialogMain>(*ui, *sheet, folders, [this] {
            return std::vector<AdapterRecord>{{"NORKSIM1", device}};
        });
        sheet->SetHost(controller.get());
        ReadyForTests(*controller, &journal);
    }

    void cleanup() {
        sheet->SetHost(nullptr);
        controller.reset();
        sheet.reset();
        ui.reset();
        journal.store.Close();
        sim->Stop();
    }

    void showsDifferencesComparesAndRestores() {
        QVERIFY(controller->OnReadFromMachine());
        const ParameterBlock before = controller->Image();
        controller->PageImage().Step(1).SetTime(640);
        controller->MarkChanged();
        ui->passwords = {"0000"};
        QVERIFY(controller->OnWriteToMachine());

        // The menu entry is there.
        {
            cMainWindow w(*controller, *sheet);
            QAction* entry = w.findChild<QAction*>("history");
            QVERIFY(entry);
            QCOMPARE(entry->text(), QString("Verlauf"));
        }

        cDialogHistory d(*controller, journal.store);
        d.show();
        QTreeWidget* machines = d.MachineList();
        QCOMPARE(machines->topLevelItemCount(), 1);
        QCOMPARE(machines->topLevelItem(0)->text(0), QString("SIM0000001"));
        QCOMPARE(machines->headerItem()->text(4), QString("Verschraubungszähler"));
        QVERIFY(!machines->topLevelItem(0)->text(4).isEmpty());
        // The machine's row is shown whole: its counter at the end is not cut off.
        QCoreApplication::processEvents();
        int rowWidth = 0;
        for (int c = 0; c < machines->columnCount(); ++c)
            rowWidth += machines->columnWidth(c);
        QVERIFY(machines->viewport()->width() >= rowWidth);
        QCOMPARE(d.EntryList()->topLevelItemCount(), 2);
        QCOMPARE(d.EntryList()->topLevelItem(0)->text(1), QString("zur Maschine"));
        QCOMPARE(d.EntryList()->topLevelItem(1)->text(1), QString("von Maschine"));
        // The newest entry, its state before the write, against the editor.
        QCOMPARE(Fields(d.DifferenceList()), QStringList({"writeMark", "set1.step2.time"}));
        QCOMPARE(d.DifferenceList()->topLevelItem(1)->text(0),
                 QString("Parametersatz 1 › Programmschritt 2 › Zeit"));
        QCOMPARE(d.DifferenceList()->topLevelItem(1)->text(2), QString("640 ms"));
        // A message the column cuts is there whole in its tooltip; who and where beside it.
        for (int i = 0; i < d.EntryList()->topLevelItemCount(); ++i) {
            QCOMPARE(d.EntryList()->topLevelItem(i)->toolTip(5).replace('\n', ' '),
                     d.EntryList()->topLevelItem(i)->text(5));
            QVERIFY(!d.EntryList()->topLevelItem(i)->text(3).isEmpty());
            QVERIFY(!d.EntryList()->topLevelItem(i)->text(4).isEmpty());
        }
        QVERIFY(!d.SyncButton()->isEnabled()); // no server configured
        QVERIFY(d.RestoreButton()->isEnabled());
        QVERIFY(!d.CompareButton()->isEnabled());
        const QString dir = qEnvironmentVariable("KELVANE_SCREENSHOT_DIR");
        if (!dir.isEmpty())
            QVERIFY(d.grab().save(dir + "/history-dialog.png"));

        // The read and the write: the write by what the machine held after it.
        d.EntryList()->topLevelItem(1)->setSelected(true);
        QVERIFY(d.CompareButton()->isEnabled());
        d.CompareButton()->click();
        QVERIFY(Fields(d.DifferenceList()).contains("set1.step2.time"));
        QVERIFY(!d.DifferenceTitle()->text().contains("keine Unterschiede"));
        if (!dir.isEmpty())
            QVERIFY(d.grab().save(dir + "/history-compare.png"));

        d.EntryList()->clearSelection();
        d.EntryList()->topLevelItem(0)->setSelected(true);
        // Restored as `kelvane-cli restore` does it: told, confirmed, written, named.
        ui->messages.clear();
        ui->answers = {cUserInterface::Answer::Ok};
        ui->passwords = {"0000"};
        d.RestoreButton()->click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        ParameterBlock machine;
        machine.bytes = sim->ParameterImage();
        QCOMPARE(machine.Step(1).Time(), before.Step(1).Time());
        QCOMPARE(controller->DataOrigin(), kDataOriginMachine);
        QCOMPARE(int(ui->messages.size()), 2);
        QVERIFY(ui->messages[0].find("Von der Maschine bleiben") != std::string::npos);
        QVERIFY(ui->messages[1].find("set1.step2.time") != std::string::npos);
    }

    // The restore as the technician meets it: the program's own boxes and password dialog,
    // answered as they come up (pictures of the two boxes with KELVANE_SCREENSHOT_DIR).
    void restoreTellsBeforeAndAfterInTheProgramsBoxes() {
        QVERIFY(controller->OnReadFromMachine());
        const ParameterBlock before = controller->Image();
        controller->PageImage().Step(1).SetTime(640);
        controller->PageImage().SetCalName("Auditor");
        controller->MarkChanged();
        ui->passwords = {"0000"};
        QVERIFY(controller->OnWriteToMachine());

        QWidget parent;
        parent.resize(900, 600);
        parent.show();
        QtUserInterface screen(&parent);
        sheet->SetHost(nullptr);
        CMainSheet screenSheet;
        cDialogMain c(screen, screenSheet, controller->Folders(), [this] {
            return std::vector<AdapterRecord>{{"NORKSIM1", device}};
        });
        screenSheet.SetHost(&c);
        ReadyForTests(c, &journal);

        const QString dir = qEnvironmentVariable("KELVANE_SCREENSHOT_DIR");
        QStringList boxes;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            QWidget* w = QApplication::activeModalWidget();
            // A box of the next question may sit where the last one was: marked, not remembered.
            if (!w || w->property("answered").toBool() || !w->isVisible())
                return;
            w->setProperty("answered", true);
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                boxes << box->text();
                if (!dir.isEmpty())
                    box->grab().save(dir + QString("/restore-box-%1.png").arg(boxes.size()));
                ClickButton(box, "OK");
            } else if (auto* field = w->findChild<QLineEdit*>("password")) {
                QTest::keyClicks(field, "0000");
                ClickButton(w, "OK");
            }
        });
        answer.start(20);
        {
            cDialogHistory d(c, journal.store);
            d.show();
            d.EntryList()->clearSelection();
            d.EntryList()->topLevelItem(0)->setSelected(true);
            d.RestoreButton()->click();
            QCOMPARE(d.result(), int(QDialog::Accepted));
        }
        answer.stop();
        screenSheet.SetHost(nullptr);
        sheet->SetHost(controller.get());

        ParameterBlock machine;
        machine.bytes = sim->ParameterImage();
        QCOMPARE(machine.Step(1).Time(), before.Step(1).Time());
        QCOMPARE(machine.CalName(), before.CalName());
        // Before: what comes back, by caption, and what stays; after: one box, the fields.
        QCOMPARE(boxes.size(), 2);
        QVERIFY2(boxes[0].contains("Parametersatz 1 › Programmschritt 2 › Zeit (set1.step2.time)"),
                 qPrintable(boxes[0]));
        QVERIFY2(boxes[0].contains("Von der Maschine bleiben"), qPrintable(boxes[0]));
        QVERIFY2(boxes[1].startsWith("Parameter wurden übertragen\n"), qPrintable(boxes[1]));
        QVERIFY2(boxes[1].contains("(calName)"), qPrintable(boxes[1]));
    }

    // In English the window speaks English: captions, headers, results.
    void speaksTheWindowsLanguage() {
        QVERIFY(controller->OnReadFromMachine());
        controller->PageImage().Step(1).SetTime(640);
        controller->MarkChanged();
        ui->passwords = {"0000"};
        QVERIFY(controller->OnWriteToMachine());
        struct BackToGerman {
            ~BackToGerman() { SetLanguage("German"); }
        } backToGerman;
        QVERIFY(SetLanguage("english").Ok());
        cDialogHistory d(*controller, journal.store);
        d.show();
        QCOMPARE(d.MachineList()->headerItem()->text(4), QString("Fastening counter"));
        QCOMPARE(d.EntryList()->topLevelItem(0)->text(2), QString("OK"));
        QCOMPARE(Fields(d.DifferenceList()), QStringList({"writeMark", "set1.step2.time"}));
        QCOMPARE(d.DifferenceList()->topLevelItem(1)->text(0),
                 QString("Parameter set 1 › Program step 2 › Time"));
        const QString dir = qEnvironmentVariable("KELVANE_SCREENSHOT_DIR");
        if (!dir.isEmpty())
            QVERIFY(d.grab().save(dir + "/history-english.png"));
    }

    // Each entry is shown in the units of its own machine, whatever the editor holds: two reads
    // that differ in a speed compare alike before anything was read and after.
    void entriesShowTheirOwnMachinesUnits() {
        QVERIFY(controller->OnReadFromMachine());
        StepRecord step = controller->PageImage().Step(0);
        step.SetControlled(1);
        step.SetCondition(kCondAngle);
        step.SetSpeed(step.Speed() == 300 ? 400 : 300);
        controller->MarkChanged();
        ui->passwords = {"0000"};
        QVERIFY2(controller->OnWriteToMachine(),
                 ui->messages.empty() ? "" : ui->messages.back().c_str());
        QVERIFY(controller->OnReadFromMachine());

        auto compareReads = [this](cDialogMain& c) {
            cDialogHistory d(c, journal.store);
            d.show();
            const int n = d.EntryList()->topLevelItemCount();
            d.EntryList()->clearSelection();
            d.EntryList()->topLevelItem(0)->setSelected(true);
            d.EntryList()->topLevelItem(n - 1)->setSelected(true);
            d.CompareButton()->click();
            return Rows(d.DifferenceList());
        };
        CMainSheet freshSheet;
        cDialogMain fresh(*ui, freshSheet, controller->Folders(), [this] {
            return std::vector<AdapterRecord>{{"NORKSIM1", device}};
        });
        const QStringList unread = compareReads(fresh);
        const QStringList read = compareReads(*controller);
        QCOMPARE(unread, read);
        const QString speeds = unread.filter("1/min").join("\n");
        QVERIFY2(!speeds.isEmpty(), qPrintable(unread.join("\n")));
        QVERIFY2(!speeds.contains(QRegularExpression("(^|\\| )0 1/min")), qPrintable(speeds));
    }
};

QTEST_MAIN(TestDialogHistory)
#include "TestDialogHistory.moc"
