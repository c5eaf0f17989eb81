#include "app/gui/MainSheetView.h"

#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QTabBar>

#include "lang/gui/TranslateWindow.h"
#include "pages/gui/DialogExpert.h"
#include "pages/gui/DialogHeader.h"
#include "pages/gui/DialogMaintenceData.h"
#include "pages/gui/DialogPrgStep.h"

cMainSheetView::cMainSheetView(CMainSheet& s, QWidget* parent) : QTabWidget(parent), sheet(s) {
    header = new cDialogHeader(sheet.Header(), this);
    pages[CSheet::kHeaderPage] = header;
    addTab(header, cPageWidget::T("Kopfdaten"));
    for (int k = 0; k < CMainSheet::kStepPages; ++k) {
        steps[k] = new cDialogPrgStep(sheet.Step(k), this);
        pages[CSheet::kFirstStepPage + k] = steps[k];
        addTab(steps[k], QString::fromStdString(sheet.Caption(k)));
    }
    maintenance = new cDialogMaintenceData(sheet.Maintenance(), this);
    pages[CSheet::kMaintenancePage] = maintenance;
    addTab(maintenance, cPageWidget::T("Wartungsdaten"));
    expert = new cDialogExpert(sheet.Expert(), this);
    pages[CSheet::kExpertPage] = expert;
    addTab(expert, cPageWidget::T("Expertenmodus"));

    setCurrentIndex(sheet.ActivePage());
    sheet.SetView(this);
    sheet.SetStepCaptions(0, 0);

    // A tab bar click asks the sheet before anything is shown; other ways of changing the tab
    // (keys) are put back when the sheet refuses.
    tabBar()->installEventFilter(this);
    changed = connect(this, &QTabWidget::currentChanged, this,
                      [this](int index) { OnCurrentChanged(index); });
    TranslateWindow(this);
}

cMainSheetView::~cMainSheetView() {
    // The pages go after this body; their removal must not reach the sheet any more.
    disconnect(changed);
    tabBar()->removeEventFilter(this);
    if (sheet.View() == this)
        sheet.SetView(nullptr);
}

cPageWidget* cMainSheetView::PageView(int tab) const {
    return tab >= 0 && tab < CMainSheet::kPageCount ? pages[tab] : nullptr;
}

cDialogPrgStep* cMainSheetView::StepView(int k) const {
    return k >= 0 && k < CMainSheet::kStepPages ? steps[k] : nullptr;
}

void cMainSheetView::ShowCaptions() {
    for (int k = 0; k < CMainSheet::kStepPages; ++k)
        setTabText(CSheet::kFirstStepPage + k, QString::fromStdString(sheet.Caption(k)));
}

void cMainSheetView::ShowActivePage() {
    if (currentIndex() == sheet.ActivePage())
        return;
    QScopedValueRollback guard(syncing, true);
    setCurrentIndex(sheet.ActivePage());
}

void cMainSheetView::ShowAllPages() {
    for (cPageWidget* page : pages)
        page->ShowValues();
}

void cMainSheetView::OnCurrentChanged(int index) {
    if (syncing || index < 0 || index == sheet.ActivePage())
        return;
    // A refusal brings the kept tab back through ShowActivePage.
    if (!sheet.RequestPage(index))
        ShowActivePage();
}

bool cMainSheetView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tabBar()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const int index = tabBar()->tabAt(mouse->position().toPoint());
            if (mouse->button() == Qt::LeftButton && index >= 0 && index != currentIndex()) {
                sheet.RequestPage(index); // shows the tab the sheet settles on
                return true;
            }
            break;
        }
        case QEvent::Wheel:
            return true; // no page change behind the user's back
        default:
            break;
        }
    }
    return QTabWidget::eventFilter(watched, event);
}

void cMainSheetView::showEvent(QShowEvent* event) {
    QTabWidget::showEvent(event);
    // Pages locked while no window showed them take the lock now.
    sheet.ReloadIfStale(currentIndex());
}
