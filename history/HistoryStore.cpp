#include "history/HistoryStore.h"

#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Each step brings the schema from version i to i + 1; version 1 is the first.
const char* const kMigrations[] = {
    // 0 -> 1: the entries.
    "CREATE TABLE entry ("
    " id INTEGER PRIMARY KEY,"
    " time_ms INTEGER NOT NULL,"
    " command TEXT NOT NULL,"
    " result INTEGER,"
    " message TEXT NOT NULL DEFAULT '',"
    " machine_type TEXT NOT NULL DEFAULT '',"
    " serial_nr TEXT NOT NULL DEFAULT '',"
    " el_assembly TEXT NOT NULL DEFAULT '',"
    " sw_version TEXT NOT NULL DEFAULT '',"
    " counter INTEGER,"
    " image_before BLOB,"
    " image_after BLOB,"
    " extra BLOB);"
    "CREATE INDEX entry_by_machine ON entry(serial_nr, id);",
    // 1 -> 2: one row a machine, kept with every change, so the list does not scan entries.
    "CREATE TABLE machine ("
    " serial_nr TEXT PRIMARY KEY,"
    " machine_type TEXT NOT NULL DEFAULT '',"
    " sw_version TEXT NOT NULL DEFAULT '',"
    " last_seen_ms INTEGER NOT NULL,"
    " counter INTEGER,"
    " entries INTEGER NOT NULL DEFAULT 0);"
    "INSERT INTO machine(serial_nr, machine_type, sw_version, last_seen_ms, counter, entries)"
    " SELECT serial_nr, machine_type, sw_version, max(time_ms), counter, count(*)"
    " FROM entry GROUP BY serial_nr;"
    "CREATE INDEX machine_by_time ON machine(last_seen_ms);",
    // 2 -> 3: global identity, who and where, records of other kinds, the team's entries.
    // GiveUuids then names every existing entry.
    "ALTER TABLE entry ADD COLUMN uuid TEXT;"
    "ALTER TABLE entry ADD COLUMN kind TEXT NOT NULL DEFAULT 'machine';"
    "ALTER TABLE entry ADD COLUMN payload BLOB;"
    "ALTER TABLE entry ADD COLUMN technician TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE entry ADD COLUMN host TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE entry ADD COLUMN pulled INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE entry ADD COLUMN pushed INTEGER NOT NULL DEFAULT 0;"
    "CREATE UNIQUE INDEX entry_by_uuid ON entry(uuid);"
    "CREATE INDEX entry_by_machine_time ON entry(serial_nr, time_ms, id);"
    "CREATE INDEX entry_waiting ON entry(id) WHERE pushed = 0 AND pulled = 0;"
    "CREATE INDEX entry_by_kind ON entry(kind, time_ms) WHERE kind <> 'machine';"
    "CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);",
};
static_assert(std::size(kMigrations) == cHistoryStore::kSchemaVersion);

