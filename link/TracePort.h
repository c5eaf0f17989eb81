// A serial port that writes down every byte the program sends and receives, with the time,
// the direction and the line speed, so a session at a real machine can be read and replayed.
//
// One line per event, fields separated by single blanks:
//   <ms since the trace began, 3 decimals> <what> <baud> [bytes in hex | text]
// what: ">" sent, "<" received, "echo" the line's echo of a ">" that the port took in and
// removed itself (the program never sees it), "open", "close", "speed", "rts", "dtr", "flush".
// Lines starting with "#" are comments; the first one names the format ("# kelvane trace 1").
#pragma once

#include "link/SerialPort.h"

#include <chrono>
#include <cstdio>
#include <string>

class cTracePort : public ISerialPort {
public:
    // Appends nothing until Start succeeds; the port is not owned.
    explicit cTracePort(ISerialPort& inner) : inner(inner) {}
    ~cTracePort() override;
    cTracePort(const cTracePort&) = delete;
    cTracePort& operator=(const cTracePort&) = delete;

    // Creates (replaces) the trace file; false with the reason in error.
    bool Start(const std::string& path, const std::string& command, std::string& error);

    int Open(const std::string& device, int baudRate) override;
    int Close() override;
    bool IsOpen() const override { return inner.IsOpen(); }
    bool SetBaudRate(int baudRate) override;
    int SetRts(bool on) override;
    int SetDtr(bool on) override;
    int Write(const uint8_t* data, size_t count) override;
    int WriteByte(uint8_t byte) override;
    int Read(uint8_t* buffer, size_t max) override;
    void Flush() override;
    bool WaitReadable(Clock::time_point deadline) override {
        return inner.WaitReadable(deadline);
    }
    bool WaitQueued(Clock::time_point deadline, size_t wanted) override {
        return inner.WaitQueued(deadline, wanted);
    }
    PortProblem Problem() const override { return inner.Problem(); }

private:
    void Line(const char* what, const std::string& rest);
    void Bytes(const char* what, const uint8_t* data, size_t count);

    ISerialPort& inner;
    std::FILE* file = nullptr;
    std::chrono::steady_clock::time_point start;
    int baud = 0;
};
