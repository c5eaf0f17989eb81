#include "sim/Supervisor.h"

#include "base/FileIo.h"
#include "base/Hex.h"
#include "base/LittleEndian.h"

#include <sys/stat.h>

namespace {

constexpr unsigned kTriggerBaud = 9600;
constexpr unsigned kLoaderBaud = 115200;
constexpr uint8_t kTriggerStart = 0xFF;
constexpr uint8_t kTriggerByte = 0xF8;
constexpr uint8_t kTriggerAnswer = 0x80;
constexpr uint8_t kWrongAnswer = 0x81;
constexpr uint8_t kReadRequest = 0x40;
constexpr uint8_t kEndOfAnswer = 0x04;
constexpr uint32_t kEepromBase = 0x4000;
constexpr uint32_t kProgramBase = 0x8000;
constexpr uint8_t kTypeEeprom = 0x0A;
constexpr uint8_t kTypeProgram = 0x00;
constexpr uint8_t kTypeIdentity = 0x0B;
constexpr size_t kMaxLine = 600;
constexpr const char* kEepromFile = "supv_eeprom.bin";
constexpr const char* kProgramFile = "supv_program.bin";

// Carriage returns the line carries in a pause of ms milliseconds at the loader's speed.
unsigned PauseInCarriageReturns(unsigned ms) {
    return ms * (kLoaderBaud / 10) / 1000;
}

void BinaryRecord(std::vector<uint8_t>& out, uint16_t address, uint8_t type,
                  const std::vector<uint8_t>& data) {
    out.push_back(':');
    uint8_t sum = 0;
    auto put = [&](uint8_t b) {
        out.push_back(b);
        sum = uint8_t(sum + b);
    };
    put(uint8_t(data.size()));
    put(uint8_t(address >> 8));
    put(uint8_t(address));
    put(type);
    for (uint8_t b : data)
        put(b);
    out.push_back(uint8_t(0x100 - sum));
}

} // namespace

SimSupervisor::SimSupervisor() : eeprom(DefaultEeprom()), program(DefaultProgram()) {}

SimSupervisor::Eeprom SimSupervisor::DefaultEeprom() {
    Eeprom e{};
    for (size_t i = 0; i < e.size(); ++i)
        e[i] = uint8_t(0xA0 + i % 16);
    StoreLe32(e.data() + 120, kDefaultVersion);
    return e;
}

SimSupervisor::Program SimSupervisor::DefaultProgram() {
    Program p;
    p.fill(0xFF);
    for (size_t i = 0; i < 4096; ++i)
        p[i] = uint8_t(i * 7 + 3);
    return p;
}

void SimSupervisor::SetImages(const Eeprom& e, const Program& p) {
    eeprom = e;
    program = p;
    dirty = true;
}

void SimSupervisor::Reset() {
    state = State::Idle;
    line.clear();
    inRecord = false;
    endPending = false;
}

void SimSupervisor::Feed(uint8_t b, unsigned baud, std::vector<uint8_t>& reply) {
    const bool silent = fault == SimSupervisorFault::Silent;
    if (baud == kTriggerBaud) {
        // The trigger can come at any time: the supervisor's reset is tied to it.
        if (b == kTriggerStart) {
            state = State::Started;
        } else if (b == kTriggerByte && state == State::Started) {
            if (silent)
                return;
            if (fault == SimSupervisorFault::WrongTrigger) {
                reply.push_back(kWrongAnswer);
                return;
            }
            reply.push_back(kTriggerAnswer);
            ++counters.triggers;
            state = State::Loader;
            line.clear();
            inRecord = false;
            endPending = false;
            checkError = lost = false;
            crSinceRecord = crNeeded = 0;
            stagedEeprom = eeprom;
            stagedProgram = program;
        }
        return;
    }
    if (baud != kLoaderBaud || state != State::Loader)
        return;

    if (endPending) {
        endPending = false;
        if (b == 0x00) {
            AnswerEnd(reply);
            return;
        }
    }
    if (inRecord) {
        if (b == '\r' || b == '\n') {
            inRecord = false;
            TakeRecord();
            if (endPending)
                endPending = false; // the end record is closed by 0x00, not by a return
            return;
        }
        line.push_back(char(b));
        if (line == ":00000001FF") {
            inRecord = false;
            line.clear();
            endPending = true;
            return;
        }
        if (line.size() > kMaxLine) {
            inRecord = false;
            line.clear();
            checkError = true;
            ++counters.badRecords;
        }
        return;
    }
    if (b == '\r') {
        ++crSinceRecord;
        return;
    }
    if (b == ':') {
        if (crSinceRecord < crNeeded) {
            lost = true; // the flash was still busy with the last record
            ++counters.shortPauses;
        }
        inRecord = true;
        line.assign(1, ':');
        return;
    }
    if (b == kReadRequest) {
        AnswerEepromRead(reply);
        return;
    }
}

