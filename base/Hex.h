// Hexadecimal digits as the hex files, traces and loader frames carry them.
#pragma once

// One hexadecimal digit's value (either letter case); -1 for anything else, end of file
// (EOF) and characters beyond ASCII included.
int HexDigit(int c);

// The upper-case digit of the low four bits of v.
char HexChar(unsigned v);
