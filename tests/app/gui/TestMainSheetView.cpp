#include "app/gui/MainSheetView.h"

#include <QTabBar>
#include <QTest>
#include <memory>

#include "pages/gui/NumEdit.h"
#include "tests/app/gui/BoundSheet.h"

namespace {

void ShowActive(QWidget& w) {
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
}

void ClickTab(cMainSheetView& view, int tab) {
    QTabBar* bar = view.tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(tab).center());
}

CNumEdit* SpeedEdit(cMainSheetView& view, int k) {
    auto* e =
        view.StepView(k)->findChild<CNumEdit*>(QStringLiteral("c%1").arg(PrgStepModel::kIdSpeed));
    if (!e)
        qFatal("no speed edit");
    return e;
}

} // namespace

class TestMainSheetView : public QObject {
    Q_OBJECT
private slots:
    void eightTabsWithTheirTitles() {
        BoundSheet m;
        m.sheet.SetStepCaptions(1, 0x01); // the window starts with the set-1 captions
        cMainSheetView view(m.sheet);
        QCOMPARE(view.count(), 8);
        const QStringList titles = {"Kopfdaten",         "Programmschritt 1", "Programmschritt 2",
                                    "Programmschritt 3", "Programmschritt 4", "Programmschritt 5",
                                    "Wartungsdaten",     "Expertenmodus"};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(view.tabText(i), titles[i]);
        QCOMPARE(view.PageView(CSheet::kExpertPage), view.ExpertView());

        m.sheet.SetStepCaptions(1, 0x01);
        QCOMPARE(view.tabText(1), QString("Programmschritt 6"));
        QCOMPARE(view.tabText(5), QString("Umschaltung"));
    }

    void clickedTabFollowsTheSheet() {
        BoundSheet m;
        cMainSheetView view(m.sheet);
        ShowActive(view);
        ClickTab(view, 3);
        QCOMPARE(view.currentIndex(), 3);
        QCOMPARE(m.sheet.ActivePage(), 3);
        QVERIFY(m.sheet.Step(2).WindowCreated());
        QVERIFY(m.host.redraws > 0);

        m.sheet.SetActivePage(CSheet::kMaintenancePage); // the controller's choice is shown
        QCOMPARE(view.currentIndex(), int(CSheet::kMaintenancePage));
    }

    void refusedSwitchKeepsTheTab() {
        BoundSheet m;
        cMainSheetView view(m.sheet);
        ShowActive(view);
        ClickTab(view, CSheet::kExpertPage);
        QCOMPARE(view.currentIndex(), int(CSheet::kExpertPage));

        m.sheet.Expert().OnUserFactorChanged(150); // above 99: the page may not be left
        ClickTab(view, 2);
        QCOMPARE(view.currentIndex(), int(CSheet::kExpertPage));
        QCOMPARE(m.sheet.ActivePage(), int(CSheet::kExpertPage));
        QVERIFY(!m.sheet.Step(1).WindowCreated());
        QCOMPARE(m.host.refreshes, 0);

        // Arrow keys on the tab bar do not pass the mouse filter: the change is put back.
        view.tabBar()->setFocus();
        m.sheet.Expert().OnUserFactorChanged(150);
        QTest::keyClick(view.tabBar(), Qt::Key_Left);
        QCOMPARE(m.sheet.ActivePage(), int(CSheet::kExpertPage));
        QCOMPARE(view.currentIndex(), int(CSheet::kExpertPage));
        QVERIFY(view.ExpertView()->isVisible());
        QVERIFY(!view.MaintenanceView()->isVisible());

        // Corrected to 99 by the refusal, the page lets go.
        QTest::keyClick(view.tabBar(), Qt::Key_Left);
        QCOMPARE(view.currentIndex(), int(CSheet::kMaintenancePage));
        QCOMPARE(m.sheet.ActivePage(), int(CSheet::kMaintenancePage));
        QCOMPARE(m.host.refreshes, 1);
    }

    void typingIntoAStepPageReachesTheImage() {
        BoundSheet m;
        cMainSheetView view(m.sheet);
        ShowActive(view);
        ClickTab(view, 1);
        CNumEdit* speed = SpeedEdit(view, 0);
        QCOMPARE(speed->text(), QString("92"));
        speed->setFocus();
        speed->selectAll();
        QTest::keyClicks(speed, "2000");
        QCOMPARE(speed->text(), QString("1236")); // the battery's maximum at 18.2
        QCOMPARE(m.sample.image.Step(0).Speed(),
                 SpeedToMachine(m.sheet.Step(0).Context(), 1236, true));
        QVERIFY(m.host.changed > 0);
    }

    void windowMadeAgainShowsTheSameValues() {
        BoundSheet m;
        auto view = std::make_unique<cMainSheetView>(m.sheet);
        ShowActive(*view);
        ClickTab(*view, 2);
        CNumEdit* speed = SpeedEdit(*view, 1);
        speed->setFocus();
        speed->selectAll();
        QTest::keyClicks(speed, "500");
        QCOMPARE(speed->text(), QString("500"));
        view.reset();
        QVERIFY(m.sheet.View() == nullptr);

        // Without a window the sheet and its pages go on.
        m.sheet.SetGearFactor(1.0);
        m.sheet.LockPages(true);
        m.sheet.BindPages(m.sample.image, 0);
        m.sheet.Step(1).OnActivated();

        cMainSheetView again(m.sheet);
        ShowActive(again);
        QCOMPARE(again.currentIndex(), 2);
        QCOMPARE(SpeedEdit(again, 1)->text(), QString("500"));
        QVERIFY(!SpeedEdit(again, 1)->isEnabled()); // locked while there was no window
        QCOMPARE(again.tabText(1), QString("Programmschritt 1"));
    }

    void pagesLockedBeforeTheWindowShowsTakeTheLock() {
        BoundSheet m;
        {
            cMainSheetView first(m.sheet);
            ShowActive(first);
            ClickTab(first, 1);
            QVERIFY(SpeedEdit(first, 0)->isEnabled());
        }
        // The next showing: the pages are bound, then locked, then the window shows.
        cMainSheetView again(m.sheet);
        m.sheet.BindPages(m.sample.image, 0);
        m.sheet.LockPages(true);
        ShowActive(again);
        QVERIFY(!SpeedEdit(again, 0)->isEnabled());
    }
};

QTEST_MAIN(TestMainSheetView)
#include "TestMainSheetView.moc"
