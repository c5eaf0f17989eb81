#include "crypto/Rijndael.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string ToHex(const uint8_t* p, size_t n) {
    std::string s;
    char buf[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", p[i]);
        s += buf;
    }
    return s;
}

Bytes Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) {
        x = static_cast<uint8_t>(rng());
    }
    return b;
}

// Textbook Rijndael, byte by byte from the definitions, to check the table-driven cipher at
// the block sizes no published AES vector covers.
class ReferenceRijndael {
public:
    ReferenceRijndael(const Bytes& key, int blockSize) : nb_(blockSize / 4) {
        for (int x = 0; x < 256; ++x) {
            uint8_t inv = 0;
            for (int y = 1; y < 256 && x; ++y) {
                if (Mul(static_cast<uint8_t>(x), static_cast<uint8_t>(y)) == 1) {
                    inv = static_cast<uint8_t>(y);
                }
            }
            uint8_t s = 0x63;
            for (int bit = 0; bit < 8; ++bit) {
                const int v = ((inv >> bit) ^ (inv >> ((bit + 4) % 8)) ^ (inv >> ((bit + 5) % 8)) ^
                               (inv >> ((bit + 6) % 8)) ^ (inv >> ((bit + 7) % 8))) &
                              1;
                s ^= static_cast<uint8_t>(v << bit);
            }
            sbox_[x] = s;
        }
        const int nk = static_cast<int>(key.size()) / 4;
        nr_ = std::max(nk, nb_) + 6;
        w_.assign(static_cast<size_t>(4 * nb_ * (nr_ + 1)), 0);
        std::copy(key.begin(), key.end(), w_.begin());
        uint8_t rcon = 1;
        for (int i = nk; i < nb_ * (nr_ + 1); ++i) {
            uint8_t t[4];
            std::memcpy(t, &w_[static_cast<size_t>(4 * (i - 1))], 4);
            if (i % nk == 0) {
                const uint8_t t0 = t[0];
                t[0] = static_cast<uint8_t>(sbox_[t[1]] ^ rcon);
                t[1] = sbox_[t[2]];
                t[2] = sbox_[t[3]];
                t[3] = sbox_[t0];
                rcon = Mul(rcon, 2);
            } else if (nk > 6 && i % nk == 4) {
                for (auto& b : t) {
                    b = sbox_[b];
                }
            }
            for (int j = 0; j < 4; ++j) {
                w_[static_cast<size_t>(4 * i + j)] =
                    w_[static_cast<size_t>(4 * (i - nk) + j)] ^ t[j];
            }
        }
    }

    Bytes Encrypt(const Bytes& in) const {
        Bytes s = in; // s[4*c + r]
        AddRoundKey(s, 0);
        for (int round = 1; round <= nr_; ++round) {
            for (auto& b : s) {
                b = sbox_[b];
            }
            const int shift[4] = {0, 1, nb_ == 8 ? 3 : 2, nb_ == 8 ? 4 : 3};
            Bytes t = s;
            for (int r = 1; r < 4; ++r) {
                for (int c = 0; c < nb_; ++c) {
                    t[static_cast<size_t>(4 * c + r)] =
                        s[static_cast<size_t>(4 * ((c + shift[r]) % nb_) + r)];
                }
            }
            s = t;
            if (round != nr_) {
                for (int c = 0; c < nb_; ++c) {
                    uint8_t* a = &s[static_cast<size_t>(4 * c)];
                    const uint8_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
                    a[0] = Mul(a0, 2) ^ Mul(a1, 3) ^ a2 ^ a3;
                    a[1] = a0 ^ Mul(a1, 2) ^ Mul(a2, 3) ^ a3;
                    a[2] = a0 ^ a1 ^ Mul(a2, 2) ^ Mul(a3, 3);
                    a[3] = Mul(a0, 3) ^ a1 ^ a2 ^ Mul(a3, 2);
                }
            }
            AddRoundKey(s, round);
        }
        return s;
    }

private:
    static uint8_t Mul(uint8_t a, uint8_t b) {
        uint8_t r = 0;
        for (; b; b >>= 1) {
            if (b & 1) {
                r ^= a;
            }
            a = static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0));
        }
        return r;
    }
    void AddRoundKey(Bytes& s, int round) const {
        for (size_t i = 0; i < s.size(); ++i) {
            s[i] ^= w_[static_cast<size_t>(4 * nb_ * round) + i];
        }
    }
    int nb_;
    int nr_ = 0;
    uint8_t sbox_[256];
    Bytes w_;
};

