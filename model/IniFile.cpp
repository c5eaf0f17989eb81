#include "model/IniFile.h"

#include <climits>
#include <cstdint>

#include "base/FileIo.h"
#include "base/TextCodec.h"
#include "model/Conversions.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

size_t CodePoints(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n", 0) != s.npos;
}

constexpr std::string_view kBom = "\xEF\xBB\xBF";

} // namespace

bool IniFile::NamesEqual(std::string_view a, std::string_view b) {
    a = Trim(a);
    b = Trim(b);
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

IniFile::Line IniFile::ParseLine(std::string_view text) {
    Line line;
    line.text = std::string(text);
    std::string_view t = Trim(text);
    if (t.empty() || t.front() == ';' || t.front() == '#')
        return line;
    if (t.front() == '[') {
        auto close = t.find(']');
        if (close != t.npos) {
            line.kind = Line::Section;
            line.name = std::string(Trim(t.substr(1, close - 1)));
        }
        return line;
    }
    auto eq = t.find('=');
    if (eq == t.npos)
        return line;
    std::string_view name = Trim(t.substr(0, eq));
    if (name.empty())
        return line;
    line.kind = Line::Key;
    line.name = std::string(name);
    line.value = std::string(Trim(t.substr(eq + 1)));
    return line;
}

void IniFile::Parse(std::string_view text) {
    lines_.clear();
    eol_ = "\n";
    // A file saved as UTF-16 (with its mark) is read as such and written back the same way.
    encoding_ = Encoding::Utf8;
    std::string decoded;
    if (text.size() >= 2 &&
        ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'))) {
        encoding_ = text[0] == '\xFF' ? Encoding::Utf16Le : Encoding::Utf16Be;
        decoded = Utf16ToUtf8(Utf16FromBytes(text.substr(2), encoding_ == Encoding::Utf16Be));
        text = decoded;
    }
    bom_ = text.substr(0, kBom.size()) == kBom;
    if (bom_)
        text.remove_prefix(kBom.size());
    bool eolSeen = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        Line line;
        if (end == text.npos) {
            line = ParseLine(text.substr(pos));
            pos = text.size();
        } else {
            line = ParseLine(text.substr(pos, end - pos));
            size_t eolLen =
                text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
            line.eol = std::string(text.substr(end, eolLen));
            pos = end + eolLen;
            if (!eolSeen) {
                eol_ = line.eol;
                eolSeen = true;
            }
        }
        lines_.push_back(std::move(line));
    }
}

bool IniFile::Load(const std::string& path, std::string* error) {
    std::string text;
    if (!ReadWholeFile(path, text, kMaxFileSize, error)) {
        Parse({});
        return false;
    }
    Parse(text);
    return true;
}

std::string IniFile::ToString() const {
    std::string out;
    if (bom_)
        out += kBom;
    for (const Line& l : lines_) {
        out += l.text;
        out += l.eol;
    }
    if (encoding_ == Encoding::Utf8)
        return out;
    const bool big = encoding_ == Encoding::Utf16Be;
    return (big ? "\xFE\xFF" : "\xFF\xFE") + Utf16ToBytes(Utf8ToUtf16(out), big);
}

bool IniFile::Save(const std::string& path, std::string* error) const {
    return WriteFileAtomic(path, ToString(), error);
}

size_t IniFile::FindSection(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Line::Section && NamesEqual(lines_[i].name, section))
            return i;
    return std::string::npos;
}

size_t IniFile::FindKey(size_t sectionLine, std::string_view key) const {
    if (sectionLine == std::string::npos)
        return std::string::npos;
    for (size_t i = sectionLine + 1; i < lines_.size(); ++i) {
        if (lines_[i].kind == Line::Section)
            break;
        if (lines_[i].kind == Line::Key && NamesEqual(lines_[i].name, key))
            return i;
    }
    return std::string::npos;
}

bool IniFile::HasSection(std::string_view section) const {
    return FindSection(section) != std::string::npos;
}

std::optional<std::string> IniFile::Find(std::string_view section, std::string_view key) const {
    size_t k = FindKey(FindSection(section), key);
    if (k == std::string::npos)
        return std::nullopt;
    return lines_[k].value;
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view def) const {
    auto v = Find(section, key);
    if (!v || CodePoints(*v) > kMaxValueLength)
        return std::string(def);
    return *v;
}

