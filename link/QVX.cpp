#include "link/QVX.h"

#include <filesystem>

#include "base/FileIo.h"
#include "base/LittleEndian.h"
#include "link/IntHex.h"
#include "link/ResultCodes.h"
#include "link/WriteStop.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <new>
#include <thread>
#include <unistd.h>

namespace {

constexpr uint8_t kCmdBeginWrite = 0x00;
constexpr uint8_t kCmdRead = 0x04;
constexpr size_t kCommandFrameSize = 16;
constexpr size_t kDataFrameSize = 264;
constexpr size_t kDataPerFrame = 256;
// Bounds a drain so a line that keeps talking cannot hold the link.
constexpr size_t kDrainLimit = 100000;

std::string ExecutableFolder() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "./";
    std::string path(buf, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}

// A short write ends the exchange at once with the port's reason, instead of as the time-out
// of an answer to bytes that never left.
bool SendAll(ISerialPort* port, const uint8_t* data, size_t count) {
    return port->Write(data, count) == static_cast<int>(count);
}

void PutBe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

uint8_t Xor(const uint8_t* p, size_t from, size_t to) {
    uint8_t x = 0;
    for (size_t i = from; i <= to; ++i)
        x ^= p[i];
    return x;
}

} // namespace

cQVX_18::cQVX_18(ISerialPort* port, std::string folder)
    : port(port), programFolder(folder.empty() ? ExecutableFolder() : std::move(folder)) {
    if (programFolder.back() != '/')
        programFolder += '/';
}

std::string cQVX_18::LoaderPath() const {
    return programFolder + "BL.hex";
}

std::span<const uint8_t> cQVX_18::EmulationArea() const {
    if (!emulationBuffer)
        return {};
    return {emulationBuffer->data(), emulationBuffer->size()};
}

