// The machine's 512-byte parameter image: fixed offsets, little-endian, unsigned.
//
// Everything that goes to the machine or into a file is the raw `bytes`; the accessors read and
// write those bytes in place, so a page holding a reference into the controller's image sees
// every change at once.
//
// Text fields are single bytes, shown through Latin-1: byte b is the character U+00bb, returned
// as UTF-8. Latin-1 is the part of the Windows ANSI code page (1252) that maps every byte to a
// character and back, so bytes nobody edited survive a display-and-store round trip unchanged.
// Characters beyond U+00FF are stored as '?', as the ANSI conversion does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/TextCodec.h" // Latin1ToUtf8, Utf8ToLatin1 for the text fields

// Where the image came from (`dataOrigin` of the controller).
inline constexpr int kDataOriginNone = 0;
inline constexpr int kDataOriginMachine = 1;
inline constexpr int kDataOriginFile = 2;

// Next-step conditions: nextCond & kCondMask.
inline constexpr uint8_t kCondAngle = 0x02;     // "Drehwinkel erreicht", slot angle
inline constexpr uint8_t kCondTime = 0x04;      // "Zeit abgelaufen", slot time
inline constexpr uint8_t kCondThreshold = 0x08; // "Drehmoment-Schwelle", slot threshold
inline constexpr uint8_t kCondCurrent = 0x10;   // current reached, slot current
inline constexpr uint8_t kCondClutch = 0x20;    // "Kupplung ausgelöst"
inline constexpr uint8_t kCondMask = 0x7F;
inline constexpr uint8_t kCondWaitRestart = 0x80; // "warten auf Neustart"; never on a last step
inline constexpr uint8_t kNextStepLast = 0xFF;    // "letzter Schritt"

// Error criteria: bits of errorMask.
inline constexpr uint16_t kErrAngleMax = 0x0002;   // "Drehwinkel >", slot angle
inline constexpr uint16_t kErrAngleMin = 0x0004;   // "Drehwinkel <", slot angleMin
inline constexpr uint16_t kErrTimeMax = 0x0008;    // "Zeit >", slot time
inline constexpr uint16_t kErrThreshold = 0x0010;  // "Schwelle", slot threshold
inline constexpr uint16_t kErrCurrentMax = 0x0020; // "Strom >", slot current
inline constexpr uint16_t kErrClutch = 0x0040;     // "Kupplung ausgelöst"
inline constexpr uint16_t kErrTimeMin = 0x0080;    // "Zeit <", slot timeMin
inline constexpr uint16_t kErrCurrentMin = 0x0100; // "Strom <", slot currentMin
inline constexpr uint16_t kErrAllCriteria = 0x01FE;

// Read-only view of one 29-byte step inside an image.
class StepRecordView {
public:
    static constexpr size_t kSize = 29;

    explicit StepRecordView(const uint8_t* data) : data_(data) {}

    uint16_t Speed() const;      // machine units
    uint32_t Angle() const;      // motor counts; "Drehwinkel erreicht" and "Drehwinkel >"
    uint32_t AngleMin() const;   // motor counts; "Drehwinkel <"
    uint16_t Time() const;       // ms; "Zeit abgelaufen" and "Zeit >"
    uint16_t Threshold() const;  // raw; "Drehmoment-Schwelle" and "Schwelle"
    uint16_t CurrentMin() const; // 0.01 A; "Strom <"
    uint16_t Current() const;    // 0.01 A; current reached and "Strom >"
    uint8_t Ramp() const;        // 0.01 s soft start
    uint16_t TimeMin() const;    // ms; "Zeit <"
    uint8_t Type() const;        // 0 "Rechtslauf", 1 "Linkslauf"
    uint8_t Controlled() const;  // 1 speed-controlled (1/Min), 0 not (%)
    uint8_t NextCond() const;    // whole byte
    uint8_t Condition() const { return NextCond() & kCondMask; }
    bool WaitRestart() const { return (NextCond() & kCondWaitRestart) != 0; }
    uint16_t ErrorMask() const;
    bool HasError(uint16_t bit) const { return (ErrorMask() & bit) != 0; }
    uint8_t NextStep() const; // global index 0..9, kNextStepLast for the last step
    bool IsLast() const { return NextStep() == kNextStepLast; }

