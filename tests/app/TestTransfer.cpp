// "von Maschine" and "zur Maschine" against the simulated machine.
#include "tests/app/ControllerFixture.h"

#include "crypto/Digests.h"
#include "files/ConfigFile.h"
#include "link/ResultCodes.h"

#include <algorithm>

using ::testing::ElementsAre;

namespace {

using Strings = std::vector<std::string>;

// The calls of `wanted` appear in `calls` in this order (others may lie between them).
::testing::AssertionResult InOrder(const Strings& calls, const Strings& wanted) {
    size_t at = 0;
    for (const auto& w : wanted) {
        auto it = std::find(calls.begin() + static_cast<long>(at), calls.end(), w);
        if (it == calls.end())
            return ::testing::AssertionFailure()
                   << "missing (in order) '" << w << "' in " << ::testing::PrintToString(calls);
        at = static_cast<size_t>(it - calls.begin()) + 1;
    }
    return ::testing::AssertionSuccess();
}

} // namespace

// ---- result codes ----

TEST_F(ControllerTest, LinkErrorsShowTheirMessageOrNothing) {
    struct Case {
        int code;
        const char* message; // nullptr: nothing shown
    } cases[] = {
        {kResultOk, nullptr},
        {kResultRefused,
         "Die Maschine hat den Befehl abgelehnt."}, // a refusal shown by nothing else
        {kResultPortOpenFailed, nullptr},
        {kResultChecksum, "Checksum-Error"},
        {kResultTimeout, "Timeout"},
        {kResultLineSetting, "COM-Port Fehler"},
        {kResultPortFailed, "COM-Port Fehler"},
        {kResultWrongTrigger, nullptr},
    };
    for (const auto& c : cases) {
        controller->ShowLinkError(c.code);
        auto shown = ui.TakeMessages();
        if (c.message)
            EXPECT_THAT(shown, ElementsAre(c.message)) << c.code;
        else
            EXPECT_TRUE(shown.empty()) << c.code;
    }
}

// ---- von Maschine ----

TEST_F(ControllerTest, ReadTakesTheMachineImageAndRefreshesThePagesInOrder) {
    controller->MarkChanged(); // edits of an earlier image are not committed into the new one
    sheet.pendingSpeed = 1;
    ASSERT_TRUE(controller->OnReadFromMachine());
    EXPECT_TRUE(ui.TakeMessages().empty());
    const ParameterBlock machine = MachineImage();
    EXPECT_EQ(controller->Image(), machine);
    EXPECT_EQ(controller->BlockDigest(), machine.Digest());
    EXPECT_EQ(controller->FasteningCounter(), 1234u);
    EXPECT_TRUE(controller->DataLoaded());
    EXPECT_EQ(controller->DataOrigin(), kDataOriginMachine);
    EXPECT_EQ(controller->MachineKind(), 18);
    EXPECT_EQ(controller->ConfigName(), "von Maschine");
    EXPECT_FALSE(controller->SettingsChanged());
    EXPECT_TRUE(controller->Controls().writeButtonEnabled);
    EXPECT_TRUE(controller->Controls().expertBoxEnabled);
    EXPECT_FALSE(controller->PortOpen());
    EXPECT_EQ(sheet.bound, &controller->PageImage());

    const Strings calls = sheet.Take();
    EXPECT_TRUE(
        InOrder(calls, {"LockPages 0", "SetFasteningCounter 1234", "SetMachineKind 18",
                        "SetTransmission 1 1:18,2 18.2", "SetAngleHead 0 1", "SetGearFactor 1",
                        "BindPages 0", "SetClutchLimitRemoved 5 0", "RedrawStepOverview"}));
    // The limits of the catalog, in the order the pages take them.
    EXPECT_TRUE(InOrder(
        calls, {"SetLimits " + std::to_string(controller->Catalog().pageBatteryMaxSpeed) + " " +
                    std::to_string(controller->Catalog().pageMinSpeed) + " 101 170 15000",
                "BindPages 0"}));
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "LockPages 1"), 0);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "CommitSteps 5"), 0);
}

