// Laptops (local SQLite histories) syncing with one server: both ways, idempotent, cut by
// SIGKILL at random moments, many at once; and what the server lets a technician do.
#include "history/HistorySync.h"
#include "tests/TempDir.h"
#include "tests/history/server/PgServer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

ParameterBlock Machine(const std::string& serial, uint8_t mark) {
    ParameterBlock b = ParameterBlock::Default();
    b.SetText(ParameterBlock::kOffMachineType, ParameterBlock::kLenMachineType, "TVX18-4200");
    b.SetSerialNr(serial);
    b.bytes[200] = mark;
    return b;
}

// One technician's laptop: its own history file.
class Laptop {
public:
    explicit Laptop(const std::string& technician) {
        file = fs::path(dir.Path()) / cHistoryStore::kFileName;
        Open();
        store.SetTechnician(technician);
    }
    void Open() {
        HistoryNotice notice;
        HistoryError error;
        ASSERT_TRUE(store.Open(file, notice, error)) << error.detail;
    }
    // n reads of machine `serial`, offline.
    void Reads(const std::string& serial, int n) {
        std::vector<HistoryEntry> entries;
        for (int i = 0; i < n; ++i) {
            HistoryEntry e;
            e.command = "von Maschine";
            e.result = 0;
            e.after = Machine(serial, static_cast<uint8_t>(i));
            e.TakeIdentity(*e.after);
            e.fasteningCounter = static_cast<uint32_t>(i);
            e.timeMs = 1000 + i;
            entries.push_back(e);
        }
        HistoryError error;
        ASSERT_TRUE(store.AddAll(entries, error)) << error.detail;
    }
    bool Sync(const std::string& conninfo, SyncCounts& counts, ServerError& error,
              int batch = 1000) {
        return SyncHistory(store, conninfo, counts, error, batch);
    }
    void SyncOk(const std::string& conninfo) {
        SyncCounts counts;
        ServerError error;
        ASSERT_TRUE(Sync(conninfo, counts, error)) << error.detail;
    }
    // Every UUID the laptop holds; fails on a UUID held twice.
    std::set<std::string> Uuids() {
        std::set<std::string> uuids;
        HistoryError error;
        for (const HistoryMachine& m : store.Machines(error))
            for (const HistoryEntry& e : store.Entries(m.serialNr, error))
                EXPECT_TRUE(uuids.insert(e.uuid).second) << e.uuid;
        return uuids;
    }

    TempDir dir;
    fs::path file;
    cHistoryStore store;
};

int64_t ServerRows(const TestDatabase& db) {
    return std::stoll(AdminValue(db.Name(), "SELECT count(*) FROM kelvane.entry"));
}

} // namespace

TEST(ServerSync, TwoLaptopsOfflineSeeBothMachinesAfterASync) {
    TestDatabase db;
    ASSERT_TRUE(db.Init());
    Laptop a("anna"), b("bernd");
    a.Reads("SN-A", 3);
    b.Reads("SN-B", 2);

    SyncCounts counts;
    ServerError error;
    ASSERT_TRUE(a.Sync(db.Conninfo(), counts, error)) << error.detail;
    EXPECT_EQ(counts.pushed, 3);
    EXPECT_EQ(counts.pulled, 0);
    ASSERT_TRUE(b.Sync(db.Conninfo(), counts, error)) << error.detail;
    EXPECT_EQ(counts.pushed, 2);
    EXPECT_EQ(counts.pulled, 3);
    ASSERT_TRUE(a.Sync(db.Conninfo(), counts, error)) << error.detail;
    EXPECT_EQ(counts.pushed, 0); // the pulled ones are never sent back
    EXPECT_EQ(counts.pulled, 2);
    ASSERT_TRUE(b.Sync(db.Conninfo(), counts, error)) << error.detail;
    EXPECT_EQ(counts.pushed + counts.pulled, 0);
    EXPECT_EQ(ServerRows(db), 5);

    for (Laptop* l : {&a, &b}) {
        HistoryError e;
        const std::vector<HistoryMachine> machines = l->store.Machines(e);
        ASSERT_EQ(machines.size(), 2u);
        EXPECT_EQ(l->Uuids().size(), 5u);
    }
    HistoryError e;
    const std::vector<HistoryEntry> pulled = a.store.Entries("SN-B", e);
    ASSERT_EQ(pulled.size(), 2u);
    EXPECT_FALSE(pulled[0].fromHere);
    EXPECT_EQ(pulled[0].technician, "bernd");
    EXPECT_TRUE(a.store.Entries("SN-A", e)[0].fromHere);
    EXPECT_EQ(SyncStatusOf(a.store).waiting, 0);
    EXPECT_TRUE(SyncStatusOf(a.store).lastSyncMs);
}

