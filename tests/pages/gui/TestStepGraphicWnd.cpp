#include "pages/gui/StepGraphicWnd.h"

#include <QSignalSpy>
#include <QtTest>

class TestStepGraphicWnd : public QObject {
    Q_OBJECT

    static OverviewInput Input() {
        OverviewInput in;
        in.context.machineKind = 14;
        for (int i = 0; i < 5; ++i)
            in.steps.push_back({static_cast<uint16_t>(50 * (i + 1)), 0, 0,
                                static_cast<uint8_t>(i < 4 ? i + 1 : 0xFF)});
        in.activeTab = 2;
        return in;
    }

private slots:
    void paintsTheOverviewOfItsSize() {
        cStepGraphicWnd w;
        w.SetInputSource(&Input);
        w.resize(512, 102); // contents 510 x 100 inside the frame
        QImage img(w.size(), QImage::Format_RGB32);
        w.render(&img);
        OverviewInput in = Input();
        in.width = 510;
        in.height = 100;
        QCOMPARE(w.LastDrawing(), DrawStepOverview(in));
        // The open step (tab 2 = second segment, x 110..210) is white, the rest grey.
        QCOMPARE(QColor(img.pixel(1 + 150, 1 + 10)), QColor(255, 255, 255));
        QCOMPARE(QColor(img.pixel(1 + 50, 1 + 10)), QColor(192, 192, 192));
        // The profile: step 1 (speed 50 of 255) in red at its height.
        const int y = static_cast<int>(50 - 50.0 * 50 / (255 * 1.05));
        QCOMPARE(QColor(img.pixel(1 + 60, 1 + y)), QColor(255, 0, 0));
    }

    void clickSelectsTheStepPage() {
        cStepGraphicWnd w;
        w.SetInputSource(&Input);
        w.resize(512, 102);
        QSignalSpy spy(&w, &cStepGraphicWnd::stepPageClicked);
        QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(1 + 5, 50));
        QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(1 + 480, 50));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toInt(), 1);
        QCOMPARE(spy.at(1).at(0).toInt(), 5);
    }
};

QTEST_MAIN(TestStepGraphicWnd)
#include "TestStepGraphicWnd.moc"
