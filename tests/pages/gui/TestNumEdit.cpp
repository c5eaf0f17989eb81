#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "pages/NumEditRule.h"
#include "pages/gui/NumEdit.h"

class TestNumEdit : public QObject {
    Q_OBJECT
private slots:
    void letterAfterNumberIsUndoneWithCaret() {
        CNumEdit e;
        e.SetMode(NumEditRule::kInteger);
        e.show();
        e.selectAll();
        QTest::keyClicks(&e, "12");
        QCOMPARE(e.text(), QString("12"));
        e.setCursorPosition(1);
        QTest::keyClicks(&e, "a");
        QCOMPARE(e.text(), QString("12"));
        QCOMPARE(e.cursorPosition(), 1);
        QCOMPARE(e.GetInt(), 12);
    }
    void signAloneIsRefused() {
        CNumEdit e;
        e.SetMode(NumEditRule::kInteger);
        e.show();
        e.selectAll();
        QTest::keyClicks(&e, "-");
        QCOMPARE(e.text(), QString("0"));
        e.selectAll();
        QTest::keyClicks(&e, "+");
        QCOMPARE(e.text(), QString("0"));
    }
    void deletingEverythingLeavesZero() {
        CNumEdit e;
        e.show();
        QCOMPARE(e.text(), QString("0"));
        e.selectAll();
        QTest::keyClicks(&e, "345");
        e.selectAll();
        QTest::keyClick(&e, Qt::Key_Backspace);
        QCOMPARE(e.text(), QString("0"));
        QCOMPARE(e.GetInt(), 0);
    }
    void realTexts() {
        CNumEdit e;
        e.SetMode(NumEditRule::kReal);
        e.show();
        e.selectAll();
        QTest::keyClicks(&e, "1.");
        QCOMPARE(e.text(), QString("1."));
        QTest::keyClicks(&e, "5e");
        QCOMPARE(e.text(), QString("1.5"));
        e.selectAll();
        QTest::keyClicks(&e, "0,5");
        QCOMPARE(e.text(), QString("05"));
        e.setText(".5");
        QCOMPARE(e.GetReal(), 0.5);
        e.selectAll();
        QTest::keyClicks(&e, ".");
        QCOMPARE(e.text(), QString(".5"));
    }
    void pastedTextIsUndone() {
        CNumEdit e;
        e.show();
        e.selectAll();
        QTest::keyClicks(&e, "42");
        e.insert("7x"); // as a paste does
        QCOMPARE(e.text(), QString("42"));
        QCOMPARE(e.GetInt(), 42);
    }
    void programmaticValues() {
        CNumEdit e;
        e.SetMode(NumEditRule::kReal);
        QSignalSpy changed(&e, &CNumEdit::NumberChanged);
        e.SetReal(2.5);
        QCOMPARE(e.text(), QString("2.500000"));
        e.SetInt(-3);
        QCOMPARE(e.text(), QString("-3"));
        QCOMPARE(changed.count(), 2);
    }
};

QTEST_MAIN(TestNumEdit)
#include "TestNumEdit.moc"
