#include "app/gui/MainSheetView.h"

#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QTabBar>
#include <QVBoxLayout>

#include "lang/gui/TranslateWindow.h"
#include "pages/gui/DialogExpert.h"
#include "pages/gui/DialogHeader.h"
#include "pages/gui/DialogMaintenceData.h"
#include "pages/gui/DialogPrgStep.h"
#include "pages/gui/PageWidget.h"

cMainSheetView::cMainSheetView(CMainSheet& s, QWidget* parent) : QTabWidget(parent), sheet(s) {
    const QString titles[CMainSheet::kPageCount] = {cPageWidget::T("Kopfdaten"),
                                                    QString::fromStdString(sheet.Caption(0)),
                                                    QString::fromStdString(sheet.Caption(1)),
                                                    QString::fromStdString(sheet.Caption(2)),
                                                    QString::fromStdString(sheet.Caption(3)),
                                                    QString::fromStdString(sheet.Caption(4)),
                                                    cPageWidget::T("Wartungsdaten"),
                                                    cPageWidget::T("Expertenmodus")};
    for (int tab = 0; tab < CMainSheet::kPageCount; ++tab) {
        holders[tab] = new QWidget(this);
        auto* layout = new QVBoxLayout(holders[tab]);
        layout->setContentsMargins(0, 0, 0, 0);
        addTab(holders[tab], titles[tab]);
    }
    // The header page and one step page at once: the step page is the largest, so the sheet
    // has its full size from the start. The others follow when they are first shown.
    MakePage(CSheet::kHeaderPage);
    MakePage(CSheet::kFirstStepPage);
    MakePage(sheet.ActivePage());

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

cPageWidget* cMainSheetView::MakePage(int tab) {
    if (tab < 0 || tab >= CMainSheet::kPageCount)
        return nullptr;
    if (pages[tab])
        return pages[tab];
    QWidget* holder = holders[tab];
    cPageWidget* page = nullptr;
    if (tab == CSheet::kHeaderPage) {
        page = header = new cDialogHeader(sheet.Header(), holder);
    } else if (tab == CSheet::kMaintenancePage) {
        page = maintenance = new cDialogMaintenceData(sheet.Maintenance(), holder);
    } else if (tab == CSheet::kExpertPage) {
        page = expert = new cDialogExpert(sheet.Expert(), holder);
    } else {
        const int k = tab - CSheet::kFirstStepPage;
        page = steps[k] = new cDialogPrgStep(sheet.Step(k), holder);
    }
    pages[tab] = page;
    connect(page, &cPageWidget::noticed, this, &cMainSheetView::noticed);
    holder->layout()->addWidget(page);
    // Made after the sheet's own translation: translate it as that would have.
    TranslateWindow(page);
    return page;
}

bool cMainSheetView::PageMade(int tab) const {
    return tab >= 0 && tab < CMainSheet::kPageCount && pages[tab];
}

cPageWidget* cMainSheetView::PageView(int tab) {
    return MakePage(tab);
}

cDialogPrgStep* cMainSheetView::StepView(int k) {
    if (k < 0 || k >= CMainSheet::kStepPages)
        return nullptr;
    MakePage(CSheet::kFirstStepPage + k);
    return steps[k];
}

cDialogMaintenceData* cMainSheetView::MaintenanceView() {
    MakePage(CSheet::kMaintenancePage);
    return maintenance;
}

cDialogExpert* cMainSheetView::ExpertView() {
    MakePage(CSheet::kExpertPage);
    return expert;
}

void cMainSheetView::ShowCaptions() {
    for (int k = 0; k < CMainSheet::kStepPages; ++k)
        setTabText(CSheet::kFirstStepPage + k, QString::fromStdString(sheet.Caption(k)));
}

void cMainSheetView::ShowActivePage() {
    MakePage(sheet.ActivePage());
    if (currentIndex() == sheet.ActivePage())
        return;
    QScopedValueRollback guard(syncing, true);
    setCurrentIndex(sheet.ActivePage());
}

void cMainSheetView::ShowAllPages() {
    for (cPageWidget* page : pages)
        if (page)
            page->ShowValues();
}

void cMainSheetView::OnCurrentChanged(int index) {
    MakePage(index);
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
