// Hexadecimal digits as the hex files, traces and loader frames carry them.
#pragma once

// One hexadecimal digit's value (either letter case); -1 for anything else, end of file
// (EOF) and characters beyond ASCII included.
int HexDigit(int c);

// The upper-case digit of the low four bits of v.
char HexChar(unsigned v);

#include <cstddef>
#include <cstdint>
#include <string>

// Two digits a byte, the bytes one space apart when spaced ("1F A0"), else together.
std::string HexBytes(const uint8_t* p, size_t n, bool spaced, bool upperCase = true);