struct Fips197 {
    const char* key;
    const char* plain;
    const char* cipher;
};

const Fips197 kFips197[] = {
    // Appendix B and C.1-C.3.
    {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
};

TEST(RijndaelTest, Fips197KnownAnswers) {
    for (const Fips197& v : kFips197) {
        const Bytes key = FromHex(v.key), plain = FromHex(v.plain);
        CRijndael aes;
        aes.InitKey(key.data(), nullptr, static_cast<int>(key.size()), 16);
        uint8_t out[16], back[16];
        aes.EncryptOneBlock(plain.data(), out);
        EXPECT_EQ(ToHex(out, 16), v.cipher) << v.key;
        aes.DecryptOneBlock(out, back);
        EXPECT_EQ(ToHex(back, 16), v.plain) << v.key;
    }
}

TEST(RijndaelTest, RoundsFollowKeyAndBlockSize) {
    const Bytes key(32, 1);
    const int expected[3][3] = {{10, 12, 14}, {12, 12, 14}, {14, 14, 14}};
    for (int k = 0; k < 3; ++k) {
        for (int b = 0; b < 3; ++b) {
            CRijndael c;
            c.InitKey(key.data(), nullptr, 16 + 8 * k, 16 + 8 * b);
            EXPECT_EQ(c.Rounds(), expected[k][b]) << k << b;
        }
    }
}

TEST(RijndaelTest, AllKeyAndBlockSizesMatchReferenceAndRoundTrip) {
    uint32_t seed = 1;
    for (int keyLen : {16, 24, 32}) {
        for (int blockSize : {16, 24, 32}) {
            const Bytes key = Random(static_cast<size_t>(keyLen), seed++);
            const ReferenceRijndael ref(key, blockSize);
            CRijndael c;
            c.InitKey(key.data(), nullptr, keyLen, blockSize);
            for (int n = 0; n < 4; ++n) {
                const Bytes plain = Random(static_cast<size_t>(blockSize), seed++);
                Bytes out(plain.size()), back(plain.size());
                c.EncryptOneBlock(plain.data(), out.data());
                EXPECT_EQ(out, ref.Encrypt(plain)) << keyLen << "/" << blockSize;
                c.DecryptOneBlock(out.data(), back.data());
                EXPECT_EQ(back, plain) << keyLen << "/" << blockSize;
            }
        }
    }
}

TEST(RijndaelTest, ChainModesFollowTheirDefinitions) {
    // Every mode at every block size, checked against ECB single blocks and reversed in place.
    for (int blockSize : {16, 24, 32}) {
        const size_t bs = static_cast<size_t>(blockSize);
        const Bytes key = Random(32, 7), iv = Random(bs, 8), plain = Random(bs * 5, 9);
        CRijndael ecb;
        ecb.InitKey(key.data(), iv.data(), 32, blockSize);

        for (int mode : {CRijndael::ECB, CRijndael::CBC, CRijndael::CFB}) {
            Bytes expected(plain.size());
            Bytes chain = iv;
            for (size_t off = 0; off < plain.size(); off += bs) {
                Bytes block(plain.begin() + static_cast<long>(off),
                            plain.begin() + static_cast<long>(off + bs));
                Bytes out(bs);
                if (mode == CRijndael::ECB) {
                    ecb.EncryptOneBlock(block.data(), out.data());
                } else if (mode == CRijndael::CBC) {
                    for (size_t i = 0; i < bs; ++i) {
                        chain[i] ^= block[i];
                    }
                    ecb.EncryptOneBlock(chain.data(), out.data());
                    chain = out;
                } else {
                    ecb.EncryptOneBlock(chain.data(), out.data());
                    for (size_t i = 0; i < bs; ++i) {
                        out[i] ^= block[i];
                    }
                    chain = out;
                }
                std::copy(out.begin(), out.end(), expected.begin() + static_cast<long>(off));
            }
            CRijndael enc, dec;
            enc.InitKey(key.data(), iv.data(), 32, blockSize);
            dec.InitKey(key.data(), iv.data(), 32, blockSize);
            Bytes buf = plain;
            enc.EncryptBuffer(buf.data(), buf.data(), buf.size(), mode);
            EXPECT_EQ(buf, expected) << "mode " << mode << " block " << blockSize;
            dec.DecryptBuffer(buf.data(), buf.data(), buf.size(), mode);
            EXPECT_EQ(buf, plain) << "mode " << mode << " block " << blockSize;
        }
    }
}

TEST(RijndaelTest, ChainCarriesOverBetweenCallsUntilInitKey) {
    const Bytes key = Random(32, 1), iv = Random(16, 2), plain = Random(48, 3);
    CRijndael c;
    c.InitKey(key.data(), iv.data(), 32, 16);
    Bytes first(48), second(48), whole(96), split(96);
    c.EncryptBuffer(plain.data(), first.data(), 48, CRijndael::CBC);
    c.EncryptBuffer(plain.data(), second.data(), 48, CRijndael::CBC);
    EXPECT_NE(first, second);

    // Two calls equal one call over the joined data.
    Bytes joined = plain;
    joined.insert(joined.end(), plain.begin(), plain.end());
    c.InitKey(key.data(), iv.data(), 32, 16);
    c.EncryptBuffer(joined.data(), whole.data(), 96, CRijndael::CBC);
    EXPECT_EQ(Bytes(whole.begin(), whole.begin() + 48), first);
    EXPECT_EQ(Bytes(whole.begin() + 48, whole.end()), second);

    // A new InitKey (or ResetChain) starts again from the initial vector.
    c.ResetChain();
    c.EncryptBuffer(plain.data(), split.data(), 48, CRijndael::CBC);
    EXPECT_EQ(Bytes(split.begin(), split.begin() + 48), first);
}

TEST(RijndaelTest, MisuseRaisesItsMessage) {
    const Bytes key(32, 0x11);
    uint8_t buf[64] = {};
    auto message = [](auto&& fn) -> std::string {
        try {
            fn();
        } catch (const CRijndael::Error& e) {
            return e.what();
        }
        return "no exception";
    };
    CRijndael fresh;
    EXPECT_EQ(message([&] { fresh.InitKey(nullptr, nullptr, 32, 16); }), "Empty key");
    EXPECT_EQ(message([&] { fresh.InitKey(key.data(), nullptr, 20, 16); }), "Incorrect key length");
    EXPECT_EQ(message([&] { fresh.InitKey(key.data(), nullptr, 32, 20); }),
              "Incorrect block length");
    EXPECT_EQ(message([&] { fresh.EncryptOneBlock(buf, buf); }), "Object not Initialized");
    EXPECT_EQ(message([&] { fresh.DecryptOneBlock(buf, buf); }), "Object not Initialized");
    EXPECT_EQ(message([&] { fresh.EncryptBuffer(buf, buf, 16, 1); }), "Object not Initialized");
    EXPECT_EQ(message([&] { fresh.DecryptBuffer(buf, buf, 16, 1); }), "Object not Initialized");

    CRijndael c;
    c.InitKey(key.data(), nullptr, 32, 16);
    for (size_t len : {0u, 1u, 15u, 17u, 40u}) {
        EXPECT_EQ(message([&] { c.EncryptBuffer(buf, buf, len, 1); }),
                  "Data not multiple of Block Size")
            << len;
        EXPECT_EQ(message([&] { c.DecryptBuffer(buf, buf, len, 1); }),
                  "Data not multiple of Block Size")
            << len;
    }
    c.InitKey(key.data(), nullptr, 32, 32);
    EXPECT_EQ(message([&] { c.EncryptBuffer(buf, buf, 48, 0); }),
              "Data not multiple of Block Size");

    // A failed InitKey changes nothing: the old key stays in force.
    EXPECT_THROW(c.InitKey(key.data(), nullptr, 8, 16), CRijndael::Error);
    EXPECT_NO_THROW(c.EncryptBuffer(buf, buf, 32, 0));
}

// The openssl command line as an independent AES implementation.
class OpensslCompare : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("openssl version >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "openssl binary not available";
        }
        char tmpl[] = "/tmp/kelvane-aes-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        if (!dir_.empty()) {
            std::remove((dir_ + "/in").c_str());
            std::remove((dir_ + "/out").c_str());
            rmdir(dir_.c_str());
        }
    }
    Bytes Openssl(const std::string& cipher, const Bytes& key, const Bytes& iv, const Bytes& data,
                  bool decrypt) {
        {
            std::ofstream f(dir_ + "/in", std::ios::binary);
            f.write(reinterpret_cast<const char*>(data.data()), static_cast<long>(data.size()));
        }
        std::string cmd = "openssl enc -" + cipher + (decrypt ? " -d" : " -e") + " -nopad -K " +
                          ToHex(key.data(), key.size());
        if (!iv.empty()) {
            cmd += " -iv " + ToHex(iv.data(), iv.size());
        }
        cmd += " -in " + dir_ + "/in -out " + dir_ + "/out 2>/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        std::ifstream f(dir_ + "/out", std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    std::string dir_;
};