// A cut after the server stored a batch but before the laptop noted it: the next sync sends it
// again and the server keeps one copy. A new entry and an open backup: only the finished one
// goes; the backup follows once its command reported back.
TEST(ServerSync, SendingAgainStoresNothingTwice) {
    TestDatabase db;
    ASSERT_TRUE(db.Init());
    Laptop a("anna");
    a.Reads("SN-A", 4);
    a.SyncOk(db.Conninfo());
    // As if the laptop never heard the server's answer.
    HistoryError e;
    ASSERT_TRUE(a.store.StartWithServer("another server", e)) << e.detail;
    SyncCounts counts;
    ServerError error;
    ASSERT_TRUE(a.Sync(db.Conninfo(), counts, error)) << error.detail;
    EXPECT_EQ(counts.pushed, 4);
    EXPECT_EQ(ServerRows(db), 4);

    HistoryEntry backup;
    backup.command = "zur Maschine";
    backup.before = Machine("SN-A", 9);
    backup.TakeIdentity(*backup.before);
    const int64_t id = a.store.Add(backup, e);
    ASSERT_GT(id, 0);
    EXPECT_EQ(SyncStatusOf(a.store).waiting, 0);
    ASSERT_TRUE(a.Sync(db.Conninfo(), counts, error));
    EXPECT_EQ(ServerRows(db), 4);
    ASSERT_TRUE(a.store.Complete(id, 0, "", Machine("SN-A", 10), 5u, e));
    EXPECT_EQ(SyncStatusOf(a.store).waiting, 1);
    ASSERT_TRUE(a.Sync(db.Conninfo(), counts, error));
    EXPECT_EQ(ServerRows(db), 5);
    EXPECT_EQ(AdminValue(db.Name(), "SELECT result FROM kelvane.entry WHERE uuid = '" +
                                        a.store.Entry(id, e)->uuid + "'"),
              "0");
}

// Laptops syncing at once, each killed at a random moment and started again until one run
// ends; then every entry is on the server exactly once and on every laptop exactly once.
void KilledSyncs(int laptops, int entriesEach, unsigned seed) {
    TestDatabase db;
    ASSERT_TRUE(db.Init());
    std::vector<std::unique_ptr<Laptop>> list;
    for (int i = 0; i < laptops; ++i) {
        list.push_back(std::make_unique<Laptop>("tech" + std::to_string(i)));
        list.back()->Reads("SN-" + std::to_string(i), entriesEach);
        list.back()->store.Close(); // the children open it themselves
    }
    std::mt19937 random(seed);
    int kills = 0;
    for (int round = 0; round < 4; ++round) {
        std::vector<pid_t> children;
        for (int i = 0; i < laptops; ++i) {
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                cHistoryStore store;
                HistoryNotice notice;
                HistoryError error;
                if (!store.Open(list[i]->file, notice, error))
                    ::_exit(3);
                SyncCounts counts;
                ServerError failure;
                // Small batches: more moments to be cut at.
                ::_exit(SyncHistory(store, db.Conninfo(), counts, failure, 40) ? 0 : 4);
            }
            children.push_back(pid);
        }
        // The last round runs to its end.
        if (round < 3) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 150000));
            for (pid_t pid : children)
                if (random() % 4 != 0 && ::kill(pid, SIGKILL) == 0)
                    ++kills;
        }
        for (pid_t pid : children) {
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            if (round == 3) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            }
        }
    }
    ::testing::Test::RecordProperty("kills", kills);
    // Pulls of a laptop that ended before others pushed: one more round, uncut.
    for (auto& l : list) {
        l->Open();
        l->SyncOk(db.Conninfo());
    }
    const int64_t total = static_cast<int64_t>(laptops) * entriesEach;
    EXPECT_EQ(ServerRows(db), total);
    EXPECT_EQ(AdminValue(db.Name(), "SELECT count(DISTINCT uuid) FROM kelvane.entry"),
              std::to_string(total));
    for (auto& l : list) {
        EXPECT_EQ(static_cast<int64_t>(l->Uuids().size()), total);
        EXPECT_EQ(SyncStatusOf(l->store).waiting, 0);
        const std::string broken =
            AdminValue(db.Name(), "SELECT count(*) FROM kelvane.entry WHERE image_after IS NULL");
        EXPECT_EQ(broken, "0"); // no half entry
    }
}

