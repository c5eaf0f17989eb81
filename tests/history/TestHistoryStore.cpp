// The history database: entries and machines, the two-step backup, and every file it may
// meet on opening (damaged, foreign, newer, older, locked, read-only, full) without losing data.
#include "history/HistoryStore.h"

#include "tests/TempDir.h"
#include "tests/Unprivileged.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;

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

void Sql(const fs::path& file, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
}

std::string Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class HistoryStoreTest : public ::testing::Test {
protected:
    fs::path File() const { return fs::path(dir.Path()) / cHistoryStore::kFileName; }
    void OpenOk(cHistoryStore& store) {
        HistoryNotice notice;
        HistoryError error;
        ASSERT_TRUE(store.Open(File(), notice, error)) << error.detail;
        EXPECT_FALSE(notice);
    }
    TempDir dir;
};

TEST_F(HistoryStoreTest, BackupCompletedAndReadsListedPerMachine) {
    cHistoryStore store;
    OpenOk(store);
    HistoryError error;
    ASSERT_GT(store.Add(Read("SN-A", 10, 1000), error), 0);
    ASSERT_GT(store.Add(Read("SN-B", 20, 2000), error), 0);

    HistoryEntry backup;
    backup.command = "zur Maschine";
    backup.before = Machine("SN-A", 1);
    backup.TakeIdentity(*backup.before);
    backup.timeMs = 3000;
    const int64_t id = store.Add(backup, error);
    ASSERT_GT(id, 0) << error.detail;
    // Stored before the command ends: the backup is there with its outcome still open.
    std::optional<HistoryEntry> open = store.Entry(id, error);
    ASSERT_TRUE(open);
    EXPECT_FALSE(open->result);
    EXPECT_EQ(open->before->bytes, backup.before->bytes);

    ParameterBlock sent = Machine("SN-A", 2);
    ASSERT_TRUE(store.Complete(id, 0, "Parameter wurden übertragen", sent, 11u, error));
    store.Close();

    // Everything survives closing and opening again.
    OpenOk(store);
    std::optional<HistoryEntry> done = store.Entry(id, error);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->result, 0);
    EXPECT_EQ(done->message, "Parameter wurden übertragen");
    EXPECT_EQ(done->before->bytes, backup.before->bytes);
    EXPECT_EQ(done->after->bytes, sent.bytes);
    EXPECT_EQ(done->Image()->bytes, backup.before->bytes);

    std::vector<HistoryMachine> machines = store.Machines(error);
    ASSERT_EQ(machines.size(), 2u);
    EXPECT_EQ(machines[0].serialNr, "SN-A"); // seen last
    EXPECT_EQ(machines[0].machineType, "TVX18-4200");
    EXPECT_EQ(machines[0].swVersion, "V04.02.005");
    EXPECT_EQ(machines[0].fasteningCounter, 11u);
    EXPECT_EQ(machines[0].entries, 2);
    EXPECT_EQ(machines[1].serialNr, "SN-B");

    std::vector<HistoryEntry> entries = store.Entries("SN-A", error);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].id, id);    // newest first
    EXPECT_FALSE(entries[0].before); // no images unless asked
    EXPECT_EQ(store.Entries("SN-A", error, true)[0].before->bytes, backup.before->bytes);

    EXPECT_FALSE(store.Entry(9999, error));
    EXPECT_EQ(error.kind, HistoryError::NotFound);
    EXPECT_FALSE(store.Complete(9999, 0, "", std::nullopt, std::nullopt, error));
    EXPECT_EQ(error.kind, HistoryError::NotFound);
}

// Files that are not a usable history are renamed, byte for byte, and a new one is made.
TEST_F(HistoryStoreTest, UnusableFilesAreMovedAsideNeverEmptied) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
        HistoryNotice::Reason reason;
    };
    const Case cases[] = {
        {"garbage",
         [](const fs::path& f) { std::ofstream(f, std::ios::binary) << std::string(4096, '\x5A'); },
         HistoryNotice::Damaged},
        {"header of a database, pages destroyed",
         [](const fs::path& f) {
             cHistoryStore s;
             HistoryNotice n;
             HistoryError e;
             ASSERT_TRUE(s.Open(f, n, e));
             for (int i = 0; i < 50; ++i)
                 s.Add(Read("SN-" + std::to_string(i), i, 1000 + i), e);
             s.Close();
             std::fstream io(f, std::ios::in | std::ios::out | std::ios::binary);
             io.seekp(4096 + 100);
             io << std::string(8192, '\xFF');
         },
         HistoryNotice::Damaged},
        {"another program's database",
         [](const fs::path& f) { Sql(f, "CREATE TABLE addresses(name TEXT);"); },
         HistoryNotice::Foreign},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir own;
        const fs::path file = fs::path(own.Path()) / cHistoryStore::kFileName;
        c.make(file);
        // Without its journal files the bytes on disk are the whole database.
        for (const char* side : {"-wal", "-shm"})
            fs::remove(file.string() + side);
        const std::string original = Bytes(file);

        cHistoryStore store;
        HistoryNotice notice;
        HistoryError error;
        ASSERT_TRUE(store.Open(file, notice, error)) << error.detail;
        EXPECT_EQ(notice.reason, c.reason);
        ASSERT_TRUE(fs::exists(notice.movedTo));
        EXPECT_EQ(Bytes(notice.movedTo), original);
        EXPECT_NE(notice.movedTo.string().find("history.sqlite.damaged-"), std::string::npos);
        // The new history works.
        EXPECT_GT(store.Add(Read("SN-X", 1, 5), error), 0) << error.detail;
        EXPECT_EQ(store.Machines(error).size(), 1u);
    }
}

