// Text files of any bytes: lines come out without line ends, the position never runs past the
// file, returning to a remembered position reads the same line again, and the text
// conversions round-trip.
#include "base/TextCodec.h"
#include "lang/UTF16File.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (IsValidUtf8(bytes) && Utf16ToUtf8(Utf8ToUtf16(bytes)) != bytes)
        __builtin_trap();
    (void)EightBitToUtf16(bytes);

    const int fd = memfd_create("text", 0);
    if (fd < 0)
        return 0;
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    CUTF16File f;
    if (!f.Open(path, CUTF16File::Mode::Read))
        __builtin_trap();
    std::vector<std::pair<uint64_t, std::u16string>> lines;
    uint64_t last = f.GetPosition();
    std::u16string line;
    for (;;) {
        const uint64_t at = f.GetPosition();
        if (!f.ReadString(line))
            break;
        if (line.find(u'\n') != line.npos || line.find(u'\r') != line.npos)
            __builtin_trap();
        if (f.GetPosition() <= at || f.GetPosition() > size)
            __builtin_trap();
        lines.emplace_back(at, line);
        last = f.GetPosition();
    }
    if (last > size)
        __builtin_trap();
    // Back to every tenth line: the same text again.
    for (size_t i = 0; i < lines.size(); i += 10) {
        if (!f.SeekAndReset(static_cast<int64_t>(lines[i].first)))
            __builtin_trap();
        if (!f.ReadString(line) || line != lines[i].second)
            __builtin_trap();
    }
    f.Close();
    close(fd);
    return 0;
}
