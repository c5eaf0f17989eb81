// tool_make_language: turns the one table of the program's texts (German TAB English, UTF-8)
// into the language files "german.csv" and "english.csv" (UTF-16LE with FF FE, one line per
// text: 40 hex digits of the German text's digest, TAB, the text).
//
//   tool_make_language --table texts.tsv --out DIR     write DIR/german.csv, DIR/english.csv
//   tool_make_language --table texts.tsv --check DIR   exit 1 unless DIR holds exactly those
//   tool_make_language --table texts.tsv --sources ROOT
//       exit 1 when the program's sources under ROOT hand a text literal to Translate (or to
//       a call that shows it translated: messages, window titles, labels, buttons, lists,
//       or hands it out as *message for the caller to show) that the table does not know
//
// The German file maps each text to itself, so wording can be mended without a new build. It
// holds every key the other files hold: a language switched back to German replaces only the
// keys its file has. A text whose ends are spaces is stored without them (the loader trims
// them anyway).
#include "base/TextCodec.h"
#include "lang/Language.h"
#include "lang/UTF16File.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Text {
    std::string german;
    std::string english;
    size_t line;
};

int Fail(const std::string& message) {
    std::cerr << "tool_make_language: " << message << "\n";
    return 1;
}

// "\n", "\t" and "\\" of the table; false for any other backslash sequence.
bool Unescape(const std::string& in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (i + 1 >= in.size())
            return false;
        const char c = in[++i];
        if (c == 'n')
            out += '\n';
        else if (c == 't')
            out += '\t';
        else if (c == '\\')
            out += '\\';
        else
            return false;
    }
    return true;
}

// The text column of a language file: "\n" for a line feed, "\\" for a backslash.
std::string EscapeForFile(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

bool Storable(const std::string& text) {
    return !text.empty() && text.front() != ' ' && text.back() != ' ' &&
           text.find('\r') == std::string::npos;
}

bool ReadTable(const std::string& path, std::vector<Text>& texts, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be opened";
        return false;
    }
    std::map<std::string, size_t> seen;
    std::string line;
    size_t lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const std::string where = path + ":" + std::to_string(lineNo) + ": ";
        if (!IsValidUtf8(line)) {
            error = where + "not UTF-8";
            return false;
        }
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || line.find('\t', tab + 1) != std::string::npos) {
            error = where + "needs exactly one TAB between the German and the English text";
            return false;
        }
        Text t;
        t.line = lineNo;
        if (!Unescape(line.substr(0, tab), t.german) ||
            !Unescape(line.substr(tab + 1), t.english)) {
            error = where + "unknown backslash sequence (use \\n, \\t or \\\\)";
            return false;
        }
        if (t.german.find_first_not_of(' ') == std::string::npos) {
            error = where + "empty German text";
            return false;
        }
        if (!Storable(t.english)) {
            error = where + "the English text is empty, starts or ends with a space, or holds "
                            "a carriage return; a language file cannot hold that";
            return false;
        }
        if (t.german.find('\r') != std::string::npos) {
            error = where + "the German text holds a carriage return";
            return false;
        }
        if (const auto [it, added] = seen.emplace(t.german, lineNo); !added) {
            error = where + "German text already on line " + std::to_string(it->second);
            return false;
        }
        texts.push_back(std::move(t));
    }
    if (texts.empty()) {
        error = path + ": no texts";
        return false;
    }
    return true;
}

// The file's text as UTF-16 units (without the mark), CR LF line ends.
std::u16string MakeFile(const std::vector<Text>& texts, bool english) {
    std::string utf8 = english ? "; Kelvane language file: English. Made by tool_make_language "
                                 "from tools/texts.tsv; do not edit.\r\n"
                               : "; Kelvane language file: German. Made by tool_make_language "
                                 "from tools/texts.tsv; do not edit.\r\n";
    for (const Text& t : texts) {
        std::string text = english ? t.english : t.german;
        if (!english) {
            text.erase(0, text.find_first_not_of(' '));
            text.erase(text.find_last_not_of(' ') + 1);
        }
        if (!Storable(text))
            continue;
        utf8 += DigestToHex(TextDigest(std::string_view(t.german)));
        utf8 += '\t';
        utf8 += EscapeForFile(text);
        utf8 += "\r\n";
    }
    return Utf8ToUtf16(utf8);
}

