// The port list: preference for our adapters, the stored index and opening the choice.
#include "link/PortSelection.h"
#include "link/ResultCodes.h"

#include <gtest/gtest.h>

namespace {

using List = std::vector<AdapterRecord>;

struct Case {
    const char* what;
    List adapters;
    std::vector<std::string> listed;
};

TEST(PortSelection, WhichAdaptersAreListed) {
    const Case cases[] = {
        {"ours preferred",
         {{"FT1", "/dev/ttyUSB0"}, {"NORK0001", "/dev/ttyUSB1"}},
         {"/dev/ttyUSB1"}},
        {"no prefix: all, in list order",
         {{"FT9", "/dev/ttyUSB3"}, {"nork", "/dev/ttyUSB1"}},
         {"/dev/ttyUSB3", "/dev/ttyUSB1"}},
        {"ours listed once",
         {{"NORKA", "/dev/ttyUSB0"}, {"NORKB", "/dev/TTYUSB0"}},
         {"/dev/ttyUSB0"}},
        {"fallback keeps duplicates",
         {{"A", "/dev/ttyUSB0"}, {"B", "/dev/ttyUSB0"}},
         {"/dev/ttyUSB0", "/dev/ttyUSB0"}},
        {"no device path", {{"NORK1", ""}, {"X", "/dev/ttyUSB4"}}, {"/dev/ttyUSB4"}},
        {"simulator with the others",
         {{"FT1", "/dev/ttyUSB0"}, {"NORKSIM1", "/dev/pts/3"}},
         {"/dev/pts/3"}},
        {"short serial", {{"NOR", "/dev/ttyUSB0"}}, {"/dev/ttyUSB0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PortSelection sel([&] { return c.adapters; });
        sel.SetReportCount(false);
        EXPECT_TRUE(sel.DiscoverAdapters());
        EXPECT_EQ(sel.Ports(), c.listed);
        EXPECT_EQ(sel.Selection(), 0);
        EXPECT_TRUE(sel.ListEnabled());
    }
}

TEST(PortSelection, ADeviceTheUserNamesIsListedAfterTheAdapters) {
    const Case cases[] = {
        {"beside our adapter", {{"NORK0001", "/dev/ttyUSB1"}}, {"/dev/ttyUSB1", "/dev/ttyS0"}},
        {"no adapter at all", {}, {"/dev/ttyS0"}},
        {"an adapter without serial number is the device", {{"", "/dev/ttyS0"}}, {"/dev/ttyS0"}},
        {"another adapter hidden by ours",
         {{"NORK0001", "/dev/ttyUSB1"}, {"FT1", "/dev/ttyS0"}},
         {"/dev/ttyUSB1", "/dev/ttyS0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PortSelection sel([&] { return c.adapters; });
        sel.SetReportCount(false);
        sel.SetExtraPort("/dev/ttyS0");
        EXPECT_TRUE(sel.DiscoverAdapters());
        EXPECT_EQ(sel.Ports(), c.listed);
        // Every discovery keeps it.
        EXPECT_TRUE(sel.DiscoverAdapters());
        EXPECT_EQ(sel.Ports(), c.listed);
    }
}

TEST(PortSelection, NoAdapter) {
    PortSelection sel([] { return List{}; });
    sel.SetReportCount(false);
    int changed = 0;
    sel.SetChangedCallback([&] { ++changed; });
    std::vector<std::string> messages;
    sel.SetMessageCallback([&](const std::string& m) { messages.push_back(m); });
    EXPECT_FALSE(sel.DiscoverAdapters());
    EXPECT_FALSE(sel.ListEnabled());
    EXPECT_EQ(sel.Selection(), -1);
    SerialPort port;
    EXPECT_EQ(sel.OpenSelectedPort(port), kResultRefused);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(changed, 2);
}

TEST(PortSelection, StoredIndexBeyondTheListFallsBackToTheFirst) {
    List two{{"A", "/dev/ttyUSB0"}, {"B", "/dev/ttyUSB1"}};
    std::vector<int> stored;
    PortSelection sel([&] { return two; });
    sel.SetReportCount(false);
    sel.SetStoreIndexCallback([&](int i) { stored.push_back(i); });
    sel.SetComPortIndex(2);
    sel.DiscoverAdapters();
    EXPECT_EQ(sel.Selection(), 1);
    EXPECT_EQ(sel.SelectedPort(), "/dev/ttyUSB1");
    for (int bad : {3, 0, -5}) {
        sel.SetComPortIndex(bad);
        sel.DiscoverAdapters();
        EXPECT_EQ(sel.ComPortIndex(), 1);
        EXPECT_EQ(sel.Selection(), 0);
    }
    EXPECT_TRUE(stored.empty()); // the settings keep their value until a port is opened
}

// Opening through a port that records what was asked of it.
struct RecordingPort : SerialPort {
    std::string opened;
    bool succeed = true;
    int rts = -1, dtr = -1;
    int Open(const std::string& name, int baud) override {
        opened = name + "@" + std::to_string(baud);
        return succeed ? 1 : 0;
    }
    int SetRts(bool on) override { return rts = on, 1; }
    int SetDtr(bool on) override { return dtr = on, 1; }
};

TEST(PortSelection, OpeningTheChosenEntryStoresItsIndexFirst) {
    List two{{"A", "/dev/ttyUSB0"}, {"B", "/dev/ttyUSB1"}};
    int discoveries = 0;
    PortSelection sel([&] { return ++discoveries, two; });
    sel.SetReportCount(false);
    std::vector<std::string> events;
    RecordingPort port;
    sel.SetStoreIndexCallback([&](int i) { events.push_back("store " + std::to_string(i)); });

    // Nothing discovered yet: discovery runs first.
    EXPECT_EQ(sel.OpenSelectedPort(port), kResultOk);
    EXPECT_EQ(discoveries, 1);
    EXPECT_EQ(port.opened, "/dev/ttyUSB0@9600");
    EXPECT_EQ(port.rts, 0);
    EXPECT_EQ(port.dtr, 0);
    EXPECT_TRUE(events.empty());

    sel.Select(1);
    EXPECT_EQ(sel.OpenSelectedPort(port), kResultOk);
    EXPECT_EQ(events, std::vector<std::string>{"store 2"});
    EXPECT_EQ(sel.ComPortIndex(), 2);
    EXPECT_EQ(port.opened, "/dev/ttyUSB1@9600");
    EXPECT_EQ(discoveries, 2); // every opening looks at the adapters again
}

TEST(PortSelection, AnAdapterPluggedInAgainUnderANewNameIsFoundAtTheNextCommand) {
    List attached{{"NORK1", "/dev/ttyUSB0"}, {"NORK2", "/dev/ttyUSB1"}};
    PortSelection sel([&] { return attached; });
    sel.SetReportCount(false);
    std::vector<int> stored;
    sel.SetStoreIndexCallback([&](int i) { stored.push_back(i); });
    RecordingPort port;
    sel.DiscoverAdapters();
    sel.Select(1);
    ASSERT_EQ(sel.OpenSelectedPort(port), kResultOk);
    EXPECT_EQ(port.opened, "/dev/ttyUSB1@9600");
    // Pulled and plugged in again: the kernel gives it the next free name.
    attached = {{"NORK1", "/dev/ttyUSB0"}, {"NORK2", "/dev/ttyUSB2"}};
    ASSERT_EQ(sel.OpenSelectedPort(port), kResultOk);
    EXPECT_EQ(port.opened, "/dev/ttyUSB2@9600");
    EXPECT_EQ(sel.Ports(), (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB2"}));
    EXPECT_EQ(stored, std::vector<int>{2}); // the list position, stored once
}

TEST(PortSelection, FailedOpenShowsTheMessageAndRediscovers) {
    List one{{"NORK1", "/dev/ttyUSB0"}};
    int discoveries = 0;
    PortSelection sel([&] { return ++discoveries, one; });
    sel.SetReportCount(false);
    std::vector<std::string> messages;
    sel.SetMessageCallback([&](const std::string& m) { messages.push_back(m); });
    RecordingPort port;
    port.succeed = false;
    sel.DiscoverAdapters();
    EXPECT_EQ(sel.OpenSelectedPort(port), kResultPortOpenFailed);
    EXPECT_EQ(messages, std::vector<std::string>{"com-port not opend"});
    EXPECT_EQ(discoveries, 3); // before the opening and after its failure
}

TEST(PortSelection, ReportsTheCountOnStandardOutput) {
    PortSelection sel([] { return List{{"A", "/dev/a"}, {"B", "/dev/b"}}; });
    testing::internal::CaptureStdout();
    sel.DiscoverAdapters();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Number of devices is 2\n");
}

} // namespace
