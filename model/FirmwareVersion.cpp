#include "model/FirmwareVersion.h"

#include <cctype>

namespace {

struct Piece {
    int value = 0;
    bool digits = true;
};

// atoi on characters [first, first + count) of swVersion, ended early by a zero byte.
Piece ReadPiece(const ParameterBlock& block, size_t first, size_t count) {
    const uint8_t* text = block.bytes.data() + ParameterBlock::kOffSwVersion + first;
    Piece p;
    for (size_t i = 0; i < count; ++i)
        p.digits = p.digits && std::isdigit(text[i]);
    size_t end = 0;
    while (end < count && text[end] != 0)
        ++end;
    size_t i = 0;
    while (i < end && std::isspace(text[i]))
        ++i;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    for (; i < end && std::isdigit(text[i]); ++i)
        p.value = p.value * 10 + (text[i] - '0');
    if (negative)
        p.value = -p.value;
    return p;
}

} // namespace

FirmwareVersion FirmwareVersionOf(const ParameterBlock& block) {
    const Piece major = ReadPiece(block, 1, 2), minor = ReadPiece(block, 4, 2),
                third = ReadPiece(block, 7, 3);
    FirmwareVersion v;
    v.major = major.value;
    v.minor = minor.value;
    v.third = third.value;
    v.majorDigits = major.digits;
    v.allDigits = major.digits && minor.digits && third.digits;
    return v;
}
