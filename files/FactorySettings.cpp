#include "files/FactorySettings.h"

#include <algorithm>
#include <cstdio>

std::string MachineFileBaseName(const ParameterBlock& image) {
    std::string type = image.MachineType();
    for (char& c : type) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || u < 0x20 || u == 0x7F)
            c = '_';
    }
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "_%d_%d_%d_%d", image.VariantCode(),
                  image.Transmission(), (image.MaxTorque() / 100) % 256, image.AngleHead());
    return type + numbers;
}

std::string ConfigFileName(const ParameterBlock& image) {
    return MachineFileBaseName(image) + ".bin";
}

std::string FactoryFileName(const ParameterBlock& machine) {
    return MachineFileBaseName(machine) + "_factory.bin";
}

bool FactoryIdentityMatches(const ParameterBlock& factory, const ParameterBlock& machine) {
    return factory.VariantCode() == machine.VariantCode() &&
           factory.Transmission() == machine.Transmission() &&
           factory.AngleHead() == machine.AngleHead() &&
           factory.ParameterisationAllowed() == machine.ParameterisationAllowed();
}

namespace {
void CopyRange(ParameterBlock& to, const ParameterBlock& from, size_t offset, size_t length) {
    std::copy_n(from.bytes.begin() + offset, length, to.bytes.begin() + offset);
}
void ClearRange(ParameterBlock& block, size_t offset, size_t length) {
    std::fill_n(block.bytes.begin() + offset, length, uint8_t{0});
}
} // namespace

void TakeMachineFields(ParameterBlock& factory, const ParameterBlock& machine) {
    using PB = ParameterBlock;
    CopyRange(factory, machine, PB::kOffElAssembly, PB::kLenElAssembly);
    CopyRange(factory, machine, PB::kOffSerialNr, PB::kLenSerialNr);
    CopyRange(factory, machine, PB::kOffSwVersion, PB::kLenSwVersion);
    CopyRange(factory, machine, PB::kOffMachineTail, PB::kLenMachineTail);
    factory.SetClutchLimitFlags(machine.ClutchLimitFlags() & 0x02);
}

ParameterBlock MakeFactoryImage(const ParameterBlock& source) {
    using PB = ParameterBlock;
    ParameterBlock factory = source;
    factory.SetWriteMark(0);
    ClearRange(factory, PB::kOffElAssembly, PB::kLenElAssembly);
    ClearRange(factory, PB::kOffSerialNr, PB::kLenSerialNr);
    ClearRange(factory, PB::kOffMachineTail, PB::kLenMachineTail);
    return factory;
}
