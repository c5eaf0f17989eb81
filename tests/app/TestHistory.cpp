// The service history as the controller keeps it, against the simulated machine: reads
// recorded, a backup before the first data frame of a write, a write refused without its
// backup, and an entry taken back into the editor.
#include "tests/app/ControllerFixture.h"

#include "app/HistoryJournal.h"
#include "app/HistoryModel.h"
#include "base/FileIo.h"

#include <algorithm>
#include <functional>
#include <sqlite3.h>

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
        controller->SetJournal(&journal);
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
        controller->PageImage().Step(0).SetTime(time);
        controller->MarkChanged();
        ui.passwords = {SimMachine::kDefaultPassword};
    }
    ProbeJournal journal;
};

// A failure says what the code means, with the code for the service report.
TEST(HistoryModel, ResultText) {
    const std::pair<std::optional<int>, const char*> cases[] = {{std::nullopt, "offen"},
                                                                {0, "OK"},
                                                                {-7, "Timeout (-7)"},
                                                                {-102, "COM-Port Fehler (-102)"},
                                                                {-1, "Fehler (-1)"}};
    for (const auto& [result, text] : cases) {
        HistoryEntry e;
        e.result = result;
        EXPECT_EQ(cHistoryModel::ResultText(e), text);
    }
}

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

// The window and the CLI restore alike: the machine as the entry had it, maintenance data
// included, but its identity; the user is told before what comes back and what stays, after
// which fields were written.
TEST_F(HistoryTest, RestoreBringsTheWholeEntryBackButTheMachinesIdentity) {
    EditMachine([](ParameterBlock& b) {
        b.SetCalName("");
        b.SetServiceDueCounter(0);
    });
    const ParameterBlock entryImage = MachineImage();
    HistoryEntry entry;
    entry.command = "von Maschine";
    entry.result = 0;
    entry.after = entryImage;
    entry.TakeIdentity(entryImage);
    HistoryError error;
    const int64_t id = journal.store.Add(entry, error);
    ASSERT_GT(id, 0);
    auto later = [this] {
        EditMachine([](ParameterBlock& b) {
            b.SetCalName("Auditor");
            b.SetServiceDueCounter(5000);
            b.Step(0).SetTime(777);
        });
    };

    // Cancelled after the list: nothing written.
    later();
    const uint64_t writes = WritesSeen();
    ui.answers = {cUserInterface::Answer::Cancel};
    EXPECT_FALSE(controller->RestoreFromHistory(id));
    EXPECT_EQ(WritesSeen(), writes);
    ui.TakeMessages();

    ui.answers = {cUserInterface::Answer::Ok};
    ui.passwords = {SimMachine::kDefaultPassword};
    ASSERT_TRUE(controller->RestoreFromHistory(id));
    const std::vector<std::string> shown = ui.TakeMessages();
    // The list before, in captions with the record names beside them; after it one box.
    ASSERT_EQ(shown.size(), 2u) << ::testing::PrintToString(shown);
    for (const char* part :
         {"calName", "Auditor", "serviceDueCounter", "5000", "set1.step1.time", "Programmschritt 1",
          "Von der Maschine bleiben", "Seriennummer", "Passwort"})
        EXPECT_NE(shown[0].find(part), std::string::npos) << part << "\n" << shown[0];
    EXPECT_EQ(shown[1].rfind("Parameter wurden übertragen\n", 0), 0u) << shown[1];
    for (const char* part : {"geschrieben", "calName", "serviceDueCounter", "set1.step1.time"})
        EXPECT_NE(shown[1].find(part), std::string::npos) << part << "\n" << shown[1];
    const ParameterBlock now = MachineImage();
    EXPECT_EQ(now.CalName(), "");
    EXPECT_EQ(now.ServiceDueCounter(), 0u);
    EXPECT_EQ(now.Step(0).Time(), entryImage.Step(0).Time());
    EXPECT_EQ(now.SerialNr(), entryImage.SerialNr());

    // Again: nothing to do, said so.
    EXPECT_TRUE(controller->RestoreFromHistory(id));
    EXPECT_THAT(ui.TakeMessages(), ElementsAre(::testing::HasSubstr("bereits")));

    // An entry that does not exist, and one of another machine: refused, nothing written.
    EXPECT_FALSE(controller->RestoreFromHistory(9999));
    EXPECT_EQ(ui.TakeMessages().size(), 1u);
    HistoryEntry other = entry;
    ParameterBlock otherImage = entryImage;
    otherImage.SetSerialNr("OTHER-77");
    other.after = otherImage;
    other.TakeIdentity(otherImage);
    const int64_t otherId = journal.store.Add(other, error);
    later();
    const uint64_t before = WritesSeen();
    EXPECT_FALSE(controller->RestoreFromHistory(otherId));
    const std::vector<std::string> refused = ui.TakeMessages();
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_NE(refused[0].find("anderen Maschine"), std::string::npos);
    EXPECT_NE(refused[0].find("OTHER-77"), std::string::npos);
    EXPECT_EQ(WritesSeen(), before);
    EXPECT_EQ(MachineImage().CalName(), "Auditor");
}

