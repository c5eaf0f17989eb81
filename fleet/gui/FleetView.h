// The fleet's windows: "Flotte" (the overview table: sorted by a header click, filtered by a
// text and "nur fällige", a double-click opens the machine's history, a button writes the
// printable page), "Freigaben" (the library: versions, a version's fields, export, assignment
// of the connected machine) and the comparison of a machine with its approval.
// The tables come from fleet/FleetTable.h; what reaches beyond the fleet (the history dialog,
// file questions, the connected machine) the window hands in as functions.
#pragma once

#include "fleet/FleetTable.h"
#include "model/Conversions.h"

#include <QDialog>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

class cDialogFleet : public QDialog {
    Q_OBJECT
public:
    struct Hooks {
        std::function<void(const std::string& serialNr)> openHistory;
        // The shown machines and the filter line; true when the page was written.
        std::function<bool(const std::vector<FleetMachine>&, const std::string&)> writePage;
    };
    cDialogFleet(std::vector<FleetMachine> machines, Hooks hooks, QWidget* parent = nullptr);

    const cFleetTable& Table() const { return table; }
    QTreeWidget* MachineList() const { return list; }
    QLineEdit* FilterField() const { return filterField; }
    QCheckBox* DueOnlyBox() const { return dueOnlyBox; }
    QPushButton* PageButton() const { return pageButton; }
    QLabel* CountLabel() const { return countLabel; }

    // The machine of a shown row opened in the history.
    void OpenRow(int row);

private:
    void Fill();

    cFleetTable table;
    Hooks hooks;
    QTreeWidget* list = nullptr;
    QLineEdit* filterField = nullptr;
    QCheckBox* dueOnlyBox = nullptr;
    QPushButton* pageButton = nullptr;
    QLabel* countLabel = nullptr;
    int sortColumn = cFleetTable::Serial;
    bool ascending = true;
};

class cDialogLibrary : public QDialog {
    Q_OBJECT
public:
    struct Hooks {
        std::string serialNr; // the connected machine, "" none
        std::function<bool(const LibraryVersion&)> exportVersion;
        std::function<bool(const LibraryRef&)> assign; // name "" assigns none
        std::function<ConversionContext(const ParameterBlock&)> contextOf;
    };
    cDialogLibrary(cFleetStore& fleet, Hooks hooks, QWidget* parent = nullptr);

    QTreeWidget* VersionList() const { return versions; }
    QTreeWidget* FieldList() const { return fields; }
    QLabel* MachineLine() const { return machineLine; }
    QPushButton* ExportButton() const { return exportButton; }
    QPushButton* AssignNewestButton() const { return assignNewest; }
    QPushButton* AssignPinnedButton() const { return assignPinned; }
    QPushButton* AssignNoneButton() const { return assignNone; }

private:
    void Reload();
    void VersionChosen();
    void ShowMachine();
    const LibraryVersion* Chosen() const;

    cFleetStore& fleet;
    Hooks hooks;
    std::vector<LibraryVersion> library;
    QTreeWidget* versions = nullptr;
    QTreeWidget* fields = nullptr;
    QLabel* machineLine = nullptr;
    QPushButton* exportButton = nullptr;
    QPushButton* assignNewest = nullptr;
    QPushButton* assignPinned = nullptr;
    QPushButton* assignNone = nullptr;
};

// The fields in which a machine differs from its approval (the approval's value, the
// machine's), under the compliance line.
class cDialogApprovalDiff : public QDialog {
    Q_OBJECT
public:
    cDialogApprovalDiff(const std::string& serialNr, const std::string& complianceLine,
                        const std::vector<FieldDifference>& differences, QWidget* parent = nullptr);
    QTreeWidget* DifferenceList() const { return list; }

private:
    QTreeWidget* list = nullptr;
};
