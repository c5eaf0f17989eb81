#include "files/FirmwareFile.h"

#include "base/FileIo.h"
#include "crypto/Digests.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens a regular file for reading only: a firmware file is never changed, and a FIFO or
// device must not block the command.
int OpenRegular(const std::string& path, std::string* why) {
    std::string reason;
    const int fd = OpenRegularFile(path, nullptr, &reason);
    if (fd < 0 && why)
        *why = reason;
    return fd;
}

// Reads up to count bytes; the number read (short at the end of the file).
size_t ReadUpTo(int fd, uint8_t* out, size_t count) {
    size_t got = 0;
    while (got < count) {
        ssize_t n = ::read(fd, out + got, count - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    return got;
}

FirmwareStatus Invalid(std::string* why, const std::string& text) {
    if (why)
        *why = text;
    return FirmwareStatus::Invalid;
}

// What names the machine and the version in a block.
bool SameIdentityAndVersion(const ParameterBlock& a, const ParameterBlock& b) {
    auto same = [&](size_t off, size_t len) {
        return std::memcmp(a.bytes.data() + off, b.bytes.data() + off, len) == 0;
    };
    return (a.MachineFlags() & 1) == (b.MachineFlags() & 1) &&
           same(ParameterBlock::kOffVariantCode, 1) && same(ParameterBlock::kOffTransmission, 1) &&
           same(ParameterBlock::kOffAngleHead, 1) &&
           same(ParameterBlock::kOffSwVersion, ParameterBlock::kLenSwVersion);
}

} // namespace

std::optional<size_t> FirmwareFile::LocateBlock(std::span<const uint8_t> image) {
    if (image.size() < kBlockAreaOffset + kBlockAreaSize)
        return std::nullopt;
    const uint8_t b0 = image[kBlockAreaOffset], b1 = image[kBlockAreaOffset + 1];
    const size_t offset = (b0 == 0x20 && b1 == 0x01) ? 0 : size_t(b0) * 256 + b1;
    if (offset > kBlockAreaSize - ParameterBlock::kSize)
        return std::nullopt;
    return kBlockAreaOffset + offset;
}

FirmwareStatus FirmwareFile::ReadMain(const std::string& path, uint32_t memorySize,
                                      MainFirmware& out, std::string* why) {
    int fd = OpenRegular(path, why);
    if (fd < 0)
        return FirmwareStatus::CannotOpen;
    // The image size comes from the controller: it must be one the cipher and the block area
    // can work with before anything is read.
    if (memorySize == 0 || memorySize % 16 || memorySize < kBlockAreaOffset + kBlockAreaSize ||
        memorySize > 0x100000) {
        ::close(fd);
        return Invalid(why, "the controller reports no usable memory size (" +
                                std::to_string(memorySize) + ")");
    }
    std::vector<uint8_t> file(MainFileSize(memorySize));
    const size_t got = ReadUpTo(fd, file.data(), file.size());
    ::close(fd);
    if (got < file.size())
        return Invalid(why, "the file has " + std::to_string(got) + " bytes, " +
                                std::to_string(file.size()) + " are needed");

    const uint8_t* seal1 = file.data();
    std::vector<uint8_t> image(file.begin() + kSealSize, file.begin() + kSealSize + memorySize);
    const uint8_t* seal2 = file.data() + kSealSize + memorySize;
    ParameterBlock block;
    std::memcpy(block.bytes.data(), seal2 + kSealSize, ParameterBlock::kSize);

    DecipherWithFileKey(image.data(), image.size());
    if (!SealMatches(image.data(), image.size(), kFirmwareSealFiller, seal1))
        return Invalid(why, "the seal of the image does not match");
    DecipherWithFileKey(block.bytes.data(), block.bytes.size());
    if (!SealMatches(block.bytes.data(), block.bytes.size(), kFirmwareSealFiller, seal2))
        return Invalid(why, "the seal of the block does not match");

    // A sealed file may still hold an image that cannot be this firmware: its block area must
    // locate a block, and that block must name the machine and version the file names.
    std::optional<size_t> at = LocateBlock(image);
    if (!at)
        return Invalid(why, "the image's block area does not locate a block");
    ParameterBlock inner;
    std::memcpy(inner.bytes.data(), image.data() + *at, ParameterBlock::kSize);
    if (!SameIdentityAndVersion(inner, block))
        return Invalid(why, "the block inside the image names another machine or version");

    out.image = std::move(image);
    out.block = block;
    return FirmwareStatus::Ok;
}

FirmwareStatus FirmwareFile::ReadSupervisor(const std::string& path, SupervisorFirmware& out,
                                            std::string* why) {
    int fd = OpenRegular(path, why);
    if (fd < 0)
        return FirmwareStatus::CannotOpen;
    std::vector<uint8_t> file(kSupervisorFileSize);
    const size_t got = ReadUpTo(fd, file.data(), file.size());
    ::close(fd);
    if (got < file.size())
        return Invalid(why, "the file has " + std::to_string(got) + " bytes, " +
                                std::to_string(file.size()) + " are needed");
    SupervisorFirmware f;
    std::memcpy(f.program.data(), file.data() + kSealSize, f.program.size());
    std::memcpy(f.eeprom.data(), file.data() + kSealSize + f.program.size(), f.eeprom.size());
    DecipherWithFileKey(f.program.data(), f.program.size());
    if (!SealMatches(f.program.data(), f.program.size(), kFirmwareSealFiller, file.data()))
        return Invalid(why, "the seal of the program image does not match");
    DecipherWithFileKey(f.eeprom.data(), f.eeprom.size());
    out = f;
    return FirmwareStatus::Ok;
}

std::vector<uint8_t> FirmwareFile::BuildMain(std::span<const uint8_t> image,
                                             const ParameterBlock& block) {
    std::vector<uint8_t> file;
    file.reserve(MainFileSize(uint32_t(image.size())));
    const SealedDigest s1 = SealDigest(image.data(), image.size(), kFirmwareSealFiller);
    file.insert(file.end(), s1.begin(), s1.end());
    std::vector<uint8_t> enciphered(image.begin(), image.end());
    EncipherWithFileKey(enciphered.data(), enciphered.size());
    file.insert(file.end(), enciphered.begin(), enciphered.end());
    const SealedDigest s2 = SealDigest(block.bytes.data(), block.bytes.size(), kFirmwareSealFiller);
    file.insert(file.end(), s2.begin(), s2.end());
    ParameterBlock b = block;
    EncipherWithFileKey(b.bytes.data(), b.bytes.size());
    file.insert(file.end(), b.bytes.begin(), b.bytes.end());
    return file;
}

std::vector<uint8_t> FirmwareFile::BuildSupervisor(std::span<const uint8_t, 8192> program,
                                                   std::span<const uint8_t, 128> eeprom) {
    std::vector<uint8_t> file;
    file.reserve(kSupervisorFileSize);
    const SealedDigest s = SealDigest(program.data(), program.size(), kFirmwareSealFiller);
    file.insert(file.end(), s.begin(), s.end());
    std::vector<uint8_t> p(program.begin(), program.end());
    EncipherWithFileKey(p.data(), p.size());
    file.insert(file.end(), p.begin(), p.end());
    std::vector<uint8_t> e(eeprom.begin(), eeprom.end());
    EncipherWithFileKey(e.data(), e.size());
    file.insert(file.end(), e.begin(), e.end());
    return file;
}
