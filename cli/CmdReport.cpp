// kelvane-cli report [--template T] [--out DIR] [--language NAME] IN: the HTML report of an
// image or configuration file with both step pictures, as "Ausgabe" writes it. Template and
// language default to the user's settings; the pictures have the size of the overview strip
// in a window of the usual size (620 x 110, ReportJob's default).
#include "app/Folders.h"
#include "app/ProgramVersion.h"
#include "app/Settings.h"
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

// As the window resolves it; a bare name the user has no copy of (no first run yet) is
// taken from the shipped templates.
std::string TemplateFor(const std::string& name) {
    const fs::path resolved = ResolveTemplatePath(name, DataFolder());
    std::error_code ec;
    if (fs::path(name).has_parent_path() || fs::exists(resolved, ec))
        return resolved.string();
    return (AppFolder() / "templates" / name).string();
}

int RunReport(cli::Args& args) {
    std::string templateName, outDir, language;
    const bool haveTemplate = args.Option("--template", templateName);
    const bool haveOut = args.Option("--out", outDir);
    const bool haveLanguage = args.Option("--language", language);
    std::vector<std::string> files = args.Positional();
    if (args.HasError())
        return 2;
    if (files.size() != 1)
        return cli::Fail("report needs one IN file\nusage: kelvane-cli report [--template T] "
                         "[--out DIR] [--language NAME] IN",
                         2);

    // Template and language as the window has them: from the user's settings file.
    Settings settings;
    const fs::path settingsFile = SettingsFile(DataFolder());
    std::error_code ec;
    if (!settingsFile.empty() && fs::exists(settingsFile, ec))
        LoadSettings(settingsFile, settings);
    if (!haveTemplate)
        templateName = settings.templatePath;

    SetLanguageFolder((AppFolder() / "language").string() + "/");
    SetLanguage("German");
    if (haveLanguage && !IsValidLanguageName(language))
        return cli::Fail("not a language name: '" + language + "'", 2);
    LanguageLoadResult loaded = SetLanguage(haveLanguage ? language : settings.languageName);
    if (!loaded.Ok()) {
        if (haveLanguage)
            return cli::Fail(loaded.Message());
        // The window keeps the German texts when the stored language is gone; so do we.
        std::cerr << "kelvane-cli: " << loaded.Message() << "\n";
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
    fs::create_directories(outDir, ec);

    ReportJob job;
    job.image = &in.image;
    job.machineKind = in.machineKind;
    job.title = TitleVersionText(Translate("Torvex Kelvane"), Translate("Version"));
    job.catalog = &catalog;
    job.templatePath = TemplateFor(templateName);
    // A file carries no fastening count: its values stay empty rather than 0.
    job.fasteningCounter = std::nullopt;
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
