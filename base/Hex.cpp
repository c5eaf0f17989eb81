#include "base/Hex.h"

int HexDigit(int c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char HexChar(unsigned v) {
    return "0123456789ABCDEF"[v & 0xF];
}