void SimSupervisor::TakeRecord() {
    std::string text;
    text.swap(line);
    crSinceRecord = 0;
    crNeeded = 0;
    auto bad = [&] {
        checkError = true;
        ++counters.badRecords;
    };
    if (text.size() < 11 || text.size() % 2 == 0)
        return bad();
    std::vector<uint8_t> bytes;
    for (size_t i = 1; i + 1 < text.size(); i += 2) {
        int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return bad();
        bytes.push_back(uint8_t(hi * 16 + lo));
    }
    uint8_t sum = 0;
    for (uint8_t v : bytes)
        sum = uint8_t(sum + v);
    const size_t count = bytes[0];
    if (sum != 0 || bytes.size() != count + 5)
        return bad();
    const uint32_t address = uint32_t(bytes[1]) << 8 | bytes[2];
    const uint8_t type = bytes[3];
    const uint8_t* data = bytes.data() + 4;
    ++counters.records;
    if (type == kTypeEeprom) {
        if (address < kEepromBase || address + count > kEepromBase + eeprom.size())
            return bad();
        std::copy(data, data + count, stagedEeprom.begin() + (address - kEepromBase));
        crNeeded = PauseInCarriageReturns(10);
    } else if (type == kTypeProgram) {
        if (address < kProgramBase || address + count > kProgramBase + program.size())
            return bad();
        std::copy(data, data + count, stagedProgram.begin() + (address - kProgramBase));
        crNeeded = PauseInCarriageReturns(20);
    } else {
        return bad();
    }
}

void SimSupervisor::AnswerEnd(std::vector<uint8_t>& reply) {
    ++counters.endRecords;
    char status = '0';
    if (checkError)
        status = '2';
    else if (lost)
        status = '1';
    if (fault == SimSupervisorFault::CheckError)
        status = '3';
    else if (fault == SimSupervisorFault::FailStatus)
        status = '1';
    if (status == '0') {
        eeprom = stagedEeprom;
        program = stagedProgram;
        dirty = true;
        ++counters.programmed;
    }
    reply.push_back(uint8_t(status));
    reply.push_back(kEndOfAnswer);
    // The loader starts the new program: a new trigger is needed.
    state = State::Idle;
}

void SimSupervisor::AnswerEepromRead(std::vector<uint8_t>& reply) {
    ++counters.eepromReads;
    for (uint8_t i = 0; i < 3; ++i)
        BinaryRecord(reply, uint16_t(0x1000 + i), kTypeIdentity, {uint8_t('S' + i), 0x18});
    for (size_t i = 0; i < eeprom.size(); ++i)
        BinaryRecord(reply, uint16_t(kEepromBase + i), kTypeEeprom, {eeprom[i]});
    BinaryRecord(reply, 0, 0x01, {});
}

bool SimSupervisor::Load(const std::string& dir, std::string& why) {
    const std::string ep = dir + "/" + kEepromFile, pp = dir + "/" + kProgramFile;
    struct stat st;
    if (::stat(ep.c_str(), &st) != 0 && ::stat(pp.c_str(), &st) != 0)
        return true; // nothing kept yet
    std::vector<uint8_t> e, p;
    std::string err;
    if (!ReadWholeFile(ep, e, 4096, &err) || !ReadWholeFile(pp, p, 65536, &err)) {
        why = "cannot read the supervisor's memory: " + err;
        return false;
    }
    if (e.size() != eeprom.size() || p.size() != program.size()) {
        why = "the supervisor's memory in " + dir + " has the wrong size";
        return false;
    }
    std::copy(e.begin(), e.end(), eeprom.begin());
    std::copy(p.begin(), p.end(), program.begin());
    dirty = false;
    return true;
}

bool SimSupervisor::Save(const std::string& dir, std::string& why) const {
    return WriteFileAtomic(dir + "/" + kEepromFile, eeprom.data(), eeprom.size(), &why) &&
           WriteFileAtomic(dir + "/" + kProgramFile, program.data(), program.size(), &why);
}
