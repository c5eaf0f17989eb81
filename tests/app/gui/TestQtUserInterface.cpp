#include "app/DialogMain.h"
#include "app/gui/DorvaleApp.h"
#include "app/gui/QtUserInterface.h"
#include "lang/Language.h"
#include "tests/app/gui/ModalHelpers.h"
#include "tests/app/gui/RecordingUi.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

class TestQtUserInterface : public QObject {
    Q_OBJECT
private slots:
    void messageButtonsAnswer() {
        QtUserInterface ui;
        WhenModal([](QWidget* w) { ClickButton(w, "Nein"); });
        QCOMPARE(
            ui.ShowMessage("Frage", cUserInterface::Buttons::YesNo, cUserInterface::Icon::Warning),
            cUserInterface::Answer::No);
        WhenModal([](QWidget* w) { ClickButton(w, "Ja"); });
        QCOMPARE(
            ui.ShowMessage("Frage", cUserInterface::Buttons::YesNo, cUserInterface::Icon::None),
            cUserInterface::Answer::Yes);
        WhenModal([](QWidget* w) { ClickButton(w, "Abbrechen"); });
        QCOMPARE(ui.ShowMessage("x", cUserInterface::Buttons::OkCancel, cUserInterface::Icon::None),
                 cUserInterface::Answer::Cancel);
    }

    void passwordDialogsLimitAndReturnTheirFields() {
        QtUserInterface ui;
        WhenModal([](QWidget* w) {
            auto* field = w->findChild<QLineEdit*>("password");
            QTest::keyClicks(field, "geheim12345");
            ClickButton(w, "OK");
        });
        std::string pw;
        QVERIFY(ui.AskPassword(pw));
        QCOMPARE(QString::fromStdString(pw), QString("geheim12")); // eight characters at most

        WhenModal([](QWidget* w) {
            QTest::keyClicks(w->findChild<QLineEdit*>("oldPassword"), "0000");
            QTest::keyClicks(w->findChild<QLineEdit*>("newPassword"), "abcd");
            QTest::keyClicks(w->findChild<QLineEdit*>("repetition"), "abcdefghijk");
            ClickButton(w, "OK");
        });
        cUserInterface::PasswordChange change;
        QVERIFY(ui.AskPasswordChange(change));
        QCOMPARE(QString::fromStdString(change.oldPassword), QString("0000"));
        QCOMPARE(QString::fromStdString(change.repetition), QString("abcdefghijk"));

        WhenModal([](QWidget* w) { ClickButton(w, "Cancel"); });
        QVERIFY(!ui.AskPassword(pw));
    }

    // "Als Freigabe speichern": an existing name chosen from the list, a new one typed over
    // the proposal, a note without a list, and a cancel.
    void textQuestionsOfferChoicesAndTakeNewText() {
        QtUserInterface ui;
        const cUserInterface::TextRequest names{
            "Als Freigabe speichern", "Name der Freigabe:", {"Linie 4", "Station-12"}};
        std::string text = "Station-12";
        WhenModal([](QWidget* w) {
            auto* combo = w->findChild<QComboBox*>();
            QVERIFY(combo && combo->isEditable());
            QCOMPARE(combo->currentText(), QString("Station-12")); // the proposal
            combo->setCurrentIndex(0);
            ClickButton(w, "OK");
        });
        QVERIFY(ui.AskText(names, text));
        QCOMPARE(QString::fromStdString(text), QString("Linie 4"));
        WhenModal([](QWidget* w) {
            auto* combo = w->findChild<QComboBox*>();
            combo->lineEdit()->selectAll();
            QTest::keyClicks(combo->lineEdit(), "Station-13");
            ClickButton(w, "OK");
        });
        QVERIFY(ui.AskText(names, text));
        QCOMPARE(QString::fromStdString(text), QString("Station-13"));

        std::string note;
        WhenModal([](QWidget* w) {
            QVERIFY(!w->findChild<QComboBox*>() || !w->findChild<QComboBox*>()->isVisible());
            QTest::keyClicks(w->findChild<QLineEdit*>(), "Anzug 12 Nm");
            ClickButton(w, "OK");
        });
        QVERIFY(ui.AskText({"Als Freigabe speichern", "Notiz:", {}}, note));
        QCOMPARE(QString::fromStdString(note), QString("Anzug 12 Nm"));
        WhenModal([](QWidget* w) { ClickButton(w, "Abbrechen"); });
        QVERIFY(!ui.AskText(names, text));
        QCOMPARE(QString::fromStdString(text), QString("Station-13")); // unchanged
    }

