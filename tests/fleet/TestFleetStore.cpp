// The library, the assignments and the fleet overview over a history of entries.
#include "fleet/FleetStore.h"
#include "history/HistoryStore.h"
#include "sim/SimMachine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using P = ParameterBlock;

ParameterBlock Image(const std::string& serial) {
    ParameterBlock b;
    b.bytes = SimMachine::DefaultImage();
    b.SetSerialNr(serial);
    return b;
}

class FleetStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kelvane-fleet-XXXXXX";
        ASSERT_TRUE(::mkdtemp(tmpl));
        dir = tmpl;
        HistoryNotice notice;
        HistoryError herr;
        ASSERT_TRUE(history.Open(dir / "history.sqlite", notice, herr)) << herr.detail;
        ASSERT_TRUE(fleet.Open(history, error)) << error;
    }
    void TearDown() override {
        fleet.Close();
        history.Close();
        fs::remove_all(dir);
    }
    // A read of the machine at time t (ms) with its counter.
    void Read(const ParameterBlock& image, int64_t t, uint32_t counter) {
        HistoryEntry e;
        e.timeMs = t;
        e.command = "von Maschine";
        e.result = 0;
        e.fasteningCounter = counter;
        e.after = image;
        e.TakeIdentity(image);
        HistoryError herr;
        ASSERT_NE(history.Add(e, herr), 0) << herr.detail;
    }
    const FleetMachine* Row(const std::vector<FleetMachine>& rows, const std::string& serial) {
        for (const auto& r : rows)
            if (r.serialNr == serial)
                return &r;
        ADD_FAILURE() << "no row " << serial;
        return nullptr;
    }

    fs::path dir;
    cHistoryStore history;
    cFleetStore fleet;
    std::string error;
};

TEST(LibraryRefs, NamesAndVersionsParse) {
    struct Case {
        const char* text;
        bool ok;
        const char* name;
        std::optional<int> version;
    };
    const Case cases[] = {
        {"Station-12", true, "Station-12", std::nullopt},
        {"Station-12@3", true, "Station-12", 3},
        {"Linie 4 / Band", true, "Linie 4 / Band", std::nullopt},
        {"", false, "", std::nullopt},
        {"@2", false, "", std::nullopt},
        {"X@", false, "", std::nullopt},
        {"X@0", false, "", std::nullopt},
        {"X@-1", false, "", std::nullopt},
        {"X@2b", false, "", std::nullopt},
        {"X@1@2", false, "", std::nullopt},
        {" X", false, "", std::nullopt},
        {"A\tB", false, "", std::nullopt},
    };
    for (const auto& c : cases) {
        LibraryRef r;
        EXPECT_EQ(ParseLibraryRef(c.text, r), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(r.name, c.name);
            EXPECT_EQ(r.version, c.version);
        }
    }
}