// Every write stores the machine's state before its first data frame (main controller) or its
// first record (supervisor), and the entry is completed with the outcome.
TEST_F(HistoryTest, EveryWriteIsBackedUpBeforeItsFirstByte) {
    const fs::path bin = KELVANE_BIN_DIR;
    struct Case {
        const char* command;
        std::function<void(HistoryTest&)> prepare;
        std::function<bool(cDialogMain&)> run;
    };
    const Case cases[] = {
        {"zur Maschine", [](HistoryTest& t) { t.EditAfterRead(432); },
         [](cDialogMain& c) { return c.OnWriteToMachine(); }},
        {"Passwort ändern",
         [](HistoryTest& t) {
             t.ReadMachine();
             t.ui.changes.push_back(cUserInterface::PasswordChange{"0000", "4321", "4321"});
         },
         [](cDialogMain& c) { return c.OnChangePassword(); }},
        {"Werkseinstellung",
         [bin](HistoryTest& t) {
             t.VerifyPassword();
             t.ui.openFiles.push_back(
                 (bin / "factorySettings" / cDialogMain::ProposedFactoryName(t.MachineImage()))
                     .string());
             t.ui.answers.push_back(cUserInterface::Answer::Ok);
         },
         [](cDialogMain& c) { return c.RestoreFactorySettings(); }},
        {"Firmware Update",
         [bin](HistoryTest& t) {
             t.ui.openFiles = {(bin / "firmware" / "TVX18-4200_V04.03.000.bin").string()};
             t.ui.answers = {cUserInterface::Answer::Ok, cUserInterface::Answer::No};
         },
         [](cDialogMain& c) { return c.OnFirmwareUpdate(); }},
        {"Firmware Update SUPV",
         [bin](HistoryTest& t) {
             t.ui.openFiles = {(bin / "firmware" / "SUPV" / "SUPV_V01.00.03.bin").string()};
         },
         [](cDialogMain& c) { return c.OnSupervisorUpdate(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        StartMachine(Options());
        ui.messages.clear();
        c.prepare(*this);
        sim->ResetCounters();
        const ParameterBlock before = MachineImage();
        const auto eeprom = sim->SupervisorEeprom();
        std::optional<uint64_t> sentAtBackup;
        journal.onBackup = [&](const MachineEvent&) {
            sentAtBackup = WritesSeen() + sim->SupervisorCounters().records;
        };
        EXPECT_TRUE(c.run(*controller)) << ::testing::PrintToString(ui.TakeMessages());
        journal.onBackup = nullptr;
        ASSERT_TRUE(sentAtBackup);
        EXPECT_EQ(*sentAtBackup, 0u);
        EXPECT_GT(WritesSeen() + sim->SupervisorCounters().records, 0u);

        HistoryError error;
        std::optional<HistoryEntry> backup =
            journal.store.LastBackup("SIM0000001", c.command, error);
        if (std::string(c.command) == "Firmware Update SUPV") {
            // The supervisor names no serial number: its entry holds the EEPROM read before.
            bool found = false;
            for (const HistoryMachine& m : journal.store.Machines(error))
                for (const HistoryEntry& e : journal.store.Entries(m.serialNr, error, true))
                    if (e.command == c.command) {
                        found = true;
                        EXPECT_EQ(e.extra, std::vector<uint8_t>(eeprom.begin(), eeprom.end()));
                        EXPECT_EQ(e.result, 0);
                    }
            EXPECT_TRUE(found);
            continue;
        }
        ASSERT_TRUE(backup);
        EXPECT_EQ(*backup->before, before);
        EXPECT_EQ(backup->result, 0);
    }
}

// An update cut after the loader erased the machine, then repeated: the repeat's own backup
// holds the erased machine, so the settings offered are those of the backup before the cut
// update, named by its time.
TEST_F(HistoryTest, ARepeatedUpdateOffersTheSettingsFromBeforeTheCutOne) {
    const fs::path shipped = fs::path(KELVANE_BIN_DIR) / "firmware" / "TVX18-4200_V04.03.000.bin";
    const fs::path state = temp.path() / "state";
    fs::create_directories(state);
    SimOptions o = Options();
    o.stateDir = state.string();
    o.eraseOnWrite = true;
    StartMachine(o);
    EditMachine([](ParameterBlock& b) { b.Step(0).SetTime(777); });
    sim->SetFault(SimFault::HangupInWrite, 0, cQVX_18::kApplicationAddress);
    ui.openFiles = {shipped.string()};
    ui.answers = {cUserInterface::Answer::Ok};
    EXPECT_FALSE(controller->OnFirmwareUpdate());
    ui.TakeMessages();

    StartMachine(o);
    ui.openFiles = {shipped.string()};
    ui.answers = {cUserInterface::Answer::Ok, cUserInterface::Answer::Yes};
    ui.passwords = {SimMachine::kDefaultPassword};
    ASSERT_TRUE(controller->OnFirmwareUpdate()) << ::testing::PrintToString(ui.TakeMessages());
    const std::vector<std::string> shown = ui.TakeMessages();
    const auto offer = std::find_if(shown.begin(), shown.end(), [](const std::string& m) {
        return m.find("Benutzereinstellungen gelöscht") != std::string::npos;
    });
    ASSERT_NE(offer, shown.end()) << ::testing::PrintToString(shown);
    HistoryError error;
    const std::vector<HistoryEntry> entries = journal.store.Entries("SIM0000001", error, true);
    const auto cut = std::find_if(entries.begin(), entries.end(), [](const HistoryEntry& e) {
        return e.command == "Firmware Update" && e.result != 0;
    });
    ASSERT_NE(cut, entries.end());
    EXPECT_NE(offer->find("Sicherung vom " + cHistoryStore::LocalTime(cut->timeMs)),
              std::string::npos)
        << *offer;
    EXPECT_EQ(MachineImage().Step(0).Time(), 777);
}

// "Firmware Update" erases the user settings; the steps and settings of the backup taken
// before it are offered and written back only when the user agrees.
TEST_F(HistoryTest, FirmwareUpdateOffersToBringBackTheSettingsOfItsBackup) {
    const fs::path shipped = fs::path(KELVANE_BIN_DIR) / "firmware" / "TVX18-4200_V04.03.000.bin";
    for (const bool agree : {false, true}) {
        SCOPED_TRACE(agree ? "agreed" : "declined");
        StartMachine(Options());
        EditMachine([](ParameterBlock& b) {
            b.Step(0).SetTime(777);
            b.Step(1).SetRamp(40);
            b.SetBuzzerLock(1);
            b.SetRestartLock(12);
        });
        const ParameterBlock before = MachineImage();
        ui.openFiles = {shipped.string()};
        ui.answers = {cUserInterface::Answer::Ok,
                      agree ? cUserInterface::Answer::Yes : cUserInterface::Answer::No};
        ui.passwords = {SimMachine::kDefaultPassword};
        ASSERT_TRUE(controller->OnFirmwareUpdate()) << ::testing::PrintToString(ui.TakeMessages());
        const std::vector<std::string> shown = ui.TakeMessages();
        EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](const std::string& m) {
            return m.find("Benutzereinstellungen gelöscht") != std::string::npos;
        })) << ::testing::PrintToString(shown);

        const ParameterBlock after = MachineImage();
        EXPECT_EQ(after.SwVersion(), "V04.03.000");
        EXPECT_EQ(after.Step(0).Time() == 777, agree);
        EXPECT_EQ(after.Step(1).Ramp() == 40, agree);
        EXPECT_EQ(after.BuzzerLock() == 1, agree);
        EXPECT_EQ(after.RestartLock() == 12, agree);

        // The firmware's backup holds the machine as it was, and the emulation area.
        HistoryError error;
        std::optional<HistoryEntry> backup =
            journal.store.LastBackup("SIM0000001", "Firmware Update", error);
        ASSERT_TRUE(backup);
        EXPECT_EQ(*backup->before, before);
        EXPECT_EQ(backup->extra.size(), sim->EmulationLength());
        EXPECT_EQ(backup->result, 0);
    }
}

