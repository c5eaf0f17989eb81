#include "crypto/Digests.h"
#include "crypto/Password.h"
#include "crypto/Rijndael.h"
#include "crypto/SHA1.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02X", p[i]);
        s += b;
    }
    return s;
}

template <size_t N> std::string Hex(const std::array<uint8_t, N>& a) {
    return Hex(a.data(), N);
}

// The digest computed from its definition with single-block encryption.
PasswordDigestBytes DigestByDefinition(const std::u16string& password) {
    uint8_t key[32];
    cPassword().GetFileKey(key, sizeof key);
    CRijndael aes;
    aes.InitKey(key, nullptr, 32, 16);
    uint8_t block[16] = {};
    for (size_t i = 0; i < password.size() && i < 8; ++i) {
        block[i] = static_cast<uint8_t>(password[i]);
    }
    for (int i = 0; i < 16; ++i) {
        block[i] ^= cPassword::InitialVector()[i];
    }
    uint8_t c[16];
    aes.EncryptOneBlock(block, c);
    PasswordDigestBytes d;
    for (int i = 0; i < 8; ++i) {
        d[static_cast<size_t>(i)] = static_cast<uint8_t>(c[i] + c[i + 8]);
    }
    return d;
}

TEST(FileKeyTest, ThirteenKeyBytesThenZeros) {
    uint8_t full[32], longer[40], shorter[10];
    std::memset(full, 0xEE, sizeof full);
    std::memset(longer, 0xEE, sizeof longer);
    std::memset(shorter, 0xEE, sizeof shorter);
    cPassword p;
    p.GetFileKey(full, sizeof full);
    p.GetFileKey(longer, sizeof longer);
    p.GetFileKey(shorter, sizeof shorter);
    // The key text: 13 printable bytes, not a repeated one.
    int distinct = 0;
    for (size_t i = 0; i < cPassword::kFileKeyTextLength; ++i) {
        EXPECT_GE(full[i], 0x21) << i;
        EXPECT_LE(full[i], 0x7E) << i;
        distinct += full[i] != full[0];
    }
    EXPECT_GT(distinct, 8);
    for (size_t i = cPassword::kFileKeyTextLength; i < sizeof full; ++i) {
        EXPECT_EQ(full[i], 0) << i;
    }
    EXPECT_EQ(std::memcmp(full, longer, 32), 0);
    for (size_t i = 32; i < sizeof longer; ++i) {
        EXPECT_EQ(longer[i], 0) << i;
    }
    EXPECT_EQ(std::memcmp(full, shorter, sizeof shorter), 0);
}

TEST(PasswordDigestTest, FollowsItsDefinition) {
    for (const std::u16string pw : {u"", u"1", u"geheim", u"12345678", u"Z\u00fcndung!"}) {
        EXPECT_EQ(PasswordDigest(pw), DigestByDefinition(pw));
    }
}

TEST(PasswordDigestTest, OnlyFirstEightCharactersAndLowBytesCount) {
    EXPECT_EQ(PasswordDigest(u"abcdefgh"), PasswordDigest(u"abcdefghi"));
    EXPECT_EQ(PasswordDigest(u"abcdefgh"), PasswordDigest(u"abcdefghXYZ"));
    EXPECT_NE(PasswordDigest(u"abcdefgh"), PasswordDigest(u"abcdefgX"));
    // U+0141 and U+0041 share the low byte 0x41.
    EXPECT_EQ(PasswordDigest(u"\u0141bc"), PasswordDigest(u"Abc"));
    // The empty password is the all-zero block, as is a run of U+0100.
    EXPECT_EQ(PasswordDigest(u""), PasswordDigest(u"\u0100\u0100"));
    EXPECT_NE(PasswordDigest(u""), PasswordDigest(u"0"));
}

TEST(PasswordDigestTest, ShortOutputBufferGetsOnlyItsLength) {
    uint8_t out[8];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(cPassword().PasswordDigest(u"abc", out, 3), 0);
    const PasswordDigestBytes full = PasswordDigest(u"abc");
    EXPECT_EQ(std::memcmp(out, full.data(), 3), 0);
    for (int i = 3; i < 8; ++i) {
        EXPECT_EQ(out[i], 0xEE);
    }
}

