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
    // The page view of a tab (0..7), nullptr outside.
    cPageWidget* PageView(int tab) const;
    cDialogHeader* HeaderView() const { return header; }
    cDialogPrgStep* StepView(int k) const; // k = 0..4
    cDialogMaintenceData* MaintenanceView() const { return maintenance; }
    cDialogExpert* ExpertView() const { return expert; }

    // ---- SheetView ----
    void ShowCaptions() override;
    void ShowActivePage() override;
    void ShowAllPages() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void OnCurrentChanged(int index);

    CMainSheet& sheet;
    cDialogHeader* header = nullptr;
    std::array<cDialogPrgStep*, CMainSheet::kStepPages> steps{};
    cDialogMaintenceData* maintenance = nullptr;
    cDialogExpert* expert = nullptr;
    std::array<cPageWidget*, CMainSheet::kPageCount> pages{};
    QMetaObject::Connection changed;
    bool syncing = false; // the tab is being set to the sheet's choice
};
