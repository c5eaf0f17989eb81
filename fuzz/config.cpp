// Configuration file parse on arbitrary bytes: a file whose seal holds must seal again to the
// same 560 bytes; nothing reads outside the input.
#include "files/ConfigFile.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> input(data, data + size); // exact-size copy for ASan
    const ConfigParse parse = ParseConfigFile(input.data(), input.size());
    if (size < kConfigFileSize) {
        if (parse.status != ConfigStatus::kTooShort) {
            std::abort();
        }
        return 0;
    }
    if (parse.trailingBytes != size - kConfigFileSize ||
        std::memcmp(parse.image.data(), data + kConfigSealSize, kConfigImageSize) != 0) {
        std::abort();
    }
    const ConfigFileBytes again = BuildConfigFile(parse.image);
    const bool same = std::memcmp(again.data(), data, kConfigFileSize) == 0;
    if (same != parse.Valid()) {
        std::abort();
    }
    // The stored copy of a valid image is itself a valid file.
    const ConfigFileBytes copy = BuildConfigFile(ConfigurationCopy(parse.image));
    if (!ParseConfigFile(copy.data(), copy.size()).Valid()) {
        std::abort();
    }
    return 0;
}
