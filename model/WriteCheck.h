// The one check of an image before it is sent to a machine, whatever the path (window, CLI,
// configuration or factory file, restore): only what a page could produce, the identity as the
// machine has it.
#pragma once

#include "model/MachineCatalog.h"
#include "model/ParameterBlock.h"

#include <cstdint>
#include <string>
#include <vector>

struct WriteFinding {
    std::string field;      // German field name as the pages show it, e.g. "Schritt 3: Drehzahl"
    std::string germanText; // what is wrong, German (translated by the caller)
};

// outgoing: the image about to be sent; machine: the image the machine holds now; catalog:
// loaded for the machine; blockOffset: the link's block offset (0: bytes 0..1 are the block
// area's marker and must stay as the machine has them). Empty when the image may go out.
std::vector<WriteFinding> CheckImageForWrite(const ParameterBlock& outgoing,
                                             const ParameterBlock& machine,
                                             const MachineCatalog& catalog, uint16_t blockOffset);
