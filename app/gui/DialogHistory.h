// "Verlauf": the machines of the service history on the left, the chosen machine's entries on
// the right, below them the differences of the chosen entry against the editor's image, or of
// two entries after "Vergleichen". "Wiederherstellen" writes the chosen entry back to the
// machine (the controller lists and asks first).
// "Synchronisieren" (with a team server configured) sends and receives in the background and
// lists the team's entries once it ended.
// The lists and differences come from cHistoryModel; this view only draws them.
#pragma once

#include "app/HistoryModel.h"

#include <QDialog>

class cDialogMain;
class QLabel;
class QPushButton;
class QTreeWidget;

class cDialogHistory : public QDialog {
    Q_OBJECT
public:
    cDialogHistory(cDialogMain& controller, cHistory& store, QWidget* parent = nullptr);

    // Shows the machine with this serial number (the fleet opens its history); false when
    // the history does not know it.
    bool ShowMachine(const std::string& serialNr);

    // For the tests.
    QTreeWidget* MachineList() const { return machineList; }
    QTreeWidget* EntryList() const { return entryList; }
    QTreeWidget* DifferenceList() const { return differenceList; }
    QLabel* DifferenceTitle() const { return differenceTitle; }
    QPushButton* RestoreButton() const { return restoreButton; }
    QPushButton* CompareButton() const { return compareButton; }
    QPushButton* SyncButton() const { return syncButton; }

private:
    void MachineChosen(int row);
    void EntryChosen();
    void Compare();
    void Restore();
    void Sync();
    void FillMachines();
    void ShowDifferences(const QString& title, const std::vector<FieldDifference>& differences,
                         const QString& oldHeader, const QString& newHeader);
    std::vector<int> ChosenEntries() const;
    ConversionContext Context() const;

    cDialogMain& controller;
    cHistoryModel model;
    QTreeWidget* machineList = nullptr;
    QTreeWidget* entryList = nullptr;
    QTreeWidget* differenceList = nullptr;
    QLabel* differenceTitle = nullptr;
    QPushButton* restoreButton = nullptr;
    QPushButton* compareButton = nullptr;
    QPushButton* syncButton = nullptr;
};
