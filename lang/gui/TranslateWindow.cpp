#include "lang/gui/TranslateWindow.h"

#include "lang/Language.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>

namespace {

QString Tr(const QString& text) {
    if (text.isEmpty())
        return text;
    return QString::fromStdString(Translate(text.toStdString()));
}

bool TranslateActions(const QList<QAction*>& actions) {
    if (actions.isEmpty())
        return false;
    for (QAction* a : actions) {
        if (a->isSeparator() || a->text().isEmpty())
            continue;
        a->setText(Tr(a->text()));
        if (QMenu* sub = a->menu())
            TranslateMenu(sub);
    }
    return true;
}

void TranslateTreeItem(QTreeWidgetItem* item) {
    for (int c = 0; c < item->columnCount(); ++c) {
        const QString text = item->text(c);
        if (item->data(c, Qt::UserRole).toLongLong() != 0) {
            const qsizetype space = text.indexOf(' ');
            if (space >= 0)
                item->setText(c, Tr(text.left(space)) + text.mid(space));
        } else {
            item->setText(c, Tr(text));
        }
    }
    for (int i = 0; i < item->childCount(); ++i)
        TranslateTreeItem(item->child(i));
}

void TranslateWidget(QWidget* w) {
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        const int selected = combo->currentIndex();
        const QSignalBlocker block(combo);
        for (int i = 0; i < combo->count(); ++i)
            combo->setItemText(i, Tr(combo->itemText(i)));
        combo->setCurrentIndex(selected);
    } else if (auto* tree = qobject_cast<QTreeWidget*>(w)) {
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            TranslateTreeItem(tree->topLevelItem(i));
    } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
        for (int i = 0; i < tabs->count(); ++i)
            tabs->setTabText(i, Tr(tabs->tabText(i)));
    } else if (auto* bar = qobject_cast<QToolBar*>(w)) {
        TranslateActions(bar->actions());
    }

    // The caption every kind carries.
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->text() != "Sheet")
            label->setText(Tr(label->text()));
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        if (button->text() != "Sheet")
            button->setText(Tr(button->text()));
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        if (group->title() != "Sheet")
            group->setTitle(Tr(group->title()));
    }
    if (w->isWindow() || !w->windowTitle().isEmpty()) {
        if (w->windowTitle() != "Sheet")
            w->setWindowTitle(Tr(w->windowTitle()));
    }
    w->update();
}

} // namespace

bool TranslateMenu(QMenu* menu) {
    return menu && TranslateActions(menu->actions());
}

bool TranslateMenu(QMenuBar* menuBar) {
    return menuBar && TranslateActions(menuBar->actions());
}

bool TranslateWindow(QWidget* window) {
    if (!window)
        return false;
    if (auto* main = qobject_cast<QMainWindow*>(window)) {
        if (main->menuWidget())
            TranslateMenu(main->menuBar());
    }
    TranslateWidget(window);
    // A QTabWidget keeps its titles in its own bar, found among the descendants.
    const QList<QWidget*> all = window->findChildren<QWidget*>();
    for (QWidget* w : all) {
        if (qobject_cast<QMenu*>(w))
            continue; // menus are translated through their actions
        TranslateWidget(w);
    }
    return true;
}
