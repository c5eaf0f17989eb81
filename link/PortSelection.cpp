#include "link/PortSelection.h"

#include "link/ResultCodes.h"

#include <cstdio>
#include <strings.h>

PortSelection::PortSelection(ListFn lister) : lister(std::move(lister)) {}

void PortSelection::Select(int index) {
    selection = (index >= 0 && index < static_cast<int>(ports.size())) ? index : -1;
}

std::string PortSelection::SelectedPort() const {
    return selection >= 0 ? ports[static_cast<size_t>(selection)] : std::string();
}

bool PortSelection::DiscoverAdapters() {
    ports.clear();
    adapters.clear();
    std::vector<AdapterRecord> found = lister ? lister() : ListAdapters();
    if (reportCount) {
        std::printf("Number of devices is %d\n", static_cast<int>(found.size()));
        std::fflush(stdout);
    }
    // Our own adapters first; any other adapter only when none of ours is attached.
    for (const auto& rec : found) {
        if (rec.devicePath.empty() || rec.serialNumber.compare(0, 4, "NORK") != 0)
            continue;
        bool listed = false;
        for (const auto& p : ports)
            listed = listed || ::strcasecmp(p.c_str(), rec.devicePath.c_str()) == 0;
        if (!listed) {
            ports.push_back(rec.devicePath);
            adapters.push_back(rec);
        }
    }
    if (ports.empty()) {
        for (const auto& rec : found) {
            if (rec.devicePath.empty())
                continue;
            ports.push_back(rec.devicePath);
            adapters.push_back(rec);
        }
    }
    if (!extraPort.empty()) {
        bool listed = false;
        for (const auto& p : ports)
            listed = listed || p == extraPort;
        if (!listed) {
            ports.push_back(extraPort);
            adapters.push_back({"", extraPort});
        }
    }
    if (ports.empty()) {
        listEnabled = false;
        selection = -1;
        adapterPresent = false;
    } else {
        // A stored index below 1 is as unusable as one past the end.
        if (static_cast<int>(ports.size()) < comPortIndex || comPortIndex < 1)
            comPortIndex = 1;
        selection = comPortIndex - 1;
        listEnabled = true;
        adapterPresent = true;
    }
    if (changed)
        changed();
    return adapterPresent;
}

int PortSelection::OpenSelectedPort(ISerialPort& port) {
    // The user's choice in the list is the position the new list keeps.
    if (selection >= 0 && selection + 1 != comPortIndex) {
        comPortIndex = selection + 1;
        if (storeIndex)
            storeIndex(comPortIndex);
    }
    DiscoverAdapters();
    if (!adapterPresent)
        return kResultRefused;
    std::string name = ports[static_cast<size_t>(selection)];
    if (selection + 1 != comPortIndex) {
        comPortIndex = selection + 1;
        if (storeIndex)
            storeIndex(comPortIndex);
    }
    if (port.Open(name, 9600)) {
        port.SetRts(false);
        port.SetDtr(false);
        return kResultOk;
    }
    if (showMessage)
        showMessage(kMessagePortNotOpened);
    DiscoverAdapters();
    return kResultPortOpenFailed;
}

int PortSelection::SelectedLatencyTimer() const {
    if (selection < 0 || size_t(selection) >= adapters.size())
        return -1;
    return AdapterLatencyTimer(TtyClassEntry(adapters[size_t(selection)].devicePath, sysfs));
}