TEST_F(ControllerTest, ACounterThatCannotBeReadKeepsTheOneShown) {
    SimOptions counted = Options();
    counted.fasteningCounter = 77;
    StartMachine(counted);
    ReadMachine();
    ASSERT_EQ(controller->FasteningCounter(), 77u);
    StartMachine(Options()); // the same machine, which now counts otherwise
    controller->OnParameterSetChanged(1);
    // Every command at the emulation area is refused; the block itself reads.
    sim->SetFault(SimFault::RefuseCommand, 0, sim->EmulationStart());
    ASSERT_TRUE(controller->OnReadFromMachine());
    EXPECT_EQ(controller->Image(), MachineImage());
    EXPECT_EQ(controller->FasteningCounter(), 77u);
    EXPECT_EQ(controller->CurrentSet(), 0) << "a successful read shows set 1";

    // A read that fails leaves the image and the counter as they were; set 1 is shown, as
    // at the start of every read.
    controller->OnParameterSetChanged(1);
    controller->OnParameterSetChanged(0);
    const ControllerState before = ControllerState::Of(*controller);
    controller->OnParameterSetChanged(1);
    sim->SetFault(SimFault::RefuseCommand);
    EXPECT_FALSE(controller->OnReadFromMachine());
    EXPECT_EQ(ControllerState::Of(*controller), before);
    EXPECT_EQ(controller->CurrentSet(), 0);
    EXPECT_EQ(controller->Controls().setListSelection, 0);
}

TEST_F(ControllerTest, ReadOfAMachineThatForbidsParameterisationLocksThePages) {
    SimOptions o = Options();
    o.blockOffset = 64; // at offset 0 the flags byte is part of the block area's marker
    ParameterBlock b;
    b.bytes = SimMachine::DefaultImage();
    b.SetMachineFlags(0);
    o.image = b.bytes;
    StartMachine(o);
    ASSERT_TRUE(controller->OnReadFromMachine());
    EXPECT_TRUE(sheet.Locked());
    EXPECT_FALSE(controller->Controls().expertBoxEnabled);
}

TEST_F(ControllerTest, ReadRefusesOldFirmwareAndChangesNothing) {
    struct Case {
        const char* version;
        bool accepted;
    } cases[] = {
        {"V03.09.009", false}, {"V04.00.000", true}, {"Vxx.00.000", false}, {"V00.01.001", false}};
    // No version at all: as the firmware command sees it, only a recovery brings it back.
    const std::string recover = "Der Parameterbereich der Maschine ist nicht lesbar.\n\n"
                                "Wiederherstellung: Firmware Update mit Wiederherstellung "
                                "(kelvane-cli firmware --recover DATEI)";
    for (const auto& c : cases) {
        EditMachine([&](ParameterBlock& b) { b.SetSwVersion(c.version); });
        const ControllerState before = ControllerState::Of(*controller);
        sheet.calls.clear();
        bool ok = controller->OnReadFromMachine();
        auto shown = ui.TakeMessages();
        EXPECT_EQ(ok, c.accepted) << c.version;
        if (c.accepted) {
            EXPECT_EQ(controller->Image().SwVersion(), c.version);
        } else {
            if (c.version[1] == 'x')
                EXPECT_THAT(shown, ElementsAre("Falsche Firmware-Version", recover));
            else
                EXPECT_THAT(shown, ElementsAre("Falsche Firmware-Version")) << c.version;
            EXPECT_EQ(ControllerState::Of(*controller), before) << c.version;
            EXPECT_TRUE(sheet.calls.empty()) << c.version;
        }
    }
}

TEST_F(ControllerTest, ReadOfChangedMachineDataForgetsThePassword) {
    VerifyPassword();
    // Same data: the password stays known.
    ReadMachine();
    EXPECT_TRUE(controller->PasswordVerified());
    EditMachine([](ParameterBlock& b) { b.SetRestartLock(7); });
    ReadMachine();
    EXPECT_FALSE(controller->PasswordVerified());
    // Bytes beyond the digest range do not count as a change.
    VerifyPassword();
    EditMachine([](ParameterBlock& b) { b.bytes[500] ^= 0xFF; });
    ReadMachine();
    EXPECT_TRUE(controller->PasswordVerified());
}

