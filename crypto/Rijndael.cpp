#include "crypto/Rijndael.h"

#include <array>
#include <cstring>

namespace {

constexpr uint8_t XTime(uint8_t x) {
    return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0));
}

constexpr uint8_t Mul(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    while (b) {
        if (b & 1) {
            r ^= a;
        }
        a = XTime(a);
        b >>= 1;
    }
    return r;
}

struct Tables {
    uint8_t sbox[256];
    uint8_t inv[256];
    uint32_t te[4][256]; // SubBytes + MixColumns, one table per row position
    uint32_t td[4][256]; // InvSubBytes + InvMixColumns
};

constexpr uint32_t Ror8(uint32_t x) {
    return (x >> 8) | (x << 24);
}

constexpr Tables MakeTables() {
    Tables t{};
    // S-box: multiplicative inverse in GF(2^8) (through powers of the generator 3) followed by
    // the affine map.
    uint8_t exp[256] = {};
    uint8_t log[256] = {};
    uint8_t g = 1;
    for (int i = 0; i < 255; ++i) {
        exp[i] = g;
        log[g] = static_cast<uint8_t>(i);
        g = static_cast<uint8_t>(g ^ XTime(g));
    }
    for (int x = 0; x < 256; ++x) {
        const uint8_t invx = x == 0 ? 0 : exp[(255 - log[x]) % 255];
        uint8_t s = invx;
        uint8_t r = invx;
        for (int i = 0; i < 4; ++i) {
            r = static_cast<uint8_t>((r << 1) | (r >> 7));
            s ^= r;
        }
        s ^= 0x63;
        t.sbox[x] = s;
        t.inv[s] = static_cast<uint8_t>(x);
    }
    for (int x = 0; x < 256; ++x) {
        const uint8_t s = t.sbox[x];
        const uint32_t e = static_cast<uint32_t>(Mul(s, 2)) << 24 | static_cast<uint32_t>(s) << 16 |
                           static_cast<uint32_t>(s) << 8 | Mul(s, 3);
        const uint8_t v = t.inv[x];
        const uint32_t d = static_cast<uint32_t>(Mul(v, 14)) << 24 |
                           static_cast<uint32_t>(Mul(v, 9)) << 16 |
                           static_cast<uint32_t>(Mul(v, 13)) << 8 | Mul(v, 11);
        t.te[0][x] = e;
        t.td[0][x] = d;
        for (int k = 1; k < 4; ++k) {
            t.te[k][x] = Ror8(t.te[k - 1][x]);
            t.td[k][x] = Ror8(t.td[k - 1][x]);
        }
    }
    return t;
}

constexpr Tables kT = MakeTables();

inline uint32_t Load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

inline void Store32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline uint32_t SubWord(uint32_t w) {
    return static_cast<uint32_t>(kT.sbox[w >> 24]) << 24 |
           static_cast<uint32_t>(kT.sbox[(w >> 16) & 0xFF]) << 16 |
           static_cast<uint32_t>(kT.sbox[(w >> 8) & 0xFF]) << 8 | kT.sbox[w & 0xFF];
}

inline uint32_t InvMixColumn(uint32_t w) {
    // td tables hold InvMixColumns of InvSubBytes; undo the substitution by going through sbox.
    return kT.td[0][kT.sbox[w >> 24]] ^ kT.td[1][kT.sbox[(w >> 16) & 0xFF]] ^
           kT.td[2][kT.sbox[(w >> 8) & 0xFF]] ^ kT.td[3][kT.sbox[w & 0xFF]];
}

// Row shift offsets per block size (in columns) of the Rijndael proposal.
inline void ShiftOffsets(int columns, int& c1, int& c2, int& c3) {
    c1 = 1;
    c2 = columns == 8 ? 3 : 2;
    c3 = columns == 8 ? 4 : 3;
}

inline void XorBlock(uint8_t* dst, const uint8_t* src, int n) {
    for (int i = 0; i < n; ++i) {
        dst[i] ^= src[i];
    }
}

