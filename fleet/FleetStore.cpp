#include "fleet/FleetStore.h"

#include "base/Hex.h"
#include "crypto/SHA1.h"
#include "files/ConfigFile.h"
#include "history/HistoryStore.h"

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include <pwd.h>
#include <unistd.h>

namespace {

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

std::string Hex(const uint8_t* p, size_t n) {
    return HexBytes(p, n, false);
}

bool FromHex(const std::string& text, ParameterBlock& out) {
    if (text.size() != 2 * ParameterBlock::kSize)
        return false;
    for (size_t i = 0; i < ParameterBlock::kSize; ++i) {
        const int hi = HexDigit(text[2 * i]), lo = HexDigit(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.bytes[i] = uint8_t(hi << 4 | lo);
    }
    return true;
}

std::string Text(const nlohmann::json& j, const char* key) {
    auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : "";
}

std::optional<int> Number(const nlohmann::json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end() || !it->is_number_integer())
        return std::nullopt;
    return it->get<int>();
}

std::string Dump(const nlohmann::json& j) {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A UUID made from a text, so the same old row always becomes the same record.
std::string UuidOf(const std::string& text) {
    std::string h = SHA1::HexDigest(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    for (char& c : h)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    h[12] = '4';
    h[16] = "89ab"[HexDigit(h[16]) & 3];
    return h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" + h.substr(16, 4) +
           "-" + h.substr(20, 12);
}

// The image's text as the pages show it (Latin-1 read as such), without trailing blanks.
std::string TrimmedPlace(const ParameterBlock& b) {
    std::string s = b.Place();
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

std::string LastSeenBy(const FleetMachine& m) {
    if (m.lastSeenBy.empty())
        return "";
    return m.lastSeenHost.empty() ? m.lastSeenBy : m.lastSeenBy + "@" + m.lastSeenHost;
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
    history_ = nullptr;
    store_ = nullptr;
    ownHistory_.reset();
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

bool cFleetStore::OpenFile(const std::filesystem::path& file, std::string& error) {
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = Error();
        Close();
        return false;
    }
    sqlite3_busy_timeout(db_, 3000);
    // The overview reads one entry a machine scattered over the file: mapped, not copied.
    Exec("PRAGMA mmap_size = 1073741824", error);
    error.clear();
    return true;
}

bool cFleetStore::Open(cHistoryStore& history, std::string& error) {
    if (!Open(static_cast<const cHistoryStore&>(history), error))
        return false;
    if (history.IsReadOnly())
        return true;
    history_ = &history;
    store_ = &history;
    readOnly_ = false;
    if (!CarryOldRecords(error)) {
        Close();
        return false;
    }
    return true;
}

bool cFleetStore::Open(const cHistoryStore& history, std::string& error) {
    Close();
    if (!history.IsOpen()) {
        error = "no history open";
        return false;
    }
    readOnly_ = true;
    return OpenFile(history.File(), error);
}

bool cFleetStore::Open(const std::filesystem::path& file, bool readOnly, std::string& error) {
    Close();
    if (!readOnly) {
        // A history of its own, as the program opens it.
        auto own = std::make_unique<cHistoryStore>();
        HistoryNotice notice;
        HistoryError herr;
        if (!own->Open(file, notice, herr)) {
            error = herr.detail.empty() ? "the history cannot be opened" : herr.detail;
            return false;
        }
        if (!Open(*own, error))
            return false;
        ownHistory_ = std::move(own);
        return true;
    }
    readOnly_ = true;
    return OpenFile(file, error);
}

bool cFleetStore::Writable(std::string& error) const {
    if (db_ && history_ && !readOnly_)
        return true;
    error = db_ ? "the history cannot be written" : Error();
    return false;
}

std::string cFleetStore::AddRecord(const char* kind, const std::string& title,
                                   const nlohmann::json& payload, int64_t timeMs,
                                   std::string& error) {
    const std::string text = Dump(payload);
    HistoryEntry e = HistoryEntry::Record(kind, title, {text.begin(), text.end()});
    e.timeMs = timeMs;
    if (!e.timeMs) {
        // Records are ordered by time (then UUID, as on every laptop): one made here comes
        // after the last one of its kind, even within the same millisecond.
        // "kind <> 'machine'" lets the history's index of records answer, not a scan.
        Statement s(db_, "SELECT max(time_ms) FROM entry WHERE kind = ?1 AND kind <> 'machine'");
        s.Text(1, kind);
        const int64_t last = s.Step() == SQLITE_ROW && !s.ColNull(0) ? s.ColInt(0) : 0;
        e.timeMs = std::max(NowMs(), last + 1);
    }
    e.uuid = NewUuid();
    HistoryError herr;
    if (history_->Add(e, herr) == 0) {
        error = herr.detail.empty() ? "the record was not stored" : herr.detail;
        return "";
    }
    return e.uuid;
}

std::vector<cFleetStore::Raw> cFleetStore::Records(const char* kind, std::string& error) {
    std::vector<Raw> out;
    if (!db_) {
        error = Error();
        return out;
    }
    // Oldest first; the same time (two laptops) ordered by the UUID, as everywhere.
    // "kind <> 'machine'" lets the history's index of records answer, not a scan.
    Statement s(db_, "SELECT time_ms, uuid, technician, payload FROM entry WHERE kind = ?1 "
                     "AND kind <> 'machine' "
                     "ORDER BY time_ms, uuid");
    if (s.rc != SQLITE_OK) {
        error = Error();
        return out;
    }
    s.Text(1, kind);
    while (s.Step() == SQLITE_ROW) {
        Raw r;
        r.timeMs = s.ColInt(0);
        r.uuid = s.ColText(1);
        r.technician = s.ColText(2);
        const auto* p = static_cast<const char*>(sqlite3_column_blob(s.st, 3));
        const int n = sqlite3_column_bytes(s.st, 3);
        r.payload = nlohmann::json::parse(p, p + n, nullptr, false);
        if (r.payload.is_object())
            out.push_back(std::move(r));
    }
    if (s.rc != SQLITE_DONE)
        error = Error();
    return out;
}

int cFleetStore::AddVersion(const std::string& name, const ParameterBlock& image,
                            const std::string& note, std::string& error, int64_t timeMs,
                            bool* added) {
    if (added)
        *added = false;
    if (!ValidLibraryName(name)) {
        error = "\"" + name + "\" is no usable name (1 to 64 characters, no '@')";
        return 0;
    }
    if (!Writable(error))
        return 0;
    ParameterBlock stored;
    stored.bytes = ConfigurationCopy(image.bytes);
    const std::string digest = DigestText(stored);
    const nlohmann::json payload = {{"name", name},
                                    {"note", note},
                                    {"user", CurrentUser()},
                                    {"digest", digest},
                                    {"image", Hex(stored.bytes.data(), stored.bytes.size())}};
    const std::string uuid = AddRecord("library", "library " + name, payload, timeMs, error);
    if (uuid.empty())
        return 0;
    if (added)
        *added = true;
    std::string ignored;
    for (const auto& v : AllVersions(name, ignored))
        if (v.uuid == uuid)
            return v.version;
    error = "the version was stored but cannot be read back";
    return 0;
}

std::vector<LibraryVersion> cFleetStore::AllVersions(const std::string& name, std::string& error) {
    std::map<std::string, std::vector<LibraryVersion>> byName;
    for (const Raw& r : Records("library", error)) {
        LibraryVersion v;
        v.name = Text(r.payload, "name");
        if (!name.empty() && v.name != name)
            continue;
        v.timeMs = r.timeMs;
        v.uuid = r.uuid;
        v.user = Text(r.payload, "user");
        v.note = Text(r.payload, "note");
        v.digest = Text(r.payload, "digest");
        auto& versions = byName[v.name];
        if (!ValidLibraryName(v.name) || v.digest.empty())
            continue;
        // A damaged one is numbered all the same: its digest says which version it was.
        v.intact = FromHex(Text(r.payload, "image"), v.image) && DigestText(v.image) == v.digest;
        versions.push_back(std::move(v));
        versions.back().version = int(versions.size());
    }
    std::vector<LibraryVersion> out;
    for (auto& [n, versions] : byName)
        for (auto& v : versions)
            out.push_back(std::move(v));
    return out;
}

std::vector<LibraryVersion> cFleetStore::Versions(const std::string& name, std::string& error) {
    std::vector<LibraryVersion> out;
    std::string damaged;
    for (auto& v : AllVersions(name, error)) {
        if (v.intact)
            out.push_back(std::move(v));
        else
            damaged += (damaged.empty() ? "" : ", ") + v.name + " v" + std::to_string(v.version);
    }
    if (!damaged.empty() && error.empty())
        error = "damaged in the history (its image no longer matches its digest): " + damaged;
    return out;
}

std::optional<LibraryVersion> cFleetStore::Find(const LibraryRef& ref, std::string& error) {
    std::string listError;
    std::vector<LibraryVersion> all = AllVersions(ref.name, listError);
    if (!listError.empty()) {
        error = listError;
        return std::nullopt;
    }
    if (all.empty()) {
        error = "no approved configuration \"" + ref.name + "\"";
        return std::nullopt;
    }
    const LibraryVersion* v = &all.back();
    if (ref.version) {
        v = nullptr;
        for (const auto& x : all)
            if (x.version == *ref.version)
                v = &x;
    }
    if (!v) {
        error = "\"" + ref.name + "\" has no version " + std::to_string(*ref.version) +
                " (versions 1 to " + std::to_string(all.back().version) + ")";
        return std::nullopt;
    }
    // Never an older one instead: the user asked for this one.
    if (!v->intact) {
        error = ref.name + " v" + std::to_string(v->version) +
                " is damaged in the history (its image no longer matches its digest)";
        return std::nullopt;
    }
    return *v;
}

bool cFleetStore::Assign(const std::string& serialNr, const LibraryRef& ref, bool& knownSerial,
                         std::string& error, int64_t timeMs) {
    knownSerial = false;
    if (serialNr.empty() || serialNr.size() > ParameterBlock::kLenSerialNr) {
        error = "\"" + serialNr + "\" is no serial number (1 to 15 characters)";
        return false;
    }
    if (!Writable(error))
        return false;
    std::optional<LibraryVersion> pinned;
    if (!ref.name.empty()) {
        auto found = Find(ref, error);
        if (!found)
            return false;
        if (ref.version)
            pinned = std::move(found);
        error.clear();
    }
    {
        Statement s(db_, "SELECT 1 FROM machine WHERE serial_nr = ?1");
        s.Text(1, serialNr);
        knownSerial = s.Step() == SQLITE_ROW;
    }
    // A pinned version is kept by its record's UUID (and digest): its number may change once
    // another laptop's versions arrive, the version does not.
    const nlohmann::json payload = {
        {"serialNr", serialNr},
        {"name", ref.name},
        {"version", ref.version ? nlohmann::json(*ref.version) : nlohmann::json(nullptr)},
        {"versionUuid", pinned ? pinned->uuid : ""},
        {"digest", pinned ? pinned->digest : ""},
        {"user", CurrentUser()}};
    return !AddRecord("assignment", "assignment " + serialNr, payload, timeMs, error).empty();
}

bool cFleetStore::RecordRollout(const RolloutStep& step, std::string& error) {
    if (!Writable(error))
        return false;
    std::string entryUuid;
    if (step.entryId) {
        HistoryError herr;
        if (auto e = history_->Entry(step.entryId, herr))
            entryUuid = e->uuid;
    }
    const nlohmann::json payload = {{"rollout", step.rolloutId},
                                    {"serialNr", step.serialNr},
                                    {"name", step.approval.name},
                                    {"version", step.approval.version
                                                    ? nlohmann::json(*step.approval.version)
                                                    : nlohmann::json(nullptr)},
                                    {"result", step.result},
                                    {"reason", step.reason},
                                    {"before", step.before},
                                    {"after", step.after},
                                    {"entry", step.entryId},
                                    {"entryUuid", entryUuid}};
    return !AddRecord("rollout", "rollout " + step.serialNr, payload, 0, error).empty();
}

std::vector<cFleetStore::RolloutStep> cFleetStore::Rollout(const std::string& rolloutId,
                                                           std::string& error) {
    std::vector<RolloutStep> out;
    for (const Raw& r : Records("rollout", error)) {
        if (Text(r.payload, "rollout") != rolloutId)
            continue;
        RolloutStep step;
        step.rolloutId = rolloutId;
        step.approval.name = Text(r.payload, "name");
        step.approval.version = Number(r.payload, "version");
        step.serialNr = Text(r.payload, "serialNr");
        step.result = Text(r.payload, "result");
        step.reason = Text(r.payload, "reason");
        step.before = Text(r.payload, "before");
        step.after = Text(r.payload, "after");
        // The entry's number is this laptop's: a step names its entry by UUID (an old one by
        // number only).
        const std::string uuid = Text(r.payload, "entryUuid");
        if (!uuid.empty()) {
            Statement e(db_, "SELECT id FROM entry WHERE uuid = ?1");
            e.Text(1, uuid);
            if (e.Step() == SQLITE_ROW)
                step.entryId = e.ColInt(0);
        } else if (auto it = r.payload.find("entry");
                   it != r.payload.end() && it->is_number_integer()) {
            step.entryId = it->get<int64_t>();
        }
        out.push_back(std::move(step));
    }
    return out;
}

// Every serial's newest assignment (time, then UUID), by serial number.
std::vector<Assignment> cFleetStore::Assignments(std::string& error) {
    std::map<std::string, Assignment> newest;
    for (const Raw& r : Records("assignment", error)) {
        Assignment a;
        a.serialNr = Text(r.payload, "serialNr");
        if (a.serialNr.empty())
            continue;
        a.ref.name = Text(r.payload, "name");
        a.ref.version = Number(r.payload, "version");
        a.digest = Text(r.payload, "digest");
        a.versionUuid = Text(r.payload, "versionUuid");
        a.timeMs = r.timeMs;
        a.user = Text(r.payload, "user");
        newest[a.serialNr] = std::move(a); // oldest first: the last one counts
    }
    std::vector<Assignment> out;
    for (auto& [serial, a] : newest)
        out.push_back(std::move(a));
    return out;
}

// The version an assignment names: the pinned one by its record, else the newest.
static const LibraryVersion* Resolve(const Assignment& a,
                                     const std::vector<LibraryVersion>& versions) {
    const LibraryVersion* v = nullptr;
    for (const auto& x : versions) {
        if (x.name != a.ref.name)
            continue;
        if (!a.versionUuid.empty() ? x.uuid == a.versionUuid
            : !a.digest.empty()    ? x.digest == a.digest // carried from the old table
                                   : !a.ref.version || x.version == *a.ref.version)
            v = &x; // the last is the newest
    }
    return v;
}

std::optional<Assignment> cFleetStore::AssignmentOf(const std::string& serialNr,
                                                    std::string& error) {
    for (auto& a : Assignments(error)) {
        if (a.serialNr != serialNr)
            continue;
        if (!a.digest.empty()) {
            std::string ignored;
            const std::vector<LibraryVersion> versions = Versions(a.ref.name, ignored);
            if (const LibraryVersion* v = Resolve(a, versions))
                a.ref.version = v->version;
        }
        return a;
    }
    return std::nullopt;
}

cFleetStore::Check cFleetStore::CheckMachine(const ParameterBlock& image, std::string& error,
                                             const ConversionContext* ctx) {
    Check c;
    auto a = AssignmentOf(SerialOf(image), error);
    if (!a || a->ref.name.empty())
        return c;
    std::string listError;
    const std::vector<LibraryVersion> versions = Versions(a->ref.name, listError);
    const LibraryVersion* v = Resolve(*a, versions);
    if (!v) {
        error = listError.empty()
                    ? "the configuration assigned (" + a->ref.Text() + ") is not in the library"
                    : listError;
        return c;
    }
    c.approved = *v;
    c.compliance = CheckCompliance(image, c.approved->image, ctx);
    c.state =
        c.compliance.state == Compliance::Compliant ? FleetCompliance::Yes : FleetCompliance::No;
    return c;
}

// The old table: one row a record, kept by earlier programs beside the entries. Each row
// becomes the record it stands for, with a UUID made from this database's identity and the
// row, so a second try adds nothing twice. The table itself stays as it was.
bool cFleetStore::CarryOldRecords(std::string& error) {
    // The last row carried: an older program still in use may add rows after it.
    static constexpr const char* kDone = "fleet_record carried";
    const int64_t carriedUpTo = std::atoll(store_->Meta(kDone).c_str());
    int64_t lastRow = carriedUpTo;
    bool table = false;
    {
        Statement s(db_, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND "
                         "name = 'fleet_record'");
        table = s.Step() == SQLITE_ROW;
    }
    std::vector<HistoryEntry> records;
    if (table) {
        Statement s(db_, "SELECT id, time_ms, kind, user, name, version, serial_nr, note, digest, "
                         "image FROM fleet_record WHERE id > ?1 ORDER BY id");
        s.Int(1, carriedUpTo);
        while (s.Step() == SQLITE_ROW) {
            lastRow = s.ColInt(0);
            const std::string kind = s.ColText(2);
            nlohmann::json p;
            std::string title;
            const std::string name = s.ColText(4), serial = s.ColText(6);
            const nlohmann::json version =
                s.ColNull(5) ? nlohmann::json(nullptr) : nlohmann::json(s.ColInt(5));
            if (kind == "library") {
                ParameterBlock image;
                if (!s.ColImage(9, image))
                    continue;
                p = {{"name", name},
                     {"note", s.ColText(7)},
                     {"user", s.ColText(3)},
                     {"digest", s.ColText(8)},
                     {"image", Hex(image.bytes.data(), image.bytes.size())}};
                title = "library " + name;
            } else if (kind == "assignment") {
                p = {{"serialNr", serial},
                     {"name", name},
                     {"version", version},
                     {"digest", ""},
                     {"user", s.ColText(3)}};
                // The version pinned then is the one it meant, whatever number it gets now.
                if (!version.is_null()) {
                    Statement v(db_, "SELECT digest FROM fleet_record WHERE kind = 'library' "
                                     "AND name = ?1 AND version = ?2");
                    v.Text(1, name);
                    v.Int(2, version.get<int64_t>());
                    if (v.Step() == SQLITE_ROW)
                        p["digest"] = v.ColText(0);
                }
                title = "assignment " + serial;
            } else if (kind == "rollout") {
                // The outcome was kept as JSON in the note, the rollout's id in the digest.
                nlohmann::json note = nlohmann::json::parse(s.ColText(7), nullptr, false);
                if (!note.is_object())
                    note = nlohmann::json::object();
                p = {{"rollout", s.ColText(8)},
                     {"serialNr", serial},
                     {"name", name},
                     {"version", version},
                     {"result", Text(note, "result")},
                     {"reason", Text(note, "reason")},
                     {"before", Text(note, "before")},
                     {"after", Text(note, "after")},
                     {"entry", note.value("entry", int64_t(0))},
                     {"entryUuid", ""}};
                if (const int64_t id = p["entry"].get<int64_t>()) {
                    HistoryError herr;
                    if (auto e = store_->Entry(id, herr))
                        p["entryUuid"] = e->uuid;
                }
                title = "rollout " + serial;
            } else {
                continue;
            }
            const std::string text = Dump(p);
            HistoryEntry e = HistoryEntry::Record(kind, title, {text.begin(), text.end()});
            e.timeMs = s.ColInt(1);
            e.technician = s.ColText(3);
            e.uuid = UuidOf(store_->StoreId() + ":fleet_record:" + std::to_string(s.ColInt(0)));
            records.push_back(std::move(e));
        }
        if (s.rc != SQLITE_DONE) {
            error = "the old fleet records cannot be read: " + Error();
            return false;
        }
    }
    if (lastRow == carriedUpTo)
        return true;
    HistoryError herr;
    // One carried before whose mark was not stored is there already.
    std::erase_if(records,
                  [&](const HistoryEntry& e) { return bool(store_->EntryByUuid(e.uuid, herr)); });
    if (!records.empty() && !store_->AddAll(records, herr)) {
        error = "the old fleet records cannot be carried into the history: " + herr.detail;
        return false;
    }
    if (!store_->SetMeta(kDone, std::to_string(lastRow), herr)) {
        error = herr.detail;
        return false;
    }
    return true;
}

std::vector<FleetMachine> cFleetStore::Overview(const FleetOptions& options, std::string& error) {
    std::vector<FleetMachine> out;
    if (!db_) {
        error = Error();
        return out;
    }
    // The library (small) and the current assignment of every serial.
    std::string listError;
    const std::vector<LibraryVersion> versions = Versions("", listError);
    if (!listError.empty() && listError.rfind("damaged", 0) != 0) {
        error = listError;
        return out;
    }
    std::map<std::string, Assignment> assigned;
    for (auto& a : Assignments(error))
        assigned[a.serialNr] = std::move(a);
    if (!error.empty())
        return out;

    // One row a machine with the newest entry that holds an image, found through the
    // entries' index by machine and id.
    // Who saw it last: the newest entry of the machine, whoever's laptop made it.
    Statement s(db_, "SELECT m.serial_nr, m.machine_type, m.sw_version, m.last_seen_ms, m.counter, "
                     "e.id, e.time_ms, e.result, e.image_before, e.image_after, e.payload, "
                     "l.technician, l.host "
                     "FROM machine m LEFT JOIN entry e ON e.id = ("
                     " SELECT x.id FROM entry x WHERE x.serial_nr = m.serial_nr"
                     " AND (x.image_after IS NOT NULL OR x.image_before IS NOT NULL)"
                     " ORDER BY x.id DESC LIMIT 1) "
                     "LEFT JOIN entry l ON l.id = ("
                     " SELECT y.id FROM entry y WHERE y.serial_nr = m.serial_nr"
                     " AND y.kind = 'machine' ORDER BY y.time_ms DESC, y.id DESC LIMIT 1) "
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
            m.place = TrimmedPlace(*image);
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
        const LibraryVersion* v = Resolve(as, versions);
        m.assigned = as.ref.name + (v ? " v" + std::to_string(v->version) : "");
        m.compliance = FleetCompliance::NotChecked;
        if (!v || !image)
            return;
        m.assignedVersion = v->version;
        // A change of the assignment, or a newer version it follows, after the last image.
        if (std::max(as.timeMs, as.digest.empty() ? v->timeMs : int64_t(0)) > imageTime)
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
        m.lastSeenBy = s.ColText(11);
        m.lastSeenHost = s.ColText(12);
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
            if (const int n = sqlite3_column_bytes(s.st, 10); n > 0) {
                const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(s.st, 10));
                m.lastRollout = RolloutOf(std::vector<uint8_t>(p, p + n));
            }
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
