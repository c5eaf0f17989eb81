#include "link/STM.h"

#include "base/Hex.h"
#include "base/LittleEndian.h"
#include "link/ResultCodes.h"
#include "link/WriteStop.h"

#include <algorithm>
#include <thread>

namespace {

using Clock = ISerialPort::Clock;
using std::chrono::milliseconds;

constexpr auto kTriggerWindow = milliseconds(100);
// One character at 9600 baud takes 1.04 ms: one trigger byte per slot keeps the line busy
// without sending faster than it carries.
constexpr auto kTriggerSlot = milliseconds(1);
constexpr auto kEepromTimeout = std::chrono::seconds(3);
constexpr auto kEndTimeout = std::chrono::seconds(10);
constexpr int kRecordsInAnswer = 132; // what an EEPROM answer is taken to hold
constexpr uint8_t kEndOfAnswer = 0x04;
constexpr uint8_t kCarriageReturn = 0x0D;

void PutHex(std::string& s, uint8_t v) {
    s.push_back(HexChar(v >> 4));
    s.push_back(HexChar(v));
}

} // namespace

cSTM::cSTM(ISerialPort* port) : port(port) {}

cSTM::~cSTM() = default;

void cSTM::Pause(int ms) {
    if (pause)
        pause(ms);
    else
        std::this_thread::sleep_for(milliseconds(ms));
}

bool cSTM::WaitInput(Clock::time_point deadline) {
    if (Clock::now() >= deadline)
        return false;
    return port->WaitReadable(deadline);
}

void cSTM::DrainInput() {
    uint8_t sink[256];
    while (port->Read(sink, sizeof sink) > 0) {
    }
}

void cSTM::ShowTransfer(const char* germanText) {
    if (statusBar)
        statusBar->SetStatusText(germanText);
    if (progressBar) {
        progressBar->ShowProgress(true);
        progressBar->SetProgress(0);
    }
}

void cSTM::EndTransfer() {
    if (progressBar)
        progressBar->ShowProgress(false);
    if (statusBar)
        statusBar->SetStatusText("");
}

std::string cSTM::TextRecord(uint16_t address, uint8_t type, const uint8_t* data, size_t count) {
    std::string s = ":";
    const uint8_t n = uint8_t(count);
    uint8_t sum = uint8_t(n + (address >> 8) + (address & 0xFF) + type);
    PutHex(s, n);
    PutHex(s, uint8_t(address >> 8));
    PutHex(s, uint8_t(address));
    PutHex(s, type);
    for (size_t i = 0; i < count; ++i) {
        PutHex(s, data[i]);
        sum = uint8_t(sum + data[i]);
    }
    PutHex(s, uint8_t(0x100 - sum));
    return s;
}

int cSTM::EndStatusResult(uint8_t status) {
    switch (status) {
    case '0':
        return kResultOk;
    case '2':
    case '3':
        return kResultChecksum;
    case '4':
        return kResultTimeout;
    default:
        return kResultPortOpenFailed; // "1" and anything unknown: the loader failed
    }
}

uint32_t cSTM::SupervisorVersion(std::span<const uint8_t, 128> e) {
    return LoadLe32(e.data() + kVersionOffset);
}

int cSTM::Trigger() {
    // Linux timers and poll() already run to the millisecond: nothing to raise.
    Pause(700);
    DrainInput();
    if (port->SetRts(false) != 1)
        return kResultLineSetting;
    Pause(100);
    const Clock::time_point start = Clock::now();
    if (port->SetRts(true) != 1)
        return kResultLineSetting;

    port->WriteByte(kTriggerStart);
    bool answered = false;
    bool wrongAnswer = false;
    Clock::time_point slotEnd = Clock::now();
    while (!answered && Clock::now() - start <= kTriggerWindow) {
        port->WriteByte(kTriggerByte);
        slotEnd = std::max(slotEnd + kTriggerSlot, Clock::now());
        // The rest of the slot waits for the answer; the echo of our own bytes comes back too.
        while (!answered && WaitInput(slotEnd)) {
            uint8_t b[64];
            int n = port->Read(b, sizeof b);
            if (n <= 0)
                break;
            for (int i = 0; i < n && !answered; ++i) {
                if (b[i] == kTriggerAnswer)
                    answered = true;
                else if (b[i] != kTriggerByte && b[i] != kTriggerStart)
                    wrongAnswer = true;
            }
        }
    }
    if (port->SetDtr(true) != 1)
        return kResultLineSetting;
    if (!answered) {
        // Silence (or only our own echo) is a time-out; anything else answered wrongly.
        if (!wrongAnswer)
            return kResultTimeout;
        if (showMessage)
            showMessage("Wrong Trigger");
        return kResultWrongTrigger;
    }
    if (!port->SetBaudRate(kLoaderBaud))
        return kResultLineSetting;
    DrainInput();
    if (port->SetDtr(true) != 1)
        return kResultLineSetting;
    return kResultOk;
}

