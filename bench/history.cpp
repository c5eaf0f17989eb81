// bench_history: the service history at scale. Fills a database with 200,000 entries over
// 1,000 machines, then prints the time of the machine list and of one machine's entries (goal:
// under 100 ms each), the size of the database, what every command pays for the history (open,
// one machine's newest entries, close; goal: under 20 ms) against the whole file's check, and
// what storing a backup adds to a block write on the road of every write, to the simulated
// machine paced at the line's speed (goal: at most 5 %).
// bench_history [FOLDER] keeps the database in FOLDER (default: a temporary folder, removed).
#include "app/DialogMain.h"
#include "app/HistoryJournal.h"
#include "app/WriteRoad.h"
#include "history/HistoryStore.h"
#include "link/ResultCodes.h"
#include "sim/SimMachine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sqlite3.h>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kMachines = 1000;
constexpr int kEntries = 200000;
constexpr int kBatch = 5000;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

ParameterBlock MachineImage(int machine, std::mt19937& rng) {
    ParameterBlock b;
    b.bytes = SimMachine::DefaultImage();
    b.SetSerialNr("SN" + std::to_string(100000 + machine));
    // Each image a little different, as edits make them.
    for (int i = 0; i < 8; ++i)
        b.bytes[ParameterBlock::kOffSteps + rng() % 290] = static_cast<uint8_t>(rng());
    return b;
}

HistoryEntry MakeEntry(int i, std::mt19937& rng) {
    const int machine = i % kMachines;
    HistoryEntry e;
    e.timeMs = 1700000000000LL + int64_t(i) * 60000;
    const int kind = static_cast<int>(rng() % 20);
    e.result = 0;
    e.fasteningCounter = static_cast<uint32_t>(i);
    ParameterBlock image = MachineImage(machine, rng);
    e.TakeIdentity(image);
    if (kind < 10) {
        e.command = "von Maschine";
        e.after = image;
    } else if (kind < 18) {
        e.command = "zur Maschine";
        e.message = "Parameter wurden übertragen";
        e.before = image;
        e.after = MachineImage(machine, rng);
    } else if (kind < 19) {
        e.command = "Firmware Update";
        e.before = image;
        e.after = MachineImage(machine, rng);
        e.extra.assign(4096, 0xFF);
        for (int r = 0; r < 64; ++r)
            e.extra[rng() % 4096] = static_cast<uint8_t>(rng());
    } else {
        e.command = "Dump SUPV";
        e.extra.assign(128, static_cast<uint8_t>(rng()));
    }
    return e;
}

uintmax_t DatabaseSize(const fs::path& file) {
    std::error_code ec;
    uintmax_t size = 0;
    for (const char* suffix : {"", "-wal"}) {
        const uintmax_t s = fs::file_size(file.string() + suffix, ec);
        if (!ec)
            size += s;
    }
    return size;
}

// Time of fn in ms: the worst of several runs.
template <class Fn> double WorstMs(int runs, Fn fn) {
    double worst = 0;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        fn();
        worst = std::max(worst, Seconds(t0) * 1000);
    }
    return worst;
}

// The history journal, timing what its backups take.
class TimedJournal : public cMachineJournal {
public:
    explicit TimedJournal(cMachineJournal& inner) : inner(inner) {}
    int64_t Backup(const MachineEvent& event, std::string& error) override {
        const auto t0 = Clock::now();
        const int64_t id = inner.Backup(event, error);
        backupSeconds += Seconds(t0);
        return id;
    }
    bool Record(int64_t id, const MachineEvent& event, std::string& error) override {
        return inner.Record(id, event, error);
    }
    double backupSeconds = 0;

private:
    cMachineJournal& inner;
};

