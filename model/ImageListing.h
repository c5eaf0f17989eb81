// A parameter image as text, one "name = value unit" line per field in user units, then the
// steps of both parameter sets ("step0.speed = 92 1/min"). kelvane-cli show prints it.
#pragma once

#include <string>
#include <vector>

#include "model/Conversions.h"
#include "model/ParameterBlock.h"

class MachineCatalog;

std::vector<std::string> ListImage(const ParameterBlock& block, const ConversionContext& ctx);
// The lines joined with "\n" (and a final "\n").
std::string ImageListingText(const ParameterBlock& block, const ConversionContext& ctx);

// The context the step pages would use for block: machine kind from the model (or the given
// kind when not 0), active transmission from the catalog (LookupTransmission must have run),
// the user gear factor of the image, the battery and minimum speeds of the catalog's page
// copies.
ConversionContext MakeConversionContext(const ParameterBlock& block, const MachineCatalog& catalog,
                                        int machineKind = 0);

// calDate as "YYYY-MM-DD HH:MM" (minutes since 2000-01-01 00:00), "-" for 0.
std::string FormatCalDate(uint32_t minutes);
