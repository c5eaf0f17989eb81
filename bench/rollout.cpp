// bench_rollout: a rollout's time per machine against the line's time for its transfers. Plays
// a line of three machines on the simulated machine paced at the line's speed, runs
// kelvane-cli rollout over it, and prints the time the rollout spent on each machine (from its
// identification to its end; the wait for the next machine excluded) against the least time
// the line allows for what was exchanged (goal: ratio at most 1.15).
#include "model/ParameterBlock.h"
#include "sim/SimMachine.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr unsigned kMachines = 3;

std::string Run(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

} // namespace

int main() {
    char tmpl[] = "/tmp/kelvane-bench-rollout-XXXXXX";
    if (!::mkdtemp(tmpl))
        return 1;
    const fs::path dir = tmpl;
    for (const char* sub : {"data", "config", "docs", "runtime"})
        fs::create_directories(dir / sub);
    const std::string env = "HOME=" + dir.string() + " XDG_DATA_HOME=" + (dir / "data").string() +
                            " XDG_CONFIG_HOME=" + (dir / "config").string() +
                            " XDG_DOCUMENTS_DIR=" + (dir / "docs").string() +
                            " XDG_RUNTIME_DIR=" + (dir / "runtime").string() + " ";
    const std::string cli = env + (fs::path(KELVANE_BIN_DIR) / "kelvane-cli").string();

    SimOptions o;
    o.announce = false;
    o.machines = kMachines;
    SimMachine sim(o);
    const std::string device = sim.Start();
    if (device.empty()) {
        std::fprintf(stderr, "bench_rollout: %s\n", sim.LastError().c_str());
        return 1;
    }
    // The approved configuration: the machines' own with set 1's first step changed.
    ParameterBlock approved;
    approved.bytes = SimMachine::DefaultImage();
    approved.Step(0).SetTime(777);
    std::ofstream((dir / "approved.bin").string(), std::ios::binary)
        .write(reinterpret_cast<const char*>(approved.bytes.data()), approved.bytes.size());
    Run(cli + " library add Bench " + (dir / "approved.bin").string() + " >/dev/null");

    sim.ResetCounters();
    const std::string out = Run(cli + " rollout Bench --port " + device + " --count " +
                                std::to_string(kMachines) + " --password 0000 --json 2>/dev/null");
    const SimCounters line = sim.Counters();
    sim.Stop();
    const nlohmann::json j = nlohmann::json::parse(out, nullptr, false);
    if (j.is_discarded() || j["machines"].size() != kMachines) {
        std::fprintf(stderr, "bench_rollout: the rollout did not run: %s\n", out.c_str());
        fs::remove_all(dir);
        return 1;
    }
    double rollout = 0;
    for (const auto& m : j["machines"])
        rollout += m["seconds"].get<double>();
    const double least = line.LeastLineSeconds();
    // The line prescribes 500 ms before a write's reconnect; the rollout writes over the link
    // its read left connected and makes no reconnect, so its least time is without them.
    const double reconnects = double(line.writeCommands) * 0.5;
    const double leastHere = least - reconnects;
    std::printf("rollout over %u machines on the paced line: %.2f s a machine, the line's least "
                "time %.2f s a machine: ratio %.2f (goal at most 1.15)\n",
                kMachines, rollout / kMachines, least / kMachines, rollout / least);
    std::printf("  without the %.1f s of pauses before reconnects the rollout does not make: "
                "%.2f s a machine, ratio %.2f\n",
                reconnects / kMachines, leastHere / kMachines, rollout / leastHere);
    fs::remove_all(dir);
    return rollout / leastHere <= 1.15 ? 0 : 1;
}
