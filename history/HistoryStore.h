// The service history on this computer: one SQLite database ("history.sqlite" in the data
// folder) with one entry for every machine command that reached a machine, the records of other
// kinds, the team's entries pulled from the server, and a list of the machines seen.
//
// An entry is made in two steps for a write: the backup (the machine's state before the first
// byte is written, result still open) and its completion once the command ended. A command that
// only reads is stored whole at once. Every change is one transaction, so a crash or a full
// disk leaves the history as it was before the change.
//
// Every stored image carries its digest; an image that does not match it is never given out.
//
// A file that is damaged or not ours is never emptied: it is renamed beside the new one
// ("history.sqlite.damaged-YYYYMMDD-HHMMSS") and a new database is made; Open says so in its
// notice. A newer program's file is neither moved nor changed: only OpenForReading reads it.
// Opening looks at the header, the schema and the tables' ends; the whole file is checked when
// the last writer did not close it ("history.sqlite.open" left unlocked) and by Check.
#pragma once

#include "history/History.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

// Why a file was moved aside on opening, and where it went.
struct HistoryNotice {
    enum Reason { None, Damaged, Foreign, Newer };
    Reason reason = None;
    std::filesystem::path movedTo;
    std::string detail;

    explicit operator bool() const { return reason != None; }
};

class cHistoryStore : public cHistory {
public:
    static constexpr const char* kFileName = "history.sqlite";
    static constexpr int kSchemaVersion = 4;
    static constexpr int32_t kApplicationId = 0x4B4C5648; // "KLVH"

    cHistoryStore() = default;
    ~cHistoryStore() override;
    cHistoryStore(const cHistoryStore&) = delete;
    cHistoryStore& operator=(const cHistoryStore&) = delete;

    // Opens the database, making it (or a new one beside a damaged or newer file) when needed,
    // and brings an older schema up to date. notice: set when a file was moved aside. False:
    // no history; error says why. A file that cannot be written is opened for reading:
    // listing works, every change fails with ReadOnly.
    bool Open(const std::filesystem::path& file, HistoryNotice& notice, HistoryError& error);
    // The open file turned out damaged while in use: it goes aside as on opening, and a new
    // one is made in its place.
    bool ReplaceDamaged(HistoryNotice& notice, HistoryError& error);
    // Opens for listing only: nothing is made, migrated, moved aside or written, no lock is
    // waited for; a newer program's history is read as it is (NewerVersion names its program).
    // Without a file the history is empty.
    bool OpenForReading(const std::filesystem::path& file, HistoryError& error);
    // The program version that wrote a history of a newer schema ("?" unknown); "" otherwise.
    const std::string& NewerVersion() const { return newerVersion_; }
    void Close();
    bool IsOpen() const { return db_ != nullptr; }
    bool IsReadOnly() const override { return readOnly_; }
    const std::filesystem::path& File() const { return file_; }

    // Who new entries name when they name nobody (default: the login name and the host name).
    void SetTechnician(const std::string& technician) { technician_ = technician; }
    void SetHost(const std::string& host) { host_ = host; }
    const std::string& Technician() const { return technician_; }

    // How long a change waits for another program's lock before it gives up (default 3 s).
    void SetBusyTimeout(int milliseconds);

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

    // ---- what the sync needs ----
    // This database's own identity (a UUID made with it): entries made here carry it.
    const std::string& StoreId() const { return storeId_; }
    // Entries made here that the server has not confirmed, oldest first, at most limit. An
    // open backup waits until its command reported back.
    std::vector<HistoryEntry> Unpushed(int limit, HistoryError& error);
    // How many entries wait to be sent (an open backup not yet).
    int64_t Waiting(HistoryError& error);
    bool MarkPushed(const std::vector<int64_t>& ids, HistoryError& error);
    // The team's entries, stored with the server's position they were read up to, in one
    // transaction; one already here (same UUID) is skipped.
    bool AddPulled(const std::vector<HistoryEntry>& entries, int64_t serverSeq,
                   HistoryError& error);
    // Small values the sync keeps (server instance, position, last sync); "" when absent.
    std::string Meta(const std::string& key);
    bool SetMeta(const std::string& key, const std::string& value, HistoryError& error);
    // Several in one transaction.
    bool SetMetas(const std::vector<std::pair<std::string, std::string>>& values,
                  HistoryError& error);
    // Another server than the last one: everything made here is sent again and the team's
    // entries are read from its beginning.
    bool StartWithServer(const std::string& instance, HistoryError& error);

    // Entries still open (backed up, never completed), oldest first, with images: those of one
    // machine, or of every machine when serialNr is nullopt.
    std::vector<HistoryEntry> OpenEntries(const std::optional<std::string>& serialNr,
                                          HistoryError& error);

    // An entry whose stored images do not match their digests: which ones ("before", "after",
    // "extra", comma-separated).
    struct Damage {
        int64_t id = 0;
        std::string serialNr, command;
        int64_t timeMs = 0;
        std::string which;
    };
    // The whole file's check: SQLite's own (problems: its findings, "" when none) and every
    // entry's images against their digests. False when the check itself could not run.
    bool Check(std::string& problems, std::vector<Damage>& damaged, HistoryError& error);

    // Where the last change failed for a full disk, about how much it needed and how much was
    // free there (bytes).
    struct Room {
        std::filesystem::path folder;
        uint64_t needed = 0, available = 0;
    };
    const Room& FullRoom() const { return room_; }

    // Limits the database's size in pages (a full disk in tests); 0 lifts it.
    bool LimitPages(int pages);

    // Local time "YYYY-MM-DD HH:MM:SS" of a UTC time in milliseconds.
    static std::string LocalTime(int64_t timeMs);
    static int64_t NowMs();

private:
    enum class Opened { Ok, Bad, Failed };
    Opened TryOpen(HistoryNotice& bad, HistoryError& error);
    bool MoveAsideAndOpen(HistoryNotice bad, HistoryNotice& notice, HistoryError& error);
    bool Exec(const char* sql, HistoryError& error);
    // What a cheap look at the file finds wrong ("" nothing, "busy" when locked), and the whole
    // file's check (all: up to 20 problems).
    std::string QuickProblem();
    std::string IntegrityProblem(bool all);
    // Marks the file open for writing ("history.sqlite.open", locked while open); true when a
    // writer before left it marked: it ended without closing.
    bool TakeOpenMark();
    void ReleaseOpenMark();
    bool Migrate(HistoryError& error);
    bool GiveUuids(HistoryError& error);
    bool GiveDigests(HistoryError& error);
    bool Writable(HistoryError& error);
    HistoryError ErrorOf(int code) const;
    uint64_t NeedOf(const HistoryEntry& entry) const;
    int64_t Insert(const HistoryEntry& entry, HistoryError& error, bool pulled = false);
    bool TouchMachine(const HistoryEntry& entry, HistoryError& error);
    std::vector<HistoryEntry> Select(const std::string& where,
                                     const std::vector<std::string>& texts, bool withImages,
                                     HistoryError& error);

    sqlite3* db_ = nullptr;
    std::filesystem::path file_;
    bool readOnly_ = false;
    bool digestsStored_ = true;
    bool forReading_ = false;
    int markFd_ = -1;
    std::string newerVersion_;
    uint64_t need_ = 0;
    mutable Room room_;
    int busyMs_ = 3000;
    std::string technician_ = LoginName();
    std::string host_ = HostName();
    std::string storeId_;
};
