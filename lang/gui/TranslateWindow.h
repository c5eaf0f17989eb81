// Retitles Qt windows from their German texts through Translate, once, at the end of a
// window's set-up.
#pragma once

class QWidget;
class QMenu;
class QMenuBar;

// The window's title and every descendant by kind: labels, buttons and check boxes, group
// boxes, combo box items (order and selection kept), tab titles, tree items (an item whose
// Qt::UserRole value is non-zero has only its first word translated), tool buttons, and the
// menus of a main window. Edit fields hold data, not captions, and are left alone; a widget
// whose text is "Sheet" keeps it. False only for a null window.
bool TranslateWindow(QWidget* window);

// Every action text of the menu, submenus included. False for a null or empty menu.
bool TranslateMenu(QMenu* menu);
bool TranslateMenu(QMenuBar* menuBar);
