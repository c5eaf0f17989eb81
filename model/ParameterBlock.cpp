#include "model/ParameterBlock.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "base/LittleEndian.h"
#include "crypto/SHA1.h"

namespace {

// StepRecord field offsets.
constexpr size_t kStSpeed = 0;
constexpr size_t kStAngle = 2;
constexpr size_t kStAngleMin = 6;
constexpr size_t kStTime = 10;
constexpr size_t kStThreshold = 12;
constexpr size_t kStCurrentMin = 16;
constexpr size_t kStCurrent = 18;
constexpr size_t kStRamp = 20;
constexpr size_t kStTimeMin = 21;
constexpr size_t kStType = 23;
constexpr size_t kStControlled = 24;
constexpr size_t kStNextCond = 25;
constexpr size_t kStErrorMask = 26;
constexpr size_t kStNextStep = 28;

// Raw bytes of a field up to its first byte 0.
std::string RawText(const uint8_t* p, size_t width) {
    size_t n = 0;
    while (n < width && p[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

void CopyRange(ParameterBlock& to, const ParameterBlock& from, size_t offset, size_t count) {
    std::memcpy(to.bytes.data() + offset, from.bytes.data() + offset, count);
}

} // namespace

// --- StepRecordView / StepRecord ---

uint16_t StepRecordView::Speed() const {
    return LoadLe16(data_ + kStSpeed);
}
uint32_t StepRecordView::Angle() const {
    return LoadLe32(data_ + kStAngle);
}
uint32_t StepRecordView::AngleMin() const {
    return LoadLe32(data_ + kStAngleMin);
}
uint16_t StepRecordView::Time() const {
    return LoadLe16(data_ + kStTime);
}
uint16_t StepRecordView::Threshold() const {
    return LoadLe16(data_ + kStThreshold);
}
uint16_t StepRecordView::CurrentMin() const {
    return LoadLe16(data_ + kStCurrentMin);
}
uint16_t StepRecordView::Current() const {
    return LoadLe16(data_ + kStCurrent);
}
uint8_t StepRecordView::Ramp() const {
    return data_[kStRamp];
}
uint16_t StepRecordView::TimeMin() const {
    return LoadLe16(data_ + kStTimeMin);
}
uint8_t StepRecordView::Type() const {
    return data_[kStType];
}
uint8_t StepRecordView::Controlled() const {
    return data_[kStControlled];
}
uint8_t StepRecordView::NextCond() const {
    return data_[kStNextCond];
}
uint16_t StepRecordView::ErrorMask() const {
    return LoadLe16(data_ + kStErrorMask);
}
uint8_t StepRecordView::NextStep() const {
    return data_[kStNextStep];
}

std::array<uint8_t, StepRecordView::kSize> StepRecordView::Raw() const {
    std::array<uint8_t, kSize> raw{};
    std::memcpy(raw.data(), data_, kSize);
    return raw;
}

void StepRecord::SetSpeed(uint16_t v) {
    StoreLe16(data_ + kStSpeed, v);
}
void StepRecord::SetAngle(uint32_t v) {
    StoreLe32(data_ + kStAngle, v);
}
void StepRecord::SetAngleMin(uint32_t v) {
    StoreLe32(data_ + kStAngleMin, v);
}
void StepRecord::SetTime(uint16_t v) {
    StoreLe16(data_ + kStTime, v);
}
void StepRecord::SetThreshold(uint16_t v) {
    StoreLe16(data_ + kStThreshold, v);
}
void StepRecord::SetCurrentMin(uint16_t v) {
    StoreLe16(data_ + kStCurrentMin, v);
}
void StepRecord::SetCurrent(uint16_t v) {
    StoreLe16(data_ + kStCurrent, v);
}
void StepRecord::SetRamp(uint8_t v) {
    data_[kStRamp] = v;
}
void StepRecord::SetTimeMin(uint16_t v) {
    StoreLe16(data_ + kStTimeMin, v);
}
void StepRecord::SetType(uint8_t v) {
    data_[kStType] = v;
}
void StepRecord::SetControlled(uint8_t v) {
    data_[kStControlled] = v;
}
void StepRecord::SetNextCond(uint8_t v) {
    data_[kStNextCond] = v;
}
void StepRecord::SetCondition(uint8_t code) {
    data_[kStNextCond] =
        static_cast<uint8_t>((data_[kStNextCond] & kCondWaitRestart) | (code & kCondMask));
}
void StepRecord::SetWaitRestart(bool on) {
    if (on)
        data_[kStNextCond] |= kCondWaitRestart;
    else
        data_[kStNextCond] &= static_cast<uint8_t>(~kCondWaitRestart);
}
void StepRecord::SetErrorMask(uint16_t v) {
    StoreLe16(data_ + kStErrorMask, v);
}
void StepRecord::SetError(uint16_t bit, bool on) {
    uint16_t m = ErrorMask();
    SetErrorMask(static_cast<uint16_t>(on ? (m | bit) : (m & ~bit)));
}
void StepRecord::SetNextStep(uint8_t v) {
    data_[kStNextStep] = v;
}
void StepRecord::SetLast() {
    SetNextStep(kNextStepLast);
    SetWaitRestart(false);
}
void StepRecord::SetRaw(const std::array<uint8_t, kSize>& raw) {
    std::memcpy(data_, raw.data(), kSize);
}

// --- ParameterBlock ---

ParameterBlock ParameterBlock::Default() {
    ParameterBlock b;
    std::memset(b.bytes.data() + kOffMachineType, ' ', kLenMachineType);
    std::memset(b.bytes.data() + kOffToolId, ' ', kLenToolId);
    for (size_t i = 0; i < kStepCount; ++i) {
        StepRecord s = b.Step(i);
        s.SetControlled(1);
        s.SetThreshold(101);
        bool lastOfSet = i % kStepsPerSet == kStepsPerSet - 1;
        s.SetNextCond(i < kStepsPerSet ? kCondClutch : kCondAngle);
        s.SetNextStep(lastOfSet ? kNextStepLast : static_cast<uint8_t>(i + 1));
    }
    return b;
}

StepRecord ParameterBlock::Step(size_t i) {
    if (i >= kStepCount)
        throw std::out_of_range("step index");
    return StepRecord(bytes.data() + kOffSteps + StepRecordView::kSize * i);
}

StepRecordView ParameterBlock::Step(size_t i) const {
    if (i >= kStepCount)
        throw std::out_of_range("step index");
    return StepRecordView(bytes.data() + kOffSteps + StepRecordView::kSize * i);
}

void ParameterBlock::SetParameterisationAllowed(bool on) {
    bytes[kOffMachineFlags] = static_cast<uint8_t>(on ? (bytes[kOffMachineFlags] | 0x01)
                                                      : (bytes[kOffMachineFlags] & ~0x01));
}

void ParameterBlock::SetParameterSet12(bool on) {
    bytes[kOffModeFlags] =
        static_cast<uint8_t>(on ? (bytes[kOffModeFlags] | 0x01) : (bytes[kOffModeFlags] & ~0x01));
}

void ParameterBlock::SetExpertMode(bool on) {
    bytes[kOffModeFlags] =
        static_cast<uint8_t>(on ? (bytes[kOffModeFlags] | 0x80) : (bytes[kOffModeFlags] & ~0x80));
}

void ParameterBlock::StoreClutchLimitRemoved(bool on) {
    bytes[kOffClutchLimitFlags] = on ? 3 : static_cast<uint8_t>(bytes[kOffClutchLimitFlags] & 0x02);
}

std::string ParameterBlock::Text(size_t offset, size_t width) const {
    if (offset > kSize || width > kSize - offset)
        throw std::out_of_range("text field");
    return Latin1ToUtf8(RawText(bytes.data() + offset, width));
}

void ParameterBlock::SetText(size_t offset, size_t width, std::string_view text) {
    if (offset > kSize || width > kSize - offset)
        throw std::out_of_range("text field");
    std::string raw = Utf8ToLatin1(text);
    size_t n = std::min(raw.size(), width);
    std::memcpy(bytes.data() + offset, raw.data(), n);
    std::memset(bytes.data() + offset + n, 0, width - n);
}

std::string ParameterBlock::MachineType() const {
    return Text(kOffMachineType, kLenMachineType);
}
void ParameterBlock::SetMachineType(std::string_view t) {
    SetText(kOffMachineType, kLenMachineType, t);
}
std::string ParameterBlock::ModelCode() const {
    return Text(kOffMachineType, kLenModelCode);
}
std::string ParameterBlock::ElAssembly() const {
    return Text(kOffElAssembly, kLenElAssembly);
}
void ParameterBlock::SetElAssembly(std::string_view t) {
    SetText(kOffElAssembly, kLenElAssembly, t);
}
std::string ParameterBlock::SerialNr() const {
    return Text(kOffSerialNr, kLenSerialNr);
}
void ParameterBlock::SetSerialNr(std::string_view t) {
    SetText(kOffSerialNr, kLenSerialNr, t);
}
std::string ParameterBlock::ToolId() const {
    return Text(kOffToolId, kLenToolId);
}
void ParameterBlock::SetToolId(std::string_view t) {
    SetText(kOffToolId, kLenToolId, t);
}
std::string ParameterBlock::SwVersion() const {
    return Text(kOffSwVersion, kLenSwVersion);
}
void ParameterBlock::SetSwVersion(std::string_view t) {
    SetText(kOffSwVersion, kLenSwVersion, t);
}
std::string ParameterBlock::CalName() const {
    return Text(kOffCalName, kLenCalName);
}
void ParameterBlock::SetCalName(std::string_view t) {
    SetText(kOffCalName, kLenCalName, t);
}
std::string ParameterBlock::Place() const {
    return Text(kOffPlace, kLenPlace);
}
void ParameterBlock::SetPlace(std::string_view t) {
    SetText(kOffPlace, kLenPlace, t);
}

std::array<uint8_t, ParameterBlock::kLenPasswordDigest> ParameterBlock::PasswordDigest() const {
    std::array<uint8_t, kLenPasswordDigest> d{};
    std::memcpy(d.data(), bytes.data() + kOffPasswordDigest, kLenPasswordDigest);
    return d;
}

void ParameterBlock::SetPasswordDigest(const std::array<uint8_t, kLenPasswordDigest>& d) {
    std::memcpy(bytes.data() + kOffPasswordDigest, d.data(), kLenPasswordDigest);
}

std::array<uint8_t, ParameterBlock::kLenMachineTail> ParameterBlock::MachineTail() const {
    std::array<uint8_t, kLenMachineTail> t{};
    std::memcpy(t.data(), bytes.data() + kOffMachineTail, kLenMachineTail);
    return t;
}

uint16_t ParameterBlock::U16(size_t offset) const {
    if (offset + 2 > kSize)
        throw std::out_of_range("u16 field");
    return LoadLe16(bytes.data() + offset);
}
uint32_t ParameterBlock::U32(size_t offset) const {
    if (offset + 4 > kSize)
        throw std::out_of_range("u32 field");
    return LoadLe32(bytes.data() + offset);
}
void ParameterBlock::SetU16(size_t offset, uint16_t v) {
    if (offset + 2 > kSize)
        throw std::out_of_range("u16 field");
    StoreLe16(bytes.data() + offset, v);
}
void ParameterBlock::SetU32(size_t offset, uint32_t v) {
    if (offset + 4 > kSize)
        throw std::out_of_range("u32 field");
    StoreLe32(bytes.data() + offset, v);
}

int ParameterBlock::MachineKindFromModel() const {
    switch (bytes[kOffKindChar]) {
    case '4':
        return 14;
    case '8':
        return 18;
    default:
        return 0;
    }
}

ParameterBlock::DigestWords ParameterBlock::Digest() const {
    SHA1 sha;
    sha.Update(bytes.data(), kDigestSize);
    return sha.Final();
}

ParameterBlock::DigestWords ParameterDigest(const ParameterBlock& block) {
    return block.Digest();
}

ParameterBlock ParameterBlock::MergeForWrite(ParameterBlock& edited, const ParameterBlock& machine,
                                             int dataOrigin) {
    edited.SetWriteMark(1);
    CopyRange(edited, machine, kOffSerialNr, kLenSerialNr);
    CopyRange(edited, machine, kOffSwVersion, kLenSwVersion);
    CopyRange(edited, machine, kOffElAssembly, kLenElAssembly);
    CopyRange(edited, machine, kOffMachineTail, kLenMachineTail);
    edited.bytes[kOffWriteClear] = 0;

    if (dataOrigin == kDataOriginMachine) {
        CopyRange(edited, machine, kOffPasswordDigest, kLenPasswordDigest);
        return edited;
    }
    // Any other origin (a file, or nothing at all): the machine keeps everything of its own
    // but the steps and the expert switches.
    ParameterBlock out = machine;
    CopyRange(out, edited, kOffSteps, StepRecordView::kSize * kStepCount);
    CopyRange(out, edited, kOffRestartLock, 1);
    CopyRange(out, edited, kOffRlLock, kOffBlinkNio + 1 - kOffRlLock);
    return out;
}
