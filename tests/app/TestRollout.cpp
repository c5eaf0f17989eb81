// cRollout down the simulated line: what it tells the user interface, what it writes, what it
// skips and why, and what the history keeps of it.
#include "app/HistoryJournal.h"
#include "app/Rollout.h"
#include "lang/Language.h"
#include "tests/app/ControllerFixture.h"

#include <gtest/gtest.h>

namespace {

std::string Serial(unsigned k) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM%07u", k);
    return serial;
}

std::array<uint8_t, 512> Machine(unsigned k) {
    ParameterBlock b;
    b.bytes = SimMachine::DefaultImage();
    b.SetSerialNr(Serial(k));
    return b.bytes;
}

class RolloutTest : public ControllerTest {
public:
    // A line of n machines, the history, and the approval "Station-12": machine 1's image with
    // set 1's first step changed.
    void Line(unsigned n, std::map<unsigned, std::array<uint8_t, 512>> images = {}) {
        SimOptions o = Options();
        o.machines = n;
        o.lineGap = std::chrono::milliseconds(150);
        o.lineImages = std::move(images);
        ASSERT_NO_FATAL_FAILURE(StartMachine(std::move(o)));
        std::string notice, error;
        ASSERT_TRUE(journal.Open(temp.path() / "data", notice, error)) << error;
        controller->SetJournal(&journal);
        ASSERT_TRUE(fleet.Open(journal.store, error)) << error;
        ParameterBlock approved;
        approved.bytes = Machine(1);
        approved.Step(0).SetTime(777);
        ASSERT_EQ(fleet.AddVersion("Station-12", approved, "", error), 1) << error;
        options.approved = *fleet.Find({"Station-12", 1}, error);
        options.password = SimMachine::kDefaultPassword;
        options.probeMs = 300; // longer than the line's gap, or the machine never leaves
    }
    // The machine k's image with the approved step, as a write leaves it.
    static std::array<uint8_t, 512> Approved(unsigned k) {
        ParameterBlock b;
        b.bytes = Machine(k);
        b.Step(0).SetTime(777);
        b.SetWriteMark(1);
        return b.bytes;
    }
    uint16_t StepTime(unsigned k) const {
        ParameterBlock b;
        b.bytes = sim->LineImage(k).value_or(std::array<uint8_t, 512>{});
        return b.Step(0).Time();
    }

    cHistoryJournal journal;
    cFleetStore fleet;
    RolloutOptions options;
};

