// The rollout down a line: one approved configuration to machine after machine on the same
// adapter. It waits for a machine to answer, reads it once, skips (saying why) one not asked
// for, of another machine type or already compliant, writes the others through the one write
// road (check, backup, the same machine, write, read-back, record) and waits for the next
// machine. The command-line program and the window run the same flow: they parse or ask,
// start it, and show its events.
#pragma once

#include "fleet/FleetStore.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

class cDialogMain;

struct RolloutOptions {
    LibraryVersion approved;
    std::set<std::string> serials; // only these serial numbers; empty: every machine
    long count = 0;                // ends after this many machines; 0: until stopped
    // The machines' password; none: asked once through the user interface when the first
    // write needs it.
    std::optional<std::string> password;
    std::string id;     // marks every write and record of the rollout; "" makes one
    int probeMs = 2000; // how often the line is looked at between two machines
};

// One machine of the rollout as it ended.
struct RolloutMachine {
    cFleetStore::RolloutStep step; // result: "written", "compliant", "skipped", "failed"
    double seconds = 0;            // from its read to its end (the wait before it excluded)
};

struct RolloutEvent {
    enum class Kind {
        Waiting,  // no new machine on the line yet
        Skipped,  // machine: why in machine->step.reason
        Done,     // machine written or already compliant
        Failed,   // machine: why in machine->step.reason
        Finished, // the rollout ended (count reached, stopped, adapter gone)
    };
    Kind kind = Kind::Waiting;
    const RolloutMachine* machine = nullptr; // the machine just handled; null otherwise
    size_t done = 0;                         // machines handled so far
    long count = 0;                          // the machines asked for; 0: open-ended
};

class cRollout {
public:
    cRollout(cDialogMain& controller, cFleetStore& fleet, RolloutOptions options);

    // Told of every step; the window updates its list, the command-line program prints.
    std::function<void(const RolloutEvent&)> onEvent;
    // Asked between machines and while waiting: true ends the rollout (the machine on the
    // line is always finished first).
    std::function<bool()> stopRequested;

    // Runs until the count is reached, a stop is asked for, or the adapter is gone. True when
    // no machine failed and the adapter stayed.
    bool Run();

    const std::string& Id() const { return options.id; }
    std::string Label() const; // "Station-12 v3"
    const std::vector<RolloutMachine>& Machines() const { return machines; }
    bool AdapterGone() const { return adapterGone; }
    bool Stopped() const { return stopped; }
    size_t Count(const std::string& result) const;
    // Why the rollout's own record of a machine was not kept ("" when all were).
    const std::string& RecordError() const { return recordError; }

    // "rollout-<ms>-<pid>": unique enough on one computer, readable in the history.
    static std::string NewId();

private:
    enum class Probe { Machine, Nothing, AdapterGone };
    Probe Identify(ParameterBlock& block, std::optional<uint32_t>& counter);
    void Handle(const ParameterBlock& seen, std::optional<uint32_t> counter, RolloutMachine& m);
    bool Wait(int ms);
    bool StopAsked();
    void Tell(RolloutEvent::Kind kind, const RolloutMachine* m = nullptr);

    cDialogMain& c;
    cFleetStore& fleet;
    RolloutOptions options;
    std::vector<RolloutMachine> machines;
    std::optional<std::string> password;
    bool passwordAsked = false;
    bool adapterGone = false;
    bool stopped = false;
    std::string recordError;
};