    std::array<uint8_t, kSize> Raw() const;
    const uint8_t* Data() const { return data_; }

private:
    const uint8_t* data_;
};

// Writable view of one step: writes go straight into the image it was taken from.
class StepRecord : public StepRecordView {
public:
    explicit StepRecord(uint8_t* data) : StepRecordView(data), data_(data) {}

    void SetSpeed(uint16_t v);
    void SetAngle(uint32_t v);
    void SetAngleMin(uint32_t v);
    void SetTime(uint16_t v);
    void SetThreshold(uint16_t v);
    void SetCurrentMin(uint16_t v);
    void SetCurrent(uint16_t v);
    void SetRamp(uint8_t v);
    void SetTimeMin(uint16_t v);
    void SetType(uint8_t v);
    void SetControlled(uint8_t v);
    void SetNextCond(uint8_t v);
    void SetCondition(uint8_t code); // keeps the wait-for-restart bit
    void SetWaitRestart(bool on);
    void SetErrorMask(uint16_t v);
    void SetError(uint16_t bit, bool on);
    void SetNextStep(uint8_t v);
    // Makes the step the last one; a last step never waits for a restart.
    void SetLast();

    void SetRaw(const std::array<uint8_t, kSize>& raw);

private:
    uint8_t* data_;
};

class ParameterBlock {
public:
    static constexpr size_t kSize = 512;
    static constexpr size_t kDigestSize = 423; // bytes 0..422 take part in change detection
    static constexpr size_t kStepCount = 10;
    static constexpr size_t kStepsPerSet = 5;

    // Offsets and widths of the fields.
    static constexpr size_t kOffMachineFlags = 1;
    static constexpr size_t kOffWriteMark = 2;
    static constexpr size_t kOffMachineType = 3, kLenMachineType = 16;
    static constexpr size_t kLenModelCode = 5;
    static constexpr size_t kOffKindChar = 7; // "4" or "8"
    static constexpr size_t kOffElAssembly = 19, kLenElAssembly = 12;
    static constexpr size_t kOffSerialNr = 31, kLenSerialNr = 15;
    static constexpr size_t kOffToolId = 46, kLenToolId = 15;
    static constexpr size_t kOffSwVersion = 61, kLenSwVersion = 10;
    static constexpr size_t kOffCalDate = 75;
    static constexpr size_t kOffCalName = 79, kLenCalName = 8;
    static constexpr size_t kOffPlace = 87, kLenPlace = 8;
    static constexpr size_t kOffPasswordDigest = 95, kLenPasswordDigest = 8;
    static constexpr size_t kOffTorque = 103;
    static constexpr size_t kOffMaxTorque = 105;
    static constexpr size_t kOffVariantCode = 107;
    static constexpr size_t kOffRestartLock = 108;
    static constexpr size_t kOffRestartLockNio = 109;
    static constexpr size_t kOffTransmission = 110;
    static constexpr size_t kOffAngleHead = 111;
    static constexpr size_t kOffSteps = 124;
    static constexpr size_t kOffRlLock = 414;
    static constexpr size_t kOffRlLockPermanent = 415;
    static constexpr size_t kOffBuzzerLock = 416;
    static constexpr size_t kOffBatteryDisplay = 417;
    static constexpr size_t kOffBatteryThreshold = 418;
    static constexpr size_t kOffUserTransmission = 419;
    static constexpr size_t kOffModeFlags = 421;
    static constexpr size_t kOffBlinkNio = 422;
    static constexpr size_t kOffWriteClear = 427; // set to 0 before every write
    static constexpr size_t kOffServiceResetCounter = 428;
    static constexpr size_t kOffServiceDueCounter = 432;
    static constexpr size_t kOffClutchLimitFlags = 436;
    static constexpr size_t kOffMachineTail = 493, kLenMachineTail = 11;