// Damage met while in use: the file goes aside whole and the store carries on in a new one.
TEST_F(HistoryStoreTest, DamageFoundInUseMovesTheFileAside) {
    cHistoryStore store;
    OpenOk(store);
    HistoryError error;
    ASSERT_GT(store.Add(Read("SN-A", 1, 1000), error), 0);
    store.Close(); // written through to the file
    OpenOk(store);
    const std::string original = Bytes(File());
    HistoryNotice notice;
    ASSERT_TRUE(store.ReplaceDamaged(notice, error)) << error.detail;
    EXPECT_EQ(notice.reason, HistoryNotice::Damaged);
    EXPECT_EQ(Bytes(notice.movedTo), original);
    EXPECT_TRUE(store.Machines(error).empty());
    EXPECT_GT(store.Add(Read("SN-B", 2, 2000), error), 0);
}

// A first-version database (entries only) gains the machine list from its entries.
TEST_F(HistoryStoreTest, FirstVersionIsMigrated) {
    Sql(File(), "CREATE TABLE entry (id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL,"
                " command TEXT NOT NULL, result INTEGER, message TEXT NOT NULL DEFAULT '',"
                " machine_type TEXT NOT NULL DEFAULT '', serial_nr TEXT NOT NULL DEFAULT '',"
                " el_assembly TEXT NOT NULL DEFAULT '', sw_version TEXT NOT NULL DEFAULT '',"
                " counter INTEGER, image_before BLOB, image_after BLOB, extra BLOB);"
                "CREATE INDEX entry_by_machine ON entry(serial_nr, id);"
                "INSERT INTO entry(time_ms, command, result, machine_type, serial_nr, counter)"
                " VALUES (100, 'von Maschine', 0, 'TVX18', 'OLD-1', 7),"
                " (200, 'von Maschine', 0, 'TVX18', 'OLD-1', 9),"
                " (150, 'von Maschine', 0, 'TVX14', 'OLD-2', 3);"
                "PRAGMA application_id=1263294024; PRAGMA user_version=1;");
    cHistoryStore store;
    OpenOk(store);
    HistoryError error;
    std::vector<HistoryMachine> machines = store.Machines(error);
    ASSERT_EQ(machines.size(), 2u) << error.detail;
    EXPECT_EQ(machines[0].serialNr, "OLD-1");
    EXPECT_EQ(machines[0].entries, 2);
    EXPECT_EQ(machines[0].lastSeenMs, 200);
    EXPECT_EQ(machines[0].fasteningCounter, 9u);
    EXPECT_EQ(store.Entries("OLD-2", error).size(), 1u);
    store.Close();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(File().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), cHistoryStore::kSchemaVersion);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

