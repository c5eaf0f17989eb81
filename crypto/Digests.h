// Digests built on the file key: the sealed digest carried by configuration and firmware
// files, the machine password digest, and enciphering with the file key.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

class CRijndael;

using SealedDigest = std::array<uint8_t, 48>;
using PasswordDigestBytes = std::array<uint8_t, 8>;

// Filler bytes after the digest text: configuration and factory files, firmware files.
constexpr uint8_t kConfigSealFiller = 0xCC;
constexpr uint8_t kFirmwareSealFiller = 0x00;

// The text form of the SHA-1 digest of the data, one zero byte and filler up to 48 bytes,
// enciphered as one message with the file key (AES-256-CBC from the fixed initial vector).
SealedDigest SealDigest(const void* data, size_t length, uint8_t filler);

// True when the 48 stored bytes equal the sealed digest of the data.
bool SealMatches(const void* data, size_t length, uint8_t filler, const uint8_t* stored);

// The 8-byte digest of a machine password (first eight characters, low byte of each UTF-16
// code unit). The UTF-8 form is decoded to UTF-16 first; malformed sequences count as U+FFFD.
PasswordDigestBytes PasswordDigest(std::u16string_view password);
PasswordDigestBytes PasswordDigest(std::string_view utf8Password);

// Sets up the cipher with the file key, the fixed initial vector, key length 32, block 16.
void InitFileCipher(CRijndael& cipher);

// AES-256-CBC of one message with the file key, in place; the length must be a non-zero
// multiple of 16 (CRijndael::Error otherwise).
void EncipherWithFileKey(uint8_t* data, size_t length);
void DecipherWithFileKey(uint8_t* data, size_t length);
