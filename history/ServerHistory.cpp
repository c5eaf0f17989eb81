#include "history/ServerHistory.h"

#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Any constant: every insert into kelvane.entry holds it until its commit.
constexpr const char* kInsertLock = "SELECT pg_advisory_xact_lock(4992071305)";

constexpr const char* kColumns =
    "seq, time_ms, command, result, message, machine_type, serial_nr, el_assembly, sw_version, "
    "counter, uuid, kind, technician, host";
constexpr const char* kImageColumns =
    ", image_before, image_after, extra, payload, before_digest, after_digest, extra_digest";
constexpr int kInsertColumns = 21;
constexpr const char* kInsertNames =
    "uuid, source, kind, time_ms, command, result, message, machine_type, serial_nr, "
    "el_assembly, sw_version, counter, image_before, image_after, extra, payload, technician, "
    "host, before_digest, after_digest, extra_digest";
constexpr const char* kFromPushRows =
    "uuid::uuid, source::uuid, kind, time_ms, command, result, message, machine_type, "
    "serial_nr, el_assembly, sw_version, counter, image_before, image_after, extra, payload, "
    "technician, host, before_digest, after_digest, extra_digest";

int64_t NowMsOf() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

struct ResultFree {
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

// The server keeps text as UTF-8 and refuses anything else: a message's bytes that are not
// UTF-8 become U+FFFD (the images keep the bytes as they are).
std::string Utf8(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = len > 0 && i + len <= s.size() && c != 0;
        for (size_t k = 1; ok && k < len; ++k)
            ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (ok && len == 2)
            ok = c >= 0xC2;
        if (ok && len == 3) {
            const auto d = static_cast<unsigned char>(s[i + 1]);
            ok = !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d >= 0xA0);
        }
        if (ok && len == 4) {
            const auto d = static_cast<unsigned char>(s[i + 1]);
            ok = c <= 0xF4 && !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d >= 0x90);
        }
        if (ok) {
            out.append(s, i, len);
            i += len;
        } else {
            if (c != 0)
                out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

// A machine's identity texts are its image's bytes (Latin-1): each byte one character on the
// server, and the same bytes back on the laptop, so a machine keeps its serial number.
std::string FromLatin1(const std::string& s) {
    std::string out;
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == 0)
            continue;
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string ToLatin1(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out += s[i];
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < s.size()) {
            out +=
                static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(s[++i]) & 0x3F));
        } else {
            out += '?'; // not from an image
            while (i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80)
                ++i;
        }
    }
    return out;
}

std::vector<uint8_t> Bytea(const PGresult* r, int row, int col) {
    if (PQgetisnull(r, row, col))
        return {};
    size_t n = 0;
    unsigned char* p =
        PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(r, row, col)), &n);
    if (!p)
        return {};
    std::vector<uint8_t> out(p, p + n);
    PQfreemem(p);
    return out;
}

std::optional<ParameterBlock> Image(const PGresult* r, int row, int col) {
    std::vector<uint8_t> b = Bytea(r, row, col);
    if (b.size() != ParameterBlock::kSize)
        return std::nullopt;
    ParameterBlock block;
    std::memcpy(block.bytes.data(), b.data(), b.size());
    return block;
}

// The entry's columns start at column `at` of the row.
HistoryEntry ReadRow(const PGresult* r, int row, bool withImages, int at = 0) {
    auto text = [&](int col) { return std::string(PQgetvalue(r, row, at + col)); };
    auto null = [&](int col) { return PQgetisnull(r, row, at + col) != 0; };
    HistoryEntry e;
    e.id = std::stoll(text(0));
    e.timeMs = std::stoll(text(1));
    e.command = text(2);
    if (!null(3))
        e.result = std::stoi(text(3));
    e.message = text(4);
    e.machineType = ToLatin1(text(5));
    e.serialNr = ToLatin1(text(6));
    e.elAssembly = ToLatin1(text(7));
    e.swVersion = ToLatin1(text(8));
    if (!null(9))
        e.fasteningCounter = static_cast<uint32_t>(std::stoll(text(9)));
    e.uuid = text(10);
    e.kind = text(11);
    e.technician = text(12);
    e.host = text(13);
    e.fromHere = false;
    if (withImages) {
        e.before = Image(r, row, at + 14);
        e.after = Image(r, row, at + 15);
        e.extra = Bytea(r, row, at + 16);
        e.payload = Bytea(r, row, at + 17);
        e.beforeDigest = text(18);
        e.afterDigest = text(19);
        e.extraDigest = text(20);
    }
    return e;
}

