#include "tests/lang/FixtureLangFiles.h"

#include "base/TextCodec.h"
#include "lang/Language.h"

#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

TempFolder::TempFolder() {
    std::string base = std::filesystem::temp_directory_path().string() + "/kelvane-lang-XXXXXX";
    std::vector<char> name(base.begin(), base.end());
    name.push_back('\0');
    if (!mkdtemp(name.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = std::string(name.data()) + "/";
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

void TempFolder::Write(const std::string& name, std::string_view bytes) const {
    std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempFolder::Read(const std::string& name) const {
    std::ifstream in(File(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

size_t TempFolder::EntryCount() const {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(path_))
        ++n;
    return n;
}

std::string Utf16Le(std::string_view utf8, bool mark) {
    std::string out = mark ? "\xFF\xFE" : "";
    for (char16_t u : Utf8ToUtf16(utf8)) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

std::string Utf16Be(std::string_view utf8) {
    std::string out = "\xFE\xFF";
    for (char16_t u : Utf8ToUtf16(utf8)) {
        out += static_cast<char>(u >> 8);
        out += static_cast<char>(u & 0xFF);
    }
    return out;
}

std::string EntryLine(std::string_view german, std::string_view text) {
    return DigestToHex(TextDigest(german)) + "\t" + std::string(text);
}
