#include <gtest/gtest.h>

#include "model/MachineCatalog.h"
#include "model/ParameterBlock.h"
#include "tests/BadInput.h"
#include "tests/TempDir.h"

namespace {

const char* kCatalog = "; test catalog\r\n"
                       "[MOTOR]\r\n"
                       "MINDREHZAHL_QVK18=60abc\r\n"
                       "min_Schwelle=105\r\n"
                       "max_Schwelle=170\r\n"
                       "[KUPPLUNG]\r\n"
                       "MAX_DREHZAHL_KUPPLUNG=15000 ; 1/min\r\n"
                       "[AKKU]\r\n"
                       "QVK18_14=19000\r\n"
                       "QVK18_18=22000\r\n"
                       "[GETRIEBE]\r\n"
                       "GETRIEBE_1=1 1:18,2 18.2\r\n"
                       "GETRIEBE_2=2 1:23,9 23.9\r\n"
                       "GETRIEBE_3=3 1:33,5\r\n"
                       "GETRIEBE_5=5 1:12,6 12.6\r\n"
                       "GETRIEBE_21=21 nowhere 2.0\r\n"
                       "[WINKELKOPF]\r\n"
                       "WINKELKOPF_1=1 1:1,41 1.41\r\n"
                       "WINKELKOPF_2=2 broken\r\n"
                       "WINKELKOPF_3=3 1:2,00 2.0\r\n";

ParameterBlock Machine(const char* type, int gear, int head) {
    ParameterBlock b = ParameterBlock::Default();
    b.SetMachineType(type);
    b.SetTransmission(static_cast<uint8_t>(gear));
    b.SetAngleHead(static_cast<uint8_t>(head));
    return b;
}

class Catalog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.Path().empty());
        dir.Write("Torvex Transmissions_R4.ini", kCatalog);
        path = dir.File("Torvex Transmissions_R4.ini");
    }
    TempDir dir;
    std::string path;
    MachineCatalog catalog;
    ParameterBlock machine = Machine("QVK18-1234", 1, 0);
};

} // namespace

TEST(MachineCatalogNoFile, BuiltInTablesAndDefaults) {
    MachineCatalog c;
    ParameterBlock b = Machine("QVK18-1234", 1, 0);
    EXPECT_EQ(c.LoadCatalog("/nonexistent/catalog.ini", b), 0);

    const TransmissionEntry gears[] = {
        {1, "1:18,2", 18.2}, {2, "1:23,9", 23.9}, {3, "1:32,0", 32.0}, {4, "1:39,7", 39.7}};
    for (const auto& g : gears)
        EXPECT_EQ(*c.Gear(g.id), g);
    for (int n = 5; n <= 20; ++n)
        EXPECT_TRUE(c.Gear(n)->Empty()) << n;
    EXPECT_EQ(c.Gear(0), nullptr);
    EXPECT_EQ(c.Gear(21), nullptr);
    EXPECT_EQ(*c.AngleHeadEntry(0), (TransmissionEntry{0, "", 1.0}));
    EXPECT_EQ(*c.AngleHeadEntry(1), (TransmissionEntry{1, "1:1,41", 1.41}));
    EXPECT_EQ(c.AngleHeadEntry(21), nullptr);
    EXPECT_EQ(c.minSpeed, 30);
    EXPECT_EQ(c.minThreshold, 101);
    EXPECT_EQ(c.maxThreshold, 170);
    EXPECT_EQ(c.clutchMaxSpeed, 22500);

    std::string message;
    EXPECT_EQ(c.LookupTransmission("/nonexistent/catalog.ini", b, &message), -1);
    EXPECT_EQ(message, "Getriebe ist nicht definiert");
    EXPECT_DOUBLE_EQ(c.activeTransmission.ratio, 1.0);
}

