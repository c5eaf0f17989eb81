#include "lang/UTF16File.h"

#include "base/FileIo.h"
#include "base/TextCodec.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kReadAhead = 65536;
constexpr size_t kWriteChunk = 65536;

ssize_t ReadRetry(int fd, void* buf, size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, buf, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

} // namespace

CUTF16File::~CUTF16File() {
    Close();
}

void CUTF16File::Reset() {
    fd_ = -1;
    memory_ = false;
    path_.clear();
    tempPath_.clear();
    unicode_ = bigEndian_ = oddByte_ = false;
    error_ = 0;
    length_ = 0;
    buffer_.clear();
    bufferPos_ = 0;
    position_ = 0;
    eof_ = false;
    pending_.clear();
    written_ = 0;
}

bool CUTF16File::Open(const std::string& path, Mode mode) {
    if (IsOpen())
        Close();
    Reset();
    mode_ = mode;
    if (mode == Mode::Read) {
        // Only plain files: a FIFO would block the open, a device could feed an endless line.
        uint64_t size = 0;
        const int fd = OpenRegularFile(path, &size);
        if (fd < 0) {
            error_ = errno;
            return false;
        }
        fd_ = fd;
        path_ = path;
        length_ = size;
        DetectMark();
        return true;
    }

    // Writing: a temporary file beside the target, renamed over it at Close.
    std::string temp = path + ".tmp-XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error_ = errno;
        return false;
    }
    struct stat st {};
    const mode_t perm = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    ::fchmod(fd, perm);
    fd_ = fd;
    path_ = path;
    tempPath_ = name.data();
    return true;
}

void CUTF16File::DetectMark() {
    // The mark decides the mode; without one the file is 8-bit text from its first byte.
    while (buffer_.size() < 2 && Refill()) {
    }
    if (buffer_.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(buffer_[0]);
        const auto b1 = static_cast<unsigned char>(buffer_[1]);
        if ((b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF)) {
            unicode_ = true;
            bigEndian_ = b0 == 0xFE;
            bufferPos_ = 2;
            position_ = 2;
        }
    }
}

void CUTF16File::OpenMemory(std::string bytes) {
    if (IsOpen())
        Close();
    Reset();
    mode_ = Mode::Read;
    memory_ = true;
    length_ = bytes.size();
    buffer_ = std::move(bytes);
    eof_ = true;
    DetectMark();
}

void CUTF16File::OpenMemoryOutput() {
    if (IsOpen())
        Close();
    Reset();
    mode_ = Mode::Write;
    memory_ = true;
    memoryText_.clear();
}

bool CUTF16File::Close() {
    if (!IsOpen())
        return false;
    if (memory_) {
        if (mode_ == Mode::Write)
            memoryText_ = std::move(pending_);
        const int err = error_;
        Reset();
        error_ = err;
        return err == 0;
    }
    if (mode_ == Mode::Read) {
        ::close(fd_);
        const int err = error_;
        Reset();
        error_ = err;
        return err == 0;
    }
    bool ok = Flush() && error_ == 0;
    if (ok && ::fsync(fd_) != 0) {
        error_ = errno;
        ok = false;
    }
    if (::close(fd_) != 0 && ok) {
        error_ = errno;
        ok = false;
    }
    if (ok && ::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        error_ = errno;
        ok = false;
    }
    if (!ok)
        ::unlink(tempPath_.c_str());
    const int err = error_;
    Reset();
    error_ = err;
    return ok;
}

void CUTF16File::Discard() {
    if (!IsOpen())
        return;
    if (memory_) {
        Reset();
        return;
    }
    ::close(fd_);
    if (mode_ == Mode::Write)
        ::unlink(tempPath_.c_str());
    Reset();
}

// --- reading ---------------------------------------------------------------------------

