#include "link/IntHex.h"
#include "tests/BadInput.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// One record with a correct check byte.
std::string Record(int type, uint32_t address, const std::vector<uint8_t>& data,
                   bool lower = false) {
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) +
                   static_cast<unsigned>(type);
    char buf[16];
    std::snprintf(buf, sizeof buf, lower ? ":%02x%04x%02x" : ":%02X%04X%02X",
                  static_cast<unsigned>(data.size()), address & 0xFFFF, type);
    std::string s = buf;
    for (uint8_t b : data) {
        std::snprintf(buf, sizeof buf, lower ? "%02x" : "%02X", b);
        s += buf;
        sum += b;
    }
    std::snprintf(buf, sizeof buf, lower ? "%02x" : "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return s + buf;
}

const std::string kEnd = ":00000001FF";

// The image sits between guard bytes so a write outside it shows.
struct Window {
    static constexpr size_t kGuard = 64;
    explicit Window(size_t length) : length(length), bytes(length + 2 * kGuard, 0xFF) {}
    uint8_t* image() { return bytes.data() + kGuard; }
    uint8_t at(size_t i) const { return bytes[kGuard + i]; }
    bool GuardsIntact() const {
        for (size_t i = 0; i < kGuard; ++i) {
            if (bytes[i] != 0xFF || bytes[kGuard + length + i] != 0xFF) {
                return false;
            }
        }
        return true;
    }
    size_t length;
    std::vector<uint8_t> bytes;
};

struct Loaded {
    int result;
    uint32_t count;
    uint32_t dropped;
};

Loaded LoadText(const std::string& text, uint32_t base, Window& w) {
    cIntHex hex;
    Loaded l{};
    l.result = hex.LoadFromMemory(text.data(), text.size(), base, w.image(), w.length, l.count,
                                  &l.dropped);
    EXPECT_TRUE(w.GuardsIntact());
    return l;
}

TEST(IntHexTest, DataRecordsLandAtTheirAddressInsideTheWindow) {
    Window w(32);
    const std::string text = Record(0, 0x1004, {1, 2, 3}) + "\r\n" +
                             Record(0, 0x1010, {0xAA, 0xBB}, true) + "\n" + kEnd + "\n";
    const Loaded l = LoadText(text, 0x1000, w);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.count, 5u); // bytes placed, not the span
    EXPECT_EQ(w.at(3), 0xFF);
    EXPECT_EQ(w.at(4), 1);
    EXPECT_EQ(w.at(6), 3);
    EXPECT_EQ(w.at(16), 0xAA);
    EXPECT_EQ(w.at(17), 0xBB);
}

TEST(IntHexTest, ExtendedLinearAndSegmentAddresses) {
    // 0x2000 << 16 + 0x0200 is the window's base: first byte at image position 0.
    Window w(0x4000);
    Loaded l = LoadText(Record(4, 0, {0x20, 0x00}) + "\n" + Record(0, 0x0200, {7, 8}) + "\n" + kEnd,
                        0x20000200, w);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.count, 2u);
    EXPECT_EQ(w.at(0), 7);
    EXPECT_EQ(w.at(1), 8);

    // Segment 0x1000 * 16 + 0x0010 = 0x10010; the base keeps its value until replaced.
    Window s(64);
    l = LoadText(Record(2, 0, {0x10, 0x00}) + "\n" + Record(0, 0x0010, {5}) + "\n" +
                     Record(0, 0x0011, {6}) + "\n" + Record(4, 0, {0, 0}) + "\n" +
                     Record(0, 0x0012, {9}) + "\n" + kEnd,
                 0x10000, s);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(s.at(0x10), 5);
    EXPECT_EQ(s.at(0x11), 6);
    EXPECT_EQ(l.count, 2u); // the last record fell back to address 0x12, below the window
    EXPECT_EQ(l.dropped, 1u);
}

