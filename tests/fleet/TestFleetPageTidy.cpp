// The printable fleet page from the shipped template, as tidy reads it: machines due, soon
// due, deviating, with old firmware, assigned but never seen, and a place name full of markup.
#include "fleet/FleetPage.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

FleetMachine Machine(const std::string& serial) {
    FleetMachine m;
    m.serialNr = serial;
    m.machineType = "QVK";
    m.swVersion = "V04.02.005";
    m.place = "Linie 4";
    m.lastSeenMs = 1765450000000;
    m.counter = 1200;
    m.service = ServiceState::Ok;
    m.calibrationDue = false;
    m.calDate = 27000000;
    m.imageEntryId = 1;
    return m;
}

struct TidyRun {
    int status = -1;
    std::string output;
};

TidyRun Tidy(const fs::path& file) {
    // -utf16le: the shipped template, and so the page, is UTF-16 with a byte-order mark.
    const std::string command = "tidy -errors -quiet -utf16le '" + file.string() + "' 2>&1";
    TidyRun r;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return r;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        r.output.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

TEST(FleetPageTidy, ShippedTemplateGivesAPageWithoutErrors) {
    ASSERT_EQ(std::system("command -v tidy >/dev/null"), 0)
        << "tidy missing: make deps installs it";
    char tmpl[] = "/tmp/kelvane-fleetpage-XXXXXX";
    ASSERT_TRUE(::mkdtemp(tmpl));
    const fs::path dir = tmpl;

    std::vector<FleetMachine> machines;
    machines.push_back(Machine("SIM0000001"));
    auto due = Machine("SIM0000002");
    due.service = ServiceState::Due;
    due.calibrationDue = true;
    due.calDate = 0;
    machines.push_back(due);
    auto soon = Machine("SIM0000003");
    soon.service = ServiceState::Soon;
    soon.firmwareOld = true;
    soon.newestFirmware = "V05.00.000";
    machines.push_back(soon);
    auto deviating = Machine("SIM0000004");
    deviating.place =
        "</td></tr><script>alert(\"x\")</script> & <b>Halle</b> \"Süd\" ' <!-- \x01\x1B\x7F";
    deviating.assigned = "Station-12 <v3> & \"neu\"";
    deviating.compliance = FleetCompliance::No;
    machines.push_back(deviating);
    FleetMachine unseen;
    unseen.serialNr = "<NEU>&1";
    unseen.assigned = "Station-12 v3";
    unseen.compliance = FleetCompliance::NotChecked;
    machines.push_back(unseen);

    FleetPageJob job;
    job.templatePath = KELVANE_BIN_DIR "/templates/Flotte.html";
    job.outputPath = (dir / "Flotte.html").string();
    job.title = "Flotte";
    job.date = "2026-12-11 14:05";
    job.filter = "alle Maschinen, Suche \"<x>&\"";
    std::string error;
    ASSERT_TRUE(WriteFleetPage(job, machines, error)) << error;

    const TidyRun r = Tidy(job.outputPath);
    // 0: clean, 1: warnings only, 2: errors.
    EXPECT_LE(r.status, 1) << r.output;
    EXPECT_EQ(r.output, "") << "tidy -errors reports: " << r.output;
    // The hostile place name is text on the page, not markup.
    std::ifstream in(job.outputPath, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::string ascii; // the UTF-16 page's ASCII characters
    const std::string raw = bytes.str();
    for (size_t i = 2; i + 1 < raw.size(); i += 2)
        if (raw[i + 1] == 0)
            ascii.push_back(raw[i]);
    EXPECT_EQ(ascii.find("<script>"), std::string::npos);
    EXPECT_NE(ascii.find("&lt;script&gt;"), std::string::npos);
    EXPECT_NE(ascii.find("&lt;NEU&gt;&amp;1"), std::string::npos);
    fs::remove_all(dir);
}

} // namespace
