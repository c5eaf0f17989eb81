// INI files (settings, catalog): "[section]" lines and "key=value" lines.
//
// Section and key names are compared without regard to ASCII letter case and to blanks around
// them; the first matching section and key win. Everything else in the file (comments, blank
// lines, lines we do not understand, a UTF-8 byte order mark, the line-end style) is kept as it
// was when the file is saved again. Values are read with blanks around them removed.
//
// Values are at most kMaxValueLength characters, as the program has always read them: a longer
// value in a file is kept on save but reads as absent (a truncated path or number would be a
// different value), and Set refuses to write one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class IniFile {
public:
    static constexpr size_t kMaxValueLength = 259; // characters (UTF-8 code points)
    static constexpr size_t kMaxFileSize = 4 * 1024 * 1024;

    IniFile() = default;

    // Replaces the content with the file's. A missing file gives an empty content and false
    // with the reason in error; so does a file larger than kMaxFileSize.
    bool Load(const std::string& path, std::string* error = nullptr);
    // Replaces the content with text (CR LF, LF or a lone CR end a line). Text that starts
    // with a UTF-16 mark (FF FE or FE FF) is UTF-16 and is given back as UTF-16 with the same
    // mark; anything else is UTF-8. ToString() gives the same text back until something is set.
    void Parse(std::string_view text);
    // The content as file text, in the encoding it was read in.
    std::string ToString() const;
    // Writes ToString() through a temporary file and a rename.
    bool Save(const std::string& path, std::string* error = nullptr) const;

    bool HasSection(std::string_view section) const;
    // The raw value, any length; nullopt when absent.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    // The value, or def when absent or longer than kMaxValueLength.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view def = {}) const;
    // The decimal integer at the start of the value (sign allowed, blanks before it, anything
    // after its digits ignored: "15000 ; Nm" is 15000); def when absent, without digits or out
    // of the range of int.
    int GetInt(std::string_view section, std::string_view key, int def) const;
    // A decimal number with "."; def when absent or not a number.
    double GetDouble(std::string_view section, std::string_view key, double def) const;

    // Sets a value, adding the key at the end of its section or a new section at the end of the
    // file. False (and nothing changed) when a name is empty or holds a line break, "=" (keys)
    // or "]" (sections), or the value holds a line break or is longer than kMaxValueLength.
    bool SetString(std::string_view section, std::string_view key, std::string_view value);
    bool SetInt(std::string_view section, std::string_view key, long long value);
    // Written with up to `decimals` digits after the point ("%.*f" with ".", no trailing zeros
    // removed).
    bool SetDouble(std::string_view section, std::string_view key, double value, int decimals = 6);
    // Removes the key's line; false when absent.
    bool Remove(std::string_view section, std::string_view key);

    // Section names in file order (first spelling of each), and the keys of one section.
    std::vector<std::string> Sections() const;
    std::vector<std::string> Keys(std::string_view section) const;

    static bool NamesEqual(std::string_view a, std::string_view b);

private:
    struct Line {
        enum Kind { Other, Section, Key } kind = Other;
        std::string text;  // the line as it stands in the file, without line end
        std::string eol;   // its line end as it was ("" for a last line without one)
        std::string name;  // section or key name, trimmed
        std::string value; // trimmed value (Key)
    };

    // Index of the section line, or npos. Key lines before the first section belong to no
    // section and are never found.
    size_t FindSection(std::string_view section) const;
    size_t FindKey(size_t sectionLine, std::string_view key) const;
    static Line ParseLine(std::string_view text);

    std::vector<Line> lines_;
    std::string eol_ = "\n"; // for new lines: the file's first line end
    bool bom_ = false;
    enum class Encoding { Utf8, Utf16Le, Utf16Be } encoding_ = Encoding::Utf8;
};
