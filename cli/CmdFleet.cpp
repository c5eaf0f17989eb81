// kelvane-cli fleet [--json] [--due] [--html FILE [--template T] [--yes]]: every machine the
// history knows with what is due and whether it holds its approved configuration.
#include "app/Folders.h"
#include "app/Settings.h"
#include "base/CalendarDate.h"
#include "cli/Cli.h"
#include "cli/FleetCli.h"
#include "fleet/FleetPage.h"
#include "lang/Language.h"

#include <filesystem>
#include <iomanip>
#include <iostream>

namespace fs = std::filesystem;

namespace {

constexpr const char* kFleetTemplate = "Flotte.html";

bool IsDue(const FleetMachine& m) {
    return m.service == ServiceState::Due || m.service == ServiceState::Soon ||
           m.calibrationDue.value_or(false);
}

// A name alone: the data folder's templates, else the program's.
std::string TemplatePath(const std::string& name) {
    const fs::path resolved = ResolveTemplatePath(name, DataFolder());
    std::error_code ec;
    if (resolved.has_parent_path() && name.find('/') != std::string::npos)
        return resolved.string();
    if (fs::is_regular_file(resolved, ec))
        return resolved.string();
    return (AppFolder() / "templates" / name).string();
}

void LoadLanguage() {
    Settings settings;
    const fs::path settingsFile = SettingsFile(DataFolder());
    std::error_code ec;
    if (!settingsFile.empty() && fs::exists(settingsFile, ec))
        LoadSettings(settingsFile, settings);
    SetLanguageFolder((AppFolder() / "language").string() + "/");
    SetLanguage("German");
    SetLanguage(settings.languageName);
}

std::string Or(const std::string& s) {
    return s.empty() ? "-" : s;
}

int RunFleet(cli::Args& args) {
    const bool json = args.Flag("--json");
    const bool dueOnly = args.Flag("--due");
    const bool yes = args.Flag("--yes");
    std::string html, templateName = kFleetTemplate;
    const bool toHtml = args.Option("--html", html);
    const bool haveTemplate = args.Option("--template", templateName);
    const std::vector<std::string> rest = args.Positional();
    if (args.HasError())
        return 2;
    if (!rest.empty() || (toHtml && (json || html.empty())) || (haveTemplate && !toHtml) ||
        (yes && !toHtml))
        return cli::Fail("usage: kelvane-cli fleet [--json] [--due] | fleet --html FILE [--due] "
                         "[--template T] [--yes]",
                         2);
    std::error_code ec;
    if (toHtml && fs::exists(html, ec) && !yes)
        return cli::Fail(html + " exists; --yes replaces it");

    cHistoryStore history;
    cFleetStore fleet;
    if (!OpenFleet(history, fleet))
        return 1;
    std::string error;
    std::vector<FleetMachine> all = fleet.Overview(FleetOptionsOfProgram(), error);
    if (!error.empty())
        return cli::Fail("fleet: " + error);
    if (dueOnly)
        std::erase_if(all, [](const FleetMachine& m) { return !IsDue(m); });

    if (toHtml) {
        LoadLanguage();
        FleetPageJob job;
        job.templatePath = TemplatePath(templateName);
        job.outputPath = html;
        job.title = Translate("Flotte");
        job.date = cHistoryStore::LocalTime(cHistoryStore::NowMs()).substr(0, 16);
        job.filter = Translate(dueOnly ? "fällig" : "alle Maschinen");
        if (!WriteFleetPage(job, all, error))
            return cli::Fail("fleet --html: " + error);
        std::cout << html << "\n";
        return 0;
    }
    if (json) {
        nlohmann::json j = nlohmann::json::array();
        for (const FleetMachine& m : all)
            j.push_back(FleetMachineJson(m));
        std::cout << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return 0;
    }
    if (all.empty()) {
        std::cout << (dueOnly ? "no machine is due\n" : "the history knows no machine\n");
        return 0;
    }
    std::cout << "serialNr\tmachineType\tswVersion\tplace\tlastSeen\tcounter\tservice\t"
                 "calibrationDate\tcalibration\tassigned\tcompliant\n";
    for (const FleetMachine& m : all)
        std::cout << m.serialNr << "\t" << Or(m.machineType) << "\t" << Or(m.swVersion)
                  << (m.firmwareOld ? " (" + m.newestFirmware + " shipped)" : "") << "\t"
                  << Or(m.place) << "\t"
                  << (m.lastSeenMs ? cHistoryStore::LocalTime(*m.lastSeenMs) : "never") << "\t"
                  << (m.counter ? std::to_string(*m.counter) : "-") << "\t"
                  << ServiceStateName(m.service) << "\t" << CalDateIso(m.calDate) << "\t"
                  << (!m.calibrationDue   ? "unknown"
                      : *m.calibrationDue ? "due"
                                          : "ok")
                  << "\t" << Or(m.assigned) << "\t" << FleetComplianceName(m.compliance) << "\n";
    return 0;
}

} // namespace

KELVANE_CLI_COMMAND("fleet",
                    "fleet [--json] [--due] | fleet --html FILE [--due] [--template T] [--yes]",
                    RunFleet);
