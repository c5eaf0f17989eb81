// The link to the machine's main controller: wake-up, speed change, loader download, and
// memory reads and writes through the loader.
#pragma once

#include "link/ResultCodes.h"
#include "link/SerialPort.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Pane 0 of the main window's status bar.
class ILinkStatusBar {
public:
    virtual ~ILinkStatusBar() = default;
    // germanText is still to be translated; "" empties the pane.
    virtual void SetStatusText(const std::string& germanText) = 0;
};

// The progress bar in the main window's status bar.
class ILinkProgress {
public:
    virtual ~ILinkProgress() = default;
    virtual void ShowProgress(bool visible) = 0;
    virtual void SetProgress(int percent) = 0; // 0..100
};

class cQVX {
public:
    using Block = std::span<uint8_t, 512>;
    using ConstBlock = std::span<const uint8_t, 512>;

    virtual ~cQVX() = default;

    virtual int Connect() = 0;
    virtual int ReadParameterBlock(Block destination) = 0;
    virtual uint32_t GetMemorySize() const = 0;
    virtual int ReadFasteningCounter(uint32_t& counter) = 0;
    virtual int DumpEmulationArea(const std::string& path) = 0;

    // ---- the steps of a write (the link as it is connected, no reconnect); the road of every
    // write (app/) runs them with its checks, the reconnect and the read-back ----

    // The block area as last read, with source put at the block offset, written whole. The
    // result is that of the begin-write and the data frames; the end frame's answer goes to
    // endResult and never decides: only a read-back tells what the machine holds.
    virtual int WriteBlockArea(ConstBlock, int& endResult) {
        endResult = kResultRefused;
        return kResultRefused;
    }
    // The 1024 bytes the last WriteBlockArea sent.
    virtual std::span<const uint8_t> SentBlockArea() const { return {}; }
    // The application area from its start to ApplicationAreaEnd(); the end frame's answer goes
    // to endResult.
    virtual int WriteApplicationAreaConnected(std::span<const uint8_t>, int& endResult) {
        endResult = kResultRefused;
        return kResultRefused;
    }
    // destination.size() bytes from address, in pieces that fit the receive window at any
    // line speed. progress (may be empty) gets 0..100.
    virtual int ReadArea(uint32_t, std::span<uint8_t>, const std::function<void(int)>& = {}) {
        return kResultRefused;
    }
    virtual uint32_t ApplicationAreaEnd() const { return 0; }
    virtual uint16_t BlockOffset() const { return 0; }
    // The emulation area as last read (empty before).
    virtual std::span<const uint8_t> EmulationArea() const { return {}; }

    // How far a connect and read has come (0..100), for a caller that shows reads as a bar;
    // the window shows progress only for long writes and leaves it empty.
    std::function<void(int percent)> readSteps;

    // Both may be null.
    void SetStatusTargets(ILinkStatusBar* bar, ILinkProgress* progress) {
        statusBar = bar;
        progressBar = progress;
    }

protected:
    void ReadStep(int percent) {
        if (readSteps)
            readSteps(percent);
    }

    ILinkStatusBar* statusBar = nullptr;
    ILinkProgress* progressBar = nullptr;
    // The emulation area as last read; absent until the layout is known.
    std::optional<std::vector<uint8_t>> emulationBuffer;
};

class cQVX_18 : public cQVX {
public:
    // The port is not owned and must stay open for the whole sequence. The loader "BL.hex"
    // is taken from programFolder (ending in '/'); "" means the folder of the executable.
    explicit cQVX_18(ISerialPort* port, std::string programFolder = "");

    int Connect() override;
    int ReadParameterBlock(Block destination) override;
    uint32_t GetMemorySize() const override { return memorySize; }
    int ReadFasteningCounter(uint32_t& counter) override;
    int DumpEmulationArea(const std::string& path) override;

    // Layout learned by Connect.
    bool Connected() const { return connected != 0; }
    uint32_t AreaEnd() const { return areaEnd; }
    uint32_t EmulationStart() const { return emulationStart; }
    uint16_t EmulationLength() const { return emulationLength; }
    uint16_t BlockOffset() const override { return blockOffset; }
    uint32_t BlockAddress() const { return blockAddress; }
    std::span<const uint8_t> EmulationArea() const override;

    int WriteBlockArea(ConstBlock source, int& endResult) override;
    std::span<const uint8_t> SentBlockArea() const override { return sentArea; }
    int WriteApplicationAreaConnected(std::span<const uint8_t> image, int& endResult) override;
    int ReadArea(uint32_t address, std::span<uint8_t> destination,
                 const std::function<void(int)>& progress = {}) override;
    uint32_t ApplicationAreaEnd() const override;
    // Largest piece ReadArea asks for at once: 1027 reply bytes take half a second at 19200.
    static constexpr uint32_t kReadPiece = 1024;
    std::string LoaderPath() const;
    // Why the last Connect refused its loader: kLoaderFine, kLoaderMissing, kLoaderBroken.
    enum LoaderState { kLoaderFine, kLoaderMissing, kLoaderBroken };
    LoaderState LoaderProblem() const { return loaderProblem; }

    // Replaces the prescribed waits (tests and fuzzing run without them).
    void SetPauseFunction(std::function<void(int milliseconds)> fn) { pause = std::move(fn); }

    // Memory size for a memory-size code; other codes keep current.
    static uint32_t MemorySizeForCode(uint32_t code, uint32_t current);
    // Largest counter of the type-10 records (the first record is not examined), 0 if none.
    static uint32_t FindFasteningCounter(std::span<const uint8_t> area);

    // Machine addresses as seen through the loader.
    static constexpr uint32_t kLoaderAddress = 0x20000200;
    static constexpr uint32_t kLoaderLimit = 0x4000;
    static constexpr uint32_t kInfoAddress = 0x10000F00;
    static constexpr uint32_t kApplicationAddress = 0x10001000;
    static constexpr uint32_t kBlockAreaAddress = 0x10001100;
    static constexpr uint32_t kBlockAreaSize = 1024;
    static constexpr uint16_t kMaxBlockOffset = 512;

private:
    int Receive(uint8_t* buffer, size_t count, size_t& stored);
    int DownloadLoader(const std::string& path);
    int QueryLayout();
    int SendCommand(uint8_t code, uint32_t address, uint32_t length);
    int SendEnd();
    int ReadMemory(uint32_t address, uint32_t count, uint8_t* destination);
    // The emulation area into emulationBuffer; kResultRefused when there is no memory for it.
    int ReadEmulationArea();
    int WriteDataBlock(uint32_t address, uint32_t count, const uint8_t* data);
    int ReceiveAck(bool loaderAck);
    void Drain();
    void Pause(int milliseconds);

    uint8_t connected = 0;
    ISerialPort* port;
    std::array<uint8_t, kBlockAreaSize> areaCache{};
    std::array<uint8_t, kBlockAreaSize> sentArea{};
    bool areaCacheValid = false;
    uint32_t memorySize = 0;
    uint32_t areaEnd = 0;
    uint32_t emulationStart = 0;
    uint16_t emulationLength = 4096;
    uint16_t blockOffset = 0;
    uint32_t blockAddress = 0;
    std::string programFolder;
    std::function<void(int)> pause;
    LoaderState loaderProblem = kLoaderFine;
};
