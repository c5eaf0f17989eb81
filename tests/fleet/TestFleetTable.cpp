// The fleet table the window shows: order, filter, due rows, marks; why a name is refused.
#include "fleet/FleetTable.h"

#include <gtest/gtest.h>

#include <random>

namespace {

FleetMachine M(const std::string& serial, std::optional<uint32_t> counter,
               ServiceState service = ServiceState::Ok) {
    FleetMachine m;
    m.serialNr = serial;
    m.machineType = "QVK";
    m.counter = counter;
    m.service = service;
    m.imageEntryId = 1;
    return m;
}

std::vector<std::string> Serials(const cFleetTable& t) {
    std::vector<std::string> out;
    for (size_t r = 0; r < t.RowCount(); ++r)
        out.push_back(t.Machine(r).serialNr);
    return out;
}

using V = std::vector<std::string>;

TEST(FleetTable, SortsByValueWithEmptyValuesLast) {
    cFleetTable t;
    // Counters compare as numbers (9 before 10), a machine without one comes last either way.
    t.SetMachines({M("C", 10), M("A", std::nullopt), M("B", 9), M("D", 10)});
    EXPECT_EQ(Serials(t), (V{"A", "B", "C", "D"})); // by serial number at first
    t.SortBy(cFleetTable::Counter, true);
    EXPECT_EQ(Serials(t), (V{"B", "C", "D", "A"}));
    t.SortBy(cFleetTable::Counter, false);
    EXPECT_EQ(Serials(t), (V{"C", "D", "B", "A"})); // ties stay by serial number

    // Service: due before soon before ok when descending; firmware by version, not by text.
    std::vector<FleetMachine> ms = {M("A", 1, ServiceState::Ok), M("B", 1, ServiceState::Due),
                                    M("C", 1, ServiceState::Soon),
                                    M("D", 1, ServiceState::Unknown)};
    ms[0].swVersion = "V04.10.000";
    ms[1].swVersion = "V04.09.000";
    ms[2].swVersion = "V10.00.000";
    t.SetMachines(ms);
    t.SortBy(cFleetTable::Service, false);
    EXPECT_EQ(Serials(t), (V{"B", "C", "A", "D"}));
    t.SortBy(cFleetTable::Firmware, true);
    EXPECT_EQ(Serials(t), (V{"B", "A", "C", "D"}));
    t.SortBy(99, true); // no such column: the order stays
    EXPECT_EQ(Serials(t), (V{"B", "A", "C", "D"}));
}

TEST(FleetTable, FiltersByTextAndDueRows) {
    std::vector<FleetMachine> ms = {M("SIM1", 5), M("SIM2", 5, ServiceState::Soon), M("SIM3", 5),
                                    M("XYZ4", 5)};
    ms[0].place = "Linie 4";
    ms[2].calibrationDue = true;
    ms[3].place = "Halle 2";
    ms[3].compliance = FleetCompliance::No;
    ms[1].lastSeenMs = 1'765'000'000'000;
    ms[1].lastSeenBy = "anna";
    ms[1].lastSeenHost = "laptop-7";
    cFleetTable t;
    t.SetMachines(ms);
    t.SetFilter("LINIE");
    EXPECT_EQ(Serials(t), (V{"SIM1"}));
    // Who saw a machine last is shown and found (the team's history names others).
    t.SetFilter("anna");
    EXPECT_EQ(Serials(t), (V{"SIM2"}));
    EXPECT_NE(t.Text(0, cFleetTable::LastSeen).find(" (anna, laptop-7)"), std::string::npos);
    // A match never runs from one column into the next ("QVK" + serial).
    t.SetFilter("qvksim");
    EXPECT_EQ(Serials(t), V{});
    t.SetFilter("sim");
    t.SetDueOnly(true); // soon due counts as `fleet --due` counts it
    EXPECT_EQ(Serials(t), (V{"SIM2", "SIM3"}));
    EXPECT_EQ(t.FilterText(), "fällig, Suche \"sim\"");
    t.SetFilter("");
    t.SetDueOnly(false);
    EXPECT_EQ(t.FilterText(), "alle Maschinen");
    ASSERT_EQ(t.RowCount(), 4u);
    EXPECT_EQ(t.Marks(0), 0);
    EXPECT_EQ(t.Marks(1), cFleetTable::MarkSoon);
    EXPECT_EQ(t.Marks(2), cFleetTable::MarkDue);
    EXPECT_EQ(t.Marks(3), cFleetTable::MarkDeviating);
    EXPECT_EQ(t.Text(3, cFleetTable::Compliant), "Nein");
    EXPECT_EQ(t.Text(2, cFleetTable::Calibration), "fällig");
    // The page gets the shown rows in the shown order.
    t.SortBy(cFleetTable::Place, true);
    const auto shown = t.Shown();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].serialNr, "XYZ4");
    EXPECT_EQ(shown[1].serialNr, "SIM1");
}

// The reason the window gives for a name is there exactly when the library refuses the name.
TEST(LibraryNames, ReasonGivenExactlyForRefusedNames) {
    for (const char* name : {"", " A", "A ", "A@1", "Linie\t4", "X\x7F", "Station-12"}) {
        const bool refused = LibraryNameProblem(name) != nullptr;
        EXPECT_EQ(refused, !ValidLibraryName(name)) << name;
    }
    EXPECT_EQ(LibraryNameProblem(std::string(64, 'a')), nullptr);
    EXPECT_NE(LibraryNameProblem(std::string(65, 'a')), nullptr);
    std::mt19937 rng(22);
    const std::string alphabet = std::string("ab @-_\x01\x1F\x7F") + "\xC3\xA4";
    for (int i = 0; i < 20000; ++i) {
        std::string name(rng() % 70, ' ');
        for (char& c : name)
            c = alphabet[rng() % alphabet.size()];
        ASSERT_EQ(LibraryNameProblem(name) != nullptr, !ValidLibraryName(name)) << name;
    }
}

// A name or serial number holding "%d" or "%s" stays as it is in the lines around it.
TEST(FleetTexts, ValuesAreNotTakenForPlaceholders) {
    cFleetStore::Check check;
    check.approved = LibraryVersion{};
    check.approved->name = "Linie %d %s";
    check.approved->version = 3;
    check.compliance.state = Compliance::Deviates;
    check.compliance.differences.resize(2);
    EXPECT_EQ(ComplianceText(check), "weicht ab von Freigabe Linie %d %s v3: 2 Felder");
    check.compliance.state = Compliance::Compliant;
    EXPECT_EQ(ComplianceText(check), "entspricht Freigabe Linie %d %s v3");
    EXPECT_EQ(ComplianceText(cFleetStore::Check{}), "");
    EXPECT_EQ(RolloutDoneText(3, 40, "SIM%d"), "3/40 fertig: SIM%d");
    EXPECT_EQ(RolloutDoneText(3, 0, "SIM1"), "3 fertig: SIM1");
}

} // namespace
