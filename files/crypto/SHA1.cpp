#include "files/crypto/SHA1.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

inline uint32_t Rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

} // namespace

void SHA1::Reset() {
    h_[0] = 0x67452301u;
    h_[1] = 0xEFCDAB89u;
    h_[2] = 0x98BADCFEu;
    h_[3] = 0x10325476u;
    h_[4] = 0xC3D2E1F0u;
    lengthLow_ = 0;
    lengthHigh_ = 0;
    std::memset(block_, 0, sizeof block_);
    blockIndex_ = 0;
    computed_ = false;
    corrupted_ = false;
}

void SHA1::AddBytes(const void* data, size_t count) {
    if (count == 0) {
        return;
    }
    if (computed_ || corrupted_) {
        corrupted_ = true;
        return;
    }
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (count > 0) {
        // Fill the block buffer as far as possible in one go.
        size_t take = 64 - blockIndex_;
        if (take > count) {
            take = count;
        }
        // Bit length: add take * 8, carrying into the high half; past 2^64 bits it is corrupt.
        const uint64_t bits = static_cast<uint64_t>(take) * 8u;
        const uint64_t low = static_cast<uint64_t>(lengthLow_) + (bits & 0xFFFFFFFFu);
        const uint64_t high = static_cast<uint64_t>(lengthHigh_) + (bits >> 32) + (low >> 32);
        if (high > 0xFFFFFFFFu) {
            corrupted_ = true;
            return;
        }
        lengthLow_ = static_cast<uint32_t>(low);
        lengthHigh_ = static_cast<uint32_t>(high);

        std::memcpy(block_ + blockIndex_, p, take);
        blockIndex_ += take;
        p += take;
        count -= take;
        if (blockIndex_ == 64) {
            ProcessBlock();
        }
    }
}

void SHA1::ProcessBlock() {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) {
        w[t] = static_cast<uint32_t>(block_[t * 4]) << 24 |
               static_cast<uint32_t>(block_[t * 4 + 1]) << 16 |
               static_cast<uint32_t>(block_[t * 4 + 2]) << 8 |
               static_cast<uint32_t>(block_[t * 4 + 3]);
    }
    for (int t = 16; t < 80; ++t) {
        w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    }
    uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        const uint32_t temp = Rotl(a, 5) + f + e + w[t] + k;
        e = d;
        d = c;
        c = Rotl(b, 30);
        b = a;
        a = temp;
    }
    h_[0] += a;
    h_[1] += b;
    h_[2] += c;
    h_[3] += d;
    h_[4] += e;
    blockIndex_ = 0;
}

bool SHA1::GetDigest(uint32_t out[5]) {
    if (corrupted_) {
        return false;
    }
    if (!computed_) {
        // Padding: one 1 bit, zeros, then the 64-bit big-endian bit length.
        block_[blockIndex_++] = 0x80;
        if (blockIndex_ > 56) {
            std::memset(block_ + blockIndex_, 0, 64 - blockIndex_);
            ProcessBlock();
        }
        std::memset(block_ + blockIndex_, 0, 56 - blockIndex_);
        for (int i = 0; i < 4; ++i) {
            block_[56 + i] = static_cast<uint8_t>(lengthHigh_ >> (24 - 8 * i));
            block_[60 + i] = static_cast<uint8_t>(lengthLow_ >> (24 - 8 * i));
        }
        ProcessBlock();
        std::memset(block_, 0, sizeof block_);
        computed_ = true;
    }
    for (int i = 0; i < 5; ++i) {
        out[i] = h_[i];
    }
    return true;
}

SHA1::Digest SHA1::Final() {
    Digest d{};
    if (!GetDigest(d.data())) {
        throw std::logic_error("SHA1: bytes added after the digest was computed");
    }
    return d;
}

SHA1::Digest SHA1::Compute(const void* data, size_t count) {
    SHA1 sha;
    sha.AddBytes(data, count);
    return sha.Final();
}

std::string SHA1::ToText(const Digest& digest) {
    char text[41];
    std::snprintf(text, sizeof text, "%08X%08X%08X%08X%08X", static_cast<unsigned>(digest[0]),
                  static_cast<unsigned>(digest[1]), static_cast<unsigned>(digest[2]),
                  static_cast<unsigned>(digest[3]), static_cast<unsigned>(digest[4]));
    return std::string(text, 40);
}

std::array<uint8_t, 20> SHA1::ToBytes(const Digest& digest) {
    std::array<uint8_t, 20> bytes{};
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 4; ++j) {
            bytes[i * 4 + j] = static_cast<uint8_t>(digest[i] >> (24 - 8 * j));
        }
    }
    return bytes;
}
