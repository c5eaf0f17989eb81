// history, diff, restore and show --json, run as a technician runs them against the simulated
// machine; every JSON form is parsed back.
#include "history/HistoryStore.h"
#include "model/ParameterBlock.h"
#include "sim/SimMachine.h"
#include "tests/cli/CliRun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string Bytes(const ParameterBlock& b) {
    return std::string(b.bytes.begin(), b.bytes.end());
}

std::string Hex(const ParameterBlock& b) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (uint8_t c : b.bytes) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

json Parse(const CliResult& r) {
    json j = json::parse(r.out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << r.out;
    return j;
}

} // namespace

class CliHistory : public ::testing::Test {
public:
    void SetUp() override { Start(Options()); }
    void TearDown() override {
        if (sim)
            sim->Stop();
    }
    static SimOptions Options() {
        SimOptions o;
        o.pacing = false;
        o.announce = false;
        return o;
    }
    void Start(SimOptions o) {
        if (sim)
            sim->Stop();
        sim = std::make_unique<SimMachine>(std::move(o));
        device = sim->Start();
        ASSERT_FALSE(device.empty()) << sim->LastError();
    }
    CliResult Machine(const std::string& command, std::vector<std::string> args) {
        args.insert(args.begin(), {command, "--port", device});
        return RunCli(args, tmp.UserEnv(), 60000);
    }
    CliResult Cli(std::vector<std::string> args) { return RunCli(args, tmp.UserEnv(), 60000); }
    ParameterBlock MachineImage() const {
        ParameterBlock b;
        b.bytes = sim->ParameterImage();
        return b;
    }
    std::string File(const std::string& name) const { return (tmp.path() / name).string(); }
    fs::path HistoryFile() const {
        return tmp.path() / "home" / "data" / "Nork" / "TorvexV4" / cHistoryStore::kFileName;
    }
    uint64_t WritesSeen() const {
        const SimCounters c = sim->Counters();
        return c.writeCommands + c.dataFrames;
    }
    // Writes the machine's own image with a change, as "write" takes an image read from it.
    CliResult WriteEdited(const std::function<void(ParameterBlock&)>& edit,
                          std::vector<std::string> flags = {}) {
        ParameterBlock b = MachineImage();
        edit(b);
        WriteBytes(File("edit.bin"), Bytes(b));
        flags.insert(flags.begin(), {"--password", SimMachine::kDefaultPassword});
        flags.push_back(File("edit.bin"));
        return Machine("write", flags);
    }
    // The newest entry of the simulated machine.
    json Newest() {
        CliResult r = Cli({"history", "--serial", "SIM0000001", "--json"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        json list = Parse(r);
        EXPECT_TRUE(list.is_array() && !list.empty()) << r.out;
        return list.empty() ? json() : list[0];
    }

    CliTempDir tmp;
    std::unique_ptr<SimMachine> sim;
    std::string device;
};

TEST_F(CliHistory, ReadsAndWritesAreListedPerMachine) {
    ASSERT_EQ(Machine("read", {File("m.bin")}).exitCode, 0);
    ASSERT_EQ(WriteEdited([](ParameterBlock& b) { b.Step(0).SetTime(444); }).exitCode, 0);

    CliResult r = Cli({"history", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json machines = Parse(r);
    ASSERT_EQ(machines.size(), 1u);
    EXPECT_EQ(machines[0]["serialNr"], "SIM0000001");
    EXPECT_EQ(machines[0]["machineType"], "TVX18-4200");
    EXPECT_EQ(machines[0]["swVersion"], "V04.02.005");
    EXPECT_EQ(machines[0]["fasteningCounter"], 1234);
    // read, then the write's own read and the write
    EXPECT_EQ(machines[0]["entries"], 3);

    const json write = Newest();
    EXPECT_EQ(write["command"], "zur Maschine");
    EXPECT_EQ(write["result"], 0);
    r = Cli({"history", "show", std::to_string(write["id"].get<int64_t>()), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json shown = Parse(r);
    EXPECT_EQ(shown["after"], Hex(MachineImage()));
    // Every write sets the write mark; the edit is the step's time.
    ASSERT_EQ(shown["differences"].size(), 2u) << r.out;
    EXPECT_EQ(shown["differences"][0]["field"], "writeMark");
    EXPECT_EQ(shown["differences"][1]["field"], "set1.step1.time");
    EXPECT_EQ(shown["differences"][1]["new"]["value"], 444);
    EXPECT_EQ(shown["differences"][1]["new"]["unit"], "ms");
    EXPECT_EQ(shown["differences"][1]["newText"], "444 ms");

    // The human forms name the same things.
    r = Cli({"history"});
    EXPECT_TRUE(Contains(r.out, "SIM0000001")) << r.out;
    r = Cli({"history", "--serial", "SIM0000001"});
    EXPECT_TRUE(Contains(r.out, "zur Maschine")) << r.out;
    r = Cli({"history", "show", "@" + std::to_string(write["id"].get<int64_t>())});
    EXPECT_TRUE(Contains(r.out, "set1.step1.time: 0 ms -> 444 ms")) << r.out;

    r = Cli({"history", "show", "999999"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "no such entry")) << r.err;
}

TEST_F(CliHistory, RestoreBringsTheMachineBackByteForByte) {
    // A first write, so the state to come back to carries the marks every write sets.
    ASSERT_EQ(WriteEdited([](ParameterBlock& b) { b.SetToolId("FIRST"); }).exitCode, 0);
    const ParameterBlock wanted = MachineImage();
    ASSERT_EQ(WriteEdited([](ParameterBlock& b) {
                  b.SetToolId("SECOND");
                  b.Step(2).SetSpeed(1500);
                  b.SetBuzzerLock(1);
              }).exitCode,
              0);
    ASSERT_NE(MachineImage(), wanted);
    const std::string id = "@" + std::to_string(Newest()["id"].get<int64_t>());

    CliResult r = Machine("diff", {id, "machine", "--json"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    json d = Parse(r);
    EXPECT_FALSE(d["equal"]);
    EXPECT_EQ(d["differences"].size(), 3u) << r.out;

    // Not confirmed: nothing written.
    const uint64_t writes = WritesSeen();
    r = Machine("restore", {id, "--password", SimMachine::kDefaultPassword});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(WritesSeen(), writes);

    r = Machine("restore", {id, "--password", SimMachine::kDefaultPassword, "--yes"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(MachineImage(), wanted);
    r = Machine("diff", {id, "machine"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

TEST_F(CliHistory, RestoreRefusesAnEntryOfAnotherMachine) {
    ASSERT_EQ(WriteEdited([](ParameterBlock& b) { b.SetToolId("A"); }).exitCode, 0);
    const std::string id = std::to_string(Newest()["id"].get<int64_t>());
    SimOptions o = Options();
    ParameterBlock other;
    other.bytes = SimMachine::DefaultImage();
    other.SetSerialNr("SIM0000002");
    o.image = other.bytes;
    Start(o);
    CliResult r = Machine("restore", {id, "--password", SimMachine::kDefaultPassword, "--yes"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "Der Eintrag stammt von einer anderen Maschine")) << r.err;
    EXPECT_TRUE(Contains(r.err, "SIM0000001")) << r.err;
    // Both serial numbers, said in the message's own language.
    EXPECT_TRUE(Contains(r.err, "angeschlossen: SIM0000002")) << r.err;
    EXPECT_EQ(WritesSeen(), 0u);
    EXPECT_EQ(MachineImage(), other);
}

// A history that cannot keep the backup: the write is refused before anything is sent, unless
// the technician says --no-backup.
TEST_F(CliHistory, WriteWithoutItsBackupIsRefusedUnlessNoBackup) {
    fs::create_directories(HistoryFile()); // a folder where the database belongs
    const ParameterBlock before = MachineImage();
    CliResult r = WriteEdited([](ParameterBlock& b) { b.Step(0).SetTime(99); });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "Die Sicherung des Maschinenzustands konnte nicht gespeichert"))
        << r.err;
    EXPECT_TRUE(Contains(r.err, "--no-backup")) << r.err;
    EXPECT_EQ(WritesSeen(), 0u);
    EXPECT_EQ(MachineImage(), before);

    r = WriteEdited([](ParameterBlock& b) { b.Step(0).SetTime(99); }, {"--no-backup"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(MachineImage().Step(0).Time(), 99);
}

TEST_F(CliHistory, DamagedDatabaseIsMovedAsideAndANewOneMade) {
    fs::create_directories(HistoryFile().parent_path());
    const std::string garbage(3000, '\x42');
    WriteBytes(HistoryFile(), garbage);
    // Listing only reads: it says so and leaves the file to the next command that writes.
    CliResult r = Cli({"history"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "Der Verlauf ist beschädigt")) << r.err;
    EXPECT_EQ(ReadBytes(HistoryFile()), garbage);
    r = Machine("read", {File("m.bin")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "beschädigt und wurde beiseitegelegt")) << r.err;
    int aside = 0;
    for (const auto& e : fs::directory_iterator(HistoryFile().parent_path()))
        if (Contains(e.path().filename().string(), "history.sqlite.damaged-")) {
            ++aside;
            EXPECT_EQ(ReadBytes(e.path()), garbage);
        }
    EXPECT_EQ(aside, 1);
    // The new history took the read.
    EXPECT_EQ(Parse(Cli({"history", "--json"})).size(), 1u);
}

TEST_F(CliHistory, DiffOfFilesAndEntries) {
    ParameterBlock a;
    a.bytes = SimMachine::DefaultImage();
    ParameterBlock b = a;
    b.Step(5).SetTime(1200);
    b.SetPlace("HALLE 2");
    WriteBytes(File("a.bin"), Bytes(a));
    WriteBytes(File("b.bin"), Bytes(b));

    struct Case {
        std::vector<std::string> args;
        int exitCode;
        size_t differences;
    };
    const Case cases[] = {
        {{"diff", File("a.bin"), File("a.bin"), "--json"}, 0, 0},
        {{"diff", File("a.bin"), File("b.bin"), "--json"}, 1, 2},
        {{"diff", File("a.bin"), File("missing.bin")}, 2, 0},
        {{"diff", File("a.bin"), "@424242"}, 2, 0},
        {{"diff", File("a.bin")}, 2, 0},
    };
    for (const Case& c : cases) {
        CliResult r = Cli(c.args);
        SCOPED_TRACE(c.args.back());
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        if (c.exitCode == 2)
            continue;
        const json d = Parse(r);
        EXPECT_EQ(d["equal"], c.differences == 0);
        EXPECT_EQ(d["differences"].size(), c.differences);
    }
    const json d = Parse(Cli({"diff", File("a.bin"), File("b.bin"), "--json"}));
    EXPECT_EQ(d["differences"][0]["field"], "place");
    EXPECT_EQ(d["differences"][1]["field"], "set2.step1.time");
    EXPECT_EQ(d["differences"][1]["old"]["value"], 0);
    EXPECT_EQ(d["differences"][1]["new"]["value"], 1200);
    EXPECT_EQ(d["differences"][1]["newText"], "1200 ms");
    CliResult text = Cli({"diff", File("a.bin"), File("b.bin")});
    EXPECT_TRUE(Contains(text.out, "set2.step1.time: 0 ms -> 1200 ms")) << text.out;
}

TEST_F(CliHistory, ShowJsonHasEveryFieldOfTheListing) {
    ParameterBlock a;
    a.bytes = SimMachine::DefaultImage();
    WriteBytes(File("a.bin"), Bytes(a));
    CliResult r = Cli({"show", File("a.bin"), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json j = Parse(r);
    EXPECT_EQ(j["format"], "parameter image");
    EXPECT_EQ(j["fields"]["serialNr"], "SIM0000001");
    EXPECT_TRUE(j["fields"].contains("set2.step5.errorMask"));
    EXPECT_EQ(j["fields"]["maxTorque"]["unit"], "Nm");
    EXPECT_TRUE(j["fields"]["set1.step1.controlled"]["value"].is_boolean());
    CliResult text = Cli({"show", File("a.bin")});
    size_t lines = 0;
    for (char c : text.out)
        lines += c == '\n';
    // file and format lines besides the fields and what follows from them
    EXPECT_EQ(j["fields"].size() + j["derived"].size() + 2, lines);
}

// With the team's server down (settings or --server), machine commands work as before: the
// entries and the backup are on the laptop, named by technician, host and UUID, and wait for
// the next sync. --limit gives the newest entries first.
TEST_F(CliHistory, ServerDownChangesNothingForMachineCommands) {
    WriteBytes(tmp.path() / "home" / "data" / "Nork" / "TorvexV4" / "Torvex Kelvane_R4.ini",
               "[SETTINGS]\nTechnician=Erika Muster\nHistoryServer=host=127.0.0.1 port=1\n");
    ASSERT_EQ(Machine("read", {File("m.bin")}).exitCode, 0);
    CliResult r = WriteEdited([](ParameterBlock& b) { b.Step(0).SetTime(321); },
                              {"--server", "host=127.0.0.1 port=1 connect_timeout=1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("server"), std::string::npos) << r.err;

    r = Cli({"history", "--serial", "SIM0000001", "--limit", "2", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json entries = Parse(r);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0]["command"], "zur Maschine");
    EXPECT_EQ(entries[0]["technician"], "Erika Muster");
    EXPECT_EQ(entries[0]["fromHere"], true);
    EXPECT_EQ(entries[0]["uuid"].get<std::string>().size(), 36u);
    EXPECT_NE(entries[0]["uuid"], entries[1]["uuid"]);
    EXPECT_FALSE(entries[0]["host"].get<std::string>().empty());

    r = Cli({"sync", "--status", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Parse(r)["waiting"], 3);
    r = Cli({"sync"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "Der Server ist nicht erreichbar")) << r.err;
    EXPECT_EQ(Cli({"history", "--serial", "SIM0000001", "--limit", "0"}).exitCode, 2);
    EXPECT_EQ(Cli({"history", "--limit", "2"}).exitCode, 2);
}
