// kelvane-sim: the simulated machine on a pseudo-terminal. The first line of standard output is
// the device path; everything else goes to standard error.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <pthread.h>
#include <unistd.h>

#include "sim/SimMachine.h"
#include "sim/SimReplay.h"

namespace {

void Usage(FILE* to) {
    std::fprintf(
        to,
        "usage: kelvane-sim [options]\n"
        "Opens a pseudo-terminal, prints its device path as the first line and plays the\n"
        "machine on it until SIGINT or SIGTERM.\n"
        "\n"
        "  --image FILE           start from a 512-byte image or a 560-byte configuration\n"
        "                         file (its last 512 bytes); default: a kind-18 machine\n"
        "                         \"TVX18-4200\", firmware V04.02.005, password \"%s\"\n"
        "  --state DIR            keep the memory in DIR/memory.bin across runs; a kept\n"
        "                         memory wins over --image\n"
        "  --wakeup N             n of the wake-up answer (default 256; up to 40 the line\n"
        "                         stays at 19200, above it switches to 230400)\n"
        "  --block-offset N       offset of the image in the block area, 0..512 (default 0)\n"
        "  --memory-code CODE     memory-size code in the information block (default\n"
        "                         0x11000; 0x3000 0x5000 0x9000 0x11000 0x21000 0x33000)\n"
        "  --emulation-start A    address of the emulation area (default: below the\n"
        "                         pointer word)\n"
        "  --emulation-length N   length of the emulation area (default 4096)\n"
        "  --descriptor-pointer N pointer word value (default 0x10; 0: descriptor at the\n"
        "                         word itself, read as 0x00 0xFC)\n"
        "  --fastenings N         fastening count of a fresh emulation area (default 1234)\n"
        "  --machines N           play a line of N machines of the same type one after\n"
        "                         another on this device: serial numbers SIM0000001 to\n"
        "                         SIM000000N, each with its own memory in DIR/machine-K\n"
        "                         of --state. Once the program has talked to a machine and\n"
        "                         then sent nothing for the line gap, that machine is\n"
        "                         unplugged and the next one answers; after the last one\n"
        "                         no machine answers\n"
        "  --line-gap MS          the silence that unplugs a machine of the line (default\n"
        "                         1500)\n"
        "  --no-pacing            answer at once instead of at the line's speed\n"
        "  --adapter-latency MS   hold back what the machine sends as a USB-serial chip\n"
        "                         with this latency timer does (62-byte packets; FTDI's\n"
        "                         default is 16, tuned adapters 1)\n"
        "  --fault MODE           misbehave as MODE (below)\n"
        "  --fault-skip N         let N triggering events pass before the fault hits\n"
        "  --fault-address A      only events at machine address A trigger the fault\n"
        "  --fault-count N        the fault hits N events, then passes (default: no end)\n"
        "  --erase-on-write       a begin-write of the application area erases it first\n"
        "  --serial TEXT          serial number announced to adapter discovery\n"
        "                         (default NORKSIM1)\n"
        "  --no-announce          do not write the announcement file\n"
        "  --replay TRACE         answer as the machine recorded in TRACE (kelvane-cli\n"
        "                         --trace) did, check that the program sends the recorded\n"
        "                         bytes and say where it differs (exit 1 at the end)\n"
        "  --verbose              tell every exchange on standard error\n"
        "  --version              print the version and end\n"
        "  --help                 this text\n"
        "\n"
        "Fault modes:\n",
        SimMachine::kDefaultPassword);
    for (const auto& m : SimFaultModes())
        std::fprintf(to, "  %-16s %s\n", m.name, m.what);
}

bool Number(const char* text, unsigned long max, unsigned long& out) {
    if (!text || !*text || *text == '-')
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text, &end, 0);
    if (errno || *end || v > max)
        return false;
    out = v;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    SimOptions opt;
    bool verbose = false;
    std::string replayTrace;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* val = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long n = 0;
        auto number = [&](unsigned long max) {
            if (!Number(val, max, n)) {
                std::fprintf(stderr, "kelvane-sim: %s needs a number up to %lu\n", a.c_str(), max);
                std::exit(2);
            }
            ++i;
            return n;
        };
        auto text = [&]() {
            if (!val) {
                std::fprintf(stderr, "kelvane-sim: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            ++i;
            return std::string(val);
        };
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("kelvane-sim %s\n", KELVANE_VERSION);
            return 0;
        } else if (a == "--image") {
            opt.imageFile = text();
        } else if (a == "--state") {
            opt.stateDir = text();
        } else if (a == "--wakeup") {
            opt.wakeupN = uint16_t(number(0xFFFF));
        } else if (a == "--block-offset") {
            opt.blockOffset = uint16_t(number(512));
        } else if (a == "--memory-code") {
            opt.memorySizeCode = uint32_t(number(0xFFFFFFFF));
        } else if (a == "--emulation-start") {
            opt.emulationStart = uint32_t(number(0xFFFFFFFF));
        } else if (a == "--emulation-length") {
            opt.emulationLength = uint16_t(number(0xFFFF));
        } else if (a == "--descriptor-pointer") {
            opt.descriptorPointer = uint16_t(number(0xFFFF));
        } else if (a == "--fastenings") {
            opt.fasteningCounter = uint32_t(number(0xFFFFFFFF));
        } else if (a == "--machines") {
            opt.machines = unsigned(number(9999999));
            if (!opt.machines) {
                std::fprintf(stderr, "kelvane-sim: --machines needs at least 1\n");
                return 2;
            }
        } else if (a == "--line-gap") {
            opt.lineGap = std::chrono::milliseconds(number(600000));
        } else if (a == "--no-pacing") {
            opt.pacing = false;
        } else if (a == "--adapter-latency") {
            opt.adapterLatencyMs = unsigned(number(255));
        } else if (a == "--fault") {
            std::string name = text();
            auto mode = ParseSimFault(name);
            if (!mode) {
                std::fprintf(stderr, "kelvane-sim: unknown fault mode \"%s\"; modes:\n",
                             name.c_str());
                for (const auto& m : SimFaultModes())
                    std::fprintf(stderr, "  %s\n", m.name);
                return 2;
            }
            opt.fault = *mode;
        } else if (a == "--fault-skip") {
            opt.faultSkip = unsigned(number(0xFFFFFFFF));
        } else if (a == "--fault-address") {
            opt.faultAddress = uint32_t(number(0xFFFFFFFF));
        } else if (a == "--fault-count") {
            opt.faultCount = unsigned(number(0xFFFFFFFF));
        } else if (a == "--erase-on-write") {
            opt.eraseOnWrite = true;
        } else if (a == "--serial") {
            opt.serial = text();
        } else if (a == "--no-announce") {
            opt.announce = false;
        } else if (a == "--replay") {
            replayTrace = text();
        } else if (a == "--verbose") {
            verbose = true;
        } else {
            std::fprintf(stderr, "kelvane-sim: unknown option \"%s\" (see --help)\n", a.c_str());
            return 2;
        }
    }
    if (verbose)
        opt.log = [](const std::string& s) {
            std::fprintf(stderr, "kelvane-sim: %s\n", s.c_str());
        };

    // The machine's thread inherits the blocked signals; main takes them with sigwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    if (!replayTrace.empty())
        return RunReplay(replayTrace, stopSignals);

    SimMachine machine(opt);
    std::string device = machine.Start();
    if (device.empty()) {
        std::fprintf(stderr, "kelvane-sim: %s\n", machine.LastError().c_str());
        return 1;
    }
    std::printf("%s\n", device.c_str());
    std::fflush(stdout);
    if (machine.AnnouncementPath().empty())
        std::fprintf(stderr, "kelvane-sim: machine on %s\n", device.c_str());
    else
        std::fprintf(stderr, "kelvane-sim: machine on %s, serial %s, announced in %s\n",
                     device.c_str(), opt.serial.c_str(), machine.AnnouncementPath().c_str());
    if (opt.fault != SimFault::None)
        std::fprintf(stderr, "kelvane-sim: fault mode %s\n", SimFaultName(opt.fault));
    if (opt.machines)
        std::fprintf(stderr,
                     "kelvane-sim: a line of %u machines; the next one answers after %lld ms of "
                     "silence\n",
                     opt.machines, static_cast<long long>(opt.lineGap.count()));

    int sig = 0;
    sigwait(&stopSignals, &sig);
    machine.Stop();
    return 0;
}
