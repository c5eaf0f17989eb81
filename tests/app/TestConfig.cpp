// "Konfiguration" / "Speichern" and "Laden".
#include "tests/app/ControllerFixture.h"

#include "files/ConfigFile.h"
#include "files/FactorySettings.h"

#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

using ::testing::ElementsAre;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

ParameterBlock Machine() {
    ParameterBlock b;
    b.bytes = SimMachine::DefaultImage();
    return b;
}

} // namespace

TEST(ConfigName, IsFormedFromTypeVariantGearboxTorqueAndAngleHead) {
    struct Case {
        const char* type;
        int variant, gearbox, maxTorque, angleHead;
        const char* name;
    } cases[] = {
        {"QVK18           ", 3, 2, 4550, 0, "QVK18           _3_2_45_0.bin"},
        {"QVK18", 3, 2, 30000, 0, "QVK18_3_2_44_0.bin"}, // 300 Nm, modulo 256
        {"TVX18-4200      ", 255, 20, 65535, 20, "TVX18-4200      _255_20_143_20.bin"},
        {"A/B\x01", 1, 1, 99, 1, "A_B__1_1_0_1.bin"}, // nothing that leaves the folder
    };
    for (const auto& c : cases) {
        ParameterBlock b;
        b.SetMachineType(c.type);
        b.SetVariantCode(static_cast<uint8_t>(c.variant));
        b.SetTransmission(static_cast<uint8_t>(c.gearbox));
        b.SetMaxTorque(static_cast<uint16_t>(c.maxTorque));
        b.SetAngleHead(static_cast<uint8_t>(c.angleHead));
        EXPECT_EQ(cDialogMain::ProposedConfigName(b), c.name);
        EXPECT_EQ(cDialogMain::ProposedFactoryName(b),
                  std::string(c.name).replace(std::string(c.name).size() - 4, 4, "_factory.bin"));
    }
}

TEST_F(ControllerTest, SaveBeforeAnythingIsLoadedWritesNothing) {
    EXPECT_FALSE(controller->SaveConfiguration());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("ungültige Konfigurationsdaten"));
    EXPECT_TRUE(ui.fileRequests.empty());
}

TEST_F(ControllerTest, SaveStoresTheSealedCopyWithoutMachineIdentity) {
    ReadMachine();
    controller->PageImage().SetToolId("Station 7");
    controller->PageImage().SetCalName("Meier");
    controller->PageImage().SetPlace("Halle 2");
    controller->PageImage().SetCalDate(123456);
    controller->PageImage().SetTorque(999);
    controller->PageImage().SetServiceResetCounter(77);
    controller->PageImage().SetServiceDueCounter(5000);
    sheet.pendingSpeed = 1234; // an edit still in a page
    controller->MarkChanged();
    const ParameterBlock editorBefore = [&] {
        ParameterBlock b = controller->Image();
        b.Step(0).SetSpeed(1234);
        return b;
    }();

    const fs::path path = temp.path() / "out.bin";
    ui.saveFiles.push_back(path.string());
    ASSERT_TRUE(controller->SaveConfiguration());
    EXPECT_TRUE(ui.TakeMessages().empty());
    ASSERT_EQ(ui.fileRequests.size(), 1u);
    EXPECT_EQ(ui.fileRequests[0].proposedName, "TVX18-4200      _3_1_18_0.bin");
    EXPECT_EQ(ui.fileRequests[0].folder, temp.path() / "data" / "configurations");
    EXPECT_EQ(ui.fileRequests[0].filter, "Config Files (*.bin)|*.bin|");
    EXPECT_EQ(ui.fileRequests[0].defaultExtension, "bin");
    EXPECT_TRUE(fs::is_directory(temp.path() / "data" / "configurations"));
    EXPECT_FALSE(controller->SettingsChanged());
    EXPECT_EQ(controller->ConfigName(), "von Maschine"); // saving does not rename
    // The controller's image is not changed by the save, only the pages' edits went in.
    EXPECT_EQ(controller->Image(), editorBefore);
    // The expert page does not commit for a save.
    const auto calls = sheet.Take();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "CommitExpert"), 0);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "CommitSteps 5"), 1);

    EXPECT_EQ(fs::file_size(path), 560u);
    ParameterBlock stored;
    ASSERT_EQ(cDialogMain::ReadConfigFile(path.string(), stored), 0);
    EXPECT_EQ(stored.WriteMark(), 1);
    EXPECT_EQ(stored.ToolId(), "");
    EXPECT_EQ(stored.SerialNr(), "");
    EXPECT_EQ(stored.ElAssembly(), "");
    EXPECT_EQ(stored.CalName(), "");
    EXPECT_EQ(stored.Place(), "");
    EXPECT_EQ(stored.CalDate(), 0u);
    EXPECT_EQ(stored.Torque(), 0);
    EXPECT_EQ(stored.ServiceResetCounter(), 0u);
    EXPECT_EQ(stored.PasswordDigest(), cDialogMain::PasswordDigestBytes{});
    // Everything else as it is.
    EXPECT_EQ(stored.ServiceDueCounter(), 5000u);
    EXPECT_EQ(stored.Step(0).Speed(), 1234);
    EXPECT_EQ(stored.SwVersion(), "V04.02.005");
    EXPECT_EQ(stored.MachineType(), "TVX18-4200      ");
    EXPECT_EQ(stored.MaxTorque(), 1800);
}