TEST(ServerSync, TwoLaptopsKilledAtRandomMoments) {
    KilledSyncs(2, 300, 21);
}

TEST(ServerSync, TenLaptopsAtOnceKilledAtRandomMoments) {
    KilledSyncs(10, 120, 24);
}

// A technician's role may add and read; changing or deleting a row is refused even where a
// grant was given by mistake. The owner may still clean up.
TEST(ServerSync, TechniciansCannotChangeTheSharedRecord) {
    TestDatabase db;
    ASSERT_TRUE(db.Init());
    const std::string role = db.Name() + "_tech";
    ASSERT_EQ(AdminSql(db.Name(), "CREATE ROLE " + role + " LOGIN PASSWORD 'pw'"), "");
    ASSERT_EQ(AdminSql(db.Name(), "GRANT kelvane_technician TO " + role), "");
    const std::string conninfo = db.Conninfo() + " user=" + role + " password=pw";
    Laptop a("anna");
    a.Reads("SN-A", 2);
    a.SyncOk(conninfo);
    EXPECT_EQ(ServerRows(db), 2);

    auto asTechnician = [&](const std::string& sql) {
        PGconn* c = PQconnectdb(conninfo.c_str());
        PGresult* r = PQexec(c, sql.c_str());
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        std::string message = PQresultErrorMessage(r);
        PQclear(r);
        PQfinish(c);
        return ok ? std::string() : message;
    };
    EXPECT_NE(asTechnician("DELETE FROM kelvane.entry"), "");
    EXPECT_NE(asTechnician("UPDATE kelvane.entry SET command = 'x'"), "");
    ASSERT_EQ(AdminSql(db.Name(), "GRANT UPDATE, DELETE, TRUNCATE ON kelvane.entry TO " + role),
              "");
    for (const char* sql : {"DELETE FROM kelvane.entry", "UPDATE kelvane.entry SET command = 'x'",
                            "TRUNCATE kelvane.entry"}) {
        const std::string refused = asTechnician(sql);
        EXPECT_NE(refused.find("never changed or deleted"), std::string::npos) << sql << refused;
    }
    EXPECT_EQ(ServerRows(db), 2);
    EXPECT_EQ(AdminSql(db.Name(), "DELETE FROM kelvane.entry"), ""); // the owner
    EXPECT_EQ(ServerRows(db), 0);
    AdminSql(db.Name(), "DROP OWNED BY " + role + "; DROP ROLE " + role);
}

