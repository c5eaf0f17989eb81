#include <gtest/gtest.h>

#include <algorithm>

#include "model/ImageListing.h"
#include "model/MachineCatalog.h"

namespace {

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string Names(const std::vector<std::string>& lines) {
    std::string s = "\n";
    for (const auto& l : lines)
        s += l.substr(0, l.find(" = ")) + "\n";
    return s;
}

} // namespace

TEST(ImageListing, FieldsInUserUnits) {
    ParameterBlock b = ParameterBlock::Default();
    b.SetMachineType("TVX18-4200      ");
    b.SetToolId("Station 7");
    b.SetSwVersion("V04.01.002");
    b.SetTorque(1234);
    b.SetRestartLock(15);
    b.SetUserTransmission(100);
    b.SetCalDate(1440 * 366 + 61); // 2001-01-01 01:01
    b.SetModeFlags(0x81);
    StepRecord s = b.Step(0);
    s.SetSpeed(2000);
    s.SetAngle(82);
    s.SetRamp(50);
    s.SetCurrent(150);
    s.SetErrorMask(kErrAngleMax | kErrCurrentMin);
    StepRecord s6 = b.Step(6);
    s6.SetControlled(0);
    s6.SetSpeed(512);
    s6.SetNextCond(kCondTime | kCondWaitRestart);

    MachineCatalog catalog;
    catalog.activeTransmission = *catalog.Gear(1);
    ConversionContext ctx = MakeConversionContext(b, catalog);
    EXPECT_EQ(ctx.machineKind, 18);
    EXPECT_DOUBLE_EQ(ctx.totalRatio, 18.2);

    auto lines = ListImage(b, ctx);
    const char* expected[] = {
        "machineType = \"TVX18-4200      \"",
        "modelCode = \"TVX18\"",
        "toolId = \"Station 7\"",
        "swVersion = \"V04.01.002\" (4.1.2)",
        "torque = 12.34 Nm",
        "restartLock = 1.5 s",
        "calDate = 2001-01-01 01:01",
        "modeFlags = 0x81 (parameter set 1+2: yes, expert mode: yes)",
        "set1.step1.speed = 92 1/min",
        "set1.step1.angle = 90 °",
        "set1.step1.ramp = 0.5 s",
        "set1.step1.current = 1.50 A",
        "set1.step1.threshold = 1",
        "set1.step1.condition = 0x20 (Kupplung ausgelöst)",
        "set1.step1.nextStep = 1",
        "set1.step1.errorMask = 0x0102 (Drehwinkel >, Strom <)",
        "set1.step5.nextStep = last",
        "set2.step2.speed = 50 %",
        "set2.step2.condition = 0x04 (Zeit abgelaufen)",
        "set2.step2.waitRestart = yes",
    };
    for (const char* e : expected)
        EXPECT_TRUE(Has(lines, e)) << e << "\n" << ImageListingText(b, ctx);

    // Every step lists the same fields, and every field appears once.
    std::string names = Names(lines);
    for (const char* field : {"machineFlags",
                              "writeMark",
                              "elAssembly",
                              "serialNr",
                              "calName",
                              "place",
                              "passwordDigest",
                              "maxTorque",
                              "variantCode",
                              "restartLockNio",
                              "transmission",
                              "angleHead",
                              "rlLock",
                              "rlLockPermanent",
                              "buzzerLock",
                              "batteryDisplay",
                              "batteryThreshold",
                              "userTransmission",
                              "blinkNio",
                              "serviceResetCounter",
                              "serviceDueCounter",
                              "clutchLimitFlags",
                              "machineTail",
                              "digest"})
        EXPECT_NE(names.find(std::string("\n") + field + "\n"), std::string::npos) << field;
    for (int i = 0; i < 10; ++i)
        for (const char* f : {"speed", "angleMin", "timeMin", "currentMin", "type", "controlled"})
            EXPECT_NE(names.find("\nset" + std::to_string(i / 5 + 1) + ".step" +
                                 std::to_string(i % 5 + 1) + "." + f + "\n"),
                      std::string::npos)
                << i << f;
}

TEST(ImageListing, OddBytesStayReadable) {
    ParameterBlock b;
    b.SetText(ParameterBlock::kOffToolId, 15, "a\x1b[2Jb\"\\");
    b.bytes[ParameterBlock::kOffPlace] = 0x85; // no printable Latin-1 character
    b.bytes[ParameterBlock::kOffCalName] = 0xE4;
    auto lines = ListImage(b, ConversionContext{});
    EXPECT_TRUE(Has(lines, "toolId = \"a\\x1B[2Jb\\x22\\x5C\""));
    EXPECT_TRUE(Has(lines, "place = \"\\x85\""));
    EXPECT_TRUE(Has(lines, "calName = \"ä\""));
    EXPECT_TRUE(Has(lines, "calDate = -"));
    EXPECT_TRUE(Has(lines, "swVersion = \"\" (no version number)"));
    // Unknown kind and no ratio: the conversions give 0 rather than failing.
    EXPECT_TRUE(Has(lines, "set1.step1.speed = 0 %"));
}
