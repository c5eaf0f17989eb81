#include "pages/gui/StepGraphicWnd.h"

#include "model/gui/DrawListPainter.h"

#include <QMouseEvent>
#include <QPainter>

cStepGraphicWnd::cStepGraphicWnd(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setMinimumHeight(60);
    setCursor(Qt::PointingHandCursor);
}

DrawList cStepGraphicWnd::CurrentDrawing() const {
    OverviewInput in = source_ ? source_() : OverviewInput{};
    const QRect r = contentsRect();
    in.width = r.width();
    in.height = r.height();
    if (in.steps.empty())
        return {{DrawOp::Kind::Fill, 0, 0, in.width, in.height, kDrawBackground}};
    return DrawStepOverview(in);
}

void cStepGraphicWnd::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    last_ = CurrentDrawing();
    QPainter painter(this);
    const QRect r = contentsRect();
    painter.translate(r.topLeft());
    painter.setClipRect(QRect(QPoint(0, 0), r.size()));
    PaintDrawList(painter, last_);
}

void cStepGraphicWnd::mousePressEvent(QMouseEvent* event) {
    const QRect r = contentsRect();
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton && r.contains(p) && p.x() > r.left() && p.y() > r.top()) {
        const int stepCount = source_ ? static_cast<int>(source_().steps.size()) : 5;
        emit stepPageClicked(
            OverviewClickTab(r.width(), p.x() - r.left(), stepCount ? stepCount : 5));
    }
    QFrame::mousePressEvent(event);
}