// A push copies its rows in one go, or, where the administrator took the right to make a
// table of the session (TEMP), inserts them as statements. Both roads store every field as the
// laptop had it, and each image's digest: made on sending where the laptop kept none, sent as
// the laptop kept it otherwise (one that no longer fits its image stays visible).
TEST(ServerSync, BothRoadsOfAPushStoreEveryField) {
    HistoryEntry write;
    write.command = "zur Maschine";
    write.result = -7;
    write.message = "Schreiben fehlgeschlagen: \xFF kaputt";
    write.before = Machine("SN-\xC4\xD6", 1);
    write.after = Machine("SN-\xC4\xD6", 2);
    write.extra.assign(128, 0x5A);
    write.TakeIdentity(*write.before);
    write.fasteningCounter = 4294967295u;
    write.timeMs = 1700000000123;
    write.technician = "J\xC3\xBCrgen";
    write.host = "werk-3";
    HistoryEntry kept;
    kept.command = "von Maschine";
    kept.after = Machine("SN-B", 4); // no result: a backup never completed
    kept.TakeIdentity(*kept.after);
    kept.afterDigest = ImageDigest(Machine("SN-B", 3));
    kept.timeMs = 1700000000124;
    HistoryEntry record = HistoryEntry::Record("assignment", "SN-B", {'{', '\0', '}'});
    record.timeMs = 1700000000125;
    record.afterDigest = "damaged"; // and no image: nothing to make one from
    const std::vector<HistoryEntry> sent = {write, kept, record};
    const std::string digests[3][3] = {
        {ImageDigest(*write.before), ImageDigest(*write.after),
         ImageDigest(write.extra.data(), write.extra.size())},
        {"", kept.afterDigest, ""},
        {"", "", ""},
    };

    for (const bool statements : {false, true}) {
        SCOPED_TRACE(statements ? "statements" : "copy");
        TestDatabase db;
        ASSERT_TRUE(db.Init());
        const std::string role = db.Name() + "_tech";
        ASSERT_EQ(AdminSql(db.Name(), "CREATE ROLE " + role +
                                          " LOGIN PASSWORD 'pw'; GRANT "
                                          "kelvane_technician TO " +
                                          role),
                  "");
        if (statements) {
            ASSERT_EQ(AdminSql(db.Name(), "REVOKE TEMP ON DATABASE " + db.Name() + " FROM PUBLIC"),
                      "");
        }
        cServerHistory server;
        ServerError error;
        ASSERT_TRUE(server.Connect(db.Conninfo() + " user=" + role + " password=pw", error))
            << error.detail;
        std::vector<HistoryEntry> batch = sent;
        for (HistoryEntry& e : batch)
            e.uuid = NewUuid();
        ASSERT_TRUE(server.Push(batch, NewUuid(), error)) << error.detail;
        ASSERT_TRUE(server.Push(batch, NewUuid(), error)) << error.detail; // skipped
        EXPECT_EQ(ServerRows(db), 3);

        std::vector<HistoryEntry> pulled;
        int64_t next = 0;
        bool more = false;
        ASSERT_TRUE(server.Pull(0, NewUuid(), 10, pulled, next, more, error)) << error.detail;
        ASSERT_EQ(pulled.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            const HistoryEntry &a = batch[i], &b = pulled[i];
            EXPECT_EQ(b.uuid, a.uuid);
            EXPECT_EQ(b.kind, a.kind);
            EXPECT_EQ(b.command, a.command);
            EXPECT_EQ(b.result, a.result);
            EXPECT_EQ(b.timeMs, a.timeMs);
            EXPECT_EQ(b.serialNr, a.serialNr);
            EXPECT_EQ(b.machineType, a.machineType);
            EXPECT_EQ(b.fasteningCounter, a.fasteningCounter);
            EXPECT_EQ(b.before.has_value(), a.before.has_value());
            EXPECT_EQ(b.after.has_value(), a.after.has_value());
            if (a.after && b.after) {
                EXPECT_EQ(b.after->bytes, a.after->bytes);
            }
            EXPECT_EQ(b.extra, a.extra);
            EXPECT_EQ(b.payload, a.payload);
            EXPECT_EQ(b.beforeDigest, digests[i][0]);
            EXPECT_EQ(b.afterDigest, digests[i][1]);
            EXPECT_EQ(b.extraDigest, digests[i][2]);
        }
        EXPECT_EQ(pulled[0].message, "Schreiben fehlgeschlagen: \xEF\xBF\xBD kaputt");
        EXPECT_EQ(pulled[0].technician, write.technician);
        EXPECT_EQ(pulled[0].host, "werk-3");
        EXPECT_EQ(digests[0][1].size(), 40u);
        server.Disconnect();
        AdminSql(db.Name(), "DROP OWNED BY " + role + "; DROP ROLE " + role);
    }
}