// The bytes of the file: FF FE, then the units little-endian.
std::string FileBytes(const std::u16string& units) {
    return "\xFF\xFE" + Utf16ToBytes(units, false);
}

bool WriteFile(const std::string& path, const std::u16string& units) {
    // CUTF16File writes the mark itself and renames a finished temporary file into place.
    CUTF16File out;
    if (!out.Open(path, CUTF16File::Mode::Write))
        return false;
    if (!out.WriteUnicodeText(std::u16string_view(units))) {
        out.Discard();
        return false;
    }
    return out.Close();
}

bool ReadBytes(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    bytes = s.str();
    return true;
}

// --- texts the sources show ------------------------------------------------------------

// Calls whose first argument, when it is a literal, is a German text the user gets to see
// translated (directly, or by the window translation of its widget).
const char* const kShowingCalls[] = {"Translate",
                                     "Tr",
                                     "T",
                                     "Message",
                                     "Ask",
                                     "SetStatusText",
                                     "ShowStatus",
                                     "ShowCatalogMessage",
                                     "showMessage",
                                     "ShowTransfer",
                                     "setWindowTitle",
                                     "setText",
                                     "setTitle",
                                     "setTabText",
                                     "QLabel",
                                     "QPushButton",
                                     "QCheckBox",
                                     "QGroupBox",
                                     "QRadioButton",
                                     "QAction",
                                     "addRow",
                                     "addButton",
                                     "addItem",
                                     "addItems",
                                     "addMenu",
                                     "addAction",
                                     "AddRow",
                                     "ErrorRow"};

bool IsIdentChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

void SkipSpace(const std::string& s, size_t& i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r'))
        ++i;
}

// A C++ string literal at s[i] (with u8 prefix and adjacent literals joined); false when
// there is none (or a raw or unusual one).
bool ReadLiteral(const std::string& s, size_t& i, std::string& out) {
    out.clear();
    bool any = false;
    for (;;) {
        size_t j = i;
        SkipSpace(s, j);
        if (s.compare(j, 3, "u8\"") == 0)
            j += 2;
        if (j >= s.size() || s[j] != '"')
            return any;
        ++j;
        while (j < s.size() && s[j] != '"') {
            if (s[j] == '\n')
                return false;
            if (s[j] == '\\' && j + 1 < s.size()) {
                const char c = s[++j];
                out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
            } else {
                out += s[j];
            }
            ++j;
        }
        if (j >= s.size())
            return false;
        i = j + 1;
        any = true;
    }
}

struct Found {
    std::string file;
    size_t line;
    std::string text;
};

bool IsLanguageText(const std::string& text) {
    // Numbers and signs ("0", "0.2", "%") are no language texts.
    return std::any_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c & 0x80);
    });
}

void ScanFile(const std::filesystem::path& path, std::vector<Found>& found) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    const std::string s = ss.str();
    auto lineOf = [&s](size_t at) {
        return static_cast<size_t>(std::count(s.begin(), s.begin() + static_cast<long>(at), '\n')) +
               1;
    };
    // Every literal inside the argument list of a showing call.
    for (const char* call : kShowingCalls) {
        const std::string name = call;
        for (size_t at = s.find(name); at != std::string::npos; at = s.find(name, at + 1)) {
            if (at > 0 && IsIdentChar(s[at - 1]))
                continue;
            size_t i = at + name.size();
            SkipSpace(s, i);
            if (i >= s.size() || s[i] != '(')
                continue;
            int depth = 1;
            ++i;
            while (i < s.size() && depth > 0) {
                const char c = s[i];
                if (c == '"') {
                    std::string text;
                    const size_t start = i;
                    if (!ReadLiteral(s, i, text)) {
                        i = start + 1;
                        continue;
                    }
                    if (IsLanguageText(text))
                        found.push_back({path.string(), lineOf(start), text});
                    continue;
                }
                if (c == '\'') { // character literal
                    i += (i + 1 < s.size() && s[i + 1] == '\\') ? 4 : 3;
                    continue;
                }
                if (c == '(')
                    ++depth;
                else if (c == ')')
                    --depth;
                else if (c == ';')
                    break;
                ++i;
            }
        }
    }
    // Findings handed out for the caller to show: *message = "text".
    for (size_t at = s.find("*message"); at != std::string::npos; at = s.find("*message", at + 1)) {
        size_t i = at + 8;
        SkipSpace(s, i);
        if (i >= s.size() || s[i] != '=' || (i + 1 < s.size() && s[i + 1] == '='))
            continue;
        ++i;
        std::string text;
        const size_t start = i;
        if (ReadLiteral(s, i, text) && IsLanguageText(text))
            found.push_back({path.string(), lineOf(start), text});
    }
    // Label tables: {number or name, "text"}.
    for (size_t at = s.find('{'); at != std::string::npos; at = s.find('{', at + 1)) {
        size_t i = at + 1;
        SkipSpace(s, i);
        const size_t token = i;
        while (i < s.size() && IsIdentChar(s[i]))
            ++i;
        if (i == token)
            continue;
        SkipSpace(s, i);
        if (i >= s.size() || s[i] != ',')
            continue;
        ++i;
        std::string text;
        const size_t start = i;
        if (!ReadLiteral(s, i, text))
            continue;
        SkipSpace(s, i);
        if (i < s.size() && s[i] == '}' && IsLanguageText(text))
            found.push_back({path.string(), lineOf(start), text});
    }
}