TEST_F(Catalog, LoadCatalog) {
    EXPECT_EQ(catalog.LoadCatalog(path, machine), 0);
    EXPECT_EQ(catalog.minSpeed, 60);
    EXPECT_EQ(catalog.minThreshold, 105);
    EXPECT_EQ(catalog.maxThreshold, 170); // asked as "max_Schwelle "
    EXPECT_EQ(catalog.clutchMaxSpeed, 15000);
    EXPECT_EQ(*catalog.Gear(5), (TransmissionEntry{5, "1:12,6", 12.6}));
    // Two fields only: the built-in entry stays.
    EXPECT_EQ(catalog.Gear(3)->name, "1:32,0");
    EXPECT_EQ(catalog.Gear(4)->name, "1:39,7");
    EXPECT_EQ(catalog.AngleHeadEntry(2)->name, "");
    EXPECT_EQ(*catalog.AngleHeadEntry(3), (TransmissionEntry{3, "1:2,00", 2.0}));

    // A key gone from the file does not empty its slot.
    dir.Write("Torvex Transmissions_R4.ini", "[GETRIEBE]\nGETRIEBE_1=1 other 20.0\n");
    catalog.LoadCatalog(path, machine);
    EXPECT_EQ(catalog.Gear(5)->name, "1:12,6");
    EXPECT_EQ(catalog.Gear(1)->name, "other");
    // Missing keys take their defaults: minSpeed 30, the thresholds keep their values.
    EXPECT_EQ(catalog.minSpeed, 30);
    EXPECT_EQ(catalog.minThreshold, 105);
    EXPECT_EQ(catalog.clutchMaxSpeed, catalog.batteryMaxSpeed);
}

