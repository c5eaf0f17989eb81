#include "crypto/Password.h"

#include "crypto/Rijndael.h"

#include <cstring>

namespace {

// The file key text, stored masked so it does not stand in the binary as one readable run;
// assembled byte by byte when needed. The AES-256 key is these 13 bytes and 19 zero bytes.
constexpr uint8_t kMask = 0x5A;
constexpr uint8_t kMaskedKey[cPassword::kFileKeyTextLength] = {
    'k' ^ kMask, 'V' ^ kMask, '7' ^ kMask, '!' ^ kMask, 't' ^ kMask, 'Q' ^ kMask, 'z' ^ kMask,
    '#' ^ kMask, 'R' ^ kMask, '2' ^ kMask, 'm' ^ kMask, 'w' ^ kMask, '9' ^ kMask};

constexpr uint8_t kInitialVector[cPassword::kInitialVectorLength] = {
    0xa9, 0x72, 0x8f, 0x2e, 0x9a, 0xc9, 0x8d, 0x04, 0x36, 0x11, 0xd2, 0xf6, 0xed, 0x17, 0x8b, 0xde};

} // namespace

void cPassword::GetFileKey(uint8_t* out, size_t length) const {
    if (out == nullptr || length == 0) {
        return;
    }
    std::memset(out, 0, length);
    const size_t n = length < kFileKeyTextLength ? length : kFileKeyTextLength;
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<uint8_t>(kMaskedKey[i] ^ kMask);
    }
}

const uint8_t* cPassword::InitialVector() {
    return kInitialVector;
}

int cPassword::PasswordDigest(std::u16string_view password, uint8_t* out, size_t outLength) const {
    uint8_t key[kFileKeyLength];
    GetFileKey(key, sizeof key);
    CRijndael aes;
    aes.InitKey(key, kInitialVector, static_cast<int>(kFileKeyLength), 16);
    std::memset(key, 0, sizeof key);

    uint8_t plain[16] = {};
    for (size_t i = 0; i < password.size() && i < 8; ++i) {
        plain[i] = static_cast<uint8_t>(password[i] & 0xFF);
    }
    uint8_t cipher[16];
    aes.EncryptBuffer(plain, cipher, sizeof plain, CRijndael::CBC);

    const size_t n = outLength < kDigestLength ? outLength : kDigestLength;
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<uint8_t>(cipher[i] + cipher[i + 8]);
    }
    return 0;
}