// A history of the second schema, as the previous version left it on a laptop: every entry keeps
// its fields and images, gains a UUID of its own (once), who and where; nothing is lost.
TEST_F(HistoryStoreTest, SecondVersionGainsIdentitiesOnce) {
    fs::copy_file(KELVANE_TEST_DATA "/history/history-v2.sqlite", File());
    const std::string original = Bytes(File());
    struct Row {
        int64_t id;
        std::string command, serial, before, after, extra;
    };
    auto rows = [](const fs::path& file) {
        std::vector<Row> out;
        sqlite3* db = nullptr;
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT id, command, serial_nr, hex(image_before), hex(image_after), "
                           "hex(extra) FROM entry ORDER BY id",
                           -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW) {
            auto text = [&](int i) {
                const unsigned char* p = sqlite3_column_text(st, i);
                return p ? std::string(reinterpret_cast<const char*>(p)) : std::string();
            };
            out.push_back(
                {sqlite3_column_int64(st, 0), text(1), text(2), text(3), text(4), text(5)});
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
        return out;
    };
    const std::vector<Row> before = rows(File());
    ASSERT_EQ(before.size(), 5u);

    std::set<std::string> uuids;
    {
        cHistoryStore store;
        store.SetTechnician("erika");
        OpenOk(store);
        EXPECT_TRUE(IsUuid(store.StoreId()));
        HistoryError error;
        for (const Row& r : before) {
            const std::optional<HistoryEntry> e = store.Entry(r.id, error);
            ASSERT_TRUE(e) << r.id;
            EXPECT_TRUE(IsUuid(e->uuid)) << e->uuid;
            EXPECT_TRUE(uuids.insert(e->uuid).second);
            EXPECT_EQ(e->technician, "erika");
            EXPECT_FALSE(e->host.empty());
            EXPECT_TRUE(e->fromHere);
            EXPECT_TRUE(e->IsMachineCommand());
            // Every image kept gains its digest, taken from the bytes as they were.
            std::string which;
            EXPECT_TRUE(ImagesIntact(*e, which)) << r.id << ": " << which;
            EXPECT_EQ(e->before.has_value(), !r.before.empty());
            EXPECT_EQ(e->after.has_value(), !r.after.empty());
            EXPECT_EQ(e->beforeDigest.empty(), r.before.empty());
            EXPECT_EQ(e->afterDigest.empty(), r.after.empty());
            EXPECT_EQ(e->extraDigest.empty(), r.extra.empty());
        }
        const std::vector<HistoryMachine> machines = store.Machines(error);
        ASSERT_EQ(machines.size(), 3u);
        EXPECT_EQ(machines[0].serialNr, "OLD-1");
        EXPECT_EQ(machines[0].entries, 2);
        // The open firmware backup is not sent before its command reported back.
        EXPECT_EQ(store.Waiting(error), 4);
    }
    const std::vector<Row> after = rows(File());
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i].command, before[i].command);
        EXPECT_EQ(after[i].serial, before[i].serial);
        EXPECT_EQ(after[i].before, before[i].before);
        EXPECT_EQ(after[i].after, before[i].after);
        EXPECT_EQ(after[i].extra, before[i].extra);
    }
    // Opened again: the same identities, the file at the new schema.
    cHistoryStore again;
    OpenOk(again);
    HistoryError error;
    for (const Row& r : before)
        EXPECT_TRUE(uuids.count(again.Entry(r.id, error)->uuid));
    EXPECT_NE(Bytes(File()), original);
}

// Another program holding the database, or a full disk: a clear failure, nothing lost.
TEST_F(HistoryStoreTest, LockedAndFullFailWithoutLosingEntries) {
    cHistoryStore store;
    OpenOk(store);
    store.SetBusyTimeout(50);
    HistoryError error;
    ASSERT_GT(store.Add(Read("SN-A", 1, 1000), error), 0);

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(File().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(store.Add(Read("SN-A", 2, 2000), error), 0);
    EXPECT_EQ(error.kind, HistoryError::Locked);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    // Room for nothing more: a big entry does not fit and leaves no trace.
    ASSERT_TRUE(store.LimitPages(1));
    HistoryEntry big = Read("SN-B", 3, 3000);
    big.extra.assign(64 * 1024, 0xEE);
    EXPECT_EQ(store.Add(big, error), 0);
    EXPECT_EQ(error.kind, HistoryError::Full);
    ASSERT_TRUE(store.LimitPages(0));

    EXPECT_EQ(store.Entries("SN-A", error).size(), 1u);
    EXPECT_TRUE(store.Entries("SN-B", error).empty());
    EXPECT_EQ(store.Machines(error).size(), 1u);
    EXPECT_GT(store.Add(Read("SN-A", 4, 4000), error), 0) << error.detail;
}

// A history the user may not write is still listed; changes say why they fail. Root writes
// any file, so there the user's part runs as an unprivileged user.
TEST_F(HistoryStoreTest, ReadOnlyFileListsAndRefusesChanges) {
    {
        cHistoryStore store;
        OpenOk(store);
        HistoryError error;
        ASSERT_GT(store.Add(Read("SN-A", 1, 1000), error), 0);
    }
    unprivileged::HandOver(dir.Path());
    fs::permissions(File(), fs::perms::owner_read | fs::perms::group_read);
    unprivileged::Run([&] {
        cHistoryStore store;
        OpenOk(store);
        EXPECT_TRUE(store.IsReadOnly());
        HistoryError error;
        EXPECT_EQ(store.Machines(error).size(), 1u);
        EXPECT_EQ(store.Add(Read("SN-A", 2, 2000), error), 0);
        EXPECT_EQ(error.kind, HistoryError::ReadOnly);
    });
}

// A folder or a FIFO where the database belongs is said as such (not as "read-only" or an
// I/O error) and left where it is.
TEST_F(HistoryStoreTest, SomethingOtherThanAFileInItsPlaceIsNamed) {
    for (const bool fifo : {false, true}) {
        SCOPED_TRACE(fifo ? "fifo" : "folder");
        if (fifo)
            ASSERT_EQ(::mkfifo(File().c_str(), 0600), 0);
        else
            fs::create_directory(File());
        cHistoryStore store;
        HistoryNotice notice;
        HistoryError error;
        EXPECT_FALSE(store.Open(File(), notice, error));
        EXPECT_FALSE(notice);
        EXPECT_EQ(error.kind, HistoryError::Other);
        EXPECT_NE(error.detail.find("not a regular file"), std::string::npos) << error.detail;
        EXPECT_EQ(fs::is_fifo(File()), fifo);
        EXPECT_EQ(fs::is_directory(File()), !fifo);
        fs::remove(File());
    }
}

} // namespace