int CheckSources(const std::string& root, const std::vector<Text>& texts) {
    std::map<std::string, bool> known;
    for (const Text& t : texts)
        known[t.german] = true;
    std::vector<Found> found;
    for (const char* sub : {"app", "pages", "report", "lang", "link", "files", "model", "fleet"}) {
        const std::filesystem::path dir = std::filesystem::path(root) / sub;
        std::error_code ec;
        if (!std::filesystem::is_directory(dir, ec))
            continue;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir, ec)) {
            const std::string ext = e.path().extension().string();
            if (e.is_regular_file() && (ext == ".cpp" || ext == ".h"))
                ScanFile(e.path(), found);
        }
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return std::tie(a.file, a.line, a.text) < std::tie(b.file, b.line, b.text);
    });
    found.erase(std::unique(found.begin(), found.end(),
                            [](const Found& a, const Found& b) {
                                return a.file == b.file && a.line == b.line && a.text == b.text;
                            }),
                found.end());
    size_t missing = 0;
    for (const Found& f : found) {
        if (known.count(f.text))
            continue;
        std::string shown;
        for (char c : f.text)
            shown += c == '\n' ? std::string("\\n") : std::string(1, c);
        std::cerr << f.file << ":" << f.line << ": \"" << shown
                  << "\" is not in the table of texts\n";
        ++missing;
    }
    if (missing > 0) {
        std::cerr << "tool_make_language: " << missing
                  << " shown texts missing from the table; add them (German TAB English)\n";
        return 1;
    }
    std::cout << found.size() << " shown texts in the sources, all in the table\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const char* usage = "usage: tool_make_language --table FILE (--out DIR | --check DIR | "
                        "--sources ROOT)";
    std::string table, out, check, sources;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--table" || a == "--out" || a == "--check" || a == "--sources") &&
            i + 1 < argc) {
            (a == "--table"   ? table
             : a == "--out"   ? out
             : a == "--check" ? check
                              : sources) = argv[++i];
        } else {
            return Fail(usage);
        }
    }
    if (table.empty() || (!out.empty()) + (!check.empty()) + (!sources.empty()) != 1)
        return Fail(usage);

    std::vector<Text> texts;
    std::string error;
    if (!ReadTable(table, texts, error))
        return Fail(error);

    if (!sources.empty())
        return CheckSources(sources, texts);

    const std::pair<const char*, bool> files[] = {{"german.csv", false}, {"english.csv", true}};
    if (!out.empty()) {
        for (const auto& [name, english] : files) {
            const std::string path = out + "/" + name;
            if (!WriteFile(path, MakeFile(texts, english)))
                return Fail(path + ": cannot be written");
        }
        return 0;
    }
    int status = 0;
    for (const auto& [name, english] : files) {
        const std::string path = check + "/" + name;
        std::string have;
        if (!ReadBytes(path, have)) {
            std::cerr << "tool_make_language: " << path << " is missing\n";
            status = 1;
        } else if (have != FileBytes(MakeFile(texts, english))) {
            std::cerr << "tool_make_language: " << path << " differs from what " << table
                      << " gives; run tool_make_language --table " << table << " --out " << check
                      << "\n";
            status = 1;
        }
    }
    if (status == 0)
        std::cout << texts.size() << " texts; " << check << " is up to date\n";
    return status;
}
