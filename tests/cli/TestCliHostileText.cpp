// A machine's text is data. Whatever bytes its identity holds (ESC, BEL, a byte that is not
// UTF-8, quotes, backslash, C1 controls), no output of kelvane-cli hands a control character to
// the terminal, every JSON form parses back to the machine's text, the report carries no raw
// control character, and that machine hides no other one.
#include "base/TextCodec.h"
#include "model/ParameterBlock.h"
#include "sim/SimMachine.h"
#include "tests/cli/CliRun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <memory>
#include <set>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// ESC [2J (clear screen), BEL, 0xFF (no UTF-8), quote, backslash, NEL and CSI (C1).
const std::string kHostile("E\x1b[2J\x07\xff\"\\\x85\x9b", 11);
// As show writes it: byte 0xFF is the Latin-1 character it stands for, as on the pages.
const std::string kHostileShown = "E\\x1B[2J\\x07\xc3\xbf\\x22\\x5C\\x85\\x9B";

// Valid UTF-8 without a control character (line feeds allowed where lines are).
::testing::AssertionResult SafeForATerminal(const std::string& s, bool lines = true) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if ((c < 0x20 && !(lines && c == '\n')) || c == 0x7F)
                return ::testing::AssertionFailure() << "control byte at " << i << " in\n" << s;
            ++i;
            continue;
        }
        const size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        if (n == 0 || i + n > s.size())
            return ::testing::AssertionFailure() << "not UTF-8 at " << i << " in\n" << s;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return ::testing::AssertionFailure() << "not UTF-8 at " << i << " in\n" << s;
        if (c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0)
            return ::testing::AssertionFailure() << "C1 control at " << i << " in\n" << s;
        i += n;
    }
    return ::testing::AssertionSuccess();
}

