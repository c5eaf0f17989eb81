// The configuration file: a 48-byte sealed digest (filler 0xCC) of the 512-byte image that
// follows it. Factory settings files use the same format. Works on the raw image bytes
// (ParameterBlock::bytes).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kConfigSealSize = 48;
constexpr size_t kConfigImageSize = 512;
constexpr size_t kConfigFileSize = kConfigSealSize + kConfigImageSize; // 560

using ConfigImage = std::array<uint8_t, kConfigImageSize>;
using ConfigFileBytes = std::array<uint8_t, kConfigFileSize>;

enum class ConfigStatus {
    kOk,       // seal holds
    kTooShort, // fewer than 560 bytes
    kBadSeal,  // the stored 48 bytes are not the sealed digest of the image
};

struct ConfigParse {
    ConfigStatus status = ConfigStatus::kTooShort;
    ConfigImage image{};      // the stored image, also when the seal does not hold
    size_t trailingBytes = 0; // bytes after the first 560; ignored
    bool Valid() const { return status == ConfigStatus::kOk; }
};

// Short English description of a status, for command-line tools.
const char* ConfigStatusText(ConfigStatus status);

// The copy "Speichern" stores: writeMark 1; elAssembly, serialNr, toolId, calDate, calName,
// place, passwordDigest, torque and serviceResetCounter cleared; every other byte kept.
ConfigImage ConfigurationCopy(const ConfigImage& image);

// The 560 bytes of a file holding the image with its writeMark (byte 2) set as given.
ConfigFileBytes BuildConfigFile(const ConfigImage& image, uint8_t writeMark);
// The 560 bytes of a file holding the image exactly as given.
ConfigFileBytes BuildConfigFile(const ConfigImage& image);

// Splits file contents into image and seal check. Safe on any length and any bytes.
ConfigParse ParseConfigFile(const void* data, size_t length);

// Writes the file for the image as given: 0, or -1 when it cannot be written (error says why).
// Written to a temporary file and renamed, so a failure leaves any old file as it was.
int WriteConfigFile(const std::string& path, const ConfigImage& image,
                    std::string* error = nullptr);

// Reads and checks a file: 0, -1 (cannot be opened or read, not a regular file, shorter than
// 560 bytes) or -2 (sealed digest wrong). out is written only on 0. Read-only files load.
int ReadConfigFile(const std::string& path, ConfigImage& out);
// The same with the parse result, for tools that show a file whose seal does not hold.
// False when the file cannot be opened or read.
bool ReadConfigFile(const std::string& path, ConfigParse& out, std::string* error = nullptr);
