// The fields in which two parameter images differ, each with its old and new value in the units
// the pages show; the step fields per parameter set and step ("set2.step1.speed"). Bytes no
// field covers are compared too and named by their offsets, so no difference goes unseen.
// The window, kelvane-cli and the report of a difference all use this one list.
#pragma once

#include "model/Conversions.h"
#include "model/ParameterBlock.h"

#include <string>
#include <vector>

struct FieldDifference {
    std::string name;     // "toolId", "set1.step3.speed", "bytes 71-74"
    std::string oldValue; // with its unit: "92 1/min", "\"LINE 4\"", "0.5 s"
    std::string newValue;
    size_t offset = 0; // first byte of the field in the image
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

// The parts a configuration file carries for a write (steps and switches: restartLock,
// the ten steps, 414..422). True when a and b differ there.
bool SettingsDiffer(const ParameterBlock& a, const ParameterBlock& b);