ServerError::Kind KindOfState(const std::string& state) {
    if (state == "28P01" || state == "28000")
        return ServerError::Auth;
    if (state == "3D000")
        return ServerError::NoDatabase;
    if (state == "42501")
        return ServerError::Permission;
    if (state == "42P01" || state == "3F000")
        return ServerError::NoSchema;
    if (state == "53100")
        return ServerError::Full;
    // Out of memory, too many connections, a limit of the server's configuration.
    if (state.rfind("53", 0) == 0)
        return ServerError::Busy;
    if (state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0)
        return ServerError::Unreachable;
    return ServerError::Other;
}

// The first line of libpq's words (the rest repeats the query or gives hints).
std::string Trim(std::string s) {
    s = s.substr(0, s.find('\n'));
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

// The failure of a statement: by its SQLSTATE, or a lost connection.
ServerError ErrorOf(PGconn* conn, const PGresult* r) {
    ServerError e;
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    e.detail = Trim(primary ? primary : PQerrorMessage(conn));
    if (PQstatus(conn) == CONNECTION_BAD)
        e.kind = ServerError::Unreachable;
    else
        e.kind = state ? KindOfState(state) : ServerError::Other;
    return e;
}

} // namespace

HistoryError HistoryErrorOf(const ServerError& error) {
    switch (error.kind) {
    case ServerError::None:
        return {};
    case ServerError::Full:
        return {HistoryError::Full, error.detail};
    case ServerError::Permission:
        return {HistoryError::ReadOnly, error.detail};
    default:
        return {HistoryError::Other, error.detail};
    }
}

ServerError::Kind cServerHistory::KindOfMessage(const std::string& m) {
    auto has = [&](const char* s) { return m.find(s) != std::string::npos; };
    if (has("password authentication failed") || has("no password supplied") ||
        has("authentication failed") || (has("role \"") && has("does not exist")))
        return ServerError::Auth;
    if (has("database \"") && has("does not exist"))
        return ServerError::NoDatabase;
    if (has("permission denied"))
        return ServerError::Permission;
    if (has("too many clients") || has("too many connections") || has("out of memory"))
        return ServerError::Busy;
    if (has("definition of service") || has("invalid connection option") || has("missing \"=\"") ||
        has("invalid URI") || has("unterminated quoted string"))
        return ServerError::Config;
    if (has("could not connect") || has("Connection refused") || has("timeout expired") ||
        has("could not translate host name") || has("No such file or directory") ||
        has("server closed the connection") || has("Connection reset") ||
        has("could not receive data from server") || has("could not send data to server") ||
        has("Network is unreachable") || has("No route to host") || has("the database system is"))
        return ServerError::Unreachable;
    return ServerError::Other;
}

cServerHistory::~cServerHistory() {
    Disconnect();
}

void cServerHistory::Disconnect() {
    if (conn_)
        PQfinish(conn_);
    conn_ = nullptr;
    pushTable_ = -1;
}

bool cServerHistory::Connect(const std::string& conninfo, ServerError& error) {
    Disconnect();
    error = {};
    if (conninfo.empty()) {
        error = {ServerError::Config, "no server configured"};
        return false;
    }
    // Defaults first: what the connection string names wins.
    const char* keys[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"10", "kelvane", conninfo.c_str(), nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (!conn_) {
        error = {ServerError::Other, "out of memory"};
        return false;
    }
    if (PQstatus(conn_) != CONNECTION_OK) {
        const std::string message = Trim(PQerrorMessage(conn_));
        error = {KindOfMessage(message), message};
        Disconnect();
        return false;
    }
    // Row texts are UTF-8 on both sides; the server converts for its own encoding.
    PQsetClientEncoding(conn_, "UTF8");
    // The server's notices (a grant given before, ...) are nothing a technician must read.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    return true;
}

bool cServerHistory::Exec(const std::string& sql, ServerError& error) {
    Result r(PQexec(conn_, sql.c_str()));
    const ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK)
        return true;
    error = ErrorOf(conn_, r.get());
    return false;
}

