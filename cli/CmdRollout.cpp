// kelvane-cli rollout NAME[@VERSION] [--port P] [--count N] [--serials A,B,...] [--password PW]
// [--yes] [--json]: one approved configuration to machine after machine on the same adapter.
// The flow is cRollout's (app/Rollout.h); here the arguments, Ctrl-C and what is printed.
#include "app/Rollout.h"
#include "cli/Cli.h"
#include "cli/ControllerUi.h"
#include "cli/FleetCli.h"
#include "lang/Language.h"
#include "link/WriteStop.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <iostream>
#include <set>
#include <sstream>

#include <unistd.h>

namespace {

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

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    if (size_t at = text.find(what); at != std::string::npos)
        text.replace(at, what.size(), with);
    return text;
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
    RolloutOptions options;
    options.approved = *approved;
    options.serials = serials;
    options.count = count;
    if (havePassword)
        options.password = password;

    CatchInterrupt();
    // The controller's own messages go to standard error: standard output is the summary.
    std::streambuf* const summaryOut = std::cout.rdbuf(std::cerr.rdbuf());
    cRollout rollout(*session.controller, fleet, options);
    rollout.stopRequested = [] { return gStop.load(); };
    bool waitingSaid = false;
    rollout.onEvent = [&](const RolloutEvent& e) {
        if (e.kind == RolloutEvent::Kind::Waiting) {
            // Said once; the line is looked at again and again.
            if (!waitingSaid)
                std::cerr << "kelvane-cli: " << rollout.Id() << ": " << rollout.Label()
                          << "; waiting for a machine\n";
            waitingSaid = true;
            return;
        }
        if (!e.machine)
            return;
        const auto& step = e.machine->step;
        std::string done = e.count ? Translate("%d/%d fertig: %s") : Translate("%d fertig: %s");
        done = Replace(done, "%d", std::to_string(e.done));
        if (e.count)
            done = Replace(done, "%d", std::to_string(e.count));
        done = Replace(done, "%s", step.serialNr);
        std::cerr << "kelvane-cli: " << done << " (" << step.result
                  << (step.reason.empty() ? "" : ": " + step.reason) << ")\n";
    };
    rollout.Run();
    if (!rollout.RecordError().empty())
        std::cerr << "kelvane-cli: the rollout's record was not kept: " << rollout.RecordError()
                  << "\n";

    std::cout.rdbuf(summaryOut);
    const bool adapterGone = rollout.AdapterGone();
    const size_t failed = rollout.Count("failed");
    if (json) {
        nlohmann::json j;
        j["rollout"] = rollout.Id();
        j["configuration"] = rollout.Label();
        j["digest"] = approved->digest;
        j["interrupted"] = rollout.Stopped();
        j["adapterGone"] = adapterGone;
        j["machines"] = nlohmann::json::array();
        for (const auto& m : rollout.Machines()) {
            const auto& s = m.step;
            j["machines"].push_back({{"serialNr", s.serialNr},
                                     {"result", s.result},
                                     {"reason", s.reason},
                                     {"before", s.before},
                                     {"after", s.after},
                                     {"seconds", m.seconds},
                                     {"historyEntry", s.entryId ? nlohmann::json(s.entryId)
                                                                : nlohmann::json(nullptr)}});
        }
        std::cout << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    } else {
        std::cout << rollout.Id() << ": " << rollout.Label() << ", " << rollout.Machines().size()
                  << " machines, " << rollout.Count("written") << " written, " << failed
                  << " failed\n";
        for (const auto& m : rollout.Machines()) {
            const auto& s = m.step;
            std::cout << s.serialNr << "\t" << s.result << "\t" << s.before << "\t" << s.after
                      << (s.reason.empty() ? "" : "\t" + s.reason) << "\n";
        }
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
