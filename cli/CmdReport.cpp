// kelvane-cli report [--template T] [--out DIR] [--language NAME] IN: the HTML report of an
// image or configuration file with both step pictures, as "Ausgabe" writes it.
#include "app/Folders.h"
#include "app/ProgramVersion.h"
#include "cli/Cli.h"
#include "cli/ImageInput.h"
#include "lang/Language.h"
#include "report/Printer.h"
#include "report/Report.h"
#ifdef KELVANE_HAVE_GUI
#include "report/gui/StepGraphicExport.h"
#endif

#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;

namespace {

std::string TemplateFor(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return name;
    // The user's copy first, as the program uses it; else the shipped one.
    const fs::path user = DataFolder() / "templates" / name;
    std::error_code ec;
    if (fs::exists(user, ec))
        return user.string();
    return (AppFolder() / "templates" / name).string();
}

int RunReport(cli::Args& args) {
    std::string templateName = "Torvex.html", outDir, language;
    args.Option("--template", templateName);
    const bool haveOut = args.Option("--out", outDir);
    const bool haveLanguage = args.Option("--language", language);
    std::vector<std::string> files = args.Positional();
    if (args.HasError())
        return 2;
    if (files.size() != 1)
        return cli::Fail("report needs one IN file\nusage: kelvane-cli report [--template T] "
                         "[--out DIR] [--language NAME] IN",
                         2);

    SetLanguageFolder((AppFolder() / "language").string() + "/");
    SetLanguage("German");
    if (haveLanguage) {
        LanguageLoadResult r = SetLanguage(language);
        if (!r.Ok())
            return cli::Fail(r.Message());
    }

    ImageInput in;
    std::string error;
    if (!ReadImageInput(files[0], in, error))
        return cli::Fail(error);
    if (in.isConfig && !in.sealHolds)
        return cli::Fail(files[0] + ": " + Translate("ungültige Konfiguration"));
    MachineCatalog catalog;
    LoadCatalogFor(in.image, catalog);

    if (!haveOut)
        outDir = DocumentsFolder().string();
    std::error_code ec;
    fs::create_directories(outDir, ec);

    ReportJob job;
    job.image = &in.image;
    job.machineKind = in.machineKind;
    job.title = TitleVersionText(Translate("Torvex Kelvane"), Translate("Version"));
    job.catalog = &catalog;
    job.templatePath = TemplateFor(templateName);
    job.outputFolder = outDir;
    const double factor = in.image.UserTransmission() / 100.0;
    job.userGearFactor = factor >= 0.01 ? factor : 1.0;
#ifdef KELVANE_HAVE_GUI
    job.writePicture = [](const std::string& path, int w, int h,
                          const std::vector<StepShape>& steps, const StepDrawContext& c) {
        std::string why;
        if (!ExportStepGraphic(path, w, h, steps, c, &why)) {
            std::cerr << "kelvane-cli: " << path << ": " << why << "\n";
            return false;
        }
        return true;
    };
#endif
    ReportResult r = WriteReport(job);
    if (r.code != cPrinter::kOk)
        return cli::Fail(r.message.empty() ? "report not written" : r.message);
    std::cout << r.outputPath << "\n";
    return 0;
}

} // namespace

KELVANE_CLI_COMMAND("report", "report [--template T] [--out DIR] [--language NAME] IN", RunReport);
