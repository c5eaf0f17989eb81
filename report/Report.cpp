#include "report/Report.h"

#include "lang/Language.h"
#include "report/Printer.h"

std::array<PictureRun, 2> ReportPictureRuns(const ParameterBlock& image) {
    if (image.ParameterSet12())
        return {{{"programSteps1.jpg", 0, 9}, {"programSteps2.jpg", 9, 1}}};
    return {{{"programSteps1.jpg", 0, 5}, {"programSteps2.jpg", 5, 5}}};
}

ReportResult WriteReport(const ReportJob& job) {
    ReportResult result;
    std::string folder = job.outputFolder;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    result.outputPath = folder + "Torvex.html";
    if (!job.image || !job.catalog) {
        result.code = cPrinter::kMissingReference;
        return result;
    }

    if (job.writePicture) {
        StepDrawContext context;
        context.machineKind = job.machineKind;
        context.userGearFactor = job.userGearFactor;
        context.batteryMaxSpeed = job.catalog->batteryMaxSpeed;
        for (const PictureRun& run : ReportPictureRuns(*job.image)) {
            // The report refers to the pictures whether or not they could be written.
            if (job.writePicture(folder + run.fileName, job.stripWidth, job.stripHeight,
                                 StepShapes(*job.image, run.first, run.count), context))
                ++result.picturesWritten;
        }
    }

    cPrinter printer;
    result.code = printer.OpenFiles(job.templatePath, result.outputPath, &result.message);
    if (result.code != cPrinter::kOk)
        return result;
    if (!job.fasteningCounter)
        printer.SetNoFasteningCount();
    result.code =
        printer.Generate(job.machineKind, job.image, job.title, &job.catalog->activeTransmission,
                         job.catalog->angleHeadTable, job.fasteningCounter.value_or(0));
    const bool closed = printer.CloseFiles();
    if (result.code == cPrinter::kRunaway)
        result.message = Translate("ungültige Druckvorlage");
    else if (result.code == cPrinter::kOk && !closed) {
        result.code = cPrinter::kOpenFailed;
        result.message = Translate("ungültige HTML-Ausgabedatei");
    }
    return result;
}