    // Same type as SHA1::Digest.
    using DigestWords = std::array<uint32_t, 5>;

    // All bytes 0. Use Default() for the image of a fresh start.
    std::array<uint8_t, kSize> bytes{};

    // The image before anything is read or loaded: spaces in machineType and toolId, every step
    // controlled with threshold 101, chains 0->1->2->3->4 and 5->6->7->8->9.
    static ParameterBlock Default();

    bool operator==(const ParameterBlock&) const = default;

    // Step i (0..9; 0-4 parameter set 1, 5-9 set 2). Out of range throws std::out_of_range.
    StepRecord Step(size_t i);
    StepRecordView Step(size_t i) const;

    // machineFlags (1)
    uint8_t MachineFlags() const { return bytes[kOffMachineFlags]; }
    void SetMachineFlags(uint8_t v) { bytes[kOffMachineFlags] = v; }
    bool ParameterisationAllowed() const { return (MachineFlags() & 0x01) != 0; }
    void SetParameterisationAllowed(bool on);
    // writeMark (2)
    uint8_t WriteMark() const { return bytes[kOffWriteMark]; }
    void SetWriteMark(uint8_t v) { bytes[kOffWriteMark] = v; }

    // Text fields: shown up to the first byte 0; stored as the first N characters, rest 0.
    std::string MachineType() const;
    void SetMachineType(std::string_view text);
    // First five bytes of machineType up to the first byte 0: the catalog key.
    std::string ModelCode() const;
    std::string ElAssembly() const;
    void SetElAssembly(std::string_view text);
    std::string SerialNr() const;
    void SetSerialNr(std::string_view text);
    std::string ToolId() const;
    void SetToolId(std::string_view text);
    std::string SwVersion() const;
    void SetSwVersion(std::string_view text);
    std::string CalName() const;
    void SetCalName(std::string_view text);
    std::string Place() const;
    void SetPlace(std::string_view text);

    // calDate (75): minutes since 2000-01-01 00:00 local time, 0 = none.
    uint32_t CalDate() const { return U32(kOffCalDate); }
    void SetCalDate(uint32_t v) { SetU32(kOffCalDate, v); }
    // passwordDigest (95..102)
    std::array<uint8_t, kLenPasswordDigest> PasswordDigest() const;
    void SetPasswordDigest(const std::array<uint8_t, kLenPasswordDigest>& digest);
    // torque, maxTorque: 0.01 Nm
    uint16_t Torque() const { return U16(kOffTorque); }
    void SetTorque(uint16_t v) { SetU16(kOffTorque, v); }
    uint16_t MaxTorque() const { return U16(kOffMaxTorque); }
    void SetMaxTorque(uint16_t v) { SetU16(kOffMaxTorque, v); }
    uint8_t VariantCode() const { return bytes[kOffVariantCode]; }
    void SetVariantCode(uint8_t v) { bytes[kOffVariantCode] = v; }
    // restart locks: 0.1 s
    uint8_t RestartLock() const { return bytes[kOffRestartLock]; }
    void SetRestartLock(uint8_t v) { bytes[kOffRestartLock] = v; }
    uint8_t RestartLockNio() const { return bytes[kOffRestartLockNio]; }
    void SetRestartLockNio(uint8_t v) { bytes[kOffRestartLockNio] = v; }
    // gearbox number (GETRIEBE_n) and angle head number (WINKELKOPF_n, 0 = none)
    uint8_t Transmission() const { return bytes[kOffTransmission]; }
    void SetTransmission(uint8_t v) { bytes[kOffTransmission] = v; }
    uint8_t AngleHead() const { return bytes[kOffAngleHead]; }
    void SetAngleHead(uint8_t v) { bytes[kOffAngleHead] = v; }

