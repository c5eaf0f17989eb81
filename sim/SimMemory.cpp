// The machine's flash: built from the options (information block, block area, layout
// descriptor, emulation records), kept in --state DIR, and what the public accessors see.
#include "sim/SimMachineImpl.h"

#include "model/Conversions.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

#include "base/FileIo.h"
#include "crypto/Digests.h"
#include "model/ParameterBlock.h"

using namespace simdetail;

std::array<uint8_t, 512> SimMachine::DefaultImage() {
    ParameterBlock b = ParameterBlock::Default();
    auto text = [&](size_t off, size_t width, std::string_view t, char pad) {
        for (size_t i = 0; i < width; ++i)
            b.bytes[off + i] = uint8_t(i < t.size() ? t[i] : pad);
    };
    // With the block at offset 0 its first two bytes are the block area's marker 0x20 0x01;
    // the 0x01 is machineFlags with parameterisation allowed.
    b.bytes[0] = 0x20;
    b.bytes[ParameterBlock::kOffMachineFlags] = 0x01;
    text(ParameterBlock::kOffMachineType, ParameterBlock::kLenMachineType, "TVX18-4200", ' ');
    text(ParameterBlock::kOffElAssembly, ParameterBlock::kLenElAssembly, "EB18-0042", '\0');
    text(ParameterBlock::kOffSerialNr, ParameterBlock::kLenSerialNr, "SIM0000001", '\0');
    text(ParameterBlock::kOffSwVersion, ParameterBlock::kLenSwVersion, "V04.02.005", '\0');
    PasswordDigestBytes pw = PasswordDigest(std::string_view(kDefaultPassword));
    std::copy(pw.begin(), pw.end(), b.bytes.begin() + ParameterBlock::kOffPasswordDigest);
    auto put16 = [&](size_t off, uint16_t v) { StoreLe16(b.bytes.data() + off, v); };
    put16(ParameterBlock::kOffTorque, 1200);    // 12.00 Nm
    put16(ParameterBlock::kOffMaxTorque, 1800); // 18.00 Nm
    b.bytes[ParameterBlock::kOffVariantCode] = 3;
    b.bytes[ParameterBlock::kOffTransmission] = 1;
    b.bytes[ParameterBlock::kOffAngleHead] = 0;
    put16(ParameterBlock::kOffUserTransmission, 100); // factor 1.00
    const uint8_t tail[ParameterBlock::kLenMachineTail] = {0x18, 0x04, 0x02, 0x05, 0x00, 0x10,
                                                           0x27, 0x00, 0x00, 0x5A, 0xA5};
    std::copy(std::begin(tail), std::end(tail), b.bytes.begin() + ParameterBlock::kOffMachineTail);

    // A three-step program of set 1, so a first read shows a real profile: run down fast to
    // three turns, slower to the torque threshold, tighten slowly until the clutch trips.
    ConversionContext ctx;
    ctx.machineKind = 18;
    ctx.SetRatios(18.2, 100);
    struct StepPlan {
        double rpm, ramp;
        uint8_t condition;
        double angle;
        uint16_t threshold;
        uint8_t next;
    };
    const StepPlan plan[] = {{600, 0.2, kCondAngle, 1080, 1, 1},
                             {250, 0.0, kCondThreshold, 0, 140, 2},
                             {60, 0.0, kCondClutch, 0, 1, kNextStepLast}};
    for (size_t i = 0; i < std::size(plan); ++i) {
        StepRecord step = b.Step(i);
        step.SetType(0);
        // Controlled where the page offers it: not with a torque threshold as the condition.
        step.SetControlled(plan[i].condition == kCondThreshold ? 0 : 1);
        step.SetSpeed(SpeedToMachine(ctx, plan[i].rpm, true));
        step.SetRamp(RampToMachine(plan[i].ramp));
        step.SetCondition(plan[i].condition);
        step.SetAngle(plan[i].condition == kCondAngle ? AngleToMachine(ctx, plan[i].angle) : 0);
        step.SetThreshold(plan[i].threshold);
        step.SetNextStep(plan[i].next);
    }
    return b.bytes;
}