TEST_F(FleetStoreTest, VersionsAreNumberedAndKeepTheConfigurationOnly) {
    ParameterBlock a = Image("SN1");
    a.SetCalDate(777);
    ASSERT_EQ(fleet.AddVersion("Station-12", a, "first", error), 1) << error;
    ParameterBlock b = a;
    b.bytes[P::kOffSteps] ^= 1;
    ASSERT_EQ(fleet.AddVersion("Station-12", b, "", error), 2) << error;
    ASSERT_EQ(fleet.AddVersion("Other", a, "", error), 1) << error;

    auto newest = fleet.Find({"Station-12", std::nullopt}, error);
    ASSERT_TRUE(newest) << error;
    EXPECT_EQ(newest->version, 2);
    EXPECT_EQ(newest->image.bytes[P::kOffSteps], b.bytes[P::kOffSteps]);
    EXPECT_EQ(SerialOf(newest->image), "") << "identity never comes from the library";
    EXPECT_EQ(newest->image.CalDate(), 0u);
    EXPECT_EQ(newest->digest, DigestText(newest->image));
    EXPECT_FALSE(newest->user.empty());
    auto first = fleet.Find({"Station-12", 1}, error);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->note, "first");

    EXPECT_FALSE(fleet.Find({"Station-13", std::nullopt}, error));
    EXPECT_NE(error.find("Station-13"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(fleet.Find({"Station-12", 3}, error));
    EXPECT_NE(error.find("no version 3"), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(fleet.AddVersion("bad@name", a, "", error), 0);
    EXPECT_EQ(fleet.Versions("", error).size(), 3u);
}

TEST_F(FleetStoreTest, AssignmentsFollowTheirNewestRecord) {
    ASSERT_NO_FATAL_FAILURE(Read(Image("SN1"), 1000, 5));
    ASSERT_EQ(fleet.AddVersion("Station-12", Image("x"), "", error), 1);
    bool known = false;
    ASSERT_TRUE(fleet.Assign("SN1", {"Station-12", std::nullopt}, known, error)) << error;
    EXPECT_TRUE(known);
    ASSERT_TRUE(fleet.Assign("NEVER-SEEN", {"Station-12", 1}, known, error)) << error;
    EXPECT_FALSE(known) << "allowed, and said";
    EXPECT_FALSE(fleet.Assign("SN1", {"Station-12", 4}, known, error));
    EXPECT_FALSE(fleet.Assign("SN1", {"Nothing", std::nullopt}, known, error));
    EXPECT_EQ(fleet.AssignmentOf("SN1", error)->ref.Text(), "Station-12");
    ASSERT_TRUE(fleet.Assign("SN1", {}, known, error));
    EXPECT_EQ(fleet.AssignmentOf("SN1", error)->ref.name, "");
    EXPECT_FALSE(fleet.AssignmentOf("SN2", error));
}

TEST_F(FleetStoreTest, OverviewShowsDueDatesAndCompliance) {
    ParameterBlock approved = Image("x");
    ASSERT_EQ(fleet.AddVersion("Station-12", approved, "", error, 2000), 1);

    ParameterBlock same = Image("SN-OK");
    same.SetServiceDueCounter(1000);
    same.SetCalDate(1440); // 2000: long due
    same.bytes[P::kOffPlace] = 'H';
    ParameterBlock deviating = Image("SN-DEV");
    deviating.bytes[P::kOffSteps] ^= 4;
    deviating.SetServiceDueCounter(1000);
    ASSERT_NO_FATAL_FAILURE(Read(same, 3000, 960));
    ASSERT_NO_FATAL_FAILURE(Read(deviating, 3000, 1000));
    ASSERT_NO_FATAL_FAILURE(Read(Image("SN-LATE"), 3000, 1));
    ASSERT_NO_FATAL_FAILURE(Read(Image("SN-NONE"), 3000, 1));
    bool known = false;
    for (const char* s : {"SN-OK", "SN-DEV"})
        ASSERT_TRUE(fleet.Assign(s, {"Station-12", std::nullopt}, known, error, 2500));
    ASSERT_TRUE(fleet.Assign("SN-LATE", {"Station-12", 1}, known, error, 4000));
    ASSERT_TRUE(fleet.Assign("SN-GHOST", {"Station-12", 1}, known, error, 4000));

    // A write that failed leaves the machine as it was before it.
    HistoryEntry failed;
    failed.timeMs = 3500;
    failed.command = "zur Maschine";
    failed.result = 3;
    failed.before = same;
    failed.after = deviating;
    failed.TakeIdentity(same);
    HistoryError herr;
    ASSERT_NE(history.Add(failed, herr), 0);

    FleetOptions o;
    o.now = std::time(nullptr);
    auto rows = fleet.Overview(o, error);
    ASSERT_TRUE(error.empty()) << error;
    ASSERT_EQ(rows.size(), 5u);
    const FleetMachine* ok = Row(rows, "SN-OK");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->compliance, FleetCompliance::Yes);
    EXPECT_EQ(ok->assigned, "Station-12 v1");
    EXPECT_EQ(ok->service, ServiceState::Soon);
    EXPECT_EQ(ok->calibrationDue, true);
    EXPECT_EQ(ok->place, "H");
    EXPECT_EQ(ok->counter, 960u);
    const FleetMachine* dev = Row(rows, "SN-DEV");
    EXPECT_EQ(dev->compliance, FleetCompliance::No);
    EXPECT_EQ(dev->service, ServiceState::Due);
    EXPECT_EQ(Row(rows, "SN-LATE")->compliance, FleetCompliance::NotChecked);
    EXPECT_EQ(Row(rows, "SN-NONE")->compliance, FleetCompliance::NoneAssigned);
    EXPECT_EQ(Row(rows, "SN-NONE")->service, ServiceState::Unknown);
    const FleetMachine* ghost = Row(rows, "SN-GHOST");
    EXPECT_FALSE(ghost->lastSeenMs);
    EXPECT_EQ(ghost->compliance, FleetCompliance::NotChecked);

    // A newer version the assignment follows makes it unchecked until the next read.
    ASSERT_EQ(fleet.AddVersion("Station-12", deviating, "", error, 5000), 2);
    rows = fleet.Overview(o, error);
    EXPECT_EQ(Row(rows, "SN-OK")->compliance, FleetCompliance::NotChecked);
    ASSERT_NO_FATAL_FAILURE(Read(deviating, 6000, 1001));
    // The read was of SN-DEV's image: the row of SN-DEV now checks against version 2.
    rows = fleet.Overview(o, error);
    EXPECT_EQ(Row(rows, "SN-DEV")->compliance, FleetCompliance::Yes);
    EXPECT_EQ(Row(rows, "SN-DEV")->assigned, "Station-12 v2");
}

TEST_F(FleetStoreTest, ReadOnlyHistoryRefusesChangesAndListsNothingMissing) {
    fleet.Close();
    history.Close();
    fs::permissions(dir / "history.sqlite", fs::perms::owner_read);
    cFleetStore ro;
    ASSERT_TRUE(ro.Open(dir / "history.sqlite", true, error)) << error;
    EXPECT_EQ(ro.AddVersion("A", Image("x"), "", error), 0);
    EXPECT_NE(error.find("cannot be written"), std::string::npos) << error;
    fs::permissions(dir / "history.sqlite", fs::perms::owner_all);
}

} // namespace