TEST_F(ControllerTest, ReadFaultsAreReportedAndChangeNothing) {
    struct Case {
        SimFault fault;
        unsigned skip;
        std::optional<uint32_t> address;
        Strings messages;
    } cases[] = {
        {SimFault::Silent, 0, {}, {"Verbindung fehlgeschlagen"}},
        {SimFault::RefuseCommand, 0, {}, {"Verbindung fehlgeschlagen"}},
        // The layout query reads the block area's first two bytes; the second read is the block.
        {SimFault::RefuseCommand,
         1,
         cQVX_18::kBlockAreaAddress,
         {"Die Maschine hat den Befehl abgelehnt."}},
        {SimFault::BadChecksum, 1, cQVX_18::kBlockAreaAddress, {"Checksum-Error"}},
        {SimFault::LoseBytes, 1, cQVX_18::kBlockAreaAddress, {"Timeout"}},
        {SimFault::BadChecksum, 0, {}, {"Verbindung fehlgeschlagen"}},
    };
    ReadMachine();
    controller->MarkChanged();
    EditMachine([](ParameterBlock& b) { b.SetRestartLock(9); });
    for (const auto& c : cases) {
        const ControllerState before = ControllerState::Of(*controller);
        sim->SetFault(c.fault, c.skip, c.address);
        sheet.calls.clear();
        EXPECT_FALSE(controller->OnReadFromMachine()) << SimFaultName(c.fault);
        EXPECT_EQ(ui.TakeMessages(), c.messages) << SimFaultName(c.fault);
        EXPECT_EQ(ControllerState::Of(*controller), before) << SimFaultName(c.fault);
        EXPECT_TRUE(sheet.calls.empty()) << SimFaultName(c.fault);
        EXPECT_FALSE(controller->PortOpen()) << SimFaultName(c.fault);
        sim->SetFault(SimFault::None);
    }
    // A wake-up answer that keeps the line slow still reads.
    sim->SetFault(SimFault::BadWakeup);
    ASSERT_TRUE(controller->OnReadFromMachine()) << ::testing::PrintToString(ui.TakeMessages());
    EXPECT_EQ(controller->Image().RestartLock(), 9);
}

TEST_F(ControllerTest, ReadWithoutAPortEndsSilently) {
    sim->Stop();
    devicePath = "/dev/nonexistent-kelvane-port";
    controller->DiscoverAdapters();
    const ControllerState before = ControllerState::Of(*controller);
    EXPECT_FALSE(controller->OnReadFromMachine());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre(std::string("com-port not opend\n") +
                                               PortProblemText(PortProblem::Gone)));
    EXPECT_EQ(ControllerState::Of(*controller), before);
}

// ---- zur Maschine ----

TEST_F(ControllerTest, WriteBeforeAnyReadIsRefusedAndSendsNothing) {
    EXPECT_FALSE(controller->OnWriteToMachine());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("ungültige Konfigurationsdaten"));
    EXPECT_EQ(sim->Counters().writeCommands, 0u);
}

TEST_F(ControllerTest, WriteCommitsThePagesChecksThePasswordAndSendsTheImage) {
    ReadMachine();
    sheet.pendingSpeed = 2000; // an edit still in a page's control
    controller->MarkChanged();
    ui.passwords.push_back(std::string(SimMachine::kDefaultPassword));
    ASSERT_TRUE(controller->OnWriteToMachine()) << ::testing::PrintToString(ui.messages.size());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("Parameter wurden übertragen"));
    EXPECT_TRUE(InOrder(sheet.Take(),
                        {"CommitHeader", "CommitSteps 5", "CommitMaintenance", "CommitExpert"}));

    const ParameterBlock machine = MachineImage();
    EXPECT_EQ(machine.Step(0).Speed(), 2000);
    EXPECT_EQ(machine.WriteMark(), 1);
    EXPECT_EQ(controller->Image().WriteMark(), 1);
    EXPECT_EQ(controller->MachineImage(), machine);
    EXPECT_EQ(controller->BlockDigest(), machine.Digest());
    EXPECT_TRUE(controller->PasswordVerified());
    EXPECT_EQ(controller->VerifiedPasswordDigest(),
              PasswordDigest(std::string_view(SimMachine::kDefaultPassword)));
    EXPECT_FALSE(controller->SettingsChanged());

    // The second write to the same machine does not ask again.
    controller->PageImage().Step(0).SetSpeed(1900);
    ASSERT_TRUE(controller->OnWriteToMachine()) << ::testing::PrintToString(ui.TakeMessages());
    EXPECT_EQ(ui.passwordAsks, 1);
    EXPECT_EQ(MachineImage().Step(0).Speed(), 1900);
}

