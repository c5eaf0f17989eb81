// Intel HEX reader on arbitrary bytes: every input ends with a result code and no access
// outside the image or the record buffer (the image is an exact-size heap block for ASan).
#include "link/IntHex.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int kResults[] = {0, -1, -2, -3, -4, -5};
    auto check = [](int r) {
        for (int k : kResults) {
            if (r == k) {
                return;
            }
        }
        std::abort();
    };
    {
        // The loader's window.
        std::vector<uint8_t> image(0x4000, 0xFF);
        cIntHex hex;
        uint32_t count = 0, dropped = 0;
        check(hex.LoadFromMemory(data, size, 0x20000200, image.data(), image.size(), count,
                                 &dropped));
    }
    {
        // A tiny window at 0 makes most records straddle its end.
        std::vector<uint8_t> image(7, 0xFF);
        cIntHex hex;
        uint32_t count = 0;
        check(hex.LoadFromMemory(data, size, 0, image.data(), image.size(), count));
    }
    if (size > 0) {
        // ReadRecord with a caller's maximum below 255 and a buffer of exactly that size.
        const int max = data[0];
        std::vector<uint8_t> record(static_cast<size_t>(max) + 1);
        cIntHex hex;
        cIntHex::Source source(data + 1, size - 1);
        int count = 0, type = 0;
        uint32_t base = 0, address = 0;
        for (int i = 0; i < 64; ++i) {
            const int r = hex.ReadRecord(source, max, record.data(), count, base, address, type);
            if (count > max) {
                std::abort();
            }
            if (r != 0) {
                break;
            }
        }
    }
    return 0;
}
