// Intel HEX reader: places the data records of a file into a caller's image that stands for a
// window [baseAddress, baseAddress + imageLength) of the target's address space.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class cIntHex {
public:
    // Far above any memory image as hex text (16 MB of data is about 45 MB of records).
    static constexpr uint64_t kMaxFileSize = 64u << 20;
    enum Result {
        kOk = 0,
        kBadDigit = -1,    // not a hexadecimal digit, end of file inside a record, or an address
                           // record that does not carry exactly two bytes
        kNoRecord = -2,    // end of file before the next ":"
        kBadChecksum = -3, // the record's bytes do not sum to 0 modulo 256
        kBadType = -4,     // record type 6 or higher
        kTooLong = -5,     // record longer than the caller's maximum
        kOpenFailed = -10, // the file cannot be opened, is no plain file or is too big
        kEndOfFile = 1,    // from ReadRecord only: end record, or end of file after a record
    };

    // Where ReadRecord takes its characters from: a file or bytes in memory.
    class Source {
    public:
        explicit Source(std::FILE* file) : file_(file) {}
        Source(const void* data, size_t length)
            : data_(static_cast<const uint8_t*>(data)), length_(length) {}
        int Get(); // next character or EOF
        void Unget(int c);

    private:
        std::FILE* file_ = nullptr;
        const uint8_t* data_ = nullptr;
        size_t length_ = 0;
        size_t pos_ = 0;
        int pushed_ = EOF;
    };

    cIntHex() = default;
    cIntHex(const cIntHex&) = delete;
    cIntHex& operator=(const cIntHex&) = delete;
    virtual ~cIntHex() = default;

    // Loads the file into the image (pre-filled by the caller). byteCount is the number of data
    // bytes placed; bytes outside the window are dropped, not an error (dropped, when given,
    // counts them). Returns kOk or the first error; the image keeps the bytes placed so far.
    int Load(const std::string& path, uint32_t baseAddress, uint8_t* image, size_t imageLength,
             uint32_t& byteCount, uint32_t* dropped = nullptr);
    // The same on file contents already in memory.
    int LoadFromMemory(const void* text, size_t textLength, uint32_t baseAddress, uint8_t* image,
                       size_t imageLength, uint32_t& byteCount, uint32_t* dropped = nullptr);

    // Reads one record into record (room for maxLength bytes, at most 255). extendedBase is
    // updated by address records; count and recordAddress describe a data record.
    // Returns kOk, kEndOfFile or an error.
    int ReadRecord(Source& source, int maxLength, uint8_t* record, int& count,
                   uint32_t& extendedBase, uint32_t& recordAddress, int& recordType);

private:
    int LoadFrom(Source& source, uint32_t baseAddress, uint8_t* image, size_t imageLength,
                 uint32_t& byteCount, uint32_t* dropped);

    std::array<uint8_t, 255> buffer_{}; // the record buffer of the load in progress
};