TEST(IntHexTest, BytesOutsideTheWindowAreDroppedRecordByRecord) {
    Window w(16);
    // Below the base: wraps to a huge position, whole record dropped; the next still loads.
    // Straddling the end: bytes up to the limit stored, the rest of the record dropped.
    const std::string text = Record(0, 0x00FE, {1, 2, 3, 4}) + "\n" +
                             Record(0, 0x010C, {10, 11, 12, 13, 14, 15}) + "\n" +
                             Record(0, 0x0100, {0x55}) + "\n" + kEnd;
    const Loaded l = LoadText(text, 0x100, w);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(w.at(0), 0x55);
    EXPECT_EQ(w.at(1), 0xFF);
    EXPECT_EQ(w.at(12), 10);
    EXPECT_EQ(w.at(15), 13);
    EXPECT_EQ(l.count, 5u);
    EXPECT_EQ(l.dropped, 6u);
}

TEST(IntHexTest, EndOfFileHandling) {
    struct Case {
        const char* name;
        std::string text;
        int result;
        uint32_t count;
    };
    const std::string data = Record(0, 0, {1, 2});
    const Case cases[] = {
        {"end right after the check byte", data, 0, 2},
        {"line break and no end record", data + "\n", -2, 2},
        {"nothing after the end record is read",
         data + "\n" + kEnd + "\n:zz garbage" + Record(0, 4, {9}), 0, 2},
        {"end record with data is not read further", data + "\n:02000001AABB", 0, 2},
        {"records back to back on one line", data + Record(0, 2, {3}) + kEnd, 0, 3},
        {"start records are checked and ignored",
         Record(3, 0, {1, 2, 3, 4}) + Record(5, 0, {0, 0, 1, 0}) + data + kEnd, 0, 2},
        {"text before a start code is skipped", "# loader\r\n  " + data + "\r\n" + kEnd, 0, 2},
    };
    for (const Case& c : cases) {
        Window w(8);
        const Loaded l = LoadText(c.text, 0, w);
        EXPECT_EQ(l.result, c.result) << c.name;
        EXPECT_EQ(l.count, c.count) << c.name;
    }
}

TEST(IntHexTest, MalformedInputGivesItsErrorAndKeepsBytesPlacedSoFar) {
    struct Case {
        const char* name;
        std::string bad;
        int result;
    };
    std::string badSum = Record(0, 4, {9, 9});
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    const Case cases[] = {
        {"empty file", "", -2},
        {"no start code at all", "hello\n", -2},
        {"start code alone", ":", -1},
        {"non-hex in length", ":G1000000FF", -1},
        {"non-hex in address", ":0100X00000FF", -1},
        {"non-hex in data", ":02000400A?00", -1},
        {"truncated in data", ":0400040011", -1},
        {"truncated before check byte", ":01000400AA", -1},
        {"length longer than the line", ":05000400AABBF8\n" + kEnd, -1},
        {"next start code inside a record", ":0400040011" + kEnd, -1},
        {"check byte wrong", badSum, -3},
        {"record type 6", Record(6, 0, {}), -4},
        {"record type 255", Record(255, 0, {1}), -4},
        {"linear address of one byte", Record(4, 0, {0x20}), -1},
        {"segment address of three bytes", Record(2, 0, {0, 1, 2}), -1},
    };
    for (const Case& c : cases) {
        Window w(16);
        const std::string text = Record(0, 0, {0x11, 0x22}) + "\n" + c.bad;
        const Loaded l = LoadText(text, 0, w);
        EXPECT_EQ(l.result, c.result) << c.name;
        EXPECT_EQ(l.count, 2u) << c.name;
        EXPECT_EQ(w.at(0), 0x11) << c.name;
        EXPECT_EQ(w.at(4), 0xFF) << c.name;
    }
}

TEST(IntHexTest, ReadRecordRefusesRecordsAboveTheMaximum) {
    const std::string text = Record(0, 0, std::vector<uint8_t>(17, 1));
    cIntHex hex;
    cIntHex::Source source(text.data(), text.size());
    uint8_t record[16];
    int count = 0, type = 0;
    uint32_t base = 0, address = 0;
    EXPECT_EQ(hex.ReadRecord(source, 16, record, count, base, address, type), -5);

    // 255 data bytes, the largest a record holds, at the largest maximum.
    const std::string big = Record(0, 0, std::vector<uint8_t>(255, 0xA5)) + kEnd;
    Window w(300);
    const Loaded l = LoadText(big, 0, w);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.count, 255u);
    EXPECT_EQ(w.at(254), 0xA5);
}

