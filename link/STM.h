// The link to the machine's supervisor controller ("SUPV") through its own boot loader: the
// trigger at 9600 baud, then Intel HEX text records at 115200 baud, the end record with the
// loader's status, and the EEPROM read.
#pragma once

#include "link/QVX.h"
#include "link/SerialPort.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

class cSTM {
public:
    using Eeprom = std::array<uint8_t, 128>;
    using ProgramImage = std::array<uint8_t, 8192>;

    // The port is not owned and must be open (at 9600 baud) for the whole sequence.
    explicit cSTM(ISerialPort* port);
    virtual ~cSTM();
    cSTM(const cSTM&) = delete;
    cSTM& operator=(const cSTM&) = delete;

    // Both may be null.
    void SetStatusTargets(ILinkStatusBar* bar, ILinkProgress* progress) {
        statusBar = bar;
        progressBar = progress;
    }
    // Shows a message box (German text, still to be translated): "Wrong Trigger".
    void SetMessageFunction(std::function<void(const std::string& germanText)> fn) {
        showMessage = std::move(fn);
    }
    // Replaces the fixed waits (700, 100, 200, 50 ms). The pauses after the text records are
    // what the loader needs to program its flash and always run on the clock.
    void SetPauseFunction(std::function<void(int milliseconds)> fn) { pause = std::move(fn); }

    // Wakes the boot loader and switches to 115200 baud. 0; -7 nothing but silence (and the
    // line's echo) came back; -103 another byte than the answer came (after "Wrong Trigger");
    // -101 a line setting failed.
    int Trigger();
    // The 128-byte EEPROM: 0; -7 no end of the answer within 3 s; -4 a record's check sum is
    // wrong or the answer ended before 128 bytes; -102 the request did not leave. The
    // destination is zero-filled first.
    int ReadSupervisorEeprom(std::span<uint8_t, 128> destination);
    // The data as text records of perRecord bytes at base + offset, each followed by carriage
    // returns at line speed for pauseMs. 0; -102 a record did not leave (the port says why).
    int SendHexRecords(uint16_t base, const uint8_t* data, size_t length, uint8_t type,
                       size_t perRecord, int pauseMs);
    // ":00000001FF" and 0x00; the loader's status: 0 "0", -2 "1" or unknown, -4 "2"/"3",
    // -7 "4" or no status within 10 s; -102 the record did not leave.
    int SendEndRecord();
    // Trigger, 200 ms, the EEPROM image at 0x4000 (type 0x0A, 10 ms pauses), the program image
    // at 0x8000 (type 0x00, 20 ms pauses), the end record.
    int Program(std::span<const uint8_t, 128> eeprom, std::span<const uint8_t, 8192> program);

    // ":" count address type data check, upper-case hex, without the carriage return.
    static std::string TextRecord(uint16_t address, uint8_t type, const uint8_t* data,
                                  size_t count);
    // Status character of the end record's answer as a result code.
    static int EndStatusResult(uint8_t status);
    // The supervisor version: LE 32 at offset 120 of an EEPROM image.
    static uint32_t SupervisorVersion(std::span<const uint8_t, 128> eeprom);

    static constexpr int kTriggerBaud = 9600;
    static constexpr int kLoaderBaud = 115200;
    static constexpr uint16_t kEepromAddress = 0x4000;
    static constexpr uint16_t kProgramAddress = 0x8000;
    static constexpr uint8_t kTypeEeprom = 0x0A;
    static constexpr uint8_t kTypeProgram = 0x00;
    static constexpr uint8_t kTypeEnd = 0x01;
    static constexpr int kEepromPauseMs = 10;
    static constexpr int kProgramPauseMs = 20;
    static constexpr size_t kBytesPerRecord = 64;
    static constexpr uint8_t kTriggerStart = 0xFF;
    static constexpr uint8_t kTriggerByte = 0xF8;
    static constexpr uint8_t kTriggerAnswer = 0x80;
    static constexpr uint8_t kReadRequest = 0x40;
    static constexpr size_t kVersionOffset = 120;

private:
    using Clock = std::chrono::steady_clock;

    void Pause(int milliseconds);
    // Waits until input is queued or the deadline passes; false at the deadline.
    bool WaitInput(Clock::time_point deadline);
    void DrainInput();
    // Carriage returns back to back at line speed for pauseMs after the first one.
    void FillPause(int pauseMs);
    void ShowTransfer(const char* germanText);
    void EndTransfer();

    ISerialPort* port;
    ILinkStatusBar* statusBar = nullptr;
    ILinkProgress* progressBar = nullptr;
    std::function<void(const std::string&)> showMessage;
    std::function<void(int)> pause;
};