json Parsed(const CliResult& r) {
    EXPECT_TRUE(SafeForATerminal(r.out));
    json j = json::parse(r.out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << r.out;
    return j;
}

std::string Latin1(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void Put(ParameterBlock& b, size_t offset, size_t width, const std::string& bytes) {
    std::memset(b.bytes.data() + offset, 0, width);
    std::memcpy(b.bytes.data() + offset, bytes.data(), std::min(width, bytes.size()));
}

class CliHostileText : public ::testing::Test {
public:
    void TearDown() override {
        if (sim)
            sim->Stop();
    }
    void Start(const ParameterBlock& image) {
        if (sim)
            sim->Stop();
        SimOptions o;
        o.pacing = false;
        o.announce = false;
        o.image = image.bytes;
        sim = std::make_unique<SimMachine>(std::move(o));
        device = sim->Start();
        ASSERT_FALSE(device.empty()) << sim->LastError();
    }
    CliResult Cli(std::vector<std::string> args) { return RunCli(args, tmp.UserEnv(), 60000); }
    CliResult Machine(const std::string& command, std::vector<std::string> args) {
        args.insert(args.begin(), {command, "--port", device});
        return Cli(args);
    }
    std::string File(const std::string& name) const { return (tmp.path() / name).string(); }

    CliTempDir tmp;
    std::unique_ptr<SimMachine> sim;
    std::string device;
};

} // namespace

TEST_F(CliHostileText, NoOutputHandsTheMachinesBytesToTheTerminal) {
    ParameterBlock hostile;
    hostile.bytes = SimMachine::DefaultImage();
    Put(hostile, ParameterBlock::kOffSerialNr, ParameterBlock::kLenSerialNr, kHostile);
    Put(hostile, ParameterBlock::kOffElAssembly, ParameterBlock::kLenElAssembly, kHostile);
    Put(hostile, ParameterBlock::kOffPlace, ParameterBlock::kLenPlace, "P\x1b]0;x\x07");
    ParameterBlock plain;
    plain.bytes = SimMachine::DefaultImage();

    // The hostile machine is read and written (its name for itself changed), then a plain one
    // is read.
    Start(hostile);
    ASSERT_EQ(Machine("read", {File("hostile.bin")}).exitCode, 0);
    ParameterBlock edited = hostile;
    Put(edited, ParameterBlock::kOffToolId, ParameterBlock::kLenToolId, kHostile);
    WriteBytes(File("edited.bin"), std::string(edited.bytes.begin(), edited.bytes.end()));
    CliResult r =
        Machine("write", {"--password", SimMachine::kDefaultPassword, File("edited.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(SafeForATerminal(r.out));
    Start(plain);
    ASSERT_EQ(Machine("read", {File("plain.bin")}).exitCode, 0);

    // history: both machines, the hostile one escaped by the rule show follows.
    r = Cli({"history"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(SafeForATerminal(r.out));
    EXPECT_NE(r.out.find("SIM0000001"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(kHostileShown), std::string::npos) << r.out;

    r = Cli({"history", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json machines = Parsed(r);
    ASSERT_EQ(machines.size(), 2u) << r.out;
    std::set<std::string> serials;
    for (const json& m : machines)
        serials.insert(m["serialNr"].get<std::string>());
    EXPECT_EQ(serials, (std::set<std::string>{"SIM0000001", Latin1(kHostile)}));

    // history --serial, plain and JSON, and history show of every entry of that machine.
    r = Cli({"history", "--serial", kHostile});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(SafeForATerminal(r.out));
    r = Cli({"history", "--serial", kHostile, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json entries = Parsed(r);
    ASSERT_GE(entries.size(), 2u) << r.out;
    bool sawToolId = false;
    for (const json& e : entries) {
        EXPECT_EQ(e["serialNr"], Latin1(kHostile));
        const std::string id = std::to_string(e["id"].get<int64_t>());
        r = Cli({"history", "show", id});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(SafeForATerminal(r.out));
        EXPECT_NE(r.out.find("serialNr = " + kHostileShown), std::string::npos) << r.out;
        r = Cli({"history", "show", id, "--json"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const json shown = Parsed(r);
        EXPECT_EQ(shown["elAssembly"], Latin1(kHostile));
        for (const json& d : shown["differences"])
            if (d["field"] == "toolId") {
                sawToolId = true;
                EXPECT_EQ(d["new"], Latin1(kHostile));
                EXPECT_EQ(d["newText"], "\"" + kHostileShown + "\"");
            }
    }
    EXPECT_TRUE(sawToolId) << "the write's entry names the changed toolId";

    // show and diff of the images, plain and JSON.
    r = Cli({"show", File("hostile.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(SafeForATerminal(r.out));
    EXPECT_NE(r.out.find("place = \"P\\x1B]0;x\\x07\""), std::string::npos) << r.out;
    r = Cli({"show", File("hostile.bin"), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Parsed(r)["fields"]["serialNr"], Latin1(kHostile));
    r = Cli({"diff", File("plain.bin"), File("hostile.bin")});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(SafeForATerminal(r.out));
    EXPECT_NE(r.out.find("serialNr: \"SIM0000001\" -> \"" + kHostileShown + "\""),
              std::string::npos)
        << r.out;
    r = Cli({"diff", File("plain.bin"), File("hostile.bin"), "--json"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const json d = Parsed(r);
    ASSERT_GE(d["differences"].size(), 3u) << r.out;
    EXPECT_EQ(d["differences"][0]["field"], "elAssembly");
    EXPECT_EQ(d["differences"][0]["new"], Latin1(kHostile));

    // The report: the machine's text by the same rule, no raw control character in the HTML.
    const fs::path out = tmp.path() / "report";
    const fs::path tmpl = tmp.path() / "t.html";
    WriteBytes(tmpl, "<p>###HD_SERIALNR###</p>\n<p>###SVD_EL_ASSEMBLY###</p>\n"
                     "<p>###SVD_PLACE###</p>\n");
    r = Cli({"report", "--template", tmpl.string(), "--out", out.string(), File("hostile.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string bytes = ReadBytes(out / "Torvex.html");
    ASSERT_GE(bytes.size(), 2u);
    std::u16string units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                              static_cast<uint8_t>(bytes[i + 1]) << 8));
    const std::string html = Utf16ToUtf8(units);
    EXPECT_TRUE(SafeForATerminal(html));
    EXPECT_NE(html.find("<p>" + kHostileShown + "</p>"), std::string::npos) << html;
}
