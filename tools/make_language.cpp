// tool_make_language: turns the one table of the program's texts (German TAB English, UTF-8)
// into the language files "german.csv" and "english.csv" (UTF-16LE with FF FE, one line per
// text: 40 hex digits of the German text's digest, TAB, the text).
//
//   tool_make_language --table texts.tsv --out DIR     write DIR/german.csv, DIR/english.csv
//   tool_make_language --table texts.tsv --check DIR   exit 1 unless DIR holds exactly those
//
// The German file maps each text to itself, so wording can be mended without a new build; a
// text whose ends are spaces cannot be stored (the loader trims them) and is left out of it,
// which keeps it exactly as the program passes it.
#include "lang/Language.h"
#include "lang/TextCodec.h"
#include "lang/UTF16File.h"

#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
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
        if (t.german.empty()) {
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
        const std::string& text = english ? t.english : t.german;
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
    std::string bytes = "\xFF\xFE";
    for (char16_t u : units) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    return bytes;
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

} // namespace

int main(int argc, char** argv) {
    std::string table, out, check;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--table" || a == "--out" || a == "--check") && i + 1 < argc) {
            (a == "--table" ? table : a == "--out" ? out : check) = argv[++i];
        } else {
            return Fail("usage: tool_make_language --table FILE (--out DIR | --check DIR)");
        }
    }
    if (table.empty() || out.empty() == check.empty())
        return Fail("usage: tool_make_language --table FILE (--out DIR | --check DIR)");

    std::vector<Text> texts;
    std::string error;
    if (!ReadTable(table, texts, error))
        return Fail(error);

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
