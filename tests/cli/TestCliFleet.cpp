// library, assign, fleet and the approval line of read, run as a technician runs them against
// the simulated machine; every JSON form is parsed back.
#include "files/ConfigFile.h"
#include "model/ParameterBlock.h"
#include "sim/SimMachine.h"
#include "tests/cli/CliRun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string Bytes(const ParameterBlock& b) {
    return std::string(b.bytes.begin(), b.bytes.end());
}

json Parse(const CliResult& r) {
    json j = json::parse(r.out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << r.out;
    return j;
}

class CliFleet : public ::testing::Test {
public:
    void SetUp() override {
        SimOptions o;
        o.pacing = false;
        o.announce = false;
        sim = std::make_unique<SimMachine>(std::move(o));
        device = sim->Start();
        ASSERT_FALSE(device.empty()) << sim->LastError();
    }
    void TearDown() override { sim->Stop(); }
    CliResult Cli(std::vector<std::string> args) { return RunCli(args, tmp.UserEnv(), 60000); }
    CliResult Read() { return Cli({"read", "--port", device, File("m.bin")}); }
    std::string File(const std::string& name) const { return (tmp.path() / name).string(); }
    ParameterBlock MachineImage() const {
        ParameterBlock b;
        b.bytes = sim->ParameterImage();
        return b;
    }

    CliTempDir tmp;
    std::unique_ptr<SimMachine> sim;
    std::string device;
};

TEST_F(CliFleet, LibraryVersionsAreAddedShownAndExported) {
    ParameterBlock image = MachineImage();
    WriteBytes(File("a.bin"), Bytes(image));
    const ConfigFileBytes sealed = BuildConfigFile(ConfigurationCopy(image.bytes), 1);
    WriteBytes(File("a.cfg"), std::string(sealed.begin(), sealed.end()));

    CliResult r = Cli({"library", "add", "Station-12", File("a.cfg"), "--note", "Band 3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "Station-12 v1 added")) << r.out;
    ASSERT_EQ(Cli({"library", "add", "Station-12", File("a.bin")}).exitCode, 0);

    r = Cli({"library", "list", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json list = Parse(r);
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0]["versions"].size(), 2u);
    EXPECT_EQ(list[0]["versions"][0]["note"], "Band 3");
    // An image is taken as its configuration: the same digest as the sealed file's.
    EXPECT_EQ(list[0]["versions"][0]["digest"], list[0]["versions"][1]["digest"]);

    r = Cli({"library", "show", "Station-12@1", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json shown = Parse(r);
    EXPECT_EQ(shown["version"], 1);
    EXPECT_EQ(shown["machineType"], "TVX18-4200");

    ASSERT_EQ(Cli({"library", "export", "Station-12", File("out.cfg")}).exitCode, 0);
    ConfigImage exported{};
    EXPECT_EQ(ReadConfigFile(File("out.cfg"), exported), 0) << "a sealed configuration file";
    EXPECT_EQ(exported, ConfigurationCopy(image.bytes));
    r = Cli({"library", "export", "Station-12", File("out.cfg")});
    EXPECT_EQ(r.exitCode, 1) << "an existing file stays without --yes";
}

TEST_F(CliFleet, BadInputIsRefusedAndNothingIsAdded) {
    ParameterBlock image = MachineImage();
    ConfigFileBytes broken = BuildConfigFile(image.bytes, 1);
    broken[100] ^= 1;
    WriteBytes(File("broken.cfg"), std::string(broken.begin(), broken.end()));
    WriteBytes(File("a.bin"), Bytes(image));
    ASSERT_EQ(Cli({"library", "add", "S", File("a.bin")}).exitCode, 0);

    struct Case {
        std::vector<std::string> args;
        int code;
        const char* says;
    };
    const Case cases[] = {
        {{"library", "add", "S", File("broken.cfg")}, 1, "seal"},
        {{"library", "add", "S", File("missing.cfg")}, 1, "missing.cfg"},
        {{"library", "add", "bad@name", File("a.bin")}, 2, "no usable name"},
        {{"library", "show", "Nothing"}, 1, "no approved configuration \"Nothing\""},
        {{"library", "show", "S@4"}, 1, "no version 4"},
        {{"library", "export", "S@2", File("x.cfg")}, 1, "no version 2"},
        {{"assign", "SIM0000001", "Nothing"}, 1, "Nothing"},
        {{"assign", "SIM0000001", "S@0"}, 2, "no configuration name"},
        {{"assign", "SIM0000001"}, 2, "usage"},
        {{"fleet", "--html", File("no/such/folder/f.html")}, 1, "cannot write"},
        {{"fleet", "--html", File("f.html"), "--template", File("a.bin")}, 1, "MACHINE"},
    };
    for (const Case& c : cases) {
        CliResult r = Cli(c.args);
        EXPECT_EQ(r.exitCode, c.code) << c.args[0] << " " << c.args[1] << "\n" << r.err;
        EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
    }
    EXPECT_EQ(Parse(Cli({"library", "list", "--json"}))[0]["versions"].size(), 1u);
    EXPECT_FALSE(fs::exists(File("x.cfg")));
    EXPECT_FALSE(fs::exists(File("f.html")));

    // An assignment to a serial the history has never seen is kept, and said.
    CliResult r = Cli({"assign", "NEVER-SEEN", "S"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "has not seen")) << r.err;
}

TEST_F(CliFleet, ReadSaysWhetherTheMachineHoldsItsApproval) {
    ParameterBlock approved = MachineImage();
    WriteBytes(File("a.bin"), Bytes(approved));
    approved.Step(1).SetTime(321);
    approved.bytes[ParameterBlock::kOffBuzzerLock] ^= 1;
    WriteBytes(File("b.bin"), Bytes(approved));
    ASSERT_EQ(Cli({"library", "add", "Station-12", File("a.bin")}).exitCode, 0);
    ASSERT_EQ(Cli({"library", "add", "Station-12", File("b.bin")}).exitCode, 0);

    CliResult r = Read();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(Contains(r.out, "Freigabe")) << "none assigned: " << r.out;

    ASSERT_EQ(Cli({"assign", "SIM0000001", "Station-12@1"}).exitCode, 0);
    r = Read();
    EXPECT_TRUE(Contains(r.out, "entspricht Freigabe Station-12 v1")) << r.out;

    ASSERT_EQ(Cli({"assign", "SIM0000001", "Station-12"}).exitCode, 0);
    // Assigned after the last read: not checked until the machine is read again.
    json fleet = Parse(Cli({"fleet", "--json"}));
    ASSERT_EQ(fleet.size(), 1u);
    EXPECT_EQ(fleet[0]["compliance"], "not checked");
    EXPECT_TRUE(fleet[0]["compliant"].is_null());

    r = Read();
    EXPECT_TRUE(Contains(r.out, "weicht ab von Freigabe Station-12 v2: 2 Felder")) << r.out;
    EXPECT_TRUE(Contains(r.out, "set1.step2.time")) << r.out;
    fleet = Parse(Cli({"fleet", "--json"}));
    EXPECT_EQ(fleet[0]["compliant"], false);
    const json last = Parse(Cli({"history", "--serial", "SIM0000001", "--json"}))[0];
    EXPECT_EQ(fleet[0]["lastSeenBy"], last["technician"]) << "who read it last";
    EXPECT_FALSE(fleet[0]["lastSeenBy"].is_null());
    EXPECT_EQ(fleet[0]["assigned"], "Station-12 v2");
    for (const char* key :
         {"serialNr", "machineType", "swVersion", "place", "lastSeen", "counter", "serviceDue",
          "calibrationDue", "calibrationDate", "assigned", "compliant"})
        EXPECT_TRUE(fleet[0].contains(key)) << key;
    EXPECT_EQ(fleet[0]["counter"], 1234);
    EXPECT_EQ(fleet[0]["calibrationDue"], true) << "the simulated machine was never calibrated";
    EXPECT_TRUE(fleet[0]["serviceDue"].is_null()) << "no service mark set";

    // --due keeps it (calibration due); the page marks it.
    EXPECT_EQ(Parse(Cli({"fleet", "--json", "--due"})).size(), 1u);
    r = Cli({"fleet", "--html", File("fleet.html")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string page = ReadBytes(File("fleet.html"));
    EXPECT_EQ(page.substr(0, 2), "\xFF\xFE") << "the shipped template's encoding";
    std::string ascii;
    for (size_t i = 2; i < page.size(); i += 2)
        ascii += page[i];
    EXPECT_TRUE(Contains(ascii, "<tr class=\"due deviating")) << ascii;
    EXPECT_TRUE(Contains(ascii, "SIM0000001"));
    EXPECT_FALSE(Contains(ascii, "###"));
}

} // namespace
