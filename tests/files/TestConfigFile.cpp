#include "crypto/Digests.h"
#include "crypto/SHA1.h"
#include "files/ConfigFile.h"
#include "model/ParameterBlock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

ConfigImage SampleImage() {
    ConfigImage image;
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return image;
}

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kelvane-config-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        chmod(Path("readonly.bin").c_str(), 0644);
        std::filesystem::remove_all(dir_);
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    void Put(const std::string& name, const uint8_t* data, size_t n) {
        std::ofstream f(Path(name), std::ios::binary);
        f.write(reinterpret_cast<const char*>(data), static_cast<long>(n));
    }
    std::vector<uint8_t> Get(const std::string& name) {
        std::ifstream f(Path(name), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(f),
                                    std::istreambuf_iterator<char>());
    }
    std::string dir_;
};

TEST(ConfigFormatTest, LayoutIsSealThenImage) {
    const ConfigImage image = SampleImage();
    const ConfigFileBytes file = BuildConfigFile(image);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), file.begin() + 48));

    // The seal deciphers to the digest text, a zero byte and seven 0xCC.
    uint8_t seal[48];
    std::copy_n(file.begin(), 48, seal);
    DecipherWithFileKey(seal, sizeof seal);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(seal), 40),
              SHA1::HexDigest(image.data(), image.size()));
    EXPECT_EQ(seal[40], 0);
    for (int i = 41; i < 48; ++i) {
        EXPECT_EQ(seal[i], 0xCC);
    }

    const ConfigParse parse = ParseConfigFile(file.data(), file.size());
    EXPECT_TRUE(parse.Valid());
    EXPECT_EQ(parse.image, image);
    EXPECT_EQ(parse.trailingBytes, 0u);
}

TEST(ConfigFormatTest, WriteMarkIsTheCallersAndSealedWithTheImage) {
    const ConfigImage image = SampleImage();
    for (uint8_t mark : {0, 1}) {
        const ConfigFileBytes file = BuildConfigFile(image, mark);
        const ConfigParse parse = ParseConfigFile(file.data(), file.size());
        ASSERT_TRUE(parse.Valid());
        EXPECT_EQ(parse.image[2], mark);
        ConfigImage expected = image;
        expected[2] = mark;
        EXPECT_EQ(parse.image, expected);
    }
}

TEST(ConfigFormatTest, EveryChangedByteIsRefused) {
    const ConfigFileBytes good = BuildConfigFile(SampleImage());
    for (size_t i = 0; i < good.size(); ++i) {
        ConfigFileBytes bad = good;
        bad[i] ^= static_cast<uint8_t>(1u << (i % 8));
        const ConfigParse parse = ParseConfigFile(bad.data(), bad.size());
        ASSERT_EQ(parse.status, ConfigStatus::kBadSeal) << "byte " << i;
    }
}

TEST(ConfigFormatTest, LengthsShortExactAndLong) {
    const ConfigFileBytes good = BuildConfigFile(SampleImage());
    std::vector<uint8_t> bytes(good.begin(), good.end());
    EXPECT_EQ(ParseConfigFile(nullptr, 0).status, ConfigStatus::kTooShort);
    EXPECT_EQ(ParseConfigFile(bytes.data(), 48).status, ConfigStatus::kTooShort);
    EXPECT_EQ(ParseConfigFile(bytes.data(), 559).status, ConfigStatus::kTooShort);
    bytes.resize(600, 0x77);
    const ConfigParse parse = ParseConfigFile(bytes.data(), bytes.size());
    EXPECT_TRUE(parse.Valid());
    EXPECT_EQ(parse.trailingBytes, 40u);
}

TEST(ConfigFormatTest, ConfigurationCopyClearsIdentityMaintenanceAndPassword) {
    using PB = ParameterBlock;
    ConfigImage image;
    image.fill(0xA5);
    const ConfigImage copy = ConfigurationCopy(image);
    std::set<size_t> cleared;
    auto range = [&](size_t off, size_t len) {
        for (size_t i = off; i < off + len; ++i) {
            cleared.insert(i);
        }
    };
    range(PB::kOffElAssembly, PB::kLenElAssembly);
    range(PB::kOffSerialNr, PB::kLenSerialNr);
    range(PB::kOffToolId, PB::kLenToolId);
    range(PB::kOffCalDate, 4);
    range(PB::kOffCalName, PB::kLenCalName);
    range(PB::kOffPlace, PB::kLenPlace);
    range(PB::kOffPasswordDigest, PB::kLenPasswordDigest);
    range(PB::kOffTorque, 2);
    range(PB::kOffServiceResetCounter, 4);
    for (size_t i = 0; i < copy.size(); ++i) {
        if (i == PB::kOffWriteMark) {
            EXPECT_EQ(copy[i], 1);
        } else if (cleared.count(i)) {
            EXPECT_EQ(copy[i], 0) << i;
        } else {
            EXPECT_EQ(copy[i], 0xA5) << i; // steps, type, version, serviceDueCounter ...
        }
    }
}

