// "Werkseinstellung" against the simulated machine, with the shipped factory file.
#include "tests/app/ControllerFixture.h"

#include "crypto/Digests.h"
#include "files/ConfigFile.h"
#include "files/FactorySettings.h"
#include "link/ResultCodes.h"

#include <fstream>

using ::testing::ElementsAre;
namespace fs = std::filesystem;

namespace {

const char* const kQuestion =
    "Alle Benutzereinstellungen gehen verloren\n\nWollen Sie den Vorgang fortsetzen";
const char* const kRestored = "Werkseinstellungen wurden wieder hergestellt";

ParameterBlock Default() {
    ParameterBlock b;
    b.bytes = SimMachine::DefaultImage();
    return b;
}

// The factory file shipped beside the executables for the simulated machine.
fs::path ShippedFactoryFile() {
    return fs::path(KELVANE_BIN_DIR) / "factorySettings" / FactoryFileName(Default());
}

ParameterBlock ShippedFactoryImage() {
    ParameterBlock b;
    EXPECT_EQ(cDialogMain::ReadConfigFile(ShippedFactoryFile().string(), b), 0);
    return b;
}

} // namespace

class FactoryTest : public ControllerTest {
public:
    // A machine that was used: other steps, tool id, maintenance data, password, clutch flags.
    void UseMachine() {
        EditMachine([](ParameterBlock& b) {
            b.Step(0).SetSpeed(4321);
            b.Step(7).SetTime(77);
            b.SetToolId("Linie 4");
            b.SetCalName("Meier");
            b.SetServiceResetCounter(900);
            b.SetPasswordDigest(PasswordDigest(std::string_view("geheim")));
            b.SetClutchLimitFlags(0x03);
            b.SetSerialNr("SIM0000042");
            b.SetSwVersion("V04.07.011");
        });
    }

    // A sealed file of the given image (writeMark as the image has it).
    std::string FileOf(const ParameterBlock& image, const char* name) {
        const fs::path p = temp.path() / name;
        EXPECT_EQ(cDialogMain::WriteConfigFile(p.string(), image), 0);
        return p.string();
    }
};

TEST(FactoryFile, ShippedFileIsSealedWithWriteMarkZeroAndNoMachineOfItsOwn) {
    ASSERT_TRUE(fs::exists(ShippedFactoryFile())) << ShippedFactoryFile();
    EXPECT_EQ(fs::file_size(ShippedFactoryFile()), 560u);
    const ParameterBlock f = ShippedFactoryImage();
    EXPECT_EQ(f.WriteMark(), 0);
    EXPECT_EQ(f.SerialNr(), "");
    EXPECT_EQ(f.ElAssembly(), "");
    EXPECT_TRUE(FactoryIdentityMatches(f, Default()));
    EXPECT_GE(FirmwareVersionOf(f).major, 4);
}

TEST_F(FactoryTest, RestorePutsBackTheFactoryImageAndKeepsTheMachinesIdentity) {
    UseMachine();
    VerifyPassword("geheim");
    const ParameterBlock used = MachineImage();
    controller->MarkChanged();

    ui.openFiles.push_back(ShippedFactoryFile().string());
    ui.answers.push_back(cUserInterface::Answer::Ok);
    ASSERT_TRUE(controller->RestoreFactorySettings())
        << ::testing::PrintToString(ui.TakeMessages());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre(kQuestion, kRestored));
    ASSERT_EQ(ui.fileRequests.size(), 1u);
    EXPECT_EQ(ui.fileRequests[0].folder, fs::path(KELVANE_BIN_DIR) / "factorySettings");
    EXPECT_EQ(ui.fileRequests[0].proposedName, FactoryFileName(used));
    EXPECT_EQ(ui.fileRequests[0].filter, "Config Files (*.bin)|*.bin|");

    const ParameterBlock factory = ShippedFactoryImage();
    ParameterBlock expected = factory;
    TakeMachineFields(expected, used);
    const ParameterBlock machine = MachineImage();
    EXPECT_EQ(machine, expected);
    EXPECT_EQ(machine.SerialNr(), "SIM0000042");
    EXPECT_EQ(machine.SwVersion(), "V04.07.011");
    EXPECT_EQ(machine.ElAssembly(), used.ElAssembly());
    EXPECT_EQ(machine.MachineTail(), used.MachineTail());
    EXPECT_EQ(machine.ClutchLimitFlags(), 0x02);
    EXPECT_EQ(machine.ToolId(), factory.ToolId());
    EXPECT_EQ(machine.PasswordDigest(), PasswordDigest(std::string_view("0000")));
    EXPECT_EQ(machine.WriteMark(), 0);

    // Read back: the editor shows the machine as it is now.
    EXPECT_EQ(controller->Image(), machine);
    EXPECT_EQ(controller->BlockDigest(), machine.Digest());
    EXPECT_EQ(controller->DataOrigin(), kDataOriginMachine);
    EXPECT_FALSE(controller->PasswordVerified());
    EXPECT_FALSE(controller->SettingsChanged());
}

