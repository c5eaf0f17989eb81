// The line of machines: one machine after another on the same adapter, each with its own
// memory. The machine on the line is unplugged once the program has talked to it and then
// left the line silent for the gap; the next one answers the next wake-up.
#include "sim/SimMachineImpl.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "model/ParameterBlock.h"

using namespace simdetail;

namespace {

std::array<uint8_t, 512> WithSerial(std::array<uint8_t, 512> image, unsigned k) {
    char serial[ParameterBlock::kLenSerialNr + 1] = {};
    std::snprintf(serial, sizeof serial, "SIM%07u", k);
    std::memset(image.data() + ParameterBlock::kOffSerialNr, 0, ParameterBlock::kLenSerialNr);
    std::memcpy(image.data() + ParameterBlock::kOffSerialNr, serial, std::strlen(serial));
    return image;
}

} // namespace

bool SimMachine::Impl::StartLine() {
    if (!opt.machines)
        return true;
    std::array<uint8_t, 512> base{};
    if (!LoadImage(base))
        return false;
    for (unsigned k = 1; k <= opt.machines; ++k)
        if (!opt.lineImages.count(k))
            opt.lineImages[k] = WithSerial(base, k);
    lineStateBase = opt.stateDir;
    if (!lineStateBase.empty() && ::mkdir(lineStateBase.c_str(), 0755) != 0 && errno != EEXIST)
        return Fail("cannot create " + lineStateBase + ": " + std::strerror(errno));
    return PlugMachine(1);
}

// Machine k's memory: built from its image, or what its folder keeps. Options() then shows
// machine k's image and folder.
bool SimMachine::Impl::PlugMachine(unsigned k) {
    opt.image = opt.lineImages[k];
    if (!lineStateBase.empty()) {
        opt.stateDir = lineStateBase + "/machine-" + std::to_string(k);
        if (::mkdir(opt.stateDir.c_str(), 0755) != 0 && errno != EEXIST)
            return Fail("cannot create " + opt.stateDir + ": " + std::strerror(errno));
    }
    supv.SetImages(SimSupervisor::DefaultEeprom(), SimSupervisor::DefaultProgram());
    supv.ClearDirty();
    if (!BuildMemory() || (!opt.stateDir.empty() && (!LoadState() || !LoadSupervisorState())))
        return false;
    dirty = false;
    lineMachine = k;
    lineTalked = false;
    return true;
}

std::optional<Clock::time_point> SimMachine::Impl::LineDue() const {
    if (!opt.machines || lineEmpty || !lineTalked)
        return std::nullopt;
    return lastInput + opt.lineGap;
}

void SimMachine::Impl::LineCheck(Clock::time_point now) {
    auto due = LineDue();
    if (!due || now < *due || !out.empty())
        return;
    PlugNextLocked();
}

bool SimMachine::Impl::PlugNextLocked() {
    if (!opt.machines || lineEmpty)
        return false;
    SaveLocked();
    lineLeft[lineMachine] = LineImageLocked();
    supv.Reset();
    Reset("machine unplugged");
    out.clear();
    packetBytes = 0;
    const unsigned next = lineMachine + 1;
    if (next > opt.machines || !PlugMachine(next)) {
        if (next <= opt.machines)
            Log("machine " + std::to_string(next) + " cannot be plugged in: " + lastError);
        lineEmpty = true;
        lineMachine = 0;
        Log("the line is empty");
        return false;
    }
    Log("machine " + std::to_string(next) + " plugged in");
    return true;
}

std::array<uint8_t, 512> SimMachine::Impl::LineImageLocked() const {
    std::array<uint8_t, 512> image{};
    if (flash.empty())
        return image;
    const uint8_t* p = At(kBlockArea) + BlockOffsetLocked();
    std::copy(p, p + 512, image.begin());
    return image;
}

unsigned SimMachine::LineMachine() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->lineMachine;
}

std::optional<std::array<uint8_t, 512>> SimMachine::LineImage(unsigned k) const {
    std::lock_guard<std::mutex> g(impl_->mu);
    if (k && k == impl_->lineMachine)
        return impl_->LineImageLocked();
    auto it = impl_->lineLeft.find(k);
    if (it == impl_->lineLeft.end())
        return std::nullopt;
    return it->second;
}

bool SimMachine::PlugNextMachine() {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->PlugNextLocked();
}
