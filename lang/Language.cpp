#include "lang/Language.h"

#include "base/FileIo.h"
#include "base/Hex.h"
#include "base/TextCodec.h"
#include "crypto/SHA1.h"
#include "lang/UTF16File.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace {

// No language file comes near this; a bigger file is not one.
constexpr uint64_t kMaxFileSize = 64u << 20;
// Distinct texts remembered by Translate before the memo starts afresh.
constexpr size_t kMaxMemo = 1u << 16;

const TextDigestWords kZero{};

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

bool LessNoCase(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char x = LowerAscii(a[i]), y = LowerAscii(b[i]);
        if (x != y)
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// "<base>.csv" with the extension in any letter case: the base name, else empty.
std::string CsvBaseName(const std::string& file) {
    if (file.size() <= 4 || !EqualsNoCase(std::string_view(file).substr(file.size() - 4), ".csv"))
        return {};
    return file.substr(0, file.size() - 4);
}

constexpr const char* kUserDataName = "UserData";

} // namespace

TextDigestWords TextDigest(std::u16string_view text) {
    SHA1 sha;
    unsigned char chunk[512];
    size_t n = 0;
    for (char16_t u : text) {
        chunk[n++] = static_cast<unsigned char>(u & 0xFF);
        chunk[n++] = static_cast<unsigned char>(u >> 8);
        if (n == sizeof chunk) {
            sha.Update(chunk, n);
            n = 0;
        }
    }
    sha.Update(chunk, n);
    return sha.Final();
}

TextDigestWords TextDigest(std::string_view utf8) {
    return TextDigest(std::u16string_view(Utf8ToUtf16(utf8)));
}

std::string DigestToHex(const TextDigestWords& digest) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(40);
    for (uint32_t w : digest)
        for (int shift = 28; shift >= 0; shift -= 4)
            out += hex[(w >> shift) & 0xF];
    return out;
}

std::string LanguageLoadResult::Message() const {
    std::string text = "Fehler beim laden der Sprach-Datei !\n\n" + path;
    if (!detail.empty()) {
        text += "\n\n" + detail;
        if (line > 0)
            text += " (Zeile " + std::to_string(line) + ")";
    }
    return text;
}

// --- reading files -----------------------------------------------------------------------

bool CLanguage::ParseLine(std::u16string_view line, tagLangRecord& out) {
    if (line.empty())
        return false;
    if (const size_t cr = line.find(u'\r'); cr != line.npos)
        line = line.substr(0, cr);
    if (const size_t lf = line.find(u'\n'); lf != line.npos)
        line = line.substr(0, lf);
    // A UTF-8 file's mark arrives as U+FEFF at the start of the first line.
    if (!line.empty() && line[0] == 0xFEFF)
        line.remove_prefix(1);
    if (line.empty() || line[0] == u';')
        return false;
    const size_t tab = line.find(u'\t');
    if (tab == line.npos)
        return false;
    std::u16string_view key = line.substr(0, tab);
    std::u16string_view text = line.substr(tab + 1);

    while (!text.empty() && text.back() == u' ')
        text.remove_suffix(1);
    while (!text.empty() && text.front() == u' ')
        text.remove_prefix(1);
    if (text.empty())
        return false;

    // The key column as "%08X%08X%08X%08X%08X" reads it: up to five groups of up to eight hex
    // digits, blanks before a group skipped; missing groups stay zero and whatever follows the
    // digits is ignored. A short key is kept and simply never matches.
    TextDigestWords words{};
    size_t at = 0;
    for (uint32_t& word : words) {
        while (at < key.size() && (key[at] == u' ' || key[at] == u'\v' || key[at] == u'\f'))
            ++at;
        size_t digits = 0;
        int v;
        while (digits < 8 && at < key.size() && (v = HexDigit(key[at])) >= 0) {
            word = (word << 4) | static_cast<uint32_t>(v);
            ++at;
            ++digits;
        }
        if (digits == 0)
            break;
    }

    // "\n" is a line feed; a backslash before any other character keeps the backslash and
    // drops that character ("\\" is one backslash); a backslash at the end stays.
    std::u16string resolved;
    resolved.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size()) {
            resolved += text[i + 1] == u'n' ? u'\n' : u'\\';
            ++i;
        } else {
            resolved += text[i];
        }
    }

    out = tagLangRecord{};
    out.key = words;
    out.text = std::move(resolved);
    out.utf8 = Utf16ToUtf8(out.text);
    out.textDigest = TextDigest(std::u16string_view(out.text));
    return true;
}

