// With English chosen, no German text is left anywhere a technician looks: the dialogs of the
// window's user interface, the page sheet, the about box, and the messages and status texts
// of commands run against the simulated machine. A shown text is German-left when the table
// still translates it, or when it carries a German letter.
#include "app/DialogMain.h"
#include "app/MainSheet.h"
#include "app/gui/DialogRollout.h"
#include "app/gui/MainSheetView.h"
#include "app/gui/MainWindow.h"
#include "app/gui/QtUserInterface.h"
#include "fleet/gui/FleetView.h"
#include "history/HistoryStore.h"
#include "lang/Language.h"
#include "link/QVX.h"
#include "link/ResultCodes.h"
#include "model/IniFile.h"
#include "model/MachineCatalog.h"
#include "pages/gui/DialogPrgStep.h"
#include "sim/SimMachine.h"
#include "tests/app/gui/BoundSheet.h"
#include "tests/app/gui/ModalHelpers.h"
#include "tests/app/gui/RecordingUi.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

// German texts that English writes the same way: names, units, numbers and words both share.
const std::set<std::string> kSameInEnglish = {"Torvex Kelvane Rev.4",
                                              "Torvex Kelvane",
                                              "Version",
                                              "Copy TorvexV4",
                                              "OK",
                                              "Cancel",
                                              "Tools",
                                              "Dump SUPV",
                                              "?",
                                              "Bytes",
                                              "Computer",
                                              "Timeout",
                                              "12 V",
                                              "14 V",
                                              "18 V",
                                              "%",
                                              "ms",
                                              "Nm",
                                              "A",
                                              "[A]",
                                              "Reset",
                                              "Set",
                                              "Firmware"};

bool HasGermanLetter(const QString& text) {
    for (QChar c : QStringLiteral("äöüÄÖÜß"))
        if (text.contains(c))
            return true;
    return false;
}

// Words of the program's German texts that no English text uses: they reveal a German text
// the table does not know at all.
bool HasGermanWord(const QString& text) {
    static const QSet<QString> words = {
        "nicht",    "ist",       "wurde",      "wurden", "Sie",      "der",      "die",
        "das",      "und",       "bei",        "mit",    "zur",      "von",      "Fehler",
        "ungültig", "ungültige", "ungültiges", "Datei",  "Maschine", "Passwort", "Konfiguration",
        "geben",    "Bitte",     "Wollen",     "ACHTUNG"};
    static const QRegularExpression nonLetters("[^\\p{L}]+");
    for (const QString& w : text.split(nonLetters, Qt::SkipEmptyParts))
        if (words.contains(w))
            return true;
    return false;
}

bool GermanLeft(const QString& text) {
    return QString::fromStdString(Translate(text.toStdString())) != text || HasGermanLetter(text) ||
           HasGermanWord(text);
}

// The shown texts that are German-left, each once.
QStringList GermanOf(const QStringList& texts) {
    QStringList left;
    for (const QString& t : texts)
        if (!t.isEmpty() && GermanLeft(t) && !left.contains(t))
            left << t;
    return left;
}

QString Listed(const QStringList& texts) {
    return "German text left: \"" + texts.join("\", \"") + "\"";
}

// Every text a window shows: titles, labels, buttons, group boxes, combo items, tabs, menus,
// actions and tool tips, of the window and everything in it, hidden parts included. Edit
// fields hold data and are left out.
QStringList ShownTexts(QWidget* window) {
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    QStringList texts;
    for (QWidget* w : widgets) {
        texts << w->windowTitle() << w->toolTip() << w->statusTip() << w->whatsThis();
        if (auto* l = qobject_cast<QLabel*>(w))
            texts << l->text();
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            texts << b->text();
        if (auto* g = qobject_cast<QGroupBox*>(w))
            texts << g->title();
        if (auto* c = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i)
                texts << c->itemText(i);
        if (auto* t = qobject_cast<QTabBar*>(w))
            for (int i = 0; i < t->count(); ++i)
                texts << t->tabText(i) << t->tabToolTip(i);
        if (auto* e = qobject_cast<QLineEdit*>(w))
            texts << e->placeholderText();
        if (auto* m = qobject_cast<QMenu*>(w))
            texts << m->title();
        for (QAction* a : w->actions())
            texts << a->text() << a->toolTip();
    }
    texts.removeAll(QString());
    return texts;
}