namespace {

// A tablespace on a tmpfs of its own, small enough to fill (mounting needs root).
class SmallDisk {
public:
    explicit SmallDisk(const char* size) {
        name = "kelvane_small" + std::to_string(::getpid());
        char tmpl[] = "/tmp/kelvane-small-XXXXXX";
        if (!::mkdtemp(tmpl)) {
            why = "mkdtemp failed";
            return;
        }
        dir = tmpl;
        const std::string options = std::string("size=") + size + ",mode=0700";
        if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            why = std::string("mount tmpfs: ") + std::strerror(errno);
            return;
        }
        mounted = true;
        // The tablespace's folder belongs to the user the cluster runs as.
        struct stat data {};
        const std::string dataDir = AdminValue("postgres", "SHOW data_directory");
        if (::stat(dataDir.c_str(), &data) != 0 || ::chown(dir.c_str(), data.st_uid, data.st_gid)) {
            why = "cannot give " + dir + " to the cluster's user";
            return;
        }
        why = AdminSql("postgres", "CREATE TABLESPACE " + name + " LOCATION '" + dir + "'");
        made = why.empty();
    }
    ~SmallDisk() {
        if (made)
            AdminSql("postgres", "DROP TABLESPACE IF EXISTS " + name);
        if (mounted && ::umount(dir.c_str()) != 0)
            ::umount2(dir.c_str(), MNT_DETACH);
        if (!dir.empty())
            ::rmdir(dir.c_str());
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    std::string name, dir, why;
    bool mounted = false, made = false;
};

} // namespace

// The server's disk fills in the middle of a sync: the batches that arrived are marked sent,
// none that did not; the failure says so; once the administrator made room the next sync sends
// the rest, each entry once.
TEST(ServerSync, AFullServerDiskLosesNothing) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "a small file system for the server needs root";
    SmallDisk disk("1m"); // declared first: dropped after the database that uses it
    if (!disk.made)
        GTEST_SKIP() << disk.why;
    TestDatabase db;
    ASSERT_TRUE(db.Init());
    ASSERT_EQ(AdminSql(db.Name(), "ALTER TABLE kelvane.entry SET TABLESPACE " + disk.name), "");
    constexpr int kEntries = 3000;
    Laptop a("anna");
    a.Reads("SN-A", kEntries);

    SyncCounts counts;
    ServerError error;
    ASSERT_FALSE(a.Sync(db.Conninfo(), counts, error, 250));
    EXPECT_EQ(error.kind, ServerError::Full) << error.detail;
    EXPECT_NE(error.detail.find("No space left"), std::string::npos) << error.detail;
    const int64_t arrived = ServerRows(db);
    EXPECT_GT(arrived, 0);
    EXPECT_LT(arrived, kEntries);
    EXPECT_EQ(counts.pushed, arrived);
    SyncStatus status = SyncStatusOf(a.store);
    EXPECT_EQ(status.waiting, kEntries - arrived);
    EXPECT_EQ(status.lastErrorKind, ServerError::Full);

    // Still full: the same answer, nothing lost on either side.
    ASSERT_FALSE(a.Sync(db.Conninfo(), counts, error, 250));
    EXPECT_EQ(error.kind, ServerError::Full) << error.detail;
    EXPECT_EQ(ServerRows(db), arrived);

    ASSERT_EQ(AdminSql(db.Name(), "ALTER TABLE kelvane.entry SET TABLESPACE pg_default"), "");
    ASSERT_TRUE(a.Sync(db.Conninfo(), counts, error, 250)) << error.detail;
    EXPECT_EQ(counts.pushed, kEntries - arrived);
    EXPECT_EQ(ServerRows(db), kEntries);
    EXPECT_EQ(AdminValue(db.Name(), "SELECT count(DISTINCT uuid) FROM kelvane.entry"),
              std::to_string(kEntries));
    status = SyncStatusOf(a.store);
    EXPECT_EQ(status.waiting, 0);
    EXPECT_EQ(status.lastErrorKind, ServerError::None);
}