TEST_F(Catalog, LookupTransmission) {
    struct Case {
        int gear;
        int head;
        int result;
        const char* message;
        double ratio;
        const char* name;
    } cases[] = {
        {1, 0, 0, "", 18.2, "1:18,2"},
        {1, 1, 0, "", 18.2 * 1.41, "1:18,2"},
        {2, 3, 0, "", 47.8, "1:23,9"},
        {3, 0, -2, "Getriebe: Parameter fehlerhaft", 1.0, ""},
        {4, 0, -1, "Getriebe ist nicht definiert", 1.0, ""},
        {0, 0, -1, "Getriebe ist nicht definiert", 1.0, ""},
        {1, 7, -1, "Winkelkopf ist nicht definiert", 18.2, "1:18,2"},
        {1, 2, -2, "Winkelkopf: Parameter fehlerhaft", 18.2, "1:18,2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.gear) + "/" + std::to_string(c.head));
        // Start from an earlier machine's result: nothing of it may remain.
        catalog.activeTransmission = {9, "earlier", 99.0, 0, 0};
        std::string message;
        ParameterBlock b = Machine("QVK18-1234", c.gear, c.head);
        EXPECT_EQ(catalog.LookupTransmission(path, b, &message), c.result);
        EXPECT_EQ(message, c.message);
        EXPECT_NEAR(catalog.activeTransmission.ratio, c.ratio, 1e-12);
        EXPECT_EQ(catalog.activeTransmission.name, c.name);
        EXPECT_EQ(catalog.activeTransmission.extra1, 0);
    }
    EXPECT_NEAR(18.2 * 1.41, 25.662, 1e-12);

    // It reads the file, not the tables, and refreshes the motor values.
    EXPECT_EQ(catalog.minSpeed, 60);
    EXPECT_TRUE(catalog.Gear(2)->name == "1:23,9");
}

TEST_F(Catalog, AngleHeadZeroNeverReadsItsSection) {
    dir.Write("Torvex Transmissions_R4.ini", "[GETRIEBE]\nGETRIEBE_1=1 1:18,2 18.2\n"
                                             "[WINKELKOPF]\nWINKELKOPF_0=0 bad\n");
    TransmissionEntry out;
    EXPECT_EQ(catalog.LookupTransmission(path, machine, 1, 0, out), 0);
    EXPECT_DOUBLE_EQ(out.ratio, 18.2);
}

TEST_F(Catalog, Battery) {
    std::string message;
    EXPECT_EQ(catalog.LoadCatalog(path, machine), 0);
    EXPECT_EQ(catalog.LoadBattery(path, machine, 14, &message), 0);
    EXPECT_EQ(message, "");
    EXPECT_EQ(catalog.batteryMaxSpeed, 19000); // key QVK18_14
    EXPECT_EQ(catalog.pageBatteryMaxSpeed, 19000);
    EXPECT_EQ(catalog.pageMinSpeed, 60);

    EXPECT_EQ(catalog.LoadBattery(path, machine, 12, &message), 0);
    EXPECT_EQ(message, "Akku ist nicht definiert");
    EXPECT_EQ(catalog.batteryMaxSpeed, -1);
    EXPECT_EQ(catalog.pageBatteryMaxSpeed, -1);

    EXPECT_EQ(MachineCatalog::BatteryKey("QVK18", 14), "QVK18_14");
    EXPECT_EQ(MachineCatalog::BatteryKey("QVK18", 0), "QVK18_"); // "%.d" of 0
    EXPECT_EQ(MachineCatalog::MinSpeedKey("QVK18"), "MINDREHZAHL_QVK18");
    EXPECT_EQ(MachineCatalog::GearKey(7), "GETRIEBE_7");
    EXPECT_EQ(MachineCatalog::AngleHeadKey(0), "WINKELKOPF_0");
}

TEST(MachineCatalogEntryLine, Parse) {
    struct Case {
        const char* line;
        bool ok;
        TransmissionEntry entry;
    } cases[] = {
        {"2 1:23,9 23.9", true, {2, "1:23,9", 23.9}},
        {"  7\t1:66,0   66  ", true, {7, "1:66,0", 66.0}},
        {"3 1:33,5", false, {}},
        {"3", false, {}},
        {"", false, {}},
        {"x 1:1 2.0", false, {}},
        {"2 a 1.5 2.5", false, {}},            // four fields
        {"2 a 1.5 2.5 3.5", false, {}},        // five fields
        {"2 a 1.5 note", true, {2, "a", 1.5}}, // a word after the ratio is no field
        {"2 a 18.2x", true, {2, "a", 18.2}},
        {"2 a 0", false, {}}, // a ratio of 0 would divide by zero
        {"2 a -3.5", false, {}},
        {"2 a inf", false, {}},
        {"-1 a 2.0", false, {}},
        {"70000 a 2.0", false, {}},
        {"4 abcdefghijklmnopqrstuvwxyz 1.5", true, {4, "abcdefghijklmnopqrstuv", 1.5}},
        {"5 1:1,5 1,5", true, {5, "1:1,5", 1.0}}, // read as far as the number goes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        TransmissionEntry e{9, "untouched", 9.0};
        EntryLineResult r = ParseEntryLine(c.line, e);
        EXPECT_EQ(r == EntryLineResult::Ok, c.ok);
        if (c.ok)
            EXPECT_EQ(e, c.entry);
        else
            EXPECT_EQ(e, (TransmissionEntry{9, "untouched", 9.0}));
    }

    // Only the first 255 characters are read: a ratio beyond them is not there.
    TransmissionEntry e;
    EXPECT_EQ(ParseEntryLine("1 " + std::string(260, 'n') + " 2.0", e), EntryLineResult::Malformed);
}

TEST(MachineCatalogSample, SimulatedMachineIsDescribed) {
    const std::string path = std::string(KELVANE_SOURCE_DIR) + "/data/Torvex Transmissions_R4.ini";
    ParameterBlock b = Machine("TVX18-4200      ", 1, 0);
    ASSERT_EQ(b.MachineKindFromModel(), 18);
    MachineCatalog c;
    c.LoadCatalog(path, b);
    std::string message;
    EXPECT_EQ(c.LookupTransmission(path, b, &message), 0) << message;
    EXPECT_DOUBLE_EQ(c.activeTransmission.ratio, 18.2);
    for (int volts : {12, 14, 18}) {
        c.LoadBattery(path, b, volts, &message);
        EXPECT_GT(c.batteryMaxSpeed, 0) << volts;
    }
    EXPECT_EQ(c.batteryMaxSpeed, 22500);
    EXPECT_EQ(c.minSpeed, 50);
    EXPECT_EQ(c.minThreshold, 101);
    EXPECT_EQ(c.maxThreshold, 170);
    // Every table line of the sample is well formed.
    IniFile ini;
    ASSERT_TRUE(ini.Load(path));
    for (const char* section : {"GETRIEBE", "WINKELKOPF"}) {
        for (const auto& key : ini.Keys(section)) {
            TransmissionEntry e;
            EXPECT_EQ(ParseEntryLine(*ini.Find(section, key), e), EntryLineResult::Ok) << key;
        }
    }
}

TEST_F(Catalog, BadInputsGiveTheDefaultsAtOnceAndKeepTheTables) {
    ASSERT_EQ(catalog.LoadCatalog(path, machine), 0);
    ASSERT_EQ(catalog.Gear(5)->name, "1:12,6");
    const auto inputs = MakeBadInputs(dir.Path(), "catalog");
    ASSERT_FALSE(inputs.empty());
    for (const BadInput& in : inputs) {
        SCOPED_TRACE(in.what);
        EXPECT_EQ(catalog.LoadCatalog(in.path, machine), 0);
        EXPECT_EQ(catalog.minSpeed, 30);
        EXPECT_EQ(catalog.Gear(5)->name, "1:12,6") << "a slot is never emptied";
        std::string message;
        EXPECT_EQ(catalog.LookupTransmission(in.path, machine, &message), -1);
        EXPECT_EQ(message, "Getriebe ist nicht definiert");
    }
}
