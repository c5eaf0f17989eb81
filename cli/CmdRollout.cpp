// kelvane-cli rollout NAME[@VERSION] [--port P] [--count N] [--serials A,B,...] [--password PW]
// [--yes] [--json]: one approved configuration to machine after machine on the same adapter.
// Each machine is read and written as "zur Maschine" writes a configuration file: through the
// one write road (check, backup, the same machine, write, read-back, record).
#include "cli/Cli.h"
#include "cli/ControllerUi.h"
#include "cli/FleetCli.h"
#include "lang/Language.h"
#include "link/ResultCodes.h"
#include "link/WriteStop.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <iostream>
#include <set>
#include <sstream>

#include <poll.h>
#include <unistd.h>

namespace {

// Between two machines the line is looked at this often; a machine left on the line answers
// with the serial number just done.
constexpr int kProbeMs = 2000;

// Ctrl-C: the machine on the line is finished, then the rollout ends with its summary; a
// second one within two seconds during a write stops that write between frames.
std::atomic<bool> gStop{false};
std::atomic<long long> gFirstMs{-1};
char gEndsText[512];

long long NowMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void OnInterrupt(int) {
    const int saved = errno;
    const long long now = NowMs();
    const long long first = gFirstMs.load();
    if (gStop && WriteStop::writing.load() > 0 && first >= 0 && now - first <= 2000)
        WriteStop::requested = true;
    gStop = true;
    gFirstMs = now;
    ssize_t ignored = ::write(STDERR_FILENO, gEndsText, std::strlen(gEndsText));
    (void)ignored;
    errno = saved;
}

void CatchInterrupt() {
    const std::string text =
        "\nkelvane-cli: " + Translate("Die Serienübertragung endet nach der Maschine am Adapter") +
        "\n";
    std::strncpy(gEndsText, text.c_str(), sizeof gEndsText - 1);
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // a wait is cut short
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

// Waits ms without using the processor; false when a stop was asked for.
bool Wait(int ms) {
    const long long end = NowMs() + ms;
    while (!gStop) {
        const long long left = end - NowMs();
        if (left <= 0)
            return true;
        ::poll(nullptr, 0, int(left));
    }
    return false;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    if (size_t at = text.find(what); at != std::string::npos)
        text.replace(at, what.size(), with);
    return text;
}

enum class Probe { Machine, Nothing, AdapterGone };

// Reads the block of whatever machine answers, quietly and without a history entry.
Probe Identify(cDialogMain& c, ParameterBlock& block) {
    cQVX& link = c.Link();
    if (c.OpenSelectedPort() != kResultOk)
        return Probe::AdapterGone;
    int r = link.Connect();
    if (r == kResultOk)
        r = link.ReadParameterBlock(block.bytes);
    c.ClosePort();
    return r == kResultOk ? Probe::Machine : Probe::Nothing;
}

std::set<std::string> SplitSerials(const std::string& text) {
    std::set<std::string> out;
    std::stringstream s(text);
    for (std::string item; std::getline(s, item, ',');)
        if (!item.empty())
            out.insert(item);
    return out;
}

int RunRollout(cli::Args& args) {
    const bool json = args.Flag("--json");
    std::string countText, serialsText, password;
    const bool haveCount = args.Option("--count", countText);
    const bool haveSerials = args.Option("--serials", serialsText);
    const bool havePassword = args.Option("--password", password);
    cControllerSession session;
    session.ui.yes = args.Flag("--yes");
    std::vector<std::string> rest;
    if (!session.Start(args, rest))
        return 2;
    const char* usage = "usage: kelvane-cli rollout NAME[@VERSION] [--port P] [--count N] "
                        "[--serials A,B,...] [--password PW] [--yes] [--json]";
    if (rest.size() != 1)
        return cli::Fail(usage, 2);
    LibraryRef ref;
    if (!ParseLibraryRef(rest[0], ref))
        return cli::Fail("\"" + rest[0] + "\" is no configuration name (NAME or NAME@VERSION)", 2);
    long count = 0;
    if (haveCount) {
        char* end = nullptr;
        count = std::strtol(countText.c_str(), &end, 10);
        if (countText.empty() || *end || count < 1 || count > 100000)
            return cli::Fail("--count needs a number from 1", 2);
    }
    const std::set<std::string> serials = SplitSerials(serialsText);
    if (haveSerials && serials.empty())
        return cli::Fail("--serials needs serial numbers, separated by commas", 2);
    if (havePassword) {
        std::string error;
        if (!cli::LocaleText(password, password, error))
            return cli::Fail("--password: " + error, 2);
        session.ui.password = password;
    }

    cHistoryStore history;
    cFleetStore fleet;
    if (!OpenFleet(history, fleet))
        return 1;
    std::string error;
    const std::optional<LibraryVersion> approved = fleet.Find(ref, error);
    if (!approved)
        return cli::Fail("rollout: " + error);
    const LibraryRef pinned{approved->name, approved->version};
    const std::string label = approved->name + " v" + std::to_string(approved->version);
    char idText[64];
    std::snprintf(idText, sizeof idText, "rollout-%lld-%d",
                  static_cast<long long>(cHistoryStore::NowMs()), int(::getpid()));
    const std::string rolloutId = idText;

    CatchInterrupt();
    // The controller's own messages go to standard error: standard output is the summary.
    std::streambuf* const summaryOut = std::cout.rdbuf(std::cerr.rdbuf());
    cDialogMain& c = *session.controller;
    std::vector<cFleetStore::RolloutStep> steps;
    std::vector<double> seconds; // a machine's time from its identification to the end
    std::string previous;
    bool adapterGone = false;
    std::cerr << "kelvane-cli: " << rolloutId << ": " << label << "; "
              << "waiting for a machine\n";
    while (!gStop && (!count || long(steps.size()) < count)) {
        ParameterBlock seen;
        const long long startMs = NowMs();
        const Probe probe = Identify(c, seen);
        if (probe == Probe::AdapterGone) {
            adapterGone = true;
            break;
        }
        const std::string serial = probe == Probe::Machine ? SerialOf(seen) : "";
        if (serial.empty() || serial == previous) {
            Wait(kProbeMs);
            continue;
        }
        previous = serial;

        cFleetStore::RolloutStep step;
        step.rolloutId = rolloutId;
        step.approval = pinned;
        step.serialNr = serial;
        step.before = DigestText(seen);
        step.after = step.before;
        auto skip = [&](const std::string& reason) {
            step.result = "skipped";
            step.reason = reason;
        };
        if (haveSerials && !serials.count(serial)) {
            skip("not in --serials");
        } else if (MachineTypeOf(seen) != MachineTypeOf(approved->image)) {
            skip("another machine type (" + MachineTypeOf(seen) + ")");
        } else if (ComplianceState(seen, approved->image) == Compliance::Compliant) {
            step.result = "compliant";
            step.reason = "already holds " + label;
            // Its read is recorded, so the fleet shows it checked.
            c.OnReadFromMachine();
        } else if (!c.OnReadFromMachine() || SerialOf(c.Image()) != serial) {
            step.result = "failed";
            step.reason = "not read";
        } else {
            const ParameterBlock before = c.Image();
            step.before = DigestText(before);
            if (!c.TakeConfiguration(approved->image, approved->name)) {
                skip("the configuration cannot be loaded for this machine");
            } else {
                const int errorsBefore = session.ui.ErrorsShown();
                HistoryError herrBefore;
                const auto entriesBefore = history.Entries(serial, herrBefore, false, 1);
                const int64_t newestBefore = entriesBefore.empty() ? 0 : entriesBefore.front().id;
                const bool written = c.OnWriteToMachine();
                ParameterBlock now;
                if (written) {
                    step.result = "written";
                    now = c.MachineImage();
                } else {
                    step.result = session.ui.ErrorsShown() > errorsBefore ? "failed" : "refused";
                }
                HistoryError herr;
                const auto entries = history.Entries(serial, herr);
                if (!written) {
                    // The write's own entry names the line's result; none: refused before.
                    const bool ran = !entries.empty() && entries.front().id > newestBefore &&
                                     entries.front().result.value_or(0) != 0;
                    step.reason = ran ? "line failure " + std::to_string(*entries.front().result)
                                      : "refused before anything was sent";
                }
                if (!entries.empty()) {
                    step.entryId = entries.front().id;
                    if (entries.front().after && written)
                        now = *entries.front().after;
                }
                if (written)
                    step.after = DigestText(now);
            }
        }
        steps.push_back(step);
        seconds.push_back(double(NowMs() - startMs) / 1000.0);
        if (!fleet.RecordRollout(step, error))
            std::cerr << "kelvane-cli: the rollout's record was not kept: " << error << "\n";
        std::string done = count ? Translate("%d/%d fertig: %s") : Translate("%d fertig: %s");
        done = Replace(done, "%d", std::to_string(steps.size()));
        if (count)
            done = Replace(done, "%d", std::to_string(count));
        done = Replace(done, "%s", serial);
        std::cerr << "kelvane-cli: " << done << " (" << step.result
                  << (step.reason.empty() ? "" : ": " + step.reason) << ")\n";
        if (count && long(steps.size()) >= count)
            break;
        Wait(kProbeMs);
    }

    std::cout.rdbuf(summaryOut);
    size_t written = 0, failed = 0;
    for (const auto& s : steps) {
        written += s.result == "written";
        failed += s.result == "failed" || s.result == "refused";
    }
    if (json) {
        nlohmann::json j;
        j["rollout"] = rolloutId;
        j["configuration"] = label;
        j["digest"] = approved->digest;
        j["interrupted"] = bool(gStop);
        j["adapterGone"] = adapterGone;
        j["machines"] = nlohmann::json::array();
        for (size_t i = 0; i < steps.size(); ++i) {
            const auto& s = steps[i];
            j["machines"].push_back({{"serialNr", s.serialNr},
                                     {"result", s.result},
                                     {"reason", s.reason},
                                     {"before", s.before},
                                     {"after", s.after},
                                     {"seconds", seconds[i]},
                                     {"historyEntry", s.entryId ? nlohmann::json(s.entryId)
                                                                : nlohmann::json(nullptr)}});
        }
        std::cout << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    } else {
        std::cout << rolloutId << ": " << label << ", " << steps.size() << " machines, " << written
                  << " written, " << failed << " failed\n";
        for (const auto& s : steps)
            std::cout << s.serialNr << "\t" << s.result << "\t" << s.before << "\t" << s.after
                      << (s.reason.empty() ? "" : "\t" + s.reason) << "\n";
    }
    if (adapterGone)
        std::cerr << "kelvane-cli: the adapter is gone; the rollout ends\n";
    return failed || adapterGone ? 1 : 0;
}

} // namespace

KELVANE_CLI_SESSION_COMMAND("rollout",
                            "rollout NAME[@VERSION] [--count N] [--serials A,B,...] "
                            "[--password PW] [--yes] [--json]",
                            RunRollout);
