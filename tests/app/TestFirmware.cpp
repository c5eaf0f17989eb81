// "Firmware Update", "Firmware Update SUPV", the two dumps and the offer of newer firmware,
// run by the controller against the simulated machine.
#include "tests/app/ControllerFixture.h"

#include "base/FileIo.h"
#include "files/FirmwareFile.h"
#include "link/STM.h"
#include "sim/SimFirmware.h"

#include <fstream>
#include <functional>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace {

constexpr const char* kOutdated =
    "ACHTUNG\n\nDie ausgewählte Firmware ist veraltet\n\nWollen Sie den Vorgang fortsetzen";
constexpr const char* kSettingsLost =
    "Alle Benutzereinstellungen gehen verloren\n\nWollen Sie den Vorgang fortsetzen";
constexpr const char* kWriteFailed =
    "Fehler bei Übertragung der Firmware\n\nFirmware-Update bitte wiederholen";
constexpr const char* kWritten = "Firmware wurde erfolgreich übertragen";
constexpr const char* kInvalid = "ungültige Firmwaredatei";
constexpr uint32_t kArea = 0x10001000;

using Texts = std::vector<std::string>;

// A main firmware for the simulated machine: the image with its block at blockOffset inside
// the block area, and the describing block (both edited by edit).
struct Firmware {
    std::vector<uint8_t> image;
    ParameterBlock block;

    std::vector<uint8_t> File() const { return FirmwareFile::BuildMain(image, block); }
};

Firmware MakeFirmware(std::string_view version, uint16_t blockOffset = 0,
                      const std::function<void(ParameterBlock&)>& edit = {}) {
    Firmware f;
    f.block = SimFirmwareBlock(version);
    if (edit)
        edit(f.block);
    f.image = SimFirmwareImage(kSimFirmwareMemorySize, version);
    std::fill_n(f.image.begin() + 256, 1024, 0);
    std::copy(f.block.bytes.begin(), f.block.bytes.end(), f.image.begin() + 256 + blockOffset);
    if (blockOffset != 0) {
        f.image[256] = uint8_t(blockOffset >> 8);
        f.image[257] = uint8_t(blockOffset);
    }
    return f;
}

std::vector<uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& p, const std::vector<uint8_t>& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> SupervisorFile(uint32_t version) {
    return FirmwareFile::BuildSupervisor(SimSupervisorProgram(version),
                                         SimSupervisorEepromImage(version));
}

fs::path ShippedMainFile() {
    return fs::path(KELVANE_BIN_DIR) / "firmware" / "TVX18-4200_V04.03.000.bin";
}
fs::path ShippedSupervisorFile() {
    return fs::path(KELVANE_BIN_DIR) / "firmware" / "SUPV" / "SUPV_V01.00.03.bin";
}

} // namespace

class FirmwareTest : public ControllerTest {
public:
    fs::path Put(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path p = temp.path() / "files" / name;
        WriteAll(p, bytes);
        return p;
    }
    // The application area the main firmware write covers.
    std::vector<uint8_t> Area() const { return sim->Peek(kArea, sim->EmulationStart() - kArea); }
    // The image as the update writes it: the machine's serial number, electronics and clutch
    // bit 1 carried into the firmware's block.
    static std::vector<uint8_t> Expected(const Firmware& f, const ParameterBlock& machine,
                                         uint32_t span) {
        std::vector<uint8_t> image = f.image;
        const size_t at = *FirmwareFile::LocateBlock(image);
        ParameterBlock b;
        std::copy_n(image.begin() + at, 512, b.bytes.begin());
        b.SetSerialNr(machine.SerialNr());
        b.SetElAssembly(machine.ElAssembly());
        b.SetClutchLimitFlags(machine.ClutchLimitFlags() & 0x02);
        std::copy(b.bytes.begin(), b.bytes.end(), image.begin() + at);
        image.resize(span);
        return image;
    }
    std::string Shown() const {
        std::string all;
        for (const auto& m : ui.messages)
            all += "[" + m.text + "] ";
        return all;
    }
    uint64_t WritesSeen() const {
        const SimCounters c = sim->Counters();
        return c.writeCommands + c.dataFrames;
    }
};

