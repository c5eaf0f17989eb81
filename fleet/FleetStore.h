// The fleet's records beside the service history: the library of approved configurations
// (named, versioned, a version never changed once added) and which machine must hold which,
// and the fleet overview computed from the history's entries.
//
// Kept in the history's database in the table fleet_record (one row a record: a kind and its
// fields) on a connection of its own, until the history carries records of other kinds than
// machine commands; then these records move there and travel with its sync.
#pragma once

#include "fleet/Compliance.h"
#include "fleet/DueDates.h"
#include "model/ParameterBlock.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
class cHistoryStore;

struct LibraryVersion {
    std::string name;
    int version = 0;
    int64_t timeMs = 0;
    std::string user, note;
    std::string digest; // of the configuration, "%08X" five times
    ParameterBlock image;
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
    LibraryRef ref; // empty name: none assigned
    int64_t timeMs = 0;
    std::string user;
};

enum class FleetCompliance { NoneAssigned, Yes, No, NotChecked };
const char* FleetComplianceName(FleetCompliance c); // "none", "yes", "no", "not checked"

struct FleetMachine {
    std::string serialNr, machineType, swVersion, place;
    std::optional<int64_t> lastSeenMs; // none: assigned, never seen
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

    // Opens the records in the open history's database (making the table when it can).
    bool Open(const cHistoryStore& history, std::string& error);
    bool Open(const std::filesystem::path& file, bool readOnly, std::string& error);
    void Close();

    // Adds the next version of name; its number, or 0 with error. The image is taken as a
    // configuration file carries it (ConfigurationCopy): identity and maintenance data never
    // come from the library.
    int AddVersion(const std::string& name, const ParameterBlock& image, const std::string& note,
                   std::string& error, int64_t timeMs = 0);
    // Every version, by name then version (name "" for all names).
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

    sqlite3* db_ = nullptr;
    bool readOnly_ = false;
};

std::string CurrentUser();
std::string DigestText(const ParameterBlock& image);

// A machine command's entry written by a rollout carries {"rollout": "<id>"} as its payload
// (other machine commands leave the payload empty).
std::vector<uint8_t> RolloutPayload(const std::string& rolloutId);
// The rollout an entry's payload names; "" for none or a payload that is not such JSON.
std::string RolloutOf(const std::vector<uint8_t>& payload);
