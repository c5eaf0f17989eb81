// What a real adapter brings that the simulated line does not: devices that are no serial
// port, a port another program holds, and the adapter's latency timer in sysfs.
#include "link/AdapterDiscovery.h"
#include "link/SerialPort.h"
#include "tests/Unprivileged.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/kelvane-adapter-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

struct Pty {
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(master);
        ::unlockpt(master);
        slave = ::ptsname(master);
    }
    ~Pty() { ::close(master); }
    int master = -1;
    std::string slave;
};

TEST(RealAdapter, DevicesThatAreNoSerialPortAreRefusedUntouched) {
    TempDir dir;
    const fs::path file = dir.path / "file.bin", fifo = dir.path / "fifo";
    std::ofstream(file) << "keep";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A reader on the FIFO: a byte written to it would be seen here.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    struct Case {
        std::string path;
        PortProblem problem;
    } cases[] = {
        {file.string(), PortProblem::NotSerial},
        {dir.path.string(), PortProblem::NotSerial},
        {fifo.string(), PortProblem::NotSerial},
        {"/dev/null", PortProblem::NotSerial}, // a character device without a line
        {"/dev/tty", PortProblem::NotSerial},  // a terminal, never an adapter
        {(dir.path / "ttyUSB9").string(), PortProblem::Gone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        SerialPort port;
        EXPECT_EQ(port.Open(c.path, 9600), 0);
        EXPECT_EQ(port.Problem(), c.problem) << port.LastError();
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(port.Write(reinterpret_cast<const uint8_t*>("x"), 1), 0);
        EXPECT_NE(std::string(PortProblemText(c.problem)), "");
    }
    char b;
    EXPECT_LE(::read(reader, &b, 1), 0);
    ::close(reader);
    std::ifstream in(file);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "keep");
}

TEST(RealAdapter, APortIsOursAloneUntilItIsClosed) {
    Pty pty;
    SerialPort first, second;
    ASSERT_EQ(first.Open(pty.slave, 9600), 1) << first.LastError();
    EXPECT_EQ(first.Problem(), PortProblem::None);
    EXPECT_EQ(second.Open(pty.slave, 9600), 0);
    EXPECT_EQ(second.Problem(), PortProblem::InUse) << second.LastError();
    first.Close();
    ASSERT_EQ(second.Open(pty.slave, 9600), 1) << second.LastError();
    EXPECT_EQ(second.Problem(), PortProblem::None);
}

TEST(RealAdapter, AProgramHoldingThePortWithoutALockIsNoticed) {
    Pty pty;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A terminal program: opens the line, takes no lock, sets nothing exclusive.
        const int fd = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
        (void)!::write(ready[1], "r", 1);
        ::pause();
        ::_exit(fd >= 0 ? 0 : 1);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    SerialPort port;
    EXPECT_EQ(port.Open(pty.slave, 9600), 0);
    EXPECT_EQ(port.Problem(), PortProblem::InUse) << port.LastError();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(port.Open(pty.slave, 9600), 1) << port.LastError();
}

