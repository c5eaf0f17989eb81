// Firmware files of the main controller and of the supervisor: enciphered with the file key
// and sealed (filler 0x00). Reading checks everything before a byte may go to the machine;
// building is the vendor's side (tools/make_firmware) and the tests'.
//
// Main file:        seal(image) | image, N bytes | seal(block) | block, 512 bytes | ignored
// Supervisor file:  seal(program) | program, 8192 bytes | EEPROM image, 128 bytes | ignored
#pragma once

#include "model/ParameterBlock.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

enum class FirmwareStatus {
    Ok,
    CannotOpen, // missing, unreadable, or not a regular file
    Invalid,    // short, broken seal, or contents that cannot be firmware
};

struct MainFirmware {
    std::vector<uint8_t> image; // the application area from 0x10001000, deciphered
    ParameterBlock block;       // the block describing the firmware, deciphered
};

struct SupervisorFirmware {
    std::array<uint8_t, 8192> program{};
    std::array<uint8_t, 128> eeprom{};
};

class FirmwareFile {
public:
    static constexpr size_t kSealSize = 48;
    static constexpr size_t kBlockAreaOffset = 256; // inside the image
    static constexpr size_t kBlockAreaSize = 1024;
    static constexpr size_t kSupervisorProgramSize = 8192;
    static constexpr size_t kSupervisorEepromSize = 128;
    static constexpr size_t kSupervisorFileSize = kSealSize + 8192 + 128;

    static size_t MainFileSize(uint32_t memorySize) {
        return kSealSize + memorySize + kSealSize + ParameterBlock::kSize;
    }

    // A main file for a controller of memorySize bytes. Invalid also when memorySize is not a
    // usable image size, the image's block area does not locate a block, or the block inside
    // the image names another machine or version than the file's block. why (if given) says
    // what was wrong, in English, for diagnostics.
    static FirmwareStatus ReadMain(const std::string& path, uint32_t memorySize, MainFirmware& out,
                                   std::string* why = nullptr);
    static FirmwareStatus ReadSupervisor(const std::string& path, SupervisorFirmware& out,
                                         std::string* why = nullptr);

    // Offset of the ParameterBlock inside an image: 256 + (0 for the marker 0x20 0x01, else
    // the big-endian first two bytes of the block area). nullopt when that lies outside the
    // block area or the image.
    static std::optional<size_t> LocateBlock(std::span<const uint8_t> image);

    // The file bytes for an image and its describing block (image size a non-zero multiple of
    // 16), and for a supervisor program and EEPROM image.
    static std::vector<uint8_t> BuildMain(std::span<const uint8_t> image,
                                          const ParameterBlock& block);
    static std::vector<uint8_t> BuildSupervisor(std::span<const uint8_t, 8192> program,
                                                std::span<const uint8_t, 128> eeprom);
};
