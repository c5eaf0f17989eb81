#include "sim/SimMachine.h"

#include "model/Conversions.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "files/crypto/Digests.h"
#include "link/AdapterDiscovery.h"
#include "model/AtomicFile.h"
#include "model/ParameterBlock.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kFlashBase = 0x10000000;
constexpr uint32_t kInfoAddress = 0x10000F00;
constexpr size_t kInfoSize = 32;
constexpr uint32_t kAreaStart = 0x10001000;
constexpr uint32_t kBlockArea = 0x10001100;
constexpr size_t kBlockAreaSize = 1024;
constexpr uint32_t kPointerFromEnd = 0x200;
constexpr uint32_t kFallbackFlash = 0x11000;
constexpr unsigned kBootBaud = 19200;
constexpr unsigned kFastBaud = 230400;
constexpr uint16_t kFastThreshold = 40; // n above this offers the speed switch
constexpr size_t kCommandSize = 16;
constexpr size_t kDataSize = 264;
constexpr size_t kDataPayload = 256;
constexpr uint32_t kLoaderMax = 0x4000;
constexpr uint32_t kMaxRead = 0x10000;
constexpr auto kSilenceReset = std::chrono::seconds(1);
constexpr auto kClosedRecheck = std::chrono::milliseconds(10);
constexpr uint8_t kWakeAnswer = 0xA2;
constexpr uint8_t kBadWakeAnswer = 0xA0;
constexpr uint8_t kAckCommand = 'U';
constexpr uint8_t kAckData = 'P';
constexpr uint8_t kLoaderAck = 0x01;
constexpr uint8_t kLoaderNak = 0x00;
// The two leading bytes of a read reply: reply marker and the command code.
constexpr uint8_t kReplyLead0 = 0x03;
constexpr uint8_t kReplyLead1 = 0x04;
constexpr const char* kStateFile = "memory.bin";
constexpr unsigned kSupvTriggerBaud = 9600;
constexpr unsigned kSupvLoaderBaud = 115200;

const uint32_t kKnownCodes[] = {0x3000, 0x5000, 0x9000, 0x11000, 0x21000, 0x33000};

bool KnownCode(uint32_t code) {
    return std::find(std::begin(kKnownCodes), std::end(kKnownCodes), code) != std::end(kKnownCodes);
}

uint32_t Be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

unsigned BaudOf(speed_t s) {
    switch (s) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    case B460800:
        return 460800;
    case B921600:
        return 921600;
    default:
        return 0;
    }
}

std::chrono::nanoseconds ByteTime(unsigned baud) {
    // 8N1: start bit, 8 data bits, stop bit.
    return std::chrono::nanoseconds(baud ? 10'000'000'000LL / baud : 0);
}

// Announcement names handed out in this process, so two machines in one test process do not
// share a file.
std::mutex gAnnounceMutex;
std::set<std::string> gAnnounced;

} // namespace

const std::vector<SimFaultInfo>& SimFaultModes() {
    static const std::vector<SimFaultInfo> modes = {
        {SimFault::Silent, "silent",
         "no answer at all from the triggering wake-up on (echo stays)"},
        {SimFault::RefuseCommand, "refuse-command",
         "read and begin-write commands are answered with a refusal"},
        {SimFault::RefuseData, "refuse-data", "data frames are answered with a refusal"},
        {SimFault::BadChecksum, "bad-checksum", "read replies carry a wrong check byte"},
        {SimFault::LoseBytes, "lose-bytes", "bytes are lost in the middle of read replies"},
        {SimFault::BadWakeup, "bad-wakeup",
         "the wake-up answer starts with 0xA0 instead of 0xA2; the line stays at 19200"},
        {SimFault::HangupInWrite, "hangup-in-write",
         "the line goes away in the middle of a data frame"},
        {SimFault::SupvWrongTrigger, "supv-wrong-trigger",
         "the supervisor answers its trigger with 0x81 instead of 0x80"},
        {SimFault::SupvSilent, "supv-silent", "the supervisor does not answer its trigger"},
        {SimFault::SupvCheckError, "supv-check-error",
         "the supervisor answers the end record with the check error \"3\""},
        {SimFault::SupvFailStatus, "supv-fail-status",
         "the supervisor answers the end record with the failure \"1\""},
    };
    return modes;
}

const char* SimFaultName(SimFault mode) {
    for (const auto& m : SimFaultModes())
        if (m.mode == mode)
            return m.name;
    return "none";
}

std::optional<SimFault> ParseSimFault(std::string_view name) {
    if (name == "none")
        return SimFault::None;
    for (const auto& m : SimFaultModes())
        if (name == m.name)
            return m.mode;
    return std::nullopt;
}

