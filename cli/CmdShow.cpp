// kelvane-cli show FILE | show --default: a parameter image or configuration file, one field a
// line in the units the pages show.
#include "app/Folders.h"
#include "cli/Cli.h"
#include "files/ConfigFile.h"
#include "model/AtomicFile.h"
#include "model/ImageListing.h"
#include "model/MachineCatalog.h"

#include <algorithm>
#include <iostream>

namespace {

// Far above either format; a larger file is neither, and is not read into memory whole.
constexpr size_t kMaxShowSize = 1024 * 1024;
// What the header page starts with (the image does not record it).
constexpr int kDefaultBatteryVoltage = 18;

int RunShow(cli::Args& args) {
    const bool useDefault = args.Flag("--default");
    std::vector<std::string> files = args.Positional();
    if (args.HasError())
        return 2;
    const std::string usage = "\nusage: kelvane-cli show FILE | show --default";
    if (useDefault ? !files.empty() : files.size() != 1)
        return cli::Fail("show needs one FILE, or --default alone" + usage, 2);

    ParameterBlock block = ParameterBlock::Default();
    MachineCatalog catalog;
    int rc = 0;
    if (useDefault) {
        std::cout << "format = default image\n";
    } else {
        const std::string& name = files[0];
        std::vector<uint8_t> bytes;
        std::string error;
        if (!ReadWholeFile(name, bytes, kMaxShowSize, &error))
            return cli::Fail("cannot read " + name + ": " + error);
        int kind = 0;
        if (bytes.size() == ParameterBlock::kSize) {
            std::copy(bytes.begin(), bytes.end(), block.bytes.begin());
            std::cout << "file = " << name << "\nformat = parameter image (512 bytes)\n";
            // An image comes from a machine, and every machine read is of kind 18.
            if (block.MachineKindFromModel() == 0)
                kind = 18;
        } else if (bytes.size() >= kConfigFileSize) {
            ConfigParse parsed = ParseConfigFile(bytes.data(), bytes.size());
            std::copy(parsed.image.begin(), parsed.image.end(), block.bytes.begin());
            std::cout << "file = " << name << "\nformat = configuration file (560 bytes)\n"
                      << "seal = " << (parsed.Valid() ? "holds" : "does not hold") << "\n";
            if (parsed.trailingBytes > 0)
                std::cerr << "kelvane-cli: " << name << ": " << parsed.trailingBytes
                          << " bytes after the first 560 ignored\n";
            if (!parsed.Valid()) {
                std::cerr << "kelvane-cli: " << name << ": " << ConfigStatusText(parsed.status)
                          << ": the program refuses to load this file\n";
                rc = 1;
            }
        } else {
            return cli::Fail(name + ": " + std::to_string(bytes.size()) +
                             " bytes: neither a 512-byte parameter image nor a 560-byte "
                             "configuration file");
        }
        // The conversion context as the pages would have it for this machine.
        const std::string catalogFile = CatalogFile(AppFolder()).string();
        std::string message;
        catalog.LoadCatalog(catalogFile, block);
        catalog.LoadBattery(catalogFile, block, kDefaultBatteryVoltage, &message);
        if (!message.empty())
            std::cerr << "kelvane-cli: " << message << "\n";
        message.clear();
        if (catalog.LookupTransmission(catalogFile, block, &message) != 0 && !message.empty())
            std::cerr << "kelvane-cli: " << message << "\n";
        std::cout << ImageListingText(block, MakeConversionContext(block, catalog, kind));
        return rc;
    }
    std::cout << ImageListingText(block, MakeConversionContext(block, catalog));
    return rc;
}

} // namespace

KELVANE_CLI_COMMAND("show", "show FILE | show --default", RunShow);
