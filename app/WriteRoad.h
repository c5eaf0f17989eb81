// The road every write to a machine takes, whatever it writes (the parameter block, the main
// firmware's application area, the supervisor's EEPROM and program):
//   check -> backup -> reconnect, the same machine? -> write (a line failure tried once more,
//   a refusal shown at once) -> read back and compare -> record.
// A command asks its own questions first and hands the road what to write; the road answers
// with an outcome and leaves the command's own messages of success and failure to it.
#pragma once

#include "app/MachineJournal.h"
#include "link/ResultCodes.h"
#include "link/STM.h"
#include "model/ParameterBlock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class cDialogMain;
class MachineCatalog;

// How a write ended.
struct WriteOutcome {
    enum class End {
        Written,      // read back and compared: the machine holds what was sent
        Invalid,      // the check refused it (its message shown); nothing sent
        NoBackup,     // the backup failed and the user stopped; nothing sent
        WrongMachine, // another machine answered ("ungültige Zielmaschine" shown); nothing sent
        Failed,       // the write or its read-back failed (kResultStopped: stopped on request)
    };
    End end = End::Failed;
    int result = kResultOk; // the last result code; kResultRefused when the read-back differs
    bool differs = false;   // read back, and not what was sent
    std::optional<uint32_t> firstDifference; // machine address of the first differing byte
    int64_t entryId = 0;                     // the history entry of the write (0: none)
    // The machine's parameter image before the write, and as read back (block writes).
    std::optional<ParameterBlock> before;
    std::optional<ParameterBlock> after;

    bool Written() const { return end == End::Written; }
};

// What every write names.
struct WriteOptions {
    const char* command = "";     // the menu's German name, for the history
    const char* successText = ""; // the messages the command shows (German), for the history
    const char* failureText = "";
    std::optional<uint32_t> fasteningCounter;
    // The rollout this write is part of ("" none), carried to the history entry.
    std::string rolloutId;
    // The machine's serial number for an entry whose images do not name it ("" unknown).
    std::string serialNr;
};

// One parameter image to the machine.
struct BlockWrite {
    WriteOptions options;
    ParameterBlock before;   // the machine's image as read at the command's start
    ParameterBlock outgoing; // what is to be sent
    // Tables the check uses; null: loaded for `before`.
    const MachineCatalog* catalog = nullptr;
    // Checked against the machine's password before anything else ("Ungültiges Passwort");
    // none: the command has checked it or needs none.
    std::optional<std::string> password;
    // The command read `before` just now and left the port open with the link connected (the
    // rollout): the first try writes over that link instead of reconnecting.
    bool linkConnected = false;
};

// A main firmware image for the application area.
struct FirmwareWrite {
    WriteOptions options;
    bool recovery = false;     // the block area was not usable: no identity to compare
    ParameterBlock before;     // the machine's image as read at the start (not in recovery)
    ParameterBlock imageBlock; // the block inside the image, as sent
    std::vector<uint8_t> image;
    std::vector<uint8_t> emulationArea; // as read before anything is written
};

// The supervisor's EEPROM and program.
struct SupervisorWrite {
    WriteOptions options;
    cSTM::Eeprom before{}; // the EEPROM as read at the start: what tells the supervisor apart
    cSTM::Eeprom eeprom{}; // from the firmware file
    cSTM::ProgramImage program{};
};

class cWriteRoad {
public:
    // The steps that differ from one target to another. The road calls them in this order;
    // Reconnect, Write and ReadBack once more after a line failure.
    class Target {
    public:
        virtual ~Target() = default;
        // Before anything is stored or sent; a finding is shown here. False stops the road.
        virtual bool Check() { return true; }
        // What the backup keeps of the machine before the write.
        virtual void Describe(MachineEvent& event) const = 0;
        // Opens the port, wakes the machine and reads what tells it apart. kResultOk with
        // `same` set, or a result code with the port closed. again: a try after a failed one,
        // when the machine may hold part of what was sent and the port may be gone for good
        // (the write's own failure says so, not the port's message).
        virtual int Reconnect(bool again, bool& same) = 0;
        virtual int Write() = 0;
        // Reads back what was written and compares: sets differs, firstDifference, after.
        virtual int ReadBack(WriteOutcome& outcome) = 0;
        virtual void Close() = 0;
        // Whether a failure with this code is tried once more.
        virtual bool Retry(int code) const;
    };

    explicit cWriteRoad(cDialogMain& controller) : c(controller) {}

    // The targets of the road. Each opens and closes the port itself.
    WriteOutcome WriteBlock(const BlockWrite& write);
    WriteOutcome WriteFirmware(const FirmwareWrite& write);
    WriteOutcome WriteSupervisor(const SupervisorWrite& write);

    // The road itself, for any target.
    WriteOutcome Run(Target& target, const WriteOptions& options);

    // The fields that tell one machine from another: type, electronics, serial number,
    // variant, gearbox, angle head.
    static bool SameMachineIdentity(const ParameterBlock& a, const ParameterBlock& b);
    // Whether a block read (its result, block and the link's block offset) shows a usable
    // image: no check error, the block offset in range, a version whose major number is
    // digits. A line failure counts as usable (it says nothing about the machine).
    static bool BlockAreaUsable(int readResult, const ParameterBlock& block, uint16_t blockOffset);

private:
    // Whether the user asked to stop (checked before each try).
    static bool StopRequested();
    // The history entry of the write: opened before the first byte, closed with the outcome.
    bool OpenEntry(const Target& target, const WriteOptions& options, MachineEvent& event,
                   WriteOutcome& outcome);
    void CloseEntry(MachineEvent& event, const WriteOutcome& outcome, const char* germanText);

    cDialogMain& c;
};