TEST_F(ControllerTest, SaveCancelledOrEmptyNameWritesNothing) {
    ReadMachine();
    controller->MarkChanged();
    ui.saveFiles.push_back(std::nullopt);
    ui.saveFiles.push_back(std::string());
    EXPECT_FALSE(controller->SaveConfiguration());
    EXPECT_FALSE(controller->SaveConfiguration());
    EXPECT_TRUE(controller->SettingsChanged());
    EXPECT_TRUE(ui.TakeMessages().empty());
    EXPECT_TRUE(fs::is_empty(temp.path() / "data" / "configurations"));
}

TEST_F(ControllerTest, AFailedSaveIsReportedKeepsTheChangeFlagAndTheOldFile) {
    ReadMachine();
    controller->MarkChanged();
    // A folder that does not exist.
    ui.saveFiles.push_back((temp.path() / "missing" / "out.bin").string());
    EXPECT_FALSE(controller->SaveConfiguration());
    auto shown = ui.TakeMessages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("Die Konfiguration konnte nicht gespeichert werden", 0), 0u);
    EXPECT_TRUE(controller->SettingsChanged());

    // A folder that cannot be written: an old file there stays as it was, nothing is left over.
    if (::geteuid() != 0) {
        const fs::path dir = temp.path() / "readonly";
        fs::create_directories(dir);
        WriteAll(dir / "old.bin", "old contents");
        ::chmod(dir.c_str(), 0555);
        ui.saveFiles.push_back((dir / "old.bin").string());
        EXPECT_FALSE(controller->SaveConfiguration());
        EXPECT_EQ(ui.TakeMessages().size(), 1u);
        EXPECT_EQ(ReadAll(dir / "old.bin"), "old contents");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
        EXPECT_TRUE(controller->SettingsChanged());
        ::chmod(dir.c_str(), 0755);
    }
}

