// The history's own checks: every stored image against its digest, the whole file after a
// writer that never closed it, and a history that only reads where it cannot write (locked, a
// read-only folder, a full disk, a newer program's file).
#include "history/HistoryStore.h"

#include "tests/TempDir.h"
#include "tests/Unprivileged.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

ParameterBlock Machine(const std::string& serial, uint8_t mark) {
    ParameterBlock b = ParameterBlock::Default();
    b.SetSerialNr(serial);
    b.bytes[200] = mark;
    return b;
}

// A firmware update's entry: the image before, the image after, the emulation area.
HistoryEntry Update(const std::string& serial, int64_t timeMs) {
    HistoryEntry e;
    e.command = "Firmware Update";
    e.result = 0;
    e.before = Machine(serial, 1);
    e.after = Machine(serial, 2);
    e.TakeIdentity(*e.before);
    e.extra.assign(256, 0x5A);
    e.timeMs = timeMs;
    return e;
}

std::string Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Changes a stored row behind the store's back, as damage on the disk would.
void Sql(const fs::path& file, const std::string& sql,
         const std::function<void(sqlite3_stmt*)>& bind = {}) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    if (bind)
        bind(st);
    EXPECT_EQ(sqlite3_step(st), SQLITE_DONE) << sqlite3_errmsg(db);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

// One byte of a stored blob changed in place.
void ChangeByte(const fs::path& file, const char* column, int64_t id, int offset) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_blob* blob = nullptr;
    ASSERT_EQ(sqlite3_blob_open(db, "main", "entry", column, id, 1, &blob), SQLITE_OK)
        << sqlite3_errmsg(db);
    uint8_t byte = 0;
    ASSERT_EQ(sqlite3_blob_read(blob, &byte, 1, offset), SQLITE_OK);
    byte ^= 0x04;
    ASSERT_EQ(sqlite3_blob_write(blob, &byte, 1, offset), SQLITE_OK);
    sqlite3_blob_close(blob);
    sqlite3_close(db);
}

