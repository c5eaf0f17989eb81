#include "cli/FleetCli.h"

#include "app/Folders.h"
#include "base/CalendarDate.h"
#include "cli/Cli.h"
#include "cli/HistoryCli.h"
#include "lang/Language.h"

bool OpenFleet(cHistoryStore& history, cFleetStore& fleet) {
    if (!OpenHistoryStore(history))
        return false;
    std::string error;
    if (!fleet.Open(history, error)) {
        cli::Fail("cannot open the fleet's records in " + history.File().string() + ": " + error);
        return false;
    }
    return true;
}

FleetOptions FleetOptionsOfProgram() {
    FleetOptions o;
    o.due = LoadDueSettings(SettingsFile(DataFolder()));
    o.firmwareFolder = AppFolder() / "firmware";
    o.now = std::time(nullptr);
    return o;
}

nlohmann::json FleetMachineJson(const FleetMachine& m) {
    using nlohmann::json;
    auto text = [](const std::string& s) { return s.empty() ? json(nullptr) : json(s); };
    json j;
    j["serialNr"] = m.serialNr;
    j["machineType"] = text(m.machineType);
    j["swVersion"] = text(m.swVersion);
    j["firmwareOutdated"] = m.newestFirmware.empty() ? json(nullptr) : json(m.firmwareOld);
    j["place"] = m.HasImage() ? json(m.place) : json(nullptr);
    j["lastSeen"] = m.lastSeenMs ? json(cHistoryStore::LocalTime(*m.lastSeenMs)) : json(nullptr);
    j["lastSeenBy"] = m.lastSeenBy.empty() ? json(nullptr) : json(m.lastSeenBy);
    j["lastSeenHost"] = m.lastSeenHost.empty() ? json(nullptr) : json(m.lastSeenHost);
    j["rollout"] = text(m.lastRollout);
    j["counter"] = m.counter ? json(*m.counter) : json(nullptr);
    j["serviceDue"] =
        m.service == ServiceState::Unknown ? json(nullptr) : json(m.service == ServiceState::Due);
    j["serviceSoon"] =
        m.service == ServiceState::Unknown ? json(nullptr) : json(m.service == ServiceState::Soon);
    j["calibrationDue"] = m.calibrationDue ? json(*m.calibrationDue) : json(nullptr);
    j["calibrationDate"] = m.calDate ? json(CalDateIso(m.calDate)) : json(nullptr);
    j["assigned"] = text(m.assigned);
    switch (m.compliance) {
    case FleetCompliance::Yes:
        j["compliant"] = true;
        break;
    case FleetCompliance::No:
        j["compliant"] = false;
        break;
    default:
        j["compliant"] = nullptr;
    }
    j["compliance"] = FleetComplianceName(m.compliance);
    j["historyEntry"] = m.imageEntryId ? json(m.imageEntryId) : json(nullptr);
    return j;
}

nlohmann::json LibraryVersionJson(const LibraryVersion& v) {
    return {{"name", v.name},
            {"version", v.version},
            {"time", cHistoryStore::LocalTime(v.timeMs)},
            {"timeMs", v.timeMs},
            {"user", v.user},
            {"note", v.note},
            {"digest", v.digest},
            {"machineType", MachineTypeOf(v.image)}};
}

std::string ComplianceAfterRead(const ParameterBlock& image) {
    cHistoryStore history;
    HistoryNotice notice;
    HistoryError herr;
    const std::filesystem::path folder = DataFolder();
    if (folder.empty() || !history.Open(folder / cHistoryStore::kFileName, notice, herr))
        return "";
    cFleetStore fleet;
    std::string error;
    if (!fleet.Open(history, error))
        return "";
    const ConversionContext ctx = ContextFor(image);
    const cFleetStore::Check check = fleet.CheckMachine(image, error, &ctx);
    std::string text = ComplianceText(check);
    if (text.empty())
        return "";
    text = "approval: " + text + "\n";
    for (const FieldDifference& d : check.compliance.differences)
        text += "  " + d.name + ": " + d.oldValue + " -> " + d.newValue + "\n";
    return text;
}
