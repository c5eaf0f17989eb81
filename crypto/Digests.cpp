#include "crypto/Digests.h"

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

namespace {

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    size_t i = 0;
    while (i < s.size()) {
        const uint8_t c = static_cast<uint8_t>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        size_t need = 0;
        uint32_t min = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            need = 1;
            cp = c & 0x1F;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            need = 2;
            cp = c & 0x0F;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            need = 3;
            cp = c & 0x07;
            min = 0x10000;
        }
        if (need > 0) {
            bool ok = i + need < s.size();
            for (size_t k = 1; ok && k <= need; ++k) {
                const uint8_t cc = static_cast<uint8_t>(s[i + k]);
                if ((cc & 0xC0) != 0x80) {
                    ok = false;
                } else {
                    cp = (cp << 6) | (cc & 0x3F);
                }
            }
            if (ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
                len = need + 1;
            } else {
                cp = 0xFFFD;
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

} // namespace

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
