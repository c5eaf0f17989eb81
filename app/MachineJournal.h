// What the controller tells the service history about machine commands. The history (history/)
// implements it; the controller only calls it on the road of every write and after reads, so
// app/ stays free of how entries are stored.
#pragma once

#include "model/ParameterBlock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct MachineEvent {
    std::string command;                  // the menu's German name, e.g. "zur Maschine"
    int result = 0;                       // result code; 0 success
    std::string message;                  // the message shown, translated ("" none)
    std::optional<ParameterBlock> before; // the machine's image read before the command
    std::optional<ParameterBlock> after;  // the image sent, or read after
    std::optional<uint32_t> fasteningCounter;
    // Firmware commands: the emulation area (main) or the 128-byte EEPROM (supervisor) as
    // read before anything was written.
    std::vector<uint8_t> extra;
    // The rollout a write belongs to ("" none), kept in the entry's payload.
    std::string rolloutId;
    // The machine's serial number where no image of the event names it (a supervisor update,
    // a recovery), as the controller knows it; "" unknown.
    std::string serialNr;
};

class cMachineJournal {
public:
    virtual ~cMachineJournal() = default;
    // Stores the machine's state before the first byte is written. Returns the entry's id
    // (> 0), or 0 with a reason in error when it could not be stored.
    virtual int64_t Backup(const MachineEvent& event, std::string& error) = 0;
    // The outcome of a command that reached a machine (reads too). backupId: the entry made
    // by Backup for this command, 0 for none. False with error when it was not stored.
    virtual bool Record(int64_t backupId, const MachineEvent& event, std::string& error) = 0;
    // The event stored under id (its images), for what a command offers afterwards; false with
    // error when the journal cannot give it.
    virtual bool Find(int64_t id, MachineEvent& event, std::string& error) {
        (void)id;
        (void)event;
        error = "not kept";
        return false;
    }
};
