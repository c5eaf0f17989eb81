#include "sim/SimFirmware.h"

#include "base/LittleEndian.h"
#include "sim/SimMachine.h"
#include "sim/Supervisor.h"

#include <algorithm>

ParameterBlock SimFirmwareBlock(std::string_view swVersion) {
    ParameterBlock b;
    b.bytes = SimMachine::DefaultImage();
    b.SetSwVersion(swVersion);
    return b;
}

std::vector<uint8_t> SimFirmwareImage(uint32_t memorySize, std::string_view swVersion) {
    std::vector<uint8_t> image(memorySize, 0xFF);
    // A small linear congruential sequence stands in for code; fixed, so the files are
    // reproducible.
    uint32_t x = 0x4B564C31u ^ memorySize;
    for (auto& b : image) {
        x = x * 1664525u + 1013904223u;
        b = uint8_t(x >> 24);
    }
    if (image.size() >= 256 + 1024) {
        std::fill(image.begin() + 256, image.begin() + 256 + 1024, 0);
        const ParameterBlock block = SimFirmwareBlock(swVersion);
        std::copy(block.bytes.begin(), block.bytes.end(), image.begin() + 256);
    }
    return image;
}

std::array<uint8_t, 8192> SimSupervisorProgram(uint32_t version) {
    std::array<uint8_t, 8192> p = SimSupervisor::DefaultProgram();
    for (size_t i = 0; i < 4096; ++i)
        p[i] = uint8_t(p[i] ^ (version * 31 + i));
    return p;
}

std::array<uint8_t, 128> SimSupervisorEepromImage(uint32_t version) {
    std::array<uint8_t, 128> e = SimSupervisor::DefaultEeprom();
    StoreLe32(e.data() + 120, version);
    return e;
}
