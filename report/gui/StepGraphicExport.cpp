#include "report/gui/StepGraphicExport.h"

#include "model/gui/DrawListPainter.h"

#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <cstdio>
#include <unistd.h>

bool ExportStepGraphic(const std::string& path, int width, int height,
                       const std::vector<StepShape>& steps, const StepDrawContext& context,
                       std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (width <= 10 || height <= 0 || width > 16384 || height > 16384)
        return fail("picture size out of range");

    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        PaintDrawList(painter, DrawStepExport(width, height, steps, context));
    }

    const QList<QByteArray> formats = QImageWriter::imageFormatsForMimeType("image/jpeg");
    if (formats.isEmpty())
        return fail("no JPEG encoder available");

    const std::string tmp = path + ".tmp" + std::to_string(::getpid());
    QImageWriter writer(QString::fromStdString(tmp), formats.front());
    if (!writer.write(image)) {
        std::remove(tmp.c_str());
        return fail(writer.errorString().toStdString());
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return fail("cannot replace " + path);
    }
    return true;
}