double SimCounters::LeastLineSeconds() const {
    double s = prescribedWaitMs / 1000.0;
    for (const auto& [baud, c] : byBaud)
        if (baud)
            s += double(c.received + c.replied) * 10.0 / baud;
    return s;
}

std::array<uint8_t, 512> SimMachine::DefaultImage() {
    ParameterBlock b = ParameterBlock::Default();
    auto text = [&](size_t off, size_t width, std::string_view t, char pad) {
        for (size_t i = 0; i < width; ++i)
            b.bytes[off + i] = uint8_t(i < t.size() ? t[i] : pad);
    };
    // With the block at offset 0 its first two bytes are the block area's marker 0x20 0x01;
    // the 0x01 is machineFlags with parameterisation allowed.
    b.bytes[0] = 0x20;
    b.bytes[ParameterBlock::kOffMachineFlags] = 0x01;
    text(ParameterBlock::kOffMachineType, ParameterBlock::kLenMachineType, "TVX18-4200", ' ');
    text(ParameterBlock::kOffElAssembly, ParameterBlock::kLenElAssembly, "EB18-0042", '\0');
    text(ParameterBlock::kOffSerialNr, ParameterBlock::kLenSerialNr, "SIM0000001", '\0');
    text(ParameterBlock::kOffSwVersion, ParameterBlock::kLenSwVersion, "V04.02.005", '\0');
    PasswordDigestBytes pw = PasswordDigest(std::string_view(kDefaultPassword));
    std::copy(pw.begin(), pw.end(), b.bytes.begin() + ParameterBlock::kOffPasswordDigest);
    auto put16 = [&](size_t off, uint16_t v) {
        b.bytes[off] = uint8_t(v);
        b.bytes[off + 1] = uint8_t(v >> 8);
    };
    put16(ParameterBlock::kOffTorque, 1200);    // 12.00 Nm
    put16(ParameterBlock::kOffMaxTorque, 1800); // 18.00 Nm
    b.bytes[ParameterBlock::kOffVariantCode] = 3;
    b.bytes[ParameterBlock::kOffTransmission] = 1;
    b.bytes[ParameterBlock::kOffAngleHead] = 0;
    put16(ParameterBlock::kOffUserTransmission, 100); // factor 1.00
    const uint8_t tail[ParameterBlock::kLenMachineTail] = {0x18, 0x04, 0x02, 0x05, 0x00, 0x10,
                                                           0x27, 0x00, 0x00, 0x5A, 0xA5};
    std::copy(std::begin(tail), std::end(tail), b.bytes.begin() + ParameterBlock::kOffMachineTail);

    // A three-step program of set 1, so a first read shows a real profile: run down fast to
    // three turns, slower to the torque threshold, tighten slowly until the clutch trips.
    ConversionContext ctx;
    ctx.machineKind = 18;
    ctx.SetRatios(18.2, 100);
    struct StepPlan {
        double rpm, ramp;
        uint8_t condition;
        double angle;
        uint16_t threshold;
        uint8_t next;
    };
    const StepPlan plan[] = {{600, 0.2, kCondAngle, 1080, 1, 1},
                             {250, 0.0, kCondThreshold, 0, 140, 2},
                             {60, 0.0, kCondClutch, 0, 1, kNextStepLast}};
    for (size_t i = 0; i < std::size(plan); ++i) {
        StepRecord step = b.Step(i);
        step.SetType(0);
        step.SetControlled(1);
        step.SetSpeed(SpeedToMachine(ctx, plan[i].rpm, true));
        step.SetRamp(RampToMachine(plan[i].ramp));
        step.SetCondition(plan[i].condition);
        step.SetAngle(plan[i].condition == kCondAngle ? AngleToMachine(ctx, plan[i].angle) : 0);
        step.SetThreshold(plan[i].threshold);
        step.SetNextStep(plan[i].next);
    }
    return b.bytes;
}

struct SimMachine::Impl {
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
    bool silentNow = false;
    bool dirty = false;
    bool saveRequested = false;

    // Machine thread only.
    int master = -1;
    int stopRead = -1, stopWrite = -1;
    std::thread thread;
    std::atomic<bool> running{false};
    Phase phase = Phase::Boot;
    unsigned machineBaud = kBootBaud;
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
    unsigned lineBaud = 0;
    SimSupervisor supv;

    uint32_t FlashEnd() const { return kFlashBase + flashSize; }
    bool InFlash(uint32_t addr, uint64_t len) const {
        return addr >= kFlashBase && uint64_t(addr) + len <= uint64_t(FlashEnd());
    }
    uint8_t* At(uint32_t addr) { return flash.data() + (addr - kFlashBase); }
    const uint8_t* At(uint32_t addr) const { return flash.data() + (addr - kFlashBase); }

    void Log(const std::string& s) {
        if (opt.log)
            opt.log(s);
    }

