// The simulated machine: a main controller with its boot loader and the downloaded loader,
// answering on a pseudo-terminal as the real machine answers on its serial line.
//
// Tests run it in-process: fill SimOptions, Start() (returns the slave device path the link
// opens), run the link against it, Stop(). The executable kelvane-sim wraps the same class.
//
// What the line does:
// - Every byte the program sends comes back as echo, whatever state the machine is in.
// - The machine reads the line speed the program set (tcgetattr on the master, which on Linux
//   reports the slave's settings) and ignores bytes sent at another speed than its own; they are
//   counted as wrongSpeedBytes. The boot loader listens at 19200 baud; after the speed switch the
//   machine runs at 230400 until it is reset.
// - Replies and echo are paced at the line speed (10 bit times a byte) unless pacing is off.
// - A reset (back to the boot loader at 19200) comes with closing the device (the real port
//   drops DTR), with the wake-up byte 0xFF where a frame would start, and after a second of
//   silence in the middle of a frame.
//
// Machine address map (flash from 0x10000000, memorySizeCode bytes long):
//   0x10000F00            32 bytes  information block, memory-size code at byte 24 (LE)
//   0x10001000            ...       application area (firmware image), up to the flash end
//   0x10001100            1024      block area; bytes 0,1 are 0x20 0x01 (block at offset 0) or
//                                   the block offset, big-endian
//   flashEnd - 0x200      2         pointer word (big-endian) to the layout descriptor
//   pointer word + ptr    6         emulation start (LE 32), emulation length (LE 16)
//   emulationStart        emulationLength   EEPROM emulation area, 16-byte records
//
// The supervisor controller (sim/Supervisor.h): bytes at 9600 baud (its trigger) and 115200
// baud (its boot loader) go to it; it keeps a 128-byte EEPROM and an 8192-byte program image,
// in --state DIR too.
#pragma once

#include "sim/Supervisor.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class SimFault {
    None,
    Silent,        // from the triggering wake-up on the machine sends nothing (echo stays)
    RefuseCommand, // command frames (read and begin-write) are answered with a refusal
    RefuseData,    // data frames are answered with a refusal
    BadChecksum,   // read replies carry a wrong check byte
    LoseBytes,     // bytes are lost in the middle of read replies
    BadWakeup,     // the wake-up answer does not start with 0xA2; the machine stays at 19200
    HangupInWrite, // the line goes away in the middle of a data frame (the master is closed)
    Unplug,     // the adapter is pulled at a read command or a data frame: the device vanishes and
                // the announcement goes
    LostEndAck, // the end frame is taken but never answered; the loader stays quiet until
                // the next wake-up
    DropFrame,  // one data frame is acknowledged but not stored
    Swap,       // from the second wake-up (or supervisor trigger) on, another machine
                // answers: another serial number, another supervisor EEPROM
    // The supervisor's boot loader (these hit from the first event on, faultSkip aside):
    SupvWrongTrigger, // the trigger is answered with 0x81 instead of 0x80
    SupvSilent,       // the supervisor does not answer the trigger (echo stays)
    SupvCheckError,   // the end record is answered with the check error "3"
    SupvFailStatus,   // the end record is answered with the failure "1"
};

struct SimFaultInfo {
    SimFault mode;
    const char* name; // as on the command line: "silent", "refuse-command", ...
    const char* what; // one line for --help
};

// Every mode but None, in a fixed order.
const std::vector<SimFaultInfo>& SimFaultModes();
const char* SimFaultName(SimFault mode); // "none" for None
// Accepts the names of SimFaultModes() and "none".
std::optional<SimFault> ParseSimFault(std::string_view name);

// Clears the exclusive flag a client left on the slave of the pseudo-terminal `master` when it
// ended without closing the line (killed): the flag outlives it while we keep the master, and
// the next client could not open the line. Needs the right to open past the flag (root).
void ClearLeftExclusiveFlag(int master);

