#include "cli/ImageInput.h"

#include "app/Folders.h"
#include "base/FileIo.h"
#include "files/ConfigFile.h"
#include "lang/Language.h"

#include <algorithm>
#include <iostream>

namespace {
// Far above either format; a larger file is neither, and is not read into memory whole.
constexpr size_t kMaxInputSize = 1024 * 1024;
constexpr int kDefaultBatteryVoltage = 18;
} // namespace

bool ReadImageInput(const std::string& path, ImageInput& out, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, kMaxInputSize, &error)) {
        error = "cannot read " + path + ": " + error;
        return false;
    }
    ImageInput in;
    if (bytes.size() == ParameterBlock::kSize) {
        std::copy(bytes.begin(), bytes.end(), in.image.bytes.begin());
    } else if (bytes.size() >= kConfigFileSize) {
        ConfigParse parsed = ParseConfigFile(bytes.data(), bytes.size());
        std::copy(parsed.image.begin(), parsed.image.end(), in.image.bytes.begin());
        in.isConfig = true;
        in.sealHolds = parsed.Valid();
        in.trailingBytes = parsed.trailingBytes;
    } else {
        error = path + ": " + std::to_string(bytes.size()) +
                " bytes: neither a 512-byte parameter image nor a 560-byte configuration file";
        return false;
    }
    in.machineKind = in.image.MachineKindFromModel();
    // An image comes from a machine, and every machine read is of kind 18.
    if (in.machineKind == 0 && !in.isConfig)
        in.machineKind = 18;
    out = in;
    return true;
}

void LoadCatalogFor(const ParameterBlock& image, MachineCatalog& catalog) {
    const std::string catalogFile = CatalogFile(AppFolder()).string();
    std::string message;
    if (!InstallationFileReadable(catalogFile))
        std::cerr << "kelvane-cli: " << Translate("Datei fehlt oder ist nicht lesbar:") << " "
                  << catalogFile << "\n";
    catalog.LoadCatalog(catalogFile, image);
    catalog.LoadBattery(catalogFile, image, kDefaultBatteryVoltage, &message);
    if (!message.empty())
        std::cerr << "kelvane-cli: " << message << "\n";
    message.clear();
    if (catalog.LookupTransmission(catalogFile, image, &message) != 0 && !message.empty())
        std::cerr << "kelvane-cli: " << message << "\n";
}