    // Offset of the parameter image as the block area's first two bytes give it.
    size_t BlockOffsetLocked() const {
        const uint8_t* a = At(kBlockArea);
        size_t off = (a[0] == 0x20 && a[1] == 0x01) ? 0 : size_t(a[0]) * 256 + a[1];
        return std::min<size_t>(off, kBlockAreaSize - 512);
    }

    // Emulation area as the layout descriptor gives it (what the link finds).
    std::pair<uint32_t, uint16_t> LayoutLocked() const {
        uint32_t word = FlashEnd() - kPointerFromEnd;
        const uint8_t* w = At(word);
        uint32_t ptr = (w[0] == 0x00 && w[1] == 0xFC) ? 0 : uint32_t(w[0]) * 256 + w[1];
        if (!InFlash(word + ptr, 6))
            return {0, 0};
        const uint8_t* d = At(word + ptr);
        return {Le32(d), uint16_t(d[4] | (d[5] << 8))};
    }

    bool Fail(const std::string& why) {
        lastError = why;
        return false;
    }

    bool LoadImage(std::array<uint8_t, 512>& image) {
        if (opt.image) {
            image = *opt.image;
            return true;
        }
        if (opt.imageFile.empty()) {
            image = DefaultImage();
            return true;
        }
        std::vector<uint8_t> data;
        std::string err;
        if (!ReadWholeFile(opt.imageFile, data, 4096, &err))
            return Fail("cannot read image " + opt.imageFile + ": " + err);
        if (data.size() != 512 && data.size() != 560)
            return Fail("image " + opt.imageFile + " has " + std::to_string(data.size()) +
                        " bytes; expected 512 (image) or 560 (configuration file)");
        std::copy(data.end() - 512, data.end(), image.begin());
        return true;
    }

    bool BuildMemory() {
        flashSize = KnownCode(opt.memorySizeCode) ? opt.memorySizeCode : kFallbackFlash;
        if (opt.blockOffset > 512)
            return Fail("block offset " + std::to_string(opt.blockOffset) + " is above 512");
        if (opt.blockOffset == 0x2001)
            return Fail("block offset 0x2001 reads as the marker of offset 0");
        uint32_t len = opt.emulationLength;
        if (len < 16 || len % 16)
            return Fail("emulation length must be a multiple of 16, at least 16");
        uint32_t word = FlashEnd() - kPointerFromEnd;
        uint32_t start = opt.emulationStart ? opt.emulationStart : ((word - len) & ~0xFFu);
        if (start < kBlockArea + kBlockAreaSize || uint64_t(start) + len > word || start % 16)
            return Fail("emulation area " + Hex(start) + "+" + std::to_string(len) +
                        " must lie between the block area and " + Hex(word));
        uint16_t ptr = opt.descriptorPointer;
        if (ptr == 0 && (start & 0xFFFF) != 0xFC00)
            return Fail("a descriptor at the pointer word needs an emulation start ending in "
                        "0xFC00");
        if (ptr == 0x00FC || (ptr != 0 && (ptr < 2 || ptr + 6u > kPointerFromEnd)))
            return Fail("descriptor pointer " + std::to_string(ptr) + " is not usable");

        std::array<uint8_t, 512> image{};
        if (!LoadImage(image))
            return false;
        if (opt.blockOffset == 0 && (image[0] != 0x20 || image[1] != 0x01))
            return Fail("with the block at offset 0 the image must begin with 0x20 0x01 "
                        "(the block area's marker); give a block offset for this image");

        flash.assign(flashSize, 0xFF);
        uint8_t* info = At(kInfoAddress);
        std::memset(info, 0, kInfoSize);
        std::memcpy(info, "KVBOOT18", 8);
        PutLe32(info + 24, opt.memorySizeCode);

        uint8_t* area = At(kBlockArea);
        std::memset(area, 0, kBlockAreaSize);
        std::copy(image.begin(), image.end(), area + opt.blockOffset);
        if (opt.blockOffset) {
            area[0] = uint8_t(opt.blockOffset >> 8);
            area[1] = uint8_t(opt.blockOffset);
        }

        uint8_t* w = At(word);
        uint8_t* d = At(word + ptr);
        if (ptr) {
            w[0] = uint8_t(ptr >> 8);
            w[1] = uint8_t(ptr);
        }
        PutLe32(d, start);
        d[4] = uint8_t(len);
        d[5] = uint8_t(len >> 8);

        // Emulation records: a header record (never examined by the counter search), then
        // fastening records of type 10 among records of other types.
        uint8_t* e = At(start);
        std::memset(e, 0xFF, len);
        auto record = [&](size_t i, uint8_t type, uint32_t value) {
            if ((i + 1) * 16 > len)
                return;
            uint8_t* r = e + i * 16;
            std::memset(r, 0, 16);
            r[0] = type;
            PutLe32(r + 4, value);
        };
        record(0, 0x01, 0x00010018);
        uint32_t c = opt.fasteningCounter;
        if (c) {
            record(1, 10, c > 1 ? c - 1 : c);
            record(2, 3, 0xFFFF);
            record(3, 10, c);
        }
        return true;
    }