class HistoryIntegrity : public ::testing::Test {
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

// A byte changed inside an image, a digest changed, an image cut short: the store never gives
// out the damaged image (nor another image of the entry in its place), names it, and the check
// lists the entry; an intact entry beside it stays usable.
TEST_F(HistoryIntegrity, DamagedImagesAreWithheldAndNamed) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&, int64_t)> damage;
        const char* which;
    };
    const Case cases[] = {
        {"byte in the image before",
         [](const fs::path& f, int64_t id) { ChangeByte(f, "image_before", id, 300); }, "before"},
        {"byte in the image after",
         [](const fs::path& f, int64_t id) { ChangeByte(f, "image_after", id, 0); }, "after"},
        {"byte in the extra area",
         [](const fs::path& f, int64_t id) { ChangeByte(f, "extra", id, 255); }, "extra"},
        {"digest changed",
         [](const fs::path& f, int64_t id) {
             Sql(f, "UPDATE entry SET after_digest = '" + std::string(40, 'A') +
                        "' WHERE id = " + std::to_string(id));
         },
         "after"},
        {"digest lost",
         [](const fs::path& f, int64_t id) {
             Sql(f, "UPDATE entry SET extra_digest = NULL WHERE id = " + std::to_string(id));
         },
         "extra"},
        {"image cut short",
         [](const fs::path& f, int64_t id) {
             Sql(f, "UPDATE entry SET image_before = substr(image_before, 1, 300) WHERE id = " +
                        std::to_string(id));
         },
         "before"},
        {"image gone",
         [](const fs::path& f, int64_t id) {
             Sql(f, "UPDATE entry SET image_after = NULL WHERE id = " + std::to_string(id));
         },
         "after"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(File());
        int64_t damagedId = 0, intactId = 0;
        {
            cHistoryStore store;
            OpenOk(store);
            HistoryError error;
            intactId = store.Add(Update("SN-1", 1000), error);
            damagedId = store.Add(Update("SN-1", 2000), error);
            ASSERT_GT(damagedId, 0) << error.detail;
        }
        c.damage(File(), damagedId);

        cHistoryStore store;
        OpenOk(store);
        HistoryError error;
        std::optional<HistoryEntry> e = store.Entry(damagedId, error);
        ASSERT_TRUE(e) << error.detail;
        std::string which;
        EXPECT_FALSE(ImagesIntact(*e, which));
        EXPECT_EQ(which, c.which);
        const std::string w = c.which;
        EXPECT_EQ(e->before.has_value(), w != "before");
        EXPECT_EQ(e->after.has_value(), w != "after");
        EXPECT_EQ(e->extra.empty(), w == "extra");
        // The entry's image is the one before or none, never the one after in its place.
        EXPECT_EQ(e->Image().has_value(), w != "before");

        // The same through every other reading.
        const std::vector<HistoryEntry> listed = store.Entries("SN-1", error, true);
        ASSERT_EQ(listed.size(), 2u);
        EXPECT_FALSE(ImagesIntact(listed[0], which));
        EXPECT_TRUE(ImagesIntact(listed[1], which)) << which;
        const std::optional<HistoryEntry> backup =
            store.LastBackup("SN-1", "Firmware Update", error);
        ASSERT_TRUE(backup);
        EXPECT_FALSE(ImagesIntact(*backup, which));

        std::string problems;
        std::vector<cHistoryStore::Damage> damaged;
        ASSERT_TRUE(store.Check(problems, damaged, error)) << error.detail;
        EXPECT_EQ(problems, "");
        ASSERT_EQ(damaged.size(), 1u);
        EXPECT_EQ(damaged[0].id, damagedId);
        EXPECT_EQ(damaged[0].which, c.which);
        EXPECT_EQ(damaged[0].serialNr, "SN-1");

        e = store.Entry(intactId, error);
        ASSERT_TRUE(e);
        EXPECT_TRUE(ImagesIntact(*e, which)) << which;
        EXPECT_EQ(*e->before, Machine("SN-1", 1));
    }
}

// For any byte of any stored image changed, to any value: exactly the changed entries are found
// by the check, and no reading gives out the changed bytes.
TEST_F(HistoryIntegrity, AnyChangedByteIsFoundAndNeverGivenOut) {
    std::mt19937 rng(20261211);
    constexpr int kEntries = 120;
    {
        cHistoryStore store;
        OpenOk(store);
        HistoryError error;
        std::vector<HistoryEntry> entries;
        for (int i = 0; i < kEntries; ++i) {
            HistoryEntry e = Update("SN-P", 1000 + i);
            for (uint8_t& b : e.before->bytes)
                b = static_cast<uint8_t>(rng());
            for (uint8_t& b : e.after->bytes)
                b = static_cast<uint8_t>(rng());
            e.extra.resize(1 + rng() % 300);
            for (uint8_t& b : e.extra)
                b = static_cast<uint8_t>(rng());
            entries.push_back(e);
        }
        ASSERT_TRUE(store.AddAll(entries, error)) << error.detail;
    }
    const char* columns[] = {"image_before", "image_after", "extra"};
    const char* names[] = {"before", "after", "extra"};
    std::map<int64_t, std::string> changed;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(File().c_str(), &db), SQLITE_OK);
    for (int64_t id = 1; id <= kEntries; ++id) {
        if (rng() % 2)
            continue;
        const int column = static_cast<int>(rng() % 3);
        sqlite3_blob* blob = nullptr;
        ASSERT_EQ(sqlite3_blob_open(db, "main", "entry", columns[column], id, 1, &blob), SQLITE_OK);
        const int offset = static_cast<int>(rng() % uint32_t(sqlite3_blob_bytes(blob)));
        uint8_t byte = 0;
        sqlite3_blob_read(blob, &byte, 1, offset);
        byte = static_cast<uint8_t>(byte ^ (1 + rng() % 255)); // never the same value
        sqlite3_blob_write(blob, &byte, 1, offset);
        sqlite3_blob_close(blob);
        changed[id] = names[column];
    }
    sqlite3_close(db);
    ASSERT_FALSE(changed.empty());

    cHistoryStore store;
    OpenOk(store);
    std::string problems;
    std::vector<cHistoryStore::Damage> damaged;
    HistoryError error;
    ASSERT_TRUE(store.Check(problems, damaged, error)) << error.detail;
    std::map<int64_t, std::string> found;
    for (const cHistoryStore::Damage& d : damaged)
        found[d.id] = d.which;
    EXPECT_EQ(found, changed);
    for (const HistoryEntry& e : store.Entries("SN-P", error, true)) {
        std::string which;
        EXPECT_EQ(ImagesIntact(e, which), !changed.count(e.id)) << e.id;
        // What is given out still matches the digest it was stored with.
        if (e.before) {
            EXPECT_EQ(ImageDigest(*e.before), e.beforeDigest);
        }
        if (e.after) {
            EXPECT_EQ(ImageDigest(*e.after), e.afterDigest);
        }
        if (!e.extra.empty()) {
            EXPECT_EQ(ImageDigest(e.extra.data(), e.extra.size()), e.extraDigest);
        }
    }
}

