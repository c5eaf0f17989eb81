#include "fleet/FleetStore.h"

#include "crypto/SHA1.h"
#include "files/ConfigFile.h"
#include "history/HistoryStore.h"

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

#include <pwd.h>
#include <unistd.h>

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS fleet_record ("
    " id INTEGER PRIMARY KEY,"
    " time_ms INTEGER NOT NULL,"
    " kind TEXT NOT NULL," // 'library' (a version added) or 'assignment'
    " user TEXT NOT NULL DEFAULT '',"
    " name TEXT NOT NULL DEFAULT '',"
    " version INTEGER,"
    " serial_nr TEXT NOT NULL DEFAULT '',"
    " note TEXT NOT NULL DEFAULT '',"
    " digest TEXT NOT NULL DEFAULT '',"
    " image BLOB);"
    "CREATE UNIQUE INDEX IF NOT EXISTS fleet_library ON fleet_record(name, version)"
    " WHERE kind = 'library';"
    "CREATE INDEX IF NOT EXISTS fleet_assignment ON fleet_record(serial_nr, id)"
    " WHERE kind = 'assignment';";

class Statement {
public:
    Statement(sqlite3* db, const char* sql) { rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr); }
    ~Statement() { sqlite3_finalize(st); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void Text(int i, const std::string& s) {
        sqlite3_bind_text(st, i, s.data(), int(s.size()), SQLITE_TRANSIENT);
    }
    void Int(int i, int64_t v) { sqlite3_bind_int64(st, i, v); }
    void Null(int i) { sqlite3_bind_null(st, i); }
    void Blob(int i, const uint8_t* p, size_t n) {
        sqlite3_bind_blob(st, i, p, int(n), SQLITE_TRANSIENT);
    }
    int Step() { return rc = sqlite3_step(st); }
    std::string ColText(int i) {
        const unsigned char* p = sqlite3_column_text(st, i);
        return p ? reinterpret_cast<const char*>(p) : "";
    }
    int64_t ColInt(int i) { return sqlite3_column_int64(st, i); }
    bool ColNull(int i) { return sqlite3_column_type(st, i) == SQLITE_NULL; }
    bool ColImage(int i, ParameterBlock& out) {
        if (sqlite3_column_bytes(st, i) != int(ParameterBlock::kSize))
            return false;
        std::memcpy(out.bytes.data(), sqlite3_column_blob(st, i), ParameterBlock::kSize);
        return true;
    }

    sqlite3_stmt* st = nullptr;
    int rc = SQLITE_OK;
};

int64_t NowMs() {
    return cHistoryStore::NowMs();
}

LibraryVersion ReadVersion(Statement& s) {
    LibraryVersion v;
    v.name = s.ColText(0);
    v.version = int(s.ColInt(1));
    v.timeMs = s.ColInt(2);
    v.user = s.ColText(3);
    v.note = s.ColText(4);
    v.digest = s.ColText(5);
    s.ColImage(6, v.image);
    return v;
}

constexpr const char* kVersionColumns = "name, version, time_ms, user, note, digest, image";

std::string TrimmedText(const ParameterBlock& b, size_t offset, size_t width) {
    std::string s;
    for (size_t i = 0; i < width && b.bytes[offset + i]; ++i)
        s.push_back(char(b.bytes[offset + i]));
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

} // namespace

std::string LibraryRef::Text() const {
    return version ? name + "@" + std::to_string(*version) : name;
}

bool ValidLibraryName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name.front() == ' ' || name.back() == ' ')
        return false;
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return c == '@' || (unsigned char)c < 0x20 || c == 0x7F; });
}

bool ParseLibraryRef(const std::string& text, LibraryRef& out) {
    const size_t at = text.rfind('@');
    LibraryRef r;
    r.name = text.substr(0, at);
    if (at != std::string::npos) {
        const std::string v = text.substr(at + 1);
        if (v.empty() || v.size() > 9 || v[0] == '0' ||
            !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        r.version = std::stoi(v);
    }
    if (!ValidLibraryName(r.name))
        return false;
    out = r;
    return true;
}

const char* FleetComplianceName(FleetCompliance c) {
    switch (c) {
    case FleetCompliance::Yes:
        return "yes";
    case FleetCompliance::No:
        return "no";
    case FleetCompliance::NotChecked:
        return "not checked";
    default:
        return "none";
    }
}

std::string CurrentUser() {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name)
        return pw->pw_name;
    const char* u = std::getenv("USER");
    return u ? u : "";
}

