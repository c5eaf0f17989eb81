// kelvane-cli server init, sync and history against the server, as an administrator and a
// technician run them; every failure names its reason and leaves the local history working.
#include "history/HistoryStore.h"
#include "tests/cli/CliRun.h"
#include "tests/history/server/PgServer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class CliSync : public ::testing::Test {
protected:
    CliResult Cli(std::vector<std::string> args, const CliTempDir& home) {
        return RunCli(args, home.UserEnv(), 60000);
    }
    // A laptop's history with n reads of machine serial.
    static void Reads(const CliTempDir& home, const std::string& serial, int n,
                      const std::string& technician = "root") {
        cHistoryStore store;
        store.SetTechnician(technician);
        HistoryNotice notice;
        HistoryError error;
        const fs::path file =
            home.path() / "home" / "data" / "Nork" / "TorvexV4" / cHistoryStore::kFileName;
        ASSERT_TRUE(store.Open(file, notice, error)) << error.detail;
        for (int i = 0; i < n; ++i) {
            HistoryEntry e;
            e.command = "von Maschine";
            e.result = 0;
            e.after = ParameterBlock::Default();
            e.after->SetSerialNr(serial);
            e.TakeIdentity(*e.after);
            ASSERT_GT(store.Add(e, error), 0) << error.detail;
        }
    }
    static void Settings(const CliTempDir& home, const std::string& lines) {
        WriteBytes(home.path() / "home" / "data" / "Nork" / "TorvexV4" / "Torvex Kelvane_R4.ini",
                   "[SETTINGS]\n" + lines);
    }
    TestDatabase db;
};

TEST_F(CliSync, ServerInitMakesTheSchemaOnceAndRefusesANewerOne) {
    CliTempDir admin;
    CliResult r = Cli({"server", "init", "--server", db.Conninfo()}, admin);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "created (version 1)")) << r.out;
    r = Cli({"server", "init", "--server", db.Conninfo()}, admin);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "is current")) << r.out;

    ASSERT_EQ(AdminSql(db.Name(), "UPDATE kelvane.schema_info SET version = 2"), "");
    r = Cli({"server", "init", "--server", db.Conninfo()}, admin);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "zu neu")) << r.err;
    Reads(admin, "SN-1", 1);
    r = Cli({"sync", "--server", db.Conninfo()}, admin);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "zu neu")) << r.err;
    ASSERT_EQ(AdminSql(db.Name(), "UPDATE kelvane.schema_info SET version = 0"), "");
    r = Cli({"sync", "--server", db.Conninfo()}, admin);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "zu alt")) << r.err;
}

// The settings name the server; sync counts both ways; the merged record lists who and where
// in JSON.
TEST_F(CliSync, TwoTechniciansShareOneRecord) {
    ASSERT_TRUE(db.Init());
    CliTempDir anna, bernd;
    Settings(anna, "HistoryServer=" + db.Conninfo() + "\n");
    Settings(bernd, "HistoryServer=" + db.Conninfo() + "\n");
    Reads(anna, "SN-A", 2, "Anna");
    Reads(bernd, "SN-B", 1, "Bernd");

    CliResult r = Cli({"sync", "--status", "--json"}, anna);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["waiting"], 2);
    EXPECT_TRUE(json::parse(r.out)["lastSync"].is_null());

    r = Cli({"sync", "--json"}, anna);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)["pushed"], 2);
    r = Cli({"sync"}, bernd);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "pushed = 1") && Contains(r.out, "pulled = 2")) << r.out;

    r = Cli({"history", "--json"}, bernd);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out).size(), 2u) << r.out;
    r = Cli({"history", "--serial", "SN-A", "--json"}, bernd);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json entries = json::parse(r.out);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0]["technician"], "Anna");
    EXPECT_EQ(entries[0]["fromHere"], false);
    EXPECT_EQ(entries[0]["uuid"].get<std::string>().size(), 36u);
    EXPECT_FALSE(entries[0]["host"].get<std::string>().empty());
    r = Cli({"sync", "--status", "--json"}, bernd);
    EXPECT_EQ(json::parse(r.out)["waiting"], 0);
    EXPECT_FALSE(json::parse(r.out)["lastSync"].is_null());
}

// Each failure in plain words, exit 1; the local history lists as before and keeps its entries
// for the next sync.
TEST_F(CliSync, FailuresNameTheirReason) {
    ASSERT_TRUE(db.Init());
    const std::string role = db.Name() + "_nogrant";
    ASSERT_EQ(AdminSql(db.Name(), "CREATE ROLE " + role + " LOGIN PASSWORD 'right'"), "");
    TestDatabase bare; // no server init
    struct Case {
        std::string name, conninfo, words;
    };
    const Case cases[] = {
        {"server down", "host=127.0.0.1 port=1 connect_timeout=3", "nicht erreichbar"},
        {"wrong password", db.Conninfo() + " user=" + role + " password=wrong",
         "falsches Passwort"},
        {"no such database", "dbname=kelvane_none", "Datenbank existiert"},
        {"role without the grant", db.Conninfo() + " user=" + role + " password=right",
         "Keine Berechtigung"},
        {"server init never run", bare.Conninfo(), "server init"},
        {"no such service", "service=kelvane_none", "Serverangabe"},
    };
    CliTempDir home;
    Reads(home, "SN-A", 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CliResult r = Cli({"sync", "--server", c.conninfo}, home);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(Contains(r.err, c.words)) << r.err;
        r = Cli({"history", "--serial", "SN-A", "--json"}, home);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(json::parse(r.out).size(), 3u);
        r = Cli({"sync", "--status", "--json"}, home);
        EXPECT_EQ(json::parse(r.out)["waiting"], 3);
    }
    CliResult r = Cli({"sync", "--server", db.Conninfo()}, home);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "pushed = 3")) << r.out;
    AdminSql(db.Name(), "DROP ROLE " + role);
}

} // namespace
