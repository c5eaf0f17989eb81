// The road every parameter write takes, against the simulated machine and its faults: the
// check before anything is sent, the same machine after the reconnect, one more try after a
// line failure, the read-back that decides, and what the history is told.
#include "tests/app/ControllerFixture.h"

#include "crypto/Digests.h"
#include "files/ConfigFile.h"
#include "link/ResultCodes.h"

using ::testing::ElementsAre;

namespace {

using Strings = std::vector<std::string>;

constexpr const char* kWritten = "Parameter wurden übertragen";
constexpr const char* kWriteFailed = "Fehler bei Datenübertagung";
constexpr const char* kWrongMachine = "ungültige Zielmaschine";
constexpr const char* kSettingsLost =
    "Alle Benutzereinstellungen gehen verloren\n\nWollen Sie den Vorgang fortsetzen";
constexpr uint32_t kBlockArea = 0x10001100;

// Remembers what the controller tells the history.
class RecordingJournal : public cMachineJournal {
public:
    int64_t Backup(const MachineEvent& event, std::string&) override {
        backups.push_back(event);
        return int64_t(backups.size());
    }
    bool Record(int64_t id, const MachineEvent& event, std::string&) override {
        records.emplace_back(id, event);
        return true;
    }
    // The records of one command (reads are recorded too).
    std::vector<std::pair<int64_t, MachineEvent>> Of(const std::string& command) const {
        std::vector<std::pair<int64_t, MachineEvent>> found;
        for (const auto& r : records)
            if (r.second.command == command)
                found.push_back(r);
        return found;
    }
    std::vector<MachineEvent> backups;
    std::vector<std::pair<int64_t, MachineEvent>> records;
};

} // namespace

class WriteRoadTest : public ControllerTest {
public:
    void SetUp() override {
        ControllerTest::SetUp();
        controller->SetJournal(&journal);
    }
    // Read, edit step 1's speed, and answer the password dialog of the write.
    void PrepareWrite(uint16_t speed = 2222) {
        ReadMachine();
        controller->PageImage().Step(0).SetSpeed(speed);
        controller->MarkChanged();
        ui.passwords.push_back(std::string(SimMachine::kDefaultPassword));
    }
    uint64_t WriteCommands() const { return sim->Counters().writeCommands; }
    // A factory file for the simulated machine, its speed of step 1 changed.
    std::string FactoryFile() {
        ParameterBlock f = MachineImage();
        f.SetWriteMark(0);
        f.Step(0).SetSpeed(1111);
        const auto path = temp.path() / "factory.bin";
        EXPECT_EQ(cDialogMain::WriteConfigFile(path.string(), f), 0);
        return path.string();
    }

    // The three commands that write a parameter image, each set up to reach its write.
    struct Command {
        const char* name;
        std::function<bool()> run;
    };
    std::vector<Command> Commands() {
        return {
            {"zur Maschine",
             [this] {
                 PrepareWrite();
                 return controller->OnWriteToMachine();
             }},
            {"Passwort ändern",
             [this] {
                 ui.changes.push_back(cUserInterface::PasswordChange{"0000", "4321", "4321"});
                 return controller->OnChangePassword();
             }},
            {"Werkseinstellung",
             [this] {
                 ui.openFiles.push_back(FactoryFile());
                 ui.answers.push_back(cUserInterface::Answer::Ok);
                 return controller->RestoreFactorySettings();
             }},
        };
    }

    RecordingJournal journal;
};

// ---- the read-back decides ----

