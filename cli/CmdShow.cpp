// kelvane-cli show FILE | show --default [--json]: a parameter image or configuration file, one
// field a line in the units the pages show; with --json one object ("fields": name -> typed
// value, "derived": what follows from the image and its machine).
#include "cli/Cli.h"
#include "cli/ImageInput.h"
#include "files/ConfigFile.h"
#include "model/ImageFields.h"
#include "model/ImageListing.h"

#include <iostream>
#include <nlohmann/json.hpp>

namespace {

int RunShow(cli::Args& args) {
    const bool useDefault = args.Flag("--default");
    const bool json = args.Flag("--json");
    std::vector<std::string> files = args.Positional();
    if (args.HasError())
        return 2;
    const std::string usage = "\nusage: kelvane-cli show FILE [--json] | show --default [--json]";
    if (useDefault ? !files.empty() : files.size() != 1)
        return cli::Fail("show needs one FILE, or --default without a FILE" + usage, 2);

    MachineCatalog catalog;
    if (useDefault) {
        const ParameterBlock block = ParameterBlock::Default();
        const ConversionContext ctx = MakeConversionContext(block, catalog);
        if (json) {
            nlohmann::json j = ImageListingJson(block, ctx);
            j["format"] = "default image";
            std::cout << DumpJson(j) << "\n";
            return 0;
        }
        std::cout << "format = default image\n";
        std::cout << ImageListingText(block, ctx);
        return 0;
    }

    const std::string& name = files[0];
    ImageInput in;
    std::string error;
    if (!ReadImageInput(name, in, error))
        return cli::Fail(error);
    int rc = 0;
    if (json) {
        LoadCatalogFor(in.image, catalog);
        nlohmann::json j =
            ImageListingJson(in.image, MakeConversionContext(in.image, catalog, in.machineKind));
        j["file"] = JsonText(name);
        j["format"] = in.isConfig ? "configuration file" : "parameter image";
        if (in.isConfig) {
            j["seal"] = in.sealHolds;
            j["trailingBytes"] = in.trailingBytes;
        }
        std::cout << DumpJson(j) << "\n";
        return in.isConfig && !in.sealHolds ? 1 : 0;
    }
    std::cout << "file = " << ShownText(name) << "\n";
    if (in.isConfig) {
        std::cout << "format = configuration file (560 bytes)\n"
                  << "seal = " << (in.sealHolds ? "holds" : "does not hold") << "\n";
        if (in.trailingBytes > 0)
            std::cerr << "kelvane-cli: " << name << ": " << in.trailingBytes
                      << " bytes after the first 560 ignored\n";
        if (!in.sealHolds) {
            std::cerr << "kelvane-cli: " << name << ": " << ConfigStatusText(ConfigStatus::kBadSeal)
                      << ": the program refuses to load this file\n";
            rc = 1;
        }
    } else {
        std::cout << "format = parameter image (512 bytes)\n";
    }
    // The conversion context as the pages would have it for this machine.
    LoadCatalogFor(in.image, catalog);
    std::cout << ImageListingText(in.image,
                                  MakeConversionContext(in.image, catalog, in.machineKind));
    return rc;
}

} // namespace

KELVANE_CLI_COMMAND("show", "show FILE [--json] | show --default [--json]", RunShow);