std::string Trimmed(const ParameterBlock& b, size_t offset, size_t width) {
    std::string s;
    for (size_t i = 0; i < width; ++i) {
        const uint8_t c = b.bytes[offset + i];
        if (c == 0)
            break;
        s.push_back(static_cast<char>(c));
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    size_t first = s.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : s.substr(first);
}

// A statement that finalises itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr); }
    ~Statement() { sqlite3_finalize(st); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void Text(int i, const std::string& s) {
        sqlite3_bind_text(st, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
    void Int(int i, int64_t v) { sqlite3_bind_int64(st, i, v); }
    void Null(int i) { sqlite3_bind_null(st, i); }
    template <class T> void Optional(int i, const std::optional<T>& v) {
        v ? Int(i, static_cast<int64_t>(*v)) : Null(i);
    }
    void Blob(int i, const uint8_t* p, size_t n) {
        sqlite3_bind_blob(st, i, p, static_cast<int>(n), SQLITE_TRANSIENT);
    }
    void Image(int i, const std::optional<ParameterBlock>& b) {
        b ? Blob(i, b->bytes.data(), b->bytes.size()) : Null(i);
    }
    void Bytes(int i, const std::vector<uint8_t>& v) {
        v.empty() ? Null(i) : Blob(i, v.data(), v.size());
    }
    int Step() { return rc = sqlite3_step(st); }

    std::string ColText(int i) {
        const unsigned char* p = sqlite3_column_text(st, i);
        return p ? reinterpret_cast<const char*>(p) : "";
    }
    int64_t ColInt(int i) { return sqlite3_column_int64(st, i); }
    bool ColNull(int i) { return sqlite3_column_type(st, i) == SQLITE_NULL; }
    std::vector<uint8_t> ColBytes(int i) {
        const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, i));
        return p ? std::vector<uint8_t>(p, p + sqlite3_column_bytes(st, i))
                 : std::vector<uint8_t>();
    }
    std::optional<ParameterBlock> ColImage(int i) {
        if (sqlite3_column_bytes(st, i) != static_cast<int>(ParameterBlock::kSize))
            return std::nullopt;
        ParameterBlock b;
        std::memcpy(b.bytes.data(), sqlite3_column_blob(st, i), ParameterBlock::kSize);
        return b;
    }

    sqlite3_stmt* st = nullptr;
    int rc = SQLITE_OK;
};

constexpr const char* kEntryColumns =
    "id, time_ms, command, result, message, machine_type, serial_nr, el_assembly, sw_version, "
    "counter, uuid, kind, technician, host, pulled";
constexpr const char* kImageColumns = ", image_before, image_after, extra, payload";

HistoryEntry ReadEntry(Statement& s, bool withImages) {
    HistoryEntry e;
    e.id = s.ColInt(0);
    e.timeMs = s.ColInt(1);
    e.command = s.ColText(2);
    if (!s.ColNull(3))
        e.result = static_cast<int>(s.ColInt(3));
    e.message = s.ColText(4);
    e.machineType = s.ColText(5);
    e.serialNr = s.ColText(6);
    e.elAssembly = s.ColText(7);
    e.swVersion = s.ColText(8);
    if (!s.ColNull(9))
        e.fasteningCounter = static_cast<uint32_t>(s.ColInt(9));
    e.uuid = s.ColText(10);
    e.kind = s.ColText(11);
    e.technician = s.ColText(12);
    e.host = s.ColText(13);
    e.fromHere = s.ColInt(14) == 0;
    if (withImages) {
        e.before = s.ColImage(15);
        e.after = s.ColImage(16);
        e.extra = s.ColBytes(17);
        e.payload = s.ColBytes(18);
    }
    return e;
}

// "history.sqlite.damaged-20261210-134501", with "-2", "-3" ... when that name is taken.
fs::path AsideName(const fs::path& file) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    const std::string base = file.string() + ".damaged-" + stamp;
    std::error_code ec;
    fs::path candidate = base;
    for (int n = 2; fs::exists(candidate, ec) && n < 1000; ++n)
        candidate = base + "-" + std::to_string(n);
    return candidate;
}

} // namespace

void HistoryEntry::TakeIdentity(const ParameterBlock& b) {
    using P = ParameterBlock;
    machineType = Trimmed(b, P::kOffMachineType, P::kLenMachineType);
    serialNr = Trimmed(b, P::kOffSerialNr, P::kLenSerialNr);
    elAssembly = Trimmed(b, P::kOffElAssembly, P::kLenElAssembly);
    swVersion = Trimmed(b, P::kOffSwVersion, P::kLenSwVersion);
}

cHistoryStore::~cHistoryStore() {
    Close();
}

void cHistoryStore::Close() {
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
}

void cHistoryStore::SetBusyTimeout(int milliseconds) {
    busyMs_ = milliseconds;
    if (db_)
        sqlite3_busy_timeout(db_, busyMs_);
}

HistoryError cHistoryStore::ErrorOf(int code) const {
    HistoryError e;
    e.detail = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
    switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        e.kind = HistoryError::Locked;
        break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
        e.kind = HistoryError::ReadOnly;
        break;
    case SQLITE_FULL:
        e.kind = HistoryError::Full;
        break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        e.kind = HistoryError::Damaged;
        break;
    case SQLITE_CONSTRAINT: // the only unique key beside the row id is the UUID
        e.kind = HistoryError::Duplicate;
        break;
    default:
        e.kind = HistoryError::Other;
    }
    return e;
}