// 16-byte blocks (AES proper), unrolled: the form every use in the program takes.
void Encrypt16(const uint32_t* rk, int rounds, const uint8_t* in, uint8_t* out) {
    uint32_t s0 = Load32(in) ^ rk[0], s1 = Load32(in + 4) ^ rk[1];
    uint32_t s2 = Load32(in + 8) ^ rk[2], s3 = Load32(in + 12) ^ rk[3];
    const auto& T = kT.te;
    for (int r = 1; r < rounds; ++r) {
        rk += 4;
        const uint32_t t0 = T[0][s0 >> 24] ^ T[1][(s1 >> 16) & 0xFF] ^ T[2][(s2 >> 8) & 0xFF] ^
                            T[3][s3 & 0xFF] ^ rk[0];
        const uint32_t t1 = T[0][s1 >> 24] ^ T[1][(s2 >> 16) & 0xFF] ^ T[2][(s3 >> 8) & 0xFF] ^
                            T[3][s0 & 0xFF] ^ rk[1];
        const uint32_t t2 = T[0][s2 >> 24] ^ T[1][(s3 >> 16) & 0xFF] ^ T[2][(s0 >> 8) & 0xFF] ^
                            T[3][s1 & 0xFF] ^ rk[2];
        const uint32_t t3 = T[0][s3 >> 24] ^ T[1][(s0 >> 16) & 0xFF] ^ T[2][(s1 >> 8) & 0xFF] ^
                            T[3][s2 & 0xFF] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const uint8_t* S = kT.sbox;
    auto last = [S](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
        return static_cast<uint32_t>(S[a >> 24]) << 24 |
               static_cast<uint32_t>(S[(b >> 16) & 0xFF]) << 16 |
               static_cast<uint32_t>(S[(c >> 8) & 0xFF]) << 8 | S[d & 0xFF];
    };
    Store32(out, last(s0, s1, s2, s3) ^ rk[0]);
    Store32(out + 4, last(s1, s2, s3, s0) ^ rk[1]);
    Store32(out + 8, last(s2, s3, s0, s1) ^ rk[2]);
    Store32(out + 12, last(s3, s0, s1, s2) ^ rk[3]);
}

void Decrypt16(const uint32_t* rk, int rounds, const uint8_t* in, uint8_t* out) {
    uint32_t s0 = Load32(in) ^ rk[0], s1 = Load32(in + 4) ^ rk[1];
    uint32_t s2 = Load32(in + 8) ^ rk[2], s3 = Load32(in + 12) ^ rk[3];
    const auto& T = kT.td;
    for (int r = 1; r < rounds; ++r) {
        rk += 4;
        const uint32_t t0 = T[0][s0 >> 24] ^ T[1][(s3 >> 16) & 0xFF] ^ T[2][(s2 >> 8) & 0xFF] ^
                            T[3][s1 & 0xFF] ^ rk[0];
        const uint32_t t1 = T[0][s1 >> 24] ^ T[1][(s0 >> 16) & 0xFF] ^ T[2][(s3 >> 8) & 0xFF] ^
                            T[3][s2 & 0xFF] ^ rk[1];
        const uint32_t t2 = T[0][s2 >> 24] ^ T[1][(s1 >> 16) & 0xFF] ^ T[2][(s0 >> 8) & 0xFF] ^
                            T[3][s3 & 0xFF] ^ rk[2];
        const uint32_t t3 = T[0][s3 >> 24] ^ T[1][(s2 >> 16) & 0xFF] ^ T[2][(s1 >> 8) & 0xFF] ^
                            T[3][s0 & 0xFF] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const uint8_t* V = kT.inv;
    auto last = [V](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
        return static_cast<uint32_t>(V[a >> 24]) << 24 |
               static_cast<uint32_t>(V[(b >> 16) & 0xFF]) << 16 |
               static_cast<uint32_t>(V[(c >> 8) & 0xFF]) << 8 | V[d & 0xFF];
    };
    Store32(out, last(s0, s3, s2, s1) ^ rk[0]);
    Store32(out + 4, last(s1, s0, s3, s2) ^ rk[1]);
    Store32(out + 8, last(s2, s1, s0, s3) ^ rk[2]);
    Store32(out + 12, last(s3, s2, s1, s0) ^ rk[3]);
}

} // namespace

CRijndael::~CRijndael() {
    // Round keys are key material; do not leave them on the stack or heap.
    volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(encKey_);
    for (size_t i = 0; i < sizeof encKey_; ++i) {
        p[i] = 0;
    }
    p = reinterpret_cast<volatile uint8_t*>(decKey_);
    for (size_t i = 0; i < sizeof decKey_; ++i) {
        p[i] = 0;
    }
}

void CRijndael::InitKey(const uint8_t* key, const uint8_t* initialVector, int keyLength,
                        int blockSize) {
    if (key == nullptr) {
        throw Error("Empty key");
    }
    if (keyLength != 16 && keyLength != 24 && keyLength != 32) {
        throw Error("Incorrect key length");
    }
    if (blockSize != 16 && blockSize != 24 && blockSize != 32) {
        throw Error("Incorrect block length");
    }
    initialised_ = false;
    keyLength_ = keyLength;
    blockSize_ = blockSize;
    columns_ = blockSize / 4;
    const int nk = keyLength / 4;
    rounds_ = (nk > columns_ ? nk : columns_) + 6;

    if (initialVector != nullptr) {
        std::memcpy(initialChain_, initialVector, static_cast<size_t>(blockSize));
    } else {
        std::memset(initialChain_, 0, sizeof initialChain_);
    }
    std::memcpy(chain_, initialChain_, sizeof chain_);

    // Key schedule (FIPS 197 section 5.2, generalised to the block size).
    const int total = columns_ * (rounds_ + 1);
    for (int i = 0; i < nk; ++i) {
        encKey_[i] = Load32(key + 4 * i);
    }
    uint8_t rcon = 1;
    for (int i = nk; i < total; ++i) {
        uint32_t temp = encKey_[i - 1];
        if (i % nk == 0) {
            temp = SubWord((temp << 8) | (temp >> 24)) ^ (static_cast<uint32_t>(rcon) << 24);
            rcon = XTime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            temp = SubWord(temp);
        }
        encKey_[i] = encKey_[i - nk] ^ temp;
    }

    // Equivalent inverse cipher: round keys in reverse order, InvMixColumns on the inner ones.
    for (int r = 0; r <= rounds_; ++r) {
        for (int c = 0; c < columns_; ++c) {
            const uint32_t w = encKey_[(rounds_ - r) * columns_ + c];
            decKey_[r * columns_ + c] = (r == 0 || r == rounds_) ? w : InvMixColumn(w);
        }
    }
    initialised_ = true;
}

void CRijndael::RequireInitialised() const {
    if (!initialised_) {
        throw Error("Object not Initialized");
    }
}

void CRijndael::CheckLength(size_t length) const {
    if (length == 0 || length % static_cast<size_t>(blockSize_) != 0) {
        throw Error("Data not multiple of Block Size");
    }
}

void CRijndael::ResetChain() {
    RequireInitialised();
    std::memcpy(chain_, initialChain_, sizeof chain_);
}

void CRijndael::EncryptOneBlock(const uint8_t* in, uint8_t* out) const {
    RequireInitialised();
    if (columns_ == 4) {
        Encrypt16(encKey_, rounds_, in, out);
        return;
    }
    const int nb = columns_;
    int c1, c2, c3;
    ShiftOffsets(nb, c1, c2, c3);
    uint32_t s[kMaxColumns], t[kMaxColumns];
    const uint32_t* rk = encKey_;
    for (int c = 0; c < nb; ++c) {
        s[c] = Load32(in + 4 * c) ^ rk[c];
    }
    for (int r = 1; r < rounds_; ++r) {
        rk += nb;
        for (int c = 0; c < nb; ++c) {
            t[c] = kT.te[0][s[c] >> 24] ^ kT.te[1][(s[(c + c1) % nb] >> 16) & 0xFF] ^
                   kT.te[2][(s[(c + c2) % nb] >> 8) & 0xFF] ^ kT.te[3][s[(c + c3) % nb] & 0xFF] ^
                   rk[c];
        }
        std::memcpy(s, t, sizeof(uint32_t) * static_cast<size_t>(nb));
    }
    rk += nb;
    for (int c = 0; c < nb; ++c) {
        const uint32_t w = static_cast<uint32_t>(kT.sbox[s[c] >> 24]) << 24 |
                           static_cast<uint32_t>(kT.sbox[(s[(c + c1) % nb] >> 16) & 0xFF]) << 16 |
                           static_cast<uint32_t>(kT.sbox[(s[(c + c2) % nb] >> 8) & 0xFF]) << 8 |
                           kT.sbox[s[(c + c3) % nb] & 0xFF];
        Store32(out + 4 * c, w ^ rk[c]);
    }
}

void CRijndael::DecryptOneBlock(const uint8_t* in, uint8_t* out) const {
    RequireInitialised();
    if (columns_ == 4) {
        Decrypt16(decKey_, rounds_, in, out);
        return;
    }
    const int nb = columns_;
    int c1, c2, c3;
    ShiftOffsets(nb, c1, c2, c3);
    // Inverse shift: row k of column c comes from column c - ck.
    const int d1 = nb - c1, d2 = nb - c2, d3 = nb - c3;
    uint32_t s[kMaxColumns], t[kMaxColumns];
    const uint32_t* rk = decKey_;
    for (int c = 0; c < nb; ++c) {
        s[c] = Load32(in + 4 * c) ^ rk[c];
    }
    for (int r = 1; r < rounds_; ++r) {
        rk += nb;
        for (int c = 0; c < nb; ++c) {
            t[c] = kT.td[0][s[c] >> 24] ^ kT.td[1][(s[(c + d1) % nb] >> 16) & 0xFF] ^
                   kT.td[2][(s[(c + d2) % nb] >> 8) & 0xFF] ^ kT.td[3][s[(c + d3) % nb] & 0xFF] ^
                   rk[c];
        }
        std::memcpy(s, t, sizeof(uint32_t) * static_cast<size_t>(nb));
    }
    rk += nb;
    for (int c = 0; c < nb; ++c) {
        const uint32_t w = static_cast<uint32_t>(kT.inv[s[c] >> 24]) << 24 |
                           static_cast<uint32_t>(kT.inv[(s[(c + d1) % nb] >> 16) & 0xFF]) << 16 |
                           static_cast<uint32_t>(kT.inv[(s[(c + d2) % nb] >> 8) & 0xFF]) << 8 |
                           kT.inv[s[(c + d3) % nb] & 0xFF];
        Store32(out + 4 * c, w ^ rk[c]);
    }
}

void CRijndael::EncryptBuffer(const uint8_t* in, uint8_t* out, size_t length, int mode) {
    RequireInitialised();
    CheckLength(length);
    if (mode != ECB && mode != CBC && mode != CFB) {
        throw Error("Incorrect mode");
    }
    const size_t bs = static_cast<size_t>(blockSize_);
    uint8_t block[32];
    for (size_t off = 0; off < length; off += bs) {
        const uint8_t* src = in + off;
        uint8_t* dst = out + off;
        switch (mode) {
        case ECB:
            EncryptOneBlock(src, dst);
            break;
        case CBC:
            XorBlock(chain_, src, blockSize_);
            EncryptOneBlock(chain_, chain_);
            std::memcpy(dst, chain_, bs);
            break;
        case CFB:
            EncryptOneBlock(chain_, block);
            XorBlock(block, src, blockSize_);
            std::memcpy(dst, block, bs);
            std::memcpy(chain_, block, bs);
            break;
        }
    }
}

void CRijndael::DecryptBuffer(const uint8_t* in, uint8_t* out, size_t length, int mode) {
    RequireInitialised();
    CheckLength(length);
    if (mode != ECB && mode != CBC && mode != CFB) {
        throw Error("Incorrect mode");
    }
    const size_t bs = static_cast<size_t>(blockSize_);
    uint8_t block[32];
    uint8_t cipher[32];
    for (size_t off = 0; off < length; off += bs) {
        const uint8_t* src = in + off;
        uint8_t* dst = out + off;
        switch (mode) {
        case ECB:
            DecryptOneBlock(src, dst);
            break;
        case CBC:
            std::memcpy(cipher, src, bs); // src may be dst
            DecryptOneBlock(cipher, block);
            XorBlock(block, chain_, blockSize_);
            std::memcpy(dst, block, bs);
            std::memcpy(chain_, cipher, bs);
            break;
        case CFB:
            std::memcpy(cipher, src, bs);
            EncryptOneBlock(chain_, block);
            XorBlock(block, cipher, blockSize_);
            std::memcpy(dst, block, bs);
            std::memcpy(chain_, cipher, bs);
            break;
        }
    }
}
