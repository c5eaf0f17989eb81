// The service history as the controller keeps it, against the simulated machine: reads
// recorded, a backup before the first data frame of a write, a write refused without its
// backup, and an entry taken back into the editor.
#include "tests/app/ControllerFixture.h"

#include "app/HistoryJournal.h"

#include <functional>

namespace fs = std::filesystem;

namespace {

// The journal, with a look at the machine at the moment a backup is stored.
class ProbeJournal : public cHistoryJournal {
public:
    int64_t Backup(const MachineEvent& event, std::string& error) override {
        if (onBackup)
            onBackup(event);
        return cHistoryJournal::Backup(event, error);
    }
    std::function<void(const MachineEvent&)> onBackup;
};

constexpr const char* kNoBackup = "Die Sicherung des Maschinenzustands konnte nicht gespeichert";

} // namespace

class HistoryTest : public ControllerTest {
public:
    void SetUp() override {
        ControllerTest::SetUp();
        std::string notice, error;
        ASSERT_TRUE(journal.Open(temp.path() / "data", notice, error)) << error;
        EXPECT_EQ(notice, "");
        controller->journal = &journal;
    }
    std::vector<HistoryEntry> Entries() {
        HistoryError error;
        return journal.store.Entries("SIM0000001", error, true);
    }
    uint64_t WritesSeen() const {
        const SimCounters c = sim->Counters();
        return c.writeCommands + c.dataFrames;
    }
    // Read, then an edit of step 1's time ready to be written with the password given.
    void EditAfterRead(uint16_t time) {
        ReadMachine();
        controller->image.Step(0).SetTime(time);
        controller->MarkChanged();
        ui.passwords = {SimMachine::kDefaultPassword};
    }
    ProbeJournal journal;
};

TEST_F(HistoryTest, ReadsAreRecordedWithTheImageAndTheCounter) {
    ReadMachine();
    std::vector<HistoryEntry> entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].command, "von Maschine");
    EXPECT_EQ(entries[0].result, 0);
    EXPECT_EQ(entries[0].machineType, "TVX18-4200");
    EXPECT_EQ(entries[0].swVersion, "V04.02.005");
    EXPECT_EQ(entries[0].fasteningCounter, 1234u);
    ASSERT_TRUE(entries[0].after);
    EXPECT_EQ(*entries[0].after, MachineImage());

    // A read that fails on the line is recorded with its result.
    sim->SetFault(SimFault::LoseBytes, 1, cQVX_18::kBlockAreaAddress);
    EXPECT_FALSE(controller->OnReadFromMachine());
    HistoryError error;
    std::vector<HistoryMachine> machines = journal.store.Machines(error);
    ASSERT_EQ(machines.size(), 2u);
    EXPECT_EQ(machines[1].serialNr, "SIM0000001");
    EXPECT_EQ(machines[1].fasteningCounter, 1234u);
}

TEST_F(HistoryTest, WriteIsBackedUpBeforeItsFirstDataFrame) {
    EditAfterRead(321);
    const ParameterBlock before = MachineImage();
    std::optional<uint64_t> writesAtBackup;
    journal.onBackup = [&](const MachineEvent&) { writesAtBackup = WritesSeen(); };
    ASSERT_TRUE(controller->OnWriteToMachine()) << ::testing::PrintToString(ui.TakeMessages());
    ASSERT_TRUE(writesAtBackup);
    EXPECT_EQ(*writesAtBackup, 0u);
    EXPECT_GT(WritesSeen(), 0u);

    std::vector<HistoryEntry> entries = Entries();
    ASSERT_EQ(entries.size(), 2u); // the read, then the write
    const HistoryEntry& write = entries[0];
    EXPECT_EQ(write.command, "zur Maschine");
    EXPECT_EQ(write.result, 0);
    EXPECT_EQ(write.message, "Parameter wurden übertragen");
    ASSERT_TRUE(write.before && write.after);
    EXPECT_EQ(*write.before, before);
    EXPECT_EQ(*write.after, MachineImage());
    EXPECT_EQ(write.after->Step(0).Time(), 321);
}

TEST_F(HistoryTest, WriteWithoutItsBackupSendsNothingUnlessTheUserAgrees) {
    EditAfterRead(555);
    journal.store.Close(); // every backup now fails
    const ParameterBlock before = MachineImage();
    ui.answers = {cUserInterface::Answer::No};
    EXPECT_FALSE(controller->OnWriteToMachine());
    std::vector<std::string> shown = ui.TakeMessages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind(kNoBackup, 0), 0u) << shown[0];
    EXPECT_EQ(ui.messages.size(), 0u);
    EXPECT_EQ(WritesSeen(), 0u);
    EXPECT_EQ(MachineImage(), before);

    // Agreed: the write goes on unguarded.
    ui.answers = {cUserInterface::Answer::Yes};
    ui.passwords = {SimMachine::kDefaultPassword};
    EXPECT_TRUE(controller->OnWriteToMachine());
    EXPECT_EQ(MachineImage().Step(0).Time(), 555);
}

TEST_F(HistoryTest, RestoreTakesTheEntrysImageAsALoadedConfiguration) {
    EditAfterRead(700);
    const ParameterBlock before = MachineImage();
    ASSERT_TRUE(controller->OnWriteToMachine());
    ui.messages.clear();
    const int64_t writeId = Entries()[0].id;

    ASSERT_TRUE(controller->RestoreFromHistory(writeId));
    EXPECT_EQ(controller->image, before);
    EXPECT_EQ(controller->dataOrigin, kDataOriginFile);
    EXPECT_EQ(controller->configName, "Verlauf #" + std::to_string(writeId));
    EXPECT_TRUE(ui.TakeMessages().empty());

    // Written with every check of "zur Maschine": the machine's steps are those of before.
    ui.passwords = {SimMachine::kDefaultPassword};
    ASSERT_TRUE(controller->OnWriteToMachine()) << ::testing::PrintToString(ui.TakeMessages());
    EXPECT_EQ(MachineImage().Step(0).Time(), before.Step(0).Time());
    ui.messages.clear();

    // An entry that does not exist, and one of another machine (asked; No keeps the editor).
    EXPECT_FALSE(controller->RestoreFromHistory(9999));
    EXPECT_EQ(ui.TakeMessages().size(), 1u);
    HistoryEntry other;
    other.command = "von Maschine";
    other.result = 0;
    ParameterBlock otherImage = before;
    otherImage.SetSerialNr("OTHER-77");
    other.after = otherImage;
    other.TakeIdentity(otherImage);
    HistoryError error;
    const int64_t otherId = journal.store.Add(other, error);
    ReadMachine();
    const ParameterBlock editor = controller->image;
    ui.answers = {cUserInterface::Answer::No};
    EXPECT_FALSE(controller->RestoreFromHistory(otherId));
    std::vector<std::string> shown = ui.TakeMessages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("anderen Maschine"), std::string::npos);
    EXPECT_NE(shown[0].find("OTHER-77"), std::string::npos);
    EXPECT_EQ(controller->image, editor);
}
