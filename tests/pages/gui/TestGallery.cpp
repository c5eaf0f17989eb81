// Renders every editor page with a sample machine. With KELVANE_GALLERY_DIR set the pictures
// are written there as PNG files; otherwise they are only checked for content.
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTest>

#include "tests/pages/PageFakes.h"
#include "tests/pages/gui/PageSamples.h"

namespace {

void Render(QWidget& page, const QString& name) {
    page.resize(page.sizeHint().expandedTo(QSize(480, 320)));
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    const QImage shot = page.grab().toImage();
    QVERIFY(!shot.isNull());
    // Something is drawn: not every pixel has the background colour.
    const QRgb first = shot.pixel(0, 0);
    bool varied = false;
    for (int y = 0; y < shot.height() && !varied; y += 3)
        for (int x = 0; x < shot.width() && !varied; x += 3)
            varied = shot.pixel(x, y) != first;
    QVERIFY2(varied, qPrintable(name + " is empty"));
    const QString dir = qEnvironmentVariable("KELVANE_GALLERY_DIR");
    if (!dir.isEmpty()) {
        QDir().mkpath(dir);
        QVERIFY(shot.save(QDir(dir).filePath(name + ".png")));
    }
}

} // namespace

class TestGallery : public QObject {
    Q_OBJECT
private slots:
    void header() {
        FakeHost host;
        PageSample sample;
        cDialogHeader page(host);
        sample.Bind(page);
        Render(page, "header");
    }
    void programStep() {
        FakeHost host;
        PageSample sample;
        cDialogPrgStep page(host);
        sample.Bind(page, 0);
        page.Model().ShowErrorCriteria(true);
        Render(page, "program_step");
    }
    void programStepLast() {
        FakeHost host;
        PageSample sample;
        cDialogPrgStep page(host);
        sample.Bind(page, 4);
        Render(page, "program_step_5");
    }
    void maintenance() {
        FakeHost host;
        PageSample sample;
        cDialogMaintenceData page(host);
        sample.Bind(page);
        Render(page, "maintenance");
    }
    void expert() {
        FakeHost host;
        PageSample sample;
        cDialogExpert page(host);
        sample.Bind(page);
        Render(page, "expert");
    }
};

QTEST_MAIN(TestGallery)
#include "TestGallery.moc"