// A damaged backup is never offered after a firmware update: it is passed over and said, and
// with no intact one before it nothing is written.
TEST_F(HistoryTest, DamagedFirmwareBackupIsNotOffered) {
    const fs::path shipped = fs::path(KELVANE_BIN_DIR) / "firmware" / "TVX18-4200_V04.03.000.bin";
    EditMachine([](ParameterBlock& b) { b.Step(0).SetTime(777); });
    ui.openFiles = {shipped.string()};
    ui.answers = {cUserInterface::Answer::Ok, cUserInterface::Answer::No};
    ui.passwords = {SimMachine::kDefaultPassword};
    ASSERT_TRUE(controller->OnFirmwareUpdate()) << ::testing::PrintToString(ui.TakeMessages());
    ui.TakeMessages();
    HistoryError error;
    const std::optional<HistoryEntry> backup =
        journal.store.LastBackup("SIM0000001", "Firmware Update", error);
    ASSERT_TRUE(backup);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(journal.store.File().c_str(), &db), SQLITE_OK);
    const std::string sql =
        "UPDATE entry SET image_before = substr(image_before, 1, 400) WHERE id = " +
        std::to_string(backup->id);
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    const ParameterBlock machine = MachineImage();
    EXPECT_FALSE(controller->OfferSettingsAfterFirmware(backup->id));
    const std::vector<std::string> shown = ui.TakeMessages();
    ASSERT_EQ(shown.size(), 1u) << ::testing::PrintToString(shown);
    EXPECT_NE(shown[0].find("Verlaufseintrag #" + std::to_string(backup->id) + " ist beschädigt"),
              std::string::npos)
        << shown[0];
    EXPECT_EQ(MachineImage(), machine);
}

