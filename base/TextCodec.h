// Conversions between the text forms of the program: UTF-8 (std::string, everywhere in the
// program), UTF-16 (language tables, report files, INI files saved as Unicode) and the 8-bit
// text of old Windows files.
#pragma once

#include <string>
#include <string_view>

// Ill-formed sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
bool IsValidUtf8(std::string_view text);
// Bytes of the well-formed UTF-8 sequence that starts at text[i] (1 for ASCII); 0 when none does.
size_t Utf8SequenceLength(std::string_view text, size_t i);
// Windows-1252 (bytes 0x80..0x9F as that code page has them, the rest as Latin-1).
std::u16string Windows1252ToUtf16(std::string_view text);
// 8-bit text from a file: UTF-8 when it is valid UTF-8, else Windows-1252.
std::u16string EightBitToUtf16(std::string_view text);

// UTF-16 code units from bytes in the given order (no byte-order mark is looked for); a lone
// last byte is dropped.
std::u16string Utf16FromBytes(std::string_view bytes, bool bigEndian);
// Code units as bytes in the given order, no mark written.
std::string Utf16ToBytes(std::u16string_view text, bool bigEndian);

// Latin-1: byte b is the character U+00bb. Each character of UTF-8 text as one byte; characters
// beyond U+00FF and each byte of an ill-formed sequence give '?'.
std::string Latin1ToUtf8(std::string_view bytes);
std::string Utf8ToLatin1(std::string_view text);
