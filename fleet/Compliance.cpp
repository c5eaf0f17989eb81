#include "fleet/Compliance.h"

#include <algorithm>

namespace {

using P = ParameterBlock;

std::string Text(const ParameterBlock& b, size_t offset, size_t width) {
    std::string s;
    for (size_t i = 0; i < width && b.bytes[offset + i]; ++i)
        s.push_back(char(b.bytes[offset + i]));
    const size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

} // namespace

std::string MachineTypeOf(const ParameterBlock& image) {
    return Text(image, P::kOffMachineType, P::kLenMachineType);
}

std::string SerialOf(const ParameterBlock& image) {
    return Text(image, P::kOffSerialNr, P::kLenSerialNr);
}

Compliance::State ComplianceState(const ParameterBlock& machine, const ParameterBlock& approved) {
    if (MachineTypeOf(machine) != MachineTypeOf(approved))
        return Compliance::OtherType;
    return GroupDiffers(FieldGroup::Configuration, approved, machine) ? Compliance::Deviates
                                                                      : Compliance::Compliant;
}

Compliance CheckCompliance(const ParameterBlock& machine, const ParameterBlock& approved,
                           const ConversionContext* given) {
    Compliance c;
    if (MachineTypeOf(machine) != MachineTypeOf(approved)) {
        c.state = Compliance::OtherType;
        return c;
    }
    if (!GroupDiffers(FieldGroup::Configuration, approved, machine))
        return c;
    ConversionContext ctx;
    ctx.machineKind = machine.MachineKindFromModel();
    if (given)
        ctx = *given;
    for (auto& d : DiffImages(approved, machine, ctx))
        if (d.field && d.field->group == FieldGroup::Configuration)
            c.differences.push_back(std::move(d));
    c.state = Compliance::Deviates;
    return c;
}
