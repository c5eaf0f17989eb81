// bench_firmware: a main firmware write of the largest memory size (0x32000 bytes) to the
// simulated machine paced at the line's speed, as "Firmware Update" sends it. Prints how close
// the write comes to the least time the line allows, and the processor time the link thread
// spends per second of transfer; also behind an emulated USB-serial adapter with a latency timer
// of 16 ms (the chip's default) and 1 ms (low-latency mode).
#include "files/FirmwareFile.h"
#include "link/QVX.h"
#include "link/ResultCodes.h"
#include "link/STM.h"
#include "link/SerialPort.h"
#include "sim/SimFirmware.h"
#include "sim/SimMachine.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kLargestCode = 0x33000; // memory size 0x32000
constexpr uint32_t kApplicationArea = 0x10001000;

double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Round {
    double wall = 0, least = 0, cpu = 0, processCpu = 0;
};

// verify: the whole area read back in pieces afterwards, as "Firmware Update" checks it.
bool WriteOnce(SimMachine& sim, const std::string& device, const std::vector<uint8_t>& image,
               Round& round, bool verify) {
    sim.ResetCounters();
    SerialPort port;
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = CpuSeconds(RUSAGE_THREAD), p0 = CpuSeconds(RUSAGE_SELF);
    if (!port.Open(device, 9600))
        return false;
    port.SetRts(false);
    port.SetDtr(false);
    cQVX_18 link(&port, KELVANE_BIN_DIR "/");
    // What the road's write step runs: its wait, the reconnect, then the application area.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    int r = link.Connect();
    int endResult = kResultOk;
    if (r == kResultOk)
        r = link.WriteApplicationAreaConnected(image, endResult);
    if (r == kResultOk)
        r = endResult;
    std::vector<uint8_t> back(link.ApplicationAreaEnd() - kApplicationArea);
    if (r == kResultOk && verify)
        r = link.ReadArea(kApplicationArea, back);
    port.Close();
    round.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    round.cpu = CpuSeconds(RUSAGE_THREAD) - c0;
    round.processCpu = CpuSeconds(RUSAGE_SELF) - p0;
    round.least = sim.Counters().LeastLineSeconds();
    if (r != kResultOk) {
        std::fprintf(stderr, "bench_firmware: write failed with %d\n", r);
        return false;
    }
    const uint32_t span = sim.EmulationStart() - kApplicationArea;
    if (sim.Peek(kApplicationArea, span) !=
        std::vector<uint8_t>(image.begin(), image.begin() + span)) {
        std::fprintf(stderr, "bench_firmware: the machine does not hold the image\n");
        return false;
    }
    if (verify && back != std::vector<uint8_t>(image.begin(), image.begin() + span)) {
        std::fprintf(stderr, "bench_firmware: the area read back differs\n");
        return false;
    }
    return true;
}

// The supervisor's program through its boot loader: its record pauses are filled with carriage
// returns, so the line is busy all the time; the fixed waits around it are left out.
bool ProgramSupervisor(SimMachine& sim, const std::string& device, Round& round) {
    sim.ResetCounters();
    SerialPort port;
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = CpuSeconds(RUSAGE_THREAD), p0 = CpuSeconds(RUSAGE_SELF);
    if (!port.Open(device, cSTM::kTriggerBaud))
        return false;
    port.SetRts(false);
    port.SetDtr(false);
    cSTM stm(&port);
    stm.SetPauseFunction([](int) {});
    const auto eeprom = SimSupervisorEepromImage(0x00010009);
    const auto program = SimSupervisorProgram(0x00010009);
    const int r = stm.Program(eeprom, program);
    port.Close();
    round.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    round.cpu = CpuSeconds(RUSAGE_THREAD) - c0;
    round.processCpu = CpuSeconds(RUSAGE_SELF) - p0;
    round.least = sim.Counters().LeastLineSeconds();
    if (r != kResultOk || sim.SupervisorProgram() != program) {
        std::fprintf(stderr, "bench_firmware: supervisor not programmed (%d)\n", r);
        return false;
    }
    return true;
}

void Print(const char* what, const Round& total) {
    std::printf("%s: wall %.3f s  line least %.3f s  ratio %.3f (goal <= 1.1)  cpu %.2f %% of "
                "one core (goal < 5 %%; with the simulator %.2f %%)\n",
                what, total.wall, total.least, total.wall / total.least,
                100.0 * total.cpu / total.wall, 100.0 * total.processCpu / total.wall);
}

bool Write(const char* label, unsigned adapterLatencyMs, int rounds, SimMachine** keep,
           bool verify = false) {
    SimOptions options;
    options.announce = false;
    options.pacing = true;
    options.memorySizeCode = kLargestCode;
    options.adapterLatencyMs = adapterLatencyMs;
    static std::vector<std::unique_ptr<SimMachine>> machines;
    machines.push_back(std::make_unique<SimMachine>(options));
    SimMachine& sim = *machines.back();
    const std::string device = sim.Start();
    if (device.empty()) {
        std::fprintf(stderr, "bench_firmware: %s\n", sim.LastError().c_str());
        return false;
    }
    if (keep)
        *keep = &sim;
    // The image as the update takes it from a firmware file.
    const uint32_t size = sim.MemorySize();
    const std::vector<uint8_t> file = FirmwareFile::BuildMain(SimFirmwareImage(size, "V04.09.000"),
                                                              SimFirmwareBlock("V04.09.000"));
    const std::string path = "/tmp/kelvane-bench-firmware.bin";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(file.data(), 1, file.size(), f) != file.size()) {
        std::fprintf(stderr, "bench_firmware: cannot write %s\n", path.c_str());
        return false;
    }
    std::fclose(f);
    MainFirmware fw;
    if (FirmwareFile::ReadMain(path, size, fw) != FirmwareStatus::Ok) {
        std::fprintf(stderr, "bench_firmware: the firmware file does not read back\n");
        return false;
    }
    std::remove(path.c_str());

    Round total;
    for (int i = 0; i < rounds; ++i) {
        Round r;
        if (!WriteOnce(sim, device, fw.image, r, verify))
            return false;
        total.wall += r.wall;
        total.least += r.least;
        total.cpu += r.cpu;
        total.processCpu += r.processCpu;
    }
    total.wall /= rounds;
    total.least /= rounds;
    total.cpu /= rounds;
    total.processCpu /= rounds;
    char what[96];
    std::snprintf(what, sizeof what, "firmware write%s 0x%X bytes%s", verify ? " + verify" : "",
                  unsigned(size), label);
    Print(what, total);
    return true;
}

} // namespace

int main() {
    SimMachine* sim = nullptr;
    if (!Write("", 0, 2, &sim))
        return 1;
    // Behind a USB-serial chip: its default latency timer and the tuned one.
    if (!Write(", adapter at 16 ms", 16, 1, nullptr) || !Write(", adapter at 1 ms", 1, 1, nullptr))
        return 1;
    // Write and read-back, as the update now runs them.
    if (!Write("", 0, 1, nullptr, true))
        return 1;
    const std::string device = sim->DevicePath();

    Round supv;
    if (!ProgramSupervisor(*sim, device, supv))
        return 1;
    Print("supervisor program 8192 bytes", supv);
    return 0;
}
