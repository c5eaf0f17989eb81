// Makes a factory settings file: the sealed 560-byte configuration format holding a machine's
// delivered image, with writeMark 0 (which no saved configuration has) and without the fields a
// restore takes from the machine itself. The file is named after the machine's identity.
//
//   tool_make_factory IMAGE DIR          writes
//   DIR/<type>_<variant>_<gear>_<torque>_<angle>_factory.bin tool_make_factory --sim-default DIR
//   the same for the simulated machine's default image tool_make_factory --check
//   IMAGE|--sim-default DIR
//                                        exit 0 when DIR holds exactly that file
//
// IMAGE is a 512-byte image or a 560-byte configuration file (its image is taken).
#include "base/FileIo.h"
#include "files/ConfigFile.h"
#include "files/FactorySettings.h"
#include "model/FirmwareVersion.h"
#include "model/ParameterBlock.h"
#include "sim/SimMachine.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

int Fail(const std::string& text) {
    std::fprintf(stderr, "tool_make_factory: %s\n", text.c_str());
    return 1;
}

bool LoadImage(const std::string& source, ParameterBlock& image, std::string& error) {
    if (source == "--sim-default") {
        image.bytes = SimMachine::DefaultImage();
        return true;
    }
    std::vector<uint8_t> data;
    if (!ReadWholeFile(source, data, 4096, &error))
        return false;
    if (data.size() != kConfigImageSize && data.size() != kConfigFileSize) {
        error = source + " has " + std::to_string(data.size()) +
                " bytes; expected 512 (image) or 560 (configuration file)";
        return false;
    }
    std::copy(data.end() - kConfigImageSize, data.end(), image.bytes.begin());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool check = !args.empty() && args[0] == "--check";
    if (check)
        args.erase(args.begin());
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: tool_make_factory [--check] IMAGE|--sim-default DIR\n");
        return 2;
    }
    ParameterBlock source;
    std::string error;
    if (!LoadImage(args[0], source, error))
        return Fail(error);
    // The program refuses factory files it could not load: say so here, not at the machine.
    if (source.MachineKindFromModel() == 0)
        return Fail("machine type '" + source.MachineType() + "' is neither kind 14 nor 18");
    if (FirmwareVersionOf(source).major < 4)
        return Fail("firmware '" + source.SwVersion() + "' is older than major version 4");

    const ParameterBlock factory = MakeFactoryImage(source);
    const ConfigFileBytes file = BuildConfigFile(factory.bytes, 0);
    const std::filesystem::path out = std::filesystem::path(args[1]) / FactoryFileName(source);

    if (check) {
        std::vector<uint8_t> have;
        if (!ReadWholeFile(out.string(), have, 4096, &error))
            return Fail(error);
        if (have.size() != file.size() || !std::equal(have.begin(), have.end(), file.begin()))
            return Fail(out.string() + " differs from the factory file made from " + args[0]);
        return 0;
    }
    std::error_code ec;
    std::filesystem::create_directories(args[1], ec);
    if (!WriteFileAtomic(out.string(), file.data(), file.size(), &error))
        return Fail("cannot write " + out.string() + ": " + error);
    return 0;
}