// The digests of an entry: made from the bytes here, kept as carried when pulled from the team
// (so damage on the way shows), and the image after a completion gets its own.
TEST_F(HistoryIntegrity, DigestsAreStoredWithEveryImage) {
    cHistoryStore store;
    OpenOk(store);
    HistoryError error;
    HistoryEntry backup = Update("SN-2", 1000);
    backup.after.reset();
    backup.result.reset();
    const int64_t id = store.Add(backup, error);
    ASSERT_GT(id, 0);
    const ParameterBlock after = Machine("SN-2", 9);
    ASSERT_TRUE(store.Complete(id, 0, "", after, std::nullopt, error));
    std::optional<HistoryEntry> e = store.Entry(id, error);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->beforeDigest, ImageDigest(*backup.before));
    EXPECT_EQ(e->afterDigest, ImageDigest(after));
    EXPECT_EQ(e->extraDigest, ImageDigest(backup.extra.data(), backup.extra.size()));
    EXPECT_EQ(e->afterDigest.size(), 40u);

    HistoryEntry pulled = Update("SN-2", 3000);
    pulled.uuid = NewUuid();
    pulled.afterDigest = ImageDigest(Machine("SN-2", 77)); // not the bytes that came
    HistoryEntry plain = HistoryEntry::Record("note", "Notiz", {1, 2, 3});
    plain.uuid = NewUuid();
    ASSERT_TRUE(store.AddPulled({pulled, plain}, 5, error)) << error.detail;
    e = store.EntryByUuid(pulled.uuid, error);
    ASSERT_TRUE(e);
    std::string which;
    EXPECT_FALSE(ImagesIntact(*e, which));
    EXPECT_EQ(which, "after");
    e = store.EntryByUuid(plain.uuid, error);
    ASSERT_TRUE(e);
    EXPECT_TRUE(ImagesIntact(*e, which));
    EXPECT_TRUE(e->beforeDigest.empty() && e->afterDigest.empty() && e->extraDigest.empty());
}