TEST_F(RolloutTest, WritesSkipsWithTheReasonAndGoesOn) {
    ASSERT_NO_FATAL_FAILURE(Line(3, {{3, Approved(3)}}));
    // The write check refuses the configuration for the second machine only.
    controller->SetWriteCheck([](const ParameterBlock& out, const ParameterBlock& machine,
                                 const MachineCatalog& catalog, uint16_t offset) {
        if (SerialOf(machine) == Serial(2))
            return std::vector<WriteFinding>{{"Zeit", "zu lang", 0, 0}};
        return CheckImageForWrite(out, machine, catalog, offset);
    });
    options.count = 3;
    cRollout rollout(*controller, fleet, options);
    std::vector<std::string> told;
    uint64_t wakeupsAtFirst = 0;
    rollout.onEvent = [&](const RolloutEvent& e) {
        static const char* names[] = {"waiting", "skipped", "done", "failed", "finished"};
        std::string line = names[int(e.kind)];
        if (e.machine)
            line += " " + std::to_string(e.done) + "/" + std::to_string(e.count) + " " +
                    e.machine->step.serialNr;
        if (e.machine && e.done == 1)
            wakeupsAtFirst = sim->Counters().wakeups;
        // The line is looked at again and again: one "waiting" in a row is enough to compare.
        if (told.empty() || told.back() != line)
            told.push_back(line);
    };
    EXPECT_TRUE(rollout.Run()) << ::testing::PrintToString(ui.TakeMessages());

    EXPECT_EQ(told, (std::vector<std::string>{"waiting", "done 1/3 SIM0000001", "waiting",
                                              "skipped 2/3 SIM0000002", "waiting",
                                              "done 3/3 SIM0000003", "finished"}));
    ASSERT_EQ(rollout.Machines().size(), 3u);
    const auto& first = rollout.Machines()[0].step;
    EXPECT_EQ(first.result, "written");
    EXPECT_EQ(rollout.Machines()[1].step.result, "skipped");
    EXPECT_NE(rollout.Machines()[1].step.reason.find(
                  Translate("Die Schreibprüfung lehnt die Konfiguration für diese Maschine ab")),
              std::string::npos);
    EXPECT_EQ(rollout.Machines()[2].step.result, "compliant");
    EXPECT_EQ(StepTime(1), 777);
    EXPECT_EQ(*sim->LineImage(2), Machine(2)) << "nothing written where the check refused";
    // The machine is read once: the write takes the link its read left connected.
    EXPECT_EQ(wakeupsAtFirst, 1u);

    // The write is the machine's own history entry, marked with the rollout; the read of the
    // compliant machine is not a rollout's write.
    HistoryError herr;
    const auto entries = journal.store.Entries(Serial(1), herr, true);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.front().id, first.entryId);
    EXPECT_EQ(entries.front().command, "zur Maschine");
    EXPECT_EQ(RolloutOf(entries.front().payload), rollout.Id());
    EXPECT_EQ(first.before, DigestText(*entries.front().before));
    EXPECT_EQ(first.after, DigestText(*entries.front().after));
    const auto third = journal.store.Entries(Serial(3), herr, true);
    ASSERT_EQ(third.size(), 1u);
    EXPECT_EQ(third.front().command, "von Maschine");
    EXPECT_TRUE(third.front().payload.empty());

    std::string error;
    const auto steps = fleet.Rollout(rollout.Id(), error);
    ASSERT_EQ(steps.size(), 3u) << error;
    EXPECT_EQ(steps[1].reason, rollout.Machines()[1].step.reason);
}

TEST_F(RolloutTest, AWrongPasswordFailsThatMachineOnly) {
    auto locked = Machine(1);
    const auto digest = cDialogMain::PasswordDigestOf("4321");
    std::copy(digest.begin(), digest.end(), locked.begin() + ParameterBlock::kOffPasswordDigest);
    ASSERT_NO_FATAL_FAILURE(Line(2, {{1, locked}}));
    options.count = 2;
    options.password.reset(); // asked once, for every machine
    ui.passwords.push_back(std::string(SimMachine::kDefaultPassword));
    cRollout rollout(*controller, fleet, options);
    EXPECT_FALSE(rollout.Run());
    ASSERT_EQ(rollout.Machines().size(), 2u);
    EXPECT_EQ(rollout.Machines()[0].step.result, "failed");
    EXPECT_EQ(rollout.Machines()[0].step.reason, Translate("falsches Passwort"));
    EXPECT_EQ(rollout.Machines()[1].step.result, "written");
    EXPECT_EQ(ui.passwordAsks, 1);
    EXPECT_EQ(StepTime(1), 0);
    EXPECT_EQ(StepTime(2), 777);
}

TEST_F(RolloutTest, AStopEndsAfterTheMachineOnTheLine) {
    ASSERT_NO_FATAL_FAILURE(Line(3));
    cRollout rollout(*controller, fleet, options); // no count: until stopped
    bool stop = false;
    rollout.onEvent = [&](const RolloutEvent& e) { stop = stop || e.done == 1; };
    rollout.stopRequested = [&] { return stop; };
    EXPECT_TRUE(rollout.Run());
    EXPECT_TRUE(rollout.Stopped());
    ASSERT_EQ(rollout.Machines().size(), 1u);
    EXPECT_EQ(StepTime(1), 777);
    EXPECT_EQ(StepTime(2), 0);
}

} // namespace