void cQVX_18::Pause(int milliseconds) {
    if (pause)
        pause(milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Waits with poll() until the whole-second clock has advanced by 2 from the start, or from
// the last byte that came: a 4096-byte emulation area needs more than 2 s at 19200 baud, and
// would otherwise never arrive on a slow line. A line that trickles is still bounded, by the
// time the bytes would take at half the slowest speed.
int cQVX_18::Receive(uint8_t* buffer, size_t count, size_t& stored) {
    stored = 0;
    const auto limit =
        ISerialPort::WholeSecondsFromNow(2 + int(std::min<size_t>(count / 960, 3600)));
    auto deadline = ISerialPort::WholeSecondsFromNow(2);
    while (stored < count) {
        int n = port->Read(buffer + stored, count - stored);
        if (n > 0) {
            stored += std::min(static_cast<size_t>(n), count - stored);
            if (stored == count)
                break;
            deadline = std::min(limit, ISerialPort::WholeSecondsFromNow(2));
        }
        // Read took all that was queued: wait for the rest rather than asking again at once.
        if (ISerialPort::Clock::now() >= deadline || !port->WaitQueued(deadline, count - stored))
            return kResultTimeout;
    }
    return kResultOk;
}

void cQVX_18::Drain() {
    uint8_t sink[256];
    size_t total = 0;
    while (total < kDrainLimit) {
        int n = port->Read(sink, sizeof sink);
        if (n <= 0)
            break;
        total += static_cast<size_t>(n);
    }
}

int cQVX_18::ReceiveAck(bool loaderAck) {
    uint8_t b = 0;
    size_t got = 0;
    int r = Receive(&b, 1, got);
    if (r != kResultOk)
        return r;
    if (loaderAck)
        return b == 0x01 ? kResultOk : kResultRefused;
    return (b == 'U' || b == 'P') ? kResultOk : kResultRefused;
}

int cQVX_18::Connect() {
    connected = 0;
    port->SetBaudRate(19200);
    Drain();

    port->SetDtr(true);
    const uint8_t wake = 0xFF;
    bool sent = SendAll(port, &wake, 1);
    port->SetDtr(true);
    Pause(20);
    const uint8_t hello[2] = {0x00, 0xED};
    sent = sent && SendAll(port, hello, 2);
    Pause(50);

    uint8_t answer[3] = {};
    size_t got = 0;
    int result = sent ? Receive(answer, 3, got) : kResultPortFailed;
    uint16_t n = 0;
    if (result == kResultOk && answer[0] == 0xA2)
        n = static_cast<uint16_t>(answer[1] << 8 | answer[2]);
    if (n > 40) {
        const unsigned divisor = (230400u / 19200u) * 1024u / (unsigned(n) + 1u);
        const uint8_t d[2] = {uint8_t(divisor >> 8), uint8_t(divisor)};
        const uint8_t go = 0xF0;
        if (!SendAll(port, d, 2)) {
            result = kResultPortFailed;
        } else {
            Pause(20);
            port->SetBaudRate(230400);
            if (!SendAll(port, &go, 1))
                result = kResultPortFailed;
        }
    }
    Pause(30);
    Drain();
    port->Flush();
    ReadStep(20);

    std::string path = LoaderPath();
    if (result == kResultOk) {
        result = DownloadLoader(path);
        if (result == kResultOk) {
            connected = 1;
            ReadStep(60);
        }
    }
    return result;
}

int cQVX_18::DownloadLoader(const std::string& path) {
    std::vector<uint8_t> image;
    try {
        image.assign(kLoaderLimit, 0xFF);
    } catch (const std::bad_alloc&) {
        return kResultRefused;
    }
    cIntHex hex;
    uint32_t size = 0, dropped = 0;
    // A loader reaching outside its window would run incomplete: refuse it whole.
    loaderProblem = kLoaderFine;
    if (hex.Load(path, kLoaderAddress, image.data(), kLoaderLimit, size, &dropped) != 0 ||
        dropped != 0 || size == 0 || size > kLoaderLimit) {
        std::error_code ec;
        loaderProblem = std::filesystem::is_regular_file(path, ec) ? kLoaderBroken : kLoaderMissing;
        return kResultRefused;
    }

    uint8_t sz[4];
    StoreLe32(sz, size);
    if (!SendAll(port, sz, 4))
        return kResultPortFailed;
    Pause(50);
    int r = ReceiveAck(true);
    if (r != kResultOk)
        return r;
    if (!SendAll(port, image.data(), size))
        return kResultPortFailed;
    r = ReceiveAck(true);
    if (r != kResultOk)
        return r;
    return QueryLayout();
}

uint32_t cQVX_18::MemorySizeForCode(uint32_t code, uint32_t current) {
    switch (code) {
    case 0x3000:
        return 0x2000;
    case 0x5000:
        return 0x4000;
    case 0x9000:
        return 0x8000;
    case 0x11000:
        return 0x10000;
    case 0x21000:
        return 0x20000;
    case 0x33000:
        return 0x32000;
    default:
        return current;
    }
}

int cQVX_18::QueryLayout() {
    uint8_t info[32];
    int r = ReadMemory(kInfoAddress, sizeof info, info);
    if (r != kResultOk)
        return r;
    memorySize = MemorySizeForCode(LoadLe32(info + 24), memorySize);

    if (!emulationBuffer) {
        const uint32_t pointerAddress = memorySize + 0x10000E00u;
        uint8_t p[2];
        if ((r = ReadMemory(pointerAddress, 2, p)) != kResultOk)
            return r;
        const uint32_t pointer = (p[0] == 0x00 && p[1] == 0xFC) ? 0u : uint32_t(p[0]) << 8 | p[1];
        uint8_t start[4], length[2];
        if ((r = ReadMemory(pointerAddress + pointer, 4, start)) != kResultOk)
            return r;
        emulationStart = LoadLe32(start);
        if ((r = ReadMemory(pointerAddress + pointer + 4, 2, length)) != kResultOk)
            return r;
        emulationLength = LoadLe16(length);
        try {
            emulationBuffer.emplace(emulationLength, uint8_t(0));
        } catch (const std::bad_alloc&) {
            return kResultRefused;
        }
    }

    uint8_t b[2];
    if ((r = ReadMemory(kBlockAreaAddress, 2, b)) != kResultOk)
        return r;
    blockOffset = (b[0] == 0x20 && b[1] == 0x01) ? 0 : static_cast<uint16_t>(b[0] << 8 | b[1]);
    blockAddress = kBlockAreaAddress + blockOffset;
    areaEnd = memorySize + kApplicationAddress;
    return kResultOk;
}

int cQVX_18::SendCommand(uint8_t code, uint32_t address, uint32_t length) {
    uint8_t f[kCommandFrameSize] = {};
    f[1] = code;
    PutBe32(f + 2, address);
    PutBe32(f + 6, length);
    f[15] = Xor(f, 1, 14);
    if (!SendAll(port, f, sizeof f))
        return kResultPortFailed;
    return ReceiveAck(false);
}

int cQVX_18::SendEnd() {
    uint8_t f[kCommandFrameSize] = {};
    f[0] = 0x02;
    if (!SendAll(port, f, sizeof f))
        return kResultPortFailed;
    return ReceiveAck(false);
}

int cQVX_18::WriteDataBlock(uint32_t address, uint32_t count, const uint8_t* data) {
    if (address % 4 != 0 || count == 0)
        return kResultRefused;
    if (WriteStop::requested)
        return kResultStopped;
    uint8_t f[kDataFrameSize] = {};
    f[0] = 0x01;
    f[1] = 0x01;
    std::copy_n(data, std::min<size_t>(count, kDataPerFrame), f + 2);
    f[263] = Xor(f, 1, 262);
    if (!SendAll(port, f, sizeof f))
        return kResultPortFailed;
    return ReceiveAck(false);
}

int cQVX_18::ReadMemory(uint32_t address, uint32_t count, uint8_t* destination) {
    std::vector<uint8_t> reply;
    try {
        reply.resize(size_t(count) + 3);
    } catch (const std::bad_alloc&) {
        return kResultRefused;
    }
    int r = SendCommand(kCmdRead, address, count);
    if (r != kResultOk)
        return r;
    size_t got = 0;
    if ((r = Receive(reply.data(), reply.size(), got)) != kResultOk)
        return r;
    if (Xor(reply.data(), 1, size_t(count) + 1) != reply[size_t(count) + 2])
        return kResultChecksum;
    std::copy_n(reply.begin() + 2, count, destination);
    return kResultOk;
}

int cQVX_18::ReadParameterBlock(Block destination) {
    // The block would reach past the area read.
    if (blockOffset > kMaxBlockOffset)
        return kResultRefused;
    int r = ReadMemory(kBlockAreaAddress, kBlockAreaSize, areaCache.data());
    if (r != kResultOk)
        return r;
    ReadStep(80);
    areaCacheValid = true;
    std::copy_n(areaCache.begin() + blockOffset, destination.size(), destination.begin());
    return kResultOk;
}

int cQVX_18::WriteBlockArea(ConstBlock source, int& endResult) {
    endResult = kResultRefused;
    WriteStop::Writing writing;
    if (WriteStop::requested)
        return kResultStopped;
    if (!areaCacheValid || blockOffset > kMaxBlockOffset)
        return kResultRefused;
    std::copy(source.begin(), source.end(), areaCache.begin() + blockOffset);
    sentArea = areaCache;
    int r = SendCommand(kCmdBeginWrite, kBlockAreaAddress, 0);
    if (r != kResultOk)
        return r;
    // Seconds at line speed: the bar shows the write is alive, frame by frame.
    if (progressBar) {
        progressBar->ShowProgress(true);
        progressBar->SetProgress(0);
    }
    constexpr uint32_t frames = kBlockAreaSize / kDataPerFrame;
    for (uint32_t k = 0; k < frames && r == kResultOk; ++k) {
        r = WriteDataBlock(kBlockAreaAddress + k * kDataPerFrame, kDataPerFrame,
                           sentArea.data() + k * kDataPerFrame);
        if (r == kResultOk && progressBar)
            progressBar->SetProgress(static_cast<int>((k + 1) * 100 / frames));
    }
    if (r == kResultOk)
        endResult = SendEnd();
    if (progressBar)
        progressBar->ShowProgress(false);
    return r;
}

uint32_t cQVX_18::ApplicationAreaEnd() const {
    return (emulationStart != 0 && emulationStart != 0xFFFFFFFFu)
               ? emulationStart
               : memorySize + kApplicationAddress;
}

int cQVX_18::WriteApplicationAreaConnected(std::span<const uint8_t> image, int& endResult) {
    endResult = kResultRefused;
    WriteStop::Writing writing;
    if (WriteStop::requested)
        return kResultStopped;
    const uint32_t end = ApplicationAreaEnd();
    const uint64_t span = end > kApplicationAddress ? end - kApplicationAddress : 0;
    if (image.size() < span)
        return kResultRefused;
    int r = SendCommand(kCmdBeginWrite, kApplicationAddress, 0);
    if (r != kResultOk)
        return r;
    if (statusBar)
        statusBar->SetStatusText("Übertragung zur Maschine");
    if (progressBar) {
        progressBar->ShowProgress(true);
        progressBar->SetProgress(0);
    }
    const uint64_t frames = span / kDataPerFrame;
    int result = kResultOk;
    uint64_t k = 0;
    for (uint64_t offset = 0; offset < span; offset += kDataPerFrame) {
        const size_t n =
            static_cast<size_t>(std::min<uint64_t>(kDataPerFrame, image.size() - offset));
        result = WriteDataBlock(kApplicationAddress + static_cast<uint32_t>(offset),
                                static_cast<uint32_t>(n), image.data() + offset);
        if (result != kResultOk)
            break;
        ++k;
        if (progressBar)
            progressBar->SetProgress(
                frames ? static_cast<int>(std::min<uint64_t>(100, k * 100 / frames)) : 100);
    }
    endResult = SendEnd();
    if (progressBar)
        progressBar->ShowProgress(false);
    if (statusBar)
        statusBar->SetStatusText("");
    return result;
}

int cQVX_18::ReadArea(uint32_t address, std::span<uint8_t> destination,
                      const std::function<void(int)>& progress) {
    const size_t total = destination.size();
    for (size_t done = 0; done < total;) {
        // The read-back of a write the user stopped: what it would tell is no longer asked.
        if (done > 0 && WriteStop::requested)
            return kResultStopped;
        const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(kReadPiece, total - done));
        int r = ReadMemory(address + static_cast<uint32_t>(done), piece, destination.data() + done);
        if (r != kResultOk)
            return r;
        done += piece;
        if (progress)
            progress(static_cast<int>(done * 100 / total));
    }
    return kResultOk;
}

uint32_t cQVX_18::FindFasteningCounter(std::span<const uint8_t> area) {
    uint32_t best = 0;
    if (area.size() < 16)
        return 0;
    for (long offset = static_cast<long>(area.size()) - 16; offset > 0; offset -= 16) {
        const uint8_t* rec = area.data() + offset;
        if (rec[0] == 10)
            best = std::max(best, LoadLe32(rec + 4) % 65535u);
    }
    return best;
}

int cQVX_18::ReadEmulationArea() {
    try {
        if (!emulationBuffer || emulationBuffer->size() != emulationLength)
            emulationBuffer.emplace(emulationLength, uint8_t(0));
    } catch (const std::bad_alloc&) {
        return kResultRefused;
    }
    const int r = ReadMemory(emulationStart, emulationLength, emulationBuffer->data());
    if (r == kResultOk)
        ReadStep(100);
    return r;
}

int cQVX_18::ReadFasteningCounter(uint32_t& counter) {
    int r = ReadEmulationArea();
    if (r != kResultOk)
        return r;
    counter = FindFasteningCounter(*emulationBuffer);
    return kResultOk;
}

int cQVX_18::DumpEmulationArea(const std::string& path) {
    int r = ReadEmulationArea();
    if (r != kResultOk)
        return r;
    // A dump that cannot be written is a failure, and never a half-written file.
    if (!WriteFileAtomic(path, emulationBuffer->data(), emulationBuffer->size()))
        return kResultFileNotWritten;
    return kResultOk;
}
