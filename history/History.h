// The service history as the controller, the command-line program and the Verlauf dialog see
// it: entries of machine commands and records of other kinds, listed per machine. Two stores
// hold it: the laptop's SQLite file (cHistoryStore, always written first) and the team's
// PostgreSQL server (cServerHistory); cHistorySync carries entries between them. Callers hold a
// cHistory& and never learn which one they talk to.
#pragma once

#include "model/ParameterBlock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct HistoryError {
    enum Kind {
        None,
        Locked,    // another program holds the database
        ReadOnly,  // the file or its folder cannot be written
        Full,      // the disk (or the allowed size) is full
        Damaged,   // the database reports damage
        NotFound,  // no entry with that id
        Duplicate, // an entry with this UUID is already stored
        Other,
    };
    Kind kind = None;
    std::string detail; // the database's own words or the system's, for the message

    explicit operator bool() const { return kind != None; }
};

struct HistoryEntry {
    // The kind of a machine command's entry; records of other kinds (the fleet's approved
    // configurations, machine assignments) carry their own and a payload.
    static constexpr const char* kMachineCommand = "machine";

    int64_t id = 0;     // the store's own number (differs between laptop and server)
    std::string uuid;   // the same everywhere; made on adding when empty
    int64_t timeMs = 0; // UTC, milliseconds since 1970
    std::string kind = kMachineCommand;
    std::string command;
    std::optional<int> result; // none: the backup was stored, the command never reported back
    std::string message;       // the message shown
    // The machine as its image names it (trimmed texts).
    std::string machineType, serialNr, elAssembly, swVersion;
    std::optional<uint32_t> fasteningCounter;
    std::optional<ParameterBlock> before; // the machine's image read before the command
    std::optional<ParameterBlock> after;  // the image sent, or read
    std::vector<uint8_t> extra;           // emulation area (main) or 128-byte EEPROM (supervisor)
    std::vector<uint8_t> payload;         // a record's content (JSON text or bytes)
    std::string technician;               // who ran it; the store's technician when empty
    std::string host;                     // on which computer; the store's when empty
    bool fromHere = true;                 // made on this computer, not pulled from the team
    // The digests (ImageDigest) of before, after and extra as they were stored, made when they
    // are stored and checked on every use; empty where no image is kept or, for an entry pulled
    // from a server that kept none, none was sent.
    std::string beforeDigest, afterDigest, extraDigest;

    // The image an entry stands for: the state before a write, else the image read. None when
    // the image before was stored but withheld as damaged: never the other one in its place.
    const std::optional<ParameterBlock>& Image() const {
        static const std::optional<ParameterBlock> none;
        return before ? before : !beforeDigest.empty() ? none : after;
    }
    // Identity texts from an image (type, serial number, electronics, firmware).
    void TakeIdentity(const ParameterBlock& image);
    bool IsMachineCommand() const { return kind == kMachineCommand; }

    // A record of another kind: kind, a short title in command, the payload.
    static HistoryEntry Record(const std::string& kind, const std::string& title,
                               std::vector<uint8_t> payload);
};

struct HistoryMachine {
    std::string serialNr;
    std::string machineType;
    std::string swVersion;
    int64_t lastSeenMs = 0;
    std::optional<uint32_t> fasteningCounter;
    int64_t entries = 0;
};

class cHistory {
public:
    virtual ~cHistory() = default;

    // Stores a new entry (a UUID, the technician and the host are filled in when empty); its
    // id, or 0 with error (Duplicate when its UUID is stored already). One transaction.
    virtual int64_t Add(const HistoryEntry& entry, HistoryError& error) = 0;
    // Several entries in one transaction; false stores none of them.
    virtual bool AddAll(const std::vector<HistoryEntry>& entries, HistoryError& error) = 0;
    // The outcome of the command a backup was made for: result, message, the image after,
    // the counter. The backup's own fields stay.
    virtual bool Complete(int64_t id, int result, const std::string& message,
                          const std::optional<ParameterBlock>& after,
                          std::optional<uint32_t> fasteningCounter, HistoryError& error) = 0;

    // One row a serial number, most recently seen first (machine commands only).
    virtual std::vector<HistoryMachine> Machines(HistoryError& error) = 0;
    // A machine's entries, newest first, without images unless asked; limit 0: all.
    virtual std::vector<HistoryEntry> Entries(const std::string& serialNr, HistoryError& error,
                                              bool withImages = false, int limit = 0) = 0;
    virtual std::optional<HistoryEntry> Entry(int64_t id, HistoryError& error) = 0;
    virtual std::optional<HistoryEntry> EntryByUuid(const std::string& uuid,
                                                    HistoryError& error) = 0;
    // The newest entry of a machine that holds an image before the write for this command.
    virtual std::optional<HistoryEntry>
    LastBackup(const std::string& serialNr, const std::string& command, HistoryError& error) = 0;
    // Records of one kind (not machine commands), oldest first, payloads included.
    virtual std::vector<HistoryEntry> Records(const std::string& kind, HistoryError& error) = 0;

    virtual bool IsReadOnly() const = 0;
};

// 40 upper-case hex digits of the SHA-1 of bytes: a check against damage, not against forgery.
std::string ImageDigest(const uint8_t* data, size_t size);
std::string ImageDigest(const ParameterBlock& image);
// Whether every image an entry names by a digest is there and matches it. A store withholds an
// image that does not match, so a damaged one never reaches a caller; which: the damaged ones
// ("before", "after", "extra", comma-separated) when false.
bool ImagesIntact(const HistoryEntry& entry, std::string& which);

// Who and where, for entries made here.
std::string LoginName();
std::string HostName();
// A random (version 4) UUID from the system's random source, "xxxxxxxx-xxxx-4xxx-...".
std::string NewUuid();
bool IsUuid(const std::string& text);
