// Language files of any bytes: loading never fails badly, a file that is refused leaves the
// table exactly as it was, and lookups of any text answer without going astray.
#include "lang/Language.h"
#include "base/TextCodec.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The bytes as a file without touching the disk.
std::string MemoryFile(const uint8_t* data, size_t size, int& fd) {
    fd = memfd_create("language.csv", 0);
    if (fd < 0)
        return {};
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = -1;
    const std::string path = MemoryFile(data, size, fd);
    if (path.empty())
        return 0;

    CLanguage lang;
    const std::string known = DigestToHex(TextDigest("Zeit")) + "\tTime";
    // A table with one entry, handed out once, then the fuzzed file over it.
    {
        const std::string seed = "\xFF\xFE" + Utf16ToBytes(Utf8ToUtf16(known), false);
        int seedFd = -1;
        const std::string seedPath =
            MemoryFile(reinterpret_cast<const uint8_t*>(seed.data()), seed.size(), seedFd);
        if (!lang.LoadLanguageFile(seedPath).Ok())
            __builtin_trap();
        close(seedFd);
    }
    if (lang.Translate("Zeit") != "Time")
        __builtin_trap();
    const std::vector<tagLangRecord> before = lang.Entries();

    const LanguageLoadResult r = lang.LoadLanguageFile(path);
    if (!r.Ok()) {
        const std::vector<tagLangRecord> after = lang.Entries();
        if (after.size() != before.size() || after[0].utf8 != before[0].utf8 ||
            lang.Translate("Zeit") != "Time")
            __builtin_trap();
        if (r.Message().rfind("Fehler beim laden der Sprach-Datei !\n\n", 0) != 0)
            __builtin_trap();
    } else {
        std::vector<tagLangRecord> records;
        CLanguage::ReadFile(path, records);
        // Every entry of the file answers its key; the table grew by the new keys only.
        if (lang.Size() < before.size() || lang.Size() > before.size() + records.size())
            __builtin_trap();
        for (const tagLangRecord& rec : records) {
            if (Utf16ToUtf8(rec.text) != rec.utf8)
                __builtin_trap();
        }
    }

    // Lookups of texts from the input itself (as UTF-8 and as UTF-16).
    const std::string text(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
    (void)lang.Translate(text);
    (void)lang.Translate(std::u16string_view(Utf8ToUtf16(text)));
    for (const tagLangRecord& e : lang.Entries())
        (void)lang.Translate(e.utf8);
    close(fd);
    return 0;
}