// The Verlauf dialog compares no damaged entry: against the editor and against another entry
// it says which entry is damaged instead.
TEST_F(HistoryTest, VerlaufRefusesToCompareADamagedEntry) {
    HistoryEntry read;
    read.command = "von Maschine";
    read.after = MachineImage();
    read.TakeIdentity(*read.after);
    HistoryError error;
    const int64_t intact = journal.store.Add(read, error);
    read.after->Step(0).SetTime(55);
    const int64_t damaged = journal.store.Add(read, error);
    ASSERT_GT(damaged, 0) << error.detail;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(journal.store.File().c_str(), &db), SQLITE_OK);
    const std::string sql = "UPDATE entry SET after_digest = '" + std::string(40, 'F') +
                            "' WHERE id = " + std::to_string(damaged);
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    cHistoryModel model(journal.store);
    std::string message;
    ASSERT_TRUE(model.Reload(message)) << message;
    ASSERT_TRUE(model.ChooseMachine(0, message)) << message;
    ASSERT_EQ(model.Entries().size(), 2u);
    ASSERT_EQ(model.Entries()[0].id, damaged);
    const ConversionContext ctx = model.ContextOf(MachineImage());
    EXPECT_TRUE(model.AgainstEditor(0, MachineImage(), ctx, message).empty());
    EXPECT_NE(message.find("#" + std::to_string(damaged) + " ist beschädigt"), std::string::npos)
        << message;
    message.clear();
    EXPECT_TRUE(model.Compare(0, 1, message).empty());
    EXPECT_NE(message.find("#" + std::to_string(damaged)), std::string::npos) << message;
    message.clear();
    EXPECT_TRUE(model.AgainstEditor(1, MachineImage(), ctx, message).empty());
    EXPECT_EQ(message, "") << intact;
}

// A history a newer program wrote: the window lists it as it is, and nothing is written to it
// or, unless the user agrees to go on without a backup, to the machine.
TEST_F(HistoryTest, ANewerProgramsHistoryIsListedButNeverWritten) {
    ReadMachine();
    const fs::path file = journal.store.File();
    journal.store.Close();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const auto bytes = [&file] {
        std::vector<uint8_t> b;
        EXPECT_TRUE(ReadWholeFile(file.string(), b, 1 << 24));
        return b;
    };
    const std::vector<uint8_t> original = bytes();

    std::string notice, error;
    EXPECT_FALSE(journal.Open(temp.path() / "data", notice, error));
    EXPECT_NE(error.find("neueren Programmversion"), std::string::npos) << error;
    ASSERT_TRUE(journal.store.IsOpen());
    EXPECT_TRUE(journal.store.IsReadOnly());
    EXPECT_EQ(Entries().size(), 1u);

    EditAfterRead(444);
    ui.answers = {cUserInterface::Answer::No};
    EXPECT_FALSE(controller->OnWriteToMachine());
    const std::vector<std::string> shown = ui.TakeMessages();
    ASSERT_FALSE(shown.empty());
    EXPECT_NE(shown.back().find("neueren Programmversion"), std::string::npos) << shown.back();
    EXPECT_EQ(WritesSeen(), 0u);
    journal.store.Close();
    EXPECT_EQ(bytes(), original);
}