TEST(PasswordDigestTest, Utf8FormDecodesToUtf16) {
    EXPECT_EQ(PasswordDigest(std::string("Z\xc3\xbc"
                                         "ndung")),
              PasswordDigest(u"Z\u00fcndung"));
    // A character outside the BMP is two code units.
    EXPECT_EQ(PasswordDigest(std::string("a\xf0\x9f\x94\xa7"
                                         "b")),
              PasswordDigest(u"a\U0001F527b"));
    // A stray continuation byte and a truncated sequence each stand for U+FFFD.
    EXPECT_EQ(PasswordDigest(std::string("a\x80"
                                         "b\xc3")),
              PasswordDigest(u"a\ufffdb\ufffd"));
}

TEST(SealDigestTest, DeciphersToDigestTextZeroAndFiller) {
    const std::string data(512, 'x');
    for (uint8_t filler : {kConfigSealFiller, kFirmwareSealFiller}) {
        SealedDigest seal = SealDigest(data.data(), data.size(), filler);
        DecipherWithFileKey(seal.data(), seal.size());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(seal.data()), 40),
                  SHA1::HexDigest(data.data(), data.size()));
        EXPECT_EQ(seal[40], 0);
        for (size_t i = 41; i < 48; ++i) {
            EXPECT_EQ(seal[i], filler) << i;
        }
    }
    EXPECT_NE(SealDigest("a", 1, 0xCC), SealDigest("a", 1, 0x00));
}

TEST(SealDigestTest, AnyChangedByteBreaksTheSeal) {
    std::vector<uint8_t> data(512);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 13);
    }
    SealedDigest seal = SealDigest(data.data(), data.size(), kConfigSealFiller);
    EXPECT_TRUE(SealMatches(data.data(), data.size(), kConfigSealFiller, seal.data()));
    EXPECT_FALSE(SealMatches(data.data(), data.size(), kFirmwareSealFiller, seal.data()));
    for (size_t i : {0u, 100u, 511u}) {
        data[i] ^= 1;
        EXPECT_FALSE(SealMatches(data.data(), data.size(), kConfigSealFiller, seal.data())) << i;
        data[i] ^= 1;
    }
    for (size_t i : {0u, 40u, 47u}) {
        seal[i] ^= 0x80;
        EXPECT_FALSE(SealMatches(data.data(), data.size(), kConfigSealFiller, seal.data())) << i;
        seal[i] ^= 0x80;
    }
}

TEST(FileKeyTest, EncipherRoundTripsAndRefusesBadLengths) {
    std::vector<uint8_t> data(512);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    std::vector<uint8_t> work = data;
    EncipherWithFileKey(work.data(), work.size());
    EXPECT_NE(work, data);
    DecipherWithFileKey(work.data(), work.size());
    EXPECT_EQ(work, data);
    EXPECT_THROW(EncipherWithFileKey(work.data(), 100), CRijndael::Error);
}

// Stored configuration files, firmware files and the digests held by machines depend on the
// file key and the initial vector never changing: these values pin them. They were computed
// apart from this code (`openssl enc -aes-256-cbc -nopad` with the key "kV7!tQz#R2mw9" and 19
// zero bytes), so they also check the key, the vector and the seal's layout. Files sealed
// with the earlier key are no longer accepted.
TEST(FileKeyTest, StoredDigestsStayCompatible) {
    EXPECT_EQ(Hex(PasswordDigest(u"")), "C8C3B5DAFDCE298A");
    EXPECT_EQ(Hex(PasswordDigest(u"Kelvane1")), "CC5B627470293918");
    const std::string data(512, '\0');
    EXPECT_EQ(Hex(SealDigest(data.data(), data.size(), kConfigSealFiller)),
              "8F2BAF055934C3A7A6E9D7FFAA60F70C6308E7D86E903AD3EBDE9FB65BF5DE1A90EE1B61D2FE8E6372FA"
              "A3FD71BC93FC");
}

} // namespace
