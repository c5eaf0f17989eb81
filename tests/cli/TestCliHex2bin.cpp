// hex2bin: Intel HEX to the image the link would send.
#include "tests/cli/CliRun.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace fs = std::filesystem;

namespace {

std::string Record(int type, unsigned address, const std::vector<uint8_t>& data) {
    unsigned sum = data.size() + (address >> 8) + (address & 0xFF) + type;
    char head[16];
    std::snprintf(head, sizeof head, ":%02X%04X%02X", unsigned(data.size()), address, type);
    std::string line = head;
    for (uint8_t b : data) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
        sum += b;
    }
    char check[3];
    std::snprintf(check, sizeof check, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + check + "\r\n";
}

const std::string kEnd = ":00000001FF\r\n";

class CliHex2bin : public ::testing::Test {
protected:
    CliResult Run(const std::vector<std::string>& args) {
        std::vector<std::string> all{"hex2bin"};
        all.insert(all.end(), args.begin(), args.end());
        return RunCli(all);
    }
    CliTempDir tmp;
    fs::path in = tmp.path() / "in.hex";
    fs::path out = tmp.path() / "out.bin";
};

} // namespace

TEST_F(CliHex2bin, WindowFromTheBaseToTheLastPlacedByte) {
    // Loader layout: linear base 0x2000, data at 0x0200; a gap; data that ends in 0xFF bytes,
    // which still belong to the image.
    WriteBytes(in, Record(4, 0, {0x20, 0x00}) + Record(0, 0x0200, {1, 2, 3}) +
                       Record(0, 0x0210, {0xAA, 0xFF, 0xFF}) + kEnd);
    CliResult r = Run({in.string(), out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string expected = "\x01\x02\x03" + std::string(13, '\xFF') + "\xAA\xFF\xFF";
    EXPECT_EQ(ReadBytes(out), expected);
    EXPECT_NE(r.out.find("19 bytes from 0x20000200"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST_F(CliHex2bin, OwnBaseAndLimitDropWhatLiesOutside) {
    // Below the base (wraps, dropped), inside, and across the end of a 16-byte window.
    WriteBytes(in, Record(0, 0x0FF0, {9, 9}) + Record(0, 0x1000, {0x10}) +
                       Record(0, 0x100E, {0xE0, 0xE1, 0xE2, 0xE3}) + kEnd);
    CliResult r = Run({"--base", "0x1000", "--limit=16", in.string(), out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadBytes(out), "\x10" + std::string(13, '\xFF') + "\xE0\xE1");
    EXPECT_NE(r.err.find("4 bytes outside the window dropped"), std::string::npos) << r.err;

    r = Run({"--base", "4096", "--limit", "0x10", in.string(), out.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadBytes(out).size(), 16u);
}

TEST_F(CliHex2bin, ReaderErrorsWriteNothing) {
    WriteBytes(out, "old contents");
    struct Case {
        std::string hex;
        std::string message;
    } cases[] = {
        {":0300000001020305\r\n" + kEnd, "check byte wrong (reader result -3)"},
        {":03000000010G03F9\r\n", "not a hexadecimal digit"},
        {Record(6, 0, {}) + kEnd, "unknown record type (reader result -4)"},
        // A data record and a line break, but no end record.
        {Record(0, 0x0200, {1}) + "", "(reader result -2)"},
        // Nothing in the window.
        {Record(0, 0x0200, {1}) + kEnd, "no data between 0x20000200 and 0x20004200"},
    };
    for (const auto& c : cases) {
        WriteBytes(in, c.hex);
        CliResult r = Run({in.string(), out.string()});
        EXPECT_EQ(r.exitCode, 1) << c.hex;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.hex << "\n" << r.err;
        EXPECT_EQ(ReadBytes(out), "old contents") << c.hex;
    }
    CliResult r = Run({(tmp.path() / "fehlt.hex").string(), out.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos) << r.err;
    // Only the two files: no temporary file left.
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(tmp.path()))
        ++n;
    EXPECT_EQ(n, 2u);
}

TEST_F(CliHex2bin, UsageErrors) {
    WriteBytes(in, Record(4, 0, {0x20, 0x00}) + Record(0, 0x0200, {1}) + kEnd);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {in.string()},
             {"--base", "zwei", in.string(), out.string()},
             {"--base", "0x100000000", in.string(), out.string()},
             {"--base", "-1", in.string(), out.string()},
             {"--limit", "0", in.string(), out.string()},
             {"--limit", "99999999999", in.string(), out.string()},
             {"--base", "0xFFFFFFF0", "--limit", "0x20", in.string(), out.string()},
             {"--base"}}) {
        CliResult r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_FALSE(r.err.empty());
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(CliHex2bin, ShippedLoaderConverts) {
    const fs::path loader = fs::path(KELVANE_BIN_DIR) / "BL.hex";
    if (!fs::exists(loader))
        GTEST_SKIP() << "no loader in this build";
    CliResult r = Run({loader.string(), out.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GT(ReadBytes(out).size(), 0u);
    EXPECT_LE(ReadBytes(out).size(), 0x4000u);
}