TEST_F(ConfigFileTest, WriteThenReadRestoresTheImage) {
    const ConfigImage image = SampleImage();
    ASSERT_EQ(WriteConfigFile(Path("a.bin"), image), 0);
    EXPECT_EQ(Get("a.bin").size(), 560u);
    ConfigImage back{};
    EXPECT_EQ(ReadConfigFile(Path("a.bin"), back), 0);
    EXPECT_EQ(back, image);

    // Replacing an existing file leaves no temporary behind.
    ASSERT_EQ(WriteConfigFile(Path("a.bin"), ConfigurationCopy(image)), 0);
    EXPECT_EQ(ReadConfigFile(Path("a.bin"), back), 0);
    EXPECT_EQ(back, ConfigurationCopy(image));
    const auto entries = std::distance(std::filesystem::directory_iterator(dir_),
                                       std::filesystem::directory_iterator());
    EXPECT_EQ(entries, 1);
}

TEST_F(ConfigFileTest, ReadResultsAndTheCallersBufferOnFailure) {
    const ConfigFileBytes good = BuildConfigFile(SampleImage());
    ConfigFileBytes tampered = good;
    tampered[300] ^= 0xFF;
    std::vector<uint8_t> longer(good.begin(), good.end());
    longer.resize(600, 0);
    Put("good.bin", good.data(), good.size());
    Put("short.bin", good.data(), 559);
    Put("long.bin", longer.data(), longer.size());
    Put("tampered.bin", tampered.data(), tampered.size());
    Put("empty.bin", good.data(), 0);
    mkdir(Path("folder.bin").c_str(), 0700);
    mkfifo(Path("fifo.bin").c_str(), 0600);
    Put("readonly.bin", good.data(), good.size());
    chmod(Path("readonly.bin").c_str(), 0444);

    struct Case {
        const char* name;
        int result;
    };
    // A huge file is read for its first 560 bytes only (zeros here: the seal fails); a device
    // is no file.
    Put("huge.bin", good.data(), 0);
    ASSERT_EQ(truncate(Path("huge.bin").c_str(), off_t{3} << 30), 0);
    for (const Case c : {Case{"good.bin", 0}, Case{"long.bin", 0}, Case{"readonly.bin", 0},
                         Case{"short.bin", -1}, Case{"empty.bin", -1}, Case{"missing.bin", -1},
                         Case{"folder.bin", -1}, Case{"fifo.bin", -1}, Case{"tampered.bin", -2},
                         Case{"huge.bin", -2}, Case{"/dev/null", -1}}) {
        ConfigImage out;
        out.fill(0x5A);
        const std::string path = c.name[0] == '/' ? c.name : Path(c.name);
        EXPECT_EQ(ReadConfigFile(path, out), c.result) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(out, SampleImage()) << c.name;
        } else {
            EXPECT_EQ(out[0], 0x5A) << c.name; // untouched
            EXPECT_EQ(out[511], 0x5A) << c.name;
        }
    }
}

TEST_F(ConfigFileTest, ParseFormShowsATamperedImageAndTrailingBytes) {
    ConfigFileBytes file = BuildConfigFile(SampleImage());
    file[100] ^= 1;
    std::vector<uint8_t> bytes(file.begin(), file.end());
    bytes.resize(700, 0);
    Put("t.bin", bytes.data(), bytes.size());
    ConfigParse parse;
    std::string error;
    ASSERT_TRUE(ReadConfigFile(Path("t.bin"), parse, &error));
    EXPECT_EQ(parse.status, ConfigStatus::kBadSeal);
    EXPECT_EQ(parse.image[100 - 48], file[100]);
    EXPECT_EQ(parse.trailingBytes, 140u);
    EXPECT_FALSE(ReadConfigFile(Path("none.bin"), parse, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
}

TEST_F(ConfigFileTest, WriteIntoMissingFolderFails) {
    std::string error;
    EXPECT_EQ(WriteConfigFile(Path("no/such/dir/x.bin"), SampleImage(), &error), -1);
    EXPECT_FALSE(error.empty());
}

} // namespace
