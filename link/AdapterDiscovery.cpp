#include "link/AdapterDiscovery.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ReadFirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    return line;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// ttyUSB2 before ttyUSB10.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie])))
                ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je])))
                ++je;
            std::string na = a.substr(i, ie - i), nb = b.substr(j, je - j);
            na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
            nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

// The USB device a tty hangs off: the first folder above the tty's device that carries
// the USB descriptor attributes. Not found for built-in and virtual ttys.
bool FindUsbDevice(const fs::path& ttyEntry, fs::path& usbDevice) {
    std::error_code ec;
    fs::path device = fs::canonical(ttyEntry / "device", ec);
    if (ec)
        return false;
    fs::path dir = device.parent_path();
    for (int level = 0; level < 4 && !dir.empty() && dir != dir.root_path(); ++level) {
        if (fs::exists(dir / "idVendor", ec) && fs::exists(dir / "idProduct", ec)) {
            usbDevice = dir;
            return true;
        }
        dir = dir.parent_path();
    }
    return false;
}

// The ttys of the class folder that have a device link. Most ttys are virtual and have
// none: one stat beside the open folder tells, where resolving the whole path walks every
// link of it (a few hundred system calls over /sys/class/tty at each start).
std::vector<std::string> TtysWithDevice(const std::string& classDir) {
    std::vector<std::string> names;
    const int fd = ::open(classDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return names;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return names;
    }
    while (const dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        if (::fstatat(fd, (name + "/device").c_str(), &st, 0) == 0)
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

void ListUsbSerial(const DiscoveryPaths& paths, std::vector<AdapterRecord>& out) {
    std::vector<std::string> names = TtysWithDevice(paths.ttyClassDir);
    std::sort(names.begin(), names.end(), NaturalLess);
    for (const auto& name : names) {
        fs::path usb;
        if (!FindUsbDevice(fs::path(paths.ttyClassDir) / name, usb))
            continue;
        std::string device = (fs::path(paths.deviceDir) / name).string();
        if (!Exists(device))
            continue;
        out.push_back({ReadFirstLine(usb / "serial"), device});
    }
}

bool ProcessAlive(long pid) {
    if (pid <= 0 || pid > 0x3fffffff)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// sim-<pid>.port with lines "device=..." and "serial=...".
void ListAnnounced(const DiscoveryPaths& paths, std::vector<AdapterRecord>& out) {
    std::error_code ec;
    std::vector<std::pair<long, AdapterRecord>> found;
    for (fs::directory_iterator it(paths.announcementDir, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        const std::string prefix = "sim-", suffix = ".port";
        if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        std::string digits =
            name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        long pid = std::strtol(digits.c_str(), nullptr, 10);
        if (!ProcessAlive(pid))
            continue;
        std::ifstream in(it->path());
        AdapterRecord rec;
        std::string line;
        while (std::getline(in, line)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
                line.pop_back();
            if (line.rfind("device=", 0) == 0)
                rec.devicePath = line.substr(7);
            else if (line.rfind("serial=", 0) == 0)
                rec.serialNumber = line.substr(7);
        }
        if (rec.devicePath.empty() || !Exists(rec.devicePath))
            continue;
        found.emplace_back(pid, rec);
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& f : found)
        out.push_back(std::move(f.second));
}

} // namespace

std::string AnnouncementDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return std::string(runtime) + "/kelvane";
    return "/tmp/kelvane-" + std::to_string(::getuid());
}

std::string AnnouncementFile(int pid) {
    return AnnouncementDirectory() + "/sim-" + std::to_string(pid) + ".port";
}

DiscoveryPaths DefaultDiscoveryPaths() {
    return {"/sys/class/tty", "/dev", AnnouncementDirectory()};
}

std::vector<AdapterRecord> ListAdapters(const DiscoveryPaths& paths) {
    std::vector<AdapterRecord> out;
    ListUsbSerial(paths, out);
    ListAnnounced(paths, out);
    return out;
}

std::string TtyClassEntry(const std::string& devicePath, const DiscoveryPaths& paths) {
    std::error_code ec;
    fs::path real = fs::canonical(devicePath, ec);
    const std::string name = (ec ? fs::path(devicePath) : real).filename().string();
    if (name.empty())
        return {};
    fs::path entry = fs::path(paths.ttyClassDir) / name;
    return fs::exists(entry / "device", ec) ? entry.string() : std::string();
}

int AdapterLatencyTimer(const std::string& classEntry) {
    if (classEntry.empty())
        return -1;
    const std::string text = ReadFirstLine(fs::path(classEntry) / "device" / "latency_timer");
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::stoi(text);
}
