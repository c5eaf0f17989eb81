// read, write, save, password and factory, run as a technician runs them, against the
// simulated machine on a pseudo-terminal.
#include "crypto/Digests.h"
#include "files/ConfigFile.h"
#include "files/FactorySettings.h"
#include "link/AdapterDiscovery.h"
#include "model/ParameterBlock.h"
#include "sim/SimMachine.h"
#include "tests/cli/CliRun.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

ParameterBlock Default() {
    ParameterBlock b;
    b.bytes = SimMachine::DefaultImage();
    return b;
}

std::string Bytes(const ParameterBlock& b) {
    return std::string(b.bytes.begin(), b.bytes.end());
}

ParameterBlock ImageOf(const std::string& bytes) {
    ParameterBlock b;
    EXPECT_EQ(bytes.size(), 512u);
    std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), 512), b.bytes.begin());
    return b;
}

PasswordDigestBytes Digest(const char* password) {
    return PasswordDigest(std::string_view(password));
}

} // namespace

class CliMachine : public ::testing::Test {
public:
    void SetUp() override { Start(Options()); }
    void TearDown() override {
        if (sim)
            sim->Stop();
    }

    static SimOptions Options() {
        SimOptions o;
        o.pacing = false;
        o.announce = false;
        return o;
    }
    void Start(SimOptions o) {
        if (sim)
            sim->Stop();
        sim = std::make_unique<SimMachine>(std::move(o));
        device = sim->Start();
        ASSERT_FALSE(device.empty()) << sim->LastError();
    }

    // kelvane-cli COMMAND --port <machine> ARGS, in a private home.
    CliResult Run(const std::string& command, std::vector<std::string> args) {
        args.insert(args.begin(), {command, "--port", device});
        return RunCli(args, tmp.UserEnv(), 60000);
    }
    ParameterBlock Machine() const {
        ParameterBlock b;
        b.bytes = sim->ParameterImage();
        return b;
    }
    std::string File(const std::string& name) const { return (tmp.path() / name).string(); }

    CliTempDir tmp;
    std::unique_ptr<SimMachine> sim;
    std::string device;
};

