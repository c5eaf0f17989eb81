#include "crypto/Digests.h"

#include "base/TextCodec.h"
#include "crypto/Password.h"
#include "crypto/Rijndael.h"
#include "crypto/SHA1.h"

#include <cstring>
#include <string>

void InitFileCipher(CRijndael& cipher) {
    uint8_t key[cPassword::kFileKeyLength];
    cPassword().GetFileKey(key, sizeof key);
    cipher.InitKey(key, cPassword::InitialVector(), static_cast<int>(sizeof key), 16);
    std::memset(key, 0, sizeof key);
}

SealedDigest SealDigest(const void* data, size_t length, uint8_t filler) {
    SealedDigest block;
    block.fill(filler);
    const std::string text = SHA1::ToText(SHA1::Compute(data, length));
    std::memcpy(block.data(), text.data(), 40);
    block[40] = 0;
    CRijndael aes;
    InitFileCipher(aes);
    aes.EncryptBuffer(block.data(), block.data(), block.size(), CRijndael::CBC);
    return block;
}

bool SealMatches(const void* data, size_t length, uint8_t filler, const uint8_t* stored) {
    const SealedDigest d = SealDigest(data, length, filler);
    uint8_t diff = 0;
    for (size_t i = 0; i < d.size(); ++i) {
        diff |= static_cast<uint8_t>(d[i] ^ stored[i]);
    }
    return diff == 0;
}

PasswordDigestBytes PasswordDigest(std::u16string_view password) {
    PasswordDigestBytes d{};
    cPassword().PasswordDigest(password, d.data(), d.size());
    return d;
}

PasswordDigestBytes PasswordDigest(std::string_view utf8Password) {
    return PasswordDigest(Utf8ToUtf16(utf8Password));
}

void EncipherWithFileKey(uint8_t* data, size_t length) {
    CRijndael aes;
    InitFileCipher(aes);
    aes.EncryptBuffer(data, data, length, CRijndael::CBC);
}

void DecipherWithFileKey(uint8_t* data, size_t length) {
    CRijndael aes;
    InitFileCipher(aes);
    aes.DecryptBuffer(data, data, length, CRijndael::CBC);
}