    bool LoadState() {
        std::string path = opt.stateDir + "/" + kStateFile;
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            return true; // nothing kept yet: start fresh
        std::vector<uint8_t> data;
        std::string err;
        if (!ReadWholeFile(path, data, 0x100000, &err))
            return Fail("cannot read " + path + ": " + err);
        if (data.size() != flashSize)
            return Fail(path + " holds " + std::to_string(data.size()) +
                        " bytes of memory, this machine has " + std::to_string(flashSize) +
                        " (another memory-size code?)");
        flash = std::move(data);
        return true;
    }

    bool LoadSupervisorState() {
        std::string why;
        return supv.Load(opt.stateDir, why) || Fail(why);
    }

    void SaveLocked() {
        if (opt.stateDir.empty())
            return;
        if (supv.Dirty()) {
            std::string why;
            if (supv.Save(opt.stateDir, why))
                supv.ClearDirty();
            else
                Log("cannot keep the supervisor's memory: " + why);
        }
        if (!dirty)
            return;
        std::string err;
        if (WriteFileAtomic(opt.stateDir + "/" + kStateFile, flash.data(), flash.size(), &err))
            dirty = false;
        else
            Log("cannot keep the memory: " + err);
    }

    bool Announce() {
        std::string dir = AnnouncementDirectory();
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
            return Fail("cannot create " + dir + ": " + std::strerror(errno));
        struct stat st;
        if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
            return Fail(dir + " is not a folder of this user");
        std::string name;
        {
            std::lock_guard<std::mutex> g(gAnnounceMutex);
            std::string base = dir + "/sim-" + std::to_string(::getpid());
            name = base + ".port";
            for (int k = 2; gAnnounced.count(name); ++k)
                name = base + "-" + std::to_string(k) + ".port";
            gAnnounced.insert(name);
        }
        std::string text = "device=" + devicePath + "\nserial=" + opt.serial + "\n";
        std::string err;
        if (!WriteFileAtomic(name, text, &err)) {
            std::lock_guard<std::mutex> g(gAnnounceMutex);
            gAnnounced.erase(name);
            return Fail("cannot announce in " + name + ": " + err);
        }
        announcePath = name;
        return true;
    }

    void Unannounce() {
        if (announcePath.empty())
            return;
        ::unlink(announcePath.c_str());
        std::lock_guard<std::mutex> g(gAnnounceMutex);
        gAnnounced.erase(announcePath);
        announcePath.clear();
    }