int IniFile::GetInt(std::string_view section, std::string_view key, int def) const {
    auto v = Find(section, key);
    if (!v || CodePoints(*v) > kMaxValueLength)
        return def;
    // The leading number, as the platform's profile reading takes it: "15000 ; Nm" is 15000.
    std::string_view t = Trim(*v);
    size_t end = 0;
    if (end < t.size() && (t[end] == '-' || t[end] == '+'))
        ++end;
    const size_t digits = end;
    while (end < t.size() && t[end] >= '0' && t[end] <= '9')
        ++end;
    if (end == digits)
        return def; // no number at all: the default rather than a made-up 0
    auto n = ParseInteger(t.substr(0, end));
    if (!n || *n < INT_MIN || *n > INT_MAX)
        return def;
    return static_cast<int>(*n);
}

double IniFile::GetDouble(std::string_view section, std::string_view key, double def) const {
    auto v = Find(section, key);
    if (!v || CodePoints(*v) > kMaxValueLength)
        return def;
    return ParseDouble(*v).value_or(def);
}

bool IniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    if (section.empty() || HasLineBreak(section) || section.find(']') != section.npos)
        return false;
    if (key.empty() || HasLineBreak(key) || key.find('=') != key.npos || key.front() == '[' ||
        key.front() == ';' || key.front() == '#')
        return false;
    if (HasLineBreak(value) || CodePoints(value) > kMaxValueLength)
        return false;
    if (section.find('\0') != section.npos || key.find('\0') != key.npos ||
        value.find('\0') != value.npos)
        return false;

    // A last line without its line end would run into the new one.
    auto endLastLine = [this] {
        if (!lines_.empty() && lines_.back().eol.empty())
            lines_.back().eol = eol_;
    };

    size_t s = FindSection(section);
    if (s == std::string::npos) {
        endLastLine();
        lines_.push_back(ParseLine("[" + std::string(section) + "]"));
        lines_.back().eol = eol_;
        lines_.push_back(ParseLine(std::string(key) + "=" + std::string(value)));
        lines_.back().eol = eol_;
        return true;
    }
    size_t k = FindKey(s, key);
    if (k != std::string::npos) {
        std::string eol = lines_[k].eol;
        lines_[k] = ParseLine(lines_[k].name + "=" + std::string(value));
        lines_[k].eol = eol;
        return true;
    }
    size_t at = s;
    for (size_t i = s + 1; i < lines_.size() && lines_[i].kind != Line::Section; ++i)
        if (lines_[i].kind == Line::Key)
            at = i;
    if (at == lines_.size() - 1)
        endLastLine();
    Line line = ParseLine(std::string(key) + "=" + std::string(value));
    line.eol = eol_;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at + 1), std::move(line));
    return true;
}

bool IniFile::SetInt(std::string_view section, std::string_view key, long long value) {
    return SetString(section, key, std::to_string(value));
}

bool IniFile::SetDouble(std::string_view section, std::string_view key, double value,
                        int decimals) {
    return SetString(section, key, FormatFixed(value, decimals));
}

bool IniFile::Remove(std::string_view section, std::string_view key) {
    size_t k = FindKey(FindSection(section), key);
    if (k == std::string::npos)
        return false;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(k));
    return true;
}

std::vector<std::string> IniFile::Sections() const {
    std::vector<std::string> out;
    for (const Line& l : lines_) {
        if (l.kind != Line::Section)
            continue;
        bool seen = false;
        for (const auto& n : out)
            seen = seen || NamesEqual(n, l.name);
        if (!seen)
            out.push_back(l.name);
    }
    return out;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
    std::vector<std::string> out;
    size_t s = FindSection(section);
    if (s == std::string::npos)
        return out;
    for (size_t i = s + 1; i < lines_.size() && lines_[i].kind != Line::Section; ++i) {
        if (lines_[i].kind != Line::Key)
            continue;
        bool seen = false;
        for (const auto& n : out)
            seen = seen || NamesEqual(n, lines_[i].name);
        if (!seen)
            out.push_back(lines_[i].name);
    }
    return out;
}
