#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "model/Conversions.h"
#include "model/PageRules.h"
#include "model/WriteCheck.h"

namespace {

using PB = ParameterBlock;

// A machine as the pages last saw it: gearbox 1:18,2, no angle head, 18 V battery.
MachineCatalog Catalog() {
    MachineCatalog c;
    c.activeTransmission = {1, "1:18,2", 18.2};
    c.pageBatteryMaxSpeed = 22500;
    c.pageMinSpeed = 50;
    c.minThreshold = 101;
    c.maxThreshold = 170;
    c.clutchMaxSpeed = 15000;
    return c;
}

ConversionContext Ctx18() {
    ConversionContext ctx;
    ctx.machineKind = 18;
    ctx.SetRatios(18.2, 100);
    return ctx;
}

// A machine's image with a three-step program in set 1: angle, threshold (in percent), clutch.
PB Machine() {
    PB b = PB::Default();
    b.bytes[0] = 0x20;
    b.bytes[1] = 0x01;
    b.SetMachineType("TVX18-4200");
    b.SetElAssembly("EB18-0042");
    b.SetSerialNr("SIM0000001");
    b.SetSwVersion("V04.02.005");
    b.SetMaxTorque(1800);
    b.SetTorque(1200);
    b.SetVariantCode(3);
    b.SetTransmission(1);
    b.SetUserTransmission(100);
    const ConversionContext ctx = Ctx18();
    const struct {
        double rpm;
        uint8_t cond;
        uint8_t next;
    } plan[] = {{600, kCondAngle, 1}, {40, kCondThreshold, 2}, {60, kCondClutch, kNextStepLast}};
    for (size_t i = 0; i < 3; ++i) {
        StepRecord s = b.Step(i);
        s.SetControlled(plan[i].cond == kCondThreshold ? 0 : 1);
        s.SetSpeed(SpeedToMachine(ctx, plan[i].rpm, s.Controlled() != 0));
        s.SetRamp(20);
        s.SetCondition(plan[i].cond);
        s.SetThreshold(140);
        s.SetNextStep(plan[i].next);
    }
    return b;
}

std::vector<WriteFinding> Check(const PB& out, uint16_t blockOffset = 0) {
    return CheckImageForWrite(out, Machine(), Catalog(), blockOffset);
}

std::string Fields(const std::vector<WriteFinding>& fs) {
    std::string s;
    for (const WriteFinding& f : fs)
        s += (s.empty() ? "" : ", ") + (f.step >= 0 ? std::to_string(f.step) + ":" : "") + f.field;
    return s;
}

TEST(WriteCheck, TheMachinesOwnImagePasses) {
    EXPECT_EQ(Fields(Check(Machine())), "");
    // Unused steps of a fresh image (no speed, no soft start) are no finding either.
    EXPECT_EQ(Machine().Step(7).Ramp(), 0);
}

struct Crafted {
    const char* name;
    std::function<void(PB&)> change;
    std::string expected; // "step:field" list, "" = passes
    uint16_t blockOffset = 0;
};

class CraftedImage : public ::testing::TestWithParam<Crafted> {};

TEST_P(CraftedImage, GivesItsFinding) {
    PB b = Machine();
    GetParam().change(b);
    EXPECT_EQ(Fields(Check(b, GetParam().blockOffset)), GetParam().expected);
}

const ConversionContext kCtx = Ctx18();

INSTANTIATE_TEST_SUITE_P(
    Cases, CraftedImage,
    ::testing::Values(
        // Identity and marker.
        Crafted{"MarkerAtOffset0", [](PB& b) { b.bytes[0] = 0x21; }, "Blockkennung"},
        Crafted{"MarkerElsewhereIsData", [](PB& b) { b.bytes[1] = 0x00; }, "", 512},
        Crafted{"MachineType", [](PB& b) { b.bytes[PB::kOffKindChar] = '4'; }, "Maschinentyp"},
        Crafted{"MaxTorque", [](PB& b) { b.SetMaxTorque(5000); }, "Max Drehmoment"},
        Crafted{"Serial", [](PB& b) { b.SetSerialNr("OTHER"); }, "Seriennummer"},
        Crafted{"Electronics", [](PB& b) { b.SetElAssembly("X"); }, "Elektronikbaugruppe"},
        Crafted{"Firmware", [](PB& b) { b.SetSwVersion("V05.00.000"); }, "Softwareversion"},
        Crafted{"Variant", [](PB& b) { b.SetVariantCode(4); }, "Variante"},
        Crafted{"Gearbox", [](PB& b) { b.SetTransmission(2); }, "Getriebeübersetzung"},
        Crafted{"AngleHead", [](PB& b) { b.SetAngleHead(1); }, "Winkelkopf"},
        Crafted{"EditableFieldsAreNoIdentity",
                [](PB& b) {
                    b.SetToolId("MINE");
                    b.SetPlace("HALLE 2");
                    b.bytes[PB::kOffPasswordDigest] ^= 0xFF;
                },
                ""},
        // Chain.
        Crafted{"StepLinkCB", [](PB& b) { b.Step(0).SetNextStep(0xCB); }, "0:letzter Schritt"},
        Crafted{"StepLinkSkips", [](PB& b) { b.Step(5).SetNextStep(7); }, "5:letzter Schritt"},
        Crafted{"Set1IntoSet2WithoutExpert", [](PB& b) { b.Step(4).SetNextStep(5); },
                "4:letzter Schritt"},
        Crafted{"Set1IntoSet2InExpertSwitchover",
                [](PB& b) {
                    b.Step(4).SetNextStep(5);
                    b.SetModeFlags(0x81);
                },
                ""},
        Crafted{"Step9HasNoSuccessor", [](PB& b) { b.Step(9).SetNextStep(10); },
                "9:letzter Schritt"},
        Crafted{"WaitOnLastStep", [](PB& b) { b.Step(2).SetNextCond(kCondClutch | 0x80); },
                "2:warten auf Neustart"},
        Crafted{"WaitOnLinkedStep", [](PB& b) { b.Step(0).SetWaitRestart(true); }, ""},
        Crafted{"UnknownCondition", [](PB& b) { b.Step(0).SetCondition(0x40); }, "0:weiter bei"},
        Crafted{"CurrentReachedIsKept", [](PB& b) { b.Step(0).SetCondition(kCondCurrent); }, ""},
        Crafted{"CriterionExcludedByCondition", [](PB& b) { b.Step(0).SetErrorMask(kErrAngleMax); },
                "0:Fehlerkriterium"},
        Crafted{"ZeitKleinerStaysWithTime",
                [](PB& b) {
                    b.Step(0).SetCondition(kCondTime);
                    b.Step(0).SetErrorMask(kErrTimeMin | kErrClutch);
                },
                ""},
        Crafted{"UnknownCriterionBit", [](PB& b) { b.Step(0).SetErrorMask(0x0200); },
                "0:Fehlerkriterium"},
        Crafted{"ControlledAtThreshold", [](PB& b) { b.Step(1).SetControlled(1); }, "1:geregelt"},
        Crafted{"TypeBeyondList", [](PB& b) { b.Step(0).SetType(2); }, "0:Typ"},
        // Ranges.
        Crafted{"SpeedTooFast", [](PB& b) { b.Step(0).SetSpeed(100); }, "0:Drehzahl"},
        Crafted{
            "SpeedAtMaxOutput",
            [](PB& b) { b.Step(0).SetSpeed(SpeedToMachine(kCtx, kCtx.MaxOutputSpeed(), true)); },
            ""},
        Crafted{"DutyBeyondScale", [](PB& b) { b.Step(1).SetSpeed(1024); }, "1:Drehzahl"},
        Crafted{"NoSoftStart", [](PB& b) { b.Step(0).SetRamp(0); }, "0:Sanftanlauf"},
        Crafted{"ThresholdInUse", [](PB& b) { b.Step(1).SetThreshold(171); }, "1:Schwelle"},
        Crafted{"ThresholdAsCriterion",
                [](PB& b) {
                    b.Step(1).SetCondition(kCondClutch);
                    b.Step(1).SetErrorMask(kErrThreshold);
                    b.Step(1).SetThreshold(100);
                },
                "1:Schwelle"},
        Crafted{"ThresholdUnused", [](PB& b) { b.Step(0).SetThreshold(5); }, ""},
        Crafted{"UserFactor", [](PB& b) { b.SetUserTransmission(9); },
                "Benutzerdefinierte Getriebeübersetzung"},
        Crafted{"BatteryLevel", [](PB& b) { b.SetBatteryThreshold(51); }, "Akkukapazitätsanzeige"},
        Crafted{"SetTorque", [](PB& b) { b.SetTorque(65501); }, "Eingestelltes Drehmoment"}),
    [](const ::testing::TestParamInfo<Crafted>& info) { return std::string(info.param.name); });

TEST(WriteCheck, SpeedsOfAKind14ModelPassUnderEitherKind) {
    PB machine = Machine();
    machine.bytes[PB::kOffKindChar] = '4';
    PB out = machine;
    // Read from the line, the pages worked in kind 18 units; loaded from a file, in kind 14.
    ConversionContext ctx14 = kCtx;
    ctx14.machineKind = 14;
    out.Step(0).SetSpeed(SpeedToMachine(ctx14, 600, true));
    EXPECT_EQ(Fields(CheckImageForWrite(out, machine, Catalog(), 0)), "");
    EXPECT_EQ(Fields(CheckImageForWrite(machine, machine, Catalog(), 0)), "");
}

TEST(WriteCheck, DescribeNamesStepAndFieldThroughTheTranslation) {
    PB b = Machine();
    b.SetMaxTorque(1);
    b.Step(6).SetNextStep(0xCB);
    const std::string text =
        DescribeFindings(Check(b), [](const std::string& s) { return "[" + s + "]"; });
    EXPECT_EQ(text, "[Max Drehmoment]: [nicht wie in der Maschine]\n"
                    "[Programmschritt] 7: [letzter Schritt]: [ungültiger Folgeschritt]");
}

} // namespace