bool cHistoryStore::Exec(const char* sql, HistoryError& error) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (rc == SQLITE_OK)
        return true;
    error = ErrorOf(rc);
    if (message)
        error.detail = message;
    sqlite3_free(message);
    return false;
}

bool cHistoryStore::Open(const fs::path& file, HistoryNotice& notice, HistoryError& error) {
    Close();
    file_ = file;
    notice = {};
    error = {};
    HistoryNotice bad;
    Opened r = TryOpen(bad, error);
    if (r != Opened::Bad)
        return r == Opened::Ok;

    return MoveAsideAndOpen(bad, notice, error);
}

bool cHistoryStore::ReplaceDamaged(HistoryNotice& notice, HistoryError& error) {
    notice = {};
    error = {};
    return MoveAsideAndOpen({HistoryNotice::Damaged, {}, "damaged while in use"}, notice, error);
}

bool cHistoryStore::MoveAsideAndOpen(HistoryNotice bad, HistoryNotice& notice,
                                     HistoryError& error) {
    // Never emptied: the file and its journal go aside under one new name.
    Close();
    const fs::path aside = AsideName(file_);
    std::error_code ec;
    fs::rename(file_, aside, ec);
    if (ec) {
        error = {HistoryError::ReadOnly, file_.string() + ": " + ec.message()};
        return false;
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        const fs::path side = file_.string() + suffix;
        if (fs::exists(side, ec))
            fs::rename(side, aside.string() + suffix, ec);
    }
    bad.movedTo = aside;
    notice = bad;
    error = {};
    HistoryNotice again;
    const Opened r = TryOpen(again, error);
    if (r == Opened::Bad)
        error = {HistoryError::Other, again.detail};
    return r == Opened::Ok;
}

cHistoryStore::Opened cHistoryStore::TryOpen(HistoryNotice& bad, HistoryError& error) {
    std::error_code ec;
    fs::path folder = file_.parent_path();
    if (folder.empty())
        folder = ".";
    fs::create_directories(folder, ec);
    const bool exists = fs::exists(file_, ec);
    // SQLite would call a folder "cannot open" (read as read-only) and a FIFO an I/O error.
    if (exists && !fs::is_regular_file(file_, ec)) {
        error = {HistoryError::Other, file_.string() + ": not a regular file"};
        return Opened::Failed;
    }
    const bool folderWritable = ::access(folder.c_str(), W_OK) == 0;
    // The journal beside the file needs the folder too.
    readOnly_ = !folderWritable || (exists && ::access(file_.c_str(), W_OK) != 0);
    if (!exists && readOnly_) {
        error = {HistoryError::ReadOnly, folder.string() + ": " + std::strerror(EACCES)};
        return Opened::Failed;
    }

    const int flags = readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    int rc = sqlite3_open_v2(file_.c_str(), &db_, flags | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        error = ErrorOf(rc);
        Close();
        return Opened::Failed;
    }
    sqlite3_busy_timeout(db_, busyMs_);
    sqlite3_extended_result_codes(db_, 0);

    auto pragma = [&](const char* sql, int64_t& value) {
        Statement s(db_, sql);
        if (s.rc == SQLITE_OK && s.Step() == SQLITE_ROW)
            value = s.ColInt(0);
        return s.rc == SQLITE_ROW || s.rc == SQLITE_DONE ? SQLITE_OK : s.rc;
    };
    int64_t appId = 0, version = 0, tables = 0;
    rc = pragma("PRAGMA application_id", appId);
    if (rc == SQLITE_OK)
        rc = pragma("PRAGMA user_version", version);
    if (rc == SQLITE_OK)
        rc = pragma("SELECT count(*) FROM sqlite_master", tables);
    if (rc != SQLITE_OK) {
        error = ErrorOf(rc);
        if (error.kind == HistoryError::Damaged) {
            bad = {HistoryNotice::Damaged, {}, error.detail};
            return Opened::Bad;
        }
        Close();
        return Opened::Failed;
    }

    const bool fresh = appId == 0 && version == 0 && tables == 0;
    if (!fresh && appId != kApplicationId) {
        bad = {HistoryNotice::Foreign, {}, "application id " + std::to_string(appId)};
        return Opened::Bad;
    }
    if (version > kSchemaVersion) {
        bad = {HistoryNotice::Newer,
               {},
               "schema version " + std::to_string(version) + " (this program knows up to " +
                   std::to_string(kSchemaVersion) + ")"};
        return Opened::Bad;
    }
    {
        Statement check(db_, "PRAGMA quick_check(1)");
        const int step = check.rc == SQLITE_OK ? check.Step() : check.rc;
        const std::string result = step == SQLITE_ROW ? check.ColText(0) : "";
        if (step == SQLITE_BUSY || step == SQLITE_LOCKED) {
            error = ErrorOf(step);
            Close();
            return Opened::Failed;
        }
        if (result != "ok") {
            bad = {HistoryNotice::Damaged,
                   {},
                   result.empty() ? std::string(sqlite3_errmsg(db_)) : result};
            return Opened::Bad;
        }
    }

    if (readOnly_) {
        if (fresh || version < kSchemaVersion) {
            error = {HistoryError::ReadOnly, file_.string() + ": the schema cannot be brought up "
                                                              "to date in a read-only file"};
            Close();
            return Opened::Failed;
        }
        storeId_ = Meta("store_id");
        return Opened::Ok;
    }
    // A backup must survive a power loss during the write that follows it.
    if (!Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", error) || !Migrate(error)) {
        Close();
        return Opened::Failed;
    }
    storeId_ = Meta("store_id");
    return Opened::Ok;
}

