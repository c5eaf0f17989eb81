// The firmware version a parameter image names in swVersion ("V04.02.005"): characters 1-2
// major, 4-5 minor, 7-9 third. Character 0 and the separators are never read.
#pragma once

#include "model/ParameterBlock.h"

#include <tuple>

struct FirmwareVersion {
    // Each number as the machine's checks have always read it: blanks, a sign, then digits up
    // to the first other character, 0 when there are none. A zero byte ends only the number it
    // falls into.
    int major = 0;
    int minor = 0;
    int third = 0;
    // Characters 1 and 2 are decimal digits: without them the block area holds no usable image.
    bool majorDigits = false;
    // Every character of the three numbers is a decimal digit: a version worth showing.
    bool allDigits = false;

    // Whole versions compare: the third number has three digits, so minor * 100 + third would
    // put 4.01.150 above 4.02.000.
    auto Key() const { return std::tie(major, minor, third); }
    bool operator<(const FirmwareVersion& o) const { return Key() < o.Key(); }
};

FirmwareVersion FirmwareVersionOf(const ParameterBlock& block);