TEST_F(WriteRoadTest, TheReadBackAndNotTheEndFrameDecides) {
    struct Case {
        SimFault fault;
        std::optional<uint32_t> address;
        bool written;
    } cases[] = {
        {SimFault::None, {}, true},
        // The end frame is taken but never answered: the loader is woken again to read back.
        {SimFault::LostEndAck, {}, true},
        // Every frame acknowledged, one of them not stored.
        {SimFault::DropFrame, kBlockArea, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SimFaultName(c.fault));
        StartMachine(Options());
        journal.records.clear();
        PrepareWrite();
        const ParameterBlock machineBefore = MachineImage();
        const ControllerState before = ControllerState::Of(*controller);
        sim->SetFault(c.fault, 0, c.address);
        EXPECT_EQ(controller->OnWriteToMachine(), c.written);
        const auto records = journal.Of("zur Maschine");
        ASSERT_EQ(records.size(), 1u);
        const MachineEvent& event = records[0].second;
        EXPECT_EQ(event.command, "zur Maschine");
        EXPECT_EQ(event.before, machineBefore);
        if (c.written) {
            EXPECT_THAT(ui.TakeMessages(), ElementsAre(kWritten));
            EXPECT_EQ(MachineImage().Step(0).Speed(), 2222);
            EXPECT_EQ(controller->BlockDigest(), MachineImage().Digest());
            EXPECT_EQ(event.result, 0);
            EXPECT_EQ(event.after, MachineImage());
        } else {
            EXPECT_THAT(ui.TakeMessages(), ElementsAre(kWriteFailed));
            EXPECT_EQ(ControllerState::Of(*controller), before);
            EXPECT_NE(event.result, 0);
            EXPECT_EQ(event.message, kWriteFailed);
        }
        EXPECT_EQ(WriteCommands(), 1u);
    }
}

TEST_F(WriteRoadTest, PasswordChangeAndFactoryRestoreAreJudgedByTheReadBackToo) {
    for (SimFault fault : {SimFault::LostEndAck, SimFault::DropFrame}) {
        SCOPED_TRACE(SimFaultName(fault));
        StartMachine(Options());
        const bool stored = fault == SimFault::LostEndAck;
        sim->SetFault(fault, 0,
                      fault == SimFault::DropFrame ? kBlockArea : std::optional<uint32_t>{});
        ui.changes.push_back(cUserInterface::PasswordChange{"0000", "4321", "4321"});
        EXPECT_EQ(controller->OnChangePassword(), stored);
        EXPECT_THAT(ui.TakeMessages(), ElementsAre(stored ? "Passwort wurde geändert"
                                                          : "Passwort wurde nicht geändert"));

        StartMachine(Options());
        sim->SetFault(fault, 0,
                      fault == SimFault::DropFrame ? kBlockArea : std::optional<uint32_t>{});
        ui.openFiles.push_back(FactoryFile());
        ui.answers.push_back(cUserInterface::Answer::Ok);
        EXPECT_EQ(controller->RestoreFactorySettings(), stored);
        const Strings shown = ui.TakeMessages();
        ASSERT_GE(shown.size(), 2u);
        EXPECT_EQ(shown[1], stored ? "Werkseinstellungen wurden wieder hergestellt" : kWriteFailed);
        EXPECT_EQ(MachineImage().Step(0).Speed() == 1111, stored);
    }
}

// ---- a line failure is tried once more, a refusal is not ----

