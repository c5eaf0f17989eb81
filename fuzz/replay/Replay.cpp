// Feeds every file of a fuzz target's corpus to the target once, without libFuzzer: a finding
// added to the corpus stays fixed. Usage: fuzz_corpora TARGET FOLDER...
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_targets.h" // kTargets: the name and entry of every target

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s TARGET FOLDER...\n", argv[0]);
        return 2;
    }
    int (*entry)(const uint8_t*, size_t) = nullptr;
    for (const auto& t : kTargets)
        if (std::strcmp(t.name, argv[1]) == 0)
            entry = t.entry;
    if (!entry) {
        std::fprintf(stderr, "no fuzz target \"%s\"\n", argv[1]);
        return 2;
    }
    size_t files = 0;
    for (int i = 2; i < argc; ++i) {
        std::error_code ec;
        std::vector<std::filesystem::path> paths;
        for (const auto& e : std::filesystem::directory_iterator(argv[i], ec))
            if (e.is_regular_file())
                paths.push_back(e.path());
        if (ec) {
            std::fprintf(stderr, "%s: %s\n", argv[i], ec.message().c_str());
            return 2;
        }
        for (const auto& p : paths) {
            std::ifstream in(p, std::ios::binary);
            const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
            std::printf("%s\n", p.c_str());
            std::fflush(stdout);
            entry(bytes.data(), bytes.size());
            ++files;
        }
    }
    std::printf("%zu inputs\n", files);
    return files ? 0 : 1;
}