bool CUTF16File::Refill() {
    if (eof_ || memory_ || !IsOpen() || mode_ != Mode::Read)
        return false;
    if (bufferPos_ > 0) {
        buffer_.erase(0, bufferPos_);
        bufferPos_ = 0;
    }
    const size_t old = buffer_.size();
    buffer_.resize(old + kReadAhead);
    const ssize_t n = ReadRetry(fd_, buffer_.data() + old, kReadAhead);
    if (n <= 0) {
        buffer_.resize(old);
        if (n < 0)
            error_ = errno;
        eof_ = true;
        return false;
    }
    buffer_.resize(old + static_cast<size_t>(n));
    return true;
}

bool CUTF16File::PeekByte(unsigned char& byte) {
    if (bufferPos_ >= buffer_.size() && !Refill())
        return false;
    byte = static_cast<unsigned char>(buffer_[bufferPos_]);
    return true;
}

bool CUTF16File::ReadByte(unsigned char& byte) {
    if (!PeekByte(byte))
        return false;
    ++bufferPos_;
    ++position_;
    return true;
}

bool CUTF16File::PeekUnit(char16_t& unit) {
    while (buffer_.size() - bufferPos_ < 2) {
        if (!Refill())
            break;
    }
    const size_t avail = buffer_.size() - bufferPos_;
    if (avail == 0)
        return false;
    if (avail == 1) {
        // Half a unit at the end of the file: dropped, not a character.
        oddByte_ = true;
        ++bufferPos_;
        ++position_;
        return false;
    }
    const auto lo = static_cast<unsigned char>(buffer_[bufferPos_ + (bigEndian_ ? 1 : 0)]);
    const auto hi = static_cast<unsigned char>(buffer_[bufferPos_ + (bigEndian_ ? 0 : 1)]);
    unit = static_cast<char16_t>(lo | (hi << 8));
    return true;
}

bool CUTF16File::ReadUnit(char16_t& unit) {
    if (!PeekUnit(unit))
        return false;
    bufferPos_ += 2;
    position_ += 2;
    return true;
}

bool CUTF16File::ReadUnicodeLine(std::u16string& line) {
    line.clear();
    char16_t u;
    if (!ReadUnit(u))
        return false;
    for (;;) {
        if (u == u'\n' || u == u'\r') {
            // CR LF, LF CR, CR CR and LF LF each end one line.
            char16_t next;
            if (PeekUnit(next) && (next == u'\n' || next == u'\r'))
                ReadUnit(next);
            return true;
        }
        line += u;
        // The units already in the buffer up to the next line end, without a call per unit.
        const size_t lo = bigEndian_ ? 1 : 0;
        const char* b = buffer_.data();
        size_t pos = bufferPos_;
        const size_t end = pos + ((buffer_.size() - pos) & ~size_t{1});
        while (pos < end) {
            const auto c =
                static_cast<char16_t>(static_cast<unsigned char>(b[pos + lo]) |
                                      (static_cast<unsigned char>(b[pos + 1 - lo]) << 8));
            if (c == u'\n' || c == u'\r')
                break;
            line += c;
            pos += 2;
        }
        position_ += pos - bufferPos_;
        bufferPos_ = pos;
        if (!ReadUnit(u))
            return true;
    }
}

bool CUTF16File::ReadEightBitLine(std::string& bytes) {
    bytes.clear();
    unsigned char b;
    if (!ReadByte(b))
        return false;
    for (;;) {
        if (b == '\n')
            return true;
        if (b == '\r') {
            unsigned char next;
            if (PeekByte(next) && next == '\n')
                ReadByte(next);
            return true;
        }
        // Copy the run up to the next line end at once.
        bytes += static_cast<char>(b);
        const char* start = buffer_.data() + bufferPos_;
        const char* end = buffer_.data() + buffer_.size();
        const char* p = start;
        while (p < end && *p != '\n' && *p != '\r')
            ++p;
        bytes.append(start, p);
        bufferPos_ += static_cast<size_t>(p - start);
        position_ += static_cast<uint64_t>(p - start);
        if (!ReadByte(b))
            return true;
    }
}

