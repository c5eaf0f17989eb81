// Reading the IN argument of the CLI: a 512-byte image or a 560-byte configuration file.
#pragma once

#include "model/MachineCatalog.h"
#include "model/ParameterBlock.h"

#include <string>

struct ImageInput {
    ParameterBlock image;
    bool isConfig = false;
    bool sealHolds = false;
    size_t trailingBytes = 0; // configuration file: bytes after the first 560
    int machineKind = 0;      // from the model code; 18 for an image read from a machine
};

// False with error set when the file cannot be read or has neither size.
bool ReadImageInput(const std::string& path, ImageInput& out, std::string& error);

// The catalog as the pages have it for this machine (battery voltage 18); messages of the
// catalog look-ups go to standard error.
void LoadCatalogFor(const ParameterBlock& image, MachineCatalog& catalog);