TEST_F(FactoryTest, RefusedFilesAskNothingAndWriteNothing) {
    ParameterBlock otherGear = ShippedFactoryImage();
    otherGear.SetTransmission(2);
    ParameterBlock otherVariant = ShippedFactoryImage();
    otherVariant.SetVariantCode(9);
    ParameterBlock otherHead = ShippedFactoryImage();
    otherHead.SetAngleHead(1);
    ParameterBlock otherFlags = ShippedFactoryImage();
    otherFlags.SetMachineFlags(0);
    ParameterBlock saved = ShippedFactoryImage();
    saved.SetWriteMark(1); // what "Speichern" writes
    ParameterBlock oldFirmware = ShippedFactoryImage();
    oldFirmware.SetSwVersion("V03.00.000");

    std::string tampered = (temp.path() / "tampered.bin").string();
    {
        fs::copy_file(ShippedFactoryFile(), tampered);
        std::fstream f(tampered, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(48 + 130);
        f.put('\x7F');
    }
    std::string shortFile = (temp.path() / "short.bin").string();
    fs::copy_file(ShippedFactoryFile(), shortFile);
    fs::resize_file(shortFile, 559);

    struct Case {
        const char* what;
        std::string path;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"other gearbox", FileOf(otherGear, "gear.bin"),
         "Werkseinstellungen passen nicht zur Maschine"},
        {"other variant", FileOf(otherVariant, "variant.bin"),
         "Werkseinstellungen passen nicht zur Maschine"},
        {"other angle head", FileOf(otherHead, "head.bin"),
         "Werkseinstellungen passen nicht zur Maschine"},
        {"other parameterisation flag", FileOf(otherFlags, "flags.bin"),
         "Werkseinstellungen passen nicht zur Maschine"},
        {"saved configuration", FileOf(saved, "saved.bin"), "ungültige Konfiguration"},
        {"old firmware in the file", FileOf(oldFirmware, "old.bin"), "ungültige Konfiguration"},
        {"tampered", tampered, "ungültige Konfiguration"},
        {"559 bytes", shortFile, "ungültige Konfiguration"},
        {"missing", (temp.path() / "none.bin").string(), "ungültige Konfiguration"},
    };
    ReadMachine();
    controller->MarkChanged();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ControllerState before = ControllerState::Of(*controller);
        const ParameterBlock machineBefore = MachineImage();
        sim->ResetCounters();
        ui.openFiles.push_back(c.path);
        EXPECT_FALSE(controller->RestoreFactorySettings());
        EXPECT_THAT(ui.TakeMessages(), ElementsAre(c.message));
        EXPECT_EQ(sim->Counters().writeCommands, 0u);
        EXPECT_EQ(MachineImage(), machineBefore);
        EXPECT_EQ(ControllerState::Of(*controller), before);
    }
}

TEST_F(FactoryTest, CancelAtTheQuestionOrAtTheDialogStops) {
    ReadMachine();
    const ControllerState before = ControllerState::Of(*controller);
    ui.openFiles.push_back(ShippedFactoryFile().string());
    ui.answers.push_back(cUserInterface::Answer::Cancel);
    EXPECT_FALSE(controller->RestoreFactorySettings());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre(kQuestion));
    ui.openFiles.push_back(std::nullopt);
    EXPECT_FALSE(controller->RestoreFactorySettings());
    ui.openFiles.push_back(std::string());
    EXPECT_FALSE(controller->RestoreFactorySettings());
    EXPECT_TRUE(ui.TakeMessages().empty());
    EXPECT_EQ(sim->Counters().writeCommands, 0u);
    EXPECT_EQ(ControllerState::Of(*controller), before);
}