// Refusal byte of the simulated loader (any byte but 'U'/'P' refuses).
inline constexpr uint8_t kSimRefusal = 'N';

struct SimOptions {
    // n of the wake-up answer 0xA2 nHi nLo; above 40 the machine expects the divisor
    // 12288 / (n + 1) and switches to 230400 baud.
    uint16_t wakeupN = 256;
    // Offset of the parameter image inside the block area (0..512).
    uint16_t blockOffset = 0;
    // Memory-size code in the information block (0x3000 ... 0x33000). An unknown code is put
    // into the information block as it is, and the flash keeps the size of 0x11000.
    uint32_t memorySizeCode = 0x11000;
    // Emulation area; start 0 places it right below the pointer word (256-aligned).
    uint32_t emulationStart = 0;
    uint16_t emulationLength = 4096;
    // Pointer word value; 0 stores the descriptor at the pointer word itself, whose first two
    // bytes then read 0x00 0xFC (needs an emulation start ending in 0xFC00).
    uint16_t descriptorPointer = 0x0010;
    // Fastening count the fresh emulation area holds (in type-10 records).
    uint32_t fasteningCounter = 1234;

    bool pacing = true;
    // Latency timer of the emulated USB-serial chip in ms (0: none): what the machine sends
    // (echo included) reaches the program in packets, one leaving when 62 bytes are full or
    // when the timer has run out since its first byte, as an FTDI chip does.
    unsigned adapterLatencyMs = 0;

    // The fault hits from the (faultSkip + 1)-th triggering event on: wake-ups for Silent and
    // BadWakeup, command frames for RefuseCommand, data frames for RefuseData and
    // HangupInWrite, read replies for BadChecksum and LoseBytes. With faultAddress set only
    // events at that machine address count (the command's address, or the data frame's).
    SimFault fault = SimFault::None;
    unsigned faultSkip = 0;
    std::optional<uint32_t> faultAddress;
    // How many events the fault hits before it passes (0: no end; DropFrame always hits one).
    unsigned faultCount = 0;
    // A begin-write at the application area's start erases the area first, as a flash loader
    // does: a write cut short leaves it erased.
    bool eraseOnWrite = false;

    // Image to start from: 512 bytes, or a 560-byte configuration file (its last 512 bytes).
    // image (in-process) wins over imageFile. Neither: DefaultImage().
    std::optional<std::array<uint8_t, 512>> image;
    std::string imageFile;
    // Folder that keeps the memory across runs ("memory.bin"); when it holds a memory, that
    // memory is used and image/imageFile are not. Written atomically after every write
    // (end frame, reset, hang-up, Stop).
    std::string stateDir;

    // Announcement file for adapter discovery (device=..., serial=...).
    bool announce = true;
    std::string serial = "NORKSIM1";

    // A line of machines (0: one machine, no line): machine k (from 1) holds the image with
    // the serial number "SIM" and k in seven digits (or lineImages[k] when given), its memory
    // in stateDir/machine-k. Once the program has talked to the machine on the line and then
    // left the line silent for lineGap, that machine is unplugged and the next one plugged in;
    // after the last one no machine answers (the adapter stays, its echo too).
    unsigned machines = 0;
    std::chrono::milliseconds lineGap{1500};
    std::map<unsigned, std::array<uint8_t, 512>> lineImages;

    // Told of every exchange ("wake-up n=256", "read 0x10001100 1024", ...); called on the
    // machine's thread with its lock held, so it must not call back into the machine.
    // Empty: quiet.
    std::function<void(const std::string&)> log;
};

struct SimLineCounters {
    uint64_t received = 0; // bytes the program sent (each also echoed)
    uint64_t replied = 0;  // bytes the machine sent, echo not included
};

