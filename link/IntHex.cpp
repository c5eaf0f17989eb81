#include "link/IntHex.h"

#include "base/FileIo.h"
#include "base/Hex.h"

#include <cstring>
#include <unistd.h>

namespace {

constexpr int kRecordBufferSize = 255;

// Two digits as one byte, added to the record's sum; false on a bad character.
bool ReadByte(cIntHex::Source& source, uint8_t& value, unsigned& sum) {
    const int hi = HexDigit(source.Get());
    if (hi < 0) {
        return false;
    }
    const int lo = HexDigit(source.Get());
    if (lo < 0) {
        return false;
    }
    value = static_cast<uint8_t>(hi << 4 | lo);
    sum += value;
    return true;
}

} // namespace

int cIntHex::Source::Get() {
    if (pushed_ != EOF) {
        const int c = pushed_;
        pushed_ = EOF;
        return c;
    }
    if (file_ != nullptr) {
        return std::fgetc(file_);
    }
    if (pos_ < length_) {
        return data_[pos_++];
    }
    return EOF;
}

void cIntHex::Source::Unget(int c) {
    pushed_ = c;
}

int cIntHex::ReadRecord(Source& source, int maxLength, uint8_t* record, int& count,
                        uint32_t& extendedBase, uint32_t& recordAddress, int& recordType) {
    if (maxLength > kRecordBufferSize) {
        maxLength = kRecordBufferSize;
    }
    count = 0;
    int c;
    do {
        c = source.Get();
        if (c == EOF) {
            return kNoRecord;
        }
    } while (c != ':');

    unsigned sum = 0;
    uint8_t length, addrHi, addrLo, type;
    if (!ReadByte(source, length, sum)) {
        return kBadDigit;
    }
    if (length > maxLength) {
        return kTooLong;
    }
    if (!ReadByte(source, addrHi, sum) || !ReadByte(source, addrLo, sum) ||
        !ReadByte(source, type, sum)) {
        return kBadDigit;
    }
    recordType = type;
    recordAddress = static_cast<uint32_t>(addrHi) << 8 | addrLo;
    if (type == 1) {
        return kEndOfFile;
    }
    if (type > 5) {
        return kBadType;
    }
    for (int i = 0; i < length; ++i) {
        if (!ReadByte(source, record[i], sum)) {
            return kBadDigit;
        }
    }
    uint8_t check;
    if (!ReadByte(source, check, sum)) {
        return kBadDigit;
    }
    if ((sum & 0xFF) != 0) {
        return kBadChecksum;
    }
    if (type == 2 || type == 4) {
        // An address record carries exactly the two bytes of the new base.
        if (length != 2) {
            return kBadDigit;
        }
        const uint32_t value = static_cast<uint32_t>(record[0]) << 8 | record[1];
        extendedBase = type == 2 ? value * 16u : value << 16;
    } else if (type == 0) {
        count = length;
    }
    // The character after the check byte decides whether the file ends here. It is given
    // back, so a record that follows without a line break is not lost.
    c = source.Get();
    if (c == EOF) {
        return kEndOfFile;
    }
    source.Unget(c);
    return kOk;
}

int cIntHex::LoadFrom(Source& source, uint32_t baseAddress, uint8_t* image, size_t imageLength,
                      uint32_t& byteCount, uint32_t* dropped) {
    uint32_t extendedBase = 0;
    int result;
    for (;;) {
        buffer_.fill(0xFF);
        int count = 0, type = 0;
        uint32_t address = 0;
        result = ReadRecord(source, kRecordBufferSize, buffer_.data(), count, extendedBase, address,
                            type);
        // A data record that ends the file still counts.
        if (result == kOk || (result == kEndOfFile && type == 0)) {
            for (int i = 0; i < count; ++i) {
                const uint32_t position =
                    extendedBase + address + static_cast<uint32_t>(i) - baseAddress;
                if (position >= imageLength) {
                    if (dropped != nullptr) {
                        *dropped += static_cast<uint32_t>(count - i);
                    }
                    break;
                }
                image[position] = buffer_[i];
                ++byteCount;
            }
        }
        if (result != kOk) {
            break;
        }
    }
    return result == kEndOfFile ? kOk : result;
}

int cIntHex::Load(const std::string& path, uint32_t baseAddress, uint8_t* image, size_t imageLength,
                  uint32_t& byteCount, uint32_t* dropped) {
    byteCount = 0;
    if (dropped != nullptr) {
        *dropped = 0;
    }
    // Only a regular file: a FIFO or device named as the hex file must not hang the command.
    uint64_t size = 0;
    const int fd = OpenRegularFile(path, &size);
    if (fd < 0) {
        return kOpenFailed;
    }
    if (size > kMaxFileSize) {
        ::close(fd);
        return kOpenFailed;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        ::close(fd);
        return kOpenFailed;
    }
    Source source(file);
    const int result = LoadFrom(source, baseAddress, image, imageLength, byteCount, dropped);
    std::fclose(file);
    return result;
}

int cIntHex::LoadFromMemory(const void* text, size_t textLength, uint32_t baseAddress,
                            uint8_t* image, size_t imageLength, uint32_t& byteCount,
                            uint32_t* dropped) {
    byteCount = 0;
    if (dropped != nullptr) {
        *dropped = 0;
    }
    Source source(text, textLength);
    return LoadFrom(source, baseAddress, image, imageLength, byteCount, dropped);
}
