// The library, the assignments and the fleet overview over a history of entries.
#include "files/ConfigFile.h"
#include "fleet/FleetStore.h"
#include "history/HistoryStore.h"
#include "sim/SimMachine.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

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
    same.bytes[P::kOffPlace + 1] = 0xFC; // Latin-1 u-umlaut, as the machine stores it
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
    EXPECT_EQ(ok->place, "H\u00fc");
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

namespace {

// A laptop: its own history file and the fleet's records in it.
struct Laptop {
    explicit Laptop(const fs::path& file) {
        HistoryNotice notice;
        HistoryError herr;
        EXPECT_TRUE(history.Open(file, notice, herr)) << herr.detail;
        EXPECT_TRUE(fleet.Open(history, error)) << error;
    }
    // What the sync does: the other's records this one lacks, added as they are.
    void Take(Laptop& other) {
        HistoryError herr;
        std::vector<HistoryEntry> missing;
        for (const char* kind : {"library", "assignment", "rollout"})
            for (auto& e : other.history.Records(kind, herr))
                if (!history.EntryByUuid(e.uuid, herr))
                    missing.push_back(e);
        ASSERT_TRUE(history.AddAll(missing, herr)) << herr.detail;
    }
    std::vector<std::pair<int, std::string>> Numbers(const std::string& name) {
        std::vector<std::pair<int, std::string>> out;
        for (const auto& v : fleet.Versions(name, error))
            out.emplace_back(v.version, v.digest);
        return out;
    }
    cHistoryStore history;
    cFleetStore fleet;
    std::string error;
};

ParameterBlock Configuration(int k) {
    ParameterBlock b = Image("x");
    b.Step(0).SetTime(uint16_t(100 + k));
    return b;
}

// The digest of configuration k as the library keeps it.
std::string Digest(int k) {
    ParameterBlock c;
    c.bytes = ConfigurationCopy(Configuration(k).bytes);
    return DigestText(c);
}

} // namespace

TEST_F(FleetStoreTest, LaptopsThatAddedVersionsOfflineAgreeAfterTheSync) {
    Laptop a(dir / "a.sqlite"), b(dir / "b.sqlite");
    ASSERT_EQ(a.fleet.AddVersion("Station-12", Configuration(1), "", a.error, 1000), 1);
    ASSERT_NO_FATAL_FAILURE(b.Take(a));
    // Offline: each adds its own v2, and then one more.
    ASSERT_EQ(a.fleet.AddVersion("Station-12", Configuration(2), "", a.error, 3000), 2);
    ASSERT_EQ(b.fleet.AddVersion("Station-12", Configuration(3), "", b.error, 2000), 2);
    ASSERT_EQ(a.fleet.AddVersion("Station-12", Configuration(4), "", a.error, 4000), 3);
    ASSERT_EQ(b.fleet.AddVersion("Station-12", Configuration(4), "", b.error, 4500), 3);
    bool known = false;
    // B pins its v2; after the sync that configuration is numbered 2 still (it is older), and
    // a pin of A's v2 keeps A's configuration whatever number it gets.
    ASSERT_TRUE(a.fleet.Assign("SN-A", {"Station-12", 2}, known, a.error, 5000));
    ASSERT_TRUE(b.fleet.Assign("SN-B", {"Station-12", 2}, known, b.error, 5000));

    ASSERT_NO_FATAL_FAILURE(a.Take(b));
    ASSERT_NO_FATAL_FAILURE(b.Take(a));
    const auto numbers = a.Numbers("Station-12");
    EXPECT_EQ(numbers, b.Numbers("Station-12"));
    ASSERT_EQ(numbers.size(), 5u);
    EXPECT_EQ(numbers[1].second, Digest(3)) << "B's version was added first";
    EXPECT_EQ(numbers[2].second, Digest(2));
    for (Laptop* l : {&a, &b}) {
        const auto pinA = l->fleet.AssignmentOf("SN-A", l->error);
        ASSERT_TRUE(pinA);
        EXPECT_EQ(pinA->ref.Text(), "Station-12@3") << "numbered as now";
        EXPECT_EQ(pinA->digest, Digest(2));
        EXPECT_EQ(l->fleet.AssignmentOf("SN-B", l->error)->ref.Text(), "Station-12@2");
        ParameterBlock machine = Image("SN-A");
        machine.Step(0).SetTime(102);
        const auto check = l->fleet.CheckMachine(machine, l->error);
        ASSERT_TRUE(check.approved) << l->error;
        EXPECT_EQ(check.approved->version, 3) << "A's configuration, numbered 3 now";
        EXPECT_EQ(check.state, FleetCompliance::Yes);
    }
}