TEST_F(CliMachine, ReadWritesTheImageAndTellsWhatItFound) {
    CliResult r = Run("read", {File("m.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ImageOf(ReadBytes(File("m.bin"))), Machine());
    EXPECT_TRUE(Contains(r.out, "port: " + device + "\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "fastening counter: 1234\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "block offset: 0\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "image written to " + File("m.bin") + "\n")) << r.out;
}

TEST_F(CliMachine, ReadRefusesOldFirmwareAndWritesNoFile) {
    ParameterBlock old = Default();
    old.SetSwVersion("V03.01.001");
    sim->SetParameterImage(old.bytes);
    CliResult r = Run("read", {File("m.bin")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvane-cli: Falsche Firmware-Version\n");
    EXPECT_FALSE(fs::exists(File("m.bin")));
}

TEST_F(CliMachine, ReadFaultsFailWithTheirMessage) {
    struct Case {
        SimFault fault;
        unsigned skip;
        std::optional<uint32_t> address;
        const char* message;
    } cases[] = {
        {SimFault::Silent, 0, {}, "Verbindung fehlgeschlagen"},
        {SimFault::BadChecksum, 1, 0x10001100u, "Checksum-Error"},
        {SimFault::LoseBytes, 1, 0x10001100u, "Timeout"},
        {SimFault::RefuseCommand, 1, 0x10001100u, "Die Maschine hat den Befehl abgelehnt."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SimFaultName(c.fault));
        sim->SetFault(c.fault, c.skip, c.address);
        CliResult r = Run("read", {File("m.bin")});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, std::string("kelvane-cli: ") + c.message + "\n");
        EXPECT_FALSE(fs::exists(File("m.bin")));
        sim->SetFault(SimFault::None);
    }
}

TEST_F(CliMachine, ReadFindsAnAnnouncedMachineWithoutPort) {
    const fs::path runtime = tmp.path() / "runtime";
    fs::create_directories(runtime);
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    SimOptions o = Options();
    o.announce = true;
    Start(o);
    if (saved)
        ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");

    auto env = tmp.UserEnv();
    env["XDG_RUNTIME_DIR"] = runtime.string();
    CliResult r = RunCli({"read", File("m.bin")}, env, 60000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "port: " + device + "\n")) << r.out;
    EXPECT_EQ(ImageOf(ReadBytes(File("m.bin"))), Machine());
}

TEST_F(CliMachine, WriteOfAnEditedImageNeedsThePassword) {
    ASSERT_EQ(Run("read", {File("m.bin")}).exitCode, 0);
    ParameterBlock edited = ImageOf(ReadBytes(File("m.bin")));
    edited.Step(0).SetSpeed(2345);
    edited.SetToolId("Linie 9");
    WriteBytes(File("edited.bin"), Bytes(edited));
    const ParameterBlock before = Machine();

    CliResult r = Run("write", {File("edited.bin")});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(Contains(r.err, "Bitte geben Sie Ihr Passwort ein")) << r.err;
    r = Run("write", {"--password", "1111", File("edited.bin")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvane-cli: Ungültiges Passwort\n");
    EXPECT_EQ(Machine(), before);

    r = Run("write", {"--password", SimMachine::kDefaultPassword, "--verify", File("edited.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "Parameter wurden übertragen\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "verified")) << r.out;
    EXPECT_EQ(Machine().Step(0).Speed(), 2345);
    EXPECT_EQ(Machine().ToolId(), "Linie 9");
    EXPECT_EQ(Machine().WriteMark(), 1);
}

TEST_F(CliMachine, WriteRefusesAnotherMachinesImage) {
    ASSERT_EQ(Run("read", {File("m.bin")}).exitCode, 0);
    ParameterBlock other = Default();
    other.SetSerialNr("SIM0000099");
    other.SetRestartLock(3);
    sim->SetParameterImage(other.bytes);
    CliResult r = Run("write", {"--password", "0000", File("m.bin")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvane-cli: ungültige Zielmaschine\n");
    EXPECT_EQ(Machine(), other);

    // Another identity is refused the same way the window refuses it.
    ParameterBlock gear = Default();
    gear.SetTransmission(2);
    sim->SetParameterImage(gear.bytes);
    WriteBytes(File("d.bin"), Bytes(Default()));
    r = Run("write", {"--password", "0000", File("d.bin")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvane-cli: Parameter passen nicht zur Maschine\n");
    EXPECT_EQ(Machine(), gear);
}

TEST_F(CliMachine, WriteOfAConfigurationTakesOnlyStepsAndSwitches) {
    ParameterBlock config = Default();
    config.Step(2).SetSpeed(777);
    config.SetBuzzerLock(1);
    config.SetToolId("not sent");
    WriteBytes(File("m.bin"), Bytes(config));
    ASSERT_EQ(Run("save", {File("m.bin"), File("c.bin")}).exitCode, 0);

    CliResult r = Run("write", {"--password", "0000", "--verify", File("c.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ParameterBlock expected = Default();
    expected.Step(2).SetSpeed(777);
    expected.SetBuzzerLock(1);
    EXPECT_EQ(Machine(), expected);

    // A configuration changed outside the program is refused and nothing is sent.
    std::string bytes = ReadBytes(File("c.bin"));
    bytes[48 + 300] ^= 0x10;
    WriteBytes(File("bad.bin"), bytes);
    r = Run("write", {"--password", "0000", File("bad.bin")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvane-cli: ungültige Konfiguration\n");
    EXPECT_EQ(Machine(), expected);
}

TEST_F(CliMachine, WriteReadsAConfigurationAsLadenDoes) {
    ParameterBlock config = Default();
    config.Step(2).SetSpeed(778);
    WriteBytes(File("m.bin"), Bytes(config));
    ASSERT_EQ(Run("save", {File("m.bin"), File("c.bin")}).exitCode, 0);
    const std::string saved = ReadBytes(File("c.bin"));
    // Bytes after the first 560 are ignored, however many there are.
    WriteBytes(File("long.bin"), saved + std::string(8000, 'x'));
    CliResult r = Run("write", {"--password", "0000", File("long.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Machine().Step(2).Speed(), 778);

    // Shorter than a configuration file (and not an image): refused, nothing sent.
    const ParameterBlock before = Machine();
    for (size_t size : {size_t{0}, size_t{100}, size_t{511}, size_t{513}, size_t{559}}) {
        WriteBytes(File("short.bin"), saved.substr(0, size));
        r = Run("write", {"--password", "0000", File("short.bin")});
        EXPECT_EQ(r.exitCode, 1) << size;
        EXPECT_EQ(r.err, "kelvane-cli: ungültige Konfiguration\n") << size;
        EXPECT_EQ(Machine(), before) << size;
    }

    // What is no file at all is said so, at once; a huge file is read no further than 560
    // bytes.
    ASSERT_EQ(::mkfifo(File("fifo.bin").c_str(), 0600), 0);
    fs::create_directory(File("dir.bin"));
    {
        std::ofstream huge(File("huge.bin"), std::ios::binary);
        huge.seekp((std::streamoff{1} << 32) - 1);
        huge.put('x');
    }
    struct Case {
        std::string path;
        std::string errStart;
    } cases[] = {
        {File("fifo.bin"), "kelvane-cli: cannot read"},
        {File("dir.bin"), "kelvane-cli: cannot read"},
        {"/dev/null", "kelvane-cli: cannot read"},
        {File("huge.bin"), "kelvane-cli: ungültige Konfiguration"},
    };
    for (const Case& c : cases) {
        r = Run("write", {"--password", "0000", c.path});
        EXPECT_EQ(r.exitCode, 1) << c.path;
        EXPECT_EQ(r.err.substr(0, c.errStart.size()), c.errStart) << c.path << ": " << r.err;
        EXPECT_EQ(Machine(), before) << c.path;
    }
}

TEST_F(CliMachine, PasswordArgumentsAreReadInTheLocalesEncoding) {
    // A Latin-1 locale made for this test: "\xE4" is then the character ä.
    const fs::path locales = tmp.path() / "locales";
    fs::create_directories(locales);
    const std::string make = "localedef -c -i de_DE -f ISO-8859-1 '" +
                             (locales / "de_DE.ISO-8859-1").string() + "' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0 || !fs::exists(locales / "de_DE.ISO-8859-1"))
        GTEST_SKIP() << "no Latin-1 locale can be made here (localedef, locales)";
    auto env = tmp.UserEnv();
    env["LOCPATH"] = locales.string();
    env["LC_ALL"] = "de_DE.ISO-8859-1";
    // glibc keeps what it allocates for LOCPATH; under LeakSanitizer that is not ours.
    env["LSAN_OPTIONS"] = "suppressions=" KELVANE_TEST_DATA "/../lsan.supp:print_suppressions=0";
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin() + 1, {"--port", device});
        return RunCli(args, env, 60000);
    };
    CliResult r = run({"password", "--old", "0000", "--new", "\xE4\xF6\xFC\xDF"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Machine().PasswordDigest(), Digest("äöüß"));

    // The same password given to "write" is accepted.
    ASSERT_EQ(Run("read", {File("m.bin")}).exitCode, 0);
    r = run({"write", "--password", "\xE4\xF6\xFC\xDF", File("m.bin")});
    EXPECT_EQ(r.exitCode, 0) << r.err;

    // In a UTF-8 locale the same bytes are no text: said, nothing sent.
    env["LC_ALL"] = "C.UTF-8";
    r = run({"password", "--old", "\xE4\xF6\xFC\xDF", "--new", "abcd"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "kelvane-cli: --old: not UTF-8 text\n");
    EXPECT_EQ(Machine().PasswordDigest(), Digest("äöüß"));
}

TEST_F(CliMachine, WriteFaultIsAFailure) {
    ASSERT_EQ(Run("read", {File("m.bin")}).exitCode, 0);
    sim->SetFault(SimFault::RefuseData);
    CliResult r = Run("write", {"--password", "0000", File("m.bin")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvane-cli: Fehler bei Datenübertagung\n");
    EXPECT_FALSE(Contains(r.out, "übertragen")) << r.out;
}

TEST_F(CliMachine, SaveWritesTheSealedFileAndReplacesOnlyWithYes) {
    WriteBytes(File("m.bin"), Bytes(Default()));
    CliResult r = Run("save", {File("m.bin"), File("c.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string saved = ReadBytes(File("c.bin"));
    ASSERT_EQ(saved.size(), 560u);
    ConfigParse parsed = ParseConfigFile(saved.data(), saved.size());
    EXPECT_TRUE(parsed.Valid());
    ParameterBlock stored;
    stored.bytes = parsed.image;
    EXPECT_EQ(stored.WriteMark(), 1);
    EXPECT_EQ(stored.SerialNr(), "");
    EXPECT_EQ(stored.PasswordDigest(), PasswordDigestBytes{});

    WriteBytes(File("c.bin"), "keep me");
    r = Run("save", {File("m.bin"), File("c.bin")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "--yes")) << r.err;
    EXPECT_EQ(ReadBytes(File("c.bin")), "keep me");
    r = Run("save", {"--yes", File("m.bin"), File("c.bin")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadBytes(File("c.bin")), saved);

    WriteBytes(File("short.bin"), std::string(100, 'x'));
    r = Run("save", {File("short.bin"), File("d.bin")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(File("d.bin")));
}

TEST_F(CliMachine, PasswordChangeAndItsRefusals) {
    struct Case {
        const char* oldPassword;
        const char* newPassword;
        int exitCode;
        const char* err;
        const char* machineHolds;
    } cases[] = {
        {"1111", "4321", 1, "kelvane-cli: Ungültiges Passwort\n", "0000"},
        {"0000", "123", 1, "kelvane-cli: geben Sie mindestens 4 Zeichen ein\n", "0000"},
        {"0000", "123456789", 1,
         "kelvane-cli: Passwort wurde nicht geändert\n"
         "kelvane-cli: the new password has more than 8 characters\n",
         "0000"},
        {"0000", "4321", 0, "", "4321"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.newPassword);
        CliResult r = Run("password", {"--old", c.oldPassword, "--new", c.newPassword});
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(Machine().PasswordDigest(), Digest(c.machineHolds));
    }
    CliResult r = Run("password", {"--old", "4321"});
    EXPECT_EQ(r.exitCode, 2);
}

TEST_F(CliMachine, FactoryRestoreNeedsYesAndTheRightFile) {
    ParameterBlock used = Default();
    used.Step(0).SetSpeed(4000);
    used.SetPasswordDigest(Digest("geheim"));
    used.SetSerialNr("SIM0000077");
    sim->SetParameterImage(used.bytes);

    CliResult r = Run("factory", {});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "Alle Benutzereinstellungen gehen verloren")) << r.err;
    EXPECT_EQ(Machine(), used);

    // A saved configuration is no factory file.
    WriteBytes(File("m.bin"), Bytes(Default()));
    ASSERT_EQ(Run("save", {File("m.bin"), File("c.bin")}).exitCode, 0);
    r = Run("factory", {"--yes", "--file", File("c.bin")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kelvane-cli: ungültige Konfiguration\n");
    EXPECT_EQ(Machine(), used);

    r = Run("factory", {"--yes"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "Werkseinstellungen wurden wieder hergestellt")) << r.out;
    EXPECT_EQ(Machine().PasswordDigest(), Digest(SimMachine::kDefaultPassword));
    EXPECT_EQ(Machine().SerialNr(), "SIM0000077");
    EXPECT_EQ(Machine().Step(0).Speed(), Default().Step(0).Speed());
    EXPECT_EQ(Machine().WriteMark(), 0);
}

TEST_F(CliMachine, MessagesComeInTheChosenLanguage) {
    ParameterBlock old = Default();
    old.SetSwVersion("V03.01.001");
    sim->SetParameterImage(old.bytes);
    CliResult r = Run("read", {"--language", "english", File("m.bin")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(Contains(r.err, "Falsche Firmware-Version")) << r.err;
    EXPECT_TRUE(Contains(r.err, "kelvane-cli: ")) << r.err;
}

TEST_F(CliMachine, NoAdapterIsSaidSo) {
    // A runtime folder no simulated machine announces itself in.
    auto env = tmp.UserEnv();
    env["XDG_RUNTIME_DIR"] = (tmp.path() / "empty-runtime").string();
    fs::create_directories(tmp.path() / "empty-runtime");
    if (!ListAdapters(DiscoveryPaths{"/sys/class/tty", "/dev", env["XDG_RUNTIME_DIR"] + "/kelvane"})
             .empty())
        GTEST_SKIP() << "a serial adapter is attached";
    CliResult r = RunCli({"read", File("m.bin")}, env, 60000);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "no adapter found")) << r.err;
    EXPECT_FALSE(fs::exists(File("m.bin")));
}

TEST_F(CliMachine, TraceHoldsEveryByteWithTimeDirectionAndSpeed) {
    CliResult r = Run("read", {"--trace", File("read.trace"), File("m.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::ifstream in(File("read.trace"));
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "# kelvane trace 1");
    std::vector<std::string> sent, received;
    std::string opened;
    double last = 0;
    size_t replyBytes = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        double ms = -1;
        std::string what;
        int baud = -1;
        ASSERT_TRUE(fields >> ms >> what >> baud) << line;
        EXPECT_GE(ms, last) << line;
        last = ms;
        std::string rest;
        std::getline(fields, rest);
        if (!rest.empty())
            rest.erase(0, 1);
        if (what == "open")
            opened = rest;
        else if (what == ">")
            sent.push_back(std::to_string(baud) + " " + rest);
        else if (what == "<")
            received.push_back(std::to_string(baud) + " " + rest),
                replyBytes += (rest.size() + 1) / 3;
    }
    EXPECT_EQ(opened, device);
    ASSERT_GE(sent.size(), 3u);
    // The wake-up: the reset byte and 0x00 0xED at 19200 baud, answered with 0xA2.
    EXPECT_EQ(sent[0], "19200 FF");
    EXPECT_EQ(sent[1], "19200 00 ED");
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received[0].substr(0, 8), "19200 A2");
    // Everything the machine answered is there: the block area alone is 1027 bytes.
    EXPECT_GT(replyBytes, 1027u + 4096u);
}

TEST_F(CliMachine, ATraceThatCannotBeWrittenStopsBeforeTheMachine) {
    CliResult r = Run("read", {"--trace", File("no/such/folder/t.trace"), File("m.bin")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.err, "cannot write the trace")) << r.err;
    EXPECT_EQ(sim->Counters().wakeups, 0u);
    EXPECT_FALSE(fs::exists(File("m.bin")));
}

TEST_F(CliMachine, WriteIsJudgedByWhatTheMachineThenHolds) {
    struct Case {
        SimFault fault;
        unsigned skip;
        std::optional<uint32_t> address;
        int exitCode;
        std::string err;
    } cases[] = {
        {SimFault::LostEndAck, 0, {}, 0, ""},
        {SimFault::DropFrame, 0, 0x10001100, 1, "kelvane-cli: Fehler bei Datenübertagung\n"},
        // Two wake-ups read the machine (the command's read and the read before the write);
        // the machine is another one at the reconnect for the write.
        {SimFault::Swap, 1, {}, 1, "kelvane-cli: ungültige Zielmaschine\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SimFaultName(c.fault));
        Start(Options());
        ASSERT_EQ(Run("read", {File("m.bin")}).exitCode, 0);
        ParameterBlock edited = ImageOf(ReadBytes(File("m.bin")));
        edited.Step(0).SetSpeed(2345);
        WriteBytes(File("edited.bin"), Bytes(edited));
        sim->SetFault(c.fault, c.skip, c.address);
        CliResult r = Run("write", {"--password", "0000", File("edited.bin")});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(Machine().Step(0).Speed() == 2345, c.exitCode == 0);
    }
}
