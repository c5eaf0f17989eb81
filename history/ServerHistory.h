// The team's history on a PostgreSQL server (schema "kelvane", table kelvane.entry), through
// libpq. The server is named by a libpq connection string or service name; passwords and TLS
// come from where libpq takes them (~/.pgpass, PGPASSFILE, the service file, sslmode).
//
// Rows are only ever added: a technician's role may insert and read. Every insert takes one
// advisory lock for its transaction, so rows become visible in the order of their seq and a
// laptop can read the team's entries after the last seq it has without missing one.
#pragma once

#include "history/History.h"

#include <filesystem>
#include <string>
#include <vector>

struct pg_conn;

// Why the server could not be used, in the words a technician can act on.
struct ServerError {
    enum Kind {
        None,
        Unreachable, // server down, no route, connection cut
        Auth,        // wrong or missing password, no such login role
        NoDatabase,  // the database named does not exist
        Permission,  // the role lacks a grant (kelvane_technician)
        NoSchema,    // server init was never run
        SchemaOld,   // server init of an older Kelvane: run it again
        SchemaNew,   // a newer Kelvane made the schema: update this one
        Full,        // the server's disk is full
        Busy,        // the server lacks memory or connections for now
        Config,      // the connection string or service cannot be used
        Local,       // the laptop's own history failed
        Other,
    };
    Kind kind = None;
    std::string detail; // the server's or libpq's own words

    explicit operator bool() const { return kind != None; }
};

class cServerHistory : public cHistory {
public:
    // The schema version this program reads and writes (data/sql/kelvane-N.sql up to N).
    static constexpr int kSchemaVersion = 2;

    cServerHistory() = default;
    ~cServerHistory() override;
    cServerHistory(const cServerHistory&) = delete;
    cServerHistory& operator=(const cServerHistory&) = delete;

    // Connects (a connect time-out of 10 s unless conninfo names one). False with error.
    bool Connect(const std::string& conninfo, ServerError& error);
    void Disconnect();
    bool IsConnected() const { return conn_ != nullptr; }

    // The schema's version and the server's identity; false (NoSchema, SchemaOld, SchemaNew,
    // Permission, ...) when this program cannot use it.
    bool CheckSchema(std::string& instance, ServerError& error);

    // server init: creates or upgrades the schema from the files sqlFolder/kelvane-N.sql in one
    // transaction. fromVersion: what was there (0 none); false with error (a newer schema is
    // refused, SchemaNew).
    bool InitSchema(const std::filesystem::path& sqlFolder, int& fromVersion, ServerError& error);

    // Entries made by the laptop database `source`; an entry the server has (same UUID) is
    // skipped. One transaction: all or none.
    bool Push(const std::vector<HistoryEntry>& entries, const std::string& source,
              ServerError& error);
    // Up to limit entries after afterSeq that another database made, oldest first. nextSeq:
    // where the next pull starts; more: whether there may be more.
    bool Pull(int64_t afterSeq, const std::string& source, int limit,
              std::vector<HistoryEntry>& entries, int64_t& nextSeq, bool& more, ServerError& error);

    // The laptop database entries added through Add are said to come from (default: a new
    // UUID for this object).
    void SetSource(const std::string& source) { source_ = source; }
    void SetTechnician(const std::string& technician) { technician_ = technician; }

    // cHistory: the server's own numbering is its seq. Entries are never changed here, so
    // Complete fails.
    int64_t Add(const HistoryEntry& entry, HistoryError& error) override;
    bool AddAll(const std::vector<HistoryEntry>& entries, HistoryError& error) override;
    bool Complete(int64_t id, int result, const std::string& message,
                  const std::optional<ParameterBlock>& after,
                  std::optional<uint32_t> fasteningCounter, HistoryError& error) override;
    std::vector<HistoryMachine> Machines(HistoryError& error) override;
    std::vector<HistoryEntry> Entries(const std::string& serialNr, HistoryError& error,
                                      bool withImages = false, int limit = 0) override;
    std::optional<HistoryEntry> Entry(int64_t id, HistoryError& error) override;
    std::optional<HistoryEntry> EntryByUuid(const std::string& uuid, HistoryError& error) override;
    std::optional<HistoryEntry> LastBackup(const std::string& serialNr, const std::string& command,
                                           HistoryError& error) override;
    std::vector<HistoryEntry> Records(const std::string& kind, HistoryError& error) override;
    bool IsReadOnly() const override { return false; }

    // The kind of a libpq failure text (connection phase: libpq gives no SQLSTATE there).
    static ServerError::Kind KindOfMessage(const std::string& message);

private:
    // One value of a row to insert, in the form its column takes.
    struct Field {
        enum Type { Null, Text, Bytes, Int32, Int64 } type;
        std::string data; // Text, Bytes
        int64_t number;   // Int32, Int64
    };
    std::vector<Field> Fields(const HistoryEntry& e, const std::string& source) const;
    bool PushTable();
    bool CopyRows(const std::vector<HistoryEntry>& entries, const std::string& source,
                  ServerError& error);
    bool Insert(const std::vector<HistoryEntry>& entries, const std::string& source, bool skipKnown,
                ServerError& error);
    bool InsertRows(const std::vector<HistoryEntry>& entries, size_t first, size_t end,
                    const std::string& source, bool skipKnown, ServerError& error);
    std::vector<HistoryEntry> Select(const std::string& where,
                                     const std::vector<std::string>& params, bool withImages,
                                     HistoryError& error);
    bool Exec(const std::string& sql, ServerError& error);

    pg_conn* conn_ = nullptr;
    int pushTable_ = -1; // pg_temp.push_rows made in this session: 1, refused: 0, not tried: -1
    std::string source_ = NewUuid();
    std::string technician_ = LoginName();
    std::string host_ = HostName();
};

HistoryError HistoryErrorOf(const ServerError& error);
