// Whether a machine holds its approved configuration: only the fields of the configuration
// group count (the steps and switches); identity, maintenance and settings never do.
#pragma once

#include "model/ImageDiff.h"
#include "model/ParameterBlock.h"

#include <string>
#include <vector>

struct Compliance {
    enum State { Compliant, Deviates, OtherType };
    State state = Compliant;
    // The differing fields within the parts a configuration carries (Deviates).
    std::vector<FieldDifference> differences;
};

// ctx converts the step values of the named differences (the machine's gear ratio); without
// it only the machine kind is known.
Compliance CheckCompliance(const ParameterBlock& machine, const ParameterBlock& approved,
                           const ConversionContext* ctx = nullptr);
// The same without naming the differences.
Compliance::State ComplianceState(const ParameterBlock& machine, const ParameterBlock& approved);

// The machine type as its image names it, trimmed.
std::string MachineTypeOf(const ParameterBlock& image);
std::string SerialOf(const ParameterBlock& image);
