// One table of cases, run against both stores behind the history's interface: the laptop's
// SQLite file and the team's PostgreSQL server.
#include "history/HistoryStore.h"
#include "history/ServerHistory.h"
#include "tests/TempDir.h"
#include "tests/history/server/PgServer.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

ParameterBlock Machine(const std::string& serial, uint8_t mark = 0) {
    ParameterBlock b = ParameterBlock::Default();
    b.SetText(ParameterBlock::kOffMachineType, ParameterBlock::kLenMachineType, "TVX18-4200");
    b.SetSerialNr(serial);
    b.SetText(ParameterBlock::kOffSwVersion, ParameterBlock::kLenSwVersion, "V04.02.005");
    b.bytes[200] = mark;
    return b;
}

HistoryEntry Read(const std::string& serial, uint32_t counter, int64_t timeMs) {
    HistoryEntry e;
    e.command = "von Maschine";
    e.result = 0;
    e.after = Machine(serial);
    e.TakeIdentity(*e.after);
    e.fasteningCounter = counter;
    e.timeMs = timeMs;
    return e;
}

HistoryEntry Backup(const std::string& serial, uint8_t mark, int64_t timeMs) {
    HistoryEntry e;
    e.command = "zur Maschine";
    e.before = Machine(serial, mark);
    e.TakeIdentity(*e.before);
    e.timeMs = timeMs;
    e.result = 0;
    return e;
}

// Either store, opened empty.
struct Store {
    virtual ~Store() = default;
    virtual cHistory& History() = 0;
    virtual bool CanComplete() const = 0;
};

struct SqliteStore : Store {
    SqliteStore() {
        HistoryNotice notice;
        HistoryError error;
        EXPECT_TRUE(store.Open(dir.File(cHistoryStore::kFileName), notice, error)) << error.detail;
        store.SetTechnician("erika");
        store.SetHost("laptop-7");
    }
    cHistory& History() override { return store; }
    bool CanComplete() const override { return true; }
    TempDir dir;
    cHistoryStore store;
};

struct PgStore : Store {
    PgStore() {
        db.Init();
        ServerError error;
        EXPECT_TRUE(server.Connect(db.Conninfo(), error)) << error.detail;
        server.SetTechnician("erika");
    }
    cHistory& History() override { return server; }
    bool CanComplete() const override { return false; } // the shared record is append-only
    TestDatabase db;
    cServerHistory server;
};

class Stores : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (std::string(GetParam()) == "sqlite")
            store = std::make_unique<SqliteStore>();
        else
            store = std::make_unique<PgStore>();
    }
    cHistory& H() { return store->History(); }
    std::unique_ptr<Store> store;
};

TEST_P(Stores, EntriesAreListedPerMachineNewestFirst) {
    HistoryError error;
    ASSERT_GT(H().Add(Read("SN-A", 10, 1000), error), 0) << error.detail;
    ASSERT_GT(H().Add(Read("SN-B", 20, 2000), error), 0) << error.detail;
    const int64_t backup = H().Add(Backup("SN-A", 1, 3000), error);
    ASSERT_GT(backup, 0) << error.detail;
    // Out of order in time (a pulled entry is older than what is here): listed by time.
    ASSERT_GT(H().Add(Read("SN-A", 9, 500), error), 0) << error.detail;

    const std::vector<HistoryMachine> machines = H().Machines(error);
    ASSERT_EQ(machines.size(), 2u) << error.detail;
    EXPECT_EQ(machines[0].serialNr, "SN-A");
    EXPECT_EQ(machines[0].lastSeenMs, 3000);
    EXPECT_EQ(machines[0].entries, 3);
    EXPECT_EQ(machines[0].machineType, "TVX18-4200");
    EXPECT_EQ(machines[1].serialNr, "SN-B");
    EXPECT_EQ(machines[1].fasteningCounter, 20u);

    std::vector<HistoryEntry> entries = H().Entries("SN-A", error);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].timeMs, 3000);
    EXPECT_EQ(entries[1].timeMs, 1000);
    EXPECT_EQ(entries[2].timeMs, 500);
    EXPECT_FALSE(entries[0].before); // no images unless asked
    EXPECT_EQ(H().Entries("SN-A", error, false, 2).size(), 2u);
    EXPECT_EQ(H().Entries("SN-A", error, true, 1)[0].before->bytes, Machine("SN-A", 1).bytes);

    // Who, where and which: made on adding, the same when read back by id or by UUID.
    const std::optional<HistoryEntry> e = H().Entry(backup, error);
    ASSERT_TRUE(e) << error.detail;
    EXPECT_TRUE(IsUuid(e->uuid)) << e->uuid;
    EXPECT_EQ(e->technician, "erika");
    EXPECT_FALSE(e->host.empty());
    EXPECT_EQ(e->before->bytes, Machine("SN-A", 1).bytes);
    const std::optional<HistoryEntry> same = H().EntryByUuid(e->uuid, error);
    ASSERT_TRUE(same);
    EXPECT_EQ(same->id, backup);

    const std::optional<HistoryEntry> last = H().LastBackup("SN-A", "zur Maschine", error);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->uuid, e->uuid);
    EXPECT_FALSE(H().LastBackup("SN-B", "zur Maschine", error));

    EXPECT_FALSE(H().Entry(999999, error));
    EXPECT_EQ(error.kind, HistoryError::NotFound);
    EXPECT_FALSE(H().EntryByUuid(NewUuid(), error));
    EXPECT_EQ(error.kind, HistoryError::NotFound);
}