int cSTM::ReadSupervisorEeprom(std::span<uint8_t, 128> destination) {
    std::fill(destination.begin(), destination.end(), 0);
    Pause(100);
    const Clock::time_point deadline = Clock::now() + kEepromTimeout;
    const uint8_t request = kReadRequest;
    if (port->Write(&request, 1) != 1)
        return kResultPortFailed;
    ShowTransfer("Übertragung von Maschine");

    // One byte at a time as the bytes arrive; false at the deadline.
    uint8_t buffer[256];
    int have = 0, at = 0;
    auto next = [&](uint8_t& b) {
        while (at == have) {
            if (!WaitInput(deadline))
                return false;
            have = port->Read(buffer, sizeof buffer);
            at = 0;
            if (have < 0)
                have = 0;
        }
        b = buffer[at++];
        return true;
    };

    int result = kResultTimeout;
    size_t stored = 0;
    int records = 0;
    for (;;) {
        uint8_t b;
        if (!next(b))
            break;
        if (b != ':')
            continue;
        uint8_t header[4];
        bool complete = true;
        uint8_t sum = 0;
        for (uint8_t& h : header) {
            complete = complete && next(h);
            sum = uint8_t(sum + h);
        }
        if (!complete)
            break;
        const uint8_t count = header[0], type = header[3];
        uint8_t data[256];
        for (int i = 0; i <= count && complete; ++i) {
            complete = next(data[i]);
            sum = uint8_t(sum + data[i]);
        }
        if (!complete)
            break;
        if (sum != 0) {
            result = kResultChecksum;
            break;
        }
        if (type == kTypeEeprom) {
            // Bytes beyond the 128 of the EEPROM are not stored.
            for (int i = 0; i < count && stored < destination.size(); ++i)
                destination[stored++] = data[i];
        } else if (type == kTypeEnd) {
            // An answer that ends before the whole EEPROM came is not the EEPROM.
            result = stored == destination.size() ? kResultOk : kResultChecksum;
            break;
        }
        ++records;
        if (progressBar)
            progressBar->SetProgress(std::min(100, records * 100 / kRecordsInAnswer));
    }
    port->Flush();
    EndTransfer();
    return result;
}

void cSTM::FillPause(int pauseMs) {
    // Carriage returns back to back: as many as the line carries in the pause, never faster
    // than it carries them, so the pause is both line time and wall time. The echo of them is
    // taken off the input as it comes.
    const double perSecond = kLoaderBaud / 10.0;
    const long needed = long(pauseMs * perSecond / 1000.0 + 0.999);
    const Clock::time_point first = Clock::now();
    const Clock::time_point end = first + milliseconds(pauseMs);
    long sent = 0;
    for (;;) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - first).count();
        const long due = std::min(needed, long(elapsed * perSecond) + 1);
        while (sent < due && port->WriteByte(kCarriageReturn) == 1)
            ++sent;
        if (sent < due)
            return; // the line takes no more bytes: nothing to wait for
        DrainInput();
        const Clock::time_point now = Clock::now();
        if (now >= end && sent >= needed)
            return;
        // Until about the next millisecond's carriage returns are due; their echo waits in the
        // input queue meanwhile, so there is nothing to wake up for.
        std::this_thread::sleep_until(std::min(now + milliseconds(1), std::max(end, now)));
    }
}

int cSTM::SendHexRecords(uint16_t base, const uint8_t* data, size_t length, uint8_t type,
                         size_t perRecord, int pauseMs) {
    ShowTransfer("Übertragung zur Maschine");
    for (size_t offset = 0; offset < length && perRecord; offset += perRecord) {
        if (WriteStop::requested) {
            DrainInput();
            EndTransfer();
            return kResultStopped;
        }
        const size_t count = std::min(perRecord, length - offset);
        const std::string record = TextRecord(uint16_t(base + offset), type, data + offset, count);
        // A record that did not leave fails the update with the port's reason, not a time-out.
        if (port->Write(reinterpret_cast<const uint8_t*>(record.data()), record.size()) !=
            static_cast<int>(record.size())) {
            DrainInput();
            EndTransfer();
            return kResultPortFailed;
        }
        FillPause(pauseMs);
        if (progressBar)
            progressBar->SetProgress(int(offset * 100 / length));
    }
    DrainInput();
    EndTransfer();
    return kResultOk;
}

int cSTM::SendEndRecord() {
    static const char kEnd[] = ":00000001FF";
    DrainInput();
    const uint8_t zero = 0x00;
    if (port->Write(reinterpret_cast<const uint8_t*>(kEnd), sizeof kEnd - 1) !=
            static_cast<int>(sizeof kEnd - 1) ||
        port->Write(&zero, 1) != 1)
        return kResultPortFailed;
    Pause(50);
    const Clock::time_point deadline = Clock::now() + kEndTimeout;
    uint8_t last[3] = {0, 0, 0};
    while (WaitInput(deadline)) {
        uint8_t b[64];
        int n = port->Read(b, sizeof b);
        for (int i = 0; i < n; ++i) {
            last[0] = last[1];
            last[1] = last[2];
            last[2] = b[i];
            if (b[i] == kEndOfAnswer)
                return EndStatusResult(last[1]);
        }
    }
    return kResultTimeout;
}

int cSTM::Program(std::span<const uint8_t, 128> eeprom, std::span<const uint8_t, 8192> program) {
    WriteStop::Writing writing;
    if (WriteStop::requested)
        return kResultStopped;
    int r = Trigger();
    if (r != kResultOk)
        return r;
    Pause(200);
    r = SendHexRecords(kEepromAddress, eeprom.data(), eeprom.size(), kTypeEeprom, kBytesPerRecord,
                       kEepromPauseMs);
    if (r == kResultOk)
        r = SendHexRecords(kProgramAddress, program.data(), program.size(), kTypeProgram,
                           kBytesPerRecord, kProgramPauseMs);
    if (r != kResultOk)
        return r;
    return SendEndRecord();
}
