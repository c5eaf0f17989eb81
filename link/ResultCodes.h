// Result codes of machine operations and the messages shown for them.
#pragma once

// 0 success, negative failure. One table for the link, the port and the supervisor.
constexpr int kResultOk = 0;
constexpr int kResultRefused = -1; // refused frame, unexpected byte, unusable loader, no memory
constexpr int kResultPortOpenFailed = -2; // port could not be opened; supervisor failure status
constexpr int kResultFileNotWritten = -3; // a file the command writes (a dump) cannot be written
constexpr int kResultChecksum = -4;       // check byte of a reply wrong
constexpr int kResultTimeout = -7;        // expected bytes did not arrive in time
constexpr int kResultLineSetting = -101;  // RTS, DTR or baud rate could not be set
constexpr int kResultPortFailed = -102;   // OpenSelectedPort failed inside a read or write
constexpr int kResultWrongTrigger = -103; // supervisor did not answer the trigger
constexpr int kResultStopped = -104;      // the user stopped a write between two frames
constexpr int kResultCut = -105;          // found later: the write never ended (killed, power lost)

inline constexpr const char kMessageComPortError[] = "COM-Port Fehler";
inline constexpr const char kMessageTimeout[] = "Timeout";
inline constexpr const char kMessageChecksum[] = "Checksum-Error";
inline constexpr const char kMessagePortNotOpened[] = "com-port not opend";
inline constexpr const char kMessageStopped[] = "Übertragung auf Wunsch angehalten";

// German message shown for a result code (before translation); nullptr when the code has none.
inline const char* ResultMessage(int code) {
    switch (code) {
    case kResultChecksum:
        return kMessageChecksum;
    case kResultTimeout:
        return kMessageTimeout;
    case kResultStopped:
        return kMessageStopped;
    case kResultLineSetting:
    case kResultPortFailed:
        return kMessageComPortError;
    default:
        return nullptr;
    }
}
