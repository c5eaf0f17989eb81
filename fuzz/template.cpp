// Report templates are written by users: any bytes must expand without a crash, an endless
// loop or a read outside the image. The template is read from memory and the report written
// into memory, so a run costs no file system work.
#include "report/Printer.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
    // Enough for a template with a few step lists; a runaway template is found ten times sooner.
    p.SetSeekLimit(200);
    if (p.OpenMemory(std::string(reinterpret_cast<const char*>(data), size)) == 0) {
        p.Generate(18, &image, "t", &gear, heads, 1);
        p.CloseFiles();
    }
    return 0;
}
