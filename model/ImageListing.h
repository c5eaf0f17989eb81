// A parameter image as text, one "name = value unit" line per field of the field table in the
// units the pages show ("set1.step1.speed = 92 1/min"), with what follows from the image and
// its machine (model code, digest, conversion context) beside. kelvane-cli show prints it.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "model/Conversions.h"
#include "model/ParameterBlock.h"

class MachineCatalog;

std::vector<std::string> ListImage(const ParameterBlock& block, const ConversionContext& ctx);
// The lines joined with "\n" (and a final "\n").
std::string ImageListingText(const ParameterBlock& block, const ConversionContext& ctx);

// The same as JSON: "fields" (name -> FieldJson) and "derived" (modelCode, machineKindFromModel,
// digest, machineKind, totalRatio, maxOutputSpeed, minOutputSpeed).
nlohmann::json ImageListingJson(const ParameterBlock& block, const ConversionContext& ctx);

// The context the step pages would use for block: machine kind from the model (or the given
// kind when not 0), active transmission from the catalog (LookupTransmission must have run),
// the user gear factor of the image, the battery and minimum speeds of the catalog's page
// copies.
ConversionContext MakeConversionContext(const ParameterBlock& block, const MachineCatalog& catalog,
                                        int machineKind = 0);
