// What is due on a machine: service by its fastening counter, calibration by its date, and a
// firmware older than the newest one the program ships.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

struct DueSettings {
    // Service is soon due this share of the interval since the last reset before the mark.
    double serviceMargin = 0.05;
    // Calibration is due this many months after calDate.
    int calibrationMonths = 12;
};

enum class ServiceState { Unknown, Ok, Soon, Due };
enum class CalibrationState { Ok, Due };

// Unknown without a counter or without a mark (serviceDueCounter 0).
ServiceState ServiceDue(std::optional<uint32_t> fasteningCounter, uint32_t serviceDueCounter,
                        uint32_t serviceResetCounter, const DueSettings& settings);

// Due when calDate is 0 (never calibrated) or lies at or before the same local date and time
// the interval's months before now (calDate counts local wall-clock minutes: base/CalendarDate).
CalibrationState CalibrationDue(uint32_t calDate, std::time_t now, const DueSettings& settings);
// The newest calDate that is due at now (computed once for many machines).
uint32_t CalibrationDueLimit(std::time_t now, const DueSettings& settings);
inline CalibrationState CalibrationDue(uint32_t calDate, uint32_t limit) {
    return calDate == 0 || calDate <= limit ? CalibrationState::Due : CalibrationState::Ok;
}

// A firmware version "V04.02.005" as one comparable number; nullopt when it does not read.
std::optional<uint32_t> FirmwareRank(const std::string& swVersion);
// The newest version among the files "<machineType>_<version>.bin" in folder ("" when none).
std::string NewestShippedFirmware(const std::filesystem::path& folder,
                                  const std::string& machineType);
// True when swVersion reads and is older than newest.
bool FirmwareOlder(const std::string& swVersion, const std::string& newest);

const char* ServiceStateName(ServiceState s); // "ok", "soon", "due", "unknown"

// [FLEET] SERVICE_MARGIN (percent of the interval, 0..100, default 5) and
// [FLEET] CALIBRATION_MONTHS (1..120, default 12) of the settings file; a missing file or a
// value out of range keeps the default.
DueSettings LoadDueSettings(const std::filesystem::path& settingsFile);
