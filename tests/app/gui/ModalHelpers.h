// Answering modal dialogs from a Qt test: the dialog's own event loop runs the action.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <functional>

// Runs `act` on the modal dialog as soon as it is shown.
inline void WhenModal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w) {
            WhenModal(act);
            return;
        }
        act(w);
    });
}

// The dialog's first button of this kind with this text; nullptr when it has none.
template <class Button = QAbstractButton>
Button* ButtonNamed(QWidget* dialog, const QString& text) {
    for (Button* b : dialog->findChildren<Button*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

// Clicks the push button with this text; the test fails when there is none.
inline void ClickButton(QWidget* dialog, const QString& text) {
    if (QPushButton* b = ButtonNamed<QPushButton>(dialog, text)) {
        b->click();
        return;
    }
    QFAIL(qPrintable("no button " + text));
}
