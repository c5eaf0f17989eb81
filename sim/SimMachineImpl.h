// The simulated machine's inside, shared by its parts:
//   SimMachine.cpp    the public face, starting and stopping, logging, the supervisor's line
//   SimAdapter.cpp    the USB-serial adapter and the line: pseudo-terminal, announcement,
//                     paced output, the machine's thread
//   SimBootLoader.cpp the boot loader (wake-up, speed switch, loader download) and the
//                     downloaded loader's frames (read, begin-write, data, end)
//   SimMemory.cpp     the flash as built from the options, kept in --state DIR
//   SimFaults.cpp     the fault modes and when they hit
#pragma once

#include "base/LittleEndian.h"
#include "sim/SimMachine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <thread>

namespace simdetail {

using Clock = std::chrono::steady_clock;

using Clock = std::chrono::steady_clock;

inline constexpr uint32_t kFlashBase = 0x10000000;
inline constexpr uint32_t kInfoAddress = 0x10000F00;
inline constexpr size_t kInfoSize = 32;
inline constexpr uint32_t kAreaStart = 0x10001000;
inline constexpr uint32_t kBlockArea = 0x10001100;
inline constexpr size_t kBlockAreaSize = 1024;
inline constexpr uint32_t kPointerFromEnd = 0x200;
inline constexpr uint32_t kFallbackFlash = 0x11000;
inline constexpr unsigned kBootBaud = 19200;
inline constexpr unsigned kFastBaud = 230400;
inline constexpr uint16_t kFastThreshold = 40; // n above this offers the speed switch
inline constexpr size_t kCommandSize = 16;
inline constexpr size_t kDataSize = 264;
inline constexpr size_t kDataPayload = 256;
inline constexpr uint32_t kLoaderMax = 0x4000;
inline constexpr uint32_t kMaxRead = 0x10000;
inline constexpr auto kSilenceReset = std::chrono::seconds(1);
inline constexpr auto kClosedRecheck = std::chrono::milliseconds(10);
inline constexpr uint8_t kWakeAnswer = 0xA2;
inline constexpr uint8_t kBadWakeAnswer = 0xA0;
inline constexpr uint8_t kAckCommand = 'U';
inline constexpr uint8_t kAckData = 'P';
inline constexpr uint8_t kLoaderAck = 0x01;
inline constexpr uint8_t kLoaderNak = 0x00;
// The two leading bytes of a read reply: reply marker and the command code.
inline constexpr uint8_t kReplyLead0 = 0x03;
inline constexpr uint8_t kReplyLead1 = 0x04;
inline constexpr size_t kAdapterPacket = 62; // payload of one FTDI USB packet
inline constexpr const char* kStateFile = "memory.bin";
inline constexpr unsigned kSupvTriggerBaud = 9600;
inline constexpr unsigned kSupvLoaderBaud = 115200;

inline constexpr uint32_t kKnownCodes[] = {0x3000, 0x5000, 0x9000, 0x11000, 0x21000, 0x33000};

inline bool KnownCode(uint32_t code) {
    return std::find(std::begin(kKnownCodes), std::end(kKnownCodes), code) != std::end(kKnownCodes);
}

inline uint32_t Be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

std::string Hex(uint32_t v); // "0x10001100"

} // namespace simdetail

struct SimMachine::Impl {
    using Clock = simdetail::Clock;
    enum class Phase { Boot, AwaitDivisor, AwaitSwitch, AwaitSize, AwaitImage, Loader };
    struct OutByte {
        uint8_t byte;
        Clock::time_point due;
    };

    SimOptions opt;
    std::string devicePath, announcePath, lastError;

    mutable std::mutex mu; // memory, counters, fault, log
    std::vector<uint8_t> flash;
    uint32_t flashSize = 0;
    SimCounters counters;
    SimFault fault = SimFault::None;
    unsigned faultSkip = 0;
    std::optional<uint32_t> faultAddress;
    unsigned faultEvents = 0;
    unsigned faultCount = 0;
    unsigned faultHits = 0;
    bool silentNow = false;
    bool loaderQuiet = false; // LostEndAck: until the next reset
    bool swapped = false;
    bool dirty = false;
    bool saveRequested = false;

