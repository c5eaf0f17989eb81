// Names and rules of configuration and factory settings files that depend on the machine's
// identity: the proposed file names, the identity check of a factory file and the fields a
// restore keeps from the machine.
#pragma once

#include "model/ParameterBlock.h"

#include <string>

// "%s_%d_%d_%d_%d": the machineType text (up to its first byte 0, trailing blanks kept),
// variantCode, transmission, maxTorque in whole Nm modulo 256, angleHead. Characters that
// cannot stand in a file name ('/', control characters) become '_'.
std::string MachineFileBaseName(const ParameterBlock& image);
// MachineFileBaseName + ".bin": the name "Speichern" proposes.
std::string ConfigFileName(const ParameterBlock& image);
// MachineFileBaseName + "_factory.bin": the factory file of a machine.
std::string FactoryFileName(const ParameterBlock& machine);

// A factory file belongs to the machine when variantCode, transmission, angleHead and bit 0 of
// machineFlags agree.
bool FactoryIdentityMatches(const ParameterBlock& factory, const ParameterBlock& machine);

// What a restore keeps of the machine: elAssembly, serialNr, swVersion, machineTail, and bit 1
// of clutchLimitFlags (every other bit of that byte cleared).
void TakeMachineFields(ParameterBlock& factory, const ParameterBlock& machine);

// A factory image made from a machine's image: writeMark 0, and the fields a restore takes from
// the machine (elAssembly, serialNr, machineTail) cleared, so the file carries no one machine.
ParameterBlock MakeFactoryImage(const ParameterBlock& source);
