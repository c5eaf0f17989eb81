// The program's fixed file key and the machine password digest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

class cPassword {
public:
    static constexpr size_t kFileKeyLength = 32;       // AES-256 key
    static constexpr size_t kFileKeyTextLength = 13;   // the key text; the rest of the key is 0
    static constexpr size_t kInitialVectorLength = 16; // one AES block
    static constexpr size_t kDigestLength = 8;

    // Zero-fills the buffer, then writes the 13-byte file key text (as much as fits) at its
    // start: with a 32-byte buffer, 13 key bytes followed by 19 zero bytes.
    void GetFileKey(uint8_t* out, size_t length) const;

    // The fixed initial vector used with the file key for every message.
    static const uint8_t* InitialVector();

    // Writes min(8, outLength) bytes of the digest of the password. Only the first eight
    // characters and the low byte of each UTF-16 code unit count. Returns 0.
    int PasswordDigest(std::u16string_view password, uint8_t* out, size_t outLength) const;
};
