// A damaged backup never reaches a machine: restore, diff, history show and history check
// against the simulated machine with the stored entry changed behind the program's back; and
// history lists what it cannot write (locked, a newer program's file).
#include "history/HistoryStore.h"
#include "model/ParameterBlock.h"
#include "sim/SimMachine.h"
#include "tests/cli/CliRun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sys/mount.h>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void Sql(const fs::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
}

void ChangeByte(const fs::path& file, const char* column, int64_t id, int offset) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_blob* blob = nullptr;
    ASSERT_EQ(sqlite3_blob_open(db, "main", "entry", column, id, 1, &blob), SQLITE_OK)
        << sqlite3_errmsg(db);
    uint8_t byte = 0;
    ASSERT_EQ(sqlite3_blob_read(blob, &byte, 1, offset), SQLITE_OK);
    byte ^= 0x10;
    ASSERT_EQ(sqlite3_blob_write(blob, &byte, 1, offset), SQLITE_OK);
    sqlite3_blob_close(blob);
    sqlite3_close(db);
}

class CliIntegrity : public ::testing::Test {
public:
    void SetUp() override {
        SimOptions o;
        o.pacing = false;
        o.announce = false;
        sim = std::make_unique<SimMachine>(std::move(o));
        device = sim->Start();
        ASSERT_FALSE(device.empty()) << sim->LastError();
    }
    void TearDown() override { sim->Stop(); }
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
    fs::path HistoryFile() const {
        return tmp.path() / "home" / "data" / "Nork" / "TorvexV4" / cHistoryStore::kFileName;
    }
    uint64_t WritesSeen() const {
        const SimCounters c = sim->Counters();
        return c.writeCommands + c.dataFrames;
    }
    CliResult WriteEdited(const std::function<void(ParameterBlock&)>& edit) {
        ParameterBlock b = MachineImage();
        edit(b);
        const fs::path file = tmp.path() / "edit.bin";
        WriteBytes(file, std::string(b.bytes.begin(), b.bytes.end()));
        return Machine("write", {"--password", SimMachine::kDefaultPassword, file.string()});
    }
    int64_t NewestId() {
        CliResult r = Cli({"history", "--serial", "SIM0000001", "--limit", "1", "--json"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const json j = json::parse(r.out, nullptr, false);
        return j.is_array() && !j.empty() ? j[0]["id"].get<int64_t>() : 0;
    }

    CliTempDir tmp;
    std::unique_ptr<SimMachine> sim;
    std::string device;
};

// Each kind of damage to the entry a restore would take: refused with the entry's number and
// the damaged part, nothing sent (the machine's memory as it was), and the same entry refused
// by diff and show and listed by history check (exit 1).
TEST_F(CliIntegrity, DamagedBackupNeverReachesTheMachine) {
    ASSERT_EQ(WriteEdited([](ParameterBlock& b) { b.SetToolId("FIRST"); }).exitCode, 0);
    ASSERT_EQ(WriteEdited([](ParameterBlock& b) { b.Step(0).SetAngle(1080); }).exitCode, 0);
    const int64_t id = NewestId();
    ASSERT_GT(id, 0);
    const std::string at = "@" + std::to_string(id);
    const std::string pristine = ReadBytes(HistoryFile());
    ASSERT_EQ(Cli({"history", "check"}).exitCode, 0);
    const std::string where = " WHERE id = " + std::to_string(id);

    struct Case {
        const char* name;
        std::function<void(const fs::path&)> damage;
        const char* part; // as the message names it
    };
    const Case cases[] = {
        {"byte in the image before",
         [&](const fs::path& f) { ChangeByte(f, "image_before", id, 60); },
         "Abbild vor dem Befehl"},
        {"byte in the image after",
         [&](const fs::path& f) { ChangeByte(f, "image_after", id, 61); },
         "Abbild nach dem Befehl"},
        {"byte in the extra data",
         [&](const fs::path& f) {
             const std::vector<uint8_t> zeros(128, 0);
             Sql(f, "UPDATE entry SET extra = zeroblob(128), extra_digest = '" +
                        ImageDigest(zeros.data(), zeros.size()) + "'" + where);
             ChangeByte(f, "extra", id, 7);
         },
         "Zusatzdaten"},
        {"digest changed",
         [&](const fs::path& f) {
             Sql(f, "UPDATE entry SET before_digest = '" + std::string(40, '0') + "'" + where);
         },
         "Abbild vor dem Befehl"},
        {"image cut short",
         [&](const fs::path& f) {
             Sql(f, "UPDATE entry SET image_before = substr(image_before, 1, 511)" + where);
         },
         "Abbild vor dem Befehl"},
    };
    const ParameterBlock machine = MachineImage();
    const uint64_t writes = WritesSeen();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(HistoryFile(), pristine);
        c.damage(HistoryFile());
        const std::string said = "Verlaufseintrag #" + std::to_string(id) + " ist beschädigt";

        CliResult r = Machine("restore", {at, "--password", SimMachine::kDefaultPassword, "--yes"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(Contains(r.err, said)) << r.err;
        EXPECT_TRUE(Contains(r.err, c.part)) << r.err;
        EXPECT_EQ(WritesSeen(), writes);
        EXPECT_EQ(MachineImage(), machine);

        r = Cli({"diff", at, (tmp.path() / "edit.bin").string()});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(Contains(r.err, said)) << r.err;
        r = Cli({"history", "show", std::to_string(id)});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(Contains(r.err, said)) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;

        r = Cli({"history", "check", "--json"});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        const json j = json::parse(r.out, nullptr, false);
        ASSERT_FALSE(j.is_discarded()) << r.out;
        EXPECT_EQ(j["ok"], false);
        ASSERT_EQ(j["damaged"].size(), 1u) << r.out;
        EXPECT_EQ(j["damaged"][0]["id"], id);
        r = Cli({"history", "check"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(Contains(r.out, std::to_string(id) + "  ")) << r.out;
    }
    // The entry intact again: restored as before.
    WriteBytes(HistoryFile(), pristine);
    EXPECT_EQ(
        Machine("restore", {at, "--password", SimMachine::kDefaultPassword, "--yes"}).exitCode, 0);
    EXPECT_NE(MachineImage(), machine);
}

// history lists while another program holds the write lock, and a newer program's file is
// listed with a line naming that program, never moved aside; a command that would write to it
// refuses before anything reaches the machine.
TEST_F(CliIntegrity, HistoryListsWhatItCannotWrite) {
    ASSERT_EQ(Machine("read", {(tmp.path() / "m.bin").string()}).exitCode, 0);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(HistoryFile().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE; DELETE FROM meta WHERE key = 'none';", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"history"},
                                                 {"history", "--serial", "SIM0000001", "--json"},
                                                 {"history", "show", "1"},
                                                 {"history", "check"}}) {
        const CliResult r = Cli(args);
        EXPECT_EQ(r.exitCode, 0) << args.back() << ": " << r.err;
    }
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    Sql(HistoryFile(), "UPDATE meta SET value = '5.0.0.1' WHERE key = 'program_version'; "
                       "PRAGMA user_version = 9;");
    const std::string original = ReadBytes(HistoryFile());
    CliResult r = Cli({"history", "--serial", "SIM0000001", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "5.0.0.1")) << r.err;
    EXPECT_TRUE(Contains(r.out, "von Maschine")) << r.out;

    const ParameterBlock machine = MachineImage();
    r = WriteEdited([](ParameterBlock& b) { b.SetToolId("NEWER"); });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "5.0.0.1")) << r.err;
    EXPECT_TRUE(Contains(r.err, HistoryFile().string())) << r.err;
    EXPECT_EQ(WritesSeen(), 0u);
    EXPECT_EQ(MachineImage(), machine);
    EXPECT_EQ(ReadBytes(HistoryFile()), original);
    for (const auto& f : fs::directory_iterator(HistoryFile().parent_path()))
        EXPECT_FALSE(Contains(f.path().filename().string(), ".damaged-")) << f.path();
}

// On a full disk the history is still listed, and a write whose backup finds no room is refused
// before a byte reaches the machine, saying where the disk is full and how much is needed.
// Mounting a small disk needs root (CI runs as root).
TEST_F(CliIntegrity, FullDiskListsAndRefusesTheWriteWithWhereAndHowMuch) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    const fs::path data = HistoryFile().parent_path();
    fs::create_directories(data);
    ASSERT_EQ(::mount("tmpfs", data.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
    struct Unmount {
        fs::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{data};
    ASSERT_EQ(Machine("read", {(tmp.path() / "m.bin").string()}).exitCode, 0);
    {
        std::ofstream fill(data / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (fill.write(block.data(), block.size()))
            ;
    }
    CliResult r = Cli({"history", "--serial", "SIM0000001", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "von Maschine")) << r.out;

    const ParameterBlock machine = MachineImage();
    r = WriteEdited([](ParameterBlock& b) { b.SetToolId("FULL"); });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "Der Datenträger ist voll: " + data.string() + " braucht etwa"))
        << r.err;
    EXPECT_FALSE(Contains(r.err, "disk I/O error")) << r.err;
    EXPECT_EQ(WritesSeen(), 0u);
    EXPECT_EQ(MachineImage(), machine);
}

} // namespace
