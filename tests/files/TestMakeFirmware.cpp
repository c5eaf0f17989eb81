// tool_make_firmware: what it makes from plain images reads back to those images, and an image
// it cannot turn into firmware is refused with nothing written.
#include "base/FileIo.h"
#include "files/FirmwareFile.h"
#include "sim/SimFirmware.h"
#include "sim/SimMachine.h"
#include "tests/BadInput.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

const std::string kTool = KELVANE_BIN_DIR "/../tools/tool_make_firmware";

int RunTool(const std::string& args) {
    const int status = std::system((kTool + " " + args + " 2>/dev/null >/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class MakeFirmware : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "kelvane-fw-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(tmpl.data()));
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Put(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string p = (dir / name).string();
        EXPECT_TRUE(WriteFileAtomic(p, bytes.data(), bytes.size()));
        return p;
    }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    fs::path dir;
};

} // namespace

TEST_F(MakeFirmware, MainAndSupervisorFilesReadBack) {
    // The block at offset 64 of the block area: the tool finds it as the link does.
    std::vector<uint8_t> image = SimFirmwareImage(0x8000, "V04.05.001");
    const ParameterBlock block = SimFirmwareBlock("V04.05.001");
    std::fill_n(image.begin() + 256, 1024, 0);
    image[257] = 64;
    std::copy(block.bytes.begin(), block.bytes.end(), image.begin() + 256 + 64);
    ASSERT_EQ(RunTool("main " + Put("image.bin", image) + " " + Path("main.bin")), 0);
    MainFirmware fw;
    std::string why;
    ASSERT_EQ(FirmwareFile::ReadMain(Path("main.bin"), 0x8000, fw, &why), FirmwareStatus::Ok)
        << why;
    EXPECT_EQ(fw.image, image);
    EXPECT_EQ(fw.block, block);
    // Made for one memory size, it is no firmware for a larger one.
    EXPECT_EQ(FirmwareFile::ReadMain(Path("main.bin"), 0x10000, fw), FirmwareStatus::Invalid);

    const auto program = SimSupervisorProgram(0x00010105);
    const auto eeprom = SimSupervisorEepromImage(0x00010105);
    ASSERT_EQ(RunTool("supv " + Put("p.bin", {program.begin(), program.end()}) + " " +
                      Put("e.bin", {eeprom.begin(), eeprom.end()}) + " " + Path("supv.bin")),
              0);
    SupervisorFirmware supv;
    ASSERT_EQ(FirmwareFile::ReadSupervisor(Path("supv.bin"), supv), FirmwareStatus::Ok);
    EXPECT_EQ(supv.program, program);
    EXPECT_EQ(supv.eeprom, eeprom);
}

TEST_F(MakeFirmware, ImagesThatCannotBeFirmwareWriteNothing) {
    std::vector<uint8_t> pointsOut = SimFirmwareImage(0x8000, "V04.05.001");
    pointsOut[256] = 0x02; // block offset 0x0201: past the block area
    pointsOut[257] = 0x01;
    const std::vector<uint8_t> odd(0x8000 + 8, 0);
    const std::vector<uint8_t> small(512, 0);
    EXPECT_EQ(RunTool("main " + Put("a.bin", pointsOut) + " " + Path("out.bin")), 1);
    EXPECT_EQ(RunTool("main " + Put("b.bin", odd) + " " + Path("out.bin")), 1);
    EXPECT_EQ(RunTool("main " + Put("c.bin", small) + " " + Path("out.bin")), 1);
    EXPECT_EQ(
        RunTool("supv " + Put("p.bin", small) + " " + Put("e.bin", small) + " " + Path("out.bin")),
        1);
    EXPECT_EQ(RunTool("main " + Path("missing.bin") + " " + Path("out.bin")), 1);
    EXPECT_FALSE(fs::exists(Path("out.bin")));
}

TEST_F(MakeFirmware, BadInputsAreRefusedAtOnce) {
    const auto inputs = MakeBadInputs(dir.string(), "fw");
    ASSERT_FALSE(inputs.empty());
    for (const BadInput& in : inputs) {
        SCOPED_TRACE(in.what);
        // Plain files are read and found wanting; anything else is not opened at all.
        const FirmwareStatus expected = in.what == "empty file" || in.what == "huge file"
                                            ? FirmwareStatus::Invalid
                                            : FirmwareStatus::CannotOpen;
        MainFirmware main;
        std::string why;
        EXPECT_EQ(FirmwareFile::ReadMain(in.path, kSimFirmwareMemorySize, main, &why), expected);
        EXPECT_FALSE(why.empty());
        SupervisorFirmware supervisor;
        EXPECT_EQ(FirmwareFile::ReadSupervisor(in.path, supervisor), expected);
    }
}