// The exclusive flag of a program that ended (killed) while the other end kept the
// pseudo-terminal: stale, since nobody holds the line. Root opens past it and clears it; a
// normal user cannot open past it and is told why. Our own port sets none on a
// pseudo-terminal, so a killed command leaves none behind.
TEST(RealAdapter, AnExclusiveFlagNobodyHoldsIsStale) {
    Pty pty;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
        ::_exit(fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0 ? 0 : 1); // ends without clearing it
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    SerialPort port;
    if (::geteuid() != 0) {
        EXPECT_EQ(port.Open(pty.slave, 9600), 0);
        EXPECT_EQ(port.Problem(), PortProblem::InUse);
        EXPECT_NE(port.LastError().find("program that ended"), std::string::npos)
            << port.LastError();
        return;
    }
    ASSERT_EQ(port.Open(pty.slave, 9600), 1) << port.LastError();
    int exclusive = -1;
    ASSERT_EQ(::ioctl(port.Handle(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    port.Close();
    const int again = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(again, 0);
    ASSERT_EQ(::ioctl(again, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(again);
}

// A device the user may not open, as a technician meets it first: a user outside "dialout" is
// told to join it; one already in it is shown the device's owner, group and mode and the udev
// rule. Root runs both as an unprivileged user; a normal user meets the case its groups make.
TEST(RealAdapter, NoPermissionSaysWhatHelps) {
    Pty pty;
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(pty.slave.c_str(), 0, 0), 0);
        ASSERT_EQ(::chmod(pty.slave.c_str(), 0600), 0);
    } else {
        ASSERT_EQ(::chmod(pty.slave.c_str(), 0), 0);
    }
    struct stat st {};
    ASSERT_EQ(::stat(pty.slave.c_str(), &st), 0);
    const std::string owner = ::getpwuid(st.st_uid)->pw_name;
    const std::string group = ::getgrgid(st.st_gid)->gr_name;
    const std::string mode = ::geteuid() == 0 ? "0600" : "0000";
    for (const std::vector<std::string>& groups : {std::vector<std::string>{}, {"dialout"}}) {
        SCOPED_TRACE(groups.empty() ? "outside dialout" : "in dialout");
        unprivileged::Run(
            [&] {
                SerialPort port;
                EXPECT_EQ(port.Open(pty.slave, 9600), 0);
                const std::string text = port.FillProblemText(PortProblemText(port.Problem()));
                if (!unprivileged::InGroup("dialout")) {
                    EXPECT_EQ(port.Problem(), PortProblem::NoPermission) << port.LastError();
                    EXPECT_NE(text.find("usermod -aG dialout"), std::string::npos) << text;
                    return;
                }
                EXPECT_EQ(port.Problem(), PortProblem::NoAccess) << port.LastError();
                EXPECT_EQ(text.find("usermod"), std::string::npos) << text;
                EXPECT_EQ(text.find('%'), std::string::npos) << text;
                for (const std::string& part :
                     {pty.slave + ",", "gehört " + owner + ",", "Gruppe " + group + ",",
                      "Rechte " + mode + ".", std::string("60-kelvane.rules")})
                    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
            },
            groups);
        if (::geteuid() != 0)
            break; // a normal user has only its own groups
    }
}

TEST(RealAdapter, LatencyTimerOfTheTtyInAFakeSysfs) {
    TempDir dir;
    const fs::path tty = dir.path / "class" / "tty";
    auto adapter = [&](const std::string& name, const char* latency) {
        fs::create_directories(dir.path / "devices" / name);
        fs::create_directories(tty / name);
        fs::create_directory_symlink(dir.path / "devices" / name, tty / name / "device");
        if (latency)
            std::ofstream(dir.path / "devices" / name / "latency_timer") << latency << "\n";
    };
    adapter("ttyUSB0", "16");
    adapter("ttyUSB1", "1");
    adapter("ttyACM0", nullptr); // a chip without the timer
    adapter("ttyUSB2", "junk");
    fs::create_directories(dir.path / "dev");
    fs::create_symlink("dev/ttyUSB0", dir.path / "by-id");
    std::ofstream(dir.path / "dev" / "ttyUSB0");
    DiscoveryPaths paths{tty.string(), (dir.path / "dev").string(), ""};
    struct Case {
        std::string device;
        int latency;
    } cases[] = {
        {"/dev/ttyUSB0", 16}, {(dir.path / "by-id").string(), 16}, // a link named after the adapter
        {"/dev/ttyUSB1", 1},  {"/dev/ttyACM0", -1},
        {"/dev/ttyUSB2", -1}, {"/dev/pts/7", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AdapterLatencyTimer(TtyClassEntry(c.device, paths)), c.latency) << c.device;
}

} // namespace