TEST_F(FactoryTest, MachineWithOldFirmwareIsRefusedBeforeAFileIsAsked) {
    EditMachine([](ParameterBlock& b) { b.SetSwVersion("V03.05.001"); });
    EXPECT_FALSE(controller->RestoreFactorySettings());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("Falsche Firmware-Version"));
    EXPECT_TRUE(ui.fileRequests.empty());
}

TEST_F(FactoryTest, LinkFaultsEndTheRestoreWithTheirMessage) {
    struct Case {
        SimFault fault;
        unsigned skip;
        std::optional<uint32_t> address;
        std::vector<std::string> messages;
        bool fileAsked;
    } cases[] = {
        {SimFault::Silent, 0, {}, {"Verbindung fehlgeschlagen"}, false},
        {SimFault::BadChecksum, 1, cQVX_18::kBlockAreaAddress, {"Checksum-Error"}, false},
        {SimFault::LoseBytes, 1, cQVX_18::kBlockAreaAddress, {"Timeout"}, false},
        {SimFault::RefuseCommand,
         1,
         cQVX_18::kBlockAreaAddress,
         {"Die Maschine hat den Befehl abgelehnt."},
         false},
        {SimFault::RefuseData, 0, {}, {kQuestion, "Fehler bei Datenübertagung"}, true},
        {SimFault::HangupInWrite,
         0,
         {},
         {kQuestion,
          std::string("Fehler bei Datenübertagung\n") + PortProblemText(PortProblem::Gone)},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SimFaultName(c.fault));
        StartMachine(Options());
        ReadMachine();
        ui.fileRequests.clear();
        const ControllerState before = ControllerState::Of(*controller);
        sim->SetFault(c.fault, c.skip, c.address);
        if (c.fileAsked) {
            ui.openFiles.push_back(ShippedFactoryFile().string());
            ui.answers.push_back(cUserInterface::Answer::Ok);
        }
        EXPECT_FALSE(controller->RestoreFactorySettings());
        EXPECT_EQ(ui.TakeMessages(), c.messages);
        EXPECT_EQ(ui.fileRequests.size(), c.fileAsked ? 1u : 0u);
        EXPECT_EQ(ControllerState::Of(*controller), before);
        EXPECT_FALSE(controller->PortOpen());
    }
}

TEST_F(FactoryTest, TheRestoreShowsSet1FirstAndKeepsTheKindOfTheEditedImage) {
    ReadMachine();
    controller->OnParameterSetChanged(1);
    // As after loading a configuration of a kind-14 machine.
    ParameterBlock kind14 = MachineImage();
    kind14.SetMachineType("TVX14-2000");
    ASSERT_TRUE(controller->TakeConfiguration(kind14, "kind 14"));
    ASSERT_EQ(controller->MachineKind(), 14);
    controller->OnParameterSetChanged(1);
    ui.TakeMessages();
    sheet.Take();
    sim->SetFault(SimFault::Silent);
    EXPECT_FALSE(controller->RestoreFactorySettings());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("Verbindung fehlgeschlagen"));
    EXPECT_EQ(controller->CurrentSet(), 0);
    EXPECT_EQ(controller->Controls().setListSelection, 0);
    // The pages follow the set, and stay on the page they were on.
    EXPECT_EQ(sheet.Last("BindPages"), "BindPages 0");
    EXPECT_EQ(sheet.Last("SetActivePage"), "");
    EXPECT_EQ(controller->MachineKind(), 14);

    sim->SetFault(SimFault::None);
    ui.openFiles.push_back(ShippedFactoryFile().string());
    ui.answers.push_back(cUserInterface::Answer::Ok);
    EXPECT_TRUE(controller->RestoreFactorySettings());
    EXPECT_EQ(controller->MachineKind(), 18);
}
