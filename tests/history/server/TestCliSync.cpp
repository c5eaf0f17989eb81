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
    EXPECT_TRUE(Contains(r.out, "created (version 2)")) << r.out;
    r = Cli({"server", "init", "--server", db.Conninfo()}, admin);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "is current")) << r.out;

    ASSERT_EQ(AdminSql(db.Name(), "UPDATE kelvane.schema_info SET version = 99"), "");
    r = Cli({"server", "init", "--server", db.Conninfo()}, admin);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "zu neu") && Contains(r.err, "99")) << r.err;
    EXPECT_EQ(AdminValue(db.Name(), "SELECT version FROM kelvane.schema_info"), "99");
    Reads(admin, "SN-1", 1);
    r = Cli({"sync", "--server", db.Conninfo()}, admin);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "zu neu")) << r.err;
    ASSERT_EQ(AdminSql(db.Name(), "UPDATE kelvane.schema_info SET version = 0"), "");
    r = Cli({"sync", "--server", db.Conninfo()}, admin);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "zu alt")) << r.err;
}

// A server an older Kelvane made: schema version 1, entries sent without digests. A laptop
// sends nothing to it until the administrator runs server init, which upgrades it in place to
// the schema a new server gets; then the old rows come back as they were and new ones carry
// their images' digests.
TEST_F(CliSync, ServerInitUpgradesAVersion1Schema) {
    ASSERT_EQ(AdminSql(db.Name(), ReadBytes(KELVANE_SOURCE_DIR "/data/sql/kelvane-1.sql")), "");
    ASSERT_EQ(AdminSql(db.Name(),
                       "INSERT INTO kelvane.entry (uuid, source, time_ms, command, result, "
                       "serial_nr, image_after, technician) SELECT gen_random_uuid(), "
                       "gen_random_uuid(), 1000 + i, 'von Maschine', 0, 'SN-OLD', "
                       "decode(repeat(to_hex(16 + i), 512), 'hex'), 'Otto' "
                       "FROM generate_series(1, 3) i"),
              "");
    const std::string oldRows = "SELECT string_agg(concat_ws('|', seq, uuid, source, time_ms, "
                                "command, result, serial_nr, md5(image_after), technician, "
                                "received_at), ',' ORDER BY seq) FROM kelvane.entry";
    const std::string before = AdminValue(db.Name(), oldRows);
    ASSERT_FALSE(before.empty());

    CliTempDir home;
    Reads(home, "SN-A", 2);
    CliResult r = Cli({"sync", "--server", db.Conninfo()}, home);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "zu alt") && Contains(r.err, "Administrator") &&
                Contains(r.err, "server init"))
        << r.err;
    EXPECT_EQ(AdminValue(db.Name(), "SELECT count(*) FROM kelvane.entry"), "3");
    r = Cli({"sync", "--status", "--json"}, home);
    EXPECT_EQ(json::parse(r.out)["waiting"], 2);

    r = Cli({"server", "init", "--server", db.Conninfo()}, home);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "upgraded from version 1 to 2")) << r.out;
    EXPECT_EQ(AdminValue(db.Name(), oldRows), before);
    EXPECT_EQ(AdminValue(db.Name(), "SELECT count(*) FROM kelvane.entry WHERE before_digest IS "
                                    "NULL AND after_digest IS NULL AND extra_digest IS NULL"),
              "3");

    r = Cli({"sync", "--server", db.Conninfo()}, home);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "pushed = 2") && Contains(r.out, "pulled = 3")) << r.out;
    ParameterBlock read = ParameterBlock::Default();
    read.SetSerialNr("SN-A");
    EXPECT_EQ(AdminValue(db.Name(), "SELECT count(*) FROM kelvane.entry WHERE serial_nr = 'SN-A' "
                                    "AND before_digest IS NULL AND after_digest = '" +
                                        ImageDigest(read) + "'"),
              "2");
    r = Cli({"history", "--serial", "SN-OLD", "--json"}, home);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out).size(), 3u) << r.out;

    // Upgraded and new are one schema: the same columns, constraints and grants.
    TestDatabase fresh;
    ASSERT_TRUE(fresh.Init());
    const std::string shape =
        "SELECT (SELECT string_agg(table_name || '.' || column_name || ' ' || data_type || ' ' "
        "|| is_nullable || ' ' || coalesce(column_default, ''), ',' ORDER BY table_name, "
        "ordinal_position) FROM information_schema.columns WHERE table_schema = 'kelvane') || "
        "(SELECT string_agg(conname || pg_get_constraintdef(oid), ',' ORDER BY conname) FROM "
        "pg_constraint WHERE connamespace = 'kelvane'::regnamespace) || (SELECT "
        "string_agg(grantee || privilege_type || table_name, ',' ORDER BY grantee, "
        "privilege_type, table_name) FROM information_schema.role_table_grants WHERE "
        "table_schema = 'kelvane')";
    EXPECT_EQ(AdminValue(db.Name(), shape), AdminValue(fresh.Name(), shape));
    EXPECT_EQ(AdminValue(db.Name(), "SELECT version FROM kelvane.schema_info"), "2");
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