// Notes the dialog's texts, then presses the button with this text (or rejects the dialog
// when it has none).
void CollectAndPress(QWidget* dialog, QStringList& texts, const QString& button) {
    texts = ShownTexts(dialog);
    if (QAbstractButton* b = button.isEmpty() ? nullptr : ButtonNamed(dialog, button))
        b->click();
    else if (auto* d = qobject_cast<QDialog*>(dialog))
        d->reject();
}

QString Tr(const char* german) {
    return QString::fromStdString(Translate(std::string_view(german)));
}

QStringList AsQt(const std::vector<std::string>& texts) {
    QStringList out;
    for (const std::string& t : texts)
        out << QString::fromStdString(t);
    return out;
}

} // namespace

class TestEnglish : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> temp;

private slots:
    void initTestCase() {
        // As at start-up: German is the base, the chosen language lies over it.
        SetLanguageFolder(KELVANE_BIN_DIR "/language/");
        SetLanguage("German");
        SetLanguage("english");
        QCOMPARE(Tr("Abbrechen"), QString("Cancel"));
    }

    void cleanupTestCase() { SetLanguage("German"); }

    void init() { temp = std::make_unique<QTemporaryDir>(); }

    // Every text of the table has an English text of its own, unless English writes it the
    // same way; and no English text is itself a German text the table translates otherwise.
    void tableHasEnglishForEveryGermanText() {
        std::ifstream in(KELVANE_SOURCE_DIR "/tools/texts.tsv");
        QVERIFY(in.is_open());
        std::map<std::string, std::string> english;
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#')
                continue;
            const size_t tab = line.find('\t');
            QVERIFY2(tab != std::string::npos, line.c_str());
            english[line.substr(0, tab)] = line.substr(tab + 1);
        }
        QVERIFY(english.size() > 100);
        QStringList copied, stale, ambiguous;
        for (const auto& [german, text] : english) {
            if (text == german && !kSameInEnglish.count(german))
                copied << QString::fromStdString(german);
            if (auto other = english.find(text); other != english.end() && other->second != text)
                ambiguous << QString::fromStdString(german + " -> " + text);
            if (HasGermanLetter(QString::fromStdString(text)))
                ambiguous << QString::fromStdString(german + " -> " + text);
        }
        for (const std::string& same : kSameInEnglish)
            if (auto it = english.find(same); it == english.end() || it->second != same)
                stale << QString::fromStdString(same);
        QVERIFY2(copied.isEmpty(), qPrintable("English copied from German: " + copied.join(" | ")));
        QVERIFY2(ambiguous.isEmpty(), qPrintable("English still German: " + ambiguous.join(" | ")));
        QVERIFY2(stale.isEmpty(), qPrintable("allow-list not in the table: " + stale.join(" | ")));
    }

    // Messages that reach Translate through a variable, out of sight of the table's source
    // check: the link's result codes, the port, and the catalog's findings.
    void indirectMessagesHaveEnglish() {
        std::vector<std::string> german;
        for (int code : {kResultRefused, kResultPortOpenFailed, kResultChecksum, kResultTimeout,
                         kResultLineSetting, kResultPortFailed, kResultWrongTrigger})
            if (const char* m = ResultMessage(code))
                german.push_back(m);
        german.push_back(kMessagePortNotOpened);

        struct Case {
            const char* ini;
            int angleHead;
        };
        const Case cases[] = {
            {"[GETRIEBE]\n", 0},
            {"[GETRIEBE]\nGETRIEBE_1=1 kaputt\n", 0},
            {"[GETRIEBE]\nGETRIEBE_1=1 1:18,2 18.2\n[WINKELKOPF]\n", 1},
            {"[GETRIEBE]\nGETRIEBE_1=1 1:18,2 18.2\n[WINKELKOPF]\nWINKELKOPF_1=x\n", 1},
        };
        for (const Case& c : cases) {
            IniFile ini;
            ini.Parse(c.ini);
            MachineCatalog catalog;
            TransmissionEntry entry;
            std::string message;
            catalog.LookupTransmission(ini, "QVK", 1, c.angleHead, entry, &message);
            QVERIFY2(!message.empty(), c.ini);
            german.push_back(message);
        }
        IniFile none;
        MachineCatalog catalog;
        std::string message;
        catalog.LoadBattery(none, "QVK", 18, &message);
        QVERIFY(!message.empty());
        german.push_back(message);

        QStringList untranslated;
        for (const std::string& g : german)
            if (Translate(g) == g && !kSameInEnglish.count(g))
                untranslated << QString::fromStdString(g);
        QVERIFY2(untranslated.isEmpty(), qPrintable(Listed(untranslated)));
    }

    void messageBoxesAndTheirButtons() {
        QtUserInterface ui;
        const std::string text = Translate("Die Einstellungen wurden geändert\n\nWollen Sie den "
                                           "das Programm beenden");
        struct Case {
            cUserInterface::Buttons buttons;
            QString press;
            cUserInterface::Answer answer;
            QStringList buttonTexts;
        };
        const Case cases[] = {
            {cUserInterface::Buttons::Ok, "OK", cUserInterface::Answer::Ok, {"OK"}},
            {cUserInterface::Buttons::OkCancel,
             "Cancel",
             cUserInterface::Answer::Cancel,
             {"OK", "Cancel"}},
            {cUserInterface::Buttons::YesNo, "Yes", cUserInterface::Answer::Yes, {"Yes", "No"}},
        };
        for (const Case& c : cases) {
            QStringList shown;
            QStringList buttons;
            WhenModal([&](QWidget* w) {
                for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
                    if (b->isVisible())
                        buttons << b->text();
                CollectAndPress(w, shown, c.press);
            });
            QCOMPARE(ui.ShowMessage(text, c.buttons, cUserInterface::Icon::Warning), c.answer);
            buttons.sort();
            QStringList expected = c.buttonTexts;
            expected.sort();
            QCOMPARE(buttons, expected);
            QVERIFY(shown.contains(QString::fromStdString(text)));
            QVERIFY2(GermanOf(shown).isEmpty(), qPrintable(Listed(GermanOf(shown))));
        }
    }

    void passwordDialogs() {
        QtUserInterface ui;
        QStringList shown;
        WhenModal([&](QWidget* w) {
            QTest::keyClicks(w->findChild<QLineEdit*>("password"), "0000");
            CollectAndPress(w, shown, "OK");
        });
        std::string password;
        QVERIFY(ui.AskPassword(password)); // "OK" is the English button too
        QCOMPARE(password, std::string("0000"));
        QVERIFY(shown.contains("Password"));
        QVERIFY(shown.contains("Please enter your password"));
        QVERIFY2(GermanOf(shown).isEmpty(), qPrintable(Listed(GermanOf(shown))));

        WhenModal([&](QWidget* w) { CollectAndPress(w, shown, "Cancel"); });
        cUserInterface::PasswordChange change;
        QVERIFY(!ui.AskPasswordChange(change));
        QVERIFY(shown.contains("Change password"));
        QVERIFY(shown.contains("Enter old password"));
        QVERIFY(shown.contains("Cancel"));
        QVERIFY2(GermanOf(shown).isEmpty(), qPrintable(Listed(GermanOf(shown))));
    }

    void fileDialogs() {
        QtUserInterface ui;
        // The filters of configurations, firmware, dumps and report templates.
        const char* filters[] = {"Config Files (*.bin)|*.bin|", "Firmware Files (*.bin)|*.bin|",
                                 "Dump Files (*.bin)|*.bin|", "Template Files (*.html)|*.html|"};
        for (const char* filter : filters) {
            cUserInterface::FileRequest request;
            request.folder = temp->path().toStdString();
            request.proposedName = "x.bin";
            request.filter = filter;
            for (bool save : {false, true}) {
                QStringList shown;
                WhenModal([&](QWidget* w) { CollectAndPress(w, shown, QString()); });
                std::string path;
                QVERIFY(!(save ? ui.AskSaveFile(request, path) : ui.AskOpenFile(request, path)));
                QVERIFY(shown.contains(QtFileFilter(filter)));
                QVERIFY2(GermanOf(shown).isEmpty(), qPrintable(Listed(GermanOf(shown))));
            }
        }
    }

    // The eight pages in every state that changes a text: set 1 and set 2 (the switch-over
    // caption), controlled and not (the speed unit), expert controls shown.
    void pageSheet() {
        BoundSheet m;
        m.sample.image.Step(1).SetControlled(0);
        m.sheet.BindPages(m.sample.image, 0);
        cMainSheetView view(m.sheet);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        for (int set : {0, 1}) {
            m.sheet.BindPages(m.sample.image, set);
            m.sheet.SetStepCaptions(set, 0x01);
            view.ShowCaptions();
            for (int tab = 0; tab < view.count(); ++tab) {
                view.setCurrentIndex(tab);
                view.ShowAllPages();
                const QStringList shown = ShownTexts(&view);
                QVERIFY2(GermanOf(shown).isEmpty(),
                         qPrintable(QString("set %1 tab %2: ").arg(set + 1).arg(tab) +
                                    Listed(GermanOf(shown))));
            }
        }
        QCOMPARE(view.tabText(0), QString("Header data"));
        QCOMPARE(view.tabText(1), QString("Program step 6"));
        QCOMPARE(view.tabText(5), QString("Switch-over"));
        QStringList units;
        for (int k = 0; k < 2; ++k)
            units << view.StepView(k)
                         ->findChild<QLabel*>(QStringLiteral("c%1").arg(PrgStepModel::kIdSpeedUnit))
                         ->text();
        QVERIFY2(units.contains("rpm"), qPrintable(units.join(",")));
    }

    void aboutBox() {
        CAboutDlg about;
        const QStringList shown = ShownTexts(&about);
        QVERIFY(shown.contains("About Torvex Kelvane"));
        QVERIFY(shown.contains("Service and parameterisation program for cordless nutrunners"));
        QVERIFY2(GermanOf(shown).isEmpty(), qPrintable(Listed(GermanOf(shown))));
    }

    // The fleet's windows: captions, buttons, headers and the words of the tables.
    void fleetWindows() {
        auto withTables = [](QWidget* w) {
            QStringList texts = ShownTexts(w);
            for (QTreeWidget* list : w->findChildren<QTreeWidget*>()) {
                if (list->objectName() == "fields")
                    continue; // the record's own names
                for (int c = 0; c < list->columnCount(); ++c) {
                    texts << list->headerItem()->text(c);
                    for (int i = 0; i < list->topLevelItemCount(); ++i)
                        texts << list->topLevelItem(i)->text(c);
                }
            }
            for (QSpinBox* box : w->findChildren<QSpinBox*>())
                texts << box->specialValueText();
            texts.removeAll(QString());
            return texts;
        };
        FleetMachine m;
        m.serialNr = "SIM0000001";
        m.machineType = "QVK";
        m.service = ServiceState::Due;
        m.calibrationDue = false;
        m.compliance = FleetCompliance::No;
        m.assigned = "Station-12 v1";
        m.imageEntryId = 1;
        cDialogFleet fleetDialog({m}, {});
        QStringList shown = withTables(&fleetDialog);
        QVERIFY(shown.contains("Fleet"));
        QVERIFY(shown.contains("due"));
        QVERIFY2(GermanOf(shown).isEmpty(), qPrintable(Listed(GermanOf(shown))));

        cHistoryStore history;
        HistoryNotice notice;
        HistoryError herr;
        QVERIFY(history.Open((temp->path() + "/history.sqlite").toStdString(), notice, herr));
        cFleetStore fleet;
        std::string error;
        QVERIFY(fleet.Open(history, error));
        ParameterBlock image;
        image.bytes = SimMachine::DefaultImage();
        QCOMPARE(fleet.AddVersion("Station-12", image, "", error), 1);
        cDialogLibrary library(fleet, {});
        shown = withTables(&library);
        QVERIFY(shown.contains("Approvals"));
        QVERIFY2(GermanOf(shown).isEmpty(), qPrintable(Listed(GermanOf(shown))));
        cDialogApprovalDiff diff("SIM0000001", Translate("entspricht Freigabe %s v%d"), {});
        shown = withTables(&diff);
        QVERIFY2(GermanOf(shown).isEmpty(), qPrintable(Listed(GermanOf(shown))));

        RecordingUi ui;
        CMainSheet sheet;
        FolderSet folders;
        folders.appFolder = KELVANE_BIN_DIR;
        folders.dataFolder = (temp->path() + "/data").toStdString();
        folders.documentsFolder = (temp->path() + "/documents").toStdString();
        cDialogMain controller(ui, sheet, folders, [] { return std::vector<AdapterRecord>{}; });
        sheet.SetHost(&controller);
        {
            cDialogRollout rollout(controller, fleet);
            shown = withTables(&rollout);
            QVERIFY(shown.contains("Series transfer"));
            QVERIFY2(GermanOf(shown).isEmpty(), qPrintable(Listed(GermanOf(shown))));
        }
        sheet.SetHost(nullptr);
    }

    // The commands' messages and status texts, each path taken on the simulated machine.
    void commandsAgainstTheMachine() {
        SimOptions options;
        options.pacing = false;
        options.announce = false;
        SimMachine sim(options);
        const std::string device = sim.Start();
        QVERIFY(!device.empty());

        FolderSet folders;
        folders.appFolder = KELVANE_BIN_DIR;
        folders.dataFolder = (temp->path() + "/data").toStdString();
        folders.documentsFolder = (temp->path() + "/documents").toStdString();
        std::filesystem::create_directories(folders.dataFolder);
        RecordingUi ui;
        CMainSheet sheet;
        cDialogMain controller(ui, sheet, folders, [&device] {
            return std::vector<AdapterRecord>{{"NORKSIM1", device}};
        });
        sheet.SetHost(&controller);
        controller.Ports().SetReportCount(false);
        controller.SetPauseFunction([](int) {});
        controller.InitWindow();

        const std::string junk = (temp->path() + "/junk.bin").toStdString();
        std::ofstream(junk) << "no configuration";
        const std::string unwritable = (temp->path() + "/none/x.bin").toStdString();
        const std::string dump = (temp->path() + "/dump.bin").toStdString();

        struct Step {
            const char* what;
            std::function<void()> prepare;
            std::function<bool()> command;
            bool messageExpected;
        };
        auto& c = controller;
        const Step steps[] = {
            {"write before a read", [] {}, [&] { return c.OnWriteToMachine(); }, true},
            {"read", [] {}, [&] { return c.OnReadFromMachine(); }, false},
            {"wrong password", [&] { ui.passwords = {"9999"}; },
             [&] { return c.OnWriteToMachine(); }, true},
            {"write", [&] { ui.passwords = {"0000"}; }, [&] { return c.OnWriteToMachine(); }, true},
            {"refused data", [&] { sim.SetFault(SimFault::RefuseData); },
             [&] { return c.OnWriteToMachine(); }, true},
            {"silent machine",
             [&] {
                 sim.SetFault(SimFault::Silent);
                 c.TakeLink();
             },
             [&] { return c.OnReadFromMachine(); }, true},
            {"bad checksum",
             [&] { sim.SetFault(SimFault::BadChecksum, 1, cQVX_18::kBlockAreaAddress); },
             [&] { return c.OnReadFromMachine(); }, true},
            {"short new password",
             [&] {
                 ui.changes = {{"0000", "12", "12"}};
             },
             [&] { return c.OnChangePassword(); }, true},
            {"repetition differs",
             [&] {
                 ui.changes = {{"0000", "1234", "4321"}};
             },
             [&] { return c.OnChangePassword(); }, true},
            {"wrong old password",
             [&] {
                 ui.changes = {{"1111", "1234", "1234"}};
             },
             [&] { return c.OnChangePassword(); }, true},
            {"password changed",
             [&] {
                 ui.changes = {{"0000", "0000", "0000"}};
             },
             [&] { return c.OnChangePassword(); }, true},
            {"supervisor wrong trigger", [&] { sim.SetFault(SimFault::SupvWrongTrigger); },
             [&] { return c.OnDumpSupervisor(); }, true},
            {"supervisor dump", [&] { ui.files = {dump}; }, [&] { return c.OnDumpSupervisor(); },
             true},
            {"invalid configuration", [&] { ui.files = {junk}; },
             [&] { return c.LoadConfiguration(); }, true},
            {"configuration not saved", [&] { ui.files = {unwritable}; },
             [&] { return c.SaveConfiguration(); }, true},
            {"invalid template",
             [&] { c.UseTemplate((temp->path() + "/missing.html").toStdString()); },
             [&] { return c.OnReportOutput(); }, true},
            {"firmware file missing",
             [&] { ui.files = {(temp->path() + "/missing.bin").toStdString()}; },
             [&] { return c.OnFirmwareUpdate(); }, true},
            {"invalid firmware file", [&] { ui.files = {junk}; },
             [&] { return c.OnFirmwareUpdate(); }, true},
            {"firmware update",
             [&] {
                 ui.files = {KELVANE_BIN_DIR "/firmware/TVX18-4200_V04.03.000.bin"};
                 ui.answers = {cUserInterface::Answer::Ok, cUserInterface::Answer::Ok};
             },
             [&] { return c.OnFirmwareUpdate(); }, true},
            {"supervisor update",
             [&] {
                 ui.files = {KELVANE_BIN_DIR "/firmware/SUPV/SUPV_V01.00.03.bin"};
                 ui.answers = {cUserInterface::Answer::Ok, cUserInterface::Answer::Ok};
             },
             [&] { return c.OnSupervisorUpdate(); }, true},
            {"closing with changes", [&] { c.MarkChanged(); }, [&] { return c.OnCloseRequest(); },
             true},
        };
        for (const Step& s : steps) {
            sim.SetFault(SimFault::None);
            ui.messages.clear();
            ui.answers.clear();
            s.prepare();
            s.command();
            QVERIFY2(!s.messageExpected || !ui.messages.empty(), s.what);
            const QStringList left = GermanOf(AsQt(ui.messages));
            QVERIFY2(left.isEmpty(), qPrintable(QString(s.what) + ": " + Listed(left)));
        }
        sim.SetFault(SimFault::None);
        // The firmware update and the supervisor dump showed their transfers.
        const QStringList status = AsQt(ui.statusTexts);
        QVERIFY2(status.contains("Transferring to machine"), qPrintable(status.join(" | ")));
        QVERIFY2(status.contains("Transferring from machine"), qPrintable(status.join(" | ")));
        QVERIFY2(GermanOf(status).isEmpty(), qPrintable(Listed(GermanOf(status))));
        QVERIFY(GermanOf({QString::fromStdString(c.ConfigName())}).isEmpty());
        c.ForgetChanges();
        sheet.SetHost(nullptr);

        // A port that cannot be opened.
        RecordingUi lost;
        CMainSheet otherSheet;
        cDialogMain other(lost, otherSheet, folders, [this] {
            return std::vector<AdapterRecord>{
                {"NORKSIM2", (temp->path() + "/no-such-device").toStdString()}};
        });
        otherSheet.SetHost(&other);
        other.Ports().SetReportCount(false);
        other.SetPauseFunction([](int) {});
        other.InitWindow();
        other.OnReadFromMachine();
        QVERIFY(!lost.messages.empty());
        QVERIFY2(GermanOf(AsQt(lost.messages)).isEmpty(),
                 qPrintable(Listed(GermanOf(AsQt(lost.messages)))));
        otherSheet.SetHost(nullptr);
        sim.Stop();
    }
};

QTEST_MAIN(TestEnglish)
#include "TestEnglish.moc"