bool CUTF16File::ReadString(std::u16string& line) {
    if (!IsOpen() || mode_ != Mode::Read) {
        line.clear();
        return false;
    }
    if (unicode_)
        return ReadUnicodeLine(line);
    std::string bytes;
    if (!ReadEightBitLine(bytes)) {
        line.clear();
        return false;
    }
    line = EightBitToUtf16(bytes);
    return true;
}

bool CUTF16File::ReadString(std::string& line) {
    if (!IsOpen() || mode_ != Mode::Read) {
        line.clear();
        return false;
    }
    if (unicode_) {
        std::u16string u;
        if (!ReadUnicodeLine(u)) {
            line.clear();
            return false;
        }
        line = Utf16ToUtf8(u);
        return true;
    }
    if (!ReadEightBitLine(line))
        return false;
    if (!IsValidUtf8(line))
        line = Utf16ToUtf8(Windows1252ToUtf16(line));
    return true;
}

uint64_t CUTF16File::GetPosition() const {
    if (!IsOpen())
        return 0;
    return mode_ == Mode::Read ? position_ : written_ + pending_.size();
}

uint64_t CUTF16File::GetLength() const {
    if (!IsOpen())
        return 0;
    if (mode_ == Mode::Write)
        return written_ + pending_.size();
    if (memory_)
        return length_;
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode))
        return static_cast<uint64_t>(st.st_size);
    return length_;
}

bool CUTF16File::SeekAndReset(int64_t offset, Origin origin) {
    if (!IsOpen() || mode_ != Mode::Read)
        return false;
    int64_t base = 0;
    if (origin == Origin::Current)
        base = static_cast<int64_t>(position_);
    else if (origin == Origin::End)
        base = static_cast<int64_t>(GetLength());
    const int64_t target = base + offset;
    if (target < 0 || static_cast<uint64_t>(target) > GetLength())
        return false;
    int64_t start = target;
    if (unicode_ && start < 2)
        start = 2;
    if (memory_) {
        bufferPos_ = static_cast<size_t>(start);
        position_ = static_cast<uint64_t>(start);
        return true;
    }
    if (::lseek(fd_, start, SEEK_SET) < 0) {
        error_ = errno;
        return false;
    }
    buffer_.clear();
    bufferPos_ = 0;
    position_ = static_cast<uint64_t>(start);
    eof_ = false;
    return true;
}

// --- writing ---------------------------------------------------------------------------

bool CUTF16File::Flush() {
    if (memory_)
        return true;
    size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            break;
        }
        done += static_cast<size_t>(n);
    }
    written_ += done;
    pending_.erase(0, done);
    if (error_ != 0)
        pending_.clear();
    return error_ == 0;
}

bool CUTF16File::WriteBytes(const void* data, size_t size) {
    if (!IsOpen() || mode_ != Mode::Write)
        return false;
    if (error_ != 0)
        return false;
    pending_.append(static_cast<const char*>(data), size);
    if (pending_.size() >= kWriteChunk)
        return Flush();
    return true;
}

bool CUTF16File::WriteUnicodeText(std::u16string_view text) {
    if (!IsOpen() || mode_ != Mode::Write)
        return false;
    if (GetPosition() == 0 && !WriteBytes("\xFF\xFE", 2))
        return false;
    const std::string bytes = Utf16ToBytes(text, false);
    return WriteBytes(bytes.data(), bytes.size());
}

bool CUTF16File::WriteUnicodeText(std::string_view utf8) {
    return WriteUnicodeText(std::u16string_view(Utf8ToUtf16(utf8)));
}

bool CUTF16File::WriteAnsiText(std::string_view text) {
    return WriteBytes(text.data(), text.size());
}

bool CUTF16File::WriteAnsiText(std::u16string_view text) {
    return WriteAnsiText(std::string_view(Utf16ToUtf8(text)));
}

bool CUTF16File::WriteString(std::u16string_view text, bool unicode) {
    return unicode ? WriteUnicodeText(text) : WriteAnsiText(text);
}

bool CUTF16File::WriteString(std::string_view utf8, bool unicode) {
    return unicode ? WriteUnicodeText(utf8) : WriteAnsiText(utf8);
}