bool cServerHistory::CheckSchema(std::string& instance, ServerError& error) {
    error = {};
    if (!conn_) {
        error = {ServerError::Unreachable, "not connected"};
        return false;
    }
    Result r(PQexec(conn_, "SELECT version, instance FROM kelvane.schema_info"));
    if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
        error = ErrorOf(conn_, r.get());
        return false;
    }
    if (PQntuples(r.get()) != 1) {
        error = {ServerError::NoSchema, "kelvane.schema_info holds no version"};
        return false;
    }
    const int version = std::atoi(PQgetvalue(r.get(), 0, 0));
    instance = PQgetvalue(r.get(), 0, 1);
    if (version < kSchemaVersion) {
        error = {ServerError::SchemaOld, "schema version " + std::to_string(version) +
                                             ", this program needs " +
                                             std::to_string(kSchemaVersion)};
        return false;
    }
    if (version > kSchemaVersion) {
        error = {ServerError::SchemaNew, "schema version " + std::to_string(version) +
                                             ", this program knows up to " +
                                             std::to_string(kSchemaVersion)};
        return false;
    }
    return true;
}

bool cServerHistory::InitSchema(const fs::path& sqlFolder, int& fromVersion, ServerError& error) {
    error = {};
    fromVersion = 0;
    if (!conn_) {
        error = {ServerError::Unreachable, "not connected"};
        return false;
    }
    // Read every file first: a missing one changes nothing on the server.
    std::vector<std::string> scripts;
    for (int v = 1; v <= kSchemaVersion; ++v) {
        const fs::path file = sqlFolder / ("kelvane-" + std::to_string(v) + ".sql");
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (!in || text.str().empty()) {
            error = {ServerError::Config, file.string() + ": cannot be read"};
            return false;
        }
        scripts.push_back(text.str());
    }
    if (!Exec("BEGIN", error))
        return false;
    auto fail = [&] {
        ServerError ignored;
        Exec("ROLLBACK", ignored);
        return false;
    };
    // One init at a time; a second one then finds the schema made.
    if (!Exec("SELECT pg_advisory_xact_lock(4992071306)", error))
        return fail();
    {
        Result r(PQexec(conn_, "SELECT to_regclass('kelvane.schema_info') IS NOT NULL"));
        if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
            error = ErrorOf(conn_, r.get());
            return fail();
        }
        if (std::string(PQgetvalue(r.get(), 0, 0)) == "t") {
            Result v(PQexec(conn_, "SELECT max(version) FROM kelvane.schema_info"));
            if (!v || PQresultStatus(v.get()) != PGRES_TUPLES_OK) {
                error = ErrorOf(conn_, v.get());
                return fail();
            }
            fromVersion = std::atoi(PQgetvalue(v.get(), 0, 0));
        }
    }
    if (fromVersion > kSchemaVersion) {
        error = {ServerError::SchemaNew, "schema version " + std::to_string(fromVersion) +
                                             ", this program knows up to " +
                                             std::to_string(kSchemaVersion)};
        return fail();
    }
    for (int v = fromVersion + 1; v <= kSchemaVersion; ++v) {
        if (!Exec(scripts[v - 1], error) || !Exec("UPDATE kelvane.schema_info SET version = " +
                                                      std::to_string(v) + ", upgraded = now()",
                                                  error))
            return fail();
    }
    if (!Exec("COMMIT", error))
        return fail();
    return true;
}

