// The controller's boot loader (wake-up, speed switch, loader download) and the downloaded
// loader's frames (read, begin-write, data, end), fed one byte at a time.
#include "sim/SimMachineImpl.h"

#include <cstring>

using namespace simdetail;

void SimMachine::Impl::Reset(const char* why) {
    if (phase == Phase::Boot && machineBaud == kBootBaud && collect.empty())
        return;
    phase = Phase::Boot;
    machineBaud = kBootBaud;
    bootPrev = -1;
    collect.clear();
    writing = false;
    loaderQuiet = false;
    ++counters.resets;
    if (dirty)
        saveRequested = true;
    Log(std::string("reset (") + why + ")");
}

void SimMachine::Impl::Expect(Phase p, size_t n) {
    phase = p;
    collect.clear();
    collectWant = n;
}

void SimMachine::Impl::WakeUp() {
    ++counters.wakeups;
    counters.prescribedWaitMs += 20 + 50 + 30;
    SwapEvent();
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

bool SimMachine::Impl::Feed(uint8_t b, unsigned baud) {
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
        if (loaderQuiet) {
            if (b == 0xFF) {
                Reset("wake-up byte");
                bootPrev = b;
            }
            return true;
        }
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
        if (collect[0] == 0x01 && collect.size() == kDataSize / 2) {
            const auto at = writing ? std::optional<uint32_t>(writePtr) : std::nullopt;
            if (Hits(SimFault::HangupInWrite, at)) {
                HangUp("line hung up in the middle of a data frame");
                return false;
            }
            if (Hits(SimFault::Unplug, at)) {
                HangUp("adapter pulled in the middle of a data frame");
                return false;
            }
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
            Log("divisor " + std::to_string(div) + " is not " + std::to_string(expectedDivisor) +
                "; line lost");
        }
        Expect(Phase::AwaitSwitch, 1);
    } else if (phase == Phase::AwaitSize) {
        loaderSize = LoadLe32(collect.data());
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

void SimMachine::Impl::HandleCommand(const uint8_t* f) {
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
        if (Hits(SimFault::Unplug, addr) && !out.empty()) {
            // Pulled while the reply is on its way: its first half still arrives.
            unplugAt = out[out.size() - r.size() / 2].due;
            note += " (adapter pulled in the middle of the reply)";
        }
        Log("read " + Hex(addr) + " " + std::to_string(len) + note);
        return;
    }
    if (code == 0x00) {
        if (len != 0 || addr < kAreaStart || addr >= FlashEnd() || addr % 4)
            return Refuse("begin write " + Hex(addr) + " " + std::to_string(len));
        ++counters.writeCommands;
        counters.prescribedWaitMs += 500;
        if (opt.eraseOnWrite && addr == kAreaStart) {
            const uint32_t end = std::min(LayoutLocked().first, FlashEnd());
            if (end > kAreaStart)
                std::memset(At(kAreaStart), 0xFF, end - kAreaStart);
            dirty = true;
            ++counters.erases;
            Log("application area erased");
        }
        writing = true;
        writePtr = addr;
        Send({kAckCommand});
        Log("begin write " + Hex(addr));
        return;
    }
    Refuse("unknown command " + std::to_string(code));
}

void SimMachine::Impl::HandleData(const uint8_t* f) {
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
    if (Hits(SimFault::DropFrame, writePtr)) {
        ++counters.droppedFrames;
        Log("data " + Hex(writePtr) + " acknowledged, not stored (fault)");
        writePtr += kDataPayload;
        Send({kAckData});
        return;
    }
    std::memcpy(At(writePtr), f + 2, kDataPayload);
    dirty = true;
    ++counters.dataFrames;
    Log("data " + Hex(writePtr));
    writePtr += kDataPayload;
    Send({kAckData});
}

void SimMachine::Impl::HandleEnd(const uint8_t* f) {
    uint8_t x = 0;
    for (int i = 1; i <= 14; ++i)
        x ^= f[i];
    if (x != f[15])
        return Refuse("end frame with a wrong check byte");
    writing = false;
    ++counters.endFrames;
    saveRequested = true;
    if (Hits(SimFault::LostEndAck, std::nullopt)) {
        ++counters.lostEndAcks;
        loaderQuiet = true;
        Log("end taken, not answered (fault)");
        return;
    }
    Send({kAckCommand});
    Log("end");
}

void SimMachine::Impl::Refuse(const std::string& what) {
    ++counters.refusals;
    Log("refused: " + what);
    Send({kSimRefusal});
}

void SimMachine::Impl::SilenceCheck() {
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

bool SimMachine::Impl::PartialInput() const {
    return (phase == Phase::Loader && !collect.empty()) ||
           (phase != Phase::Loader && phase != Phase::Boot);
}
