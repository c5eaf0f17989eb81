// What the fleet commands of kelvane-cli share: the fleet's records beside the history, the
// due settings and shipped firmware, the JSON form of a machine.
#pragma once

#include "fleet/FleetStore.h"
#include "fleet/FleetTable.h" // ComplianceText
#include "history/HistoryStore.h"

#include <nlohmann/json.hpp>

// Opens the history of the data folder and the fleet's records in it; false with the message
// shown.
bool OpenFleet(cHistoryStore& history, cFleetStore& fleet);

// The due settings from the settings file, the shipped firmware folder, now.
FleetOptions FleetOptionsOfProgram();

nlohmann::json FleetMachineJson(const FleetMachine& m);
nlohmann::json LibraryVersionJson(const LibraryVersion& v);

// The lines a read adds for an assigned machine: "approval: entspricht Freigabe ..." and the
// fields that differ; "" when none is assigned or the history cannot be read (a read never
// fails for it).
std::string ComplianceAfterRead(const ParameterBlock& image);