// Listing takes no lock and writes nothing: it works while another program holds the write
// lock, where a change fails at once as locked.
TEST_F(HistoryIntegrity, ListedWhileAnotherProgramHoldsTheWriteLock) {
    {
        cHistoryStore store;
        OpenOk(store);
        HistoryError error;
        ASSERT_GT(store.Add(Update("SN-3", 1000), error), 0);
    }
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(File().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE; INSERT INTO meta VALUES('x', 'y');", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    cHistoryStore store;
    store.SetBusyTimeout(0); // a wait for the lock would fail
    HistoryError error;
    ASSERT_TRUE(store.OpenForReading(File(), error)) << error.detail;
    EXPECT_EQ(store.Machines(error).size(), 1u) << error.detail;
    const std::optional<HistoryEntry> e = store.Entry(1, error);
    ASSERT_TRUE(e) << error.detail;
    std::string which;
    EXPECT_TRUE(ImagesIntact(*e, which));
    EXPECT_EQ(store.Add(Update("SN-3", 2000), error), 0);
    EXPECT_EQ(error.kind, HistoryError::ReadOnly);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
}

// A folder the user may not write: listed (no journal or shared-memory file can be made there),
// and a history that does not exist yet is an empty one, not made.
TEST_F(HistoryIntegrity, ListedInAReadOnlyFolder) {
    {
        cHistoryStore store;
        OpenOk(store);
        HistoryError error;
        ASSERT_GT(store.Add(Update("SN-4", 1000), error), 0);
    }
    const fs::path empty = fs::path(dir.Path()) / "empty";
    fs::create_directory(empty);
    unprivileged::HandOver(dir.Path());
    fs::permissions(dir.Path(), fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::group_read | fs::perms::group_exec);
    fs::permissions(empty, fs::perms::owner_read | fs::perms::owner_exec);
    unprivileged::Run([&] {
        cHistoryStore store;
        HistoryError error;
        ASSERT_TRUE(store.OpenForReading(File(), error)) << error.detail;
        EXPECT_EQ(store.Entries("SN-4", error, true).size(), 1u) << error.detail;
        cHistoryStore none;
        ASSERT_TRUE(none.OpenForReading(empty / cHistoryStore::kFileName, error)) << error.detail;
        EXPECT_TRUE(none.Machines(error).empty());
        EXPECT_FALSE(error) << error.detail;
    });
    EXPECT_FALSE(fs::exists(empty / cHistoryStore::kFileName));
    fs::permissions(dir.Path(), fs::perms::owner_all);
}

// A full disk: the history is listed, and a change says where the disk is full, about how much
// it needs and how much is free; nothing of it is stored. Mounting a small disk needs root:
// as another user the test says it cannot run.
TEST_F(HistoryIntegrity, FullDiskIsListedAndTheRefusalSaysHowMuchIsNeeded) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root (CI runs as root)";
    const fs::path disk = fs::path(dir.Path()) / "disk";
    fs::create_directory(disk);
    ASSERT_EQ(::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=512k"), 0) << std::strerror(errno);
    struct Unmount {
        fs::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{disk};
    const fs::path file = disk / cHistoryStore::kFileName;
    {
        cHistoryStore store;
        HistoryNotice notice;
        HistoryError error;
        ASSERT_TRUE(store.Open(file, notice, error)) << error.detail;
        for (int i = 0; i < 5; ++i)
            ASSERT_GT(store.Add(Update("SN-5", 1000 + i), error), 0) << error.detail;
    }
    // Whatever room is left taken by another file.
    {
        std::ofstream fill(disk / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (fill.write(block.data(), block.size()))
            ;
    }
    cHistoryStore reader;
    HistoryError error;
    ASSERT_TRUE(reader.OpenForReading(file, error)) << error.detail;
    EXPECT_EQ(reader.Entries("SN-5", error).size(), 5u) << error.detail;

    cHistoryStore store;
    HistoryNotice notice;
    if (store.Open(file, notice, error)) {
        HistoryEntry big = Update("SN-6", 9000);
        big.extra.assign(64 * 1024, 0xEE);
        EXPECT_EQ(store.Add(big, error), 0);
        EXPECT_EQ(error.kind, HistoryError::Full) << error.detail;
        EXPECT_EQ(store.FullRoom().folder, disk);
        EXPECT_GT(store.FullRoom().needed, 64u * 1024);
        EXPECT_LT(store.FullRoom().available, 8u * 1024);
    } else {
        // Not even the journal fits: the open itself says the disk is full.
        EXPECT_EQ(error.kind, HistoryError::Full) << error.detail;
    }
    fs::remove(disk / "filler");
    EXPECT_TRUE(reader.Entries("SN-6", error).empty());
}

// A newer program's history is neither moved aside nor changed: opening it for a change fails
// naming that program's version, listing reads it as it is.
TEST_F(HistoryIntegrity, NewerProgramsHistoryIsOnlyRead) {
    {
        cHistoryStore store;
        OpenOk(store);
        HistoryError error;
        ASSERT_GT(store.Add(Update("SN-7", 1000), error), 0);
    }
    Sql(File(), "UPDATE meta SET value = '4.9.0.1' WHERE key = 'program_version'");
    Sql(File(), "PRAGMA user_version = 99");
    const std::string original = Bytes(File());

    cHistoryStore store;
    HistoryNotice notice;
    HistoryError error;
    EXPECT_FALSE(store.Open(File(), notice, error));
    EXPECT_FALSE(notice);
    EXPECT_EQ(error.kind, HistoryError::ReadOnly);
    EXPECT_NE(error.detail.find("4.9.0.1"), std::string::npos) << error.detail;
    EXPECT_EQ(store.NewerVersion(), "4.9.0.1");

    ASSERT_TRUE(store.OpenForReading(File(), error)) << error.detail;
    EXPECT_EQ(store.NewerVersion(), "4.9.0.1");
    EXPECT_EQ(store.Entries("SN-7", error).size(), 1u) << error.detail;
    store.Close();
    EXPECT_EQ(Bytes(File()), original);
    for (const auto& f : fs::directory_iterator(dir.Path()))
        EXPECT_EQ(f.path().filename().string().find(".damaged-"), std::string::npos);
}

// Opening checks the whole file only after a writer ended without closing it: damage in the
// middle of the file, which the quick look on opening does not reach, is found then and the
// file goes aside; after a clean close the same file opens quickly.
TEST_F(HistoryIntegrity, WholeFileCheckedAfterAnUncleanClose) {
    {
        cHistoryStore store;
        OpenOk(store);
        HistoryError error;
        std::vector<HistoryEntry> many;
        for (int i = 0; i < 300; ++i)
            many.push_back(Update("SN-" + std::to_string(i % 7), 1000 + i));
        ASSERT_TRUE(store.AddAll(many, error)) << error.detail;
    }
    const fs::path mark = File().string() + ".open";
    EXPECT_FALSE(fs::exists(mark));
    // A page in the middle of the file overwritten.
    const std::string original = Bytes(File());
    {
        std::fstream io(File(), std::ios::in | std::ios::out | std::ios::binary);
        io.seekp(static_cast<std::streamoff>(original.size() / 2 / 4096 * 4096));
        io << std::string(4096, '\xA5');
    }
    const std::string damaged = Bytes(File());
    {
        cHistoryStore store;
        OpenOk(store); // clean before: the quick look only
        EXPECT_TRUE(fs::exists(mark));
        // A second writer closing leaves the mark to the first.
        cHistoryStore second;
        OpenOk(second);
        second.Close();
        EXPECT_TRUE(fs::exists(mark));
    }
    EXPECT_FALSE(fs::exists(mark));

    // A writer killed: its mark stays, unlocked.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        cHistoryStore store;
        HistoryNotice notice;
        HistoryError error;
        ::_exit(store.Open(File(), notice, error) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(fs::exists(mark));

    cHistoryStore store;
    HistoryNotice notice;
    HistoryError error;
    ASSERT_TRUE(store.Open(File(), notice, error)) << error.detail;
    EXPECT_EQ(notice.reason, HistoryNotice::Damaged);
    EXPECT_EQ(Bytes(notice.movedTo), damaged);
    HistoryError ignored;
    EXPECT_TRUE(store.Machines(ignored).empty());
}

} // namespace
