// fuzz_trace: a trace file as users send it in for kelvane-sim --replay. Every text is either
// refused with a line number or read into events that keep the promises the replay counts on.
#include "link/TraceReader.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Trace trace;
    std::string error;
    if (!ParseTrace(std::string(reinterpret_cast<const char*>(data), size), trace, error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    double lastMs = 0;
    int lastLine = 1;
    for (const TraceEvent& e : trace.events) {
        const bool bytes = e.kind == TraceEvent::Sent || e.kind == TraceEvent::Received ||
                           e.kind == TraceEvent::Echo;
        if (e.ms < lastMs || e.line <= lastLine || e.baud < 0 || bytes == e.bytes.empty())
            std::abort();
        lastMs = e.ms;
        lastLine = e.line;
    }
    return 0;
}