TEST_F(ControllerTest, WriteOfAnImageReadFromTheMachineKeepsTheMachineOwnedFields) {
    ReadMachine();
    controller->PageImage().SetSerialNr("FORGED");
    controller->PageImage().SetSwVersion("V09.09.009");
    controller->PageImage().SetToolId("Station 7");
    EditMachine([](ParameterBlock& b) { b.bytes[500] = 0x42; }); // outside the digest range
    ui.passwords.push_back(std::string(SimMachine::kDefaultPassword));
    ASSERT_TRUE(controller->OnWriteToMachine());
    const ParameterBlock machine = MachineImage();
    EXPECT_EQ(machine.SerialNr(), "SIM0000001");
    EXPECT_EQ(machine.SwVersion(), "V04.02.005");
    EXPECT_EQ(machine.ToolId(), "Station 7");
    EXPECT_EQ(controller->Image().SerialNr(), "SIM0000001");
}

TEST_F(ControllerTest, WriteRefusalsLeaveMachineImageAndStateAsTheyWere) {
    struct Case {
        const char* what;
        std::function<void(ControllerTest&)> arrange;
        Strings messages;
        bool forgetsPassword; // the refusal deliberately forgets a verified password
    };
    const std::vector<Case> cases = {
        {"wrong password",
         [](ControllerTest& t) { t.ui.passwords.push_back(std::string("1111")); },
         {"Ungültiges Passwort"},
         false},
        {"password dialog cancelled",
         [](ControllerTest& t) { t.ui.passwords.push_back(std::nullopt); },
         {},
         false},
        {"other gearbox",
         [](ControllerTest& t) { t.EditMachine([](ParameterBlock& b) { b.SetTransmission(2); }); },
         {"Parameter passen nicht zur Maschine"},
         true},
        {"other variant",
         [](ControllerTest& t) { t.EditMachine([](ParameterBlock& b) { b.SetVariantCode(4); }); },
         {"Parameter passen nicht zur Maschine"},
         true},
        {"other angle head",
         [](ControllerTest& t) { t.EditMachine([](ParameterBlock& b) { b.SetAngleHead(1); }); },
         {"Parameter passen nicht zur Maschine"},
         true},
        {"machine data changed since the read",
         [](ControllerTest& t) { t.EditMachine([](ParameterBlock& b) { b.SetRestartLock(5); }); },
         {"ungültige Zielmaschine"},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartMachine(Options());
        if (c.forgetsPassword)
            VerifyPassword();
        else
            ReadMachine();
        controller->PageImage().Step(0).SetSpeed(2500);
        controller->MarkChanged();
        c.arrange(*this);
        const ControllerState before = ControllerState::Of(*controller);
        ControllerState expected = before;
        expected.passwordVerified = false;
        const ParameterBlock machineBefore = MachineImage();
        sim->ResetCounters();
        EXPECT_FALSE(controller->OnWriteToMachine());
        EXPECT_EQ(ui.TakeMessages(), c.messages);
        EXPECT_EQ(sim->Counters().writeCommands, 0u);
        EXPECT_EQ(MachineImage(), machineBefore);
        EXPECT_EQ(ControllerState::Of(*controller), expected);
        EXPECT_TRUE(ui.passwords.empty());
    }
}

TEST_F(ControllerTest, WriteToAnotherMachineOfTheSameIdentityIsRefused) {
    ReadMachine();
    // Password known from a write to the first machine.
    ui.passwords.push_back(std::string(SimMachine::kDefaultPassword));
    ASSERT_TRUE(controller->OnWriteToMachine());
    ui.messages.clear();

    SimOptions o = Options();
    ParameterBlock other;
    other.bytes = SimMachine::DefaultImage();
    other.SetSerialNr("SIM0000002");
    o.image = other.bytes;
    StartMachine(o);
    EXPECT_FALSE(controller->OnWriteToMachine());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("ungültige Zielmaschine"));
    EXPECT_FALSE(controller->PasswordVerified());
    EXPECT_EQ(MachineImage(), other);
}