size_t SimMachine::Impl::BlockOffsetLocked() const {
    const uint8_t* a = At(kBlockArea);
    size_t off = (a[0] == 0x20 && a[1] == 0x01) ? 0 : size_t(a[0]) * 256 + a[1];
    return std::min<size_t>(off, kBlockAreaSize - 512);
}

std::pair<uint32_t, uint16_t> SimMachine::Impl::LayoutLocked() const {
    uint32_t word = FlashEnd() - kPointerFromEnd;
    const uint8_t* w = At(word);
    uint32_t ptr = (w[0] == 0x00 && w[1] == 0xFC) ? 0 : uint32_t(w[0]) * 256 + w[1];
    if (!InFlash(word + ptr, 6))
        return {0, 0};
    const uint8_t* d = At(word + ptr);
    return {LoadLe32(d), LoadLe16(d + 4)};
}

bool SimMachine::Impl::LoadImage(std::array<uint8_t, 512>& image) {
    if (opt.image) {
        image = *opt.image;
        return true;
    }
    if (opt.imageFile.empty()) {
        image = DefaultImage();
        return true;
    }
    std::vector<uint8_t> data;
    std::string err;
    if (!ReadWholeFile(opt.imageFile, data, 4096, &err))
        return Fail("cannot read image " + opt.imageFile + ": " + err);
    if (data.size() != 512 && data.size() != 560)
        return Fail("image " + opt.imageFile + " has " + std::to_string(data.size()) +
                    " bytes; expected 512 (image) or 560 (configuration file)");
    std::copy(data.end() - 512, data.end(), image.begin());
    return true;
}

bool SimMachine::Impl::BuildMemory() {
    flashSize = KnownCode(opt.memorySizeCode) ? opt.memorySizeCode : kFallbackFlash;
    if (opt.blockOffset > 512)
        return Fail("block offset " + std::to_string(opt.blockOffset) + " is above 512");
    if (opt.blockOffset == 0x2001)
        return Fail("block offset 0x2001 reads as the marker of offset 0");
    uint32_t len = opt.emulationLength;
    if (len < 16 || len % 16)
        return Fail("emulation length must be a multiple of 16, at least 16");
    uint32_t word = FlashEnd() - kPointerFromEnd;
    uint32_t start = opt.emulationStart ? opt.emulationStart : ((word - len) & ~0xFFu);
    if (start < kBlockArea + kBlockAreaSize || uint64_t(start) + len > word || start % 16)
        return Fail("emulation area " + Hex(start) + "+" + std::to_string(len) +
                    " must lie between the block area and " + Hex(word));
    uint16_t ptr = opt.descriptorPointer;
    if (ptr == 0 && (start & 0xFFFF) != 0xFC00)
        return Fail("a descriptor at the pointer word needs an emulation start ending in "
                    "0xFC00");
    if (ptr == 0x00FC || (ptr != 0 && (ptr < 2 || ptr + 6u > kPointerFromEnd)))
        return Fail("descriptor pointer " + std::to_string(ptr) + " is not usable");

    std::array<uint8_t, 512> image{};
    if (!LoadImage(image))
        return false;
    if (opt.blockOffset == 0 && (image[0] != 0x20 || image[1] != 0x01))
        return Fail("with the block at offset 0 the image must begin with 0x20 0x01 "
                    "(the block area's marker); give a block offset for this image");

    flash.assign(flashSize, 0xFF);
    uint8_t* info = At(kInfoAddress);
    std::memset(info, 0, kInfoSize);
    std::memcpy(info, "KVBOOT18", 8);
    StoreLe32(info + 24, opt.memorySizeCode);

    uint8_t* area = At(kBlockArea);
    std::memset(area, 0, kBlockAreaSize);
    std::copy(image.begin(), image.end(), area + opt.blockOffset);
    if (opt.blockOffset) {
        area[0] = uint8_t(opt.blockOffset >> 8);
        area[1] = uint8_t(opt.blockOffset);
    }

    uint8_t* w = At(word);
    uint8_t* d = At(word + ptr);
    if (ptr) {
        w[0] = uint8_t(ptr >> 8);
        w[1] = uint8_t(ptr);
    }
    StoreLe32(d, start);
    StoreLe16(d + 4, static_cast<uint16_t>(len));

    // Emulation records: a header record (never examined by the counter search), then
    // fastening records of type 10 among records of other types.
    uint8_t* e = At(start);
    std::memset(e, 0xFF, len);
    auto record = [&](size_t i, uint8_t type, uint32_t value) {
        if ((i + 1) * 16 > len)
            return;
        uint8_t* r = e + i * 16;
        std::memset(r, 0, 16);
        r[0] = type;
        StoreLe32(r + 4, value);
    };
    record(0, 0x01, 0x00010018);
    uint32_t c = opt.fasteningCounter;
    if (c) {
        record(1, 10, c > 1 ? c - 1 : c);
        record(2, 3, 0xFFFF);
        record(3, 10, c);
    }
    return true;
}

