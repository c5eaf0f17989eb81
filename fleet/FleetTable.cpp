#include "fleet/FleetTable.h"

#include "base/CalendarDate.h"
#include "history/HistoryStore.h"
#include "lang/Language.h"

#include <algorithm>
#include <optional>

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

// The template's "%s" and "%d" replaced in one pass by args in their order, so a value that
// itself holds "%d" (a name may) stays as it is.
std::string Fill(const std::string& text, const std::vector<std::string>& args) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == 's' || text[i + 1] == 'd') &&
            next < args.size()) {
            out += args[next++];
            ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

std::string CompliantText(const FleetMachine& m) {
    switch (m.compliance) {
    case FleetCompliance::Yes:
        return Translate("Ja");
    case FleetCompliance::No:
        return Translate(m.otherType ? "anderer Maschinentyp" : "Nein");
    case FleetCompliance::NotChecked:
        return Translate("nicht geprüft");
    default:
        return "";
    }
}

std::vector<std::string> Columns(const FleetMachine& m) {
    std::vector<std::string> c(cFleetTable::ColumnCount);
    c[cFleetTable::Type] = m.machineType;
    c[cFleetTable::Serial] = m.serialNr;
    c[cFleetTable::Firmware] = m.swVersion;
    c[cFleetTable::Place] = m.place;
    // With the team's history the last reader may be someone else: named beside the time.
    c[cFleetTable::LastSeen] = m.lastSeenMs ? cHistoryStore::LocalTime(*m.lastSeenMs) : "";
    if (m.lastSeenMs && !m.lastSeenBy.empty())
        c[cFleetTable::LastSeen] +=
            " (" + m.lastSeenBy + (m.lastSeenHost.empty() ? "" : ", " + m.lastSeenHost) + ")";
    c[cFleetTable::Counter] = m.counter ? std::to_string(*m.counter) : "";
    c[cFleetTable::Service] = ServiceText(m.service);
    c[cFleetTable::CalDate] = m.calDate ? CalDateIso(m.calDate) : "";
    c[cFleetTable::Calibration] = !m.calibrationDue   ? ""
                                  : *m.calibrationDue ? Translate("fällig")
                                                      : Translate("OK");
    c[cFleetTable::Assigned] = m.assigned;
    c[cFleetTable::Compliant] = CompliantText(m);
    return c;
}

// The value a column sorts by: a number where the column holds one (none: empty).
std::optional<int64_t> Number(const FleetMachine& m, int column) {
    switch (column) {
    case cFleetTable::LastSeen:
        return m.lastSeenMs;
    case cFleetTable::Counter:
        if (m.counter)
            return int64_t(*m.counter);
        return std::nullopt;
    case cFleetTable::CalDate:
        if (m.calDate)
            return int64_t(m.calDate);
        return std::nullopt;
    case cFleetTable::Service:
        // Worst first when descending: due, soon, ok.
        if (m.service == ServiceState::Unknown)
            return std::nullopt;
        return m.service == ServiceState::Due ? 2 : m.service == ServiceState::Soon ? 1 : 0;
    case cFleetTable::Firmware:
        if (auto rank = FirmwareRank(m.swVersion))
            return int64_t(*rank);
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

bool NumericColumn(int column) {
    return column == cFleetTable::LastSeen || column == cFleetTable::Counter ||
           column == cFleetTable::CalDate || column == cFleetTable::Service ||
           column == cFleetTable::Firmware;
}

} // namespace

std::string ServiceText(ServiceState s) {
    switch (s) {
    case ServiceState::Due:
        return Translate("fällig");
    case ServiceState::Soon:
        return Translate("bald fällig");
    case ServiceState::Ok:
        return Translate("OK");
    default:
        return "";
    }
}

bool FleetMachineDue(const FleetMachine& m) {
    return m.service == ServiceState::Due || m.service == ServiceState::Soon ||
           m.calibrationDue.value_or(false);
}

void cFleetTable::SetMachines(std::vector<FleetMachine> machines) {
    all = std::move(machines);
    texts.clear();
    folded.clear();
    for (const FleetMachine& m : all) {
        texts.push_back(Columns(m));
        std::string joined;
        for (const std::string& t : texts.back())
            joined += Lower(t) + '\n'; // a match never spans two columns
        folded.push_back(std::move(joined));
    }
    Update();
}

void cFleetTable::SetFilter(const std::string& text) {
    filter = text;
    Update();
}

void cFleetTable::SetDueOnly(bool on) {
    dueOnly = on;
    Update();
}

void cFleetTable::SortBy(int column, bool up) {
    if (column < 0 || column >= ColumnCount)
        return;
    sortColumn = column;
    ascending = up;
    Update();
}

void cFleetTable::Update() {
    rows.clear();
    const std::string needle = Lower(filter);
    for (size_t i = 0; i < all.size(); ++i) {
        if (dueOnly && !FleetMachineDue(all[i]))
            continue;
        if (!needle.empty() && folded[i].find(needle) == std::string::npos)
            continue;
        rows.push_back(i);
    }
    const int column = sortColumn;
    const bool up = ascending;
    // Empty values last in either direction; ties by serial number, so the order is the same
    // each time.
    std::stable_sort(rows.begin(), rows.end(), [&](size_t a, size_t b) {
        int order = 0;
        if (NumericColumn(column)) {
            const auto x = Number(all[a], column), y = Number(all[b], column);
            if (x.has_value() != y.has_value())
                return x.has_value();
            if (x && *x != *y)
                order = *x < *y ? -1 : 1;
        } else {
            const std::string& x = texts[a][column];
            const std::string& y = texts[b][column];
            if (x.empty() != y.empty())
                return !x.empty();
            const std::string lx = Lower(x), ly = Lower(y);
            order = lx < ly ? -1 : lx > ly ? 1 : 0;
        }
        if (order != 0)
            return up ? order < 0 : order > 0;
        return all[a].serialNr < all[b].serialNr;
    });
}

int cFleetTable::Marks(size_t row) const {
    const FleetMachine& m = Machine(row);
    int marks = 0;
    if (m.service == ServiceState::Due || m.calibrationDue.value_or(false))
        marks |= MarkDue;
    if (m.service == ServiceState::Soon)
        marks |= MarkSoon;
    if (m.compliance == FleetCompliance::No)
        marks |= MarkDeviating;
    if (m.firmwareOld)
        marks |= MarkOutdated;
    return marks;
}

std::vector<FleetMachine> cFleetTable::Shown() const {
    std::vector<FleetMachine> out;
    out.reserve(rows.size());
    for (size_t i : rows)
        out.push_back(all[i]);
    return out;
}

std::string cFleetTable::FilterText() const {
    std::string text = Translate(dueOnly ? "fällig" : "alle Maschinen");
    if (!filter.empty())
        text += ", " + Translate("Suche") + " \"" + filter + "\"";
    return text;
}

std::vector<std::string> cFleetTable::Headers() {
    return {
        Translate("Maschinentyp"), Translate("Seriennummer"),    Translate("Firmware"),
        Translate("Einsatzort"),   Translate("zuletzt gesehen"), Translate("Verschraubungszähler"),
        Translate("Wartung"),      Translate("Kalibrierdatum"),  Translate("Kalibrierung fällig"),
        Translate("Freigabe"),     Translate("entspricht")};
}

std::vector<std::string> LibraryHeaders() {
    return {Translate("Freigabe"),  Translate("Version"), Translate("Zeit"),
            Translate("Techniker"), Translate("Notiz"),   Translate("Prüfsumme")};
}

std::vector<std::string> LibraryColumns(const LibraryVersion& v) {
    return {v.name,  std::to_string(v.version), cHistoryStore::LocalTime(v.timeMs), v.user, v.note,
            v.digest};
}

const char* LibraryNameProblem(const std::string& name) {
    if (name.empty())
        return "Der Name ist leer.";
    if (name.size() > 64)
        return "Der Name ist länger als 64 Zeichen.";
    if (name.front() == ' ' || name.back() == ' ')
        return "Der Name darf nicht mit einem Leerzeichen beginnen oder enden.";
    for (char c : name)
        if (c == '@' || (unsigned char)c < 0x20 || c == 0x7F)
            return "Der Name darf kein \"@\" und keine Steuerzeichen enthalten.";
    return nullptr;
}

std::string ComplianceText(const cFleetStore::Check& check) {
    if (!check.approved)
        return "";
    const std::string name = check.approved->name;
    const std::string version = std::to_string(check.approved->version);
    std::string text;
    switch (check.compliance.state) {
    case Compliance::Compliant:
        text = Translate("entspricht Freigabe %s v%d");
        break;
    case Compliance::Deviates:
        text = check.compliance.differences.size() == 1
                   ? Translate("weicht ab von Freigabe %s v%d: %d Feld")
                   : Translate("weicht ab von Freigabe %s v%d: %d Felder");
        break;
    case Compliance::OtherType:
        text = Translate("Freigabe %s v%d gilt für einen anderen Maschinentyp");
        break;
    }
    return Fill(text, {name, version, std::to_string(check.compliance.differences.size())});
}

std::string RolloutDoneText(size_t done, long count, const std::string& serialNr) {
    if (count)
        return Fill(Translate("%d/%d fertig: %s"),
                    {std::to_string(done), std::to_string(count), serialNr});
    return Fill(Translate("%d fertig: %s"), {std::to_string(done), serialNr});
}