    void passwordDialogsShowOkAndCancel() {
        cDialogPassword password;
        cDialogPwChange change;
        for (QDialog* dialog : {static_cast<QDialog*>(&password), static_cast<QDialog*>(&change)}) {
            QStringList texts;
            for (auto* button : dialog->findChildren<QPushButton*>())
                texts << button->text();
            texts.sort();
            QCOMPARE(texts, (QStringList{"Cancel", "OK"}));
        }
    }

    void halfASurrogatePairReachesTheController() {
        // A ninth-and-tenth-unit pair cut by the field's limit of eight units.
        QtUserInterface ui;
        QString typed;
        WhenModal([&](QWidget* w) {
            auto* field = w->findChild<QLineEdit*>("password");
            field->setText(QString::fromStdU16String(u"abcdefg\U0001F600"));
            typed = field->text();
            ClickButton(w, "OK");
        });
        std::string pw;
        QVERIFY(ui.AskPassword(pw));
        QCOMPARE(QString::fromStdU16String(cDialogMain::PasswordUnits(pw)), typed);
        QCOMPARE(cDialogMain::PasswordUnits(pw).substr(0, 7), std::u16string(u"abcdefg"));
    }

    void fileDialogsTakeTheRequest() {
        QTemporaryDir temp;
        struct Case {
            const char* name;
            const char* extension;
            bool save;
        } cases[] = {{"Torvex.html", "html", false},
                     {"x_1_2_3_4.bin", "bin", false},
                     {"x_1_2_3_4.bin", "bin", true}};
        for (const Case& c : cases) {
            cUserInterface::FileRequest request;
            request.folder = temp.path().toStdString();
            request.proposedName = c.name;
            request.defaultExtension = c.extension;
            QFileDialog dialog;
            PrepareFileDialog(dialog, request, c.save);
            QCOMPARE(dialog.defaultSuffix(), QString(c.extension));
            QCOMPARE(dialog.acceptMode(),
                     c.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
            QCOMPARE(QFileInfo(dialog.directory().path()), QFileInfo(temp.path()));
            QVERIFY(!dialog.selectedFiles().isEmpty());
            QCOMPARE(QFileInfo(dialog.selectedFiles().front()).fileName(), QString(c.name));
        }
    }

    void aMissingGermanBaseIsSaid() {
        QTemporaryDir empty;
        SetLanguageFolder(empty.path().toStdString() + "/");
        RecordingUi ui;
        QVERIFY(!CDorvaleApp::LoadBaseLanguage(ui));
        QCOMPARE(ui.messages.size(), size_t{1});
        QVERIFY(QString::fromStdString(ui.messages[0])
                    .startsWith("Fehler beim laden der Sprach-Datei"));
        QVERIFY(QString::fromStdString(ui.messages[0]).contains(empty.path()));

        SetLanguageFolder(std::string(KELVANE_BIN_DIR) + "/language/");
        ui.messages.clear();
        QVERIFY(CDorvaleApp::LoadBaseLanguage(ui));
        QVERIFY(ui.messages.empty());
    }

    void ownOptionsAreJudgedBeforeQtsAreTakenOut() {
        using Options = CDorvaleApp::Options;
        const Options early = CDorvaleApp::ParseArguments(
            {"kelvane", "-platform", "offscreen", "--port", "/dev/x"}, true);
        QVERIFY(early.error.isEmpty());
        QCOMPARE(early.port, QString("/dev/x"));
        QCOMPARE(CDorvaleApp::ParseArguments({"kelvane", "-platform"}).error,
                 QString("unknown argument: -platform"));
        QCOMPARE(CDorvaleApp::ParseArguments({"kelvane", "--read", "--port"}, true).error,
                 QString("--port needs a value (a device, e.g. /dev/ttyUSB0)"));
        QVERIFY(CDorvaleApp::ParseArguments({"kelvane", "--version"}, true).version);
    }

    void fileFilterText() {
        QCOMPARE(QtFileFilter("Config Files (*.bin)|*.bin|"), QString("Config Files (*.bin)"));
        QCOMPARE(QtFileFilter("Template Files (*.html)|*.html|Alle|*.*|"),
                 QString("Template Files (*.html);;Alle (*.*)"));
    }
};

QTEST_MAIN(TestQtUserInterface)
#include "TestQtUserInterface.moc"