bool cServerHistory::Insert(const std::vector<HistoryEntry>& entries, const std::string& source,
                            bool skipKnown, ServerError& error) {
    error = {};
    if (!conn_) {
        error = {ServerError::Unreachable, "not connected"};
        return false;
    }
    if (entries.empty())
        return true;
    // A push copies its rows into a table of this session first (the fast road); without the
    // right to make one (TEMP revoked) it inserts them as statements.
    const bool copy = skipKnown && PushTable();
    if (!Exec("BEGIN", error))
        return false;
    auto fail = [&] {
        ServerError ignored;
        if (PQstatus(conn_) == CONNECTION_OK)
            Exec("ROLLBACK", ignored);
        return false;
    };
    if (copy) {
        if (!CopyRows(entries, source, error))
            return fail();
        // Taken only now: laptops copy at the same time, one at a time only numbers its rows.
        if (!Exec(kInsertLock, error) ||
            !Exec(std::string("INSERT INTO kelvane.entry(") + kInsertNames + ") SELECT " +
                      kFromPushRows + " FROM pg_temp.push_rows ORDER BY ord " +
                      "ON CONFLICT (uuid) DO NOTHING",
                  error))
            return fail();
    } else {
        if (!Exec(kInsertLock, error))
            return fail();
        // One statement carries at most this many rows (the protocol's limit is 65535 values).
        constexpr size_t kRowsAStatement = 1000;
        for (size_t first = 0; first < entries.size(); first += kRowsAStatement) {
            const size_t end = std::min(entries.size(), first + kRowsAStatement);
            if (!InsertRows(entries, first, end, source, skipKnown, error))
                return fail();
        }
    }
    if (!Exec("COMMIT", error))
        return fail();
    return true;
}

std::vector<cServerHistory::Field> cServerHistory::Fields(const HistoryEntry& e,
                                                          const std::string& source) const {
    std::vector<Field> f;
    f.reserve(kInsertColumns);
    auto text = [&](std::string s) { f.push_back({Field::Text, std::move(s), 0}); };
    auto null = [&] { f.push_back({Field::Null, {}, 0}); };
    auto bytes = [&](const uint8_t* p, size_t len) {
        f.push_back({Field::Bytes, std::string(reinterpret_cast<const char*>(p), len), 0});
    };
    auto image = [&](const std::optional<ParameterBlock>& b) {
        b ? bytes(b->bytes.data(), b->bytes.size()) : null();
    };
    auto blob = [&](const std::vector<uint8_t>& v) {
        v.empty() ? null() : bytes(v.data(), v.size());
    };
    // The laptop's digest as it stored it (a mismatch stays visible to the team); made here
    // only for an image that came without one. One not of the digest's form (a damaged local
    // row) goes as none: the server would refuse it, and with it every later sync.
    auto digest = [&](const std::string& stored, const uint8_t* p, size_t len) {
        if (stored.size() == 40 &&
            stored.find_first_not_of("0123456789ABCDEF") == std::string::npos)
            text(stored);
        else if (!stored.empty())
            null();
        else if (p)
            text(ImageDigest(p, len));
        else
            null();
    };
    text(e.uuid.empty() ? NewUuid() : e.uuid);
    text(source);
    text(Utf8(e.kind));
    f.push_back({Field::Int64, {}, e.timeMs ? e.timeMs : NowMsOf()});
    text(Utf8(e.command));
    if (e.result)
        f.push_back({Field::Int32, {}, *e.result});
    else
        null();
    text(Utf8(e.message));
    text(FromLatin1(e.machineType));
    text(FromLatin1(e.serialNr));
    text(FromLatin1(e.elAssembly));
    text(FromLatin1(e.swVersion));
    if (e.fasteningCounter)
        f.push_back({Field::Int64, {}, *e.fasteningCounter});
    else
        null();
    image(e.before);
    image(e.after);
    blob(e.extra);
    blob(e.payload);
    text(Utf8(e.technician.empty() ? technician_ : e.technician));
    text(Utf8(e.host.empty() ? host_ : e.host));
    digest(e.beforeDigest, e.before ? e.before->bytes.data() : nullptr, ParameterBlock::kSize);
    digest(e.afterDigest, e.after ? e.after->bytes.data() : nullptr, ParameterBlock::kSize);
    digest(e.extraDigest, e.extra.empty() ? nullptr : e.extra.data(), e.extra.size());
    return f;
}