// Entries of an older schema were all made on this computer, by its user as far as we know.
bool cHistoryStore::GiveUuids(HistoryError& error) {
    std::vector<int64_t> ids;
    {
        Statement s(db_, "SELECT id FROM entry WHERE uuid IS NULL");
        while (s.Step() == SQLITE_ROW)
            ids.push_back(s.ColInt(0));
        if (s.rc != SQLITE_DONE) {
            error = ErrorOf(s.rc);
            return false;
        }
    }
    Statement s(db_, "UPDATE entry SET uuid = ?, technician = ?, host = ? WHERE id = ?");
    for (int64_t id : ids) {
        sqlite3_reset(s.st);
        s.Text(1, NewUuid());
        s.Text(2, technician_);
        s.Text(3, host_);
        s.Int(4, id);
        if (s.Step() != SQLITE_DONE) {
            error = ErrorOf(s.rc);
            return false;
        }
    }
    return true;
}

bool cHistoryStore::Migrate(HistoryError& error) {
    if (!Exec("BEGIN IMMEDIATE", error))
        return false;
    int64_t version = 0;
    {
        Statement s(db_, "PRAGMA user_version");
        if (s.Step() == SQLITE_ROW)
            version = s.ColInt(0);
    }
    for (int64_t v = version; v < kSchemaVersion; ++v) {
        if (!Exec(kMigrations[v], error) || (v == 2 && !GiveUuids(error))) {
            HistoryError ignored;
            Exec("ROLLBACK", ignored);
            return false;
        }
    }
    const std::string stamp = "PRAGMA application_id=" + std::to_string(kApplicationId) +
                              "; PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
    if (version == kSchemaVersion) {
        Exec("ROLLBACK", error);
        return true;
    }
    {
        // The database's own identity, made once with the schema that needs it.
        Statement s(db_, "INSERT OR IGNORE INTO meta(key, value) VALUES('store_id', ?)");
        s.Text(1, NewUuid());
        if (s.Step() != SQLITE_DONE) {
            error = ErrorOf(s.rc);
            HistoryError ignored;
            Exec("ROLLBACK", ignored);
            return false;
        }
    }
    if (!Exec(stamp.c_str(), error) || !Exec("COMMIT", error)) {
        HistoryError ignored;
        Exec("ROLLBACK", ignored);
        return false;
    }
    return true;
}