TEST_F(ControllerTest, WritePermissionIsNeededForAConfigurationFromAFile) {
    SimOptions o = Options();
    o.blockOffset = 64;
    ParameterBlock locked;
    locked.bytes = SimMachine::DefaultImage();
    locked.SetMachineFlags(0);
    o.image = locked.bytes;
    StartMachine(o);

    ParameterBlock file;
    file.bytes = SimMachine::DefaultImage();
    const std::string path = (temp.path() / "config.bin").string();
    ASSERT_EQ(cDialogMain::WriteConfigFile(path, cDialogMain::ConfigurationCopy(file)), 0);
    ui.openFiles.push_back(path);
    ASSERT_TRUE(controller->LoadConfiguration());
    ui.messages.clear();

    const ControllerState before = ControllerState::Of(*controller);
    EXPECT_FALSE(controller->OnWriteToMachine());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("Parametrierung ist nicht erlaubt"));
    EXPECT_EQ(ControllerState::Of(*controller), before);
    EXPECT_EQ(MachineImage(), locked);
}

TEST_F(ControllerTest, WriteOfAConfigurationFromAFileChangesOnlyStepsAndSwitches) {
    ParameterBlock file;
    file.bytes = SimMachine::DefaultImage();
    file.Step(0).SetSpeed(1111);
    file.Step(9).SetTime(999);
    file.SetRestartLock(12);
    file.SetRestartLockNio(13);
    file.SetBuzzerLock(1);
    file.SetUserTransmission(150);
    file.SetBlinkNio(1);
    file.SetClutchLimitFlags(3);
    const std::string path = (temp.path() / "config.bin").string();
    ASSERT_EQ(cDialogMain::WriteConfigFile(path, cDialogMain::ConfigurationCopy(file)), 0);
    ui.openFiles.push_back(path);
    ASSERT_TRUE(controller->LoadConfiguration());
    controller->PageImage().SetToolId("not sent");

    ParameterBlock expected = MachineImage();
    expected.bytes[108] = file.bytes[108];
    for (size_t i = 124; i <= 422; ++i)
        expected.bytes[i] = file.bytes[i];

    ui.passwords.push_back(std::string(SimMachine::kDefaultPassword));
    ASSERT_TRUE(controller->OnWriteToMachine()) << ::testing::PrintToString(ui.TakeMessages());
    EXPECT_EQ(MachineImage(), expected);
    EXPECT_EQ(MachineImage().PasswordDigest(),
              PasswordDigest(std::string_view(SimMachine::kDefaultPassword)));
}

TEST_F(ControllerTest, AChangedPasswordOnTheMachineIsAskedForAgain) {
    ReadMachine();
    ui.passwords.push_back(std::string(SimMachine::kDefaultPassword));
    ASSERT_TRUE(controller->OnWriteToMachine());
    ui.changes.push_back(cUserInterface::PasswordChange{"0000", "4321", "4321"});
    ASSERT_TRUE(controller->OnChangePassword());
    ui.messages.clear();

    ui.passwords.push_back(std::string("0000"));
    EXPECT_FALSE(controller->OnWriteToMachine());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("Ungültiges Passwort"));
    ui.passwords.push_back(std::string("4321"));
    EXPECT_TRUE(controller->OnWriteToMachine());
    EXPECT_EQ(ui.passwordAsks, 3);
    EXPECT_EQ(MachineImage().PasswordDigest(), PasswordDigest(std::string_view("4321")));
}

TEST_F(ControllerTest, WriteFaultsAreReportedAsFailures) {
    struct Case {
        SimFault fault;
        Strings messages;
    } cases[] = {
        {SimFault::RefuseData, {"Fehler bei Datenübertagung"}},
        {SimFault::HangupInWrite,
         {std::string("Fehler bei Datenübertagung\n") + PortProblemText(PortProblem::Gone)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SimFaultName(c.fault));
        StartMachine(Options());
        ReadMachine();
        controller->PageImage().Step(0).SetSpeed(2222);
        controller->MarkChanged();
        const ControllerState before = ControllerState::Of(*controller);
        sim->SetFault(c.fault);
        ui.passwords.push_back(std::string(SimMachine::kDefaultPassword));
        EXPECT_FALSE(controller->OnWriteToMachine());
        EXPECT_EQ(ui.TakeMessages(), c.messages);
        EXPECT_EQ(ControllerState::Of(*controller), before);
    }
}

TEST_F(ControllerTest, WriteConnectFaultsShowTheConnectionAndTheResultMessage) {
    ReadMachine();
    const ControllerState before = ControllerState::Of(*controller);
    // The read before the write connects first: a silent machine times out there.
    sim->SetFault(SimFault::Silent);
    EXPECT_FALSE(controller->OnWriteToMachine());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("Verbindung fehlgeschlagen", "Timeout"));
    EXPECT_EQ(ControllerState::Of(*controller), before);

    // A time-out while the machine's block is read, after a good connect: "Timeout" only.
    sim->SetFault(SimFault::LoseBytes, 1, cQVX_18::kBlockAreaAddress);
    EXPECT_FALSE(controller->OnWriteToMachine());
    EXPECT_THAT(ui.TakeMessages(), ElementsAre("Timeout"));
    EXPECT_EQ(ControllerState::Of(*controller), before);
}

