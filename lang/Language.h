// Language tables: every German text the program shows passes through Translate, which
// hands out the text of the active language. Language files hold "<SHA-1 of the German text's
// UTF-16LE units, 40 hex digits> TAB <translation>" per line, UTF-16LE with FF FE (or 8-bit).
//
// The table is the merge of the German file, the chosen language's file over it and the user
// entries ("UserData.csv") over both. Lookup is by hash: a German text is found by its digest,
// and a text already handed out (before a language switch) is found by the digest of that text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CUTF16File;

// The five SHA-1 words H0..H4 of a text's UTF-16LE code units (no mark, no terminator).
using TextDigestWords = std::array<uint32_t, 5>;
TextDigestWords TextDigest(std::u16string_view text);
TextDigestWords TextDigest(std::string_view utf8);
// 40 upper-case hex digits, "%08X%08X%08X%08X%08X".
std::string DigestToHex(const TextDigestWords& digest);

// One entry of a language table.
struct tagLangRecord {
    TextDigestWords key{};      // digest of the German source text
    TextDigestWords current{};  // digest of the text this entry last handed out (0: none)
    TextDigestWords previous{}; // current digest before the entry's text last changed
    std::u16string text;        // the translation
    std::string utf8;           // the same, as handed out by Translate(std::string_view)
    TextDigestWords textDigest{};
};

enum class LanguageLoadStatus {
    Ok,         // read and merged
    Missing,    // cannot be opened (or the name is not a plain file name)
    Unreadable, // read error, or larger than any language file can be
};

struct LanguageLoadResult {
    LanguageLoadStatus status = LanguageLoadStatus::Ok;
    std::string path;
    size_t entries = 0; // lines merged
    size_t skipped = 0; // blank, comment, no TAB, empty text
    size_t line = 0;    // the offending line (1-based), 0 for the whole file
    std::string detail; // Missing/Unreadable: what is wrong, German

    bool Ok() const { return status == LanguageLoadStatus::Ok; }
    // The message box text: "Fehler beim laden der Sprach-Datei !\n\n<path>", then the detail
    // (and line) after a blank line. Not translated: the table may be what failed.
    std::string Message() const;
};

class CLanguage {
public:
    CLanguage();

    // Folder of the language files; a missing trailing '/' is added.
    void SetLanguageFolder(const std::string& folder);
    std::string LanguageFolder() const;
    // Where the user entries are read from; default: language folder + "UserData.csv".
    void SetUserDataFile(const std::string& path);
    std::string UserDataFile() const;

    // Loads "<folder><name>.csv" (file name matched regardless of letter case) over the table,
    // then the user entries over it, and sets LC_NUMERIC to "C". On failure the table and the
    // language name stay as they were; the result says why (its Message() is what to show).
    LanguageLoadResult SetLanguage(const std::string& name);
    // Merges one language file into the table (all or nothing); no user entries, no name.
    LanguageLoadResult LoadLanguageFile(const std::string& path);
    // Outcome of the last attempt to read the user entries (Missing when there is no file).
    LanguageLoadResult UserDataResult() const;

    // Active language's text, or the argument itself when it is empty or unknown.
    std::string Translate(std::string_view text);
    std::u16string Translate(std::u16string_view text);

    // Names of the "*.csv" files in the language folder without ".csv", sorted regardless of
    // letter case; the user-entry file is not a language and is left out.
    std::vector<std::string> AvailableLanguages() const;
    // "English" until the first successful SetLanguage.
    std::string LanguageName() const;
    std::string LanguageFilePath() const;
    size_t Size() const;
    size_t UserEntryCount() const;
    // Copy of the table in table order (tests, tools).
    std::vector<tagLangRecord> Entries() const;
    // Drops both tables and the name (as after construction; the folder is kept).
    void Clear();

    // Reads a language file into records in file order (later lines with the same key
    // replace earlier texts in place). Used by the loader, the tools and the fuzzer.
    static LanguageLoadResult ReadFile(const std::string& path, std::vector<tagLangRecord>& out);
    // The same over a file's bytes in memory.
    static LanguageLoadResult ReadBytes(std::string bytes, std::vector<tagLangRecord>& out);
    // One line of a language file (without its line end): true and the record when the line
    // is an entry; false for a line to skip (blank, comment, no TAB, nothing after the TAB).
    static bool ParseLine(std::u16string_view line, tagLangRecord& out);

private:
    struct DigestHash {
        size_t operator()(const TextDigestWords& d) const {
            return (size_t(d[0]) << 32) ^ d[1] ^ (size_t(d[2]) << 16);
        }
    };
    using DigestIndex = std::unordered_map<TextDigestWords, std::vector<uint32_t>, DigestHash>;
    // Lets the memo be searched with a std::string_view.
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };

    static void ReadLines(CUTF16File& file, LanguageLoadResult& result,
                          std::vector<tagLangRecord>& out);
    void MergeLocked(const std::vector<tagLangRecord>& records);
    void SetTextLocked(tagLangRecord& entry, const tagLangRecord& from);
    void IndexAdd(DigestIndex& index, const TextDigestWords& d, uint32_t i);
    void IndexRemove(DigestIndex& index, const TextDigestWords& d, uint32_t i);
    // Index of the entry that answers a text with digest h, or -1.
    long long LookupLocked(const TextDigestWords& h);
    void ApplyUserDataLocked();
    std::string FindLanguageFile(const std::string& name) const;
    // Reads path into lastFile_, or finds its bytes there already.
    LanguageLoadResult ReadLanguageFileLocked(const std::string& path);

    mutable std::mutex mutex_;
    std::string name_ = "English";
    std::string folder_;
    std::string filePath_;
    std::string userFile_;
    std::vector<tagLangRecord> table_;
    std::vector<tagLangRecord> user_;
    LanguageLoadResult userResult_;
    // The language file read last and what came of it. The start-up asks for "German" and
    // then for the settings' "german", the same file: the same bytes are not parsed again.
    struct LoadedFile {
        std::string path;
        std::string bytes; // as read; reusable only when the file stood still while parsed
        bool reusable = false;
        LanguageLoadResult result;
        std::vector<tagLangRecord> records;
    };
    LoadedFile lastFile_;
    std::unordered_map<TextDigestWords, uint32_t, DigestHash> byKey_;
    DigestIndex byCurrent_;
    DigestIndex byPrevious_;
    // Answers to texts asked before (entry index or -1); dropped whenever the table or any
    // entry's digests change, so it never answers differently from the table.
    std::unordered_map<std::string, long long, TextHash, std::equal_to<>> memo_;
};

// The one language table of the program.
CLanguage& Language();
std::string Translate(std::string_view text);
std::u16string Translate(std::u16string_view text);
void SetLanguageFolder(const std::string& folder);
LanguageLoadResult SetLanguage(const std::string& name);
