// A line whose far end is the fuzz input: for each write of the link, a length L (two bytes,
// least significant first) and L bytes that then arrive. Nothing ever waits.
#pragma once

#include "link/SerialPort.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>

class ScriptedLine : public ISerialPort {
public:
    ScriptedLine(const uint8_t* data, size_t size) : data(data), size(size) {}

    int Open(const std::string&, int) override { return 1; }
    int Close() override { return 1; }
    bool IsOpen() const override { return true; }
    bool SetBaudRate(int) override { return true; }
    int SetRts(bool) override { return 1; }
    int SetDtr(bool) override { return 1; }
    int WriteByte(uint8_t b) override { return Write(&b, 1); }
    int Write(const uint8_t*, size_t count) override {
        if (pos + 1 < size) {
            size_t n = size_t(data[pos]) | size_t(data[pos + 1]) << 8;
            pos += 2;
            n = std::min(n, size - pos);
            input.insert(input.end(), data + pos, data + pos + n);
            pos += n;
        }
        return int(count);
    }
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

private:
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    std::deque<uint8_t> input;
};
