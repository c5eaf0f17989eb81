// bench_history_server: the team's history on a PostgreSQL server on this machine. Prints
//  - pushing 100,000 entries from one laptop (goal: at least 10,000 entries a second),
//  - an incremental sync with nothing new (goal: under 50 ms),
//  - a machine command (kelvane-cli read on the paced simulated machine) with a configured
//    server that is down against the same command without a server (goal: ratio <= 1.02),
//  - ten laptops syncing 10,000 entries each at once against a fresh server: when all have
//    arrived (each once), and when every laptop also holds the other nine's entries.
// Without a server in the environment (PGHOST ...) it starts itself again under pg_virtualenv,
// which makes a throw-away cluster and removes it afterwards.
#include "history/HistorySync.h"
#include "sim/SimMachine.h"

#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string Sql(const std::string& db, const std::string& sql) {
    PGconn* c = PQconnectdb(("dbname=" + db).c_str());
    std::string value;
    PGresult* r = PQexec(c, sql.c_str());
    if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0)
        value = PQgetvalue(r, 0, 0);
    else if (PQresultStatus(r) != PGRES_COMMAND_OK)
        std::fprintf(stderr, "%s", PQerrorMessage(c));
    PQclear(r);
    PQfinish(c);
    return value;
}

// A laptop's history of n entries as a technician's day makes them: reads and writes with
// their images, over 1,000 machines.
bool Fill(cHistoryStore& store, const fs::path& file, int n, unsigned seed) {
    HistoryNotice notice;
    HistoryError error;
    if (!store.Open(file, notice, error)) {
        std::fprintf(stderr, "%s\n", error.detail.c_str());
        return false;
    }
    std::mt19937 rng(seed);
    std::vector<HistoryEntry> batch;
    for (int i = 0; i < n; ++i) {
        ParameterBlock image;
        image.bytes = SimMachine::DefaultImage();
        image.SetSerialNr("SN" + std::to_string(100000 + rng() % 1000));
        image.bytes[ParameterBlock::kOffSteps + rng() % 290] = static_cast<uint8_t>(rng());
        HistoryEntry e;
        e.timeMs = 1700000000000LL + int64_t(i) * 60000;
        e.result = 0;
        e.fasteningCounter = static_cast<uint32_t>(i);
        e.TakeIdentity(image);
        e.command = i % 2 ? "von Maschine" : "zur Maschine";
        (i % 2 ? e.after : e.before) = image;
        batch.push_back(std::move(e));
        if (batch.size() == 5000 || i + 1 == n) {
            if (!store.AddAll(batch, error)) {
                std::fprintf(stderr, "%s\n", error.detail.c_str());
                return false;
            }
            batch.clear();
        }
    }
    return true;
}

bool Sync(cHistoryStore& store, const std::string& conninfo, SyncCounts& counts) {
    ServerError error;
    if (SyncHistory(store, conninfo, counts, error))
        return true;
    std::fprintf(stderr, "sync: %s\n", error.detail.c_str());
    return false;
}