TEST_F(OpensslCompare, Aes256CbcOnRandomDataBothWays) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        const Bytes key = Random(32, seed), iv = Random(16, seed + 100);
        const Bytes plain = Random(16 * (1 + seed * 97), seed + 200);
        CRijndael c;
        c.InitKey(key.data(), iv.data(), 32, 16);
        Bytes ours(plain.size());
        c.EncryptBuffer(plain.data(), ours.data(), plain.size(), CRijndael::CBC);
        EXPECT_EQ(ours, Openssl("aes-256-cbc", key, iv, plain, false));

        const Bytes cipher = Random(plain.size(), seed + 300);
        c.InitKey(key.data(), iv.data(), 32, 16);
        Bytes back(cipher.size());
        c.DecryptBuffer(cipher.data(), back.data(), cipher.size(), CRijndael::CBC);
        EXPECT_EQ(back, Openssl("aes-256-cbc", key, iv, cipher, true));
    }
}

TEST_F(OpensslCompare, EcbAndCfbAtAllKeyLengths) {
    for (int keyLen : {16, 24, 32}) {
        const Bytes key = Random(static_cast<size_t>(keyLen), 10u + static_cast<uint32_t>(keyLen));
        const Bytes iv = Random(16, 5), plain = Random(16 * 33, 6);
        const std::string bits = std::to_string(keyLen * 8);
        CRijndael c;
        c.InitKey(key.data(), iv.data(), keyLen, 16);
        Bytes ours(plain.size());
        c.EncryptBuffer(plain.data(), ours.data(), plain.size(), CRijndael::ECB);
        EXPECT_EQ(ours, Openssl("aes-" + bits + "-ecb", key, {}, plain, false)) << bits;
        c.EncryptBuffer(plain.data(), ours.data(), plain.size(), CRijndael::CFB);
        EXPECT_EQ(ours, Openssl("aes-" + bits + "-cfb", key, iv, plain, false)) << bits;
    }
}

} // namespace
