// "Werkseinstellung": the machine back to the parameters it was delivered with.
#include "app/DialogMain.h"
#include "app/WriteRoad.h"
#include "model/FirmwareVersion.h"

#include "files/FactorySettings.h"
#include "link/ResultCodes.h"

std::string cDialogMain::ProposedFactoryName(const ParameterBlock& machine) {
    return FactoryFileName(machine);
}

bool cDialogMain::RestoreFactorySettings() {
    SelectFirstSet();
    // machineKind is left to the read at the end: it belongs to the edited image, which a
    // restore that stops early leaves as it was (a loaded kind-14 configuration stays 14).
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
    // A write to this machine that was cut is told and closed before another one begins.
    ReportCutWrites(machine,
                    cWriteRoad::BlockAreaUsable(result, machine, linkObject->BlockOffset()));
    if (FirmwareVersionOf(machine).major < 4) {
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
        FirmwareVersionOf(factory).major < 4) {
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
    BlockWrite write;
    write.options.command = "Werkseinstellung";
    write.options.successText = "Werkseinstellungen wurden wieder hergestellt";
    write.options.failureText = "Fehler bei Datenübertagung";
    write.before = machine;
    write.outgoing = factory;
    const WriteOutcome::End end = cWriteRoad(*this).WriteBlock(write).end;
    if (end == WriteOutcome::End::Failed)
        Message("Fehler bei Datenübertagung");
    if (end != WriteOutcome::End::Written)
        return false;
    Message("Werkseinstellungen wurden wieder hergestellt", cUserInterface::Buttons::Ok,
            cUserInterface::Icon::Information);
    const bool readBack = OnReadFromMachine();
    passwordVerified = false;
    settingsChanged = false;
    return readBack;
}
