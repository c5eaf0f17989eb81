// INI text of any bytes: parsing never fails, the text comes back unchanged (UTF-16 text in its
// own encoding), a value that was set reads back, and the catalog reads whatever the file holds
// without going astray.
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/IniFile.h"
#include "model/MachineCatalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    IniFile ini;
    ini.Parse(text);
    const std::string out = ini.ToString();
    const bool utf16 =
        size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF));
    if (!utf16 && out != text)
        __builtin_trap();
    if (utf16) {
        // UTF-16 text comes back as UTF-16 with the same mark; well-formed text byte for byte,
        // a lone last byte or half a surrogate pair once mended stays as mended.
        if (out.compare(0, 2, text, 0, 2) != 0 || out.size() > text.size())
            __builtin_trap();
        IniFile again;
        again.Parse(out);
        if (again.ToString() != out)
            __builtin_trap();
    }

    for (const auto& section : ini.Sections()) {
        for (const auto& key : ini.Keys(section)) {
            if (!ini.Find(section, key))
                __builtin_trap();
            (void)ini.GetString(section, key, "d");
            (void)ini.GetInt(section, key, 0);
            (void)ini.GetDouble(section, key, 0);
            TransmissionEntry e;
            (void)ParseEntryLine(*ini.Find(section, key), e);
        }
    }

    MachineCatalog catalog;
    catalog.LoadCatalog(ini, "TVX18");
    std::string message;
    catalog.LoadBattery(ini, "TVX18", 18, &message);
    for (int gear : {0, 1, 3, 20})
        for (int head : {0, 1, 2})
            catalog.LookupTransmission(ini, "TVX18", gear, head, catalog.activeTransmission,
                                       &message);

    if (ini.SetString("Fuzz Section", "fuzz key", "value 1")) {
        if (ini.GetString("fuzz section", "FUZZ KEY") != "value 1")
            __builtin_trap();
        IniFile again;
        again.Parse(ini.ToString());
        if (again.GetString("Fuzz Section", "fuzz key") != "value 1")
            __builtin_trap();
    }
    return 0;
}
