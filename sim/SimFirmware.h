// Plain firmware images for the simulated machine, as its vendor would build them: the data
// the firmware files in data/firmware are made from, and what tests and benchmarks seal.
#pragma once

#include "model/ParameterBlock.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

// An application area of memorySize bytes (from 0x10001000): code-like bytes, and at 256 the
// block area with the simulated machine's default image (block at offset 0) carrying swVersion.
std::vector<uint8_t> SimFirmwareImage(uint32_t memorySize, std::string_view swVersion);
// The block inside such an image.
ParameterBlock SimFirmwareBlock(std::string_view swVersion);

// A supervisor program image and an EEPROM image carrying version (offset 120, LE 32).
std::array<uint8_t, 8192> SimSupervisorProgram(uint32_t version);
std::array<uint8_t, 128> SimSupervisorEepromImage(uint32_t version);

// What data/firmware ships for the simulated machine (newer than its default).
inline constexpr std::string_view kSimFirmwareVersion = "V04.03.000";
inline constexpr uint32_t kSimFirmwareMemorySize = 0x10000; // memory-size code 0x11000
inline constexpr uint32_t kSimSupervisorFirmwareVersion = 0x00010003;
