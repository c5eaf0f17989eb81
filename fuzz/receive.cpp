// fuzz_receive: whatever the line brings, the link ends in a result code. The input is the
// machine's side of the conversation: for each write of the link, a length L (two bytes, least
// significant first) and L bytes that then arrive on the line (garbage after the wake-up, short or
// wrong replies, ...).
#include "link/QVX.h"
#include "link/SerialPort.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace {

class ScriptedLine : public ISerialPort {
public:
    ScriptedLine(const uint8_t* data, size_t size) : data(data), size(size) {}

    int Open(const std::string&, int) override { return 1; }
    int Close() override { return 1; }
    bool IsOpen() const override { return true; }
    bool SetBaudRate(int) override { return true; }
    int SetRts(bool) override { return 1; }
    int SetDtr(bool) override { return 1; }
    int WriteByte(uint8_t b) override { return Write(&b, 1); }
    int Write(const uint8_t*, size_t count) override {
        if (pos + 1 < size) {
            size_t n = size_t(data[pos]) | size_t(data[pos + 1]) << 8;
            pos += 2;
            n = std::min(n, size - pos);
            input.insert(input.end(), data + pos, data + pos + n);
            pos += n;
        }
        return int(count);
    }
    int Read(uint8_t* buffer, size_t max) override {
        size_t n = 0;
        while (n < max && !input.empty()) {
            buffer[n++] = input.front();
            input.pop_front();
        }
        return int(n);
    }
    void Flush() override { input.clear(); }
    // No more bytes will come: the wait is over at once.
    bool WaitReadable(Clock::time_point) override { return !input.empty(); }

private:
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    std::deque<uint8_t> input;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ScriptedLine line(data, size);
    cQVX_18 link(&line, KELVANE_SOURCE_DIR "/data/");
    link.SetPauseFunction([](int) {});
    if (link.Connect() != 0)
        return 0;
    std::array<uint8_t, 512> block{};
    uint32_t counter = 0;
    int r = link.ReadParameterBlock(block);
    link.ReadFasteningCounter(counter);
    if (r == 0)
        link.WriteParameterBlock(block);
    std::vector<uint8_t> area(link.GetMemorySize(), 0xA5);
    link.WriteAreaAndBlock(r == 0 ? &block : nullptr, area);
    return 0;
}
