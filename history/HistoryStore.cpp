#include "history/HistoryStore.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
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
    // 3 -> 4: a digest of every stored image, checked on every use; GiveDigests fills them for
    // the entries already there.
    "ALTER TABLE entry ADD COLUMN before_digest TEXT;"
    "ALTER TABLE entry ADD COLUMN after_digest TEXT;"
    "ALTER TABLE entry ADD COLUMN extra_digest TEXT;",
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
    // The digest of a stored blob, "" for none.
    std::string ColDigest(int i) {
        if (ColNull(i))
            return {};
        const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st, i));
        return ImageDigest(p, static_cast<size_t>(sqlite3_column_bytes(st, i)));
    }

    sqlite3_stmt* st = nullptr;
    int rc = SQLITE_OK;
};

constexpr const char* kEntryColumns =
    "id, time_ms, command, result, message, machine_type, serial_nr, el_assembly, sw_version, "
    "counter, uuid, kind, technician, host, pulled";
constexpr const char* kImageColumns =
    ", image_before, image_after, extra, payload, before_digest, after_digest, extra_digest";
// A file of the third schema read without migrating it: its images carry no digests yet.
constexpr const char* kImageColumnsV3 =
    ", image_before, image_after, extra, payload, NULL, NULL, NULL";

// An image as stored, given out only when it matches its digest; damaged ones stay in the
// store and their digest tells the caller one was there ("-" when even that was missing).
// digestsStored false: a file of the third schema read as it is, whose images are taken as
// its migration would take them.
void ReadImage(Statement& s, int column, int digestColumn, bool digestsStored, std::string& digest,
               std::vector<uint8_t>& bytes) {
    bytes = s.ColBytes(column);
    digest = s.ColText(digestColumn);
    if (!digestsStored && !s.ColNull(column))
        digest = s.ColDigest(column);
    if (s.ColNull(column))
        return;
    if (digest.empty())
        digest = "-";
    if (ImageDigest(bytes.data(), bytes.size()) != digest)
        bytes.clear();
}

HistoryEntry ReadEntry(Statement& s, bool withImages, bool digestsStored = true) {
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
        std::vector<uint8_t> bytes;
        auto image = [&](int column, int digestColumn, std::string& digest) {
            ReadImage(s, column, digestColumn, digestsStored, digest, bytes);
            std::optional<ParameterBlock> b;
            if (bytes.size() == ParameterBlock::kSize) {
                b.emplace();
                std::copy(bytes.begin(), bytes.end(), b->bytes.begin());
            } else if (!bytes.empty() || !digest.empty()) {
                // Stored with another size (cut short): no image, and its digest says so.
                if (digest.empty())
                    digest = "-";
            }
            return b;
        };
        e.before = image(15, 19, e.beforeDigest);
        e.after = image(16, 20, e.afterDigest);
        ReadImage(s, 17, 21, digestsStored, e.extraDigest, e.extra);
        e.payload = s.ColBytes(18);
    }
    return e;
}