    uint8_t RlLock() const { return bytes[kOffRlLock]; } // non-zero = locked
    void SetRlLock(uint8_t v) { bytes[kOffRlLock] = v; }
    uint8_t RlLockPermanent() const { return bytes[kOffRlLockPermanent]; } // 0 = yes
    void SetRlLockPermanent(uint8_t v) { bytes[kOffRlLockPermanent] = v; }
    uint8_t BuzzerLock() const { return bytes[kOffBuzzerLock]; } // non-zero = off
    void SetBuzzerLock(uint8_t v) { bytes[kOffBuzzerLock] = v; }
    uint8_t BatteryDisplay() const { return bytes[kOffBatteryDisplay]; } // non-zero = on
    void SetBatteryDisplay(uint8_t v) { bytes[kOffBatteryDisplay] = v; }
    uint8_t BatteryThreshold() const { return bytes[kOffBatteryThreshold]; } // percent 0..50
    void SetBatteryThreshold(uint8_t v) { bytes[kOffBatteryThreshold] = v; }
    // user gear ratio factor x 100
    uint16_t UserTransmission() const { return U16(kOffUserTransmission); }
    void SetUserTransmission(uint16_t v) { SetU16(kOffUserTransmission, v); }
    // modeFlags (421): bit 0 parameter set 1+2, bit 7 expert mode
    uint8_t ModeFlags() const { return bytes[kOffModeFlags]; }
    void SetModeFlags(uint8_t v) { bytes[kOffModeFlags] = v; }
    bool ParameterSet12() const { return (ModeFlags() & 0x01) != 0; }
    void SetParameterSet12(bool on);
    bool ExpertMode() const { return (ModeFlags() & 0x80) != 0; }
    void SetExpertMode(bool on);
    uint8_t BlinkNio() const { return bytes[kOffBlinkNio]; } // non-zero = on
    void SetBlinkNio(uint8_t v) { bytes[kOffBlinkNio] = v; }

    uint32_t ServiceResetCounter() const { return U32(kOffServiceResetCounter); }
    void SetServiceResetCounter(uint32_t v) { SetU32(kOffServiceResetCounter, v); }
    uint32_t ServiceDueCounter() const { return U32(kOffServiceDueCounter); }
    void SetServiceDueCounter(uint32_t v) { SetU32(kOffServiceDueCounter, v); }
    // clutchLimitFlags (436): bit 0 = speed limit at clutch shutdown removed
    uint8_t ClutchLimitFlags() const { return bytes[kOffClutchLimitFlags]; }
    void SetClutchLimitFlags(uint8_t v) { bytes[kOffClutchLimitFlags] = v; }
    bool ClutchLimitRemoved() const { return (ClutchLimitFlags() & 0x01) != 0; }
    // As the expert page stores it: on makes the byte 3, off clears every bit but bit 1.
    void StoreClutchLimitRemoved(bool on);
    std::array<uint8_t, kLenMachineTail> MachineTail() const;

    // 14 when byte 7 is '4', 18 when it is '8', otherwise 0 (invalid).
    int MachineKindFromModel() const;

    // SHA-1 over bytes 0..422 as five words.
    DigestWords Digest() const;

    // The image to send: sets writeMark and copies the machine-owned identity fields into
    // `edited` (so the edited image carries them afterwards), then returns all of `edited` for
    // an image read from the machine (its password digest taken from `machine`), or, for any
    // other origin, `machine` with only the steps and the expert switches taken from `edited`.
    static ParameterBlock MergeForWrite(ParameterBlock& edited, const ParameterBlock& machine,
                                        int dataOrigin);

    // Little-endian access for the rare field without a name.
    uint16_t U16(size_t offset) const;
    uint32_t U32(size_t offset) const;
    void SetU16(size_t offset, uint16_t v);
    void SetU32(size_t offset, uint32_t v);
    // Text rules on any field.
    std::string Text(size_t offset, size_t width) const;
    void SetText(size_t offset, size_t width, std::string_view text);
};

// Same as block.Digest().
ParameterBlock::DigestWords ParameterDigest(const ParameterBlock& block);
