// Adapter discovery over a made-up sysfs tree and announcement folder.
#include "link/AdapterDiscovery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kelvane-disc-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        root = tmpl;
        paths = {root + "/class/tty", root + "/dev", root + "/announce"};
        fs::create_directories(paths.ttyClassDir);
        fs::create_directories(paths.deviceDir);
        fs::create_directories(paths.announcementDir);
    }
    void TearDown() override { fs::remove_all(root); }

    static void Write(const fs::path& p, const std::string& text) {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text;
    }
    // A tty below a USB interface of a USB device, as usb-serial drivers lay it out.
    void UsbTty(const std::string& name, const std::string& bus, const char* serial,
                bool withDevNode = true) {
        fs::path usb = fs::path(root) / "devices" / bus;
        fs::path node = usb / (bus + ":1.0") / name;
        fs::create_directories(node);
        Write(usb / "idVendor", "0403\n");
        Write(usb / "idProduct", "6001\n");
        if (serial)
            Write(usb / "serial", std::string(serial) + "\n");
        fs::create_directories(fs::path(paths.ttyClassDir) / name);
        fs::create_symlink(node, fs::path(paths.ttyClassDir) / name / "device");
        if (withDevNode)
            Write(fs::path(paths.deviceDir) / name, "");
    }
    void Announce(long pid, const std::string& text) {
        Write(fs::path(paths.announcementDir) / ("sim-" + std::to_string(pid) + ".port"), text);
    }

    std::string root;
    DiscoveryPaths paths;
};

TEST_F(Discovery, UsbSerialAdaptersWithSerialNumbersInNameOrder) {
    UsbTty("ttyUSB10", "1-3", "FT0003");
    UsbTty("ttyUSB2", "1-1", "NORK1234");
    UsbTty("ttyACM0", "1-2", nullptr);
    UsbTty("ttyUSB5", "1-4", "GONE", false); // no device node
    // Built-in and virtual ttys: no USB device above them.
    fs::create_directories(root + "/devices/platform/serial8250/ttyS0");
    fs::create_directories(paths.ttyClassDir + "/ttyS0");
    fs::create_symlink(root + "/devices/platform/serial8250/ttyS0",
                       paths.ttyClassDir + "/ttyS0/device");
    Write(paths.deviceDir + "/ttyS0", "");
    fs::create_directories(paths.ttyClassDir + "/tty0");

    auto list = ListAdapters(paths);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].devicePath, paths.deviceDir + "/ttyACM0");
    EXPECT_EQ(list[0].serialNumber, "");
    EXPECT_EQ(list[1].devicePath, paths.deviceDir + "/ttyUSB2");
    EXPECT_EQ(list[1].serialNumber, "NORK1234");
    EXPECT_EQ(list[2].devicePath, paths.deviceDir + "/ttyUSB10");
    EXPECT_EQ(list[2].serialNumber, "FT0003");
}

TEST_F(Discovery, AnnouncedSimulatorsWhileAliveAndPresent) {
    UsbTty("ttyUSB0", "1-1", "FT01");
    const std::string device = paths.deviceDir + "/pts-7";
    Write(device, "");
    Announce(getpid(), "device=" + device + "\nserial=NORKSIM1\n");

    pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    Announce(child, "device=" + device + "\nserial=DEAD\n");                  // process gone
    Announce(1, "device=" + paths.deviceDir + "/pts-404\nserial=NORKSIM2\n"); // device gone
    Write(paths.announcementDir + "/sim-abc.port", "device=" + device + "\n");
    Write(paths.announcementDir + "/other.txt", "device=" + device + "\n");

    auto list = ListAdapters(paths);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].serialNumber, "FT01");
    EXPECT_EQ(list[1].devicePath, device);
    EXPECT_EQ(list[1].serialNumber, "NORKSIM1");
}

TEST_F(Discovery, MissingFoldersGiveAnEmptyList) {
    DiscoveryPaths none{root + "/x", root + "/y", root + "/z"};
    EXPECT_TRUE(ListAdapters(none).empty());
}

TEST(AnnouncementFolder, FollowsTheRuntimeFolder) {
    const char* old = getenv("XDG_RUNTIME_DIR");
    std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", "/run/user/4711", 1);
    EXPECT_EQ(AnnouncementFile(42), "/run/user/4711/kelvane/sim-42.port");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(AnnouncementDirectory(), "/tmp/kelvane-" + std::to_string(getuid()));
    if (old)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

} // namespace