// "history.sqlite.damaged-20261210-134501", with "-2", "-3" ... when that name is taken.
// A path as a URI's path: what a URI reserves percent-encoded.
std::string UriPath(const std::string& path) {
    std::string out;
    for (const char c : path) {
        if (c == '%' || c == '?' || c == '#' || static_cast<unsigned char>(c) < 0x20) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            out += hex;
        } else
            out += c;
    }
    return out;
}

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
    // The database first: a mark gone before the file is closed would hide a crash between.
    const bool wasOpen = db_ != nullptr;
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
    if (wasOpen || markFd_ >= 0)
        ReleaseOpenMark();
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
    case SQLITE_IOERR:
        // A write the disk had no room for reaches SQLite as an I/O error.
        e.kind =
            db_ && sqlite3_system_errno(db_) == ENOSPC ? HistoryError::Full : HistoryError::Other;
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
    if (e.kind == HistoryError::Full) {
        fs::path folder = file_.parent_path();
        if (folder.empty())
            folder = ".";
        struct statvfs fsInfo {};
        room_.folder = folder;
        room_.available = ::statvfs(folder.c_str(), &fsInfo) == 0
                              ? uint64_t(fsInfo.f_bavail) * uint64_t(fsInfo.f_frsize)
                              : 0;
        room_.needed = need_;
        e.detail = folder.string() + ": " + e.detail;
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

bool cHistoryStore::OpenForReading(const fs::path& file, HistoryError& error) {
    Close();
    file_ = file;
    forReading_ = true;
    error = {};
    HistoryNotice bad;
    return TryOpen(bad, error) == Opened::Ok;
}

bool cHistoryStore::Open(const fs::path& file, HistoryNotice& notice, HistoryError& error) {
    Close();
    file_ = file;
    forReading_ = false;
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
    newerVersion_.clear();
    digestsStored_ = true;
    // Opening for writing makes the shared-memory index (32 KB) and the log's first frames.
    need_ = 64 * 1024;
    if (!forReading_)
        fs::create_directories(folder, ec);
    const bool exists = fs::exists(file_, ec);
    // SQLite would call a folder "cannot open" (read as read-only) and a FIFO an I/O error.
    if (exists && !fs::is_regular_file(file_, ec)) {
        error = {HistoryError::Other, file_.string() + ": not a regular file"};
        return Opened::Failed;
    }
    const bool folderWritable = ::access(folder.c_str(), W_OK) == 0;
    // The journal beside the file needs the folder too.
    readOnly_ = forReading_ || !folderWritable || (exists && ::access(file_.c_str(), W_OK) != 0);
    if (!exists && forReading_) {
        // Nothing to list yet, and listing makes no file: an empty history in memory.
        if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                            nullptr) != SQLITE_OK ||
            !Migrate(error)) {
            Close();
            return Opened::Failed;
        }
        return Opened::Ok;
    }
    if (!exists && readOnly_) {
        error = {HistoryError::ReadOnly, folder.string() + ": " + std::strerror(EACCES)};
        return Opened::Failed;
    }

    auto pragma = [&](const char* sql, int64_t& value) {
        Statement s(db_, sql);
        if (s.rc == SQLITE_OK && s.Step() == SQLITE_ROW)
            value = s.ColInt(0);
        return s.rc == SQLITE_ROW || s.rc == SQLITE_DONE ? SQLITE_OK : s.rc;
    };
    int64_t appId = 0, version = 0, tables = 0;
    auto open = [&](bool immutable) {
        int flags = readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        std::string name = file_.string();
        if (immutable) {
            flags |= SQLITE_OPEN_URI;
            name = "file:" + UriPath(name) + "?immutable=1";
        }
        int rc = sqlite3_open_v2(name.c_str(), &db_, flags | SQLITE_OPEN_FULLMUTEX, nullptr);
        if (rc != SQLITE_OK)
            return rc;
        sqlite3_busy_timeout(db_, busyMs_);
        sqlite3_extended_result_codes(db_, 0);
        rc = pragma("PRAGMA application_id", appId);
        if (rc == SQLITE_OK)
            rc = pragma("PRAGMA user_version", version);
        if (rc == SQLITE_OK)
            rc = pragma("SELECT count(*) FROM sqlite_master", tables);
        return rc;
    };
    int rc = open(false);
    // Reading a WAL file needs its shared-memory file beside it, which a read-only folder or a
    // full disk cannot give. Without a WAL file nothing is waiting to be checkpointed, so the
    // file alone is the whole history.
    const fs::path wal = file_.string() + "-wal";
    if (rc != SQLITE_OK && readOnly_ && rc != SQLITE_CORRUPT && rc != SQLITE_NOTADB &&
        (!fs::exists(wal, ec) || fs::file_size(wal, ec) == 0)) {
        Close();
        rc = open(true);
    }
    if (rc != SQLITE_OK) {
        error = ErrorOf(rc);
        if (error.kind == HistoryError::Damaged && !forReading_) {
            bad = {HistoryNotice::Damaged, {}, error.detail};
            return Opened::Bad;
        }
        Close();
        return Opened::Failed;
    }

    const bool fresh = appId == 0 && version == 0 && tables == 0;
    if (!fresh && appId != kApplicationId) {
        if (forReading_) {
            error = {HistoryError::Other, file_.string() + ": not a history (application id " +
                                              std::to_string(appId) + ")"};
            Close();
            return Opened::Failed;
        }
        bad = {HistoryNotice::Foreign, {}, "application id " + std::to_string(appId)};
        return Opened::Bad;
    }
    if (version > kSchemaVersion) {
        // A newer program's history is never moved aside or changed: this one only reads it.
        newerVersion_ = Meta("program_version");
        if (newerVersion_.empty())
            newerVersion_ = "?";
        if (forReading_)
            return Opened::Ok;
        error = {HistoryError::ReadOnly, file_.string() + ": written by Kelvane " + newerVersion_ +
                                             " (schema " + std::to_string(version) +
                                             "; this program knows up to " +
                                             std::to_string(kSchemaVersion) + ")"};
        Close();
        return Opened::Failed;
    }
    // Opening checks only what every command reads first (header, schema, the tables' first
    // and last pages); the whole file is checked after a writer did not close it and on request.
    const bool unclean = !readOnly_ && TakeOpenMark();
    const std::string problem = unclean ? IntegrityProblem(false) : QuickProblem();
    if (problem == "busy") {
        error = {HistoryError::Locked, file_.string()};
        Close();
        return Opened::Failed;
    }
    if (!problem.empty()) {
        if (forReading_) {
            error = {HistoryError::Damaged, problem};
            Close();
            return Opened::Failed;
        }
        bad = {HistoryNotice::Damaged, {}, problem};
        return Opened::Bad;
    }

    if (readOnly_) {
        if (!fresh && version == 3)
            digestsStored_ = false;
        else if (fresh || version < kSchemaVersion) {
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
    // Which program wrote the file last: a newer schema names it to an older program.
    if (Meta("program_version") != KELVANE_VERSION) {
        HistoryError ignored;
        SetMeta("program_version", KELVANE_VERSION, ignored);
    }
    return Opened::Ok;
}

std::string cHistoryStore::QuickProblem() {
    // The first and the last row of each table read their root, first and last pages.
    for (const char* sql :
         {"SELECT id FROM entry ORDER BY id LIMIT 1",
          "SELECT id FROM entry ORDER BY id DESC LIMIT 1", "SELECT serial_nr FROM machine LIMIT 1",
          "SELECT key FROM meta LIMIT 1"}) {
        Statement s(db_, sql);
        if (s.rc == SQLITE_ERROR)
            continue; // an older schema without that table
        const int step = s.rc == SQLITE_OK ? s.Step() : s.rc;
        if (step == SQLITE_BUSY || step == SQLITE_LOCKED)
            return "busy";
        if (step != SQLITE_ROW && step != SQLITE_DONE)
            return sqlite3_errmsg(db_);
    }
    return {};
}

std::string cHistoryStore::IntegrityProblem(bool all) {
    Statement check(db_, all ? "PRAGMA integrity_check(20)" : "PRAGMA integrity_check(1)");
    std::string result;
    int step = check.rc;
    while (check.rc == SQLITE_OK || check.rc == SQLITE_ROW) {
        step = check.Step();
        if (step != SQLITE_ROW)
            break;
        const std::string line = check.ColText(0);
        if (line != "ok")
            result += (result.empty() ? "" : "\n") + line;
    }
    if (step == SQLITE_BUSY || step == SQLITE_LOCKED)
        return "busy";
    if (step != SQLITE_DONE && result.empty())
        result = sqlite3_errmsg(db_);
    return result;
}

bool cHistoryStore::TakeOpenMark() {
    const std::string mark = file_.string() + ".open";
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool existed = false;
        int fd = ::open(mark.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) {
            existed = true;
            fd = ::open(mark.c_str(), O_RDWR | O_CLOEXEC);
        }
        if (fd < 0)
            return false; // cannot tell: the quick check then
        struct flock l {};
        l.l_type = F_WRLCK;
        l.l_whence = SEEK_SET;
        l.l_len = 1;
        // Left behind by a writer that holds no lock any more: it ended without closing.
        const bool unclean = existed && ::fcntl(fd, F_OFD_GETLK, &l) == 0 && l.l_type == F_UNLCK;
        l = {};
        l.l_type = F_RDLCK;
        l.l_whence = SEEK_SET;
        l.l_len = 1;
        struct stat held {
        }, named{};
        // Taken, and still the file of that name (not one a closing writer just removed).
        if (::fcntl(fd, F_OFD_SETLK, &l) == 0 && ::fstat(fd, &held) == 0 &&
            ::stat(mark.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            markFd_ = fd;
            return unclean;
        }
        ::close(fd);
    }
    return false;
}

void cHistoryStore::ReleaseOpenMark() {
    if (markFd_ < 0)
        return;
    // The last writer to close removes the mark; the others leave it to the last.
    struct flock l {};
    l.l_type = F_WRLCK;
    l.l_whence = SEEK_SET;
    l.l_len = 1;
    if (::fcntl(markFd_, F_OFD_SETLK, &l) == 0)
        ::unlink((file_.string() + ".open").c_str());
    ::close(markFd_);
    markFd_ = -1;
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

// Images stored before digests existed are taken as they are now.
bool cHistoryStore::GiveDigests(HistoryError& error) {
    struct Row {
        int64_t id;
        std::string before, after, extra;
    };
    std::vector<Row> rows;
    {
        Statement s(db_,
                    "SELECT id, image_before, image_after, extra FROM entry WHERE "
                    "image_before IS NOT NULL OR image_after IS NOT NULL OR extra IS NOT NULL");
        while (s.Step() == SQLITE_ROW)
            rows.push_back({s.ColInt(0), s.ColDigest(1), s.ColDigest(2), s.ColDigest(3)});
        if (s.rc != SQLITE_DONE) {
            error = ErrorOf(s.rc);
            return false;
        }
    }
    Statement s(db_, "UPDATE entry SET before_digest = ?, after_digest = ?, extra_digest = ? "
                     "WHERE id = ?");
    for (const Row& r : rows) {
        sqlite3_reset(s.st);
        int i = 1;
        for (const std::string* d : {&r.before, &r.after, &r.extra})
            d->empty() ? s.Null(i++) : s.Text(i++, *d);
        s.Int(4, r.id);
        if (s.Step() != SQLITE_DONE) {
            error = ErrorOf(s.rc);
            return false;
        }
    }
    return true;
}

bool cHistoryStore::Migrate(HistoryError& error) {
    {
        // Up to date: no write lock to wait for.
        Statement s(db_, "PRAGMA user_version");
        if (s.Step() == SQLITE_ROW && s.ColInt(0) == kSchemaVersion)
            return true;
    }
    if (!Exec("BEGIN IMMEDIATE", error))
        return false;
    int64_t version = 0;
    {
        Statement s(db_, "PRAGMA user_version");
        if (s.Step() == SQLITE_ROW)
            version = s.ColInt(0);
    }
    for (int64_t v = version; v < kSchemaVersion; ++v) {
        if (!Exec(kMigrations[v], error) || (v == 2 && !GiveUuids(error)) ||
            (v == 3 && !GiveDigests(error))) {
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
                              "host, before_digest, after_digest, extra_digest, pulled, pushed) "
                              "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,1,1)"
                            : "INSERT INTO entry(time_ms, command, result, message, machine_type, "
                              "serial_nr, el_assembly, sw_version, counter, image_before, "
                              "image_after, extra, uuid, kind, payload, technician, host, "
                              "before_digest, after_digest, extra_digest) "
                              "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
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
    // The digest an entry carries (pulled from the team) is kept as it came, so damage on the
    // way shows; one made here is taken from the bytes. No image is stored without one.
    auto digest = [&](int i, const std::string& carried, const uint8_t* p, size_t n) {
        if (!carried.empty())
            s.Text(i, carried);
        else if (n > 0)
            s.Text(i, ImageDigest(p, n));
        else
            s.Null(i);
    };
    digest(18, e.beforeDigest, e.before ? e.before->bytes.data() : nullptr,
           e.before ? e.before->bytes.size() : 0);
    digest(19, e.afterDigest, e.after ? e.after->bytes.data() : nullptr,
           e.after ? e.after->bytes.size() : 0);
    digest(20, e.extraDigest, e.extra.data(), e.extra.size());
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

uint64_t cHistoryStore::NeedOf(const HistoryEntry& e) const {
    size_t bytes = e.payload.size() + e.extra.size() + e.message.size() + 512;
    for (const auto* image : {&e.before, &e.after})
        if (*image)
            bytes += ParameterBlock::kSize;
    // Each changed page goes whole into the write-ahead log (with a frame header): the entry's
    // own pages, those of its indexes and of the machine's row.
    constexpr uint64_t kPage = 4096, kFrame = kPage + 24, kTouched = 8;
    return ((bytes + kPage - 1) / kPage + kTouched) * kFrame;
}

int64_t cHistoryStore::Add(const HistoryEntry& entry, HistoryError& error) {
    need_ = NeedOf(entry);
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
    need_ = 0;
    for (const HistoryEntry& e : entries)
        need_ += NeedOf(e);
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
    HistoryEntry sized;
    sized.after = after;
    need_ = NeedOf(sized);
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
                         "sw_version = CASE WHEN ? <> '' THEN ? ELSE sw_version END, "
                         "after_digest = coalesce(?, after_digest) WHERE id = ?");
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
        if (after)
            s.Text(7, ImageDigest(*after));
        else
            s.Null(7);
        s.Int(8, id);
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
                            (withImages ? (digestsStored_ ? kImageColumns : kImageColumnsV3) : "") +
                            " FROM entry " + where;
    Statement s(db_, sql.c_str());
    if (s.rc != SQLITE_OK) {
        error = ErrorOf(s.rc);
        return out;
    }
    for (size_t i = 0; i < texts.size(); ++i)
        s.Text(static_cast<int>(i) + 1, texts[i]);
    while (s.Step() == SQLITE_ROW)
        out.push_back(ReadEntry(s, withImages, digestsStored_));
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
                            (digestsStored_ ? kImageColumns : kImageColumnsV3) +
                            " FROM entry WHERE result IS NULL" +
                            (serialNr ? " AND serial_nr = ?" : "") + " ORDER BY id";
    Statement s(db_, sql.c_str());
    if (s.rc != SQLITE_OK) {
        error = ErrorOf(s.rc);
        return out;
    }
    if (serialNr)
        s.Text(1, *serialNr);
    while (s.Step() == SQLITE_ROW)
        out.push_back(ReadEntry(s, true, digestsStored_));
    if (s.rc != SQLITE_DONE)
        error = ErrorOf(s.rc);
    return out;
}

bool cHistoryStore::Check(std::string& problems, std::vector<Damage>& damaged,
                          HistoryError& error) {
    error = {};
    problems.clear();
    damaged.clear();
    if (!db_) {
        error = {HistoryError::Other, "no history open"};
        return false;
    }
    problems = IntegrityProblem(true);
    if (problems == "busy") {
        error = {HistoryError::Locked, file_.string()};
        return false;
    }
    // Row by row through the same reading every use goes through.
    const std::string sql = std::string("SELECT ") + kEntryColumns +
                            (digestsStored_ ? kImageColumns : kImageColumnsV3) +
                            " FROM entry ORDER BY id";
    Statement s(db_, sql.c_str());
    if (s.rc != SQLITE_OK) {
        error = ErrorOf(s.rc);
        return false;
    }
    while (s.Step() == SQLITE_ROW) {
        const HistoryEntry e = ReadEntry(s, true, digestsStored_);
        std::string which;
        if (!ImagesIntact(e, which))
            damaged.push_back({e.id, e.serialNr, e.command, e.timeMs, which});
    }
    if (s.rc != SQLITE_DONE) {
        error = ErrorOf(s.rc);
        // What SQLite cannot read is damage too, not a failed check.
        if (error.kind == HistoryError::Damaged) {
            problems += (problems.empty() ? "" : "\n") + error.detail;
            error = {};
            return true;
        }
        return false;
    }
    return true;
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
