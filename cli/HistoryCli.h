// What the history commands of kelvane-cli share: the database in the data folder, the JSON
// forms, and the operands of "diff" (files, @ID, machine).
#pragma once

#include "cli/Cli.h"
#include "history/HistoryStore.h"
#include "model/ImageDiff.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

// Opens DataFolder/history.sqlite with the settings' technician; a file moved aside is told on
// standard error. False with the message shown.
bool OpenHistoryStore(cHistoryStore& store);
// The same for listing: read-only, nothing changed or waited for; a newer program's history is
// listed with a line on standard error naming that program's version.
bool OpenHistoryForReading(cHistoryStore& store);

// The team's server: --server CONNINFO (taken from args), else the settings' "HistoryServer";
// "" when none is configured.
std::string HistoryServer(cli::Args& args);

// One sync of the history with the server in a detached process, so the command that wrote
// the history ends at once. Nothing when conninfo is empty or the server was found unreachable
// moments ago.
void SyncInBackground(cHistoryStore& store, const std::string& conninfo);

// "12" or "@12" -> 12; nullopt for anything else.
std::optional<int64_t> ParseEntryId(const std::string& text);

nlohmann::json MachineJson(const HistoryMachine& m);
// Without images: id, time (UTC ms and local), command, result, message, identity, counter.
nlohmann::json EntryJson(const HistoryEntry& e);
std::string HexOf(const uint8_t* p, size_t n);

// The conversion context the pages would use for an image (catalog of the installation).
ConversionContext ContextFor(const ParameterBlock& image, int machineKind = 0);
