// kelvane-cli history [--serial S [--limit N]] [--json] [--server C]: the machines of the
// service history (the team's entries pulled included), or one machine's entries. kelvane-cli
// history show ID [--json]: one entry with its images and what the command changed.
// kelvane-cli history check [--json]: the whole file checked and every entry's images against
// their digests; exit 1 when anything is damaged. All of them only read the file.
#include "app/CutWrites.h"
#include "app/HistoryJournal.h"
#include "cli/Cli.h"
#include "cli/HistoryCli.h"
#include "fleet/FleetStore.h"
#include "link/ResultCodes.h"

#include <cstdio>
#include <iostream>

namespace {

std::string ResultText(const HistoryEntry& e) {
    if (!e.result)
        return "open";
    return *e.result == kResultCut ? "cut" : std::to_string(*e.result);
}

std::string Counter(std::optional<uint32_t> c) {
    return c ? std::to_string(*c) : "-";
}

int ShowEntry(cHistoryStore& store, const std::string& idText, bool json) {
    const std::optional<int64_t> id = ParseEntryId(idText);
    if (!id)
        return cli::Fail("not an entry id: '" + idText + "'", 2);
    HistoryError error;
    const std::optional<HistoryEntry> e = store.Entry(*id, error);
    if (!e)
        return cli::Fail("history entry " + std::to_string(*id) + ": " +
                         (error.kind == HistoryError::NotFound ? "no such entry" : error.detail));
    // A damaged image is not shown as if it were the machine's.
    if (std::string which; !ImagesIntact(*e, which))
        return cli::Fail(cHistoryJournal::DamageText(e->id, which));
    std::vector<FieldDifference> changed;
    ConversionContext ctxBefore, ctxAfter;
    if (e->before && e->after) {
        ctxBefore = ContextFor(*e->before);
        ctxAfter = ContextFor(*e->after);
        changed = DiffImages(*e->before, *e->after, ctxBefore, ctxAfter);
    }
    if (json) {
        nlohmann::json j = EntryJson(*e);
        auto image = [](const std::optional<ParameterBlock>& b) {
            return b ? nlohmann::json(HexOf(b->bytes.data(), b->bytes.size())) : nullptr;
        };
        j["before"] = image(e->before);
        j["after"] = image(e->after);
        j["extra"] = e->extra.empty() ? nlohmann::json(nullptr)
                                      : nlohmann::json(HexOf(e->extra.data(), e->extra.size()));
        j["differences"] =
            changed.empty() ? nlohmann::json::array()
                            : DifferencesJson(changed, *e->before, *e->after, ctxBefore, ctxAfter);
        std::cout << DumpJson(j) << "\n";
        return 0;
    }
    std::cout << "id = " << e->id << "\n"
              << "time = " << cHistoryStore::LocalTime(e->timeMs) << "\n"
              << "command = " << ShownText(e->command) << "\n"
              << "result = " << ResultText(*e) << "\n"
              << "message = " << ShownText(e->message) << "\n"
              << "machineType = " << ShownLatin1(e->machineType) << "\n"
              << "serialNr = " << ShownLatin1(e->serialNr) << "\n"
              << "elAssembly = " << ShownLatin1(e->elAssembly) << "\n"
              << "swVersion = " << ShownLatin1(e->swVersion) << "\n"
              << "fasteningCounter = " << Counter(e->fasteningCounter) << "\n"
              << "uuid = " << e->uuid << "\n"
              << "technician = " << ShownText(e->technician) << "\n"
              << "host = " << ShownText(e->host) << (e->fromHere ? "" : " (from the team)") << "\n"
              << (RolloutOf(e->payload).empty()
                      ? ""
                      : "rollout = " + ShownText(RolloutOf(e->payload)) + "\n")
              << "before = " << (e->before ? "512 bytes" : "none") << "\n"
              << "after = " << (e->after ? "512 bytes" : "none") << "\n"
              << "extra = " << e->extra.size() << " bytes\n";
    if (e->before && e->after) {
        std::cout << "changed (before -> after) = " << changed.size() << " fields\n";
        for (const FieldDifference& d : changed)
            std::cout << "  " << d.name << ": " << d.oldValue << " -> " << d.newValue << "\n";
    }
    return 0;
}

int CheckHistory(cHistoryStore& store, bool json) {
    std::string problems;
    std::vector<cHistoryStore::Damage> damaged;
    HistoryError error;
    if (!store.Check(problems, damaged, error))
        return cli::Fail(cHistoryJournal::ErrorText(error));
    const bool sound = problems.empty() && damaged.empty();
    if (json) {
        nlohmann::json j;
        j["file"] = JsonText(store.File().string());
        j["ok"] = sound;
        j["database"] =
            problems.empty() ? nlohmann::json("ok") : nlohmann::json(JsonText(problems));
        j["damaged"] = nlohmann::json::array();
        for (const cHistoryStore::Damage& d : damaged)
            j["damaged"].push_back({{"id", d.id},
                                    {"serialNr", Latin1ToUtf8(d.serialNr)},
                                    {"command", JsonText(d.command)},
                                    {"time", cHistoryStore::LocalTime(d.timeMs)},
                                    {"damaged", d.which}});
        std::cout << DumpJson(j) << "\n";
    } else {
        if (!problems.empty())
            std::cout << "database: " << ShownText(problems) << "\n";
        for (const cHistoryStore::Damage& d : damaged)
            std::cout << d.id << "  " << cHistoryStore::LocalTime(d.timeMs) << "  "
                      << ShownLatin1(d.serialNr) << "  " << ShownText(d.command)
                      << "  damaged: " << d.which << "\n";
    }
    if (sound) {
        if (!json)
            std::cerr << "kelvane-cli: " << store.File().string() << ": no damage found\n";
        return 0;
    }
    std::cerr << "kelvane-cli: " << store.File().string() << ": " << damaged.size()
              << " damaged entries" << (problems.empty() ? "" : ", the database reports damage")
              << "\n";
    return 1;
}

int RunHistory(cli::Args& args) {
    const bool json = args.Flag("--json");
    std::string serial;
    const bool bySerial = args.Option("--serial", serial);
    std::string limitText;
    const bool limited = args.Option("--limit", limitText);
    const std::string server = HistoryServer(args);
    const std::vector<std::string> rest = args.Positional();
    if (args.HasError())
        return 2;
    int limit = 0;
    if (limited) {
        if (limitText.empty() || limitText.size() > 9 ||
            limitText.find_first_not_of("0123456789") != std::string::npos ||
            (limit = std::stoi(limitText)) <= 0)
            return cli::Fail("not a number of entries: '" + limitText + "'", 2);
    }
    const bool show = !rest.empty() && rest[0] == "show";
    const bool check = !rest.empty() && rest[0] == "check";
    if ((show && rest.size() != 2) || (check && rest.size() != 1) ||
        (!show && !check && !rest.empty()) || ((show || check) && bySerial) ||
        (limited && !bySerial))
        return cli::Fail("usage: kelvane-cli history [--serial S [--limit N]] [--json] | history "
                         "show ID [--json] | history check [--json]",
                         2);

    cHistoryStore store;
    if (!OpenHistoryForReading(store))
        return 1;
    if (check)
        return CheckHistory(store, json);
    // The team's newest entries arrive for the next listing, without holding this one up.
    struct SyncAfter {
        cHistoryStore& store;
        const std::string& server;
        ~SyncAfter() { SyncInBackground(store, server); }
    } syncAfter{store, server};
    if (show)
        return ShowEntry(store, rest[1], json);

    HistoryError error;
    if (!bySerial) {
        const std::vector<HistoryMachine> machines = store.Machines(error);
        if (error)
            return cli::Fail(error.detail);
        if (json) {
            nlohmann::json list = nlohmann::json::array();
            for (const HistoryMachine& m : machines)
                list.push_back(MachineJson(m));
            std::cout << DumpJson(list) << "\n";
            return 0;
        }
        std::printf("%-16s %-17s %-19s %-11s %10s %7s\n", "SERIAL", "TYPE", "LAST SEEN", "FIRMWARE",
                    "COUNTER", "ENTRIES");
        for (const HistoryMachine& m : machines)
            std::printf("%-16s %-17s %-19s %-11s %10s %7lld\n", ShownLatin1(m.serialNr).c_str(),
                        ShownLatin1(m.machineType).c_str(),
                        cHistoryStore::LocalTime(m.lastSeenMs).c_str(),
                        ShownLatin1(m.swVersion).c_str(), Counter(m.fasteningCounter).c_str(),
                        static_cast<long long>(m.entries));
        return 0;
    }

    const std::vector<HistoryEntry> entries =
        store.Entries(serial, error, true, limit); // the payload names a rollout
    if (error)
        return cli::Fail(error.detail);
    if (entries.empty() && !json)
        std::cerr << "kelvane-cli: no entries for serial number '" << ShownText(serial) << "'\n";
    // Listing changes nothing: a cut write is closed by the next command that reads the machine.
    for (const HistoryEntry& e : entries)
        if (!e.result && !RunningWrites::HeldElsewhere(store.File(), e.id))
            std::cerr << "kelvane-cli: entry " << e.id << " (" << ShownText(e.command) << ", "
                      << cHistoryStore::LocalTime(e.timeMs)
                      << ") was never finished: the machine may hold neither image; the next "
                         "read of it (kelvane-cli read) says what it holds and what repairs it\n";
    if (json) {
        nlohmann::json list = nlohmann::json::array();
        for (const HistoryEntry& e : entries)
            list.push_back(EntryJson(e));
        std::cout << DumpJson(list) << "\n";
        return 0;
    }
    std::printf("%8s  %-19s  %-22s %6s  %-12s %-16s %s\n", "ID", "TIME", "COMMAND", "RESULT",
                "TECHNICIAN", "HOST", "MESSAGE");
    for (const HistoryEntry& e : entries) {
        std::string message = e.message;
        for (char& c : message)
            if (c == '\n')
                c = ' ';
        // A rollout's write is marked after its message.
        const std::string rollout = RolloutOf(e.payload);
        if (!rollout.empty())
            message += (message.empty() ? "[" : " [") + rollout + "]";
        std::printf("%8lld  %-19s  %-22s %6s  %-12s %-16s %s\n", static_cast<long long>(e.id),
                    cHistoryStore::LocalTime(e.timeMs).c_str(), ShownText(e.command).c_str(),
                    ResultText(e).c_str(), ShownText(e.technician).c_str(),
                    ShownText(e.host).c_str(), ShownText(message).c_str());
    }
    return 0;
}

} // namespace

KELVANE_CLI_COMMAND("history",
                    "history [--serial S [--limit N]] [--json] | history show ID [--json] | "
                    "history check [--json] [--server CONNINFO]",
                    RunHistory);