TEST_F(ControllerTest, LoadTakesTheFileAndRefreshesThePages) {
    ParameterBlock file = Machine();
    file.Step(3).SetSpeed(4444);
    file.SetModeFlags(0x81); // both sets, expert mode
    file.SetUserTransmission(250);
    const fs::path path = temp.path() / "Linie 3.bin";
    ASSERT_EQ(cDialogMain::WriteConfigFile(path.string(), cDialogMain::ConfigurationCopy(file)), 0);
    controller->OnParameterSetChanged(1);
    sheet.calls.clear();
    ui.openFiles.push_back(path.string());
    ASSERT_TRUE(controller->LoadConfiguration());
    EXPECT_TRUE(ui.TakeMessages().empty());
    ASSERT_EQ(ui.fileRequests.size(), 1u);
    EXPECT_EQ(ui.fileRequests[0].folder, temp.path() / "data" / "configurations");

    EXPECT_EQ(controller->Image(), cDialogMain::ConfigurationCopy(file));
    EXPECT_EQ(controller->ConfigName(), "Linie 3");
    EXPECT_TRUE(controller->DataLoaded());
    EXPECT_EQ(controller->DataOrigin(), kDataOriginFile);
    EXPECT_EQ(controller->MachineKind(), 18);
    EXPECT_EQ(controller->CurrentSet(), 0);
    EXPECT_DOUBLE_EQ(controller->UserGearFactor(), 2.5);
    EXPECT_TRUE(controller->Controls().expertChecked);
    EXPECT_TRUE(controller->Controls().writeButtonEnabled);
    EXPECT_FALSE(controller->SettingsChanged());
    EXPECT_FALSE(sheet.Locked());
    const auto calls = sheet.Take();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "SetMachineKind 18");
    EXPECT_NE(std::find(calls.begin(), calls.end(), "SetTransmission 1 1:18,2 18.2"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "BindPages 0"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "RedrawStepOverview"), calls.end());
}

TEST_F(ControllerTest, LoadOfAMachineTheCatalogDoesNotKnowLeavesThePagesLocked) {
    ParameterBlock file = Machine();
    file.SetTransmission(19); // no GETRIEBE_19 in the catalog
    const fs::path path = temp.path() / "unknown.bin";
    ASSERT_EQ(cDialogMain::WriteConfigFile(path.string(), cDialogMain::ConfigurationCopy(file)), 0);
    ui.openFiles.push_back(path.string());
    ASSERT_TRUE(controller->LoadConfiguration());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("Getriebe ist nicht definiert"));
    EXPECT_TRUE(sheet.Locked());
    EXPECT_EQ(controller->Image().Transmission(), 19);
}

TEST_F(ControllerTest, LoadOfAConfigurationThatForbidsParameterisationLocksThePages) {
    ParameterBlock file = Machine();
    file.SetMachineFlags(0);
    const fs::path path = temp.path() / "locked.bin";
    ASSERT_EQ(cDialogMain::WriteConfigFile(path.string(), cDialogMain::ConfigurationCopy(file)), 0);
    ui.openFiles.push_back(path.string());
    ASSERT_TRUE(controller->LoadConfiguration());
    EXPECT_TRUE(sheet.Locked());
}

