#include "crypto/SHA1.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Vector {
    std::string message;
    size_t repeat;
    const char* digest;
};

// FIPS 180-1 appendices A-C and the RFC 3174 test driver.
const Vector kVectors[] = {
    {"", 1, "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
    {"abc", 1, "A9993E364706816ABA3E25717850C26C9CD0D89D"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
     "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
    {"a", 1000000, "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
    {"0123456701234567012345670123456701234567012345670123456701234567", 10,
     "DEA356A2CDDD90C7A7ECEDC5EBB563934F460452"},
};

std::string Repeat(const Vector& v) {
    std::string s;
    for (size_t i = 0; i < v.repeat; ++i) {
        s += v.message;
    }
    return s;
}

TEST(SHA1Test, KnownAnswersOneShot) {
    for (const Vector& v : kVectors) {
        const std::string data = Repeat(v);
        EXPECT_EQ(SHA1::HexDigest(data.data(), data.size()), v.digest) << v.message;
    }
}

TEST(SHA1Test, KnownAnswersInPiecesOfEveryAwkwardSize) {
    // Piece sizes around the 64-byte block and the 56-byte padding limit.
    for (size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 127u}) {
        for (const Vector& v : kVectors) {
            const std::string data = Repeat(v);
            SHA1 sha;
            for (size_t off = 0; off < data.size(); off += piece) {
                sha.AddBytes(data.data() + off, std::min(piece, data.size() - off));
            }
            EXPECT_EQ(SHA1::ToText(sha.Final()), v.digest) << "piece " << piece;
        }
    }
}

TEST(SHA1Test, PaddingBoundaryLengthsMatchByteAtATime) {
    // Messages of 0..130 bytes digested whole and byte by byte must agree; a padding fault at
    // 55/56/64 bytes shows as a mismatch or as a collision between neighbours.
    std::vector<std::string> seen;
    std::vector<uint8_t> data;
    for (size_t n = 0; n <= 130; ++n) {
        SHA1 bytewise;
        for (uint8_t b : data) {
            bytewise.Update(&b, 1);
        }
        const std::string whole = SHA1::HexDigest(data.data(), data.size());
        EXPECT_EQ(SHA1::ToText(bytewise.Final()), whole) << n;
        for (const std::string& s : seen) {
            EXPECT_NE(s, whole) << n;
        }
        seen.push_back(whole);
        data.push_back(static_cast<uint8_t>(n * 37 + 11));
    }
}

TEST(SHA1Test, DigestWordsAndBytesAndRepeatedGetDigest) {
    SHA1 sha;
    sha.AddBytes("abc", 3);
    uint32_t first[5], second[5];
    ASSERT_TRUE(sha.GetDigest(first));
    ASSERT_TRUE(sha.GetDigest(second));
    EXPECT_EQ(first[0], 0xA9993E36u);
    EXPECT_EQ(first[4], 0x9CD0D89Du);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(first[i], second[i]);
    }
    const auto bytes = SHA1::ToBytes(SHA1::Compute(std::string("abc")));
    EXPECT_EQ(bytes[0], 0xA9);
    EXPECT_EQ(bytes[19], 0x9D);
}

TEST(SHA1Test, AddingAfterDigestCorruptsUntilReset) {
    SHA1 sha;
    sha.AddBytes("abc", 3);
    uint32_t d[5];
    ASSERT_TRUE(sha.GetDigest(d));
    sha.AddBytes("", 0); // nothing added: still fine
    EXPECT_TRUE(sha.GetDigest(d));
    sha.AddBytes("d", 1);
    EXPECT_TRUE(sha.Corrupted());
    EXPECT_FALSE(sha.GetDigest(d));
    EXPECT_THROW(sha.Final(), std::logic_error);
    sha.Reset();
    sha.AddBytes("abc", 3);
    EXPECT_EQ(SHA1::ToText(sha.Final()), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

TEST(SHA1Test, TextFormHasLeadingZeros) {
    EXPECT_EQ(SHA1::ToText({0, 1, 0xABCDEF, 0x0F000000, 0xFFFFFFFF}),
              "000000000000000100ABCDEF0F000000FFFFFFFF");
}

} // namespace
