// INI text of any bytes: parsing never fails, the text comes back unchanged, a value that was
// set reads back, and the catalog reads whatever the file holds without going astray.
#include <cstddef>
#include <cstdint>
#include <string>

#include "model/IniFile.h"
#include "model/MachineCatalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    IniFile ini;
    ini.Parse(text);
    if (ini.ToString() != text)
        __builtin_trap();

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
