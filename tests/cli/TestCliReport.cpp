// kelvane-cli report: the window's settings and what a file has to say.
#include "app/Folders.h"
#include "base/TextCodec.h"
#include "sim/SimMachine.h"
#include "tests/cli/CliRun.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::string ReportText(const fs::path& file) {
    const std::string bytes = ReadBytes(file);
    if (bytes.size() < 2 || bytes.substr(0, 2) != "\xFF\xFE")
        return "(not UTF-16LE: " + std::to_string(bytes.size()) + " bytes)";
    std::u16string units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                              static_cast<uint8_t>(bytes[i + 1]) << 8));
    return Utf16ToUtf8(units);
}

} // namespace

TEST(CliReport, TakesTemplateAndLanguageFromTheSettingsAndHasNoCounterForAFile) {
    CliTempDir tmp;
    const auto env = tmp.UserEnv();
    const fs::path data = fs::path(env.at("XDG_DATA_HOME")) / "Nork" / "TorvexV4";
    fs::create_directories(data);
    const fs::path mine = tmp.path() / "mine.html";
    WriteBytes(mine, "###HD_MACHINETYPE_LABEL###|###SVD_FASTENING_COUNTER###|"
                     "###SVD_FASTENING_COUNTER_DIFF###|end\n");
    WriteBytes(data / kDefaultSettingsName,
               "[SETTINGS]\nSPRACHE=english\nTEMPLATE=" + mine.string() + "\n");
    const auto image = SimMachine::DefaultImage();
    WriteBytes(tmp.path() / "m.bin", std::string(image.begin(), image.end()));

    const fs::path out = tmp.path() / "out";
    CliResult r = RunCli({"report", "--out", out.string(), (tmp.path() / "m.bin").string()}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReportText(out / "Torvex.html"), "Machine type|||end\n");

    // The command line still wins over the settings.
    const fs::path other = tmp.path() / "other.html";
    WriteBytes(other, "###HD_MACHINETYPE_LABEL###\n");
    r = RunCli({"report", "--language", "german", "--template", other.string(), "--out",
                out.string(), (tmp.path() / "m.bin").string()},
               env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReportText(out / "Torvex.html"), "Maschinentyp");
}

TEST(CliReport, AnInputThatIsNoImageWritesNothing) {
    CliTempDir tmp;
    const auto env = tmp.UserEnv();
    const fs::path fifo = tmp.path() / "fifo.bin", dir = tmp.path() / "dir.bin",
                   empty = tmp.path() / "empty.bin", huge = tmp.path() / "huge.bin";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(dir);
    WriteBytes(empty, "");
    fs::resize_file((WriteBytes(huge, "x"), huge), std::uintmax_t{1} << 32);
    const fs::path out = tmp.path() / "out";
    for (const fs::path& in : {fifo, dir, fs::path("/dev/null"), empty, huge}) {
        CliResult r = RunCli({"report", "--out", out.string(), in.string()}, env, 20000);
        EXPECT_EQ(r.exitCode, 1) << in;
        EXPECT_FALSE(r.err.empty()) << in;
        EXPECT_FALSE(fs::exists(out / "Torvex.html")) << in;
    }
}