// The cases that differ only in what they add and what the store must refuse.
TEST_P(Stores, TableOfChanges) {
    struct Case {
        const char* name;
        std::function<bool(cHistory&, HistoryError&)> change;
        bool stored;
        HistoryError::Kind refusal;
        size_t entriesOfA; // afterwards, of machine SN-A
    };
    const std::string uuid = NewUuid();
    const Case cases[] = {
        {"an entry with its own UUID",
         [&](cHistory& h, HistoryError& e) {
             HistoryEntry r = Read("SN-A", 1, 100);
             r.uuid = uuid;
             return h.Add(r, e) > 0;
         },
         true, HistoryError::None, 1},
        {"a second copy of that UUID",
         [&](cHistory& h, HistoryError& e) {
             HistoryEntry r = Read("SN-A", 2, 200);
             r.uuid = uuid;
             return h.Add(r, e) > 0;
         },
         false, HistoryError::Duplicate, 1},
        {"several at once, one of them a copy: none",
         [&](cHistory& h, HistoryError& e) {
             HistoryEntry copy = Read("SN-A", 3, 300);
             copy.uuid = uuid;
             return h.AddAll({Read("SN-A", 4, 400), copy}, e);
         },
         false, HistoryError::Duplicate, 1},
        {"several at once",
         [&](cHistory& h, HistoryError& e) {
             return h.AddAll({Read("SN-A", 5, 500), Read("SN-A", 6, 600)}, e);
         },
         true, HistoryError::None, 3},
        {"a machine whose texts are not UTF-8",
         [&](cHistory& h, HistoryError& e) {
             HistoryEntry r = Read("SN-A", 7, 700);
             r.machineType = "TVX\xFF\x1B[2J";
             r.message = "\xC3";
             return h.Add(r, e) > 0;
         },
         true, HistoryError::None, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HistoryError error;
        EXPECT_EQ(c.change(H(), error), c.stored) << error.detail;
        EXPECT_EQ(error.kind, c.refusal) << error.detail;
        EXPECT_EQ(H().Entries("SN-A", error).size(), c.entriesOfA) << error.detail;
    }
}

// A machine's identity is its image's bytes: what is not UTF-8 comes back byte for byte, so the
// machine keeps its serial number in every store.
TEST_P(Stores, MachineTextKeepsItsBytes) {
    const std::string serial = "SN-\xE4\xFF\x1B";
    HistoryEntry r = Read("SN-A", 1, 100);
    r.serialNr = serial;
    r.machineType = "TVX\xB5";
    HistoryError error;
    ASSERT_GT(H().Add(r, error), 0) << error.detail;
    const std::vector<HistoryMachine> machines = H().Machines(error);
    ASSERT_EQ(machines.size(), 1u) << error.detail;
    EXPECT_EQ(machines[0].serialNr, serial);
    const std::vector<HistoryEntry> entries = H().Entries(serial, error);
    ASSERT_EQ(entries.size(), 1u) << error.detail;
    EXPECT_EQ(entries[0].machineType, "TVX\xB5");
}

// Another kind than a machine command (the fleet's approved configurations): listed apart,
// with its payload, never as a machine.
TEST_P(Stores, RecordsOfAnotherKind) {
    HistoryError error;
    ASSERT_GT(H().Add(Read("SN-A", 1, 100), error), 0);
    const std::string json = R"({"name":"Line 3","version":2})";
    HistoryEntry first = HistoryEntry::Record("fleet.configuration", "Line 3 v1",
                                              std::vector<uint8_t>(json.begin(), json.end()));
    first.timeMs = 2000;
    first.serialNr = "SN-A"; // an assignment names its machine
    HistoryEntry second = HistoryEntry::Record("fleet.configuration", "Line 3 v2", {0, 1, 2});
    second.timeMs = 3000;
    ASSERT_GT(H().Add(second, error), 0) << error.detail;
    ASSERT_GT(H().Add(first, error), 0) << error.detail;
    ASSERT_GT(H().Add(HistoryEntry::Record("fleet.assignment", "SN-A -> Line 3", {}), error), 0);

    const std::vector<HistoryEntry> records = H().Records("fleet.configuration", error);
    ASSERT_EQ(records.size(), 2u) << error.detail;
    EXPECT_EQ(records[0].command, "Line 3 v1"); // oldest first
    EXPECT_EQ(std::string(records[0].payload.begin(), records[0].payload.end()), json);
    EXPECT_EQ(records[1].payload, (std::vector<uint8_t>{0, 1, 2}));
    EXPECT_EQ(records[0].kind, "fleet.configuration");
    EXPECT_TRUE(IsUuid(records[0].uuid));
    EXPECT_EQ(H().Records("fleet.assignment", error).size(), 1u);
    EXPECT_TRUE(H().Records(HistoryEntry::kMachineCommand, error).empty());

    const std::vector<HistoryMachine> machines = H().Machines(error);
    ASSERT_EQ(machines.size(), 1u);
    EXPECT_EQ(machines[0].entries, 1);
    EXPECT_EQ(H().Entries("SN-A", error).size(), 1u);
}

TEST_P(Stores, CompletingABackup) {
    HistoryError error;
    HistoryEntry b = Backup("SN-A", 1, 100);
    b.result.reset();
    const int64_t id = H().Add(b, error);
    ASSERT_GT(id, 0) << error.detail;
    const bool done = H().Complete(id, 0, "ok", Machine("SN-A", 2), 5u, error);
    EXPECT_EQ(done, store->CanComplete()) << error.detail;
    const std::optional<HistoryEntry> e = H().Entry(id, error);
    ASSERT_TRUE(e);
    if (store->CanComplete()) {
        EXPECT_EQ(e->result, 0);
        EXPECT_EQ(e->after->bytes, Machine("SN-A", 2).bytes);
    } else {
        EXPECT_FALSE(e->result); // the server's row stays as it was sent
        EXPECT_EQ(error.kind, HistoryError::None);
    }
}

INSTANTIATE_TEST_SUITE_P(Both, Stores, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