bool SimMachine::Impl::LoadState() {
    std::string path = opt.stateDir + "/" + kStateFile;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return true; // nothing kept yet: start fresh
    std::vector<uint8_t> data;
    std::string err;
    if (!ReadWholeFile(path, data, 0x100000, &err))
        return Fail("cannot read " + path + ": " + err);
    if (data.size() != flashSize)
        return Fail(path + " holds " + std::to_string(data.size()) +
                    " bytes of memory, this machine has " + std::to_string(flashSize) +
                    " (another memory-size code?)");
    flash = std::move(data);
    return true;
}

bool SimMachine::Impl::LoadSupervisorState() {
    std::string why;
    return supv.Load(opt.stateDir, why) || Fail(why);
}

void SimMachine::Impl::SaveLocked() {
    if (opt.stateDir.empty())
        return;
    if (supv.Dirty()) {
        std::string why;
        if (supv.Save(opt.stateDir, why))
            supv.ClearDirty();
        else
            Log("cannot keep the supervisor's memory: " + why);
    }
    if (!dirty)
        return;
    std::string err;
    if (WriteFileAtomic(opt.stateDir + "/" + kStateFile, flash.data(), flash.size(), &err))
        dirty = false;
    else
        Log("cannot keep the memory: " + err);
}

std::vector<uint8_t> SimMachine::Peek(uint32_t address, size_t length) const {
    std::lock_guard<std::mutex> g(impl_->mu);
    if (impl_->flash.empty() || !impl_->InFlash(address, length))
        return {};
    const uint8_t* p = impl_->At(address);
    return std::vector<uint8_t>(p, p + length);
}

bool SimMachine::Poke(uint32_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> g(impl_->mu);
    if (impl_->flash.empty() || !impl_->InFlash(address, bytes.size()))
        return false;
    std::copy(bytes.begin(), bytes.end(), impl_->At(address));
    impl_->dirty = true;
    impl_->SaveLocked();
    return true;
}

std::array<uint8_t, 512> SimMachine::ParameterImage() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    std::array<uint8_t, 512> image{};
    if (impl_->flash.empty())
        return image;
    const uint8_t* p = impl_->At(kBlockArea) + impl_->BlockOffsetLocked();
    std::copy(p, p + 512, image.begin());
    return image;
}

void SimMachine::SetParameterImage(const std::array<uint8_t, 512>& image) {
    std::lock_guard<std::mutex> g(impl_->mu);
    if (impl_->flash.empty())
        return;
    uint8_t* p = impl_->At(kBlockArea) + impl_->BlockOffsetLocked();
    std::copy(image.begin(), image.end(), p);
    impl_->dirty = true;
    impl_->SaveLocked();
}

uint32_t SimMachine::FlashEnd() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->FlashEnd();
}

uint32_t SimMachine::MemorySize() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->flashSize ? impl_->flashSize - 0x1000 : 0;
}

uint32_t SimMachine::EmulationStart() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->flash.empty() ? 0 : impl_->LayoutLocked().first;
}

uint16_t SimMachine::EmulationLength() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->flash.empty() ? 0 : impl_->LayoutLocked().second;
}
