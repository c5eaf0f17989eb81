// An adapter pulled in the middle of a command, plugged in again under a new name, and one left
// at its default latency timer.
#include "tests/app/ControllerFixture.h"

#include "link/AdapterDiscovery.h"
#include "link/SerialPort.h"

#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kGone = PortProblemText(PortProblem::Gone);

TEST_F(ControllerTest, AnAdapterPulledMidCommandEndsItAsGoneAndAgainPluggedInIsFound) {
    struct Case {
        const char* what;
        std::optional<uint32_t> address; // the read or data frame the adapter is pulled at
        bool write;
        std::string message;
    } cases[] = {
        {"block read", cQVX_18::kBlockAreaAddress, false, "Timeout\n" + kGone},
        // The counter comes last: a read that lost it is no read with a counter of 0.
        {"counter read", std::nullopt, false, "Timeout\n" + kGone},
        {"write", std::nullopt, true, "Fehler bei Datenübertagung\n" + kGone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartMachine(Options());
        ReadMachine();
        const ControllerState before = ControllerState::Of(*controller);
        const std::string oldDevice = devicePath;
        if (c.write) {
            controller->PageImage().Step(0).SetSpeed(2222);
            controller->MarkChanged();
            ui.passwords.push_back(std::string(SimMachine::kDefaultPassword));
            // The second data frame: no read asks for that address.
            sim->SetFault(SimFault::Unplug, 0, cQVX_18::kBlockAreaAddress + 256);
            EXPECT_FALSE(controller->OnWriteToMachine());
        } else {
            sim->SetFault(SimFault::Unplug, c.address ? 1 : 0,
                          c.address ? c.address : std::optional(sim->EmulationStart()));
            EXPECT_FALSE(controller->OnReadFromMachine());
        }
        // Pulled in the middle of a reply, the line may end as a time-out or as a short
        // reply, as the hang-up and the last bytes race; either way the reason is named.
        const auto shown = ui.TakeMessages();
        ASSERT_EQ(shown.size(), 1u) << ::testing::PrintToString(shown);
        if (c.write)
            EXPECT_EQ(shown[0], c.message);
        else
            EXPECT_TRUE(shown[0] == c.message || shown[0] == kGone) << shown[0];
        EXPECT_EQ(ui.statusTexts.back(), kGone);
        EXPECT_FALSE(controller->PortOpen());
        if (!c.write) {
            const ControllerState after = ControllerState::Of(*controller);
            EXPECT_EQ(after, before);
        }
        // Plugged in again: another device name (the old one is taken meanwhile), found by the
        // next command at once.
        const int taken = ::posix_openpt(O_RDWR | O_NOCTTY);
        StartMachine(Options());
        ::close(taken);
        ASSERT_NE(devicePath, oldDevice);
        EXPECT_TRUE(controller->OnReadFromMachine()) << ::testing::PrintToString(ui.TakeMessages());
        EXPECT_EQ(controller->Ports().SelectedPort(), devicePath);
    }
}

TEST_F(ControllerTest, ASlowLatencyTimerIsNamedOnceWithItsRemedy) {
    // A fake sysfs: the machine's tty with an FTDI chip's default latency timer.
    const fs::path tty = temp.path() / "sys" / "class" / "tty";
    const fs::path entry = tty / fs::path(devicePath).filename();
    fs::create_directories(entry / "device");
    std::ofstream(entry / "device" / "latency_timer") << "16\n";
    controller->Ports().SetSysfsPaths({tty.string(), "/dev", ""});

    ReadMachine();
    ReadMachine();
    int named = 0;
    for (const auto& s : ui.statusTexts)
        if (s.find("16 ms") != std::string::npos && s.find("60-kelvane.rules") != std::string::npos)
            ++named;
    EXPECT_EQ(named, 1);

    // Tuned to 1 ms: nothing to say.
    std::ofstream(entry / "device" / "latency_timer") << "1\n";
    StartMachine(Options());
    ui.statusTexts.clear();
    const fs::path tuned = tty / fs::path(devicePath).filename();
    fs::create_directories(tuned / "device");
    std::ofstream(tuned / "device" / "latency_timer") << "1\n";
    ReadMachine();
    for (const auto& s : ui.statusTexts)
        EXPECT_EQ(s.find("Latenz"), std::string::npos) << s;
}

} // namespace
