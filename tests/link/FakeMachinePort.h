// A serial port with a scripted machine behind it, in-process and without timing: every
// Write is logged and answered at once by a small model of the boot loader and the loader.
#pragma once

#include "link/SerialPort.h"

#include <cstdint>
#include <deque>
#include <map>
#include <vector>

class FakeMachinePort : public ISerialPort {
public:
    struct Sent {
        std::vector<uint8_t> bytes;
        int baud;
    };

    // Machine model.
    uint16_t wakeupN = 256;
    bool answerWakeup = true;
    uint8_t wakeupFirst = 0xA2;
    uint8_t loaderAck = 0x01;
    uint8_t commandAck = 'U';
    uint8_t dataAck = 'U';
    uint8_t endAck = 'P';
    bool answerEnd = true;
    bool corruptReplies = false; // flips the check byte of read replies
    int shortWriteAt = -1;       // from this write on (0-based), the line takes one byte less
    std::map<uint32_t, uint8_t> memory; // bytes not in here read as 0xFF

    // What happened.
    std::vector<Sent> sent;
    std::vector<uint32_t> readAddresses;
    std::vector<std::vector<uint8_t>> dataFrames;
    int endFrames = 0;
    int baud = 0;
    uint32_t loaderSize = 0;

    void Put(uint32_t address, const std::vector<uint8_t>& bytes) {
        for (size_t i = 0; i < bytes.size(); ++i)
            memory[address + uint32_t(i)] = bytes[i];
    }
    void PutLe32(uint32_t address, uint32_t v) {
        Put(address, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    uint8_t At(uint32_t address) const {
        auto it = memory.find(address);
        return it == memory.end() ? 0xFF : it->second;
    }

    // A machine with 0x10000 bytes of application memory, the layout descriptor behind
    // pointer 0x0010 and the emulation area of 4096 bytes at 0x1000F000.
    void StandardLayout() {
        PutLe32(0x10000F00 + 24, 0x11000);
        Put(0x10010E00, {0x00, 0x10});
        PutLe32(0x10010E10, 0x1000F000);
        Put(0x10010E14, {0x00, 0x10});
        Put(0x10001100, {0x20, 0x01});
    }

    int Open(const std::string&, int b) override {
        open = true;
        baud = b;
        return 1;
    }
    int Close() override {
        open = false;
        return 1;
    }
    bool IsOpen() const override { return open; }
    bool SetBaudRate(int b) override {
        baud = b;
        return true;
    }
    int SetRts(bool) override { return 1; }
    int SetDtr(bool) override { return 1; }
    int WriteByte(uint8_t b) override { return Write(&b, 1); }
    int Read(uint8_t* buffer, size_t max) override {
        size_t n = 0;
        while (n < max && !input.empty()) {
            buffer[n++] = input.front();
            input.pop_front();
        }
        return int(n);
    }
    void Flush() override { input.clear(); }
    bool WaitReadable(Clock::time_point) override { return !input.empty(); }

    int Write(const uint8_t* data, size_t count) override {
        std::vector<uint8_t> w(data, data + count);
        sent.push_back({w, baud});
        if (shortWriteAt >= 0 && int(sent.size()) > shortWriteAt)
            return int(count) - 1;
        Answer(w);
        return int(count);
    }

private:
    enum class State { Boot, AwaitDivisor, AwaitSize, AwaitImage, Loader, Writing };

    void Reply(std::initializer_list<uint8_t> bytes) { input.insert(input.end(), bytes); }

    void Answer(const std::vector<uint8_t>& w) {
        switch (state) {
        case State::Boot:
            if (w == std::vector<uint8_t>{0x00, 0xED}) {
                if (answerWakeup)
                    Reply({wakeupFirst, uint8_t(wakeupN >> 8), uint8_t(wakeupN)});
                state = (answerWakeup && wakeupFirst == 0xA2 && wakeupN > 40) ? State::AwaitDivisor
                                                                              : State::AwaitSize;
            }
            return;
        case State::AwaitDivisor:
            if (w.size() == 2)
                state = State::AwaitSize;
            return;
        case State::AwaitSize:
            if (w.size() == 4) {
                loaderSize = uint32_t(w[0]) | uint32_t(w[1]) << 8 | uint32_t(w[2]) << 16 |
                             uint32_t(w[3]) << 24;
                Reply({loaderAck});
                state = State::AwaitImage;
            }
            return;
        case State::AwaitImage:
            Reply({loaderAck});
            state = State::Loader;
            return;
        case State::Loader:
        case State::Writing:
            Frame(w);
            return;
        }
    }

    void Frame(const std::vector<uint8_t>& w) {
        if (w.size() == 1 && w[0] == 0xFF) { // wake-up of a reconnect
            state = State::Boot;
            return;
        }
        if (w.size() == 264 && w[0] == 0x01) {
            dataFrames.push_back(w);
            Reply({dataAck});
            return;
        }
        if (w.size() != 16)
            return;
        if (w[0] == 0x02) {
            ++endFrames;
            if (answerEnd)
                Reply({endAck});
            state = State::Loader;
            return;
        }
        uint32_t address = uint32_t(w[2]) << 24 | uint32_t(w[3]) << 16 | uint32_t(w[4]) << 8 | w[5];
        uint32_t length = uint32_t(w[6]) << 24 | uint32_t(w[7]) << 16 | uint32_t(w[8]) << 8 | w[9];
        Reply({commandAck});
        if (commandAck != 'U' && commandAck != 'P')
            return;
        if (w[1] == 0x00) {
            state = State::Writing;
            return;
        }
        readAddresses.push_back(address);
        uint8_t lead = 0x5A, x = lead;
        input.push_back(0x00);
        input.push_back(lead);
        for (uint32_t i = 0; i < length; ++i) {
            uint8_t b = At(address + i);
            input.push_back(b);
            x ^= b;
        }
        input.push_back(corruptReplies ? uint8_t(x ^ 0x01) : x);
    }

    bool open = true;
    State state = State::Boot;
    std::deque<uint8_t> input;
};
