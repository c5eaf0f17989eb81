// The fleet in the real main window against the simulated machine: an approval saved from the
// editor (a bad name refused with its reason), the read machine assigned in "Freigaben", the
// compliance line after each read and its comparison, and "Flotte" with the machine's history
// and the printable page.
#include "app/DialogMain.h"
#include "app/HistoryJournal.h"
#include "app/MainSheet.h"
#include "app/gui/DialogHistory.h"
#include "app/gui/DialogRollout.h"
#include "app/gui/MainWindow.h"
#include "fleet/gui/FleetView.h"
#include "lang/Language.h"
#include "sim/SimMachine.h"
#include "tests/app/gui/RecordingUi.h"
#include "tests/app/gui/SimWindowSetup.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Runs act on the modal dialog of type D once it is the one shown (a dialog opened from
// another modal dialog included).
template <class D> void WhenShown(std::function<void(D*)> act) {
    QTimer::singleShot(0, [act] {
        if (auto* d = qobject_cast<D*>(QApplication::activeModalWidget())) {
            act(d);
            return;
        }
        WhenShown<D>(act);
    });
}

QAction* Action(QWidget* w, const char* name) {
    auto* a = w->findChild<QAction*>(name);
    if (!a)
        qWarning("no action %s", name);
    return a;
}

} // namespace

class TestFleetWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> temp;
    std::unique_ptr<SimMachine> sim;
    std::string device;
    std::unique_ptr<RecordingUi> ui;
    std::unique_ptr<CMainSheet> sheet;
    cHistoryJournal journal;
    std::unique_ptr<cDialogMain> controller;

    void Screenshot(QWidget* w, const QString& name) {
        const QString dir = qEnvironmentVariable("KELVANE_SCREENSHOT_DIR");
        if (!dir.isEmpty())
            QVERIFY(w->grab().save(dir + "/" + name));
    }

    // Read, save the editor's configuration as "Station-12", assign it in "Freigaben", then
    // change a step time on the machine through "zur Maschine".
    void AssignAndDeviate(cMainWindow& w) {
        w.ReadButton()->click();
        QVERIFY(controller->DataLoaded());
        ui->texts = {"Station-12", "erste Freigabe"};
        Action(&w, "saveApproval")->trigger();
        WhenShown<cDialogLibrary>([](cDialogLibrary* d) {
            d->AssignNewestButton()->click();
            d->reject();
        });
        Action(&w, "library")->trigger();
        QCOMPARE(w.ApprovalPane()->text(), QString("entspricht Freigabe Station-12 v1"));
        controller->PageImage().Step(1).SetTime(640);
        controller->MarkChanged();
        ui->passwords = {"0000"};
        w.WriteButton()->click();
        ParameterBlock machine;
        machine.bytes = sim->ParameterImage();
        QCOMPARE(int(machine.Step(1).Time()), 640);
    }

    // A line of three machines instead of the one: the second of another type, the third
    // already holding the approval "Station-12" v1.
    bool StartLine() {
        sim->Stop();
        auto image = [](unsigned k) {
            ParameterBlock b;
            b.bytes = SimMachine::DefaultImage();
            b.SetSerialNr("SIM000000" + std::to_string(k));
            return b;
        };
        ParameterBlock approved = image(1);
        approved.Step(0).SetTime(777);
        ParameterBlock other = image(2);
        other.SetMachineType("TVX14-3000");
        ParameterBlock compliant = image(3);
        compliant.Step(0).SetTime(777);
        SimOptions options;
        options.pacing = false;
        options.announce = false;
        options.machines = 3;
        options.lineGap = std::chrono::milliseconds(150);
        options.lineImages = {{2, other.bytes}, {3, compliant.bytes}};
        sim = std::make_unique<SimMachine>(options);
        device = sim->Start();
        controller->DiscoverAdapters();
        std::string error;
        return !device.empty() &&
               controller->FleetRecords()->AddVersion("Station-12", approved, "", error) == 1;
    }

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

    void approvalSavedAssignedAndChecked() {
        cMainWindow w(*controller, *sheet);
        w.show();
        // Nothing read yet: nothing to save, nothing assigned.
        Action(&w, "saveApproval")->trigger();
        QCOMPARE(ui->messages.back(), std::string("ungültige Konfigurationsdaten"));
        QVERIFY(ui->textQuestions.empty());

        w.ReadButton()->click();
        QVERIFY(w.ApprovalPane()->isHidden()); // no approval assigned
        // A name with "@" is refused with the reason and asked again; the note follows.
        ui->messages.clear();
        ui->texts = {"Station@12", "Station-12", "Anzug 12 Nm"};
        Action(&w, "saveApproval")->trigger();
        QCOMPARE(int(ui->messages.size()), 1);
        QVERIFY(ui->messages[0].find("\"@\"") != std::string::npos);
        QCOMPARE(int(ui->textQuestions.size()), 3);
        QVERIFY(ui->textQuestions[0].choices.empty());
        // The second save offers the existing name.
        ui->texts = {"Station-12", ""};
        Action(&w, "saveApproval")->trigger();
        QCOMPARE(ui->textQuestions[3].choices, std::vector<std::string>{"Station-12"});
        std::string error;
        cFleetStore* fleet = controller->FleetRecords();
        QVERIFY(fleet);
        const auto versions = fleet->Versions("Station-12", error);
        QCOMPARE(int(versions.size()), 2);
        QCOMPARE(versions[0].note, std::string("Anzug 12 Nm"));
        QCOMPARE(ui->statusTexts.back(), std::string("gespeichert als Freigabe Station-12 v2"));

        // "Freigaben" assigns the read machine, pinned to version 1.
        WhenShown<cDialogLibrary>([](cDialogLibrary* d) {
            QVERIFY(d->MachineLine()->text().contains("SIM0000001"));
            d->VersionList()->setCurrentItem(d->VersionList()->topLevelItem(0));
            d->AssignPinnedButton()->click();
            QVERIFY(d->MachineLine()->text().contains("Station-12@1"));
            d->reject();
        });
        Action(&w, "library")->trigger();
        QCOMPARE(w.ApprovalPane()->text(), QString("entspricht Freigabe Station-12 v1"));
        QVERIFY(!w.ApprovalPane()->isHidden());
        // Edits not yet written change nothing on the machine.
        controller->PageImage().Step(1).SetTime(999);
        controller->MarkChanged();
        QVERIFY(controller->AssignConnected(LibraryRef{"Station-12", 1}));
        QCOMPARE(controller->ApprovalText(), std::string("entspricht Freigabe Station-12 v1"));

        // The machine changed behind the window's back: the next read says so, in the units
        // of the pages, one click from the fields.
        ParameterBlock changed;
        changed.bytes = sim->ParameterImage();
        changed.Step(1).SetTime(640);
        sim->SetParameterImage(changed.bytes);
        w.ReadButton()->click();
        QCOMPARE(w.ApprovalPane()->text(),
                 QString("<a href=\"diff\">weicht ab von Freigabe Station-12 v1: 1 Feld</a>"));
        QCoreApplication::processEvents(); // the status bar lays out the longer line
        QVERIFY(w.ApprovalPane()->width() >= w.ApprovalPane()->sizeHint().width());
        Screenshot(&w, "main-approval.png");
        QStringList fields;
        WhenShown<cDialogApprovalDiff>([&fields, this](cDialogApprovalDiff* d) {
            for (int i = 0; i < d->DifferenceList()->topLevelItemCount(); ++i) {
                auto* item = d->DifferenceList()->topLevelItem(i);
                fields << item->data(0, Qt::UserRole).toString() + "=" + item->text(2);
            }
            Screenshot(d, "approval-diff.png");
            d->reject();
        });
        emit w.ApprovalPane()->linkActivated("diff");
        QCOMPARE(fields, QStringList({"set1.step2.time=640 ms"}));
    }

    void fleetOpensHistoryAndWritesPage() {
        cMainWindow w(*controller, *sheet);
        w.show();
        AssignAndDeviate(w);
        QVERIFY(w.ApprovalPane()->text().contains("weicht ab von Freigabe Station-12 v1"));

        const QString page = temp->path() + "/documents/Flotte.html";
        QString historySerial;
        WhenShown<cDialogFleet>([&](cDialogFleet* d) {
            QTreeWidget* list = d->MachineList();
            QCOMPARE(list->topLevelItemCount(), 1);
            QTreeWidgetItem* row = list->topLevelItem(0);
            QCOMPARE(row->text(cFleetTable::Serial), QString("SIM0000001"));
            QCOMPARE(row->text(cFleetTable::Assigned), QString("Station-12 v1"));
            QCOMPARE(row->text(cFleetTable::Compliant), QString("Nein"));
            Screenshot(d, "fleet-window.png");
            WhenShown<cDialogHistory>([&](cDialogHistory* h) {
                historySerial = h->MachineList()->currentItem()->text(0);
                h->reject();
            });
            emit list->itemDoubleClicked(row, 0);
            ui->files = {page.toStdString()};
            d->PageButton()->click();
            d->reject();
        });
        Action(&w, "fleet")->trigger();
        QCOMPARE(historySerial, QString("SIM0000001"));
        QFile file(page);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xFF\xFE"));
        const QString text = QString::fromUtf16(
            reinterpret_cast<const char16_t*>(bytes.constData() + 2), (bytes.size() - 2) / 2);
        QVERIFY(text.contains("SIM0000001"));
        QVERIFY(text.contains(QRegularExpression("<tr class=\"[a-z ]*deviating")));
        QVERIFY(text.contains("alle Maschinen"));

        // A page that cannot be written says so.
        ui->messages.clear();
        WhenShown<cDialogFleet>([this](cDialogFleet* d) {
            ui->files = {(temp->path() + "/no/such/folder/Flotte.html").toStdString()};
            d->PageButton()->click();
            d->reject();
        });
        Action(&w, "fleet")->trigger();
        QCOMPARE(int(ui->messages.size()), 1);
        QVERIFY(ui->messages[0].find("Die Flottenseite konnte nicht geschrieben werden") == 0);
    }

    // "Serienübertragung" down a line of three: one written, one of another type skipped with
    // its reason, one already compliant; a sound for each machine done.
    void rolloutDownTheLine() {
        QVERIFY(StartLine());
        cMainWindow w(*controller, *sheet);
        w.show();
        ui->passwords = {std::string(SimMachine::kDefaultPassword)};
        int sounds = 0;
        QStringList rows;
        QString status;
        WhenShown<cDialogRollout>([&](cDialogRollout* d) {
            QCOMPARE(d->ApprovalList()->currentText(), QString("Station-12 v1"));
            d->sound = [&sounds] { ++sounds; };
            d->SetProbeInterval(300);
            d->CountBox()->setValue(3);
            QVERIFY(d->Start());
            for (int i = 0; i < d->MachineList()->topLevelItemCount(); ++i) {
                auto* item = d->MachineList()->topLevelItem(i);
                rows << item->text(0) + " " + item->data(0, Qt::UserRole).toString();
            }
            QVERIFY(d->MachineList()->topLevelItem(1)->text(2).contains("Maschinentyp"));
            status = d->StatusLine()->text();
            Screenshot(d, "rollout-dialog.png");
            d->reject();
        });
        Action(&w, "rollout")->trigger();
        QCOMPARE(rows,
                 QStringList({"SIM0000001 written", "SIM0000002 skipped", "SIM0000003 compliant"}));
        QCOMPARE(sounds, 2);
        QCOMPARE(status, QString("3 Maschinen, 1 geschrieben, 0 fehlgeschlagen"));
        ParameterBlock first;
        first.bytes = *sim->LineImage(1);
        QCOMPARE(int(first.Step(0).Time()), 777);
    }

    // Open-ended: "Anhalten" (and closing) while a machine is handled ends the rollout after
    // that machine; the dialog stays until then.
    void rolloutStopsAfterTheMachineOnTheLine() {
        QVERIFY(StartLine());
        cMainWindow w(*controller, *sheet);
        ui->passwords = {std::string(SimMachine::kDefaultPassword)};
        int rows = -1;
        bool stayed = false;
        WhenShown<cDialogRollout>([&](cDialogRollout* d) {
            d->SetProbeInterval(300);
            QCOMPARE(d->CountBox()->value(), 0);
            d->sound = [d, &stayed] {
                d->reject(); // as the close button: taken as a stop
                stayed = d->isVisible() && d->Running();
            };
            QVERIFY(d->Start());
            rows = d->MachineList()->topLevelItemCount();
            QVERIFY(!d->Running());
            d->reject();
        });
        Action(&w, "rollout")->trigger();
        QVERIFY(stayed);
        QCOMPARE(rows, 1);
    }
};

QTEST_MAIN(TestFleetWindow)
#include "TestFleetWindow.moc"
