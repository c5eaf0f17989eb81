// What the window's fleet views show, in plain C++: the fleet overview as a sortable,
// filterable table, the library's columns, the compliance line of a read and why a library
// name is refused. The Qt views only draw these and pass the user's choices back.
#pragma once

#include "fleet/FleetStore.h"

#include <cstddef>
#include <string>
#include <vector>

// Due as `kelvane-cli fleet --due` and the page's "fällig" mean it: service due or soon due,
// or calibration due.
bool FleetMachineDue(const FleetMachine& m);

class cFleetTable {
public:
    enum Column {
        Type,
        Serial,
        Firmware,
        Place,
        LastSeen,
        Counter,
        Service,
        CalDate,
        Calibration,
        Assigned,
        Compliant,
        ColumnCount
    };
    // How a row is marked; several at once.
    enum Mark { MarkDue = 1, MarkSoon = 2, MarkDeviating = 4, MarkOutdated = 8 };

    void SetMachines(std::vector<FleetMachine> machines);
    // Rows whose texts contain text (letters of any case); "" shows all.
    void SetFilter(const std::string& text);
    void SetDueOnly(bool on);
    // Rows ordered by the column's value (numbers and dates as such); empty values last.
    void SortBy(int column, bool ascending);

    static std::vector<std::string> Headers(); // translated
    size_t RowCount() const { return rows.size(); }
    const FleetMachine& Machine(size_t row) const { return all[rows[row]]; }
    const std::string& Text(size_t row, int column) const { return texts[rows[row]][column]; }
    int Marks(size_t row) const;
    // The shown rows, in their order: what the printable page lists.
    std::vector<FleetMachine> Shown() const;
    // The page's filter line: "alle Maschinen" or "fällig", and the search text (translated).
    std::string FilterText() const;
    const std::string& Filter() const { return filter; }
    bool DueOnly() const { return dueOnly; }

private:
    void Update();

    std::vector<FleetMachine> all;
    std::vector<std::vector<std::string>> texts; // per machine, per column
    std::vector<std::string> folded;             // per machine: every text, lower case
    std::vector<size_t> rows;                    // shown machines, in order
    std::string filter;
    bool dueOnly = false;
    int sortColumn = Serial;
    bool ascending = true;
};

// The library list's columns: name, version, when, who, note, digest.
std::vector<std::string> LibraryHeaders(); // translated
std::vector<std::string> LibraryColumns(const LibraryVersion& v);

// Why name cannot name an approval (German, to translate); nullptr when it can. Refuses
// exactly what ValidLibraryName refuses.
const char* LibraryNameProblem(const std::string& name);

// "3/40 fertig: SERIAL" (count 0: "3 fertig: SERIAL"), in the program's language.
std::string RolloutDoneText(size_t done, long count, const std::string& serialNr);

// "fällig", "bald fällig", "OK" in the program's language; "" when unknown. The window and
// the printable page say it alike.
std::string ServiceText(ServiceState s);

// "entspricht Freigabe Station-12 v3" / "weicht ab von Freigabe Station-12 v3: 3 Felder", in
// the program's language; "" without an assignment.
std::string ComplianceText(const cFleetStore::Check& check);