TEST(IntHexTest, MissingFileGivesMinusTen) {
    cIntHex hex;
    uint8_t image[4];
    uint32_t count = 99;
    EXPECT_EQ(hex.Load("/nonexistent/BL.hex", 0, image, sizeof image, count), -10);
    EXPECT_EQ(count, 0u);
}

TEST(IntHexTest, BadInputsAreRefusedAtOnce) {
    char folder[] = "/tmp/kelvane-hex-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const auto inputs = MakeBadInputs(folder, "BL", cIntHex::kMaxFileSize + 1);
    ASSERT_FALSE(inputs.empty());
    for (const BadInput& in : inputs) {
        cIntHex hex;
        uint8_t image[4] = {1, 2, 3, 4};
        uint32_t count = 99;
        // An empty file holds no record; everything else cannot be a hex file.
        EXPECT_EQ(hex.Load(in.path, 0, image, sizeof image, count),
                  in.what == "empty file" ? cIntHex::kNoRecord : cIntHex::kOpenFailed)
            << in.what;
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(image[3], 4) << "nothing placed";
    }
    std::filesystem::remove_all(folder);
}

// Files made by objcopy, an independent writer of the format.
class IntHexObjcopy : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("objcopy --version >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "objcopy not available";
        }
        char tmpl[] = "/tmp/kelvane-hex-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        if (!dir_.empty()) {
            std::remove((dir_ + "/in.bin").c_str());
            std::remove((dir_ + "/out.hex").c_str());
            rmdir(dir_.c_str());
        }
    }
    // Random binary of the given size, converted to HEX at the address; returns the binary.
    std::vector<uint8_t> Make(size_t size, uint32_t address) {
        std::mt19937 rng(static_cast<uint32_t>(size + address));
        std::vector<uint8_t> bin(size);
        for (auto& b : bin) {
            b = static_cast<uint8_t>(rng());
        }
        {
            std::ofstream f(dir_ + "/in.bin", std::ios::binary);
            f.write(reinterpret_cast<const char*>(bin.data()), static_cast<long>(bin.size()));
        }
        char addr[16];
        std::snprintf(addr, sizeof addr, "0x%X", address);
        const std::string cmd = "objcopy -I binary -O ihex --change-addresses " +
                                std::string(addr) + " " + dir_ + "/in.bin " + dir_ + "/out.hex";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return bin;
    }
    std::string Path() const { return dir_ + "/out.hex"; }
    std::string dir_;
};

TEST_F(IntHexObjcopy, LoaderWindowAndLargeFilesAcrossAddressRecords) {
    struct Case {
        size_t size;
        uint32_t address;
    };
    // A loader-sized file at the loader's base; files crossing 64 KiB boundaries with linear
    // (above 1 MiB) and segment (below) address records.
    for (const Case c :
         {Case{0x3000, 0x20000200}, Case{150000, 0x2000FF00}, Case{100000, 0x8000}}) {
        const std::vector<uint8_t> bin = Make(c.size, c.address);
        Window w(c.size);
        cIntHex hex;
        uint32_t count = 0;
        ASSERT_EQ(hex.Load(Path(), c.address, w.image(), w.length, count), 0) << c.size;
        EXPECT_EQ(count, c.size);
        EXPECT_TRUE(std::equal(bin.begin(), bin.end(), w.image())) << c.size;
        EXPECT_TRUE(w.GuardsIntact());
    }
}

TEST_F(IntHexObjcopy, FileLargerThanTheWindowFillsItExactly) {
    const std::vector<uint8_t> bin = Make(0x5000, 0x20000200);
    Window w(0x4000);
    cIntHex hex;
    uint32_t count = 0, dropped = 0;
    ASSERT_EQ(hex.Load(Path(), 0x20000200, w.image(), w.length, count, &dropped), 0);
    EXPECT_EQ(count, 0x4000u);
    EXPECT_EQ(dropped, 0x1000u);
    EXPECT_TRUE(std::equal(bin.begin(), bin.begin() + 0x4000, w.image()));
    EXPECT_TRUE(w.GuardsIntact());
}

} // namespace
