#include "model/gui/DrawListPainter.h"

#include <QPainter>

#include <algorithm>
#include <cstdlib>

namespace {
QColor ToQColor(DrawColor c) {
    return QColor(c.r, c.g, c.b);
}
} // namespace

void PaintDrawList(QPainter& painter, const DrawList& list) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const DrawOp& op : list) {
        const QColor color = ToQColor(op.color);
        switch (op.kind) {
        case DrawOp::Kind::Fill:
            if (op.x2 > op.x1 && op.y2 > op.y1)
                painter.fillRect(QRect(op.x1, op.y1, op.x2 - op.x1, op.y2 - op.y1), color);
            break;
        case DrawOp::Kind::Frame: {
            const int w = op.x2 - op.x1, h = op.y2 - op.y1;
            if (w <= 0 || h <= 0)
                break;
            painter.fillRect(QRect(op.x1, op.y1, w, 1), color);
            painter.fillRect(QRect(op.x1, op.y2 - 1, w, 1), color);
            painter.fillRect(QRect(op.x1, op.y1, 1, h), color);
            painter.fillRect(QRect(op.x2 - 1, op.y1, 1, h), color);
            break;
        }
        case DrawOp::Kind::Line: {
            if (op.x1 == op.x2 && op.y1 == op.y2)
                break;
            QPen pen(color);
            pen.setWidth(0); // cosmetic: one pixel whatever the transform
            painter.setPen(pen);
            // Qt paints the end point, GDI does not: stop one pixel short along the line.
            const int dx = op.x2 - op.x1, dy = op.y2 - op.y1;
            const int steps = std::max(std::abs(dx), std::abs(dy));
            const double fx = op.x1 + dx * double(steps - 1) / steps;
            const double fy = op.y1 + dy * double(steps - 1) / steps;
            painter.drawLine(QPointF(op.x1, op.y1), QPointF(fx, fy));
            break;
        }
        }
    }
    painter.restore();
}
