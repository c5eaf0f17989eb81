// The throw-away cluster pg_virtualenv started for this test program (PGHOST, PGPORT, PGUSER,
// PGPASSWORD in the environment): a fresh database per test, with the schema made by the
// program's own server init.
#pragma once

#include "history/ServerHistory.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <atomic>
#include <string>
#include <unistd.h>

// SQL as the cluster's superuser on database db; "" when it worked, else the server's words.
inline std::string AdminSql(const std::string& db, const std::string& sql) {
    const std::string conninfo = "dbname=" + db;
    PGconn* c = PQconnectdb(conninfo.c_str());
    std::string error;
    if (PQstatus(c) != CONNECTION_OK) {
        error = PQerrorMessage(c);
    } else {
        PGresult* r = PQexec(c, sql.c_str());
        const ExecStatusType st = PQresultStatus(r);
        if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
            error = PQresultErrorMessage(r);
        PQclear(r);
    }
    PQfinish(c);
    return error;
}

// The first value of a query as the superuser.
inline std::string AdminValue(const std::string& db, const std::string& sql) {
    const std::string conninfo = "dbname=" + db;
    PGconn* c = PQconnectdb(conninfo.c_str());
    std::string value;
    if (PQstatus(c) == CONNECTION_OK) {
        PGresult* r = PQexec(c, sql.c_str());
        if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0)
            value = PQgetvalue(r, 0, 0);
        PQclear(r);
    }
    PQfinish(c);
    return value;
}

// A database of its own, dropped at the end; Init() runs server init on it.
class TestDatabase {
public:
    TestDatabase() {
        static std::atomic<int> n{0};
        name_ = "kelvane_t" + std::to_string(::getpid()) + "_" + std::to_string(n++);
        const std::string error = AdminSql("postgres", "CREATE DATABASE " + name_);
        EXPECT_EQ(error, "") << "is this run under pg_virtualenv?";
    }
    ~TestDatabase() { AdminSql("postgres", "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)"); }
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    const std::string& Name() const { return name_; }
    std::string Conninfo() const { return "dbname=" + name_; }
    bool Init() {
        cServerHistory server;
        ServerError error;
        int from = 0;
        const bool ok = server.Connect(Conninfo(), error) &&
                        server.InitSchema(KELVANE_SOURCE_DIR "/data/sql", from, error);
        EXPECT_TRUE(ok) << error.detail;
        return ok;
    }

private:
    std::string name_;
};
