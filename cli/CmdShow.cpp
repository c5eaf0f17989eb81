// kelvane-cli show FILE | show --default: a parameter image or configuration file, one field a
// line in the units the pages show.
#include "cli/Cli.h"
#include "cli/ImageInput.h"
#include "files/ConfigFile.h"
#include "model/ImageListing.h"

#include <iostream>

namespace {

int RunShow(cli::Args& args) {
    const bool useDefault = args.Flag("--default");
    std::vector<std::string> files = args.Positional();
    if (args.HasError())
        return 2;
    const std::string usage = "\nusage: kelvane-cli show FILE | show --default";
    if (useDefault ? !files.empty() : files.size() != 1)
        return cli::Fail("show needs one FILE, or --default alone" + usage, 2);

    MachineCatalog catalog;
    if (useDefault) {
        std::cout << "format = default image\n";
        const ParameterBlock block = ParameterBlock::Default();
        std::cout << ImageListingText(block, MakeConversionContext(block, catalog));
        return 0;
    }

    const std::string& name = files[0];
    ImageInput in;
    std::string error;
    if (!ReadImageInput(name, in, error))
        return cli::Fail(error);
    int rc = 0;
    std::cout << "file = " << name << "\n";
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

KELVANE_CLI_COMMAND("show", "show FILE | show --default", RunShow);