struct SimCounters {
    // Per line speed (baud) at the time the byte passed.
    std::map<unsigned, SimLineCounters> byBaud;
    uint64_t wakeups = 0;         // wake-up answers sent
    uint64_t speedSwitches = 0;   // switches to 230400
    uint64_t loaderDownloads = 0; // loader images accepted
    uint64_t readCommands = 0;
    uint64_t writeCommands = 0; // begin-write commands accepted
    uint64_t dataFrames = 0;    // data frames accepted
    uint64_t endFrames = 0;
    uint64_t refusals = 0;
    uint64_t wrongSpeedBytes = 0; // bytes ignored because they came at another speed
    uint64_t resets = 0;          // returns to the boot loader (close, wake-up byte, silence)
    uint64_t hangups = 0;         // lines closed by HangupInWrite or Unplug
    uint64_t droppedFrames = 0;   // data frames acknowledged but not stored (DropFrame)
    uint64_t lostEndAcks = 0;     // end frames taken without an answer (LostEndAck)
    uint64_t erases = 0;          // application areas erased by a begin-write
    // Waits the protocol prescribes to the program for the exchanges seen: 20 + 50 + 30 ms per
    // wake-up, 20 ms per speed switch, 50 ms per loader size, 500 ms per begin-write (the pause
    // before a write's reconnect).
    uint64_t prescribedWaitMs = 0;

    // The least time the line allows for what was exchanged: every byte received and every
    // byte replied at 10 bit times of its line speed, plus the prescribed waits.
    double LeastLineSeconds() const;
};

class SimMachine {
public:
    explicit SimMachine(SimOptions options = {});
    ~SimMachine(); // Stop()
    SimMachine(const SimMachine&) = delete;
    SimMachine& operator=(const SimMachine&) = delete;

    // Builds the memory, opens the pseudo-terminal, announces it and starts the machine's
    // thread. Returns the slave device path, or "" with the reason in LastError().
    std::string Start();
    // Stops the thread, saves the state, removes the announcement, closes the device.
    void Stop();
    bool Running() const;

    const std::string& DevicePath() const;
    std::string AnnouncementPath() const; // "" when not announced
    const std::string& LastError() const;
    const SimOptions& Options() const;

    // Fault mode while running (the event count starts again).
    void SetFault(SimFault mode, unsigned skip = 0, std::optional<uint32_t> address = {},
                  unsigned count = 0);

    SimCounters Counters() const;
    void ResetCounters();

    // The machine's memory as the loader sees it (thread-safe). Peek outside the flash gives
    // an empty vector; Poke outside it returns false.
    std::vector<uint8_t> Peek(uint32_t address, size_t length) const;
    bool Poke(uint32_t address, const std::vector<uint8_t>& bytes);
    // The 512-byte parameter image where the block area's first two bytes locate it.
    std::array<uint8_t, 512> ParameterImage() const;
    void SetParameterImage(const std::array<uint8_t, 512>& image);

    // The supervisor's images (thread-safe) and what its boot loader saw.
    std::array<uint8_t, 128> SupervisorEeprom() const;
    std::array<uint8_t, 8192> SupervisorProgram() const;
    void SetSupervisorImages(const std::array<uint8_t, 128>& eeprom,
                             const std::array<uint8_t, 8192>& program);
    SimSupervisorCounters SupervisorCounters() const;

    // The line: the machine plugged in now (from 1; 0 once the last has left, or without a
    // line), the image machine k held when it left (or holds now), and the next machine
    // plugged in at once (false after the last).
    unsigned LineMachine() const;
    std::optional<std::array<uint8_t, 512>> LineImage(unsigned k) const;
    bool PlugNextMachine();

    uint32_t FlashEnd() const;   // 0x10000000 + flash size (= the link's areaEnd)
    uint32_t MemorySize() const; // flash size - 0x1000 (what the link learns)
    uint32_t EmulationStart() const;
    uint16_t EmulationLength() const;

    // The image a fresh simulated machine holds: kind 18, "TVX18-4200", "V04.02.005",
    // serial "SIM0000001", password "0000", parameterisation allowed.
    static std::array<uint8_t, 512> DefaultImage();
    static constexpr const char* kDefaultPassword = "0000";

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