    bool OpenPty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master < 0)
            return Fail(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
        if (::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return Fail(std::string("cannot unlock the pseudo-terminal: ") + std::strerror(errno));
        char name[128];
        if (::ptsname_r(master, name, sizeof name) != 0)
            return Fail(std::string("no slave name: ") + std::strerror(errno));
        devicePath = name;
        // A raw line from the start: a program that only sets the speed must not get its
        // input translated or echoed by the line discipline.
        termios t;
        if (::tcgetattr(master, &t) == 0) {
            ::cfmakeraw(&t);
            ::cfsetispeed(&t, B9600);
            ::cfsetospeed(&t, B9600);
            ::tcsetattr(master, TCSANOW, &t);
        }
        return true;
    }

    unsigned LineBaud() const {
        termios t;
        if (master < 0 || ::tcgetattr(master, &t) != 0)
            return 0;
        return BaudOf(::cfgetospeed(&t));
    }

    // --- fault triggers -------------------------------------------------------------------
    bool Hits(SimFault mode, std::optional<uint32_t> address) {
        if (fault != mode)
            return false;
        if (faultAddress && address && *faultAddress != *address)
            return false;
        if (faultAddress && !address)
            return false;
        return faultEvents++ >= faultSkip;
    }

    // --- output ---------------------------------------------------------------------------
    void Enqueue(const uint8_t* p, size_t n, unsigned baud) {
        auto now = Clock::now();
        for (size_t i = 0; i < n; ++i) {
            Clock::time_point due = now;
            if (opt.pacing) {
                due = std::max(lastDue, now) + ByteTime(baud);
                lastDue = due;
            }
            out.push_back({p[i], due});
        }
    }

    void Send(std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> v(bytes);
        Send(v);
    }
    void Send(const std::vector<uint8_t>& v) {
        if (silentNow || v.empty())
            return;
        counters.byBaud[lineBaud].replied += v.size();
        Enqueue(v.data(), v.size(), lineBaud);
    }
    void Refuse(const std::string& what) {
        ++counters.refusals;
        Log("refused: " + what);
        Send({kSimRefusal});
    }

    void FlushOutput() {
        if (master < 0 || out.empty())
            return;
        auto now = Clock::now();
        uint8_t buf[4096];
        size_t n = 0;
        for (auto it = out.begin(); it != out.end() && n < sizeof buf && it->due <= now; ++it)
            buf[n++] = it->byte;
        if (!n)
            return;
        ssize_t w = ::write(master, buf, n);
        if (w < 0) {
            outBlocked = errno == EAGAIN || errno == EWOULDBLOCK;
            if (!outBlocked)
                out.clear();
            return;
        }
        out.erase(out.begin(), out.begin() + w);
        outBlocked = size_t(w) < n;
    }

    // --- machine --------------------------------------------------------------------------
    void Reset(const char* why) {
        if (phase == Phase::Boot && machineBaud == kBootBaud && collect.empty())
            return;
        phase = Phase::Boot;
        machineBaud = kBootBaud;
        bootPrev = -1;
        collect.clear();
        writing = false;
        ++counters.resets;
        if (dirty)
            saveRequested = true;
        Log(std::string("reset (") + why + ")");
    }

    void Expect(Phase p, size_t n) {
        phase = p;
        collect.clear();
        collectWant = n;
    }

    void WakeUp() {
        ++counters.wakeups;
        counters.prescribedWaitMs += 20 + 50 + 30;
        if (Hits(SimFault::Silent, std::nullopt))
            silentNow = true;
        if (silentNow) {
            Log("wake-up ignored (silent)");
            return;
        }
        uint16_t n = opt.wakeupN;
        if (Hits(SimFault::BadWakeup, std::nullopt)) {
            Send({kBadWakeAnswer, uint8_t(n >> 8), uint8_t(n)});
            Log("wake-up answered wrongly, staying at 19200");
            Expect(Phase::AwaitSize, 4);
            return;
        }
        Send({kWakeAnswer, uint8_t(n >> 8), uint8_t(n)});
        Log("wake-up n=" + std::to_string(n));
        if (n > kFastThreshold) {
            expectedDivisor = uint16_t(12288 / (unsigned(n) + 1));
            Expect(Phase::AwaitDivisor, 2);
        } else {
            Expect(Phase::AwaitSize, 4);
        }
    }

    void HandleCommand(const uint8_t* f) {
        uint8_t x = 0;
        for (int i = 1; i <= 14; ++i)
            x ^= f[i];
        uint8_t code = f[1];
        uint32_t addr = Be32(f + 2), len = Be32(f + 6);
        if (x != f[15])
            return Refuse("command frame with a wrong check byte");
        if (Hits(SimFault::RefuseCommand, addr))
            return Refuse("command at " + Hex(addr) + " (fault)");
        if (code == 0x04) {
            if (len == 0 || len > kMaxRead || !InFlash(addr, len))
                return Refuse("read " + Hex(addr) + " " + std::to_string(len));
            ++counters.readCommands;
            Send({kAckCommand});
            std::vector<uint8_t> r;
            r.reserve(len + 3);
            r.push_back(kReplyLead0);
            r.push_back(kReplyLead1);
            r.insert(r.end(), At(addr), At(addr) + len);
            uint8_t c = 0;
            for (size_t i = 1; i < r.size(); ++i)
                c ^= r[i];
            r.push_back(c);
            std::string note;
            if (Hits(SimFault::BadChecksum, addr)) {
                r.back() ^= 0xA5;
                note = " (wrong check byte)";
            } else if (Hits(SimFault::LoseBytes, addr)) {
                size_t lose = r.size() >= 8 ? 4 : 1;
                size_t at = r.size() / 2 - lose / 2;
                r.erase(r.begin() + at, r.begin() + at + lose);
                note = " (" + std::to_string(lose) + " bytes lost)";
            }
            Send(r);
            Log("read " + Hex(addr) + " " + std::to_string(len) + note);
            return;
        }
        if (code == 0x00) {
            if (len != 0 || addr < kAreaStart || addr >= FlashEnd() || addr % 4)
                return Refuse("begin write " + Hex(addr) + " " + std::to_string(len));
            ++counters.writeCommands;
            counters.prescribedWaitMs += 500;
            writing = true;
            writePtr = addr;
            Send({kAckCommand});
            Log("begin write " + Hex(addr));
            return;
        }
        Refuse("unknown command " + std::to_string(code));
    }

    void HandleData(const uint8_t* f) {
        uint8_t x = 0;
        for (size_t i = 1; i <= kDataSize - 2; ++i)
            x ^= f[i];
        if (f[1] != 0x01 || x != f[kDataSize - 1])
            return Refuse("data frame with a wrong check byte");
        if (!writing)
            return Refuse("data frame without begin write");
        if (!InFlash(writePtr, kDataPayload))
            return Refuse("data frame beyond the flash at " + Hex(writePtr));
        if (Hits(SimFault::RefuseData, writePtr))
            return Refuse("data frame at " + Hex(writePtr) + " (fault)");
        std::memcpy(At(writePtr), f + 2, kDataPayload);
        dirty = true;
        ++counters.dataFrames;
        Log("data " + Hex(writePtr));
        writePtr += kDataPayload;
        Send({kAckData});
    }

    void HandleEnd(const uint8_t* f) {
        uint8_t x = 0;
        for (int i = 1; i <= 14; ++i)
            x ^= f[i];
        if (x != f[15])
            return Refuse("end frame with a wrong check byte");
        writing = false;
        ++counters.endFrames;
        saveRequested = true;
        Send({kAckCommand});
        Log("end");
    }

    void HangUp() {
        Log("line hung up in the middle of a data frame");
        ++counters.hangups;
        ::close(master);
        master = -1;
        out.clear();
        saveRequested = true;
        Unannounce();
    }

    // One byte from the program, at line speed baud. Returns false when the line is gone.
    bool Feed(uint8_t b, unsigned baud) {
        if (baud == kSupvTriggerBaud || baud == kSupvLoaderBaud) {
            FeedSupervisor(b, baud);
            return true;
        }
        if (baud != machineBaud) {
            // The wake-up byte comes with the DTR pulse that resets the controller, whatever
            // speed it was running at.
            if (b == 0xFF && baud == kBootBaud) {
                Reset("wake-up byte");
                bootPrev = b;
                return true;
            }
            ++counters.wrongSpeedBytes;
            return true;
        }
        switch (phase) {
        case Phase::Boot:
            if (bootPrev == 0x00 && b == 0xED) {
                bootPrev = -1;
                WakeUp();
            } else {
                bootPrev = b;
            }
            return true;
        case Phase::AwaitSwitch:
            if (b == 0xF0) {
                Log("running at 230400");
                Expect(Phase::AwaitSize, 4);
            }
            return true;
        case Phase::Loader:
            if (collect.empty()) {
                if (b == 0x00 || b == 0x02)
                    collectWant = kCommandSize;
                else if (b == 0x01)
                    collectWant = kDataSize;
                else {
                    if (b == 0xFF) {
                        Reset("wake-up byte");
                        bootPrev = b;
                    }
                    return true;
                }
            }
            collect.push_back(b);
            if (collect[0] == 0x01 && collect.size() == kDataSize / 2 &&
                Hits(SimFault::HangupInWrite,
                     writing ? std::optional<uint32_t>(writePtr) : std::nullopt)) {
                HangUp();
                return false;
            }
            if (collect.size() == collectWant) {
                std::vector<uint8_t> f;
                f.swap(collect);
                if (f[0] == 0x00)
                    HandleCommand(f.data());
                else if (f[0] == 0x01)
                    HandleData(f.data());
                else
                    HandleEnd(f.data());
            }
            return true;
        default:
            break;
        }
        collect.push_back(b);
        if (collect.size() < collectWant)
            return true;
        if (phase == Phase::AwaitDivisor) {
            uint16_t div = uint16_t(collect[0] << 8 | collect[1]);
            counters.prescribedWaitMs += 20;
            if (div == expectedDivisor) {
                ++counters.speedSwitches;
                machineBaud = kFastBaud;
                Log("divisor " + std::to_string(div) + ", switching to 230400");
            } else {
                machineBaud = 0; // some speed nobody sends at; only a reset helps
                Log("divisor " + std::to_string(div) + " is not " +
                    std::to_string(expectedDivisor) + "; line lost");
            }
            Expect(Phase::AwaitSwitch, 1);
        } else if (phase == Phase::AwaitSize) {
            loaderSize = Le32(collect.data());
            counters.prescribedWaitMs += 50;
            if (loaderSize == 0 || loaderSize > kLoaderMax) {
                Send({kLoaderNak});
                Log("loader size " + std::to_string(loaderSize) + " refused");
                ++counters.refusals;
                phase = Phase::Boot;
                collect.clear();
                return true;
            }
            Send({kLoaderAck});
            Expect(Phase::AwaitImage, loaderSize);
        } else if (phase == Phase::AwaitImage) {
            ram = collect;
            ++counters.loaderDownloads;
            Send({kLoaderAck});
            Log("loader of " + std::to_string(loaderSize) + " bytes running");
            Expect(Phase::Loader, 0);
        }
        return true;
    }

    SimSupervisorFault SupervisorFault() const {
        switch (fault) {
        case SimFault::SupvWrongTrigger:
            return SimSupervisorFault::WrongTrigger;
        case SimFault::SupvSilent:
            return SimSupervisorFault::Silent;
        case SimFault::SupvCheckError:
            return SimSupervisorFault::CheckError;
        case SimFault::SupvFailStatus:
            return SimSupervisorFault::FailStatus;
        default:
            return SimSupervisorFault::None;
        }
    }

    void FeedSupervisor(uint8_t b, unsigned baud) {
        supv.SetFault(SupervisorFault());
        std::vector<uint8_t> reply;
        const uint64_t programmed = supv.Counters().programmed;
        supv.Feed(b, baud, reply);
        if (!reply.empty()) {
            counters.byBaud[lineBaud].replied += reply.size();
            Enqueue(reply.data(), reply.size(), lineBaud);
        }
        if (supv.Counters().programmed != programmed) {
            Log("supervisor programmed");
            saveRequested = true;
        }
    }

    void SilenceCheck() {
        if (Clock::now() - lastInput < kSilenceReset)
            return;
        if (phase == Phase::Loader) {
            if (!collect.empty()) {
                Log("incomplete frame dropped");
                collect.clear();
            }
        } else if (phase != Phase::Boot) {
            Reset("silence");
        }
    }

    bool PartialInput() const {
        return (phase == Phase::Loader && !collect.empty()) ||
               (phase != Phase::Loader && phase != Phase::Boot);
    }

    void OnSlaveClosed() {
        std::lock_guard<std::mutex> g(mu);
        out.clear();
        outBlocked = false;
        supv.Reset();
        Reset("device closed");
        SaveLocked();
    }

    void Loop() {
        bool slaveClosed = false;
        uint8_t buf[4096];
        for (;;) {
            pollfd fds[2] = {{stopRead, POLLIN, 0}, {master, 0, 0}};
            nfds_t nfds = 1;
            std::optional<Clock::duration> wait;
            auto now = Clock::now();
            if (master >= 0 && !slaveClosed) {
                fds[1].events = POLLIN;
                nfds = 2;
                if (outBlocked)
                    fds[1].events |= POLLOUT;
                else if (!out.empty())
                    wait = std::max<Clock::duration>(out.front().due - now, Clock::duration(0));
                if (PartialInput()) {
                    auto left = std::max<Clock::duration>(lastInput + kSilenceReset - now,
                                                          Clock::duration(0));
                    wait = wait ? std::min(*wait, left) : left;
                }
            } else if (master >= 0) {
                wait = kClosedRecheck; // poll reports the closed slave at once: look again later
            }
            timespec ts{}, *tsp = nullptr;
            if (wait) {
                auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*wait).count();
                ts.tv_sec = ns / 1'000'000'000;
                ts.tv_nsec = ns % 1'000'000'000;
                tsp = &ts;
            }
            int r = ::ppoll(fds, nfds, tsp, nullptr);
            if (r < 0 && errno != EINTR)
                break;
            if (fds[0].revents)
                break;
            if (master >= 0 && slaveClosed) {
                pollfd p{master, POLLIN, 0};
                ::poll(&p, 1, 0);
                if (!(p.revents & POLLHUP))
                    slaveClosed = false;
                continue;
            }
            if (nfds == 2 && (fds[1].revents & POLLIN)) {
                ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0) {
                    std::lock_guard<std::mutex> g(mu);
                    lineBaud = LineBaud();
                    lastInput = Clock::now();
                    for (ssize_t i = 0; i < n; ++i) {
                        counters.byBaud[lineBaud].received++;
                        Enqueue(&buf[i], 1, lineBaud); // the line's echo
                        if (!Feed(buf[i], lineBaud))
                            break;
                    }
                } else if (n < 0 && errno == EIO) {
                    OnSlaveClosed();
                    slaveClosed = true;
                    continue;
                }
            } else if (nfds == 2 && (fds[1].revents & (POLLHUP | POLLERR))) {
                OnSlaveClosed();
                slaveClosed = true;
                continue;
            }
            std::lock_guard<std::mutex> g(mu);
            if (PartialInput())
                SilenceCheck();
            FlushOutput();
            if (saveRequested) {
                saveRequested = false;
                SaveLocked();
            }
        }
    }
};

