// The service history: one SQLite database ("history.sqlite" in the data folder) with one entry
// for every machine command that reached a machine, and a list of the machines seen.
//
// An entry is made in two steps for a write: the backup (the machine's state before the first
// byte is written, result still open) and its completion once the command ended. A command that
// only reads is stored whole at once. Every change is one transaction, so a crash or a full
// disk leaves the history as it was before the change.
//
// A file that is damaged, not ours, or written by a newer program is never emptied: it is
// renamed beside the new one ("history.sqlite.damaged-YYYYMMDD-HHMMSS") and a new database is
// made; Open says so in its notice.
#pragma once

#include "model/ParameterBlock.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

struct HistoryError {
    enum Kind {
        None,
        Locked,   // another program holds the database
        ReadOnly, // the file or its folder cannot be written
        Full,     // the disk (or the allowed size) is full
        Damaged,  // the database reports damage
        NotFound, // no entry with that id
        Other,
    };
    Kind kind = None;
    std::string detail; // SQLite's own words or the system's, for the message

    explicit operator bool() const { return kind != None; }
};

// Why a file was moved aside on opening, and where it went.
struct HistoryNotice {
    enum Reason { None, Damaged, Foreign, Newer };
    Reason reason = None;
    std::filesystem::path movedTo;
    std::string detail;

    explicit operator bool() const { return reason != None; }
};

struct HistoryEntry {
    int64_t id = 0;
    int64_t timeMs = 0; // UTC, milliseconds since 1970
    std::string command;
    std::optional<int> result; // none: the backup was stored, the command never reported back
    std::string message;       // the message shown
    // The machine as its image names it (trimmed texts).
    std::string machineType, serialNr, elAssembly, swVersion;
    std::optional<uint32_t> fasteningCounter;
    std::optional<ParameterBlock> before; // the machine's image read before the command
    std::optional<ParameterBlock> after;  // the image sent, or read
    std::vector<uint8_t> extra;           // emulation area (main) or 128-byte EEPROM (supervisor)

    // The image an entry stands for: the state before a write, else the image read.
    const std::optional<ParameterBlock>& Image() const { return before ? before : after; }
    // Identity texts from an image (type, serial number, electronics, firmware).
    void TakeIdentity(const ParameterBlock& image);
};

struct HistoryMachine {
    std::string serialNr;
    std::string machineType;
    std::string swVersion;
    int64_t lastSeenMs = 0;
    std::optional<uint32_t> fasteningCounter;
    int64_t entries = 0;
};

class cHistoryStore {
public:
    static constexpr const char* kFileName = "history.sqlite";
    static constexpr int kSchemaVersion = 2;
    static constexpr int32_t kApplicationId = 0x4B4C5648; // "KLVH"

    cHistoryStore() = default;
    ~cHistoryStore();
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
    void Close();
    bool IsOpen() const { return db_ != nullptr; }
    bool IsReadOnly() const { return readOnly_; }
    const std::filesystem::path& File() const { return file_; }

    // How long a change waits for another program's lock before it gives up (default 3 s).
    void SetBusyTimeout(int milliseconds);

    // Stores a new entry; its id, or 0 with error. Each call is one transaction.
    int64_t Add(const HistoryEntry& entry, HistoryError& error);
    // Several entries in one transaction (a bulk import); false stores none of them.
    bool AddAll(const std::vector<HistoryEntry>& entries, HistoryError& error);
    // The outcome of the command a backup was made for: result, message, the image after,
    // the counter. The backup's own fields stay.
    bool Complete(int64_t id, int result, const std::string& message,
                  const std::optional<ParameterBlock>& after,
                  std::optional<uint32_t> fasteningCounter, HistoryError& error);

    // One row a serial number, most recently seen first.
    std::vector<HistoryMachine> Machines(HistoryError& error);
    // A machine's entries, newest first, without images unless asked.
    std::vector<HistoryEntry> Entries(const std::string& serialNr, HistoryError& error,
                                      bool withImages = false);
    std::optional<HistoryEntry> Entry(int64_t id, HistoryError& error);
    // The newest entry of a machine that holds an image before the write for this command.
    std::optional<HistoryEntry> LastBackup(const std::string& serialNr, const std::string& command,
                                           HistoryError& error);

    // Entries still open (backed up, never completed), oldest first, with images: those of one
    // machine, or of every machine when serialNr is nullopt.
    std::vector<HistoryEntry> OpenEntries(const std::optional<std::string>& serialNr,
                                          HistoryError& error);

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
    bool Migrate(HistoryError& error);
    HistoryError ErrorOf(int code) const;
    int64_t Insert(const HistoryEntry& entry, HistoryError& error);
    bool TouchMachine(const HistoryEntry& entry, HistoryError& error);

    sqlite3* db_ = nullptr;
    std::filesystem::path file_;
    bool readOnly_ = false;
    int busyMs_ = 3000;
};
