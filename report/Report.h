// "Ausgabe": the two step pictures, then the report from the chosen template, into the
// documents folder. The pictures need the toolkit, so they are drawn through a callback.
#pragma once

#include "model/MachineCatalog.h"
#include "model/ParameterBlock.h"
#include "model/StepDrawing.h"

#include <functional>
#include <optional>
#include <string>

using StepPictureWriter =
    std::function<bool(const std::string& path, int width, int height,
                       const std::vector<StepShape>& steps, const StepDrawContext& context)>;

struct ReportJob {
    const ParameterBlock* image = nullptr;
    int machineKind = 0;
    std::string title; // titleVersionText
    const MachineCatalog* catalog = nullptr;
    std::optional<uint32_t> fasteningCounter = 0; // none for a file: those values stay empty
    std::string templatePath;                     // as resolved by ResolveTemplatePath
    std::string outputFolder;                     // DocumentsFolder
    int stripWidth = 620, stripHeight = 110;      // size of the overview strip
    double userGearFactor = 1.0;
    StepPictureWriter writePicture; // may be empty: no pictures
};

struct ReportResult {
    int code = 0;        // cPrinter result
    std::string message; // translated, for the message box; empty on success
    std::string outputPath;
    int picturesWritten = 0;
};

// Which steps each picture shows: with "Parametersatz 1+2" set 1's picture runs over the
// first nine steps and set 2's shows step 9 alone.
struct PictureRun {
    const char* fileName;
    size_t first, count;
};
std::array<PictureRun, 2> ReportPictureRuns(const ParameterBlock& image);

ReportResult WriteReport(const ReportJob& job);
