// Rijndael block cipher (AES, FIPS 197) with key lengths and block sizes of 16, 24 or 32 bytes,
// and the chaining modes ECB, CBC and CFB (full-block feedback).
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

class CRijndael {
public:
    // Raised on misuse only; what() is the message ("Empty key", "Incorrect key length", ...).
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    enum Mode { ECB = 0, CBC = 1, CFB = 2 };

    CRijndael() = default;
    ~CRijndael();

    // Expands the key for both directions and sets the initial and current chain block to the
    // initial vector (blockSize bytes; a null vector means zeros).
    void InitKey(const uint8_t* key, const uint8_t* initialVector, int keyLength, int blockSize);

    // One block of the configured size; in and out may be the same buffer.
    void EncryptOneBlock(const uint8_t* in, uint8_t* out) const;
    void DecryptOneBlock(const uint8_t* in, uint8_t* out) const;

    // length must be a non-zero multiple of the block size; in and out may be the same buffer.
    // The current chain block carries over from one call to the next.
    void EncryptBuffer(const uint8_t* in, uint8_t* out, size_t length, int mode = ECB);
    void DecryptBuffer(const uint8_t* in, uint8_t* out, size_t length, int mode = ECB);

    // Back to the initial vector without expanding the key again.
    void ResetChain();

    int KeyLength() const { return keyLength_; }
    int BlockSize() const { return blockSize_; }
    int Rounds() const { return rounds_; }

private:
    void RequireInitialised() const;
    void CheckLength(size_t length) const;

    static constexpr int kMaxRounds = 14;
    static constexpr int kMaxColumns = 8;

    bool initialised_ = false;
    int keyLength_ = 0;
    int blockSize_ = 0;
    int columns_ = 0; // block size in 32-bit words
    int rounds_ = 0;
    uint32_t encKey_[(kMaxRounds + 1) * kMaxColumns] = {};
    uint32_t decKey_[(kMaxRounds + 1) * kMaxColumns] = {};
    uint8_t initialChain_[32] = {};
    uint8_t chain_[32] = {};
};
