#include "link/TracePort.h"

#include "base/Hex.h"

#include <cerrno>
#include <cstring>

cTracePort::~cTracePort() {
    if (file)
        std::fclose(file);
}

bool cTracePort::Start(const std::string& path, const std::string& command, std::string& error) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (file)
        std::fclose(file);
    file = f;
    start = std::chrono::steady_clock::now();
    std::fprintf(file, "# kelvane trace 1\n# command: %s\n# ms what baud data\n", command.c_str());
    std::fflush(file);
    return true;
}

void cTracePort::Line(const char* what, const std::string& rest) {
    if (!file)
        return;
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(file, "%.3f %s %d%s%s\n", ms, what, baud, rest.empty() ? "" : " ", rest.c_str());
    // Kept on disk as it happens: the trace of a session that crashed is the useful one.
    std::fflush(file);
}

void cTracePort::Bytes(const char* what, const uint8_t* data, size_t count) {
    Line(what, HexBytes(data, count, true));
}

int cTracePort::Open(const std::string& device, int baudRate) {
    const int r = inner.Open(device, baudRate);
    if (r)
        baud = baudRate;
    Line("open", (r ? "" : "failed ") + device);
    return r;
}

int cTracePort::Close() {
    const bool wasOpen = inner.IsOpen();
    const int r = inner.Close();
    if (wasOpen)
        Line("close", "");
    return r;
}

bool cTracePort::SetBaudRate(int baudRate) {
    const bool r = inner.SetBaudRate(baudRate);
    if (r)
        baud = baudRate;
    Line("speed", r ? "" : "failed");
    return r;
}

int cTracePort::SetRts(bool on) {
    const int r = inner.SetRts(on);
    Line("rts", on ? "1" : "0");
    return r;
}

int cTracePort::SetDtr(bool on) {
    const int r = inner.SetDtr(on);
    Line("dtr", on ? "1" : "0");
    return r;
}

int cTracePort::Write(const uint8_t* data, size_t count) {
    const int r = inner.Write(data, count);
    if (r > 0) {
        Bytes(">", data, size_t(r));
        // The port swallowed the line's echo of these bytes; a replay has to send it.
        Bytes("echo", data, size_t(r));
    }
    return r;
}

int cTracePort::WriteByte(uint8_t byte) {
    const int r = inner.WriteByte(byte);
    if (r > 0)
        Bytes(">", &byte, 1);
    return r;
}

int cTracePort::Read(uint8_t* buffer, size_t max) {
    const int r = inner.Read(buffer, max);
    if (r > 0)
        Bytes("<", buffer, size_t(r));
    return r;
}

void cTracePort::Flush() {
    inner.Flush();
    Line("flush", "");
}
