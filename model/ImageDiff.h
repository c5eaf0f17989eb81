// The fields in which two parameter images differ, each with its old and new value as
// kelvane-cli show writes it; named as in the field table ("set2.step1.speed"). Bytes no field
// covers are compared too and named by their offsets, so no difference goes unseen. The window,
// kelvane-cli and the history all use this one list.
#pragma once

#include "model/Conversions.h"
#include "model/ImageFields.h"
#include "model/ParameterBlock.h"

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <vector>

struct FieldDifference {
    std::string name;     // "toolId", "set1.step3.speed", "bytes 71-74"
    std::string oldValue; // the human form: "92 1/min", "\"LINE 4\"", "0.5 s"
    std::string newValue;
    size_t offset = 0;                 // first byte in the image
    size_t width = 0;                  // bytes
    const ImageField* field = nullptr; // nullptr for bytes no field covers
};

// What changed from a to b. ctxA / ctxB convert each image's step values (a machine's gear
// ratio and battery).
std::vector<FieldDifference> DiffImages(const ParameterBlock& a, const ParameterBlock& b,
                                        const ConversionContext& ctxA,
                                        const ConversionContext& ctxB);
std::vector<FieldDifference> DiffImages(const ParameterBlock& a, const ParameterBlock& b,
                                        const ConversionContext& ctx);

// "name: old -> new", one a line.
std::string DifferenceText(const std::vector<FieldDifference>& differences);

// The caption of a difference in the window's language ("Parametersatz 2 › Programmschritt 1 ›
// Zeit", or "Bytes 71-74").
std::string DifferenceCaption(const FieldDifference& difference, const Translator& translate);

// The differences as JSON: [{"field", "group", "offset", "width", "old", "new", "oldText",
// "newText"}], old and new as FieldJson gives them (bytes no field covers as hexadecimal).
nlohmann::json DifferencesJson(const std::vector<FieldDifference>& differences,
                               const ParameterBlock& a, const ParameterBlock& b,
                               const ConversionContext& ctxA, const ConversionContext& ctxB);

// The parts a configuration carries to a machine (the steps and switches). True when a and b
// differ there.
bool SettingsDiffer(const ParameterBlock& a, const ParameterBlock& b);
