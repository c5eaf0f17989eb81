// The machine catalog: motor, clutch and battery speed limits per machine type, and the
// gearboxes and angle heads that can be fitted, read from "Torvex Transmissions_R4.ini".
//
// The operations report problems as the German source text of their message (to be passed
// through Translate by the caller, who shows it); the catalog itself shows nothing.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/IniFile.h"

class ParameterBlock;

inline constexpr const char* kCatalogFileName = "Torvex Transmissions_R4.ini";

struct TransmissionEntry {
    static constexpr size_t kMaxNameLength = 22; // characters

    uint16_t id = 0;
    std::string name; // e.g. "1:18,2" (UTF-8)
    double ratio = 0; // output turns = motor turns / ratio
    double extra1 = 0;
    double extra2 = 0;

    bool Empty() const { return id == 0 && name.empty() && ratio == 0; }
    bool operator==(const TransmissionEntry&) const = default;
};

// Result of parsing an entry line "id name ratio".
enum class EntryLineResult { Ok, Malformed };

// Parses an entry line (first 255 characters of the value, as "%d %s %lf ..."): taken only
// when exactly three fields are there. Beyond that, an id outside 0..65535 or a ratio that is
// not a positive finite number counts as malformed (such a ratio would divide by zero or turn
// speeds negative). Names longer than 22 characters are cut to 22.
EntryLineResult ParseEntryLine(std::string_view value, TransmissionEntry& out);

class MachineCatalog {
public:
    static constexpr int kMaxGearbox = 20;
    static constexpr int kMaxAngleHead = 20;

    MachineCatalog();

    // MOTOR, KUPPLUNG and every GETRIEBE_n / WINKELKOPF_n for the model code of block. A
    // missing file leaves the built-in values (and the defaults of the keys). Returns 0.
    int LoadCatalog(const std::string& path, const ParameterBlock& block);
    int LoadCatalog(const IniFile& ini, std::string_view modelCode);

    // AKKU / "<model>_<voltage>" into batteryMaxSpeed (-1 when not defined: message
    // "Akku ist nicht definiert"), then the page copies. Returns 0.
    int LoadBattery(const std::string& path, const ParameterBlock& block, int batteryVoltage,
                    std::string* message = nullptr);
    int LoadBattery(const IniFile& ini, std::string_view modelCode, int batteryVoltage,
                    std::string* message = nullptr);

    // Gearbox and angle head of the machine combined into out (normally activeTransmission):
    // 0, -1 (key absent: "Getriebe ist nicht definiert" / "Winkelkopf ist nicht definiert"),
    // -2 (line not three fields: "Getriebe: Parameter fehlerhaft" / "Winkelkopf: Parameter
    // fehlerhaft"). Also rereads the MOTOR and KUPPLUNG values. Reads the file, not the tables.
    int LookupTransmission(const std::string& path, const ParameterBlock& block, int gearboxId,
                           int angleHeadId, TransmissionEntry& out, std::string* message = nullptr);
    int LookupTransmission(const IniFile& ini, std::string_view modelCode, int gearboxId,
                           int angleHeadId, TransmissionEntry& out, std::string* message = nullptr);
    // The machine in block (its transmission and angleHead bytes) into activeTransmission.
    int LookupTransmission(const std::string& path, const ParameterBlock& block,
                           std::string* message = nullptr);

    // Slot by id; nullptr when there is no slot (gearbox 1..20, angle head 0..20).
    const TransmissionEntry* Gear(int id) const;
    const TransmissionEntry* AngleHeadEntry(int id) const;

    // Keys as the program asks for them.
    static std::string MinSpeedKey(std::string_view modelCode);             // "MINDREHZAHL_%s"
    static std::string BatteryKey(std::string_view modelCode, int voltage); // "%s_%.d"
    static std::string GearKey(int n);                                      // "GETRIEBE_%d"
    static std::string AngleHeadKey(int n);                                 // "WINKELKOPF_%d"

    // Slot 0 of gearTable is unused; slot n is gearbox n.
    std::array<TransmissionEntry, kMaxGearbox + 1> gearTable;
    std::array<TransmissionEntry, kMaxAngleHead + 1> angleHeadTable;
    TransmissionEntry activeTransmission;
    int batteryMaxSpeed = 22500;
    int minSpeed = 50;
    int minThreshold = 101;
    int maxThreshold = 170;
    int clutchMaxSpeed = 22500;
    // What the step pages get: set by LoadBattery.
    int pageBatteryMaxSpeed = 22500;
    int pageMinSpeed = 50;

private:
    void ReadMotorAndClutch(const IniFile& ini, std::string_view modelCode);
};
