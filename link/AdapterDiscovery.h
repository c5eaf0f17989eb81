// Lists the USB-serial adapters (from sysfs) and the running simulated machines (from their
// announcement files), each with its USB serial number and tty device path.
#pragma once

#include <string>
#include <vector>

struct AdapterRecord {
    std::string serialNumber; // USB serial number text ("" when the device has none)
    std::string devicePath;   // e.g. /dev/ttyUSB0, /dev/pts/3
};

// Where discovery looks; tests point these into a temporary tree.
struct DiscoveryPaths {
    std::string ttyClassDir;     // /sys/class/tty
    std::string deviceDir;       // /dev
    std::string announcementDir; // $XDG_RUNTIME_DIR/kelvane or /tmp/kelvane-<uid>
};

DiscoveryPaths DefaultDiscoveryPaths();

// The folder a simulated machine announces itself in (see DefaultDiscoveryPaths).
std::string AnnouncementDirectory();
// The announcement file of process pid: <AnnouncementDirectory()>/sim-<pid>.port.
std::string AnnouncementFile(int pid);

// USB-serial adapters in device-name order, then announced simulated machines in pid order.
// Ttys without a USB device above them, and announcements whose process is gone or whose
// device is missing, are left out.
std::vector<AdapterRecord> ListAdapters(const DiscoveryPaths& paths = DefaultDiscoveryPaths());

// The tty's class folder for a device path (/dev/ttyUSB0 -> <ttyClassDir>/ttyUSB0, links
// such as /dev/serial/by-id/... followed); "" when sysfs has no such tty.
std::string TtyClassEntry(const std::string& devicePath,
                          const DiscoveryPaths& paths = DefaultDiscoveryPaths());

// The USB-serial chip's latency timer in ms (FTDI: "latency_timer" beside the tty's device),
// -1 when the adapter has none (other chips, simulated machines).
int AdapterLatencyTimer(const std::string& classEntry);
