// show: images and configuration files as the pages would show them.
#include "files/ConfigFile.h"
#include "model/ParameterBlock.h"
#include "tests/cli/CliRun.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

bool HasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// A machine of kind 18 with gearbox 1 (ratio 18.2 in the test catalog).
ParameterBlock SampleImage() {
    ParameterBlock b = ParameterBlock::Default();
    b.SetMachineType("TVX18-4200");
    b.SetSwVersion("V04.01.002");
    b.SetTransmission(1);
    b.SetAngleHead(0);
    b.SetUserTransmission(100);
    b.SetMaxTorque(4550);
    StepRecord s = b.Step(0);
    s.SetSpeed(2000);
    s.SetAngle(82);
    s.SetRamp(255);
    return b;
}

std::string Bytes(const uint8_t* p, size_t n) {
    return std::string(reinterpret_cast<const char*>(p), n);
}

class CliShow : public ::testing::Test {
protected:
    void SetUp() override {
        exe = tmp.MakeInstallation();
        WriteBytes(tmp.AppDir() / "Torvex Transmissions_R4.ini",
                   "[MOTOR]\r\nMINDREHZAHL_TVX18=50\r\n[AKKU]\r\nTVX18_18=22500\r\n"
                   "[GETRIEBE]\r\nGETRIEBE_1=1 1:18,2 18.2\r\n[WINKELKOPF]\r\n");
    }
    CliResult Show(const std::vector<std::string>& args) {
        std::vector<std::string> all{"show"};
        all.insert(all.end(), args.begin(), args.end());
        return RunProgram(exe, all, tmp.UserEnv());
    }

    CliTempDir tmp;
    fs::path exe;
};

} // namespace

TEST(CliShowDefault, TheFreshImage) {
    CliResult r = RunCli({"show", "--default"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("format = default image\n", 0), 0u) << r.out;
    for (const char* line :
         {"machineType = \"                \"", "toolId = \"               \"",
          "set1.step1.nextStep = 1", "set1.step5.nextStep = last", "set2.step1.nextStep = 6",
          "set2.step5.nextStep = last", "set1.step1.threshold = 1",
          "set2.step1.condition = 0x02 (Drehwinkel erreicht)"})
        EXPECT_TRUE(HasLine(r.out, line)) << line << "\n" << r.out;
}

TEST_F(CliShow, ConfigurationFileInUserUnits) {
    ParameterBlock b = SampleImage();
    ConfigImage image;
    std::copy(b.bytes.begin(), b.bytes.end(), image.begin());
    const fs::path file = tmp.path() / "TVX18_3_1_45_0.bin";
    ASSERT_EQ(WriteConfigFile(file.string(), image), 0);
    CliResult r = Show({file.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const std::string& line :
         {"file = " + file.string(), std::string("format = configuration file (560 bytes)"),
          std::string("seal = holds"), std::string("machineType = \"TVX18-4200\""),
          std::string("maxTorque = 45.50 Nm"), std::string("machineKind = 18"),
          std::string("totalRatio = 18.2000"), std::string("set1.step1.speed = 92 1/min"),
          std::string("set1.step1.angle = 90 °"), std::string("set1.step1.ramp = 2.5 s")})
        EXPECT_TRUE(HasLine(r.out, line)) << line << "\n" << r.out;
    // Both parameter sets.
    EXPECT_NE(r.out.find("\nset2.step5.errorMask = "), std::string::npos);
}

TEST_F(CliShow, BrokenSealIsShownAndFails) {
    ParameterBlock b = SampleImage();
    ConfigImage image;
    std::copy(b.bytes.begin(), b.bytes.end(), image.begin());
    ConfigFileBytes file = BuildConfigFile(image);
    file[48 + 300] ^= 0x01; // one bit of the image
    const fs::path path = tmp.path() / "changed.bin";
    WriteBytes(path, Bytes(file.data(), file.size()));
    CliResult r = Show({path.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(HasLine(r.out, "seal = does not hold")) << r.out;
    EXPECT_TRUE(HasLine(r.out, "machineType = \"TVX18-4200\"")) << r.out;
    EXPECT_NE(r.err.find("refuses to load"), std::string::npos) << r.err;

    // Bytes after the first 560 are ignored, as the program's loader does.
    ConfigFileBytes good = BuildConfigFile(image);
    WriteBytes(path, Bytes(good.data(), good.size()) + std::string(40, 'x'));
    r = Show({path.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(HasLine(r.out, "seal = holds")) << r.out;
    EXPECT_NE(r.err.find("40 bytes after the first 560 ignored"), std::string::npos) << r.err;
}

TEST_F(CliShow, RawImageAndUnknownGearbox) {
    ParameterBlock b = SampleImage();
    b.SetTransmission(7); // not in the test catalog
    const fs::path path = tmp.path() / "image.bin";
    WriteBytes(path, Bytes(b.bytes.data(), b.bytes.size()));
    CliResult r = Show({path.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(HasLine(r.out, "format = parameter image (512 bytes)")) << r.out;
    EXPECT_TRUE(HasLine(r.out, "transmission = 7")) << r.out;
    EXPECT_NE(r.err.find("Getriebe ist nicht definiert"), std::string::npos) << r.err;
}

TEST_F(CliShow, WrongSizesAndUsage) {
    for (size_t size : {0, 511, 513, 559}) {
        const fs::path path = tmp.path() / ("f" + std::to_string(size));
        WriteBytes(path, std::string(size, '\0'));
        CliResult r = Show({path.string()});
        EXPECT_EQ(r.exitCode, 1) << size;
        EXPECT_EQ(r.out, "") << size;
        EXPECT_NE(r.err.find(std::to_string(size) +
                             " bytes: neither a 512-byte parameter image nor a 560-byte"),
                  std::string::npos)
            << r.err;
    }
    CliResult r = Show({(tmp.path() / "fehlt.bin").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
    r = Show({tmp.path().string()});
    EXPECT_EQ(r.exitCode, 1);

    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"a", "b"}, {"--default", "a"}, {"--kind", "a"}, {"--json"}}) {
        r = Show(args);
        EXPECT_EQ(r.exitCode, 2) << args.size();
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("usage: kelvane-cli show FILE [--json]"), std::string::npos) << r.err;
    }
}
