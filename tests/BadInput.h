// What a user can name in place of a file: every reader of a named path is tested with these.
// A reader must give a clear result for each at once (no hang on the FIFO, no endless read
// from the device, no attempt to load the huge file).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

struct BadInput {
    std::string what; // for the failure message
    std::string path;
};

// Makes "<stem>.fifo", "<stem>.dir", "<stem>.empty" and "<stem>.huge" (sparse, hugeSize bytes)
// in folder; adds /dev/null. Empty when something could not be made.
inline std::vector<BadInput> MakeBadInputs(const std::string& folder, const std::string& stem,
                                           uint64_t hugeSize = uint64_t{3} << 30) {
    const std::string base = folder + "/" + stem;
    std::vector<BadInput> inputs{{"FIFO", base + ".fifo"},
                                 {"folder", base + ".dir"},
                                 {"empty file", base + ".empty"},
                                 {"huge file", base + ".huge"},
                                 {"device", "/dev/null"}};
    if (::mkfifo(inputs[0].path.c_str(), 0600) != 0 || ::mkdir(inputs[1].path.c_str(), 0700) != 0)
        return {};
    if (::truncate(inputs[2].path.c_str(), 0) != 0) {
        FILE* f = std::fopen(inputs[2].path.c_str(), "wb");
        if (!f)
            return {};
        std::fclose(f);
    }
    FILE* f = std::fopen(inputs[3].path.c_str(), "wb");
    if (!f)
        return {};
    std::fclose(f);
    if (::truncate(inputs[3].path.c_str(), static_cast<off_t>(hugeSize)) != 0)
        return {};
    return inputs;
}
