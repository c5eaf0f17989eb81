// The fleet's records in the service history: the library of approved configurations (named,
// versioned, a version never changed once added), which machine must hold which, and the steps
// of rollouts; and the fleet overview computed from the history's entries.
//
// Every change is a history record (kinds "library", "assignment", "rollout", a JSON payload),
// so it travels with the team's sync like a machine command's entry, and records pulled from
// other laptops count like our own. The overview reads the history's file read-only with SQL.
#pragma once

#include "fleet/Compliance.h"
#include "fleet/DueDates.h"
#include "model/ParameterBlock.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
class cHistory;
class cHistoryStore;

struct LibraryVersion {
    std::string name;
    int version = 0;
    int64_t timeMs = 0;
    std::string user, note;
    std::string digest; // of the configuration, "%08X" five times
    ParameterBlock image;
    std::string uuid;   // of the record that added it
    bool intact = true; // the image matches the digest
};

// A configuration reference "NAME" or "NAME@VERSION".
struct LibraryRef {
    std::string name;
    std::optional<int> version;
    std::string Text() const;
};
// False for an empty name, a name with '@' or control characters, or a version that is not
// a number from 1.
bool ParseLibraryRef(const std::string& text, LibraryRef& out);
bool ValidLibraryName(const std::string& name);

struct Assignment {
    std::string serialNr;
    LibraryRef ref;          // empty name: none assigned; version: the pinned one as numbered now
    std::string digest;      // of the pinned version ("" follows the newest)
    std::string versionUuid; // the pinned version's record
    int64_t timeMs = 0;
    std::string user;
};

enum class FleetCompliance { NoneAssigned, Yes, No, NotChecked };
const char* FleetComplianceName(FleetCompliance c); // "none", "yes", "no", "not checked"

struct FleetMachine {
    std::string serialNr, machineType, swVersion, place;
    std::optional<int64_t> lastSeenMs;    // none: assigned, never seen
    std::string lastSeenBy, lastSeenHost; // technician and computer of the newest entry
    std::string lastRollout; // the rollout that wrote the image the row shows ("" none)
    std::optional<uint32_t> counter;
    ServiceState service = ServiceState::Unknown;
    std::optional<bool> calibrationDue; // none without an image
    uint32_t calDate = 0;
    bool firmwareOld = false;
    std::string newestFirmware;
    std::string assigned;               // "Station-12 v3", "" when none
    std::optional<int> assignedVersion; // the version compliance was checked against
    FleetCompliance compliance = FleetCompliance::NoneAssigned;
    bool otherType = false; // the assigned configuration is for another machine type
    bool HasImage() const { return imageEntryId != 0; }
    int64_t imageEntryId = 0; // the history entry whose image the row shows
};

struct FleetOptions {
    DueSettings due;
    std::time_t now = 0;                  // 0: the current time
    std::filesystem::path firmwareFolder; // the shipped firmware files; empty: not flagged
};

class cFleetStore {
public:
    cFleetStore() = default;
    ~cFleetStore();
    cFleetStore(const cFleetStore&) = delete;
    cFleetStore& operator=(const cFleetStore&) = delete;

    // Opens the records of an open history; changes are added to it. Rows of the table
    // fleet_record an older program kept are carried into records once (the table stays).
    bool Open(cHistoryStore& history, std::string& error);
    // Reading only (every change fails).
    bool Open(const cHistoryStore& history, std::string& error);
    // The history's file: read-only, or through a history of its own.
    bool Open(const std::filesystem::path& file, bool readOnly, std::string& error);
    void Close();

    // Adds the next version of name; its number, or 0 with error. The image is taken as a
    // configuration file carries it (ConfigurationCopy): identity and maintenance data never
    // come from the library.
    //
    // Versions are numbered at every read: a name's records in the order they were added
    // (time, then the record's UUID), so laptops that added versions offline agree on the
    // numbers once they have each other's records; a pin keeps its version by the record.
    int AddVersion(const std::string& name, const ParameterBlock& image, const std::string& note,
                   std::string& error, int64_t timeMs = 0, bool* added = nullptr);
    // Every version, by name then version (name "" for all names). A version whose image no
    // longer matches its digest is left out, error naming it.
    std::vector<LibraryVersion> Versions(const std::string& name, std::string& error);
    // The version named (the newest without one); nullopt with error naming what is missing.
    std::optional<LibraryVersion> Find(const LibraryRef& ref, std::string& error);

    // Assigns ref to serial (empty ref.name: none). knownSerial tells whether the history has
    // seen the machine.
    bool Assign(const std::string& serialNr, const LibraryRef& ref, bool& knownSerial,
                std::string& error, int64_t timeMs = 0);
    std::optional<Assignment> AssignmentOf(const std::string& serialNr, std::string& error);

    // One machine of a rollout: which approval, the outcome, the digests of the machine's
    // image before and after, and the history entry of the write (0: none).
    struct RolloutStep {
        std::string rolloutId;
        LibraryRef approval;
        std::string serialNr, result, reason, before, after;
        int64_t entryId = 0;
    };
    bool RecordRollout(const RolloutStep& step, std::string& error);
    // The steps of one rollout, in order.
    std::vector<RolloutStep> Rollout(const std::string& rolloutId, std::string& error);

    // What a machine's image says against its assignment; NoneAssigned without one.
    struct Check {
        FleetCompliance state = FleetCompliance::NoneAssigned;
        std::optional<LibraryVersion> approved;
        Compliance compliance;
    };
    Check CheckMachine(const ParameterBlock& image, std::string& error,
                       const ConversionContext* ctx = nullptr);

    // Every machine the history knows (and every assigned serial), by serial number.
    std::vector<FleetMachine> Overview(const FleetOptions& options, std::string& error);

private:
    bool Exec(const char* sql, std::string& error);
    std::string Error() const;
    bool OpenFile(const std::filesystem::path& file, std::string& error);
    bool Writable(std::string& error) const;
    // The new record's UUID, "" with error.
    std::string AddRecord(const char* kind, const std::string& title, const nlohmann::json& payload,
                          int64_t timeMs, std::string& error);
    // The payloads of one kind's records with their time and UUID, oldest first.
    struct Raw {
        int64_t timeMs = 0;
        std::string uuid, technician;
        nlohmann::json payload;
    };
    std::vector<Raw> Records(const char* kind, std::string& error);
    // Every version, damaged ones (intact false) included.
    std::vector<LibraryVersion> AllVersions(const std::string& name, std::string& error);
    std::vector<Assignment> Assignments(std::string& error);
    bool CarryOldRecords(std::string& error);

    sqlite3* db_ = nullptr;       // the history's file, read-only: the overview and the records
    cHistory* history_ = nullptr; // where changes go; null: reading only
    cHistoryStore* store_ = nullptr;
    std::unique_ptr<cHistoryStore> ownHistory_; // Open(file, false)
    bool readOnly_ = false;
};

// "technician@host" of the newest entry of a machine ("" unknown).
std::string LastSeenBy(const FleetMachine& m);

std::string CurrentUser();
std::string DigestText(const ParameterBlock& image);

// A machine command's entry written by a rollout carries {"rollout": "<id>"} as its payload
// (other machine commands leave the payload empty).
std::vector<uint8_t> RolloutPayload(const std::string& rolloutId);
// The rollout an entry's payload names; "" for none or a payload that is not such JSON.
std::string RolloutOf(const std::vector<uint8_t>& payload);