LanguageLoadResult CLanguage::ReadFile(const std::string& path, std::vector<tagLangRecord>& out) {
    LanguageLoadResult result;
    result.path = path;
    out.clear();

    CUTF16File file;
    if (!file.Open(path, CUTF16File::Mode::Read)) {
        result.status = LanguageLoadStatus::Missing;
        result.detail = "Datei kann nicht geöffnet werden";
        return result;
    }
    if (file.GetLength() > kMaxFileSize) {
        result.status = LanguageLoadStatus::Unreadable;
        result.detail = "Datei ist zu groß";
        return result;
    }
    ReadLines(file, result, out);
    return result;
}

LanguageLoadResult CLanguage::ReadBytes(std::string bytes, std::vector<tagLangRecord>& out) {
    LanguageLoadResult result;
    out.clear();
    if (bytes.size() > kMaxFileSize) {
        result.status = LanguageLoadStatus::Unreadable;
        result.detail = "Datei ist zu groß";
        return result;
    }
    CUTF16File file;
    file.OpenMemory(std::move(bytes));
    ReadLines(file, result, out);
    return result;
}

void CLanguage::ReadLines(CUTF16File& file, LanguageLoadResult& result,
                          std::vector<tagLangRecord>& out) {
    // Malformed lines are skipped without a word; a file of odd length or without a single
    // entry gives what it has.
    std::unordered_map<TextDigestWords, size_t, DigestHash> seen;
    std::u16string line;
    while (file.ReadString(line)) {
        if (file.GetPosition() > kMaxFileSize) { // grew while being read
            result.status = LanguageLoadStatus::Unreadable;
            result.detail = "Datei ist zu groß";
            out.clear();
            return;
        }
        tagLangRecord record;
        if (!ParseLine(line, record)) {
            ++result.skipped;
            continue;
        }
        ++result.entries;
        const auto [it, added] = seen.emplace(record.key, out.size());
        if (added)
            out.push_back(std::move(record));
        else
            out[it->second] = std::move(record);
    }
    if (file.HasError()) {
        result.status = LanguageLoadStatus::Unreadable;
        result.detail = "Lesefehler";
        out.clear();
    }
}

// --- the table ---------------------------------------------------------------------------

CLanguage::CLanguage() {
    userResult_.status = LanguageLoadStatus::Missing;
}

void CLanguage::SetLanguageFolder(const std::string& folder) {
    std::lock_guard lock(mutex_);
    folder_ = folder;
    if (!folder_.empty() && folder_.back() != '/')
        folder_ += '/';
}

std::string CLanguage::LanguageFolder() const {
    std::lock_guard lock(mutex_);
    return folder_;
}

LanguageLoadResult CLanguage::UserDataResult() const {
    std::lock_guard lock(mutex_);
    return userResult_;
}

void CLanguage::SetUserDataFile(const std::string& path) {
    std::lock_guard lock(mutex_);
    userFile_ = path;
}

std::string CLanguage::UserDataFile() const {
    std::lock_guard lock(mutex_);
    return userFile_.empty() ? folder_ + kUserDataName + ".csv" : userFile_;
}

void CLanguage::IndexAdd(DigestIndex& index, const TextDigestWords& d, uint32_t i) {
    if (d == kZero)
        return;
    index[d].push_back(i);
}

void CLanguage::IndexRemove(DigestIndex& index, const TextDigestWords& d, uint32_t i) {
    if (d == kZero)
        return;
    const auto it = index.find(d);
    if (it == index.end())
        return;
    auto& v = it->second;
    v.erase(std::remove(v.begin(), v.end(), i), v.end());
    if (v.empty())
        index.erase(it);
}

