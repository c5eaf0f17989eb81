#include "report/gui/StepGraphicExport.h"

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// JPEG blurs a one-pixel line's colour: red is clearly above green and blue.
bool IsRed(QRgb c) {
    return qRed(c) > 110 && qRed(c) - qGreen(c) > 50 && qRed(c) - qBlue(c) > 50;
}
bool IsWhite(QRgb c) {
    return qRed(c) > 230 && qGreen(c) > 230 && qBlue(c) > 230;
}
} // namespace

class TestStepGraphicExport : public QObject {
    Q_OBJECT
private slots:
    void writesJpegOfStripSizeWithProfileWhereGeometrySaysSo() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("programSteps1.jpg").toStdString();
        StepDrawContext c;
        c.machineKind = 14;
        // W = 710: right 700, seg 100; H = 200: mid 100. Speed 255 of 255 at full scale.
        std::vector<StepShape> steps{{255, 0, 0, 1}, {0, 0, 0, 0xFF}};
        std::string error;
        QVERIFY2(ExportStepGraphic(path, 710, 200, steps, c, &error), error.c_str());

        QImage img(QString::fromStdString(path));
        QCOMPARE(img.size(), QSize(710, 200));
        const int top = static_cast<int>(100 - 100 / 1.05);
        // The first step's flat top, well inside the segment, is red.
        QVERIFY(IsRed(img.pixel(60, top)));
        // Between the profile and the base line it is white, far from every line.
        QVERIFY(IsWhite(img.pixel(60, 50)));
        // Up to the end of the profile the base line is drawn again in black ...
        const QRgb base = img.pixel(150, 100);
        QVERIFY(qRed(base) < 100 && qGreen(base) < 100);
        // ... beyond it the first stroke, run back in red from the line's end, stays red.
        QVERIFY(IsRed(img.pixel(400, 100)));
    }

    void unwritableFolderIsReportedAndLeavesNothing() {
        std::string error;
        QVERIFY(!ExportStepGraphic("/nonexistent-folder/x.jpg", 200, 100, {{0, 0, 0, 0xFF}}, {},
                                   &error));
        QVERIFY(!error.empty());
    }
};

QTEST_GUILESS_MAIN(TestStepGraphicExport)
#include "TestStepGraphicExport.moc"
