// The printable fleet page: a template in the report's style ("###NAME###" placeholders, UTF-16
// with a byte-order mark as the shipped templates, or UTF-8), whose block
// ###MACHINE### ... ###MACHINE_END### repeats once a machine.
//
// Page placeholders: ###FLEET_TITLE### (title with date and filter), ###FLEET_DATE###,
// ###FLEET_FILTER###, ###FLEET_COUNT###. Row placeholders: ###M_CLASS### ("due", "soon",
// "deviating", "outdated", space-separated), ###M_SERIALNR###, ###M_TYPE###, ###M_FIRMWARE###,
// ###M_PLACE###, ###M_LAST_SEEN###, ###M_COUNTER###, ###M_SERVICE###, ###M_CAL_DATE###,
// ###M_CALIBRATION###, ###M_ASSIGNED###, ###M_COMPLIANT###.
#pragma once

#include "fleet/FleetStore.h"

#include <string>
#include <vector>

struct FleetPageJob {
    std::string templatePath;
    std::string outputPath;
    std::string title;  // "Flotte"
    std::string date;   // "2026-12-11 14:05"
    std::string filter; // "alle Maschinen", "fällig"
};

// The page for the machines: true, or false with error (template unreadable or without the
// machine block, output not writable). The output is written whole or not at all.
bool WriteFleetPage(const FleetPageJob& job, const std::vector<FleetMachine>& machines,
                    std::string& error);
// The same from template text (UTF-8) to page text (UTF-8).
bool ExpandFleetPage(const std::string& templateText, const FleetPageJob& job,
                     const std::vector<FleetMachine>& machines, std::string& page,
                     std::string& error);