    // Machine thread only.
    int master = -1;
    int stopRead = -1, stopWrite = -1;
    std::thread thread;
    std::atomic<bool> running{false};
    Phase phase = Phase::Boot;
    unsigned machineBaud = simdetail::kBootBaud;
    int bootPrev = -1;
    uint16_t expectedDivisor = 0;
    std::vector<uint8_t> collect; // divisor, size, image or frame being received
    size_t collectWant = 0;
    uint32_t loaderSize = 0;
    std::vector<uint8_t> ram;
    bool writing = false;
    uint32_t writePtr = 0;
    Clock::time_point lastInput;
    std::deque<OutByte> out;
    Clock::time_point lastDue;
    bool outBlocked = false;
    std::optional<Clock::time_point> unplugAt; // Unplug: the device vanishes then
    // The emulated adapter's packet still being filled: its byte count and the time its first
    // byte came off the line (adapterLatencyMs).
    size_t packetBytes = 0;
    Clock::time_point packetStart;
    unsigned lineBaud = 0;
    SimSupervisor supv;

    // The line (SimLine.cpp): the machine on it (from 1, 0 when empty), the base folder of
    // the kept memories, whether the program talked to this machine, the images of the
    // machines that left.
    unsigned lineMachine = 0;
    bool lineEmpty = false;
    bool lineTalked = false;
    std::string lineStateBase;
    std::map<unsigned, std::array<uint8_t, 512>> lineLeft;

    uint32_t FlashEnd() const { return simdetail::kFlashBase + flashSize; }
    bool InFlash(uint32_t addr, uint64_t len) const {
        return addr >= simdetail::kFlashBase && uint64_t(addr) + len <= uint64_t(FlashEnd());
    }
    uint8_t* At(uint32_t addr) { return flash.data() + (addr - simdetail::kFlashBase); }
    const uint8_t* At(uint32_t addr) const { return flash.data() + (addr - simdetail::kFlashBase); }

    // SimMachine.cpp
    void Log(const std::string& s);
    bool Fail(const std::string& why);
    SimSupervisorFault SupervisorFault() const;
    void FeedSupervisor(uint8_t b, unsigned baud);

    // SimMemory.cpp
    // Offset of the parameter image as the block area's first two bytes give it.
    size_t BlockOffsetLocked() const;
    // Emulation area as the layout descriptor gives it (what the link finds).
    std::pair<uint32_t, uint16_t> LayoutLocked() const;
    bool LoadImage(std::array<uint8_t, 512>& image);
    bool BuildMemory();
    bool LoadState();
    bool LoadSupervisorState();
    void SaveLocked();

    // SimAdapter.cpp
    bool OpenPty();
    unsigned LineBaud() const;
    bool Announce();
    void Unannounce();
    std::string AnnouncedPath() const;
    void Enqueue(const uint8_t* p, size_t n, unsigned baud);
    void Send(std::initializer_list<uint8_t> bytes);
    void Send(const std::vector<uint8_t>& v);
    // When a byte that comes off the line at onLine reaches the program through the emulated
    // adapter (the same time without adapterLatencyMs).
    Clock::time_point AdapterRelease(Clock::time_point onLine);
    void FlushOutput();
    // The device vanishes: the master is closed and the announcement goes.
    void HangUp(const char* why);
    void OnSlaveClosed();
    void Loop();

    // SimBootLoader.cpp
    void Reset(const char* why);
    void Expect(Phase p, size_t n);
    void WakeUp();
    // One byte from the program, at line speed baud. Returns false when the line is gone.
    bool Feed(uint8_t b, unsigned baud);
    void HandleCommand(const uint8_t* f);
    void HandleData(const uint8_t* f);
    void HandleEnd(const uint8_t* f);
    void Refuse(const std::string& what);
    void SilenceCheck();
    bool PartialInput() const;

    // SimLine.cpp
    bool StartLine();
    // When the machine on the line leaves if the line stays silent; nothing without a line.
    std::optional<Clock::time_point> LineDue() const;
    void LineCheck(Clock::time_point now);
    bool PlugMachine(unsigned k);
    bool PlugNextLocked();
    std::array<uint8_t, 512> LineImageLocked() const;

    // SimFaults.cpp
    bool Hits(SimFault mode, std::optional<uint32_t> address);
    // Swap: a wake-up or supervisor trigger happened.
    void SwapEvent();
};
