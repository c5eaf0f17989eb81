// Reads back what cTracePort wrote (format in link/TracePort.h), so a recorded session can be
// replayed against the program or checked by a test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TraceEvent {
    enum Kind { Sent, Received, Echo, Open, Close, Speed, Rts, Dtr, Flush };
    Kind kind = Sent;
    double ms = 0;              // since the trace began
    int baud = 0;               // line speed at the time
    std::vector<uint8_t> bytes; // Sent, Received and Echo
    std::string text;           // the rest of the line for the other kinds
    int line = 0;               // line number in the file, for messages
};

struct Trace {
    std::string command; // from the "# command:" comment, "" when there is none
    std::vector<TraceEvent> events;
};

// Parses a trace text; false with "line N: reason" in error when it is damaged (no format
// line, an unknown event, bad hex, times going backwards ...).
bool ParseTrace(const std::string& text, Trace& out, std::string& error);
// Reads and parses a trace file; the error names the file.
// A trace of the longest firmware update is a few megabytes; a bigger file is not a trace.
inline constexpr size_t kMaxTraceFileSize = 64u << 20;
bool ReadTrace(const std::string& path, Trace& out, std::string& error);