TEST_F(WriteRoadTest, ALineFailureIsTriedOnceMoreARefusalIsShownAtOnce) {
    struct Case {
        const char* what;
        SimFault fault;
        unsigned skip, count;
        std::optional<uint32_t> address;
        bool written;
        uint64_t writes;
        bool held; // what the machine holds afterwards
    } cases[] = {
        // Block-area reads of a write: two by the read before it, two after the reconnect,
        // then the read-back, which comes with a wrong check byte once.
        {"check error in the read-back once", SimFault::BadChecksum, 4, 1, kBlockArea, true, 2,
         true},
        // The machine may well hold it; unconfirmed, it is not reported as written.
        {"check error from the read-back on", SimFault::BadChecksum, 4, 0, kBlockArea, false, 1,
         true},
        {"refused data frame", SimFault::RefuseData, 0, 0, {}, false, 1, false},
        // The device is gone: the second try cannot even open the port.
        {"line gone in a data frame", SimFault::HangupInWrite, 0, 0, {}, false, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartMachine(Options());
        PrepareWrite();
        const ControllerState before = ControllerState::Of(*controller);
        sim->SetFault(c.fault, c.skip, c.address, c.count);
        EXPECT_EQ(controller->OnWriteToMachine(), c.written);
        const Strings shown = ui.TakeMessages();
        ASSERT_FALSE(shown.empty());
        // A line that went away adds why.
        EXPECT_EQ(shown.back().rfind(c.written ? kWritten : kWriteFailed, 0), 0u) << shown.back();
        if (c.fault != SimFault::HangupInWrite) {
            EXPECT_EQ(shown.size(), 1u) << ::testing::PrintToString(shown);
        }
        EXPECT_EQ(WriteCommands(), c.writes);
        EXPECT_EQ(MachineImage().Step(0).Speed() == 2222, c.held);
        if (!c.written) {
            EXPECT_EQ(ControllerState::Of(*controller), before);
        }
    }
}

// ---- a sign of life while the frames go out ----

TEST_F(WriteRoadTest, EveryParameterWriteShowsItsProgressFrameByFrame) {
    for (auto& command : Commands()) {
        SCOPED_TRACE(command.name);
        StartMachine(Options());
        ui.progress.clear();
        EXPECT_TRUE(command.run());
        ui.TakeMessages();
        EXPECT_THAT(ui.progress, ElementsAre("show", "0", "25", "50", "75", "100", "hide"));
    }
    // A write cut in its frames still takes the bar away, on each try.
    StartMachine(Options());
    PrepareWrite();
    ui.progress.clear();
    sim->SetFault(SimFault::RefuseData, 1, {}, 0);
    EXPECT_FALSE(controller->OnWriteToMachine());
    ui.TakeMessages();
    EXPECT_THAT(ui.progress, ElementsAre("show", "0", "25", "hide"));
}

// ---- the same machine throughout ----

TEST_F(WriteRoadTest, AMachineSwappedBeforeTheWriteGetsNothing) {
    for (auto& command : Commands()) {
        SCOPED_TRACE(command.name);
        StartMachine(Options());
        journal.records.clear();
        // The command's own read is the first wake-up (for "zur Maschine" the read before the
        // edit comes first); the reconnect for the write finds another machine.
        const bool editFirst = std::string(command.name) == "zur Maschine";
        sim->SetFault(SimFault::Swap, editFirst ? 1 : 0);
        EXPECT_FALSE(command.run());
        const Strings shown = ui.TakeMessages();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back(), kWrongMachine);
        EXPECT_EQ(WriteCommands(), 0u);
        EXPECT_EQ(sim->Counters().dataFrames, 0u);
        EXPECT_EQ(MachineImage().SerialNr(), "SIM0000777");
        EXPECT_FALSE(controller->PasswordVerified());
        const auto records = journal.Of(command.name);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_NE(records[0].second.result, 0);
    }
}

// ---- only a checked image goes out ----

TEST_F(WriteRoadTest, AFindingOfTheCheckStopsEveryWriteAndNamesTheFields) {
    std::vector<ParameterBlock> checked;
    controller->SetWriteCheck([&](const ParameterBlock& outgoing, const ParameterBlock&,
                                  const MachineCatalog&, uint16_t) {
        checked.push_back(outgoing);
        return std::vector<WriteFinding>{{"Drehzahl", "außerhalb des erlaubten Bereichs", 0, 124},
                                         {"Maschinentyp", "anders als in der Maschine", -1, 3}};
    });
    for (auto& command : Commands()) {
        SCOPED_TRACE(command.name);
        StartMachine(Options());
        checked.clear();
        journal.backups.clear();
        EXPECT_FALSE(command.run());
        const Strings shown = ui.TakeMessages();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back(), "Die Daten können nicht gesendet werden:\n"
                                "Programmschritt 1: Drehzahl: außerhalb des erlaubten Bereichs\n"
                                "Maschinentyp: anders als in der Maschine");
        EXPECT_EQ(checked.size(), 1u);
        EXPECT_EQ(WriteCommands(), 0u);
        // Nothing reached the machine, so there is nothing to back up.
        EXPECT_TRUE(journal.backups.empty());
    }
}

TEST_F(WriteRoadTest, TheBackupIsMadeBeforeTheFirstWrittenByte) {
    SimOptions counted = Options();
    counted.fasteningCounter = 4321;
    StartMachine(counted);
    PrepareWrite();
    const ParameterBlock machineBefore = MachineImage();
    ASSERT_TRUE(controller->OnWriteToMachine());
    ASSERT_EQ(journal.backups.size(), 1u);
    EXPECT_EQ(journal.backups[0].command, "zur Maschine");
    EXPECT_EQ(journal.backups[0].before, machineBefore);
    EXPECT_EQ(journal.backups[0].fasteningCounter, 4321u);
    const auto records = journal.Of("zur Maschine");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].first, 1);
    EXPECT_EQ(records[0].second.message, kWritten);
}
