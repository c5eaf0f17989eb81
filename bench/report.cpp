// Generating the report with both step pictures, as a ratio to reading the template and
// writing an output file of the same lines alone. Goal: at most 3.
#include "report/Report.h"
#include "lang/UTF16File.h"
#include "model/MachineCatalog.h"
#include "report/gui/StepGraphicExport.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void CopyTemplate(const std::string& in, const std::string& out) {
    CUTF16File src, dst;
    src.Open(in, CUTF16File::Mode::Read);
    dst.Open(out, CUTF16File::Mode::Write);
    std::u16string line;
    while (src.ReadString(line)) {
        dst.WriteUnicodeText(line);
        dst.WriteUnicodeText(u"\n");
    }
    dst.Close();
}

} // namespace

int main() {
    const std::string templatePath = std::string(KELVANE_BIN_DIR) + "/templates/Torvex.html";
    char dir[] = "/tmp/kelvane-bench-report-XXXXXX";
    if (!mkdtemp(dir))
        return 1;

    ParameterBlock image = ParameterBlock::Default();
    image.SetMachineType("TVX18-4200");
    for (size_t i = 0; i < 10; ++i) {
        image.Step(i).SetSpeed(static_cast<uint16_t>(1500 + 100 * i));
        image.Step(i).SetErrorMask(kErrAngleMax | kErrCurrentMax);
    }
    MachineCatalog catalog;
    catalog.activeTransmission = {1, "1:18,2", 18.2, 0, 0};

    ReportJob job;
    job.image = &image;
    job.machineKind = 18;
    job.title = "Torvex Kelvane  Version 4.0.0.8";
    job.catalog = &catalog;
    job.templatePath = templatePath;
    job.outputFolder = dir;
    job.writePicture = [](const std::string& path, int w, int h,
                          const std::vector<StepShape>& steps, const StepDrawContext& c) {
        return ExportStepGraphic(path, w, h, steps, c);
    };

    const int rounds = 200;
    // Warm up both paths once (file cache, image plugin).
    WriteReport(job);
    CopyTemplate(templatePath, std::string(dir) + "/copy.html");

    auto t0 = Clock::now();
    for (int i = 0; i < rounds; ++i)
        if (WriteReport(job).code != 0)
            return 1;
    auto t1 = Clock::now();
    for (int i = 0; i < rounds; ++i)
        CopyTemplate(templatePath, std::string(dir) + "/copy.html");
    auto t2 = Clock::now();

    const double report = Seconds(t1 - t0) / rounds, copy = Seconds(t2 - t1) / rounds;
    std::printf("report with two pictures: %.3f ms\n", report * 1e3);
    std::printf("template read + output written alone: %.3f ms\n", copy * 1e3);
    std::printf("ratio: %.2f (goal <= 3)\n", report / copy);
    std::system((std::string("rm -rf '") + dir + "'").c_str());
    return 0;
}