int64_t cHistoryStore::Insert(const HistoryEntry& e, HistoryError& error, bool pulled) {
    Statement s(db_, pulled ? "INSERT OR IGNORE INTO entry(time_ms, command, result, message, "
                              "machine_type, serial_nr, el_assembly, sw_version, counter, "
                              "image_before, image_after, extra, uuid, kind, payload, technician, "
                              "host, pulled, pushed) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,1,1)"
                            : "INSERT INTO entry(time_ms, command, result, message, machine_type, "
                              "serial_nr, el_assembly, sw_version, counter, image_before, "
                              "image_after, extra, uuid, kind, payload, technician, host) "
                              "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    if (s.rc != SQLITE_OK) {
        error = ErrorOf(s.rc);
        return 0;
    }
    s.Int(1, e.timeMs ? e.timeMs : NowMs());
    s.Text(2, e.command);
    s.Optional(3, e.result);
    s.Text(4, e.message);
    s.Text(5, e.machineType);
    s.Text(6, e.serialNr);
    s.Text(7, e.elAssembly);
    s.Text(8, e.swVersion);
    s.Optional(9, e.fasteningCounter);
    s.Image(10, e.before);
    s.Image(11, e.after);
    s.Bytes(12, e.extra);
    s.Text(13, e.uuid.empty() ? NewUuid() : e.uuid);
    s.Text(14, e.kind);
    s.Bytes(15, e.payload);
    s.Text(16, e.technician.empty() ? technician_ : e.technician);
    s.Text(17, e.host.empty() ? host_ : e.host);
    if (s.Step() != SQLITE_DONE) {
        error = ErrorOf(s.rc);
        if (error.kind == HistoryError::Duplicate)
            error.detail = "UUID " + e.uuid;
        return 0;
    }
    // A pulled entry already here is no change.
    if (pulled && sqlite3_changes(db_) == 0)
        return -1;
    return sqlite3_last_insert_rowid(db_);
}

bool cHistoryStore::TouchMachine(const HistoryEntry& e, HistoryError& error) {
    if (!e.IsMachineCommand())
        return true;
    Statement s(db_,
                "INSERT INTO machine(serial_nr, machine_type, sw_version, last_seen_ms, counter, "
                "entries) VALUES(?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT(serial_nr) DO UPDATE SET "
                "machine_type = CASE WHEN ?2 <> '' THEN ?2 ELSE machine_type END, "
                "sw_version = CASE WHEN ?3 <> '' THEN ?3 ELSE sw_version END, "
                "last_seen_ms = max(last_seen_ms, ?4), counter = coalesce(?5, counter), "
                "entries = entries + ?6");
    if (s.rc != SQLITE_OK) {
        error = ErrorOf(s.rc);
        return false;
    }
    s.Text(1, e.serialNr);
    s.Text(2, e.machineType);
    s.Text(3, e.swVersion);
    s.Int(4, e.timeMs ? e.timeMs : NowMs());
    s.Optional(5, e.fasteningCounter);
    s.Int(6, e.id == 0 ? 1 : 0); // a completion adds no entry
    if (s.Step() != SQLITE_DONE) {
        error = ErrorOf(s.rc);
        return false;
    }
    return true;
}

bool cHistoryStore::Writable(HistoryError& error) {
    error = {};
    if (!db_) {
        error = {HistoryError::Other, "no history open"};
        return false;
    }
    if (readOnly_) {
        error = {HistoryError::ReadOnly, file_.string()};
        return false;
    }
    return true;
}

int64_t cHistoryStore::Add(const HistoryEntry& entry, HistoryError& error) {
    if (!Writable(error) || !Exec("BEGIN IMMEDIATE", error))
        return 0;
    HistoryEntry e = entry;
    e.id = 0;
    if (!e.timeMs)
        e.timeMs = NowMs();
    const int64_t id = Insert(e, error);
    if (id == 0 || !TouchMachine(e, error) || !Exec("COMMIT", error)) {
        HistoryError ignored;
        Exec("ROLLBACK", ignored);
        return 0;
    }
    return id;
}

bool cHistoryStore::AddAll(const std::vector<HistoryEntry>& entries, HistoryError& error) {
    if (!Writable(error) || !Exec("BEGIN IMMEDIATE", error))
        return false;
    for (HistoryEntry e : entries) {
        e.id = 0;
        if (!e.timeMs)
            e.timeMs = NowMs();
        if (Insert(e, error) == 0 || !TouchMachine(e, error)) {
            HistoryError ignored;
            Exec("ROLLBACK", ignored);
            return false;
        }
    }
    if (!Exec("COMMIT", error)) {
        HistoryError ignored;
        Exec("ROLLBACK", ignored);
        return false;
    }
    return true;
}

