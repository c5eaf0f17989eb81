// The one check of an image before it is sent to a machine, whatever the path (window, CLI,
// configuration or factory file, restore): only what a page could produce, the identity as the
// machine has it.
#pragma once

#include "model/MachineCatalog.h"
#include "model/ParameterBlock.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct WriteFinding {
    std::string field;      // German field name as the pages show it, e.g. "Drehzahl"
    std::string germanText; // what is wrong, German (translated by the caller)
    int step = -1;          // global step index 0..9 for a field of a program step, else -1
    std::size_t offset = 0; // first image byte of the field
};

// outgoing: the image about to be sent; machine: the image the machine holds now; catalog:
// loaded for the machine (LoadBattery and LookupTransmission done); blockOffset: the link's
// block offset (0: bytes 0..1 are the block area's marker and must stay as the machine has
// them). Empty when the image may go out.
//
// Speeds are judged for kind 18 (the kind of every image read from a machine) and for the kind
// the machine type names, so an image the pages produced either way passes.
std::vector<WriteFinding> CheckImageForWrite(const ParameterBlock& outgoing,
                                             const ParameterBlock& machine,
                                             const MachineCatalog& catalog, uint16_t blockOffset);

// One line per finding, "<field>: <what>" or "Programmschritt <n>: <field>: <what>", each
// German text passed through translate (Translate of the language tables).
std::string DescribeFindings(const std::vector<WriteFinding>& findings,
                             const std::function<std::string(const std::string&)>& translate);