SimMachine::SimMachine(SimOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->opt = std::move(options);
    impl_->fault = impl_->opt.fault;
    impl_->faultSkip = impl_->opt.faultSkip;
    impl_->faultAddress = impl_->opt.faultAddress;
}

SimMachine::~SimMachine() {
    Stop();
}

std::string SimMachine::Start() {
    Impl& m = *impl_;
    if (m.running)
        return m.devicePath;
    m.lastError.clear();
    auto fail = [&]() {
        if (m.master >= 0)
            ::close(m.master);
        m.master = -1;
        m.devicePath.clear();
        return std::string();
    };
    if (!m.BuildMemory())
        return fail();
    if (!m.opt.stateDir.empty()) {
        if (::mkdir(m.opt.stateDir.c_str(), 0755) != 0 && errno != EEXIST) {
            m.lastError = "cannot create " + m.opt.stateDir + ": " + std::strerror(errno);
            return fail();
        }
        if (!m.LoadState() || !m.LoadSupervisorState())
            return fail();
    }
    if (!m.OpenPty())
        return fail();
    if (m.opt.announce && !m.Announce())
        return fail();
    int p[2];
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) {
        m.lastError = std::string("pipe: ") + std::strerror(errno);
        m.Unannounce();
        return fail();
    }
    m.stopRead = p[0];
    m.stopWrite = p[1];
    m.lastInput = Clock::now();
    m.running = true;
    m.thread = std::thread([&m] { m.Loop(); });
    return m.devicePath;
}

