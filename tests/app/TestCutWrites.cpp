// A write whose program died (kill -9, a crash, the power lost) left its history entry open:
// the next read of the machine says so, with what the machine holds and what repairs it, and
// closes the entry as cut. A write still running in another process is left alone.
#include "tests/app/ControllerFixture.h"

#include "app/CutWrites.h"
#include "app/HistoryJournal.h"
#include "link/ResultCodes.h"

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool Contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

class CutWritesTest : public ControllerTest {
public:
    void SetUp() override {
        ControllerTest::SetUp();
        std::string notice, error;
        ASSERT_TRUE(journal.Open(temp.path() / "data", notice, error)) << error;
        controller->SetJournal(&journal);
    }
    // The entry a write leaves when its program dies after the backup.
    int64_t OpenEntry(const char* command, const ParameterBlock& before) {
        MachineEvent event;
        event.command = command;
        event.before = before;
        std::string error;
        const int64_t id = journal.Backup(event, error);
        EXPECT_GT(id, 0) << error;
        RunningWrites::Release(id); // as the dead program's lock went with it
        return id;
    }
    HistoryEntry Stored(int64_t id) {
        HistoryError error;
        return journal.store.Entry(id, error).value_or(HistoryEntry{});
    }
    std::string AllMessages() {
        std::string all;
        for (const std::string& m : ui.TakeMessages())
            all += m + "\n";
        return all;
    }
    cHistoryJournal journal;
};

TEST_F(CutWritesTest, NextReadTellsWhatTheMachineHoldsAndClosesTheEntry) {
    ParameterBlock old;
    old.bytes = sim->ParameterImage();
    struct Case {
        const char* name;
        const char* command;
        bool machineChanged;
        const char* says;
    } cases[] = {
        {"cut before a byte", "zur Maschine", false, "unverändert den Stand vor dem Schreiben"},
        {"cut in the frames", "zur Maschine", true, "kelvane-cli restore "},
        {"firmware", "Firmware Update", true, "kelvane-cli firmware DATEI"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim->SetParameterImage(old.bytes);
        const int64_t id = OpenEntry(c.command, old);
        if (c.machineChanged)
            EditMachine([](ParameterBlock& b) { b.Step(5).SetTime(321); });
        EXPECT_TRUE(controller->OnReadFromMachine());
        const std::string shown = AllMessages();
        EXPECT_TRUE(Contains(shown, "nicht zu Ende geführt")) << shown;
        EXPECT_TRUE(Contains(shown, "#" + std::to_string(id))) << shown;
        EXPECT_TRUE(Contains(shown, c.says)) << shown;
        if (std::string(c.command) == "zur Maschine" && c.machineChanged) {
            EXPECT_TRUE(Contains(shown, "restore " + std::to_string(id))) << shown;
        }
        const HistoryEntry e = Stored(id);
        EXPECT_EQ(e.result, kResultCut);
        EXPECT_TRUE(Contains(e.message, "festgestellt am")) << e.message;
        // Said once: the entry is closed.
        EXPECT_TRUE(controller->OnReadFromMachine());
        EXPECT_FALSE(Contains(AllMessages(), "nicht zu Ende geführt"));
    }
}

TEST_F(CutWritesTest, ErasedMachineNamesTheRecoveryAndTheCutFirmwareUpdate) {
    ParameterBlock old;
    old.bytes = sim->ParameterImage();
    const int64_t id = OpenEntry("Firmware Update", old);
    std::array<uint8_t, 512> erased;
    erased.fill(0xFF);
    sim->SetParameterImage(erased);
    EXPECT_FALSE(controller->OnReadFromMachine());
    const std::string shown = AllMessages();
    EXPECT_TRUE(Contains(shown, "#" + std::to_string(id))) << shown;
    EXPECT_TRUE(Contains(shown, "gelöscht oder nicht lesbar")) << shown;
    EXPECT_TRUE(Contains(shown, "kelvane-cli firmware --recover DATEI")) << shown;
    EXPECT_EQ(Stored(id).result, kResultCut);
}

TEST_F(CutWritesTest, WriteRunningInAnotherProcessIsLeftOpen) {
    ParameterBlock old;
    old.bytes = sim->ParameterImage();
    const int64_t id = OpenEntry("zur Maschine", old);
    const fs::path file = journal.store.File();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        RunningWrites::Hold(file, id);
        const char c = 1;
        (void)!::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_TRUE(RunningWrites::HeldElsewhere(file, id));
    EXPECT_TRUE(controller->OnReadFromMachine());
    EXPECT_FALSE(Contains(AllMessages(), "nicht zu Ende geführt"));
    EXPECT_FALSE(Stored(id).result.has_value());

    // Killed: the lock goes with the process, and the next read finds the cut.
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_FALSE(RunningWrites::HeldElsewhere(file, id));
    EXPECT_TRUE(controller->OnReadFromMachine());
    EXPECT_TRUE(Contains(AllMessages(), "nicht zu Ende geführt"));
    EXPECT_EQ(Stored(id).result, kResultCut);
}

} // namespace

// Password change and factory settings write to the machine too: their first read finds a cut
// write of the machine, says it and closes it, before anything of their own is written.
TEST_F(CutWritesTest, PasswordAndFactorySettingsFindACutWriteFirst) {
    ParameterBlock old;
    old.bytes = sim->ParameterImage();
    struct Case {
        const char* name;
        std::function<void()> script;
        std::function<bool()> command;
    };
    const Case cases[] = {
        {"password",
         [&] {
             ui.changes = {cUserInterface::PasswordChange{"wrong", "neu12345", "neu12345"}};
         },
         [&] { return controller->OnChangePassword(); }},
        {"factory settings", [&] { ui.openFiles = {std::nullopt}; },
         [&] { return controller->RestoreFactorySettings(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int64_t id = OpenEntry("zur Maschine", old);
        c.script();
        EXPECT_FALSE(c.command()); // stopped by the script after the read
        const std::string shown = AllMessages();
        EXPECT_TRUE(Contains(shown, "nicht zu Ende geführt")) << shown;
        EXPECT_TRUE(Contains(shown, "#" + std::to_string(id))) << shown;
        EXPECT_EQ(Stored(id).result, kResultCut);
        EXPECT_EQ(sim->ParameterImage(), old.bytes);
    }
}

// A supervisor update's entry names no machine by its images: it carries the serial number of
// the last read on that port, so the next command that meets the machine finds it when cut.
TEST_F(CutWritesTest, SupervisorUpdateEntryCarriesTheSerialNumberOfTheLastRead) {
    const fs::path file = fs::path(KELVANE_BIN_DIR) / "firmware" / "SUPV" / "SUPV_V01.00.03.bin";
    ASSERT_TRUE(controller->OnReadFromMachine());
    ui.openFiles = {file.string()};
    ASSERT_TRUE(controller->OnSupervisorUpdate());
    HistoryError error;
    const std::vector<HistoryEntry> entries = journal.store.Entries("SIM0000001", error);
    ASSERT_FALSE(entries.empty()) << error.detail;
    EXPECT_EQ(entries[0].command, "Firmware Update SUPV");
    ui.TakeMessages();
}
