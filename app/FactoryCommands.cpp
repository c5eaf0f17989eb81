// "Werkseinstellung": the machine back to the parameters it was delivered with.
#include "app/DialogMain.h"

#include "files/FactorySettings.h"
#include "link/ResultCodes.h"

std::string cDialogMain::ProposedFactoryName(const ParameterBlock& machine) {
    return FactoryFileName(machine);
}

bool cDialogMain::RestoreFactorySettings() {
    // The parameter set is put back to set 1 by the read at the end; doing it here would leave
    // the pages on set 2 while the controller counts set 1 whenever the restore stops early.
    linkObject.reset();
    if (!ConnectNewLink())
        return false;
    ParameterBlock machine;
    int result = linkObject->ReadParameterBlock(machine.bytes);
    ClosePort();
    if (result != kResultOk) {
        ShowLinkError(result);
        return false;
    }
    if (ParseFirmwareMajor(machine) < 4) {
        Message("Falsche Firmware-Version");
        return false;
    }

    cUserInterface::FileRequest request;
    request.folder = FactorySettingsFolder();
    request.proposedName = ProposedFactoryName(machine);
    std::string path;
    if (!ui.AskOpenFile(request, path) || path.empty())
        return false;

    ParameterBlock factory;
    if (ReadConfigFile(path, factory) != 0 || factory.WriteMark() != 0 ||
        ParseFirmwareMajor(factory) < 4) {
        Message("ungültige Konfiguration");
        return false;
    }
    if (!FactoryIdentityMatches(factory, machine)) {
        Message("Werkseinstellungen passen nicht zur Maschine");
        return false;
    }
    if (!Ask("Alle Benutzereinstellungen gehen verloren\n\nWollen Sie den Vorgang fortsetzen"))
        return false;

    TakeMachineFields(factory, machine);
    result = WriteToMachine(factory);
    if (result != kResultOk) {
        Message("Fehler bei Datenübertagung");
        return false;
    }
    Message("Werkseinstellungen wurden wieder hergestellt", cUserInterface::Buttons::Ok,
            cUserInterface::Icon::Information);
    const bool readBack = OnReadFromMachine();
    passwordVerified = false;
    settingsChanged = false;
    return readBack;
}