void SimMachine::Stop() {
    Impl& m = *impl_;
    if (!m.running)
        return;
    char c = 1;
    (void)!::write(m.stopWrite, &c, 1);
    m.thread.join();
    m.running = false;
    ::close(m.stopRead);
    ::close(m.stopWrite);
    m.stopRead = m.stopWrite = -1;
    {
        std::lock_guard<std::mutex> g(m.mu);
        m.SaveLocked();
    }
    if (m.master >= 0)
        ::close(m.master);
    m.master = -1;
    m.Unannounce();
}

bool SimMachine::Running() const {
    return impl_->running;
}
const std::string& SimMachine::DevicePath() const {
    return impl_->devicePath;
}
const std::string& SimMachine::AnnouncementPath() const {
    return impl_->announcePath;
}
const std::string& SimMachine::LastError() const {
    return impl_->lastError;
}
const SimOptions& SimMachine::Options() const {
    return impl_->opt;
}

void SimMachine::SetFault(SimFault mode, unsigned skip, std::optional<uint32_t> address) {
    std::lock_guard<std::mutex> g(impl_->mu);
    impl_->fault = mode;
    impl_->faultSkip = skip;
    impl_->faultAddress = address;
    impl_->faultEvents = 0;
    impl_->silentNow = false;
}

