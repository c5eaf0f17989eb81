// The fault modes: their names for the command line, and when one hits. A new mode needs an
// entry in SimFault, a line in the table below and a Hits() call where it acts.
#include "sim/SimMachineImpl.h"

#include "model/ParameterBlock.h"

#include <cstring>

const std::vector<SimFaultInfo>& SimFaultModes() {
    static const std::vector<SimFaultInfo> modes = {
        {SimFault::Silent, "silent",
         "no answer at all from the triggering wake-up on (echo stays)"},
        {SimFault::RefuseCommand, "refuse-command",
         "read and begin-write commands are answered with a refusal"},
        {SimFault::RefuseData, "refuse-data", "data frames are answered with a refusal"},
        {SimFault::BadChecksum, "bad-checksum", "read replies carry a wrong check byte"},
        {SimFault::LoseBytes, "lose-bytes", "bytes are lost in the middle of read replies"},
        {SimFault::BadWakeup, "bad-wakeup",
         "the wake-up answer starts with 0xA0 instead of 0xA2; the line stays at 19200"},
        {SimFault::HangupInWrite, "hangup-in-write",
         "the line goes away in the middle of a data frame"},
        {SimFault::Unplug, "unplug",
         "the adapter is pulled at a read command or a data frame: the device vanishes"},
        {SimFault::LostEndAck, "lost-end-ack",
         "the end frame is taken but never answered; the loader is quiet until a wake-up"},
        {SimFault::DropFrame, "drop-frame", "one data frame is acknowledged but not stored"},
        {SimFault::Swap, "swap",
         "from the second wake-up on another machine answers (another serial number)"},
        {SimFault::SupvWrongTrigger, "supv-wrong-trigger",
         "the supervisor answers its trigger with 0x81 instead of 0x80"},
        {SimFault::SupvSilent, "supv-silent", "the supervisor does not answer its trigger"},
        {SimFault::SupvCheckError, "supv-check-error",
         "the supervisor answers the end record with the check error \"3\""},
        {SimFault::SupvFailStatus, "supv-fail-status",
         "the supervisor answers the end record with the failure \"1\""},
    };
    return modes;
}

const char* SimFaultName(SimFault mode) {
    for (const auto& m : SimFaultModes())
        if (m.mode == mode)
            return m.name;
    return "none";
}

std::optional<SimFault> ParseSimFault(std::string_view name) {
    if (name == "none")
        return SimFault::None;
    for (const auto& m : SimFaultModes())
        if (name == m.name)
            return m.mode;
    return std::nullopt;
}

bool SimMachine::Impl::Hits(SimFault mode, std::optional<uint32_t> address) {
    if (fault != mode)
        return false;
    if (faultAddress && address && *faultAddress != *address)
        return false;
    if (faultAddress && !address)
        return false;
    if (faultEvents++ < faultSkip)
        return false;
    const unsigned limit = mode == SimFault::DropFrame ? 1 : faultCount;
    if (limit && faultHits >= limit)
        return false;
    ++faultHits;
    return true;
}

// The first wake-up (or trigger) after faultSkip is still this machine; from the next on
// another one answers, once and for all.
void SimMachine::Impl::SwapEvent() {
    if (fault != SimFault::Swap || swapped || faultEvents++ < faultSkip + 1)
        return;
    swapped = true;
    uint8_t* serial =
        At(simdetail::kBlockArea) + BlockOffsetLocked() + ParameterBlock::kOffSerialNr;
    const char other[] = "SIM0000777";
    std::memset(serial, 0, ParameterBlock::kLenSerialNr);
    std::memcpy(serial, other, sizeof other - 1);
    SimSupervisor::Eeprom e = supv.EepromImage();
    for (size_t i = 0; i < 8; ++i)
        e[i] ^= 0x5A;
    supv.SetImages(e, supv.ProgramImage());
    dirty = true;
    Log("swapped: another machine answers");
}
