// "Konfiguration" / "Speichern" and "Laden": the image as a sealed configuration file.
#include "app/DialogMain.h"
#include "model/FirmwareVersion.h"

#include "files/ConfigFile.h"
#include "files/FactorySettings.h"
#include "lang/Language.h"

#include <system_error>

namespace fs = std::filesystem;

namespace {

const TransmissionEntry kNoEntry{};

} // namespace

ParameterBlock cDialogMain::ConfigurationCopy(const ParameterBlock& source) {
    ParameterBlock copy;
    copy.bytes = ::ConfigurationCopy(source.bytes);
    return copy;
}

std::string cDialogMain::ProposedConfigName(const ParameterBlock& source) {
    return ConfigFileName(source);
}

int cDialogMain::ReadConfigFile(const std::string& path, ParameterBlock& out) {
    return ::ReadConfigFile(path, out.bytes);
}

int cDialogMain::WriteConfigFile(const std::string& path, const ParameterBlock& source,
                                 std::string* error) {
    return ::WriteConfigFile(path, source.bytes, error);
}

bool cDialogMain::SaveConfiguration() {
    if (!dataLoaded) {
        Message("ungültige Konfigurationsdaten");
        return false;
    }
    cUserInterface::FileRequest request;
    request.folder = ConfigurationsFolder();
    request.proposedName = ProposedConfigName(image);
    if (!request.folder.empty()) {
        std::error_code ec;
        fs::create_directories(request.folder, ec);
    }
    std::string path;
    if (!ui.AskSaveFile(request, path) || path.empty())
        return false;

    sheet.CommitHeader();
    sheet.CommitSteps(5);
    sheet.CommitMaintenance();

    std::string error;
    if (WriteConfigFile(path, ConfigurationCopy(image), &error) != 0) {
        // Nothing was written: the edits still count as unsaved.
        ui.ShowMessage(Translate("Die Konfiguration konnte nicht gespeichert werden") + "\n\n" +
                       path + (error.empty() ? "" : "\n" + error));
        return false;
    }
    settingsChanged = false;
    return true;
}

bool cDialogMain::LoadConfiguration() {
    cUserInterface::FileRequest request;
    request.folder = ConfigurationsFolder();
    std::string path;
    if (!ui.AskOpenFile(request, path) || path.empty())
        return false;

    ParameterBlock buffer;
    if (ReadConfigFile(path, buffer) != 0 ||
        !TakeConfiguration(buffer, fs::path(path).stem().string())) {
        Message("ungültige Konfiguration");
        return false;
    }
    return true;
}

bool cDialogMain::TakeConfiguration(const ParameterBlock& buffer, const std::string& name) {
    const int kind = buffer.MachineKindFromModel();
    if (FirmwareVersionOf(buffer).major < 4 || (kind != 14 && kind != 18))
        return false;

    machineKind = kind;
    sheet.SetMachineKind(machineKind);
    image = buffer;

    std::string message;
    const bool catalogKnowsMachine =
        catalog.LookupTransmission(catalogFile.string(), image, &message) == 0;
    ShowCatalogMessage(message);
    sheet.SetTransmission(catalog.activeTransmission);
    const TransmissionEntry* head = catalog.AngleHeadEntry(image.AngleHead());
    sheet.SetAngleHead(head ? *head : kNoEntry);

    dataLoaded = true;
    // A gearbox or angle head the catalog does not describe would convert speeds and angles
    // with a wrong ratio: such a configuration is shown but not edited, as after a read.
    sheet.LockPages(!catalogKnowsMachine);

    currentSet = 0;
    controls.setListSelection = 0;
    stepCount = 5;
    sheet.BindPages(image, 0);
    userGearFactor = image.UserTransmission() / 100.0;
    sheet.SetGearFactor(userGearFactor);

    configName = name;
    if (portSelection.AdapterPresent())
        controls.writeButtonEnabled = true;
    dataOrigin = kDataOriginFile;
    DrawStepOverview();
    if (!image.ParameterisationAllowed())
        sheet.LockPages(true);
    // Cleared first, so that the set change of the expert mode does not commit the pages back
    // into the image just loaded.
    settingsChanged = false;
    SetExpertMode(image.ExpertMode());
    return true;
}
