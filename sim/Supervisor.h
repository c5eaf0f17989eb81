// The simulated machine's supervisor controller: its boot loader on the same line as the main
// controller, reached with bytes at 9600 baud (the trigger) and then 115200 baud.
//
// - Trigger: after 0xFF the first 0xF8 is answered with 0x80, and the loader listens at
//   115200 from then on.
// - Text records ":" count address type data check CR (hex digits): type 0x0A at 0x4000..0x407F
//   is EEPROM data, type 0x00 at 0x8000..0x9FFF program data. After each record the loader needs
//   its pause filled with carriage returns: 10 ms (EEPROM) or 20 ms (program) of line time. A
//   bad check sum, a malformed record or an address outside the images is a check error; a
//   record that comes before its pause has passed is lost (failure).
// - End record ":00000001FF" and 0x00: the status character and 0x04: "0" and the images
//   received take the place of the kept ones; "2" check error; "1" failure. Nothing changes
//   unless the status is "0".
// - 0x40: the EEPROM as binary records ":" count addrHi addrLo type data check: three records of
//   type 0x0B (loader identity), 128 one-byte records of type 0x0A, an end record of type 0x01.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

enum class SimSupervisorFault {
    None,
    WrongTrigger, // the trigger is answered with 0x81
    Silent,       // no answer at all (the echo stays)
    CheckError,   // the end record is answered with "3" (check error)
    FailStatus,   // the end record is answered with "1" (failure)
};

struct SimSupervisorCounters {
    uint64_t triggers = 0;    // trigger answers sent
    uint64_t records = 0;     // text records taken
    uint64_t badRecords = 0;  // check sum, form or address wrong
    uint64_t shortPauses = 0; // records that came before their pause had passed
    uint64_t endRecords = 0;  // end records answered
    uint64_t programmed = 0;  // end records that replaced the images
    uint64_t eepromReads = 0; // EEPROM answers sent
};

class SimSupervisor {
public:
    using Eeprom = std::array<uint8_t, 128>;
    using Program = std::array<uint8_t, 8192>;

    SimSupervisor();

    // One byte from the program at line speed baud (only 9600 and 115200 reach here);
    // appends the answer to reply.
    void Feed(uint8_t byte, unsigned baud, std::vector<uint8_t>& reply);
    // The line was closed: back to waiting for the trigger.
    void Reset();

    void SetFault(SimSupervisorFault mode) { fault = mode; }
    const SimSupervisorCounters& Counters() const { return counters; }
    void ResetCounters() { counters = {}; }

    const Eeprom& EepromImage() const { return eeprom; }
    const Program& ProgramImage() const { return program; }
    void SetImages(const Eeprom& e, const Program& p);

    // Kept in DIR as "supv_eeprom.bin" and "supv_program.bin". Load: true when nothing is kept
    // yet or both files were read; false (why set) for files of another size.
    bool Load(const std::string& dir, std::string& why);
    bool Save(const std::string& dir, std::string& why) const;
    // True after the images changed and before the next Save.
    bool Dirty() const { return dirty; }
    void ClearDirty() { dirty = false; }

    // Version 0x00010002 at offset 120 of the default EEPROM.
    static Eeprom DefaultEeprom();
    static Program DefaultProgram();
    static constexpr uint32_t kDefaultVersion = 0x00010002;

private:
    enum class State { Idle, Started, Loader };
    void TakeRecord();
    void AnswerEnd(std::vector<uint8_t>& reply);
    void AnswerEepromRead(std::vector<uint8_t>& reply);

    SimSupervisorFault fault = SimSupervisorFault::None;
    SimSupervisorCounters counters;
    State state = State::Idle;
    std::string line; // text record being received
    bool inRecord = false;
    unsigned crSinceRecord = 0; // carriage returns after the last record
    unsigned crNeeded = 0;      // line time of its pause, in carriage returns
    bool checkError = false;
    bool lost = false;
    bool endPending = false; // ":00000001FF" seen, 0x00 expected
    Eeprom eeprom{};
    Program program{};
    Eeprom stagedEeprom{};
    Program stagedProgram{};
    bool dirty = false;
};
