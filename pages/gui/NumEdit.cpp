#include "pages/gui/NumEdit.h"

#include "pages/NumEditRule.h"

#include <QKeyEvent>
#include <algorithm>

CNumEdit::CNumEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, [this] { Check(); });
    setText(lastGood);
}

void CNumEdit::SetMode(int m) {
    mode = m;
}

void CNumEdit::SetInt(std::int64_t v) {
    intValue = v;
    realValue = static_cast<double>(v);
    setText(QString::fromStdString(NumEditRule::FormatInt(v)));
}

void CNumEdit::SetReal(double x) {
    realValue = x;
    intValue = static_cast<std::int64_t>(x);
    setText(QString::fromStdString(NumEditRule::FormatFixed6(x)));
}

void CNumEdit::keyPressEvent(QKeyEvent* event) {
    const QString t = event->text();
    if (!t.isEmpty()) {
        const char16_t c = t.at(0).unicode();
        // Control keys change nothing worth remembering (backspace, tab, line feed, return,
        // escape, and the control chords such as paste).
        if (c >= 0x20 && c != 0x7F) {
            if (hasSelectedText()) {
                savedStart = selectionStart();
                savedEnd = selectionEnd();
            } else {
                savedStart = savedEnd = cursorPosition();
            }
            lastGood = text();
        }
    }
    QLineEdit::keyPressEvent(event);
}

void CNumEdit::Check() {
    if (busy)
        return;
    const std::string current = text().toStdString();
    const NumEditRule::Check c = NumEditRule::Judge(mode, current);
    if (c.outcome == NumEditRule::Check::Unchecked) {
        emit NumberChanged();
        return;
    }
    if (c.outcome == NumEditRule::Check::Undo) {
        busy = true;
        setText(lastGood);
        busy = false;
        const int n = static_cast<int>(text().size());
        const int start = std::min(savedStart, n);
        const int end = std::min(savedEnd, n);
        if (start != end)
            setSelection(start, end - start);
        else
            setCursorPosition(start);
        return;
    }
    if (c.replaceWithZero) {
        setText(QStringLiteral("0")); // checked again on the way
        return;
    }
    lastGood = QString::fromStdString(c.goodText);
    intValue = c.intValue;
    realValue = c.realValue;
    emit NumberChanged();
}
