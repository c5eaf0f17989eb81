// The one serial line to the machine: raw 8N1 on a POSIX tty, echo removed on write.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Why a port could not be opened or stopped working, in the terms a technician acts on.
enum class PortProblem {
    None,
    NoPermission, // the user may not open the device (not in the group "dialout")
    NoAccess,     // in "dialout" and still refused: the device's owner, group or mode
    InUse,        // another program holds the port
    Gone,         // the adapter is not there (any more): unplugged, or vanished mid-command
    NotSerial,    // the path is a file, folder, FIFO or a terminal that is not a serial line
    Stalled,      // the line took no bytes for seconds: a write stopped short
};

// German text of a problem, still to be translated; "" for None. NoAccess has placeholders
// for the device's details: see SerialPort::FillProblemText.
const char* PortProblemText(PortProblem problem);

// What the link needs of a serial line; the real port and test fakes implement it.
class ISerialPort {
public:
    // Monotonic: a change of the system time during a long transfer moves no deadline.
    using Clock = std::chrono::steady_clock;

    // The end of the window "the whole-second clock has advanced by `seconds`" that the
    // link's waits are counted in.
    static Clock::time_point WholeSecondsFromNow(int seconds) {
        return std::chrono::floor<std::chrono::seconds>(Clock::now()) +
               std::chrono::seconds(seconds);
    }

    virtual ~ISerialPort() = default;

    // 1 on success or when already open, 0 on failure.
    virtual int Open(const std::string& device, int baudRate) = 0;
    // Always 1; drops RTS and DTR before closing.
    virtual int Close() = 0;
    virtual bool IsOpen() const = 0;
    // Also raises RTS and DTR.
    virtual bool SetBaudRate(int baudRate) = 0;
    virtual int SetRts(bool on) = 0;
    virtual int SetDtr(bool on) = 0;
    // Bytes the device accepted; waits for and removes as many echoed bytes.
    virtual int Write(const uint8_t* data, size_t count) = 0;
    // 0 or 1; no echo removal.
    virtual int WriteByte(uint8_t byte) = 0;
    // Bytes taken from the input queue, possibly 0; never waits.
    virtual int Read(uint8_t* buffer, size_t max) = 0;
    virtual void Flush() = 0;
    // Waits until input is queued (true) or the deadline has passed or the line is gone
    // (false). A false answer is final: the caller gives up on the bytes it waits for.
    virtual bool WaitReadable(Clock::time_point deadline) = 0;
    // WaitReadable for a caller that expects `wanted` bytes: a port that knows its line speed
    // lets some of them gather before it returns, rather than waking for every byte.
    virtual bool WaitQueued(Clock::time_point deadline, size_t wanted) {
        (void)wanted;
        return WaitReadable(deadline);
    }
    // Why the last Open failed or the line went away; None while all is well.
    virtual PortProblem Problem() const { return PortProblem::None; }
};

class SerialPort : public ISerialPort {
public:
    SerialPort() = default;
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    int Open(const std::string& device, int baudRate) override;
    int Close() override;
    bool IsOpen() const override { return isOpen != 0; }
    bool SetBaudRate(int baudRate) override;
    int SetRts(bool on) override;
    int SetDtr(bool on) override;
    int Write(const uint8_t* data, size_t count) override;
    int WriteByte(uint8_t byte) override;
    int Read(uint8_t* buffer, size_t max) override;
    void Flush() override;
    bool WaitReadable(Clock::time_point deadline) override;
    bool WaitQueued(Clock::time_point deadline, size_t wanted) override;
    PortProblem Problem() const override;

    // File descriptor of the open device, -1 when closed.
    int Handle() const { return handle; }
    // False on a device without modem lines (a pseudo-terminal): RTS and DTR are no-ops there.
    bool HasModemLines() const { return hasModemLines; }
    // The translated problem text with the refused device's details put in: %1 the device,
    // %2 its owner, %3 its group, %4 its mode (octal). Other texts come back unchanged.
    std::string FillProblemText(std::string text) const;

    // Text of the last failure of Open or of a line setting, for diagnostics.
    const std::string& LastError() const { return lastError; }

    // Called about every 50 ms while the port waits for bytes, so a window can repaint during a
    // long transfer. Empty: none.
    void SetIdleCallback(std::function<void()> fn) { idle = std::move(fn); }

    // Supported line speeds: 9600, 19200, 115200, 230400.
    static bool IsSupportedBaudRate(int baudRate);

    // Where Open looks for other programs holding the device ("/proc"; tests point it
    // elsewhere, "" skips the search).
    void SetProcessFolder(std::string folder) { processFolder = std::move(folder); }
    // Whether the driver took the low-latency request at the last Open (USB-serial adapters).
    bool LowLatency() const { return lowLatency; }

private:
    void MarkGone();
    void MarkStalled();
    bool FailOpen(PortProblem why, const std::string& what, int fd);
    // Why the device was refused: the group "dialout" missing, or the device not given to it.
    PortProblem RefusedBecause(const std::string& device);
    // Another process with the device open (a terminal program that takes no lock).
    bool HeldElsewhere(const std::string& device) const;
    int SetModemLine(int line, bool on);
    void Idle();
    bool Fail(const char* what);

    std::function<void()> idle;
    Clock::time_point lastIdle{};
    int handle = -1;
    int isOpen = 0;
    uint8_t dataBits = 8;
    bool hasModemLines = true;
    bool lineGone = false; // read or poll reported a hang-up or an I/O error
    int lineBaud = 0;      // line speed set last: how fast awaited bytes come
    std::string lastError;
    PortProblem openProblem = PortProblem::None;
    std::vector<std::string> refusedDevice; // device, owner, group, mode of a NoAccess
    std::string processFolder = "/proc";
    bool lowLatency = false;
};
