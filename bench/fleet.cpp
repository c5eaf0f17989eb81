// bench_fleet: the fleet overview at scale. Fills a history with 1,000,000 entries over 10,000
// machines (reads and writes with their images), a library of 20 configurations and an
// assignment for most machines, then prints the time of the fleet overview (goal: under
// 200 ms) as a ratio to the goal.
// bench_fleet [FOLDER] keeps the database in FOLDER and reuses one filled before (default: a
// temporary folder, removed).
#include "fleet/FleetStore.h"
#include "history/HistoryStore.h"
#include "sim/SimMachine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include <time.h>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kMachines = 10000;
constexpr int kEntries = 1000000;
constexpr int kBatch = 20000;
constexpr int kConfigurations = 20;
constexpr double kGoalSeconds = 0.2;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// The process's own CPU time: what the overview costs when other programs share the cores.
double CpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

ParameterBlock MachineImage(int machine, int variant) {
    ParameterBlock b;
    b.bytes = SimMachine::DefaultImage();
    b.SetSerialNr("SN" + std::to_string(100000 + machine));
    b.bytes[ParameterBlock::kOffSteps + variant % 290] ^= uint8_t(1 + variant % 7);
    b.SetServiceDueCounter(uint32_t(5000 + machine % 3000));
    b.SetCalDate(uint32_t(12000000 + machine * 37));
    return b;
}

bool Fill(cHistoryStore& history, cFleetStore& fleet) {
    std::mt19937 rng(22);
    std::vector<HistoryEntry> batch;
    batch.reserve(kBatch);
    HistoryError error;
    const auto start = Clock::now();
    for (int i = 0; i < kEntries; ++i) {
        const int machine = i % kMachines;
        HistoryEntry e;
        e.timeMs = 1700000000000LL + int64_t(i) * 1000;
        e.result = 0;
        e.fasteningCounter = uint32_t(i / kMachines * 60);
        const ParameterBlock image = MachineImage(machine, int(rng() % 40));
        e.TakeIdentity(image);
        if (rng() % 4) {
            e.command = "von Maschine";
            e.after = image;
        } else {
            e.command = "zur Maschine";
            e.before = image;
            e.after = MachineImage(machine, int(rng() % 40));
        }
        batch.push_back(std::move(e));
        if (batch.size() == kBatch) {
            if (!history.AddAll(batch, error)) {
                std::fprintf(stderr, "bench_fleet: cannot fill: %s\n", error.detail.c_str());
                return false;
            }
            batch.clear();
            std::fprintf(stderr, "\rfilling: %d of %d entries", i + 1, kEntries);
        }
    }
    std::fprintf(stderr, "\rfilled %d entries in %.1f s\n", kEntries, Seconds(start));
    std::string err;
    for (int c = 0; c < kConfigurations; ++c)
        if (!fleet.AddVersion("Station-" + std::to_string(c), MachineImage(0, c), "", err)) {
            std::fprintf(stderr, "bench_fleet: %s\n", err.c_str());
            return false;
        }
    bool known = false;
    for (int m = 0; m < kMachines; ++m)
        if (m % 10 &&
            !fleet.Assign("SN" + std::to_string(100000 + m),
                          {"Station-" + std::to_string(m % kConfigurations), {}}, known, err)) {
            std::fprintf(stderr, "bench_fleet: %s\n", err.c_str());
            return false;
        }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const bool keep = argc > 1;
    fs::path dir;
    if (keep) {
        dir = argv[1];
        std::error_code ec;
        fs::create_directories(dir, ec);
    } else {
        char tmpl[] = "/tmp/kelvane-bench-fleet-XXXXXX";
        if (!::mkdtemp(tmpl))
            return 1;
        dir = tmpl;
    }
    const fs::path file = dir / cHistoryStore::kFileName;
    cHistoryStore history;
    HistoryNotice notice;
    HistoryError herr;
    if (!history.Open(file, notice, herr)) {
        std::fprintf(stderr, "bench_fleet: cannot open %s: %s\n", file.c_str(),
                     herr.detail.c_str());
        return 1;
    }
    cFleetStore fleet;
    std::string error;
    if (!fleet.Open(history, error)) {
        std::fprintf(stderr, "bench_fleet: %s\n", error.c_str());
        return 1;
    }
    if (history.Machines(herr).size() < size_t(kMachines) && !Fill(history, fleet))
        return 1;

    FleetOptions options;
    options.firmwareFolder = fs::path(KELVANE_BIN_DIR) / "firmware";
    std::vector<double> times, cpu;
    size_t rows = 0, compliant = 0, due = 0;
    for (int run = 0; run < 7; ++run) {
        const auto start = Clock::now();
        const double cpuStart = CpuSeconds();
        auto all = fleet.Overview(options, error);
        times.push_back(Seconds(start));
        cpu.push_back(CpuSeconds() - cpuStart);
        if (!error.empty()) {
            std::fprintf(stderr, "bench_fleet: %s\n", error.c_str());
            return 1;
        }
        rows = all.size();
        compliant = size_t(std::count_if(all.begin(), all.end(), [](const FleetMachine& m) {
            return m.compliance == FleetCompliance::Yes;
        }));
        due = size_t(std::count_if(all.begin(), all.end(), [](const FleetMachine& m) {
            return m.service == ServiceState::Due || m.calibrationDue.value_or(false);
        }));
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    const double median = times[times.size() / 2];
    std::error_code ec;
    std::printf("fleet overview: %zu machines (%zu compliant, %zu due) from %d entries\n", rows,
                compliant, due, kEntries);
    std::printf("  median of %zu runs %.1f ms (fastest %.1f ms), goal %.0f ms: ratio %.2f\n",
                times.size(), median * 1000, times.front() * 1000, kGoalSeconds * 1000,
                median / kGoalSeconds);
    std::printf("  CPU time: median %.1f ms, ratio to the goal %.2f (the wall time above waits "
                "for the cores when other programs use them)\n",
                cpu[cpu.size() / 2] * 1000, cpu[cpu.size() / 2] / kGoalSeconds);
    std::printf("  database %.0f MB\n", double(fs::file_size(file, ec)) / 1e6);
    fleet.Close();
    history.Close();
    if (!keep)
        fs::remove_all(dir);
    return median <= kGoalSeconds ? 0 : 1;
}