bool cHistoryStore::Complete(int64_t id, int result, const std::string& message,
                             const std::optional<ParameterBlock>& after,
                             std::optional<uint32_t> counter, HistoryError& error) {
    if (!Writable(error) || !Exec("BEGIN IMMEDIATE", error))
        return false;
    auto fail = [&] {
        HistoryError ignored;
        Exec("ROLLBACK", ignored);
        return false;
    };
    HistoryEntry e;
    {
        // Only an open entry made here: what the team shares is never changed.
        Statement s(db_, (std::string("SELECT ") + kEntryColumns +
                          " FROM entry WHERE id = ? AND pulled = 0 AND pushed = 0")
                             .c_str());
        s.Int(1, id);
        const int step = s.Step();
        if (step == SQLITE_DONE) {
            error = {HistoryError::NotFound, "entry " + std::to_string(id)};
            return fail();
        }
        if (step != SQLITE_ROW) {
            error = ErrorOf(step);
            return fail();
        }
        e = ReadEntry(s, false);
    }
    {
        Statement s(db_, "UPDATE entry SET result = ?, message = ?, "
                         "image_after = coalesce(?, image_after), counter = coalesce(?, counter), "
                         "sw_version = CASE WHEN ? <> '' THEN ? ELSE sw_version END WHERE id = ?");
        s.Int(1, result);
        s.Text(2, message);
        s.Image(3, after);
        s.Optional(4, counter);
        // A firmware update changes the version the machine reports afterwards.
        std::string version;
        if (after) {
            HistoryEntry a;
            a.TakeIdentity(*after);
            if (a.serialNr == e.serialNr)
                version = a.swVersion;
        }
        s.Text(5, version);
        s.Text(6, version);
        s.Int(7, id);
        if (s.Step() != SQLITE_DONE) {
            error = ErrorOf(s.rc);
            return fail();
        }
        e.swVersion = version;
    }
    e.machineType.clear();
    e.fasteningCounter = counter;
    e.timeMs = NowMs();
    if (!TouchMachine(e, error) || !Exec("COMMIT", error))
        return fail();
    return true;
}

std::vector<HistoryMachine> cHistoryStore::Machines(HistoryError& error) {
    error = {};
    std::vector<HistoryMachine> out;
    if (!db_) {
        error = {HistoryError::Other, "no history open"};
        return out;
    }
    Statement s(db_, "SELECT serial_nr, machine_type, sw_version, last_seen_ms, counter, entries "
                     "FROM machine ORDER BY last_seen_ms DESC, serial_nr");
    if (s.rc != SQLITE_OK) {
        error = ErrorOf(s.rc);
        return out;
    }
    while (s.Step() == SQLITE_ROW) {
        HistoryMachine m;
        m.serialNr = s.ColText(0);
        m.machineType = s.ColText(1);
        m.swVersion = s.ColText(2);
        m.lastSeenMs = s.ColInt(3);
        if (!s.ColNull(4))
            m.fasteningCounter = static_cast<uint32_t>(s.ColInt(4));
        m.entries = s.ColInt(5);
        out.push_back(std::move(m));
    }
    if (s.rc != SQLITE_DONE)
        error = ErrorOf(s.rc);
    return out;
}

std::vector<HistoryEntry> cHistoryStore::Select(const std::string& where,
                                                const std::vector<std::string>& texts,
                                                bool withImages, HistoryError& error) {
    error = {};
    std::vector<HistoryEntry> out;
    if (!db_) {
        error = {HistoryError::Other, "no history open"};
        return out;
    }
    const std::string sql = std::string("SELECT ") + kEntryColumns +
                            (withImages ? kImageColumns : "") + " FROM entry " + where;
    Statement s(db_, sql.c_str());
    if (s.rc != SQLITE_OK) {
        error = ErrorOf(s.rc);
        return out;
    }
    for (size_t i = 0; i < texts.size(); ++i)
        s.Text(static_cast<int>(i) + 1, texts[i]);
    while (s.Step() == SQLITE_ROW)
        out.push_back(ReadEntry(s, withImages));
    if (s.rc != SQLITE_DONE)
        error = ErrorOf(s.rc);
    return out;
}