// Says nothing, answers nothing: the road needs no question answered here.
class SilentUi : public cUserInterface {
public:
    Answer ShowMessage(const std::string& text, Buttons, Icon icon) override {
        if (icon != Icon::Information)
            std::fprintf(stderr, "bench_history: %s\n", text.c_str());
        return Answer::Cancel;
    }
    bool AskPassword(std::string&) override { return false; }
    bool AskPasswordChange(PasswordChange&) override { return false; }
    bool AskOpenFile(const FileRequest&, std::string&) override { return false; }
    bool AskSaveFile(const FileRequest&, std::string&) override { return false; }
    void ShowStatus(const std::string&) override {}
    void ShowProgress(bool) override {}
    void SetProgress(int) override {}
};

// Block writes on the paced machine as "zur Maschine" makes them: the machine read first, then
// the road (backup, reconnect, write, read-back, record). The time of the road without its
// backups, and of the backups alone.
bool TimeBlockWrites(const std::string& device, const fs::path& folder, int rounds,
                     double& writeSeconds, double& backupSeconds) {
    cHistoryJournal history;
    std::string notice, error;
    if (!history.Open(folder, notice, error)) {
        std::fprintf(stderr, "bench_history: %s\n", error.c_str());
        return false;
    }
    TimedJournal journal(history);
    SilentUi ui;
    CNullSheet sheet;
    FolderSet folders;
    folders.appFolder = KELVANE_BIN_DIR;
    cDialogMain c(ui, sheet, folders, [device] {
        return std::vector<AdapterRecord>{{"", device}};
    });
    c.SetJournal(&journal);
    c.DiscoverAdapters();
    c.Link();
    writeSeconds = 0;
    for (int i = 0; i < rounds; ++i) {
        BlockWrite write;
        const int r = c.ReadFromMachine(write.before);
        if (r != kResultOk) {
            std::fprintf(stderr, "bench_history: block read failed with %d\n", r);
            return false;
        }
        write.options.command = "zur Maschine";
        write.outgoing = write.before;
        const auto t0 = Clock::now();
        const WriteOutcome outcome = cWriteRoad(c).WriteBlock(write);
        writeSeconds += Seconds(t0);
        if (!outcome.Written()) {
            std::fprintf(stderr, "bench_history: block write failed with %d\n", outcome.result);
            return false;
        }
    }
    backupSeconds = journal.backupSeconds;
    writeSeconds -= backupSeconds;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    fs::path folder;
    bool temporary = false;
    if (argc > 1) {
        folder = argv[1];
    } else {
        std::string tmpl = (fs::temp_directory_path() / "kelvane-bench-history-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            return 1;
        folder = tmpl;
        temporary = true;
    }
    const fs::path file = folder / cHistoryStore::kFileName;
    std::error_code ec;
    fs::remove(file, ec);
    fs::remove(file.string() + "-wal", ec);
    fs::remove(file.string() + "-shm", ec);

    cHistoryStore store;
    HistoryNotice notice;
    HistoryError error;
    if (!store.Open(file, notice, error)) {
        std::fprintf(stderr, "bench_history: %s\n", error.detail.c_str());
        return 1;
    }
    std::mt19937 rng(4711);
    auto t0 = Clock::now();
    for (int i = 0; i < kEntries; i += kBatch) {
        std::vector<HistoryEntry> batch;
        for (int j = i; j < i + kBatch; ++j)
            batch.push_back(MakeEntry(j, rng));
        if (!store.AddAll(batch, error)) {
            std::fprintf(stderr, "bench_history: %s\n", error.detail.c_str());
            return 1;
        }
    }
    const double fill = Seconds(t0);
    store.Close();

    // What every command pays: open, the newest entries of one machine, close; listing opens
    // read-only, a machine command for writing.
    size_t newest = 0;
    const double readOverheadMs = WorstMs(10, [&] {
        cHistoryStore reader;
        HistoryError failure;
        if (reader.OpenForReading(file, failure))
            newest =
                reader.Entries("SN" + std::to_string(100000 + int(rng() % kMachines)), failure,
                               false, 20)
                    .size();
    });
    const double writeOverheadMs = WorstMs(10, [&] {
        cHistoryStore writer;
        HistoryNotice moved;
        HistoryError failure;
        if (writer.Open(file, moved, failure))
            writer.Entries("SN" + std::to_string(100000 + int(rng() % kMachines)), failure, false,
                           20);
    });
    // The whole file's check (after an unclean close, and history check with every digest).
    double integrityMs = 0, checkMs = 0;
    {
        cHistoryStore reader;
        if (!reader.OpenForReading(file, error))
            return 1;
        std::string problems;
        std::vector<cHistoryStore::Damage> damaged;
        t0 = Clock::now();
        reader.Check(problems, damaged, error);
        checkMs = Seconds(t0) * 1000;
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            t0 = Clock::now();
            sqlite3_exec(db, "PRAGMA integrity_check", nullptr, nullptr, nullptr);
            integrityMs = Seconds(t0) * 1000;
        }
        sqlite3_close(db);
        if (!problems.empty() || !damaged.empty()) {
            std::fprintf(stderr, "bench_history: the check finds damage: %s\n", problems.c_str());
            return 1;
        }
    }

    // As a program starting up: open and list.
    t0 = Clock::now();
    if (!store.Open(file, notice, error))
        return 1;
    const double openMs = Seconds(t0) * 1000;
    size_t machines = 0, entries = 0;
    const double listMs = WorstMs(10, [&] { machines = store.Machines(error).size(); });
    const double entriesMs = WorstMs(10, [&] {
        entries =
            store.Entries("SN" + std::to_string(100000 + int(rng() % kMachines)), error).size();
    });
    const double entriesImagesMs = WorstMs(10, [&] {
        store.Entries("SN" + std::to_string(100000 + int(rng() % kMachines)), error, true);
    });
    std::printf("history of %d entries over %d machines (filled in %.1f s)\n", kEntries, kMachines,
                fill);
    std::printf("  database size             %.1f MB (%ju bytes)\n",
                double(DatabaseSize(file)) / 1e6, DatabaseSize(file));
    std::printf("  open                      %.1f ms\n", openMs);
    std::printf("  command overhead (open, newest %zu of a machine, close): listing %.2f ms, "
                "for writing %.2f ms: ratio %.3f to 20 ms (goal < 1)\n",
                newest, readOverheadMs, writeOverheadMs,
                std::max(readOverheadMs, writeOverheadMs) / 20);
    std::printf("  whole-file check: SQLite's %.0f ms, with every digest %.0f ms (after an "
                "unclean close and history check only)\n",
                integrityMs, checkMs);
    std::printf("  machine list (%zu rows)  %.2f ms (goal < 100 ms)\n", machines, listMs);
    std::printf("  one machine's entries (%zu) %.2f ms, with images %.2f ms (goal < 100 ms)\n",
                entries, entriesMs, entriesImagesMs);

    // The backup against the block write it guards.
    SimOptions options;
    options.announce = false;
    options.pacing = true;
    SimMachine sim(options);
    const std::string device = sim.Start();
    if (device.empty()) {
        std::fprintf(stderr, "bench_history: %s\n", sim.LastError().c_str());
        return 1;
    }
    constexpr int kRounds = 5;
    store.Close();
    double writeSeconds = 0, backupSeconds = 0;
    if (!TimeBlockWrites(device, folder, kRounds, writeSeconds, backupSeconds))
        return 1;
    sim.Stop();
    std::printf("  block write %.3f s, backup %.2f ms: ratio %.4f (goal <= 0.05)\n",
                writeSeconds / kRounds, 1000 * backupSeconds / kRounds,
                backupSeconds / writeSeconds);
    if (temporary)
        fs::remove_all(folder, ec);
    const bool ok = listMs < 100 && entriesMs < 100 && backupSeconds / writeSeconds <= 0.05 &&
                    std::max(readOverheadMs, writeOverheadMs) < 20;
    return ok ? 0 : 1;
}
