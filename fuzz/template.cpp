// Report templates are written by users: any bytes must expand without a crash, an endless
// loop or a read outside the image.
#include "report/Printer.h"

#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string dir = [] {
        // Memory-backed where there is one: every run writes and renames two files.
        char shm[] = "/dev/shm/kelvane-fuzz-template-XXXXXX";
        if (mkdtemp(shm))
            return std::string(shm);
        char d[] = "/tmp/kelvane-fuzz-template-XXXXXX";
        return std::string(mkdtemp(d) ? d : "/tmp");
    }();
    const std::string in = dir + "/t.html", out = dir + "/o.html";
    FILE* f = std::fopen(in.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    ParameterBlock image = ParameterBlock::Default();
    if (size > 0)
        image.SetModeFlags(data[0]);
    for (size_t i = 0; i < 10 && i + 1 < size; ++i) {
        image.Step(i).SetErrorMask(static_cast<uint16_t>(data[i + 1] << 1));
        image.Step(i).SetNextStep(data[i + 1] & 1 ? 0xFF : static_cast<uint8_t>(i + 1));
    }
    TransmissionEntry gear{1, "g", 18.2, 0, 0};
    std::array<TransmissionEntry, 21> heads{};
    cPrinter p;
    if (p.OpenFiles(in, out) == 0) {
        p.Generate(18, &image, "t", &gear, heads, 1);
        p.CloseFiles();
    }
    return 0;
}