TEST_F(FleetStoreTest, ADamagedVersionIsNamedAndNeverUsed) {
    ASSERT_EQ(fleet.AddVersion("Station-12", Configuration(1), "", error), 1);
    ASSERT_EQ(fleet.AddVersion("Station-12", Configuration(2), "", error), 2);
    fleet.Close();
    // One byte of version 2's image changed inside the stored record.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "history.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "UPDATE entry SET payload = CAST(replace(CAST(payload AS TEXT), "
                           "'\"image\":\"', '\"image\":\"F') AS BLOB) WHERE kind = 'library' "
                           "AND id = (SELECT max(id) FROM entry WHERE kind = 'library')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    ASSERT_TRUE(fleet.Open(history, error)) << error;

    EXPECT_EQ(fleet.Versions("Station-12", error).size(), 1u);
    EXPECT_NE(error.find("Station-12 v2"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(fleet.Find({"Station-12", 2}, error));
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(fleet.Find({"Station-12", std::nullopt}, error)) << "never an older one instead";
    error.clear();
    EXPECT_TRUE(fleet.Find({"Station-12", 1}, error)) << error;
    // A newer version is usable again, numbered after the damaged one.
    ASSERT_EQ(fleet.AddVersion("Station-12", Configuration(3), "", error), 3) << error;
    error.clear();
    const auto newest = fleet.Find({"Station-12", std::nullopt}, error);
    ASSERT_TRUE(newest) << error;
    EXPECT_EQ(newest->version, 3);
}

TEST_F(FleetStoreTest, TheOldTableIsCarriedIntoRecordsOnceAndKept) {
    fleet.Close();
    ParameterBlock v1;
    v1.bytes = ConfigurationCopy(Configuration(1).bytes);
    ParameterBlock v2;
    v2.bytes = ConfigurationCopy(Configuration(2).bytes);
    ASSERT_NO_FATAL_FAILURE(Read(Image("SN1"), 1000, 5));
    HistoryError herr;
    const int64_t writeId = history.Entries("SN1", herr).front().id;
    const std::string writeUuid = history.Entries("SN1", herr).front().uuid;
    {
        // The table as the earlier program made it.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((dir / "history.sqlite").c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "CREATE TABLE fleet_record (id INTEGER PRIMARY KEY, time_ms INTEGER "
                               "NOT NULL, kind TEXT NOT NULL, user TEXT NOT NULL DEFAULT '', name "
                               "TEXT NOT NULL DEFAULT '', version INTEGER, serial_nr TEXT NOT NULL "
                               "DEFAULT '', note TEXT NOT NULL DEFAULT '', digest TEXT NOT NULL "
                               "DEFAULT '', image BLOB)",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db,
                           "INSERT INTO fleet_record(time_ms, kind, user, name, version, "
                           "serial_nr, note, digest, image) VALUES(?,?,?,?,?,?,?,?,?)",
                           -1, &st, nullptr);
        auto row = [&](int64_t t, const char* kind, const char* name, std::optional<int> version,
                       const char* serial, const std::string& note, const std::string& digest,
                       const ParameterBlock* image) {
            sqlite3_reset(st);
            sqlite3_bind_int64(st, 1, t);
            sqlite3_bind_text(st, 2, kind, -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 3, "alice", -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 4, name, -1, SQLITE_TRANSIENT);
            version ? sqlite3_bind_int(st, 5, *version) : sqlite3_bind_null(st, 5);
            sqlite3_bind_text(st, 6, serial, -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 7, note.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 8, digest.c_str(), -1, SQLITE_TRANSIENT);
            image ? sqlite3_bind_blob(st, 9, image->bytes.data(), 512, SQLITE_TRANSIENT)
                  : sqlite3_bind_null(st, 9);
            ASSERT_EQ(sqlite3_step(st), SQLITE_DONE);
        };
        row(100, "library", "Station-12", 1, "", "first", DigestText(v1), &v1);
        row(200, "library", "Station-12", 2, "", "", DigestText(v2), &v2);
        row(300, "assignment", "Station-12", 1, "SN1", "", "", nullptr);
        const std::string note = "{\"rollout\":\"rollout-1\",\"result\":\"written\",\"reason\":"
                                 "\"\",\"before\":\"B\",\"after\":\"A\",\"entry\":" +
                                 std::to_string(writeId) + "}";
        row(400, "rollout", "Station-12", 1, "SN1", note, "rollout-1", nullptr);
        sqlite3_finalize(st);
        sqlite3_close(db);
    }
    for (int open = 0; open < 2; ++open) {
        ASSERT_TRUE(fleet.Open(history, error)) << error;
        const auto versions = fleet.Versions("Station-12", error);
        ASSERT_EQ(versions.size(), 2u) << "opened " << open + 1 << " times: " << error;
        EXPECT_EQ(versions[0].note, "first");
        EXPECT_EQ(versions[0].user, "alice");
        EXPECT_EQ(versions[1].digest, DigestText(v2));
        const auto pin = fleet.AssignmentOf("SN1", error);
        ASSERT_TRUE(pin);
        EXPECT_EQ(pin->digest, DigestText(v1)) << "the pin keeps the configuration it meant";
        const auto steps = fleet.Rollout("rollout-1", error);
        ASSERT_EQ(steps.size(), 1u);
        EXPECT_EQ(steps[0].result, "written");
        EXPECT_EQ(steps[0].entryId, writeId);
        fleet.Close();
    }
    // As records they travel: waiting to be sent, the write named by its UUID.
    const auto records = history.Records("rollout", herr);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(std::string(records[0].payload.begin(), records[0].payload.end()).find(writeUuid),
              std::string::npos);
    EXPECT_EQ(history.Waiting(herr), 1 + 4);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "history.sqlite").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM fleet_record", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 4) << "the old table stays as it was";
    sqlite3_finalize(st);
    sqlite3_close(db);
}