void CLanguage::SetTextLocked(tagLangRecord& entry, const tagLangRecord& from) {
    entry.text = from.text;
    entry.utf8 = from.utf8;
    entry.textDigest = from.textDigest;
}

void CLanguage::MergeLocked(const std::vector<tagLangRecord>& records) {
    for (const tagLangRecord& r : records) {
        const auto it = byKey_.find(r.key);
        if (it != byKey_.end()) {
            SetTextLocked(table_[it->second], r);
            continue;
        }
        tagLangRecord entry;
        entry.key = r.key;
        SetTextLocked(entry, r);
        byKey_.emplace(entry.key, static_cast<uint32_t>(table_.size()));
        table_.push_back(std::move(entry));
    }
    memo_.clear();
}

long long CLanguage::LookupLocked(const TextDigestWords& h) {
    // The first entry in table order that knows h by its key, its current or its previous
    // digest answers.
    long long best = -1;
    auto consider = [&best](long long i) {
        if (best < 0 || i < best)
            best = i;
    };
    if (const auto it = byKey_.find(h); it != byKey_.end())
        consider(it->second);
    if (const auto it = byCurrent_.find(h); it != byCurrent_.end())
        for (uint32_t i : it->second)
            consider(i);
    if (const auto it = byPrevious_.find(h); it != byPrevious_.end())
        for (uint32_t i : it->second)
            consider(i);
    if (best < 0)
        return -1;

    const auto index = static_cast<uint32_t>(best);
    tagLangRecord& e = table_[index];
    const TextDigestWords& t = e.textDigest;
    if (e.key == h) {
        if (t != e.key && t != e.current) {
            IndexRemove(byCurrent_, e.current, index);
            e.current = t;
            IndexAdd(byCurrent_, e.current, index);
            memo_.clear();
        }
    } else if (e.current == h) {
        if (t != e.current) {
            IndexRemove(byPrevious_, e.previous, index);
            IndexRemove(byCurrent_, e.current, index);
            e.previous = e.current;
            e.current = t;
            IndexAdd(byPrevious_, e.previous, index);
            IndexAdd(byCurrent_, e.current, index);
            memo_.clear();
        }
    }
    return best;
}

std::string CLanguage::Translate(std::string_view text) {
    if (text.empty())
        return std::string(text);
    std::lock_guard lock(mutex_);
    if (const auto it = memo_.find(text); it != memo_.end())
        return it->second >= 0 ? table_[static_cast<size_t>(it->second)].utf8 : std::string(text);
    const long long i = LookupLocked(TextDigest(text));
    if (memo_.size() >= kMaxMemo)
        memo_.clear();
    memo_.emplace(std::string(text), i);
    return i >= 0 ? table_[static_cast<size_t>(i)].utf8 : std::string(text);
}

std::u16string CLanguage::Translate(std::u16string_view text) {
    if (text.empty())
        return std::u16string(text);
    std::lock_guard lock(mutex_);
    const long long i = LookupLocked(TextDigest(text));
    return i >= 0 ? table_[static_cast<size_t>(i)].text : std::u16string(text);
}

LanguageLoadResult CLanguage::LoadLanguageFile(const std::string& path) {
    std::vector<tagLangRecord> records;
    LanguageLoadResult result = ReadFile(path, records);
    if (result.Ok()) {
        std::lock_guard lock(mutex_);
        MergeLocked(records);
    }
    return result;
}

std::string CLanguage::FindLanguageFile(const std::string& name) const {
    const std::string exact = folder_ + name + ".csv";
    if (IsRegularFile(exact))
        return exact;
    std::string found;
    if (DIR* dir = ::opendir(folder_.empty() ? "." : folder_.c_str())) {
        while (const dirent* d = ::readdir(dir)) {
            const std::string file = d->d_name;
            const std::string base = CsvBaseName(file);
            if (!base.empty() && EqualsNoCase(base, name) && IsRegularFile(folder_ + file) &&
                (found.empty() || file < found))
                found = file;
        }
        ::closedir(dir);
    }
    return found.empty() ? exact : folder_ + found;
}