std::vector<HistoryEntry> cHistoryStore::Entries(const std::string& serialNr, HistoryError& error,
                                                 bool withImages, int limit) {
    std::string where = "WHERE serial_nr = ?1 AND kind = 'machine' ORDER BY time_ms DESC, id DESC";
    if (limit > 0)
        where += " LIMIT " + std::to_string(limit);
    return Select(where, {serialNr}, withImages, error);
}

std::optional<HistoryEntry> cHistoryStore::Entry(int64_t id, HistoryError& error) {
    std::vector<HistoryEntry> found = Select("WHERE id = ?1", {std::to_string(id)}, true, error);
    if (!found.empty())
        return found[0];
    if (!error)
        error = {HistoryError::NotFound, "#" + std::to_string(id)};
    return std::nullopt;
}

std::optional<HistoryEntry> cHistoryStore::EntryByUuid(const std::string& uuid,
                                                       HistoryError& error) {
    std::vector<HistoryEntry> found = Select("WHERE uuid = ?1", {uuid}, true, error);
    if (!found.empty())
        return found[0];
    if (!error)
        error = {HistoryError::NotFound, uuid};
    return std::nullopt;
}

std::optional<HistoryEntry> cHistoryStore::LastBackup(const std::string& serialNr,
                                                      const std::string& command,
                                                      HistoryError& error) {
    std::vector<HistoryEntry> found =
        Select("WHERE serial_nr = ?1 AND command = ?2 AND kind = 'machine' AND image_before IS "
               "NOT NULL ORDER BY time_ms DESC, id DESC LIMIT 1",
               {serialNr, command}, true, error);
    if (found.empty())
        return std::nullopt;
    return found[0];
}

std::vector<HistoryEntry> cHistoryStore::Records(const std::string& kind, HistoryError& error) {
    return Select("WHERE kind = ?1 AND kind <> 'machine' ORDER BY time_ms, id", {kind}, true,
                  error);
}

std::vector<HistoryEntry> cHistoryStore::Unpushed(int limit, HistoryError& error) {
    return Select("WHERE pushed = 0 AND pulled = 0 AND (result IS NOT NULL OR kind <> 'machine') "
                  "ORDER BY id LIMIT " +
                      std::to_string(limit),
                  {}, true, error);
}

int64_t cHistoryStore::Waiting(HistoryError& error) {
    error = {};
    if (!db_) {
        error = {HistoryError::Other, "no history open"};
        return 0;
    }
    Statement s(db_, "SELECT count(*) FROM entry WHERE pushed = 0 AND pulled = 0 AND "
                     "(result IS NOT NULL OR kind <> 'machine')");
    if (s.Step() != SQLITE_ROW) {
        error = ErrorOf(s.rc);
        return 0;
    }
    return s.ColInt(0);
}

bool cHistoryStore::MarkPushed(const std::vector<int64_t>& ids, HistoryError& error) {
    if (!Writable(error) || !Exec("BEGIN IMMEDIATE", error))
        return false;
    Statement s(db_, "UPDATE entry SET pushed = 1 WHERE id = ?");
    for (int64_t id : ids) {
        sqlite3_reset(s.st);
        s.Int(1, id);
        if (s.Step() != SQLITE_DONE) {
            error = ErrorOf(s.rc);
            HistoryError ignored;
            Exec("ROLLBACK", ignored);
            return false;
        }
    }
    if (!Exec("COMMIT", error)) {
        HistoryError ignored;
        Exec("ROLLBACK", ignored);
        return false;
    }
    return true;
}

