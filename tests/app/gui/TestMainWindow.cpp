// The real main window against the simulated machine: read, edit, write and read again; the
// language change; closing; expert mode and the parameter sets. With KELVANE_SCREENSHOT_DIR
// set, pictures of the window in German and English are saved there.
#include "app/DialogMain.h"
#include "app/MainSheet.h"
#include "app/gui/MainSheetView.h"
#include "app/gui/MainWindow.h"
#include "lang/Language.h"
#include "pages/gui/NumEdit.h"
#include "pages/gui/StepGraphicWnd.h"
#include "sim/SimMachine.h"
#include "tests/app/gui/RecordingUi.h"
#include "tests/app/gui/SimWindowSetup.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// Every text the window shows: title, labels, buttons, group boxes, combo items, tabs, menus.
QStringList ShownTexts(QWidget* window) {
    QStringList texts{window->windowTitle()};
    for (auto* l : window->findChildren<QLabel*>())
        texts << l->text();
    for (auto* b : window->findChildren<QAbstractButton*>())
        texts << b->text();
    for (auto* g : window->findChildren<QGroupBox*>())
        texts << g->title();
    for (auto* c : window->findChildren<QComboBox*>())
        if (c->objectName() != "ports")
            for (int i = 0; i < c->count(); ++i)
                texts << c->itemText(i);
    for (auto* t : window->findChildren<QTabWidget*>())
        for (int i = 0; i < t->count(); ++i)
            texts << t->tabText(i);
    for (auto* m : window->findChildren<QMenu*>()) {
        texts << m->title();
        for (QAction* a : m->actions())
            texts << a->text();
    }
    texts.removeAll(QString());
    return texts;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> temp;
    std::unique_ptr<SimMachine> sim;
    std::string device;
    std::unique_ptr<RecordingUi> ui;
    std::unique_ptr<CMainSheet> sheet;
    std::unique_ptr<cDialogMain> controller;

    void Screenshot(QWidget* w, const QString& name) {
        const QString dir = qEnvironmentVariable("KELVANE_SCREENSHOT_DIR");
        if (!dir.isEmpty())
            QVERIFY(w->grab().save(dir + "/" + name + ".png"));
    }

    PrgStepModel& Step0() { return sheet->Step(0); }

private slots:
    void init() {
        temp = std::make_unique<QTemporaryDir>();
        GermanForTests();
        sim = StartQuickSim(device);
        QVERIFY(!device.empty());

        const FolderSet folders = TestFolders(temp->path());
        ui = std::make_unique<RecordingUi>();
        sheet = std::make_unique<CMainSheet>();
        controller = std::make_unique<cDialogMain>(*ui, *sheet, folders, [this] {
            return std::vector<AdapterRecord>{{"NORKSIM1", device}};
        });
        sheet->SetHost(controller.get());
        controller->Ports().SetReportCount(false);
        controller->SetPauseFunction([](int) {});
    }

    void cleanup() {
        if (sheet)
            sheet->SetHost(nullptr);
        controller.reset();
        sheet.reset();
        ui.reset();
        if (sim)
            sim->Stop();
        sim.reset();
        SetLanguage("German");
    }

    void startsLockedWithThePortListed() {
        cMainWindow w(*controller, *sheet);
        w.show();
        QCOMPARE(w.windowTitle(), QString("Torvex Kelvane Rev.4"));
        QCOMPARE(w.PortList()->count(), 1);
        QCOMPARE(w.PortList()->currentText(), QString::fromStdString(device));
        QVERIFY(!w.WriteButton()->isEnabled());
        QVERIFY(w.ReadButton()->isEnabled());
        QVERIFY(!w.ExpertBox()->isEnabled());
        QVERIFY(!w.SetList()->isEnabled());
        QCOMPARE(w.ConfigBox()->text(), QString("--- keine ---"));
        QCOMPARE(w.Sheet()->count(), 8);
        QVERIFY(w.LanguageMenu());
        QStringList languages;
        for (QAction* a : w.LanguageMenu()->actions())
            languages << a->text();
        QCOMPARE(languages, QStringList({"english", "german"}));
    }

    void aNamedDeviceIsListedAndChosen() {
        cMainWindow w(*controller, *sheet, "/dev/ttyS77");
        QCOMPARE(w.PortList()->count(), 2);
        QCOMPARE(w.PortList()->currentText(), QString("/dev/ttyS77"));
        QCOMPARE(controller->Ports().SelectedPort(), std::string("/dev/ttyS77"));
    }

    void reportPicturesTakeTheStripsSize() {
        {
            cMainWindow w(*controller, *sheet);
            w.resize(900, 700);
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            auto* strip = w.findChild<cStepGraphicWnd*>();
            QVERIFY(strip);
            QVERIFY(controller->OverviewSize());
            const auto [width, height] = *controller->OverviewSize();
            QCOMPARE(width, strip->contentsRect().width());
            QCOMPARE(height, strip->contentsRect().height());
            QVERIFY(width > 600);
        }
        QVERIFY(!controller->OverviewSize()); // no window, no size to ask for
    }

    void readEditWriteAndReadAgainShowsTheEdit() {
        cMainWindow w(*controller, *sheet);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.ReadButton()->click();
        QVERIFY2(controller->DataLoaded(), ui->messages.empty() ? "" : ui->messages[0].c_str());
        QCOMPARE(w.ConfigBox()->text(), QString("von Maschine"));
        QVERIFY(w.WriteButton()->isEnabled());
        QVERIFY(!controller->SettingsChanged());

        // Step page 1: type a new speed.
        w.Sheet()->setCurrentIndex(1);
        auto* speed = w.Sheet()->widget(1)->findChild<CNumEdit*>("c1003");
        QVERIFY(speed);
        QVERIFY(speed->isEnabled());
        const uint16_t before = controller->Image().Step(0).Speed();
        speed->setFocus();
        speed->selectAll();
        QTest::keyClicks(speed, "40");
        QVERIFY(controller->SettingsChanged());
        // Leaving the page stores the value.
        w.Sheet()->setCurrentIndex(0);
        const uint16_t edited = controller->Image().Step(0).Speed();
        QVERIFY(edited != before);

        ui->passwords = {"0000"};
        w.WriteButton()->click();
        QVERIFY2(!controller->SettingsChanged(),
                 ui->messages.empty() ? "" : ui->messages.back().c_str());
        ParameterBlock machine;
        machine.bytes = sim->ParameterImage();
        QCOMPARE(machine.Step(0).Speed(), edited);

        controller->PageImage().Step(0).SetSpeed(before); // forget it here: the read must bring it
        w.ReadButton()->click();
        QCOMPARE(controller->Image().Step(0).Speed(), edited);
        w.Sheet()->setCurrentIndex(1);
        QCOMPARE(speed->text(), QString("40"));
        Screenshot(&w, "main-german");
    }

    // A typed speed the machine cannot hold shows as the nearest it can once the field is left,
    // and the status bar says why.
    void aChangedValueIsExplainedInTheStatusBar() {
        cMainWindow w(*controller, *sheet);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.ReadButton()->click();
        QVERIFY(controller->DataLoaded());
        w.Sheet()->setCurrentIndex(1);
        auto* speed = w.Sheet()->widget(1)->findChild<CNumEdit*>("c1003");
        QVERIFY(speed && speed->isEnabled());
        if (!controller->Image().Step(0).Controlled())
            w.Sheet()->widget(1)->findChild<QCheckBox*>("c1009")->click();
        speed->setFocus();
        speed->selectAll();
        QTest::keyClicks(speed, "750");
        w.Sheet()->widget(1)->findChild<QWidget*>("c1013")->setFocus();
        QCOMPARE(speed->text(), QString("751"));
        QCOMPARE(w.StatusPane()->text(), QString("nächster speicherbarer Wert: 751 1/Min"));
        Screenshot(&w, "notice");
        controller->ForgetChanges();
    }

    // Read, every page of both sets shown and left, written back without an edit: the machine
    // holds every byte it had, also the lossy and the odd ones (only the write mark and the
    // byte cleared before every write differ).
    void aWriteWithoutAnEditGivesBackEveryByte() {
        ParameterBlock odd;
        odd.bytes = sim->ParameterImage();
        odd.SetModeFlags(0x81); // expert mode with both sets
        odd.Step(6).SetLast();  // the switch-over program ends at step 6
        odd.Step(0).SetSpeed(2001);
        odd.Step(1).SetCurrent(1239);
        odd.Step(5).SetRamp(0);
        odd.SetToolId("AB");
        odd.bytes[ParameterBlock::kOffToolId + 5] = 'x'; // behind the text's byte 0
        odd.SetClutchLimitFlags(1);
        odd.SetUserTransmission(101);
        odd.bytes[500] = 0x77;
        sim->SetParameterImage(odd.bytes);

        cMainWindow w(*controller, *sheet);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.ReadButton()->click();
        QVERIFY2(controller->DataLoaded(), ui->messages.empty() ? "" : ui->messages[0].c_str());
        for (int set : {0, 1, 0}) {
            w.SetList()->setCurrentIndex(set);
            QCoreApplication::processEvents();
            for (int tab = 0; tab < w.Sheet()->count(); ++tab) {
                w.Sheet()->setCurrentIndex(tab);
                QCOMPARE(w.Sheet()->currentIndex(), tab);
                for (auto* edit : w.Sheet()->widget(tab)->findChildren<QLineEdit*>())
                    if (edit->isEnabled() && edit->isVisible()) {
                        edit->setFocus();
                        QCoreApplication::processEvents();
                    }
            }
        }
        QVERIFY(!controller->SettingsChanged());
        ui->passwords = {"0000"};
        w.WriteButton()->click();
        ParameterBlock written;
        written.bytes = sim->ParameterImage();
        for (size_t i = 0; i < ParameterBlock::kSize; ++i)
            if (i != ParameterBlock::kOffWriteMark && i != ParameterBlock::kOffWriteClear)
                QVERIFY2(written.bytes[i] == odd.bytes[i],
                         qPrintable(QStringLiteral("byte %1: %2 -> %3 (%4)")
                                        .arg(i)
                                        .arg(odd.bytes[i])
                                        .arg(written.bytes[i])
                                        .arg(QString::fromStdString(
                                            ui->messages.empty() ? "" : ui->messages.back()))));
    }

    void languageChangeReopensInEnglishKeepingTheEdits() {
        auto w = std::make_unique<cMainWindow>(*controller, *sheet);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->ReadButton()->click();
        QVERIFY(controller->DataLoaded());
        const int clutchLimit = sheet->Step(1).V().clutchLimit;
        // An edit still on its page: the language change must commit it.
        w->Sheet()->setCurrentIndex(2);
        auto* speed = w->Sheet()->widget(2)->findChild<CNumEdit*>("c1003");
        QVERIFY(speed);
        const uint16_t before = controller->Image().Step(1).Speed();
        speed->setFocus();
        speed->selectAll();
        QTest::keyClicks(speed, "35");
        QVERIFY(controller->SettingsChanged());

        QAction* english = nullptr;
        for (QAction* a : w->LanguageMenu()->actions())
            if (a->text() == "english")
                english = a;
        QVERIFY(english);
        english->trigger();
        QVERIFY(controller->RestartPending());
        QVERIFY(!w->isVisible());
        QVERIFY(ui->messages.empty()); // the close asked nothing
        QVERIFY(controller->Image().Step(1).Speed() != before);
        const auto image = controller->Image().bytes;
        w.reset();

        // What the application's loop does next.
        SetLanguage(controller->CurrentSettings().languageName);
        w = std::make_unique<cMainWindow>(*controller, *sheet);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QVERIFY(!controller->RestartPending());
        QVERIFY(controller->SettingsChanged());
        QVERIFY(controller->Image().bytes == image);
        QCOMPARE(sheet->Step(1).V().clutchLimit, clutchLimit); // one rule, whatever came last
        QCOMPARE(w->ReadButton()->text(), QString::fromStdString(Translate("von Maschine")));
        QVERIFY(w->ReadButton()->text() != "von Maschine");

        // No German text left: an English text is not a key the table still translates.
        for (const QString& text : ShownTexts(w.get()))
            QVERIFY2(QString::fromStdString(Translate(text.toStdString())) == text,
                     qPrintable("German text left: " + text));
        Screenshot(w.get(), "main-english");
        for (int tab = 0; tab < w->Sheet()->count(); ++tab) {
            w->Sheet()->setCurrentIndex(tab);
            Screenshot(w.get(), QString("main-english-tab%1").arg(tab));
        }
        controller->ForgetChanges();
    }

    // English and back to German in one run: no English text is left in the window.
    void englishAndBackToGermanLeavesNoEnglish() {
        auto w = std::make_unique<cMainWindow>(*controller, *sheet);
        for (const char* language : {"english", "german"}) {
            QAction* entry = nullptr;
            for (QAction* a : w->LanguageMenu()->actions())
                if (a->text() == language)
                    entry = a;
            QVERIFY(entry);
            entry->trigger();
            QVERIFY(controller->RestartPending());
            w.reset();
            SetLanguage(controller->CurrentSettings().languageName);
            w = std::make_unique<cMainWindow>(*controller, *sheet);
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        }
        QCOMPARE(w->ConfigBox()->text(), QString("--- keine ---"));
        QCOMPARE(w->ReadButton()->text(), QString("von Maschine"));
        Screenshot(w.get(), "english-then-german");
    }

    void saveAndLoadThroughTheMenu() {
        cMainWindow w(*controller, *sheet);
        w.show();
        w.ReadButton()->click();
        QVERIFY(controller->DataLoaded());
        const uint16_t speed = controller->Image().Step(0).Speed();
        const std::string file = (temp->path() + "/mine.bin").toStdString();
        ui->files = {file};
        w.findChild<QAction*>("save")->trigger();
        QVERIFY2(QFile::exists(QString::fromStdString(file)),
                 ui->messages.empty() ? "" : ui->messages.back().c_str());

        controller->PageImage().Step(0).SetSpeed(uint16_t(speed + 100));
        controller->MarkChanged();
        ui->files = {file};
        ui->answers = {cUserInterface::Answer::Ok, cUserInterface::Answer::Ok};
        w.findChild<QAction*>("load")->trigger();
        QCOMPARE(controller->Image().Step(0).Speed(), speed);
        QCOMPARE(w.ConfigBox()->text(), QString("mine"));
        QVERIFY(!controller->SettingsChanged());
        QVERIFY(!sheet->Step(0).ReadOnly()); // a load unlocks the pages
    }

    void closingWithUnsavedChangesAsksOnce() {
        cMainWindow w(*controller, *sheet);
        w.show();
        controller->MarkChanged();
        ui->answers = {cUserInterface::Answer::No};
        w.ExitButton()->click();
        QVERIFY(w.isVisible());
        QCOMPARE(ui->messages.size(), size_t(1));
        QVERIFY(controller->SettingsChanged());

        ui->answers = {cUserInterface::Answer::Yes};
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(!w.isVisible());
        QCOMPARE(ui->messages.size(), size_t(2));
    }

    void enterDoesNothing() {
        cMainWindow w(*controller, *sheet);
        w.show();
        QTest::keyClick(&w, Qt::Key_Return);
        QVERIFY(w.isVisible());
    }

    void expertModeAndTheParameterSets() {
        cMainWindow w(*controller, *sheet);
        w.show();
        w.ReadButton()->click();
        QVERIFY(controller->DataLoaded());
        QVERIFY(w.ExpertBox()->isEnabled()); // the simulated machine allows parameterisation
        w.ExpertBox()->click();
        QVERIFY(controller->Image().ExpertMode());
        QVERIFY(w.SetList()->isEnabled());
        w.SetList()->setCurrentIndex(1);
        QCOMPARE(controller->CurrentSet(), 1);
        QCOMPARE(w.Sheet()->currentIndex(), 1);

        w.ExpertBox()->click(); // off again while set 2 is shown
        QVERIFY(!controller->Image().ExpertMode());
        QCOMPARE(controller->CurrentSet(), 0);
        QCOMPARE(w.SetList()->currentIndex(), 0);
        QVERIFY(!w.SetList()->isEnabled());
        QCOMPARE(int(controller->Image().Step(4).NextStep()), 0xFF);
        controller->ForgetChanges();
    }

    void aClickOnTheOverviewOpensThatStepsPage() {
        cMainWindow w(*controller, *sheet);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        cStepGraphicWnd* strip = w.Overview();
        const int width = strip->contentsRect().width();
        const int x = OverviewClickTab(width, 10 + 2 * ((width - 10) / 5) + 3) == 3
                          ? 10 + 2 * ((width - 10) / 5) + 3
                          : width / 2;
        QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(strip->contentsRect().left() + x, 20));
        QCOMPARE(w.Sheet()->currentIndex(), OverviewClickTab(width, x));
    }

    // The highlight of an open step page goes when another kind of page is opened.
    void theOverviewFollowsEveryTab() {
        struct PaintCounter : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* e) override {
                paints += e->type() == QEvent::Paint;
                return false;
            }
        } counter;
        cMainWindow w(*controller, *sheet);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.ReadButton()->click();
        QVERIFY(controller->DataLoaded());
        w.Overview()->installEventFilter(&counter);
        for (int tab : {2, CSheet::kMaintenancePage, 2, CSheet::kHeaderPage}) {
            w.Sheet()->setCurrentIndex(tab);
            counter.paints = 0;
            QTRY_VERIFY2(counter.paints > 0, qPrintable(QString("tab %1").arg(tab)));
            if (tab == CSheet::kMaintenancePage)
                Screenshot(&w, "overview-maintenance");
        }
        QCOMPARE(controller->OverviewOf(500, 110).activeTab, int(CSheet::kHeaderPage));
    }

    void withoutAnAdapterTheStatusBarSaysSo() {
        device.clear(); // the lister finds nothing
        cDialogMain bare(*ui, *sheet, controller->Folders(),
                         [] { return std::vector<AdapterRecord>{}; });
        bare.Ports().SetReportCount(false);
        sheet->SetHost(&bare);
        {
            cMainWindow w(bare, *sheet);
            w.show();
            QVERIFY(!w.PortList()->isEnabled());
            w.ReadButton()->click();
            QVERIFY(!bare.DataLoaded());
            QVERIFY(ui->messages.empty()); // no box, as before
            QCOMPARE(w.StatusPane()->text(), QString("Kein Adapter gefunden"));
        }
        sheet->SetHost(controller.get());
    }

    void aDeviceThatIsNoSerialPortSaysWhyInTheBoxAndTheStatusBar() {
        // Chosen by mistake: a file instead of the adapter.
        const QString file = temp->path() + "/ttyUSB0";
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep");
        f.close();
        device = file.toStdString();
        cMainWindow w(*controller, *sheet);
        w.show();
        w.ReadButton()->click();
        QVERIFY(!controller->DataLoaded());
        const std::string reason = PortProblemText(PortProblem::NotSerial);
        QCOMPARE(ui->messages, std::vector<std::string>{"com-port not opend\n" + reason});
        QVERIFY(!ui->statusTexts.empty());
        QCOMPARE(ui->statusTexts.back(), reason);
        // What the window's user interface does with a status text.
        w.StatusPane()->setText(QString::fromStdString(ui->statusTexts.back()));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep"));
        Screenshot(&w, "reason-window");
        // The box as the window shows it.
        QMessageBox box(&w);
        box.setWindowTitle(w.windowTitle());
        box.setIcon(QMessageBox::NoIcon);
        box.setText(QString::fromStdString(ui->messages.front()));
        box.show();
        Screenshot(&box, "reason-box");
    }

    // An old failure's reason does not outlive the next command.
    void aSucceedingCommandReplacesAnOldReason() {
        cMainWindow w(*controller, *sheet);
        w.show();
        const QString old = QString::fromStdString(PortProblemText(PortProblem::Gone));
        w.StatusPane()->setText(old);
        w.ReadButton()->click();
        QVERIFY(controller->DataLoaded());
        QVERIFY(w.StatusPane()->text() != old);
        w.StatusPane()->setText(old);
        w.ExpertBox()->click();
        QVERIFY(w.StatusPane()->text() != old);
        controller->ForgetChanges();
    }

    void aboutBoxShowsTitleAndVersion() {
        CAboutDlg about;
        // The version of the build (the project's one version), as the package and --version
        // carry it.
        QCOMPARE(about.VersionLine()->text(), QString("Torvex Kelvane  Version " KELVANE_VERSION));
    }
};

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