bool cServerHistory::InsertRows(const std::vector<HistoryEntry>& entries, size_t first, size_t end,
                                const std::string& source, bool skipKnown, ServerError& error) {
    std::string sql = std::string("INSERT INTO kelvane.entry(") + kInsertNames + ") VALUES ";
    std::vector<Field> fields;
    fields.reserve((end - first) * kInsertColumns);
    int n = 0;
    for (size_t i = first; i < end; ++i) {
        sql += i > first ? ",(" : "(";
        for (int c = 0; c < kInsertColumns; ++c) {
            sql += (c ? ",$" : "$") + std::to_string(++n);
            if (c == 0 || c == 1)
                sql += "::uuid";
        }
        sql += ")";
        for (Field& f : Fields(entries[i], source))
            fields.push_back(std::move(f));
    }
    if (skipKnown)
        sql += " ON CONFLICT (uuid) DO NOTHING";
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (Field& f : fields) {
        if (f.type == Field::Int32 || f.type == Field::Int64)
            f.data = std::to_string(f.number);
        values.push_back(f.type == Field::Null ? nullptr : f.data.c_str());
        lengths.push_back(static_cast<int>(f.data.size()));
        formats.push_back(f.type == Field::Bytes ? 1 : 0);
    }
    Result r(PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                          values.data(), lengths.data(), formats.data(), 0));
    if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
        error = ErrorOf(conn_, r.get());
        return false;
    }
    return true;
}

bool cServerHistory::PushTable() {
    if (pushTable_ >= 0)
        return pushTable_ == 1;
    // Of this session only, emptied by every commit; uuid and source stay text until the
    // insert casts them, so a bad one fails there as it would in a statement.
    ServerError ignored;
    pushTable_ = Exec("CREATE TEMP TABLE IF NOT EXISTS push_rows (ord integer, uuid text, "
                      "source text, kind text, time_ms bigint, command text, result integer, "
                      "message text, machine_type text, serial_nr text, el_assembly text, "
                      "sw_version text, counter bigint, image_before bytea, image_after bytea, "
                      "extra bytea, payload bytea, technician text, host text, before_digest "
                      "text, after_digest text, extra_digest text) ON COMMIT DELETE ROWS",
                      ignored)
                     ? 1
                     : 0;
    return pushTable_ == 1;
}

