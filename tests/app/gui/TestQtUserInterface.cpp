#include "app/gui/QtUserInterface.h"
#include "tests/app/gui/ModalHelpers.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
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

        WhenModal([](QWidget* w) { ClickButton(w, "Abbrechen"); });
        QVERIFY(!ui.AskPassword(pw));
    }

    void fileFilterText() {
        QCOMPARE(QtFileFilter("Config Files (*.bin)|*.bin|"), QString("Config Files (*.bin)"));
        QCOMPARE(QtFileFilter("Template Files (*.html)|*.html|Alle|*.*|"),
                 QString("Template Files (*.html);;Alle (*.*)"));
    }
};

QTEST_MAIN(TestQtUserInterface)
#include "TestQtUserInterface.moc"
