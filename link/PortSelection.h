// The port list of the main window: adapter discovery, the chosen entry and opening it.
#pragma once

#include "link/AdapterDiscovery.h"
#include "link/SerialPort.h"

#include <functional>
#include <string>
#include <vector>

class PortSelection {
public:
    using ListFn = std::function<std::vector<AdapterRecord>()>;
    using MessageFn = std::function<void(const std::string& germanText)>;
    using StoreIndexFn = std::function<void(int comPortIndex)>;
    using ChangedFn = std::function<void()>;

    // Lists with ListAdapters() unless another lister is given (tests).
    explicit PortSelection(ListFn lister = {});

    // Called when the chosen index must be written to the settings ("COM_PORT", "COMPORT").
    void SetStoreIndexCallback(StoreIndexFn fn) { storeIndex = std::move(fn); }
    // Shows a message box; the text is German and still to be translated.
    void SetMessageCallback(MessageFn fn) { showMessage = std::move(fn); }
    // Lets the window refresh its controls after discovery.
    void SetChangedCallback(ChangedFn fn) { changed = std::move(fn); }

    // Refills the list preferring "NORK" adapters; returns adapterPresent.
    bool DiscoverAdapters();
    // The list is searched again first (an adapter plugged in again under another name is
    // found), keeping the chosen list position. 0 port open at 9600 baud (RTS and DTR off);
    // -1 no adapter (no message); -2 opening failed (after "com-port not opend"; the port's
    // Problem() tells why).
    int OpenSelectedPort(ISerialPort& port);
    // Latency timer in ms of the selected entry's USB-serial chip, -1 when it has none.
    int SelectedLatencyTimer() const;

    // Entries of the port list (device paths) and the adapters behind them.
    const std::vector<std::string>& Ports() const { return ports; }
    const std::vector<AdapterRecord>& Adapters() const { return adapters; }
    // 0-based selected entry, -1 for none.
    int Selection() const { return selection; }
    // The user picks an entry (0-based); out of range selects none.
    void Select(int index);
    bool ListEnabled() const { return listEnabled; }
    bool AdapterPresent() const { return adapterPresent; }
    // 1-based, as stored in the settings.
    int ComPortIndex() const { return comPortIndex; }
    void SetComPortIndex(int index) { comPortIndex = index; }
    // Device path of the selected entry, "" for none.
    std::string SelectedPort() const;

    // Where the latency timer is looked up (tests point it at a fake sysfs tree).
    void SetSysfsPaths(DiscoveryPaths paths) { sysfs = std::move(paths); }

    // Whether discovery writes "Number of devices is %d" to standard output.
    void SetReportCount(bool on) { reportCount = on; }

    // A device named by the user (a plain serial port, an adapter without serial number): it
    // is listed after the adapters at every discovery, unless discovery lists it already.
    void SetExtraPort(std::string devicePath) { extraPort = std::move(devicePath); }

private:
    ListFn lister;
    StoreIndexFn storeIndex;
    MessageFn showMessage;
    ChangedFn changed;
    std::vector<std::string> ports;
    std::vector<AdapterRecord> adapters;
    int selection = -1;
    bool listEnabled = false;
    int comPortIndex = 1;
    bool adapterPresent = false;
    bool reportCount = true;
    std::string extraPort;
    DiscoveryPaths sysfs = DefaultDiscoveryPaths();
};
