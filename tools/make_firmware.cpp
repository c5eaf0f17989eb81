// Makes firmware files from plain images: the vendor's side of the enciphered, sealed files
// that "Firmware Update" and "Firmware Update SUPV" read.
//
//   tool_make_firmware main IMAGE OUT            IMAGE: the application area from 0x10001000;
//                                                its block area gives the describing block
//   tool_make_firmware supv PROGRAM EEPROM OUT   PROGRAM 8192 bytes, EEPROM 128 bytes
//   tool_make_firmware --sim DIR                 the files for the simulated machine:
//                                                DIR/<type>_<version>.bin, DIR/SUPV/SUPV_<v>.bin
//   tool_make_firmware --check --sim DIR         exit 0 when DIR holds exactly those files
#include "base/FileIo.h"
#include "files/FirmwareFile.h"
#include "sim/SimFirmware.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

int Fail(const std::string& text) {
    std::fprintf(stderr, "tool_make_firmware: %s\n", text.c_str());
    return 1;
}

int Usage() {
    std::fprintf(stderr, "usage: tool_make_firmware main IMAGE OUT\n"
                         "       tool_make_firmware supv PROGRAM EEPROM OUT\n"
                         "       tool_make_firmware [--check] --sim DIR\n");
    return 2;
}

bool Read(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
    return ReadWholeFile(path, out, 0x100000, &error);
}

bool MainFile(const std::vector<uint8_t>& image, std::vector<uint8_t>& file, std::string& error) {
    if (image.empty() || image.size() % 16) {
        error = "the image size must be a non-zero multiple of 16";
        return false;
    }
    std::optional<size_t> at = FirmwareFile::LocateBlock(image);
    if (!at) {
        error = "the image's block area (bytes 256..1279) does not locate a block";
        return false;
    }
    ParameterBlock block;
    std::memcpy(block.bytes.data(), image.data() + *at, block.bytes.size());
    file = FirmwareFile::BuildMain(image, block);
    return true;
}

std::string SupervisorName(uint32_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "SUPV_V%02u.%02u.%02u.bin", (v >> 16) & 0xFF, (v >> 8) & 0xFF,
                  v & 0xFF);
    return buf;
}

// Relative path and contents of the files for the simulated machine.
std::vector<std::pair<std::string, std::vector<uint8_t>>> SimFiles() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    std::vector<uint8_t> file;
    std::string error;
    MainFile(SimFirmwareImage(kSimFirmwareMemorySize, kSimFirmwareVersion), file, error);
    const ParameterBlock b = SimFirmwareBlock(kSimFirmwareVersion);
    std::string type = b.MachineType();
    while (!type.empty() && type.back() == ' ')
        type.pop_back();
    files.emplace_back(type + "_" + std::string(kSimFirmwareVersion) + ".bin", file);
    const auto program = SimSupervisorProgram(kSimSupervisorFirmwareVersion);
    const auto eeprom = SimSupervisorEepromImage(kSimSupervisorFirmwareVersion);
    files.emplace_back("SUPV/" + SupervisorName(kSimSupervisorFirmwareVersion),
                       FirmwareFile::BuildSupervisor(program, eeprom));
    return files;
}

int Sim(const std::string& dir, bool check) {
    int bad = 0;
    for (const auto& [name, bytes] : SimFiles()) {
        const std::string path = dir + "/" + name;
        std::string error;
        if (check) {
            std::vector<uint8_t> have;
            if (!Read(path, have, error)) {
                bad += Fail(error);
            } else if (have != bytes) {
                bad += Fail(path + " differs from what the tool makes");
            }
            continue;
        }
        std::error_code ec;
        fs::create_directories(fs::path(path).parent_path(), ec);
        if (!WriteFileAtomic(path, bytes.data(), bytes.size(), &error))
            bad += Fail(error);
    }
    if (check) {
        // Nothing else in the folder: every shipped file can be made again.
        std::error_code ec;
        size_t count = 0;
        for (auto it = fs::recursive_directory_iterator(dir, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (it->is_regular_file())
                ++count;
        if (count != SimFiles().size())
            bad += Fail(dir + " holds " + std::to_string(count) + " files, the tool makes " +
                        std::to_string(SimFiles().size()));
    }
    return bad ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> a(argv + 1, argv + argc);
    std::string error;
    if (a.size() == 2 && a[0] == "--sim")
        return Sim(a[1], false);
    if (a.size() == 3 && a[0] == "--check" && a[1] == "--sim")
        return Sim(a[2], true);
    if (a.size() == 3 && a[0] == "main") {
        std::vector<uint8_t> image, file;
        if (!Read(a[1], image, error) || !MainFile(image, file, error))
            return Fail(a[1] + ": " + error);
        if (!WriteFileAtomic(a[2], file.data(), file.size(), &error))
            return Fail(error);
        return 0;
    }
    if (a.size() == 4 && a[0] == "supv") {
        std::vector<uint8_t> program, eeprom;
        if (!Read(a[1], program, error) || !Read(a[2], eeprom, error))
            return Fail(error);
        if (program.size() != 8192 || eeprom.size() != 128)
            return Fail("the program image has 8192 bytes, the EEPROM image 128");
        std::vector<uint8_t> file =
            FirmwareFile::BuildSupervisor(std::span<const uint8_t, 8192>(program.data(), 8192),
                                          std::span<const uint8_t, 128>(eeprom.data(), 128));
        if (!WriteFileAtomic(a[3], file.data(), file.size(), &error))
            return Fail(error);
        return 0;
    }
    return Usage();
}