namespace {

// The machine's link, except that the end frame of a block write is answered as `endResult`
// says: a refused or lost end acknowledgement as the link reports it.
class FailingEndLink : public cQVX {
public:
    FailingEndLink(std::unique_ptr<cQVX> inner, int endResult)
        : inner(std::move(inner)), endResult(endResult) {}
    int Connect() override { return inner->Connect(); }
    int ReadParameterBlock(Block d) override { return inner->ReadParameterBlock(d); }
    uint32_t GetMemorySize() const override { return inner->GetMemorySize(); }
    int ReadFasteningCounter(uint32_t& c) override { return inner->ReadFasteningCounter(c); }
    int DumpEmulationArea(const std::string& p) override { return inner->DumpEmulationArea(p); }
    int WriteBlockArea(ConstBlock s, int& end) override {
        int r = inner->WriteBlockArea(s, end);
        end = endResult;
        return r;
    }
    std::span<const uint8_t> SentBlockArea() const override { return inner->SentBlockArea(); }
    int ReadArea(uint32_t a, std::span<uint8_t> d, const std::function<void(int)>& p) override {
        return inner->ReadArea(a, d, p);
    }
    uint16_t BlockOffset() const override { return inner->BlockOffset(); }

private:
    std::unique_ptr<cQVX> inner;
    int endResult;
};

} // namespace

TEST_F(ControllerTest, AWriteWhoseEndFrameFailsIsJudgedByTheReadBack) {
    for (int code : {kResultRefused, kResultTimeout}) {
        SCOPED_TRACE(code);
        ReadMachine();
        controller->PageImage().Step(0).SetSpeed(2500);
        controller->MarkChanged();
        controller->UseLink(std::make_unique<FailingEndLink>(controller->TakeLink(), code));
        ui.passwords.push_back(std::string(SimMachine::kDefaultPassword));
        EXPECT_TRUE(controller->OnWriteToMachine());
        EXPECT_THAT(ui.TakeMessages(), ElementsAre("Parameter wurden übertragen"));
        EXPECT_EQ(MachineImage().Step(0).Speed(), 2500);
        controller->TakeLink();
    }
}

// ---- what the pages ask after a read ----

TEST_F(ControllerTest, ABatteryThatCannotReachTheSpeedsIsChangedOnlyWhenConfirmed) {
    ReadMachine();
    const int maxAt18 = controller->BatteryMaxSpeed();
    controller->SetBatteryVoltage(12);
    sheet.speedsReachable = false;
    ui.answers.push_back(cUserInterface::Answer::Cancel);
    EXPECT_FALSE(controller->CheckBatterySpeeds(18));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].buttons, cUserInterface::Buttons::OkCancel);
    EXPECT_EQ(ui.messages[0].text.rfind("ACHTUNG\n\nMit diesem Akku", 0), 0u);
    EXPECT_EQ(controller->BatteryVoltage(), 18);
    EXPECT_EQ(controller->BatteryMaxSpeed(), maxAt18);
    EXPECT_EQ(sheet.Last("SetBattery"), "SetBattery 18 " + std::to_string(maxAt18));
    ui.messages.clear();

    controller->SetBatteryVoltage(12);
    ui.answers.push_back(cUserInterface::Answer::Ok);
    sheet.calls.clear();
    EXPECT_TRUE(controller->CheckBatterySpeeds(18));
    EXPECT_EQ(controller->BatteryVoltage(), 12);
    const int maxAt12 = controller->BatteryMaxSpeed();
    EXPECT_NE(maxAt12, maxAt18);
    EXPECT_TRUE(InOrder(sheet.Take(),
                        {"CheckBattery " + std::to_string(maxAt12), "CommitSteps 5",
                         "SetBattery 12 " + std::to_string(maxAt12),
                         "SetLimits " + std::to_string(maxAt12) + " " +
                             std::to_string(controller->Catalog().pageMinSpeed) + " 101 170 15000",
                         "BindPages 0"}));
}
