// Text file read line by line as UTF-16 (when it starts with a byte-order mark) or as 8-bit
// text, and written as UTF-16LE (mark first) or as 8-bit text.
//
// Reading: a file starting with FF FE (little-endian) or FE FF (big-endian) is read as UTF-16
// from the unit after the mark; any other file, and any file shorter than 2 bytes, is read as
// 8-bit text from its first byte. 8-bit lines are taken as UTF-8 when they are valid UTF-8 and
// as Windows-1252 otherwise (files made on the old Windows tool). An 8-bit line ends at LF,
// CR LF or a lone CR. A UTF-16 line ends at CR or LF, and one more CR or LF right after it
// belongs to the same line end (CR LF, LF CR, CR CR, LF LF). The line end is not part of the
// line, and a blank line is returned as an empty line. A UTF-16 file with an odd number of bytes
// drops the lone last byte and reports HasOddByte().
//
// Writing: Open(path, Mode::Write) writes into a temporary file beside `path`; Close() renames
// it over `path`, so a reader never sees a half-written file. If any write failed, Close()
// removes the temporary file, leaves `path` as it was and returns false. Discard() drops what
// was written. The destructor calls Close().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CUTF16File {
public:
    enum class Mode { Read, Write };
    enum class Origin { Begin, Current, End };

    CUTF16File() = default;
    ~CUTF16File();
    CUTF16File(const CUTF16File&) = delete;
    CUTF16File& operator=(const CUTF16File&) = delete;

    // False when the file cannot be opened or is not a plain file (reading), or the temporary
    // file cannot be created (writing); ErrorNumber() then holds the errno. A file already open
    // is closed first.
    bool Open(const std::string& path, Mode mode);
    // The same over bytes in memory (reading), or into memory (writing: MemoryText() holds what
    // was written, also after Close). Nothing touches the disk.
    void OpenMemory(std::string bytes);
    void OpenMemoryOutput();
    const std::string& MemoryText() const { return memoryText_; }
    // Reading: closes. Writing: flushes, syncs and renames the temporary file over the target;
    // false (target untouched) when any write, the sync or the rename failed.
    bool Close();
    // Writing: removes the temporary file; the target stays as it was. Reading: closes.
    void Discard();

    bool IsOpen() const { return fd_ >= 0 || memory_; }
    bool IsUnicode() const { return unicode_; }
    bool IsBigEndian() const { return bigEndian_; }
    // A read or write failed since Open (reads then report end of file).
    bool HasError() const { return error_ != 0; }
    int ErrorNumber() const { return error_; }
    // The UTF-16 file ended in half a code unit.
    bool HasOddByte() const { return oddByte_; }
    const std::string& Path() const { return path_; }

    // --- reading -------------------------------------------------------------------------
    // Next line without its line end; false at end of file (nothing left to read).
    bool ReadString(std::u16string& line);
    // The same line as UTF-8.
    bool ReadString(std::string& line);
    // Byte offset of the first unit not yet handed out (after a line: the next line's start).
    // Writing: bytes written so far.
    uint64_t GetPosition() const;
    // Moves the read position and drops what was read ahead; false when not open for reading
    // or the offset lies outside the file. In UTF-16 mode an offset inside the mark means the
    // first unit after it.
    bool SeekAndReset(int64_t offset, Origin origin = Origin::Begin);
    // Length of the file in bytes (reading) or bytes written so far (writing).
    uint64_t GetLength() const;

    // --- writing -------------------------------------------------------------------------
    // unicode: WriteUnicodeText; otherwise WriteAnsiText. No line end is added.
    bool WriteString(std::u16string_view text, bool unicode);
    bool WriteString(std::string_view utf8, bool unicode);
    // UTF-16LE, two bytes a unit, no terminator, no line-end translation; FF FE is written
    // first when nothing has been written to the file yet.
    bool WriteUnicodeText(std::u16string_view text);
    bool WriteUnicodeText(std::string_view utf8);
    // 8-bit text: the bytes as given (UTF-8 for texts of this program).
    bool WriteAnsiText(std::string_view text);
    bool WriteAnsiText(std::u16string_view text); // stored as UTF-8

private:
    bool Refill();
    bool ReadUnit(char16_t& unit);
    bool PeekUnit(char16_t& unit);
    bool ReadByte(unsigned char& byte);
    bool PeekByte(unsigned char& byte);
    bool ReadEightBitLine(std::string& bytes);
    bool ReadUnicodeLine(std::u16string& line);
    bool Flush();
    bool WriteBytes(const void* data, size_t size);
    void Reset();
    void DetectMark();

    int fd_ = -1;
    // In memory: buffer_ holds the whole file (reading) and offsets are its indexes.
    bool memory_ = false;
    std::string memoryText_;
    Mode mode_ = Mode::Read;
    std::string path_;
    std::string tempPath_;
    bool unicode_ = false;
    bool bigEndian_ = false;
    bool oddByte_ = false;
    int error_ = 0;
    uint64_t length_ = 0;
    // Read-ahead: buffer_[bufferPos_..] are the bytes at file offset position_.
    std::string buffer_;
    size_t bufferPos_ = 0;
    uint64_t position_ = 0;
    bool eof_ = false;
    // Writing: bytes not yet handed to the file, and bytes written in all.
    std::string pending_;
    uint64_t written_ = 0;
};