std::string DigestText(const ParameterBlock& image) {
    return SHA1::HexDigest(image.bytes.data(), image.bytes.size());
}

std::vector<uint8_t> RolloutPayload(const std::string& rolloutId) {
    if (rolloutId.empty())
        return {};
    const std::string text = nlohmann::json{{"rollout", rolloutId}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::replace);
    return {text.begin(), text.end()};
}

std::string RolloutOf(const std::vector<uint8_t>& payload) {
    if (payload.empty() || payload.front() != '{')
        return "";
    const nlohmann::json j = nlohmann::json::parse(payload.begin(), payload.end(), nullptr, false);
    if (!j.is_object() || !j.contains("rollout") || !j["rollout"].is_string())
        return "";
    return j["rollout"].get<std::string>();
}

cFleetStore::~cFleetStore() {
    Close();
}

void cFleetStore::Close() {
    if (db_)
        sqlite3_close(db_);
    db_ = nullptr;
}

std::string cFleetStore::Error() const {
    return db_ ? sqlite3_errmsg(db_) : "no history open";
}

bool cFleetStore::Exec(const char* sql, std::string& error) {
    char* msg = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &msg) == SQLITE_OK)
        return true;
    error = msg ? msg : Error();
    sqlite3_free(msg);
    return false;
}

bool cFleetStore::Open(const cHistoryStore& history, std::string& error) {
    if (!history.IsOpen()) {
        error = "no history open";
        return false;
    }
    return Open(history.File(), history.IsReadOnly(), error);
}

