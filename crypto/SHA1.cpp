#include "crypto/SHA1.h"

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
    // Bit length: add count * 8, carrying into the high half; past 2^64 bits it is corrupt.
    const uint64_t length = (static_cast<uint64_t>(lengthHigh_) << 32) | lengthLow_;
    const uint64_t bytesLeft = (~length >> 3); // bytes that still fit
    if (static_cast<uint64_t>(count) > bytesLeft) {
        corrupted_ = true;
        return;
    }
    const uint64_t newLength = length + static_cast<uint64_t>(count) * 8u;
    lengthLow_ = static_cast<uint32_t>(newLength);
    lengthHigh_ = static_cast<uint32_t>(newLength >> 32);

    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (blockIndex_ > 0) {
        size_t take = 64 - blockIndex_;
        if (take > count) {
            take = count;
        }
        std::memcpy(block_ + blockIndex_, p, take);
        blockIndex_ += take;
        p += take;
        count -= take;
        if (blockIndex_ < 64) {
            return;
        }
        ProcessBlock(block_);
        blockIndex_ = 0;
    }
    // Whole blocks straight from the caller's bytes.
    for (; count >= 64; count -= 64, p += 64) {
        ProcessBlock(p);
    }
    std::memcpy(block_, p, count);
    blockIndex_ = count;
}

void SHA1::ProcessBlock(const uint8_t* block) {
    uint32_t w[16];
    for (int t = 0; t < 16; ++t) {
        w[t] = static_cast<uint32_t>(block[t * 4]) << 24 |
               static_cast<uint32_t>(block[t * 4 + 1]) << 16 |
               static_cast<uint32_t>(block[t * 4 + 2]) << 8 |
               static_cast<uint32_t>(block[t * 4 + 3]);
    }
    uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
    // The message schedule kept as a ring of 16 words.
    auto schedule = [&w](int t) {
        if (t >= 16) {
            w[t & 15] = Rotl(w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ w[t & 15], 1);
        }
        return w[t & 15];
    };
    auto step = [&](uint32_t f, uint32_t k, uint32_t wt) {
        const uint32_t temp = Rotl(a, 5) + f + e + wt + k;
        e = d;
        d = c;
        c = Rotl(b, 30);
        b = a;
        a = temp;
    };
    for (int t = 0; t < 20; ++t) {
        step((b & c) | (~b & d), 0x5A827999u, schedule(t));
    }
    for (int t = 20; t < 40; ++t) {
        step(b ^ c ^ d, 0x6ED9EBA1u, schedule(t));
    }
    for (int t = 40; t < 60; ++t) {
        step((b & c) | (b & d) | (c & d), 0x8F1BBCDCu, schedule(t));
    }
    for (int t = 60; t < 80; ++t) {
        step(b ^ c ^ d, 0xCA62C1D6u, schedule(t));
    }
    h_[0] += a;
    h_[1] += b;
    h_[2] += c;
    h_[3] += d;
    h_[4] += e;
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
            ProcessBlock(block_);
            blockIndex_ = 0;
        }
        std::memset(block_ + blockIndex_, 0, 56 - blockIndex_);
        for (int i = 0; i < 4; ++i) {
            block_[56 + i] = static_cast<uint8_t>(lengthHigh_ >> (24 - 8 * i));
            block_[60 + i] = static_cast<uint8_t>(lengthLow_ >> (24 - 8 * i));
        }
        ProcessBlock(block_);
        blockIndex_ = 0;
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
