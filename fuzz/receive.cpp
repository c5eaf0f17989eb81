// fuzz_receive: whatever the line brings, a read and the road of every write end in a result
// code, and nothing is written without its read-back. The input is the machine's side of the
// conversation: for each write of the link, a length L (two bytes, least significant first) and
// L bytes that then arrive on the line (garbage after the wake-up, short or wrong replies, ...).
#include "app/DialogMain.h"
#include "app/WriteRoad.h"
#include "fuzz/ScriptedLine.h"
#include "link/QVX.h"
#include "link/SerialPort.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace {

// Every question is answered "go on"; nothing is shown.
class SilentUi : public cUserInterface {
public:
    Answer ShowMessage(const std::string&, Buttons buttons, Icon) override {
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    bool AskPassword(std::string&) override { return false; }
    bool AskPasswordChange(PasswordChange&) override { return false; }
    bool AskOpenFile(const FileRequest&, std::string&) override { return false; }
    bool AskSaveFile(const FileRequest&, std::string&) override { return false; }
    void ShowStatus(const std::string&) override {}
    void ShowProgress(bool) override {}
    void SetProgress(int) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ScriptedLine line(data, size);
    SilentUi ui;
    CNullSheet sheet;
    FolderSet folders;
    folders.appFolder = KELVANE_SOURCE_DIR "/data";
    cDialogMain c(ui, sheet, folders, [] {
        return std::vector<AdapterRecord>{{"", "/dev/fuzz-line"}};
    });
    c.UseLine(line);
    c.SetPauseFunction([](int) {});
    // The line is what is fuzzed, not the check of the image.
    c.SetWriteCheck([](const ParameterBlock&, const ParameterBlock&, const MachineCatalog&,
                       uint16_t) { return std::vector<WriteFinding>{}; });
    c.DiscoverAdapters();
    c.Link();
    ParameterBlock before;
    const int r = c.ReadFromMachine(before);
    cWriteRoad road(c);
    if (r == 0) {
        BlockWrite block;
        block.before = before;
        block.outgoing = before;
        road.WriteBlock(block);
    }
    FirmwareWrite firmware;
    firmware.recovery = r != 0;
    firmware.before = before;
    firmware.imageBlock = before;
    firmware.image.assign(c.Link().GetMemorySize(), 0xA5);
    road.WriteFirmware(firmware);
    return 0;
}
