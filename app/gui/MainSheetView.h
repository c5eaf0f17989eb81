// The tabbed window of the page sheet: the eight page views over the sheet's models. It is
// made anew at every showing of the main window; the sheet and its models outlive it.
#pragma once

#include <QMetaObject>
#include <QTabWidget>
#include <array>

#include "app/MainSheet.h"

class cPageWidget;
class cDialogHeader;
class cDialogPrgStep;
class cDialogMaintenceData;
class cDialogExpert;

class cMainSheetView : public QTabWidget, public SheetView {
    Q_OBJECT
public:
    // Adds the pages, labels the step tabs (set 1 captions) and translates itself.
    explicit cMainSheetView(CMainSheet& sheet, QWidget* parent = nullptr);
    ~cMainSheetView() override;
    cMainSheetView(const cMainSheetView&) = delete;
    cMainSheetView& operator=(const cMainSheetView&) = delete;

    CMainSheet& Sheet() const { return sheet; }
    // The page view of a tab (0..7), made when first asked for; nullptr outside.
    cPageWidget* PageView(int tab);
    cDialogHeader* HeaderView() const { return header; }
    cDialogPrgStep* StepView(int k); // k = 0..4
    cDialogMaintenceData* MaintenanceView();
    cDialogExpert* ExpertView();
    // Whether the tab's page view exists yet.
    bool PageMade(int tab) const;

    // ---- SheetView ----
    void ShowCaptions() override;
    void ShowActivePage() override;
    void ShowAllPages() override;

signals:
    // A page says why a value it shows is not what was typed.
    void noticed(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void OnCurrentChanged(int index);
    // Builds the page view of a tab inside its holder (the window opens faster with only the
    // pages it shows).
    cPageWidget* MakePage(int tab);

    CMainSheet& sheet;
    cDialogHeader* header = nullptr;
    std::array<cDialogPrgStep*, CMainSheet::kStepPages> steps{};
    cDialogMaintenceData* maintenance = nullptr;
    cDialogExpert* expert = nullptr;
    std::array<cPageWidget*, CMainSheet::kPageCount> pages{};
    std::array<QWidget*, CMainSheet::kPageCount> holders{};
    QMetaObject::Connection changed;
    bool syncing = false; // the tab is being set to the sheet's choice
};