bool cServerHistory::CopyRows(const std::vector<HistoryEntry>& entries, const std::string& source,
                              ServerError& error) {
    Result start(PQexec(conn_, "COPY pg_temp.push_rows FROM STDIN (FORMAT binary)"));
    if (!start || PQresultStatus(start.get()) != PGRES_COPY_IN) {
        error = ErrorOf(conn_, start.get());
        return false;
    }
    // The binary form: a header, then per row the field count and each field as its length
    // (-1: NULL) and bytes, numbers big-endian; -1 ends it.
    std::string buffer("PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0", 19);
    auto put = [&](uint64_t v, int size) {
        for (int i = size - 1; i >= 0; --i)
            buffer += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    bool sent = true;
    auto flush = [&] {
        sent = sent && PQputCopyData(conn_, buffer.data(), static_cast<int>(buffer.size())) == 1;
        buffer.clear();
    };
    for (size_t i = 0; i < entries.size() && sent; ++i) {
        put(kInsertColumns + 1, 2);
        put(4, 4);
        put(i, 4);
        for (const Field& f : Fields(entries[i], source)) {
            switch (f.type) {
            case Field::Null:
                put(0xFFFFFFFFu, 4);
                break;
            case Field::Int32:
                put(4, 4);
                put(static_cast<uint64_t>(f.number), 4);
                break;
            case Field::Int64:
                put(8, 4);
                put(static_cast<uint64_t>(f.number), 8);
                break;
            case Field::Text:
            case Field::Bytes:
                put(f.data.size(), 4);
                buffer += f.data;
                break;
            }
        }
        if (buffer.size() > (1u << 20))
            flush();
    }
    put(0xFFFF, 2);
    flush();
    if (PQputCopyEnd(conn_, sent ? nullptr : "kelvane: sending failed") != 1)
        sent = false;
    bool ok = true;
    while (PGresult* raw = PQgetResult(conn_)) {
        Result r(raw);
        if (PQresultStatus(raw) != PGRES_COMMAND_OK && ok) {
            error = ErrorOf(conn_, raw);
            ok = false;
        }
    }
    if (ok && !sent) {
        error = {ServerError::Unreachable, Trim(PQerrorMessage(conn_))};
        ok = false;
    }
    return ok;
}

bool cServerHistory::Push(const std::vector<HistoryEntry>& entries, const std::string& source,
                          ServerError& error) {
    return Insert(entries, source, true, error);
}

bool cServerHistory::Pull(int64_t afterSeq, const std::string& source, int limit,
                          std::vector<HistoryEntry>& entries, int64_t& nextSeq, bool& more,
                          ServerError& error) {
    error = {};
    entries.clear();
    nextSeq = afterSeq;
    more = false;
    if (!conn_) {
        error = {ServerError::Unreachable, "not connected"};
        return false;
    }
    // One statement, one snapshot: every row up to its highest seq is in it (inserts commit in
    // seq order), so nothing below that position can still arrive.
    const std::string after = std::to_string(afterSeq), count = std::to_string(limit);
    const char* params[] = {after.c_str(), source.c_str(), count.c_str()};
    const std::string sql =
        std::string("SELECT top.hi, e.* FROM (SELECT coalesce(max(seq), 0) AS hi FROM "
                    "kelvane.entry) top LEFT JOIN LATERAL (SELECT ") +
        kColumns + kImageColumns +
        " FROM kelvane.entry WHERE seq > $1 AND seq <= top.hi AND source <> $2::uuid ORDER BY "
        "seq LIMIT $3) e ON true";
    Result r(PQexecParams(conn_, sql.c_str(), 3, nullptr, params, nullptr, nullptr, 0));
    if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
        error = ErrorOf(conn_, r.get());
        return false;
    }
    const int rows = PQntuples(r.get());
    const int64_t highest = rows > 0 ? std::stoll(PQgetvalue(r.get(), 0, 0)) : afterSeq;
    for (int i = 0; i < rows; ++i)
        if (!PQgetisnull(r.get(), i, 1))
            entries.push_back(ReadRow(r.get(), i, true, 1));
    more = static_cast<int>(entries.size()) == limit;
    nextSeq = more ? entries.back().id : std::max(highest, afterSeq);
    return true;
}

int64_t cServerHistory::Add(const HistoryEntry& entry, HistoryError& error) {
    HistoryEntry e = entry;
    if (e.uuid.empty())
        e.uuid = NewUuid();
    ServerError failure;
    if (!Insert({e}, source_, false, failure)) {
        error = HistoryErrorOf(failure);
        if (failure.detail.find("entry_uuid_key") != std::string::npos)
            error = {HistoryError::Duplicate, "UUID " + e.uuid};
        return 0;
    }
    const std::optional<HistoryEntry> stored = EntryByUuid(e.uuid, error);
    return stored ? stored->id : 0;
}

bool cServerHistory::AddAll(const std::vector<HistoryEntry>& entries, HistoryError& error) {
    ServerError failure;
    if (Insert(entries, source_, false, failure))
        return true;
    error = HistoryErrorOf(failure);
    if (failure.detail.find("entry_uuid_key") != std::string::npos)
        error.kind = HistoryError::Duplicate;
    return false;
}

bool cServerHistory::Complete(int64_t, int, const std::string&,
                              const std::optional<ParameterBlock>&, std::optional<uint32_t>,
                              HistoryError& error) {
    error = {HistoryError::ReadOnly, "entries on the server are never changed"};
    return false;
}

std::vector<HistoryEntry> cServerHistory::Select(const std::string& where,
                                                 const std::vector<std::string>& params,
                                                 bool withImages, HistoryError& error) {
    error = {};
    std::vector<HistoryEntry> out;
    if (!conn_) {
        error = {HistoryError::Other, "not connected"};
        return out;
    }
    const std::string sql = std::string("SELECT ") + kColumns + (withImages ? kImageColumns : "") +
                            " FROM kelvane.entry " + where;
    std::vector<const char*> values;
    for (const std::string& p : params)
        values.push_back(p.c_str());
    Result r(PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                          values.data(), nullptr, nullptr, 0));
    if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
        error = HistoryErrorOf(ErrorOf(conn_, r.get()));
        return out;
    }
    for (int i = 0; i < PQntuples(r.get()); ++i)
        out.push_back(ReadRow(r.get(), i, withImages));
    return out;
}