TEST_F(ControllerTest, LoadRefusesBadFilesAndChangesNothing) {
    const fs::path good = temp.path() / "good.bin";
    ASSERT_EQ(
        cDialogMain::WriteConfigFile(good.string(), cDialogMain::ConfigurationCopy(Machine())), 0);
    const std::string bytes = ReadAll(good);
    ASSERT_EQ(bytes.size(), 560u);
    auto sealed = [&](const ParameterBlock& b) {
        const fs::path p = temp.path() / "sealed.bin";
        EXPECT_EQ(cDialogMain::WriteConfigFile(p.string(), b), 0);
        return ReadAll(p);
    };
    auto flip = [&](size_t at) {
        std::string b = bytes;
        b[at] = static_cast<char>(b[at] ^ 0x01);
        return b;
    };
    ParameterBlock oldFirmware = Machine();
    oldFirmware.SetSwVersion("V03.09.000");
    ParameterBlock badKind = Machine();
    badKind.bytes[7] = 'X';
    ParameterBlock kind14 = Machine();
    kind14.bytes[7] = '4';

    struct Case {
        const char* what;
        std::string contents;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"image byte changed", flip(48 + 200), false},
        {"last byte changed", flip(559), false},
        {"seal byte changed", flip(0), false},
        {"seal end changed", flip(47), false},
        {"559 bytes", bytes.substr(0, 559), false},
        {"empty", "", false},
        {"firmware 3", sealed(oldFirmware), false},
        {"type neither 4 nor 8", sealed(badKind), false},
        {"600 bytes", bytes + std::string(40, 'x'), true},
        {"kind 14", sealed(kind14), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path p = temp.path() / "candidate.bin";
        WriteAll(p, c.contents);
        controller->ClearEditor();
        controller->MarkChanged();
        const ControllerState before = ControllerState::Of(*controller);
        sheet.calls.clear();
        ui.openFiles.push_back(p.string());
        EXPECT_EQ(controller->LoadConfiguration(), c.accepted);
        if (c.accepted) {
            EXPECT_TRUE(controller->DataLoaded());
        } else {
            EXPECT_THAT(ui.TakeMessages(), ElementsAre("ungültige Konfiguration"));
            EXPECT_EQ(ControllerState::Of(*controller), before);
            EXPECT_TRUE(sheet.calls.empty());
        }
        ui.messages.clear();
    }
    EXPECT_EQ(controller->MachineKind(), 14);

    // A file that is not there, and a folder.
    for (const fs::path& p : {temp.path() / "none.bin", temp.path()}) {
        ui.openFiles.push_back(p.string());
        EXPECT_FALSE(controller->LoadConfiguration());
        EXPECT_THAT(ui.TakeMessages(), ElementsAre("ungültige Konfiguration"));
    }
}

TEST_F(ControllerTest, SaveAndLoadGiveBackEveryStepSwitchAndFlag) {
    ReadMachine();
    for (size_t i = 0; i < ParameterBlock::kStepCount; ++i) {
        controller->PageImage().Step(i).SetSpeed(static_cast<uint16_t>(1000 + i));
        controller->PageImage().Step(i).SetErrorMask(static_cast<uint16_t>(0x0002 << (i % 8)));
    }
    controller->PageImage().SetRlLock(1);
    controller->PageImage().SetBuzzerLock(1);
    controller->PageImage().SetBatteryThreshold(30);
    controller->PageImage().SetClutchLimitFlags(3);
    controller->PageImage().SetToolId("gone");
    ParameterBlock expected = cDialogMain::ConfigurationCopy(controller->Image());
    const fs::path path = temp.path() / "round.bin";
    ui.saveFiles.push_back(path.string());
    ASSERT_TRUE(controller->SaveConfiguration());
    controller->PageImage() = ParameterBlock::Default();
    ui.openFiles.push_back(path.string());
    ASSERT_TRUE(controller->LoadConfiguration());
    EXPECT_EQ(controller->Image(), expected);
}

TEST_F(ControllerTest, LoadWithoutExpertModeEndsSetOneAtItsFifthStep) {
    ParameterBlock file = Machine();
    file.SetModeFlags(0x01); // both sets in use, expert mode off
    file.Step(4).SetNextStep(5);
    const fs::path path = temp.path() / "plain.bin";
    ASSERT_EQ(cDialogMain::WriteConfigFile(path.string(), cDialogMain::ConfigurationCopy(file)), 0);
    controller->SetExpertMode(true);
    sheet.calls.clear();
    ui.openFiles.push_back(path.string());
    ASSERT_TRUE(controller->LoadConfiguration());
    EXPECT_FALSE(controller->Controls().expertChecked);
    EXPECT_FALSE(controller->Controls().setListEnabled);
    EXPECT_EQ(controller->Image().Step(4).NextStep(), kNextStepLast);
    EXPECT_EQ(controller->Image().ModeFlags(), 0x01);
    const auto calls = sheet.Take();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "SetForcedLast 4 1"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "EnableExpertControls 0"), calls.end());
    EXPECT_EQ(calls.back(), "SetActivePage 1");
}
