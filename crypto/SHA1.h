// SHA-1 message digest (FIPS 180-1). A digest is five 32-bit words H0..H4.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class SHA1 {
public:
    using Digest = std::array<uint32_t, 5>;

    SHA1() { Reset(); }

    // Back to the initial state; the object can digest a new message.
    void Reset();

    // Adds bytes to the message. After the digest was computed (or once the message grew past
    // 2^64 bits) the object is corrupted and the bytes are ignored.
    void AddBytes(const void* data, size_t count);
    void Update(const void* data, size_t count) { AddBytes(data, count); }

    // Pads and finishes the message once; later calls give the same digest. False if corrupted.
    bool GetDigest(uint32_t out[5]);

    // As GetDigest; throws std::logic_error on a corrupted object, which only misuse can cause.
    Digest Final();

    bool Corrupted() const { return corrupted_; }

    // One-shot helpers.
    static Digest Compute(const void* data, size_t count);
    static Digest Compute(const std::string& text) { return Compute(text.data(), text.size()); }
    // "%08X%08X%08X%08X%08X" of H0..H4: 40 upper-case hex digits.
    static std::string ToText(const Digest& digest);
    static std::string HexDigest(const void* data, size_t count) {
        return ToText(Compute(data, count));
    }
    // The 20 digest bytes in the usual order (H0 big-endian first).
    static std::array<uint8_t, 20> ToBytes(const Digest& digest);

private:
    void ProcessBlock(const uint8_t* block);

    uint32_t h_[5];
    uint32_t lengthLow_;  // message length in bits, low half
    uint32_t lengthHigh_; // high half
    uint8_t block_[64];
    size_t blockIndex_;
    bool computed_;
    bool corrupted_;
};