std::vector<HistoryMachine> cServerHistory::Machines(HistoryError& error) {
    error = {};
    std::vector<HistoryMachine> out;
    if (!conn_) {
        error = {HistoryError::Other, "not connected"};
        return out;
    }
    // The newest non-empty value of each column, as the laptop's machine list keeps it.
    auto newest = [](const char* column, const char* present) {
        return std::string("(SELECT ") + column +
               " FROM kelvane.entry x WHERE x.serial_nr = e.serial_nr AND x.kind = 'machine' "
               "AND " +
               present + " ORDER BY x.time_ms DESC, x.seq DESC LIMIT 1)";
    };
    const std::string sql = "SELECT serial_nr, " + newest("machine_type", "machine_type <> ''") +
                            ", " + newest("sw_version", "sw_version <> ''") + ", max(time_ms), " +
                            newest("counter", "counter IS NOT NULL") +
                            ", count(*) FROM kelvane.entry e WHERE kind = 'machine' GROUP BY "
                            "serial_nr ORDER BY max(time_ms) DESC, serial_nr";
    Result r(PQexec(conn_, sql.c_str()));
    if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
        error = HistoryErrorOf(ErrorOf(conn_, r.get()));
        return out;
    }
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        HistoryMachine m;
        m.serialNr = ToLatin1(PQgetvalue(r.get(), i, 0));
        m.machineType = ToLatin1(PQgetvalue(r.get(), i, 1));
        m.swVersion = ToLatin1(PQgetvalue(r.get(), i, 2));
        m.lastSeenMs = std::stoll(PQgetvalue(r.get(), i, 3));
        if (!PQgetisnull(r.get(), i, 4))
            m.fasteningCounter = static_cast<uint32_t>(std::stoll(PQgetvalue(r.get(), i, 4)));
        m.entries = std::stoll(PQgetvalue(r.get(), i, 5));
        out.push_back(std::move(m));
    }
    return out;
}

std::vector<HistoryEntry> cServerHistory::Entries(const std::string& serialNr, HistoryError& error,
                                                  bool withImages, int limit) {
    std::string where = "WHERE serial_nr = $1 AND kind = 'machine' ORDER BY time_ms DESC, seq DESC";
    if (limit > 0)
        where += " LIMIT " + std::to_string(limit);
    return Select(where, {FromLatin1(serialNr)}, withImages, error);
}

std::optional<HistoryEntry> cServerHistory::Entry(int64_t id, HistoryError& error) {
    std::vector<HistoryEntry> found = Select("WHERE seq = $1", {std::to_string(id)}, true, error);
    if (!found.empty())
        return found[0];
    if (!error)
        error = {HistoryError::NotFound, "#" + std::to_string(id)};
    return std::nullopt;
}

std::optional<HistoryEntry> cServerHistory::EntryByUuid(const std::string& uuid,
                                                        HistoryError& error) {
    if (!IsUuid(uuid)) {
        error = {HistoryError::NotFound, uuid};
        return std::nullopt;
    }
    std::vector<HistoryEntry> found = Select("WHERE uuid = $1::uuid", {uuid}, true, error);
    if (!found.empty())
        return found[0];
    if (!error)
        error = {HistoryError::NotFound, uuid};
    return std::nullopt;
}

std::optional<HistoryEntry> cServerHistory::LastBackup(const std::string& serialNr,
                                                       const std::string& command,
                                                       HistoryError& error) {
    std::vector<HistoryEntry> found =
        Select("WHERE serial_nr = $1 AND command = $2 AND kind = 'machine' AND image_before IS "
               "NOT NULL ORDER BY time_ms DESC, seq DESC LIMIT 1",
               {FromLatin1(serialNr), Utf8(command)}, true, error);
    if (found.empty())
        return std::nullopt;
    return found[0];
}

std::vector<HistoryEntry> cServerHistory::Records(const std::string& kind, HistoryError& error) {
    return Select("WHERE kind = $1 AND kind <> 'machine' ORDER BY time_ms, seq", {Utf8(kind)}, true,
                  error);
}