// ---- main firmware ----

TEST_F(FirmwareTest, UpdateWritesTheFirmwareKeepsTheMachinesOwnDataAndReadsItBack) {
    struct Case {
        const char* what;
        Firmware firmware;
        fs::path file; // "" : written from firmware
    } cases[] = {
        {"shipped file", MakeFirmware(kSimFirmwareVersion), ShippedMainFile()},
        {"block at offset 64", MakeFirmware("V04.02.900", 64), {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartMachine(Options());
        VerifyPassword();
        EditMachine([](ParameterBlock& b) {
            b.SetClutchLimitFlags(0x03);
            b.SetElAssembly("EL-4711");
        });
        const ParameterBlock machine = MachineImage();
        const fs::path file = c.file.empty() ? Put("fw.bin", c.firmware.File()) : c.file;
        ui.openFiles = {file.string()};
        ui.answers = {cUserInterface::Answer::Ok};

        ASSERT_TRUE(controller->OnFirmwareUpdate()) << Shown();
        // Newer than the machine: only the question about the user settings.
        EXPECT_EQ(ui.TakeMessages(), (Texts{kSettingsLost, kWritten}));
        ASSERT_EQ(ui.fileRequests.size(), 1u);
        EXPECT_EQ(ui.fileRequests[0].folder, controller->FirmwareFolder());
        EXPECT_EQ(ui.fileRequests[0].filter, "Firmware Files (*.bin)|*.bin|");
        ui.fileRequests.clear();

        const uint32_t span = sim->EmulationStart() - kArea;
        EXPECT_EQ(Area(), Expected(c.firmware, machine, span));
        const ParameterBlock after = MachineImage();
        EXPECT_EQ(after.SwVersion(), c.firmware.block.SwVersion());
        EXPECT_EQ(after.SerialNr(), machine.SerialNr());
        EXPECT_EQ(after.ElAssembly(), "EL-4711");
        EXPECT_EQ(after.ClutchLimitFlags(), 0x02);
        // The machine was read again: the editor shows the new firmware.
        EXPECT_EQ(controller->Image(), after);
        EXPECT_EQ(controller->DataOrigin(), kDataOriginMachine);
        EXPECT_FALSE(controller->PasswordVerified());
        EXPECT_EQ(sim->Counters().writeCommands, 1u);
    }
}

TEST_F(FirmwareTest, BadFilesAreRefusedBeforeAByteGoesToTheMachine) {
    const Firmware good = MakeFirmware("V04.09.000");
    const std::vector<uint8_t> file = good.File();
    const size_t n = kSimFirmwareMemorySize;
    auto flipped = [&](size_t at) {
        std::vector<uint8_t> f = file;
        f[at] ^= 0x10;
        return f;
    };
    std::vector<uint8_t> garbage(file.size());
    std::mt19937 random(7);
    for (auto& b : garbage)
        b = uint8_t(random());
    auto other = [](auto edit, uint16_t offset = 0) {
        return MakeFirmware("V04.09.000", offset, edit).File();
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
    } cases[] = {
        {"one byte short", std::vector<uint8_t>(file.begin(), file.end() - 1), kInvalid},
        {"made for a smaller memory",
         FirmwareFile::BuildMain(SimFirmwareImage(0x8000, "V04.09.000"),
                                 SimFirmwareBlock("V04.09.000")),
         kInvalid},
        {"image seal broken", flipped(48 + 5000), kInvalid},
        {"block seal broken", flipped(48 + n + 48 + 100), kInvalid},
        {"first seal broken", flipped(3), kInvalid},
        {"garbage", garbage, kInvalid},
        {"sealed, but the block area points past itself",
         [&] {
             Firmware f = good;
             f.image[256] = 0x03;
             f.image[257] = 0x00;
             return f.File();
         }(),
         kInvalid},
        {"sealed, but the image holds another version than the file names",
         [&] {
             Firmware f = good;
             f.block.SetSwVersion("V04.10.000");
             return f.File();
         }(),
         kInvalid},
        {"major number 3", MakeFirmware("V03.09.000").File(), kInvalid},
        {"another variant", other([](ParameterBlock& b) { b.SetVariantCode(9); }),
         "Firmware passt nicht zur Maschine"},
        {"another gearbox", other([](ParameterBlock& b) { b.SetTransmission(7); }),
         "Firmware passt nicht zur Maschine"},
        {"another angle head", other([](ParameterBlock& b) { b.SetAngleHead(3); }),
         "Firmware passt nicht zur Maschine"},
        {"parameterisation bit differs",
         other([](ParameterBlock& b) { b.SetMachineFlags(b.MachineFlags() & ~1); }, 64),
         "Firmware passt nicht zur Maschine"},
    };
    const std::vector<uint8_t> area = Area();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ui.openFiles = {Put("bad.bin", c.bytes).string()};
        sim->ResetCounters();
        EXPECT_FALSE(controller->OnFirmwareUpdate());
        EXPECT_EQ(ui.TakeMessages(), (Texts{c.message}));
        EXPECT_EQ(WritesSeen(), 0u);
    }
    for (const fs::path& missing : {temp.path() / "nothing.bin", temp.path()}) {
        ui.openFiles = {missing.string()};
        EXPECT_FALSE(controller->OnFirmwareUpdate());
        EXPECT_EQ(ui.TakeMessages(), (Texts{"Firmwaredatei nicht gefunden"}));
    }
    // A cancelled dialog ends quietly.
    ui.openFiles = {std::nullopt};
    EXPECT_FALSE(controller->OnFirmwareUpdate());
    EXPECT_TRUE(ui.TakeMessages().empty());
    EXPECT_EQ(Area(), area);
    EXPECT_EQ(sim->Counters().writeCommands, 0u);
}

TEST_F(FirmwareTest, QuestionsBeforeTheWrite) {
    using A = cUserInterface::Answer;
    struct Case {
        const char* what;
        const char* version; // the machine runs V04.02.005
        std::deque<A> answers;
        Texts messages;
    } cases[] = {
        {"older, not continued", "V04.02.000", {A::Cancel}, {kOutdated}},
        {"older, continued, settings kept",
         "V04.02.000",
         {A::Ok, A::Cancel},
         {kOutdated, kSettingsLost}},
        {"the same version asks only about the settings",
         "V04.02.005",
         {A::Cancel},
         {kSettingsLost}},
        // A third number above 99 does not make 4.01 newer than 4.02.
        {"older with a large third number", "V04.01.150", {A::Cancel}, {kOutdated}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ui.openFiles = {Put("fw.bin", MakeFirmware(c.version).File()).string()};
        ui.answers = c.answers;
        sim->ResetCounters();
        EXPECT_FALSE(controller->OnFirmwareUpdate());
        EXPECT_EQ(ui.TakeMessages(), c.messages);
        EXPECT_TRUE(ui.answers.empty());
        EXPECT_EQ(WritesSeen(), 0u);
    }
    // Continued past both questions, the older firmware is written.
    ui.openFiles = {Put("fw.bin", MakeFirmware("V04.02.000").File()).string()};
    ui.answers = {A::Ok, A::Ok};
    EXPECT_TRUE(controller->OnFirmwareUpdate());
    EXPECT_EQ(MachineImage().SwVersion(), "V04.02.000");
}

TEST_F(FirmwareTest, MachineThatCannotBeReadGetsNoFileDialog) {
    struct Case {
        const char* what;
        SimFault fault;
        unsigned skip;
        std::optional<uint32_t> address;
        Texts messages;
    } cases[] = {
        {"silent", SimFault::Silent, 0, {}, {"Verbindung fehlgeschlagen"}},
        {"bytes lost", SimFault::LoseBytes, 1, 0x10001100u, {"Timeout"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim->SetFault(c.fault, c.skip, c.address);
        EXPECT_FALSE(controller->OnFirmwareUpdate());
        EXPECT_EQ(ui.TakeMessages(), c.messages);
        sim->SetFault(SimFault::None);
    }
    // Firmware before major 4 is not updated from here, and quietly so.
    EditMachine([](ParameterBlock& b) { b.SetSwVersion("V03.05.000"); });
    EXPECT_FALSE(controller->OnFirmwareUpdate());
    EXPECT_TRUE(ui.TakeMessages().empty());
    EXPECT_TRUE(ui.fileRequests.empty());
}

TEST_F(FirmwareTest, InterruptedWriteFailsAndTheNextAttemptSucceeds) {
    const Firmware fw = MakeFirmware(kSimFirmwareVersion);
    const fs::path file = Put("fw.bin", fw.File());
    const uint32_t middle = kArea + 100 * 256; // a data frame well past the block area
    for (SimFault fault : {SimFault::HangupInWrite, SimFault::RefuseData}) {
        SCOPED_TRACE(SimFaultName(fault));
        // The machine keeps its memory in a folder, so it survives the line going away.
        const fs::path state = temp.path() / SimFaultName(fault);
        fs::create_directories(state);
        SimOptions o = Options();
        o.stateDir = state.string();
        StartMachine(o);
        const ParameterBlock machine = MachineImage();
        sim->SetFault(fault, 0, middle);

        ui.openFiles = {file.string()};
        ui.answers = {cUserInterface::Answer::Ok};
        EXPECT_FALSE(controller->OnFirmwareUpdate());
        // The line going away is the adapter gone; a refusal has no further reason.
        const std::string failed =
            fault == SimFault::HangupInWrite
                ? std::string(kWriteFailed) + "\n" + PortProblemText(PortProblem::Gone)
                : std::string(kWriteFailed);
        EXPECT_EQ(ui.TakeMessages(), (Texts{kSettingsLost, failed}));
        EXPECT_FALSE(controller->PortOpen());

        // The same machine, on its line again (a hung-up line comes back as a new device).
        if (fault == SimFault::HangupInWrite) {
            EXPECT_EQ(sim->Counters().hangups, 1u);
            StartMachine(o);
        } else {
            sim->SetFault(SimFault::None);
        }
        ui.openFiles = {file.string()};
        ui.answers = {cUserInterface::Answer::Ok};
        ASSERT_TRUE(controller->OnFirmwareUpdate());
        // The block area was written before the break: the machine already names the new
        // version, so no question about an outdated firmware comes.
        EXPECT_EQ(ui.TakeMessages(), (Texts{kSettingsLost, kWritten}));
        EXPECT_EQ(Area(), Expected(fw, machine, sim->EmulationStart() - kArea));
        EXPECT_EQ(controller->Image().SwVersion(), kSimFirmwareVersion);
    }
}

// ---- the firmware write is read back, on the same machine ----

TEST_F(FirmwareTest, TheWrittenAreaIsReadBackAndADifferenceNamesItsFirstAddress) {
    const Firmware fw = MakeFirmware(kSimFirmwareVersion);
    const fs::path file = Put("fw.bin", fw.File());
    const uint32_t dropped = kArea + 77 * 256;
    struct Case {
        SimFault fault;
        std::optional<uint32_t> address;
        Texts messages;
    } cases[] = {
        {SimFault::None, {}, {kSettingsLost, kWritten}},
        // The end frame is never answered: the loader is woken again for the read-back.
        {SimFault::LostEndAck, {}, {kSettingsLost, kWritten}},
        {SimFault::DropFrame,
         dropped,
         {kSettingsLost, std::string(kWriteFailed) + "\n\nErste abweichende Adresse: 0x10005D00"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SimFaultName(c.fault));
        StartMachine(Options());
        sim->SetFault(c.fault, 0, c.address);
        ui.openFiles = {file.string()};
        ui.answers = {cUserInterface::Answer::Ok};
        const SimCounters before = sim->Counters();
        EXPECT_EQ(controller->OnFirmwareUpdate(), c.messages.back() == kWritten);
        EXPECT_EQ(ui.TakeMessages(), c.messages);
        // The whole area came back through the loader, in pieces the receive window holds.
        const uint32_t span = sim->EmulationStart() - kArea;
        EXPECT_GE(sim->Counters().readCommands - before.readCommands, span / 1024);
        EXPECT_EQ(sim->Counters().writeCommands, 1u);
    }
    EXPECT_TRUE(std::find(ui.statusTexts.begin(), ui.statusTexts.end(), "Firmware wird geprüft") !=
                ui.statusTexts.end());
}

TEST_F(FirmwareTest, AMachineSwappedBeforeTheFirmwareWriteGetsNothing) {
    const fs::path file = Put("fw.bin", MakeFirmware(kSimFirmwareVersion).File());
    sim->SetFault(SimFault::Swap);
    ui.openFiles = {file.string()};
    ui.answers = {cUserInterface::Answer::Ok};
    EXPECT_FALSE(controller->OnFirmwareUpdate());
    EXPECT_EQ(ui.TakeMessages(), (Texts{kSettingsLost, "ungültige Zielmaschine"}));
    EXPECT_EQ(WritesSeen(), 0u);

    StartMachine(Options());
    sim->SetFault(SimFault::Swap);
    const auto eeprom = sim->SupervisorEeprom();
    ui.openFiles = {ShippedSupervisorFile().string()};
    EXPECT_FALSE(controller->OnSupervisorUpdate());
    EXPECT_EQ(ui.TakeMessages(), (Texts{"ungültige Zielmaschine"}));
    EXPECT_EQ(sim->SupervisorCounters().records, 0u);
    EXPECT_NE(sim->SupervisorEeprom(), eeprom); // the other machine's, untouched
}

TEST_F(FirmwareTest, TheSupervisorsEepromIsReadBackAfterItsUpdate) {
    SupervisorFirmware fw;
    ASSERT_EQ(FirmwareFile::ReadSupervisor(ShippedSupervisorFile().string(), fw),
              FirmwareStatus::Ok);
    ui.openFiles = {ShippedSupervisorFile().string()};
    ASSERT_TRUE(controller->OnSupervisorUpdate());
    EXPECT_EQ(ui.TakeMessages(), (Texts{kWritten}));
    // Before, after the reconnect (the same machine?), and after the write.
    EXPECT_EQ(sim->SupervisorCounters().eepromReads, 3u);
    EXPECT_EQ(sim->SupervisorEeprom(), fw.eeprom);
}

// ---- recovery of a machine whose block area is not a usable image ----

TEST_F(FirmwareTest, AnUpdateCutWhileTheAreaWasErasedIsRecoveredFromTheFile) {
    const Firmware fw = MakeFirmware(kSimFirmwareVersion);
    const fs::path file = Put("fw.bin", fw.File());
    const fs::path state = temp.path() / "state";
    fs::create_directories(state);
    SimOptions o = Options();
    o.stateDir = state.string();
    o.eraseOnWrite = true;
    StartMachine(o);
    // The loader erases the area at the begin-write; the line goes in the first frame.
    sim->SetFault(SimFault::HangupInWrite, 0, kArea);
    ui.openFiles = {file.string()};
    ui.answers = {cUserInterface::Answer::Ok};
    EXPECT_FALSE(controller->OnFirmwareUpdate());
    EXPECT_EQ(ui.TakeMessages().back().rfind(kWriteFailed, 0), 0u);
    ui.fileRequests.clear();

    StartMachine(o);
    EXPECT_EQ(sim->Peek(kArea + 256, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    // A read says what it can: the block offset is out of range.
    EXPECT_FALSE(controller->OnReadFromMachine());
    ui.messages.clear();

    // Cancelled: nothing is written.
    ui.answers = {cUserInterface::Answer::Cancel};
    EXPECT_FALSE(controller->OnFirmwareUpdate());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].buttons, cUserInterface::Buttons::OkCancel);
    EXPECT_NE(ui.messages[0].text.find("nicht lesbar"), std::string::npos);
    EXPECT_TRUE(ui.fileRequests.empty());
    ui.messages.clear();
    EXPECT_EQ(sim->Counters().writeCommands, 0u);

    ui.answers = {cUserInterface::Answer::Ok};
    ui.openFiles = {file.string()};
    ASSERT_TRUE(controller->OnFirmwareUpdate()) << Shown();
    const Texts shown = ui.TakeMessages();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1], kWritten);
    // The file's own block names the machine; the machine was read again.
    std::vector<uint8_t> expected = fw.image;
    expected.resize(sim->EmulationStart() - kArea);
    EXPECT_EQ(Area(), expected);
    EXPECT_EQ(MachineImage(), fw.block);
    EXPECT_EQ(controller->Image(), fw.block);
    EXPECT_EQ(controller->DataOrigin(), kDataOriginMachine);
}

TEST_F(FirmwareTest, RecoveryIsOfferedForEveryUnusableBlockArea) {
    struct Case {
        const char* what;
        std::function<void(SimMachine&)> spoil;
    } cases[] = {
        {"offset out of range",
         [](SimMachine& m) {
             m.Poke(kArea + 256, {0x03, 0x00});
         }},
        // The check byte of the block area's read is wrong, every time.
        {"check error",
         [](SimMachine& m) { m.SetFault(SimFault::BadChecksum, 1, 0x10001100u, 1); }},
        {"no version",
         [](SimMachine& m) {
             ParameterBlock b;
             b.bytes = m.ParameterImage();
             b.SetSwVersion("Vxx.yy.zzz");
             m.SetParameterImage(b.bytes);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartMachine(Options());
        c.spoil(*sim);
        ui.answers = {cUserInterface::Answer::Cancel};
        EXPECT_FALSE(controller->OnFirmwareUpdate());
        EXPECT_TRUE(controller->FirmwareNeedsRecovery());
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].buttons, cUserInterface::Buttons::OkCancel);
        ui.messages.clear();
        // Refused where nobody can be asked.
        c.spoil(*sim);
        EXPECT_FALSE(controller->OnFirmwareUpdate(cDialogMain::Recovery::Refuse));
        EXPECT_THAT(ui.TakeMessages(),
                    ::testing::ElementsAre("Der Parameterbereich der Maschine ist nicht lesbar"));
        EXPECT_EQ(sim->Counters().writeCommands, 0u);
    }
}

// ---- offer of newer firmware ----

TEST_F(FirmwareTest, OfferNamesTheNewestMatchingFile) {
    EditMachine([](ParameterBlock& b) { b.SetSwVersion("V04.01.000"); });
    ReadMachine();
    const fs::path app = temp.path() / "app";
    const fs::path folder = app / "firmware";
    WriteAll(folder / "a_V04.01.005.bin", MakeFirmware("V04.01.005").File());
    WriteAll(folder / "b_V04.02.000.bin", MakeFirmware("V04.02.000").File());
    // Read after b: by minor x 100 + third it would count as newer.
    WriteAll(folder / "c_V04.01.150.bin", MakeFirmware("V04.01.150").File());
    WriteAll(folder / "d_other_V04.09.000.bin",
             MakeFirmware("V04.09.000", 0, [](ParameterBlock& b) { b.SetVariantCode(9); }).File());
    WriteAll(folder / "e_garbage.bin", std::vector<uint8_t>(70000, 0x5A));
    WriteAll(folder / "old" / "V03.09.000.bin", MakeFirmware("V03.09.000").File());
    fs::create_directories(folder / "SUPV");
    fs::copy_file(ShippedSupervisorFile(), folder / "SUPV" / "SUPV_V01.00.03.bin");
    controller->SetAppFolder(app);

    const std::string named = controller->OfferNewerFirmware();
    EXPECT_EQ(named, (folder / "b_V04.02.000.bin").string());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text,
              "Für diese Maschine liegt eine neuere Firmware vor:\n\n" + named);
    EXPECT_EQ(ui.messages[0].buttons, cUserInterface::Buttons::Ok);
    ui.messages.clear();

    // Nothing newer: nothing shown.
    controller->PageImage().SetSwVersion("V04.02.000");
    EXPECT_EQ(controller->OfferNewerFirmware(), "");
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(FirmwareTest, ReadOffersTheShippedFirmwareWhenTheMachineChanged) {
    int offers = 0;
    controller->SetNewerFirmwareOffer([&] {
        ++offers;
        controller->OfferNewerFirmware();
    });
    ASSERT_TRUE(controller->OnReadFromMachine());
    EXPECT_EQ(offers, 1);
    EXPECT_EQ(ui.TakeMessages(), (Texts{"Für diese Maschine liegt eine neuere Firmware vor:\n\n" +
                                        ShippedMainFile().string()}));
    // The same machine data again: no offer.
    ASSERT_TRUE(controller->OnReadFromMachine());
    EXPECT_EQ(offers, 1);
}

// ---- supervisor firmware ----

TEST_F(FirmwareTest, SupervisorUpdateWritesTheFile) {
    struct Case {
        const char* what;
        fs::path file;
        uint32_t machineVersion;
    } cases[] = {
        {"shipped, newer", ShippedSupervisorFile(), SimSupervisor::kDefaultVersion},
        {"the same version", ShippedSupervisorFile(), kSimSupervisorFirmwareVersion},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim->SetSupervisorImages(SimSupervisorEepromImage(c.machineVersion),
                                 SimSupervisor::DefaultProgram());
        SupervisorFirmware fw;
        ASSERT_EQ(FirmwareFile::ReadSupervisor(c.file.string(), fw), FirmwareStatus::Ok);
        ui.openFiles = {c.file.string()};
        EXPECT_TRUE(controller->OnSupervisorUpdate());
        EXPECT_EQ(ui.TakeMessages(), (Texts{kWritten}));
        EXPECT_EQ(ui.fileRequests.back().folder, controller->SupervisorFirmwareFolder());
        EXPECT_EQ(sim->SupervisorEeprom(), fw.eeprom);
        EXPECT_EQ(sim->SupervisorProgram(), fw.program);
        EXPECT_EQ(cSTM::SupervisorVersion(sim->SupervisorEeprom()), kSimSupervisorFirmwareVersion);
    }
    // The main controller was never woken.
    EXPECT_EQ(sim->Counters().wakeups, 0u);
}

TEST_F(FirmwareTest, SupervisorRefusalsAndFaults) {
    std::vector<uint8_t> broken = SupervisorFile(0x00010009);
    broken[48 + 4000] ^= 1;
    std::vector<uint8_t> shortFile = SupervisorFile(0x00010009);
    shortFile.pop_back();
    struct Case {
        const char* what;
        SimFault fault;
        std::optional<std::vector<uint8_t>> file; // nullopt: no dialog expected
        Texts messages;
        uint64_t records;
    } cases[] = {
        {"older", SimFault::None, SupervisorFile(0x00010001), {"Falsche Firmware-Version"}, 0},
        {"seal broken", SimFault::None, broken, {kInvalid}, 0},
        {"short", SimFault::None, shortFile, {kInvalid}, 0},
        {"wrong trigger answer",
         SimFault::SupvWrongTrigger,
         std::nullopt,
         {"Wrong Trigger", "Verbindung fehlgeschlagen"},
         0},
        {"silent", SimFault::SupvSilent, std::nullopt, {"Verbindung fehlgeschlagen"}, 0},
        // A check error is the line's: tried once more.
        {"check error at the end",
         SimFault::SupvCheckError,
         SupervisorFile(0x00010009),
         {kWriteFailed},
         260},
    };
    const auto eeprom = sim->SupervisorEeprom();
    const auto program = sim->SupervisorProgram();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim->SetFault(c.fault);
        sim->ResetCounters();
        ui.fileRequests.clear();
        if (c.file)
            ui.openFiles = {Put("supv.bin", *c.file).string()};
        EXPECT_FALSE(controller->OnSupervisorUpdate());
        EXPECT_EQ(ui.TakeMessages(), c.messages);
        EXPECT_EQ(ui.fileRequests.size(), c.file ? 1u : 0u);
        EXPECT_EQ(sim->SupervisorCounters().records, c.records);
        EXPECT_EQ(sim->SupervisorEeprom(), eeprom);
        EXPECT_EQ(sim->SupervisorProgram(), program);
        sim->SetFault(SimFault::None);
    }
    ui.openFiles = {(temp.path() / "nothing.bin").string()};
    EXPECT_FALSE(controller->OnSupervisorUpdate());
    EXPECT_EQ(ui.TakeMessages(), (Texts{"Firmwaredatei nicht gefunden"}));
}

// ---- dumps ----

TEST_F(FirmwareTest, DumpsHoldWhatTheMachineHolds) {
    ReadMachine();
    const ControllerState before = ControllerState::Of(*controller);
    const fs::path emulation = temp.path() / "dumps" / "e.bin";
    fs::create_directories(emulation.parent_path());
    ui.saveFiles = {emulation.string()};
    EXPECT_TRUE(controller->OnDumpEmulationArea());
    EXPECT_EQ(ui.TakeMessages(), (Texts{"Dump wurde erstellt"}));
    EXPECT_EQ(ReadAll(emulation), sim->Peek(sim->EmulationStart(), sim->EmulationLength()));
    EXPECT_EQ(ui.fileRequests.back().proposedName, "eeEmulationDump.bin");
    EXPECT_EQ(ui.fileRequests.back().filter, "Dump Files (*.bin)|*.bin|");
    EXPECT_EQ(controller->CurrentLink(), nullptr);
    // The edited image and the state of the editor stay.
    EXPECT_EQ(ControllerState::Of(*controller), before);

    const fs::path supervisor = temp.path() / "dumps" / "s.bin";
    ui.saveFiles = {supervisor.string()};
    EXPECT_TRUE(controller->OnDumpSupervisor());
    EXPECT_EQ(ui.TakeMessages(), (Texts{"Dump wurde erstellt"}));
    const auto eeprom = sim->SupervisorEeprom();
    EXPECT_EQ(ReadAll(supervisor), std::vector<uint8_t>(eeprom.begin(), eeprom.end()));
    EXPECT_EQ(ui.fileRequests.back().proposedName, "eeSupvDump.bin");
    EXPECT_EQ(ControllerState::Of(*controller), before);
}

TEST_F(FirmwareTest, DumpsAreWrittenWholeOrNotAtAll) {
    const fs::path old = temp.path() / "old.bin";
    const std::vector<uint8_t> oldBytes = {1, 2, 3};
    WriteAll(old, oldBytes);
    const fs::path unwritable = temp.path() / "missing" / "dump.bin";
    // A writable folder, but the name is taken by a folder.
    const fs::path aFolder = temp.path() / "taken.bin";
    fs::create_directory(aFolder);
    auto entries = [&] {
        return std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator());
    };
    const auto entriesBefore = entries();
    struct Case {
        const char* what;
        bool supervisor;
        SimFault fault;
        std::optional<uint32_t> address;
        fs::path path;
        Texts messages;
    } cases[] = {
        {"emulation area, folder missing",
         false,
         SimFault::None,
         {},
         unwritable,
         {"Datei kann nicht geöffnet werden"}},
        {"emulation area, name is a folder",
         false,
         SimFault::None,
         {},
         aFolder,
         {"Datei kann nicht geöffnet werden"}},
        {"supervisor, name is a folder",
         true,
         SimFault::None,
         {},
         aFolder,
         {"Datei kann nicht geöffnet werden"}},
        {"supervisor, folder missing",
         true,
         SimFault::None,
         {},
         unwritable,
         {"Datei kann nicht geöffnet werden"}},
        {"emulation area, read broken", false, SimFault::BadChecksum, 0, old, {"Checksum-Error"}},
        {"supervisor silent", true, SimFault::SupvSilent, {}, old, {"Verbindung fehlgeschlagen"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.fault == SimFault::BadChecksum)
            sim->SetFault(c.fault, 0, sim->EmulationStart());
        else
            sim->SetFault(c.fault);
        ui.saveFiles = {c.path.string()};
        EXPECT_FALSE(c.supervisor ? controller->OnDumpSupervisor()
                                  : controller->OnDumpEmulationArea());
        EXPECT_EQ(ui.TakeMessages(), c.messages);
        EXPECT_FALSE(fs::exists(unwritable.parent_path()));
        EXPECT_EQ(ReadAll(old), oldBytes);
        ui.saveFiles.clear();
        sim->SetFault(SimFault::None);
    }
    // No temporary file was left beside the old one.
    EXPECT_EQ(entries(), entriesBefore);
}