bool cFleetStore::Open(const std::filesystem::path& file, bool readOnly, std::string& error) {
    Close();
    readOnly_ = readOnly;
    const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    if (sqlite3_open_v2(file.c_str(), &db_, flags | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        error = Error();
        Close();
        return false;
    }
    sqlite3_busy_timeout(db_, 3000);
    // The overview reads one entry a machine scattered over the file: mapped, not copied.
    Exec("PRAGMA mmap_size = 1073741824", error);
    error.clear();
    if (readOnly)
        return true; // a history that cannot be written shows no records it lacks
    if (!Exec(kSchema, error)) {
        Close();
        return false;
    }
    return true;
}

int cFleetStore::AddVersion(const std::string& name, const ParameterBlock& image,
                            const std::string& note, std::string& error, int64_t timeMs) {
    if (!ValidLibraryName(name)) {
        error = "\"" + name + "\" is no usable name (1 to 64 characters, no '@')";
        return 0;
    }
    if (!db_ || readOnly_) {
        error = db_ ? "the history cannot be written" : Error();
        return 0;
    }
    ParameterBlock stored;
    stored.bytes = ConfigurationCopy(image.bytes);
    if (!Exec("BEGIN IMMEDIATE", error))
        return 0;
    int version = 0;
    {
        Statement s(db_, "SELECT coalesce(max(version), 0) + 1 FROM fleet_record "
                         "WHERE kind = 'library' AND name = ?1");
        s.Text(1, name);
        if (s.Step() == SQLITE_ROW)
            version = int(s.ColInt(0));
    }
    Statement s(db_, "INSERT INTO fleet_record(time_ms, kind, user, name, version, note, digest, "
                     "image) VALUES(?1, 'library', ?2, ?3, ?4, ?5, ?6, ?7)");
    s.Int(1, timeMs ? timeMs : NowMs());
    s.Text(2, CurrentUser());
    s.Text(3, name);
    s.Int(4, version);
    s.Text(5, note);
    s.Text(6, DigestText(stored));
    s.Blob(7, stored.bytes.data(), stored.bytes.size());
    std::string ignored;
    if (!version || s.Step() != SQLITE_DONE) {
        error = Error();
        Exec("ROLLBACK", ignored);
        return 0;
    }
    if (!Exec("COMMIT", error)) {
        Exec("ROLLBACK", ignored);
        return 0;
    }
    return version;
}

std::vector<LibraryVersion> cFleetStore::Versions(const std::string& name, std::string& error) {
    std::vector<LibraryVersion> out;
    if (!db_) {
        error = Error();
        return out;
    }
    const std::string sql = std::string("SELECT ") + kVersionColumns +
                            " FROM fleet_record WHERE kind = 'library' AND (?1 = '' OR name = ?1)"
                            " ORDER BY name, version";
    Statement s(db_, sql.c_str());
    s.Text(1, name);
    while (s.Step() == SQLITE_ROW)
        out.push_back(ReadVersion(s));
    if (s.rc != SQLITE_DONE && !(readOnly_ && s.rc == SQLITE_ERROR))
        error = Error();
    return out;
}

std::optional<LibraryVersion> cFleetStore::Find(const LibraryRef& ref, std::string& error) {
    std::vector<LibraryVersion> all = Versions(ref.name, error);
    if (!error.empty())
        return std::nullopt;
    if (all.empty()) {
        error = "no approved configuration \"" + ref.name + "\"";
        return std::nullopt;
    }
    if (!ref.version)
        return all.back();
    for (auto& v : all)
        if (v.version == *ref.version)
            return v;
    error = "\"" + ref.name + "\" has no version " + std::to_string(*ref.version) +
            " (versions 1 to " + std::to_string(all.back().version) + ")";
    return std::nullopt;
}

bool cFleetStore::Assign(const std::string& serialNr, const LibraryRef& ref, bool& knownSerial,
                         std::string& error, int64_t timeMs) {
    knownSerial = false;
    if (serialNr.empty() || serialNr.size() > ParameterBlock::kLenSerialNr) {
        error = "\"" + serialNr + "\" is no serial number (1 to 15 characters)";
        return false;
    }
    if (!db_ || readOnly_) {
        error = db_ ? "the history cannot be written" : Error();
        return false;
    }
    if (!ref.name.empty() && !Find(ref, error))
        return false;
    {
        Statement s(db_, "SELECT 1 FROM machine WHERE serial_nr = ?1");
        s.Text(1, serialNr);
        knownSerial = s.Step() == SQLITE_ROW;
    }
    Statement s(db_, "INSERT INTO fleet_record(time_ms, kind, user, name, version, serial_nr) "
                     "VALUES(?1, 'assignment', ?2, ?3, ?4, ?5)");
    s.Int(1, timeMs ? timeMs : NowMs());
    s.Text(2, CurrentUser());
    s.Text(3, ref.name);
    ref.version ? s.Int(4, *ref.version) : s.Null(4);
    s.Text(5, serialNr);
    if (s.Step() != SQLITE_DONE) {
        error = Error();
        return false;
    }
    return true;
}

bool cFleetStore::RecordRollout(const RolloutStep& step, std::string& error) {
    if (!db_ || readOnly_) {
        error = db_ ? "the history cannot be written" : Error();
        return false;
    }
    // The outcome as a small JSON object in the record's note.
    const nlohmann::json note = {{"rollout", step.rolloutId}, {"result", step.result},
                                 {"reason", step.reason},     {"before", step.before},
                                 {"after", step.after},       {"entry", step.entryId}};
    Statement s(db_, "INSERT INTO fleet_record(time_ms, kind, user, name, version, serial_nr, "
                     "note, digest) VALUES(?1, 'rollout', ?2, ?3, ?4, ?5, ?6, ?7)");
    s.Int(1, NowMs());
    s.Text(2, CurrentUser());
    s.Text(3, step.approval.name);
    step.approval.version ? s.Int(4, *step.approval.version) : s.Null(4);
    s.Text(5, step.serialNr);
    s.Text(6, note.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    s.Text(7, step.rolloutId);
    if (s.Step() != SQLITE_DONE) {
        error = Error();
        return false;
    }
    return true;
}

std::vector<cFleetStore::RolloutStep> cFleetStore::Rollout(const std::string& rolloutId,
                                                           std::string& error) {
    std::vector<RolloutStep> out;
    if (!db_) {
        error = Error();
        return out;
    }
    Statement s(db_, "SELECT name, version, serial_nr, note FROM fleet_record "
                     "WHERE kind = 'rollout' AND digest = ?1 ORDER BY id");
    s.Text(1, rolloutId);
    while (s.Step() == SQLITE_ROW) {
        RolloutStep r;
        r.rolloutId = rolloutId;
        r.approval.name = s.ColText(0);
        if (!s.ColNull(1))
            r.approval.version = int(s.ColInt(1));
        r.serialNr = s.ColText(2);
        const nlohmann::json note = nlohmann::json::parse(s.ColText(3), nullptr, false);
        if (note.is_object()) {
            r.result = note.value("result", "");
            r.reason = note.value("reason", "");
            r.before = note.value("before", "");
            r.after = note.value("after", "");
            r.entryId = note.value("entry", int64_t(0));
        }
        out.push_back(std::move(r));
    }
    return out;
}

std::optional<Assignment> cFleetStore::AssignmentOf(const std::string& serialNr,
                                                    std::string& error) {
    if (!db_) {
        error = Error();
        return std::nullopt;
    }
    Statement s(db_, "SELECT name, version, time_ms, user FROM fleet_record "
                     "WHERE kind = 'assignment' AND serial_nr = ?1 ORDER BY id DESC LIMIT 1");
    s.Text(1, serialNr);
    if (s.Step() != SQLITE_ROW) {
        if (s.rc != SQLITE_DONE && !readOnly_)
            error = Error();
        return std::nullopt;
    }
    Assignment a;
    a.serialNr = serialNr;
    a.ref.name = s.ColText(0);
    if (!s.ColNull(1))
        a.ref.version = int(s.ColInt(1));
    a.timeMs = s.ColInt(2);
    a.user = s.ColText(3);
    return a;
}

cFleetStore::Check cFleetStore::CheckMachine(const ParameterBlock& image, std::string& error,
                                             const ConversionContext* ctx) {
    Check c;
    auto a = AssignmentOf(SerialOf(image), error);
    if (!a || a->ref.name.empty())
        return c;
    c.approved = Find(a->ref, error);
    if (!c.approved)
        return c;
    c.compliance = CheckCompliance(image, c.approved->image, ctx);
    c.state =
        c.compliance.state == Compliance::Compliant ? FleetCompliance::Yes : FleetCompliance::No;
    return c;
}

std::vector<FleetMachine> cFleetStore::Overview(const FleetOptions& options, std::string& error) {
    std::vector<FleetMachine> out;
    if (!db_) {
        error = Error();
        return out;
    }
    // The library (small) and the current assignment of every serial.
    std::map<std::string, std::vector<LibraryVersion>> library;
    for (auto& v : Versions("", error))
        library[v.name].push_back(std::move(v));
    if (!error.empty())
        return out;
    std::map<std::string, Assignment> assigned;
    {
        Statement s(db_, "SELECT serial_nr, name, version, max(id), time_ms FROM fleet_record "
                         "WHERE kind = 'assignment' GROUP BY serial_nr");
        while (s.Step() == SQLITE_ROW) {
            Assignment a;
            a.serialNr = s.ColText(0);
            a.ref.name = s.ColText(1);
            if (!s.ColNull(2))
                a.ref.version = int(s.ColInt(2));
            a.timeMs = s.ColInt(4);
            assigned[a.serialNr] = a;
        }
    }

    // One row a machine with the newest entry that holds an image, found through the
    // entries' index by machine and id.
    Statement s(db_, "SELECT m.serial_nr, m.machine_type, m.sw_version, m.last_seen_ms, m.counter, "
                     "e.id, e.time_ms, e.result, e.image_before, e.image_after "
                     "FROM machine m LEFT JOIN entry e ON e.id = ("
                     " SELECT x.id FROM entry x WHERE x.serial_nr = m.serial_nr"
                     " AND (x.image_after IS NOT NULL OR x.image_before IS NOT NULL)"
                     " ORDER BY x.id DESC LIMIT 1) "
                     "WHERE m.serial_nr <> '' ORDER BY m.serial_nr");
    if (s.rc != SQLITE_OK) {
        error = Error();
        return out;
    }
    const std::time_t now = options.now ? options.now : std::time(nullptr);
    const uint32_t calLimit = CalibrationDueLimit(now, options.due);
    std::map<std::string, std::string> newestFirmware;
    auto finish = [&](FleetMachine& m, const ParameterBlock* image, int64_t imageTime) {
        if (image) {
            m.place = TrimmedText(*image, ParameterBlock::kOffPlace, ParameterBlock::kLenPlace);
            m.calDate = image->CalDate();
            m.calibrationDue = CalibrationDue(m.calDate, calLimit) == CalibrationState::Due;
            m.service = ServiceDue(m.counter, image->ServiceDueCounter(),
                                   image->ServiceResetCounter(), options.due);
        }
        if (!options.firmwareFolder.empty() && !m.machineType.empty()) {
            auto it = newestFirmware.find(m.machineType);
            if (it == newestFirmware.end())
                it = newestFirmware
                         .emplace(m.machineType,
                                  NewestShippedFirmware(options.firmwareFolder, m.machineType))
                         .first;
            m.newestFirmware = it->second;
            m.firmwareOld = FirmwareOlder(m.swVersion, m.newestFirmware);
        }
        auto a = assigned.find(m.serialNr);
        if (a == assigned.end() || a->second.ref.name.empty())
            return;
        const Assignment& as = a->second;
        auto lib = library.find(as.ref.name);
        const LibraryVersion* v = nullptr;
        if (lib != library.end())
            for (const auto& x : lib->second)
                if (as.ref.version ? x.version == *as.ref.version : true)
                    v = &x; // the last is the newest
        m.assigned = as.ref.name + (v ? " v" + std::to_string(v->version) : "");
        m.compliance = FleetCompliance::NotChecked;
        if (!v || !image)
            return;
        m.assignedVersion = v->version;
        // A change of the assignment, or a newer version it follows, after the last image.
        if (std::max(as.timeMs, as.ref.version ? int64_t(0) : v->timeMs) > imageTime)
            return;
        // Yes or no only: the differing fields are named when one machine is looked at.
        const Compliance::State c = ComplianceState(*image, v->image);
        m.compliance = c == Compliance::Compliant ? FleetCompliance::Yes : FleetCompliance::No;
        m.otherType = c == Compliance::OtherType;
    };
    ParameterBlock before, after;
    while (s.Step() == SQLITE_ROW) {
        FleetMachine m;
        m.serialNr = s.ColText(0);
        m.machineType = s.ColText(1);
        m.swVersion = s.ColText(2);
        m.lastSeenMs = s.ColInt(3);
        if (!s.ColNull(4))
            m.counter = uint32_t(s.ColInt(4));
        const ParameterBlock* image = nullptr;
        int64_t imageTime = 0;
        if (!s.ColNull(5)) {
            m.imageEntryId = s.ColInt(5);
            imageTime = s.ColInt(6);
            const bool ok = !s.ColNull(7) && s.ColInt(7) == 0;
            const bool haveBefore = s.ColImage(8, before);
            const bool haveAfter = s.ColImage(9, after);
            // What the machine holds: the image after a command that succeeded, the one
            // before a write that did not.
            image = haveAfter && (ok || !haveBefore) ? &after : haveBefore ? &before : nullptr;
        }
        finish(m, image, imageTime);
        assigned.erase(m.serialNr);
        out.push_back(std::move(m));
    }
    if (s.rc != SQLITE_DONE) {
        error = Error();
        return out;
    }
    // Assigned, never seen.
    for (auto& [serial, a] : assigned) {
        if (a.ref.name.empty())
            continue;
        FleetMachine m;
        m.serialNr = serial;
        finish(m, nullptr, 0);
        out.push_back(std::move(m));
    }
    std::sort(out.begin(), out.end(),
              [](const FleetMachine& a, const FleetMachine& b) { return a.serialNr < b.serialNr; });
    return out;
}