bool cHistoryStore::AddPulled(const std::vector<HistoryEntry>& entries, int64_t serverSeq,
                              HistoryError& error) {
    if (!Writable(error) || !Exec("BEGIN IMMEDIATE", error))
        return false;
    auto fail = [&] {
        HistoryError ignored;
        Exec("ROLLBACK", ignored);
        return false;
    };
    for (HistoryEntry e : entries) {
        e.id = 0;
        const int64_t id = Insert(e, error, true);
        if (id == 0)
            return fail();
        if (id > 0 && !TouchMachine(e, error))
            return fail();
    }
    {
        Statement s(db_, "INSERT INTO meta(key, value) VALUES('pull_seq', ?) "
                         "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
        s.Text(1, std::to_string(serverSeq));
        if (s.Step() != SQLITE_DONE) {
            error = ErrorOf(s.rc);
            return fail();
        }
    }
    if (!Exec("COMMIT", error))
        return fail();
    return true;
}

std::string cHistoryStore::Meta(const std::string& key) {
    if (!db_)
        return {};
    Statement s(db_, "SELECT value FROM meta WHERE key = ?");
    if (s.rc != SQLITE_OK)
        return {};
    s.Text(1, key);
    return s.Step() == SQLITE_ROW ? s.ColText(0) : std::string();
}

bool cHistoryStore::SetMeta(const std::string& key, const std::string& value, HistoryError& error) {
    if (!Writable(error))
        return false;
    Statement s(db_, "INSERT INTO meta(key, value) VALUES(?, ?) "
                     "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    s.Text(1, key);
    s.Text(2, value);
    if (s.Step() != SQLITE_DONE) {
        error = ErrorOf(s.rc);
        return false;
    }
    return true;
}

bool cHistoryStore::SetMetas(const std::vector<std::pair<std::string, std::string>>& values,
                             HistoryError& error) {
    if (!Writable(error) || !Exec("BEGIN IMMEDIATE", error))
        return false;
    for (const auto& [key, value] : values) {
        Statement s(db_, "INSERT INTO meta(key, value) VALUES(?, ?) "
                         "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
        s.Text(1, key);
        s.Text(2, value);
        if (s.Step() != SQLITE_DONE) {
            error = ErrorOf(s.rc);
            HistoryError ignored;
            Exec("ROLLBACK", ignored);
            return false;
        }
    }
    return Exec("COMMIT", error);
}

bool cHistoryStore::StartWithServer(const std::string& instance, HistoryError& error) {
    if (Meta("server_instance") == instance)
        return true;
    if (!Writable(error) || !Exec("BEGIN IMMEDIATE", error))
        return false;
    Statement s(db_, "INSERT INTO meta(key, value) VALUES('server_instance', ?) "
                     "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    s.Text(1, instance);
    if (s.Step() != SQLITE_DONE ||
        !Exec("UPDATE entry SET pushed = 0 WHERE pulled = 0; "
              "DELETE FROM meta WHERE key = 'pull_seq';",
              error) ||
        !Exec("COMMIT", error)) {
        if (!error)
            error = ErrorOf(s.rc);
        HistoryError ignored;
        Exec("ROLLBACK", ignored);
        return false;
    }
    return true;
}

std::vector<HistoryEntry> cHistoryStore::OpenEntries(const std::optional<std::string>& serialNr,
                                                     HistoryError& error) {
    error = {};
    std::vector<HistoryEntry> out;
    if (!db_) {
        error = {HistoryError::Other, "no history open"};
        return out;
    }
    const std::string sql = std::string("SELECT ") + kEntryColumns +
                            ", image_before, image_after, extra FROM entry WHERE result IS NULL" +
                            (serialNr ? " AND serial_nr = ?" : "") + " ORDER BY id";
    Statement s(db_, sql.c_str());
    if (s.rc != SQLITE_OK) {
        error = ErrorOf(s.rc);
        return out;
    }
    if (serialNr)
        s.Text(1, *serialNr);
    while (s.Step() == SQLITE_ROW)
        out.push_back(ReadEntry(s, true));
    if (s.rc != SQLITE_DONE)
        error = ErrorOf(s.rc);
    return out;
}

bool cHistoryStore::LimitPages(int pages) {
    if (!db_)
        return false;
    HistoryError error;
    const std::string sql = "PRAGMA max_page_count=" + std::to_string(pages > 0 ? pages : 1 << 30);
    return Exec(sql.c_str(), error);
}

std::string cHistoryStore::LocalTime(int64_t timeMs) {
    std::time_t t = static_cast<std::time_t>(timeMs / 1000);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

int64_t cHistoryStore::NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