// kelvane-cli ARGS with HOME in home; seconds, or -1.
double RunCli(const std::vector<std::string>& args, const fs::path& home) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "HOME=", 5) && std::strncmp(*e, "XDG_DATA_HOME=", 14))
            env.push_back(*e);
    env.push_back("HOME=" + home.string());
    std::vector<char*> envp, argv;
    for (std::string& s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string exe = KELVANE_BIN_DIR "/kelvane-cli";
    argv.push_back(exe.data());
    std::vector<std::string> copy = args;
    for (std::string& s : copy)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    const double s = Seconds(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? s : -1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

bool InitServer(const std::string& db) {
    Sql("postgres", "DROP DATABASE IF EXISTS " + db);
    Sql("postgres", "CREATE DATABASE " + db);
    cServerHistory server;
    ServerError error;
    int from = 0;
    if (!server.Connect("dbname=" + db, error) ||
        !server.InitSchema(KELVANE_SOURCE_DIR "/data/sql", from, error)) {
        std::fprintf(stderr, "server init: %s\n", error.detail.c_str());
        return false;
    }
    return true;
}

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!std::getenv("PGHOST") && !std::getenv("KELVANE_BENCH_IN_CLUSTER")) {
        setenv("KELVANE_BENCH_IN_CLUSTER", "1", 1);
        std::vector<char*> args = {const_cast<char*>("pg_virtualenv"), argv[0]};
        for (int i = 1; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("pg_virtualenv", args.data());
        std::perror("pg_virtualenv (postgresql-common)");
        return 1;
    }
    char tmpl[] = "/tmp/kelvane-bench-server-XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    const fs::path folder = tmpl;
    const std::string db = "kelvane_bench";
    const std::string conninfo = "dbname=" + db;
    if (!InitServer(db))
        return 1;
    int failures = 0;
    // Others build on this machine too: the load says how far the figures can be trusted.
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3)
        std::printf("load average at the start: %.2f %.2f %.2f\n", load[0], load[1], load[2]);

    // 1. One laptop pushes 100,000 entries.
    cHistoryStore laptop;
    constexpr int kPush = 100000;
    if (!Fill(laptop, folder / "push.sqlite", kPush, 1))
        return 1;
    SyncCounts counts;
    auto start = Clock::now();
    if (!Sync(laptop, conninfo, counts))
        return 1;
    const double pushSeconds = Seconds(start);
    const double rate = kPush / pushSeconds;
    std::printf("push %d entries: %.2f s, %.0f entries/s (goal >= 10000) %s\n", kPush, pushSeconds,
                rate, rate >= 10000 ? "ok" : "MISSED");
    failures += rate < 10000;

    // 2. Nothing new: connect, compare, done.
    std::vector<double> idle;
    for (int i = 0; i < 21; ++i) {
        start = Clock::now();
        if (!Sync(laptop, conninfo, counts))
            return 1;
        idle.push_back(Seconds(start) * 1000);
    }
    const double idleMs = Median(idle);
    std::printf("incremental sync, nothing new: %.1f ms median of 21 (goal < 50) %s\n", idleMs,
                idleMs < 50 ? "ok" : "MISSED");
    failures += idleMs >= 50;

    // 3. A machine command with the server down against none configured.
    {
        SimOptions options;
        options.announce = false;
        SimMachine sim(options);
        const std::string device = sim.Start();
        if (device.empty()) {
            std::fprintf(stderr, "simulated machine: %s\n", sim.LastError().c_str());
            return 1;
        }
        const fs::path home = folder / "home";
        const std::string out = (folder / "read.bin").string();
        std::vector<double> plain, down;
        for (int i = 0; i < 4; ++i) {
            const double a = RunCli({"read", "--quiet", "--port", device, out}, home);
            const double b = RunCli({"read", "--quiet", "--port", device, "--server",
                                     "host=127.0.0.1 port=1 connect_timeout=2", out},
                                    home);
            if (a < 0 || b < 0) {
                std::fprintf(stderr, "kelvane-cli read failed\n");
                return 1;
            }
            plain.push_back(a);
            down.push_back(b);
        }
        sim.Stop();
        const double ratio = Median(down) / Median(plain);
        std::printf("read on the paced machine: %.3f s without a server, %.3f s with the server "
                    "down, ratio %.3f (goal <= 1.02) %s\n",
                    Median(plain), Median(down), ratio, ratio <= 1.02 ? "ok" : "MISSED");
        failures += ratio > 1.02;
    }

    // 4. Ten laptops, 10,000 entries each, all at once.
    constexpr int kLaptops = 10, kEach = 10000;
    std::vector<fs::path> files;
    for (int i = 0; i < kLaptops; ++i) {
        cHistoryStore store;
        files.push_back(folder / ("laptop" + std::to_string(i) + ".sqlite"));
        if (!Fill(store, files.back(), kEach, 100 + i))
            return 1;
    }
    const std::string teamDb = "kelvane_bench_team";
    if (!InitServer(teamDb))
        return 1;
    const std::string team = "dbname=" + teamDb;
    start = Clock::now();
    std::vector<pid_t> children;
    for (const fs::path& file : files) {
        const pid_t pid = fork();
        if (pid == 0) {
            cHistoryStore store;
            HistoryNotice notice;
            HistoryError error;
            SyncCounts c;
            _exit(store.Open(file, notice, error) && Sync(store, team, c) ? 0 : 1);
        }
        children.push_back(pid);
    }
    double arrivedSeconds = -1;
    for (;;) {
        if (std::stoll(Sql(teamDb, "SELECT count(*) FROM kelvane.entry")) >= kLaptops * kEach) {
            arrivedSeconds = Seconds(start);
            break;
        }
        if (Seconds(start) > 600)
            break; // a laptop failed: said below
        usleep(20000);
    }
    bool allOk = true;
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        allOk = allOk && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    const double tenSeconds = Seconds(start);
    const int64_t arrived = std::stoll(Sql(teamDb, "SELECT count(*) FROM kelvane.entry"));
    const int64_t distinct =
        std::stoll(Sql(teamDb, "SELECT count(DISTINCT uuid) FROM kelvane.entry"));
    const bool once = allOk && arrived == kLaptops * kEach && distinct == arrived;
    std::printf("ten laptops, %d entries each, at once: all on the server after %.2f s, every "
                "laptop holding all %lld after %.2f s, each once: %s\n",
                kEach, arrivedSeconds, static_cast<long long>(arrived), tenSeconds,
                once ? "yes" : "NO");
    failures += !once;

    if (getloadavg(load, 3) == 3)
        std::printf("load average at the end: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    Sql("postgres", "DROP DATABASE IF EXISTS " + db);
    Sql("postgres", "DROP DATABASE IF EXISTS " + teamDb);
    std::error_code ec;
    fs::remove_all(folder, ec);
    return failures ? 1 : 0;
}
