// kelvane-cli ports: the port list as the main window shows it, with the chosen entry.
#include "app/Folders.h"
#include "app/Settings.h"
#include "cli/Cli.h"
#include "link/PortSelection.h"

#include <cstdio>
#include <system_error>

namespace {

// The 1-based entry the settings file remembers (1 when there is none).
int StoredComPortIndex() {
    Settings settings;
    std::filesystem::path data = DataFolder();
    if (!data.empty()) {
        std::filesystem::path file = SettingsFile(data);
        std::error_code ec;
        if (std::filesystem::exists(file, ec))
            LoadSettings(file, settings);
    }
    return settings.comPortIndex;
}

int RunPorts(cli::Args& args) {
    args.Positional();
    if (args.HasError())
        return 2;
    PortSelection selection;
    selection.SetComPortIndex(StoredComPortIndex());
    if (!selection.DiscoverAdapters())
        return cli::Fail("no adapter found");
    const auto& adapters = selection.Adapters();
    for (size_t i = 0; i < adapters.size(); ++i) {
        const bool chosen = int(i) == selection.Selection();
        std::printf("%s %zu  %-24s %s\n", chosen ? "*" : " ", i + 1, adapters[i].devicePath.c_str(),
                    adapters[i].serialNumber.empty() ? "(no serial number)"
                                                     : adapters[i].serialNumber.c_str());
    }
    return 0;
}

} // namespace

KELVANE_CLI_COMMAND("ports", "ports", RunPorts);
