#pragma once

#include "model/StepDrawing.h"

#include <QFrame>

#include <functional>

// The program step overview below the page sheet: paints the drawing list of the current
// parameter set and turns a click into the step page under the mouse.
class cStepGraphicWnd : public QFrame {
    Q_OBJECT
public:
    // Asked at every paint for what to draw (the strip's size is filled in here).
    using InputSource = std::function<OverviewInput()>;

    explicit cStepGraphicWnd(QWidget* parent = nullptr);
    void SetInputSource(InputSource source) { source_ = std::move(source); }
    // What the last paint drew (tests compare it with the geometry).
    const DrawList& LastDrawing() const { return last_; }
    DrawList CurrentDrawing() const;

signals:
    // The tab to activate: 1..5 (step page tab - 1).
    void stepPageClicked(int tab);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    InputSource source_;
    DrawList last_;
};