SimCounters SimMachine::Counters() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->counters;
}

void SimMachine::ResetCounters() {
    std::lock_guard<std::mutex> g(impl_->mu);
    impl_->counters = SimCounters{};
    impl_->supv.ResetCounters();
}

std::vector<uint8_t> SimMachine::Peek(uint32_t address, size_t length) const {
    std::lock_guard<std::mutex> g(impl_->mu);
    if (impl_->flash.empty() || !impl_->InFlash(address, length))
        return {};
    const uint8_t* p = impl_->At(address);
    return std::vector<uint8_t>(p, p + length);
}

bool SimMachine::Poke(uint32_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> g(impl_->mu);
    if (impl_->flash.empty() || !impl_->InFlash(address, bytes.size()))
        return false;
    std::copy(bytes.begin(), bytes.end(), impl_->At(address));
    impl_->dirty = true;
    impl_->SaveLocked();
    return true;
}

std::array<uint8_t, 512> SimMachine::ParameterImage() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    std::array<uint8_t, 512> image{};
    if (impl_->flash.empty())
        return image;
    const uint8_t* p = impl_->At(kBlockArea) + impl_->BlockOffsetLocked();
    std::copy(p, p + 512, image.begin());
    return image;
}

void SimMachine::SetParameterImage(const std::array<uint8_t, 512>& image) {
    std::lock_guard<std::mutex> g(impl_->mu);
    if (impl_->flash.empty())
        return;
    uint8_t* p = impl_->At(kBlockArea) + impl_->BlockOffsetLocked();
    std::copy(image.begin(), image.end(), p);
    impl_->dirty = true;
    impl_->SaveLocked();
}

uint32_t SimMachine::FlashEnd() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->FlashEnd();
}

uint32_t SimMachine::MemorySize() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->flashSize ? impl_->flashSize - 0x1000 : 0;
}

uint32_t SimMachine::EmulationStart() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->flash.empty() ? 0 : impl_->LayoutLocked().first;
}

uint16_t SimMachine::EmulationLength() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->flash.empty() ? 0 : impl_->LayoutLocked().second;
}

std::array<uint8_t, 128> SimMachine::SupervisorEeprom() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->supv.EepromImage();
}

std::array<uint8_t, 8192> SimMachine::SupervisorProgram() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->supv.ProgramImage();
}

void SimMachine::SetSupervisorImages(const std::array<uint8_t, 128>& eeprom,
                                     const std::array<uint8_t, 8192>& program) {
    std::lock_guard<std::mutex> g(impl_->mu);
    impl_->supv.SetImages(eeprom, program);
    impl_->SaveLocked();
}

SimSupervisorCounters SimMachine::SupervisorCounters() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->supv.Counters();
}
