// bench_read: "von Maschine" against the simulated machine paced at the line's speed. Prints how
// close the transfer comes to the least time the line allows, and the processor time the link
// thread spends per second of transfer; at the line itself and behind an emulated USB-serial
// adapter with a latency timer of 16 ms (the chip's default) and 1 ms (low-latency mode).
#include "link/QVX.h"
#include "link/ResultCodes.h"
#include "link/SerialPort.h"
#include "sim/SimMachine.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>

namespace {

double ThreadCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Round {
    double wall = 0, least = 0, cpu = 0;
};

bool ReadOnce(SimMachine& sim, const std::string& device, Round& round) {
    sim.ResetCounters();
    SerialPort port;
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = ThreadCpuSeconds();
    if (!port.Open(device, 9600))
        return false;
    port.SetRts(false);
    port.SetDtr(false);
    cQVX_18 link(&port, KELVANE_BIN_DIR "/");
    std::array<uint8_t, 512> block{};
    uint32_t counter = 0;
    int r = link.Connect();
    if (r == kResultOk)
        r = link.ReadParameterBlock(block);
    if (r == kResultOk)
        r = link.ReadFasteningCounter(counter);
    port.Close();
    round.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    round.cpu = ThreadCpuSeconds() - c0;
    round.least = sim.Counters().LeastLineSeconds();
    if (r != kResultOk) {
        std::fprintf(stderr, "bench_read: read failed with %d\n", r);
        return false;
    }
    return block == sim.ParameterImage();
}

bool Run(const char* name, uint16_t wakeupN, unsigned adapterLatencyMs = 0) {
    SimOptions options;
    options.announce = false;
    options.pacing = true;
    options.wakeupN = wakeupN;
    options.adapterLatencyMs = adapterLatencyMs;
    SimMachine sim(options);
    std::string device = sim.Start();
    if (device.empty()) {
        std::fprintf(stderr, "bench_read: %s\n", sim.LastError().c_str());
        return false;
    }
    constexpr int kRounds = 5;
    Round total;
    for (int i = 0; i < kRounds; ++i) {
        Round r;
        if (!ReadOnce(sim, device, r))
            return false;
        total.wall += r.wall;
        total.least += r.least;
        total.cpu += r.cpu;
    }
    std::printf("%-22s wall %.3f s  line least %.3f s  ratio %.3f (goal <= 1.1)  cpu %.2f %% of "
                "one core (goal < 5 %%)\n",
                name, total.wall / kRounds, total.least / kRounds, total.wall / total.least,
                100.0 * total.cpu / total.wall);
    return true;
}

} // namespace

int main() {
    bool ok = Run("read at 230400 baud", 256);
    ok = Run("read at 19200 baud", 40) && ok;
    // Behind a USB-serial chip: its default latency timer and the tuned one.
    ok = Run("read, adapter at 16 ms", 256, 16) && ok;
    ok = Run("read, adapter at 1 ms", 256, 1) && ok;
    return ok ? 0 : 1;
}