void CLanguage::ApplyUserDataLocked() {
    if (user_.empty()) {
        const std::string path = userFile_.empty() ? folder_ + kUserDataName + ".csv" : userFile_;
        std::vector<tagLangRecord> records;
        userResult_ = ReadFile(path, records);
        if (userResult_.Ok())
            user_ = std::move(records);
    }
    MergeLocked(user_);
}

LanguageLoadResult CLanguage::ReadLanguageFileLocked(const std::string& path) {
    // The bytes decide, not the name or the file's times: an edited file is always read anew.
    std::string bytes;
    const bool whole = ReadWholeFile(path, bytes, kMaxFileSize);
    if (whole && lastFile_.reusable && path == lastFile_.path && bytes == lastFile_.bytes)
        return lastFile_.result;
    lastFile_ = LoadedFile{};
    lastFile_.path = path;
    lastFile_.result = ReadFile(path, lastFile_.records);
    std::string after;
    lastFile_.reusable = whole && lastFile_.result.Ok() &&
                         ReadWholeFile(path, after, kMaxFileSize) && after == bytes;
    if (lastFile_.reusable)
        lastFile_.bytes = std::move(bytes);
    return lastFile_.result;
}

LanguageLoadResult CLanguage::SetLanguage(const std::string& name) {
    std::unique_lock lock(mutex_);
    LanguageLoadResult result;
    // The name comes from the settings file: a plain file name, nothing that leaves the folder.
    if (name.empty() || name == "." || name == ".." || name.find('/') != name.npos ||
        name.find('\0') != name.npos) {
        result.status = LanguageLoadStatus::Missing;
        result.path = folder_ + name + ".csv";
        result.detail = "Datei kann nicht geöffnet werden";
    } else {
        const std::string path = FindLanguageFile(name);
        result = ReadLanguageFileLocked(path);
        if (result.Ok()) {
            MergeLocked(lastFile_.records);
            name_ = name;
            filePath_ = path;
        }
    }
    ApplyUserDataLocked();
    // Every number the program writes or reads uses "." as decimal separator.
    std::setlocale(LC_NUMERIC, "C");
    return result;
}

std::vector<std::string> CLanguage::AvailableLanguages() const {
    std::string folder;
    {
        std::lock_guard lock(mutex_);
        folder = folder_;
    }
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str())) {
        while (const dirent* d = ::readdir(dir)) {
            const std::string file = d->d_name;
            const std::string base = CsvBaseName(file);
            if (base.empty() || EqualsNoCase(base, kUserDataName) || !IsRegularFile(folder + file))
                continue;
            names.push_back(base);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end(), LessNoCase);
    return names;
}

std::string CLanguage::LanguageName() const {
    std::lock_guard lock(mutex_);
    return name_;
}

std::string CLanguage::LanguageFilePath() const {
    std::lock_guard lock(mutex_);
    return filePath_;
}

size_t CLanguage::Size() const {
    std::lock_guard lock(mutex_);
    return table_.size();
}

size_t CLanguage::UserEntryCount() const {
    std::lock_guard lock(mutex_);
    return user_.size();
}

std::vector<tagLangRecord> CLanguage::Entries() const {
    std::lock_guard lock(mutex_);
    return table_;
}

void CLanguage::Clear() {
    std::lock_guard lock(mutex_);
    table_.clear();
    user_.clear();
    byKey_.clear();
    byCurrent_.clear();
    byPrevious_.clear();
    memo_.clear();
    name_ = "English";
    filePath_.clear();
    userResult_ = LanguageLoadResult{};
    userResult_.status = LanguageLoadStatus::Missing;
    lastFile_ = LoadedFile{};
}

// --- the program's table -----------------------------------------------------------------

CLanguage& Language() {
    static CLanguage table;
    return table;
}

std::string Translate(std::string_view text) {
    return Language().Translate(text);
}
std::u16string Translate(std::u16string_view text) {
    return Language().Translate(text);
}
void SetLanguageFolder(const std::string& folder) {
    Language().SetLanguageFolder(folder);
}
LanguageLoadResult SetLanguage(const std::string& name) {
    return Language().SetLanguage(name);
}
