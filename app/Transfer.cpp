// "von Maschine" and "zur Maschine": moving the parameter image between machine and editor.
#include "app/DialogMain.h"
#include "app/WriteRoad.h"
#include "fleet/Compliance.h"

#include "lang/Language.h"
#include "link/ResultCodes.h"
#include "model/FirmwareVersion.h"

#include <string>

namespace {

const TransmissionEntry kNoEntry{};

} // namespace

void cDialogMain::ShowLinkError(int code) {
    if (const char* text = ResultMessage(code))
        Message(text);
    else if (const char* reason = FailureReason())
        Message(reason);
    else if (code == kResultRefused)
        Message("Die Maschine hat den Befehl abgelehnt.");
}

void cDialogMain::ShowRecoveryHint(bool usable) {
    // As the firmware command says it: only an update with recovery brings such a machine back.
    if (!usable)
        Message("Der Parameterbereich der Maschine ist nicht lesbar.\n\nWiederherstellung: "
                "Firmware Update mit Wiederherstellung (kelvane-cli firmware --recover DATEI)");
}

int cDialogMain::ReadFromMachine(ParameterBlock& destination) {
    if (OpenSelectedPort() != kResultOk)
        return kResultPortFailed;
    int result = kResultRefused;
    if (linkObject) {
        result = linkObject->Connect();
        if (result != kResultOk) {
            ShowConnectFailure();
        } else {
            ParameterBlock block;
            result = linkObject->ReadParameterBlock(block.bytes);
            if (result == kResultOk)
                destination = block;
        }
    }
    // The machine's restart after the close is waited for by the next opening of the port.
    ClosePort();
    return result;
}

bool cDialogMain::OnReadFromMachine() {
    // Set 1 is shown first, whatever the read brings; a read that fails leaves the image and
    // the counter as they were.
    SelectFirstSet();
    if (!ConnectNewLink())
        return false;

    // Read into a buffer: the pages are bound to the image, which changes only once the block
    // is accepted.
    ParameterBlock block;
    // A counter that cannot be read keeps the one shown so far, rather than turning into 0.
    uint32_t counter = fasteningCounter;
    int result = linkObject->ReadParameterBlock(block.bytes);
    if (result == kResultOk) {
        // The adapter gone during the counter read fails the read: the machine may have been
        // anything but read. A counter the machine did not give keeps the one shown so far.
        const int counterResult = linkObject->ReadFasteningCounter(counter);
        if (counterResult != kResultOk && serialPort.Problem() == PortProblem::Gone)
            result = counterResult;
        else if (counterResult != kResultOk)
            counter = fasteningCounter;
    }
    ClosePort();

    // An erased or damaged block area (a cut firmware update) names no machine.
    // A check error of one read is the line's as often as the machine's: no recovery advice.
    const bool usable =
        result == kResultChecksum ||
        cWriteRoad::BlockAreaUsable(result, block, linkObject ? linkObject->BlockOffset() : 0);
    if (result == kResultOk || !usable)
        ReportCutWrites(block, usable);
    if (result != kResultOk) {
        ShowLinkError(result);
        ShowRecoveryHint(usable);
        RecordRead("von Maschine", result, nullptr, nullptr, std::nullopt);
        return false;
    }
    if (FirmwareVersionOf(block).major <= 3) {
        Message("Falsche Firmware-Version");
        ShowRecoveryHint(usable);
        RecordRead("von Maschine", result, "Falsche Firmware-Version", &block, counter);
        return false;
    }
    RecordRead("von Maschine", result, nullptr, &block, counter);

    const ParameterBlock::DigestWords digest = block.Digest();
    const bool machineDataChanged = digest != blockDigest;
    if (machineDataChanged)
        passwordVerified = false;
    blockDigest = digest;
    image = block;
    connectedSerial = SerialOf(block);
    connectedImage = block;
    fasteningCounter = counter;
    machineKind = 18;
    RefreshAfterRead();
    if (machineDataChanged && offerNewerFirmware)
        offerNewerFirmware();
    return true;
}

void cDialogMain::RefreshAfterRead() {
    sheet.LockPages(false);
    if (image.ParameterisationAllowed()) {
        controls.expertBoxEnabled = true;
    } else {
        sheet.LockPages(true);
        controls.expertBoxEnabled = false;
    }
    controls.writeButtonEnabled = true;
    sheet.SetFasteningCounter(fasteningCounter);
    sheet.SetMachineKind(machineKind);

    const std::string catalogPath = catalogFile.string();
    catalog.LoadCatalog(catalogPath, image);
    std::string message;
    catalog.LoadBattery(catalogPath, image, batteryVoltage, &message);
    ShowCatalogMessage(message);
    sheet.SetBattery(batteryVoltage, catalog.pageBatteryMaxSpeed);
    message.clear();
    if (catalog.LookupTransmission(catalogPath, image, &message) != 0) {
        ShowCatalogMessage(message);
        sheet.LockPages(true);
    }
    sheet.SetLimits(catalog.pageBatteryMaxSpeed, catalog.pageMinSpeed, catalog.minThreshold,
                    catalog.maxThreshold, catalog.clutchMaxSpeed);
    sheet.SetTransmission(catalog.activeTransmission);
    const TransmissionEntry* head = catalog.AngleHeadEntry(image.AngleHead());
    sheet.SetAngleHead(head ? *head : kNoEntry);

    userGearFactor = image.UserTransmission() / 100.0;
    sheet.SetGearFactor(userGearFactor);

    currentSet = 0;
    controls.setListSelection = 0;
    stepCount = 5;
    sheet.BindPages(image, 0);
    sheet.SetClutchLimitRemoved(stepCount, image.ClutchLimitRemoved());

    configName = Translate("von Maschine");
    dataLoaded = true;
    dataOrigin = kDataOriginMachine;
    // Cleared before the expert mode is set: the set change it runs would otherwise commit the
    // pages, whose controls now show the new image, back into it through their conversions.
    settingsChanged = false;
    SetExpertMode(image.ExpertMode());
    DrawStepOverview();
}

bool cDialogMain::OnWriteToMachine() {
    return WriteEditedImage(true);
}

bool cDialogMain::WriteEditedImage(bool tellDone) {
    if (!linkObject) {
        if (!ConnectNewLink())
            return false;
        machineKind = 18;
        ClosePort();
    }

    if (!dataLoaded) {
        Message("ungültige Konfigurationsdaten");
        return false;
    }

    sheet.CommitHeader();
    sheet.CommitSteps(5);
    sheet.CommitMaintenance();
    sheet.CommitExpert();

    ParameterBlock machine;
    int result = ReadFromMachine(machine);
    if (result != kResultOk) {
        ShowLinkError(result);
        return false;
    }
    machineImage = machine;
    ReportCutWrites(machine, cWriteRoad::BlockAreaUsable(
                                 result, machine, linkObject ? linkObject->BlockOffset() : 0));
    const ParameterBlock::DigestWords machineDigest = machine.Digest();

    if (dataOrigin != kDataOriginMachine && !machine.ParameterisationAllowed()) {
        Message("Parametrierung ist nicht erlaubt");
        return false;
    }
    if (image.VariantCode() != machine.VariantCode() ||
        image.Transmission() != machine.Transmission() ||
        image.AngleHead() != machine.AngleHead()) {
        passwordVerified = false;
        Message("Parameter passen nicht zur Maschine");
        return false;
    }
    if (machineDigest != blockDigest) {
        if (dataOrigin == kDataOriginMachine) {
            passwordVerified = false;
            Message("ungültige Zielmaschine");
            return false;
        }
        if (dataOrigin == kDataOriginFile)
            passwordVerified = false;
    }
    if (passwordVerified && machine.PasswordDigest() != verifiedPasswordDigest)
        passwordVerified = false;

    // The password is remembered only once the write has gone through, so that a failed
    // write leaves the state as it was. The road checks it before anything else.
    BlockWrite write;
    if (!passwordVerified) {
        std::string password;
        if (!AskPassword(password))
            return false;
        write.password = password;
    }
    const bool passwordJustVerified = write.password.has_value();

    // Merge into a copy: the edited image takes the machine's fields only when the write
    // succeeded.
    ParameterBlock edited = image;
    ParameterBlock outgoing = ParameterBlock::MergeForWrite(edited, machine, dataOrigin);
    write.options.command = "zur Maschine";
    write.options.successText = "Parameter wurden übertragen";
    write.options.failureText = "Fehler bei Datenübertagung";
    write.options.fasteningCounter = fasteningCounter;
    write.before = machine;
    write.outgoing = outgoing;
    write.catalog = &catalog;
    const WriteOutcome outcome = cWriteRoad(*this).WriteBlock(write);
    switch (outcome.end) {
    case WriteOutcome::End::Written:
        break;
    case WriteOutcome::End::WrongMachine:
        passwordVerified = false;
        return false;
    case WriteOutcome::End::Failed:
        Message("Fehler bei Datenübertagung");
        // Stopped between frames: the machine may hold part of each image.
        if (outcome.result == kResultStopped && outcome.entryId > 0)
            ui.ShowMessage(Translate("Stand vor dem Schreiben zurückschreiben:") +
                               " kelvane-cli restore " + std::to_string(outcome.entryId),
                           cUserInterface::Buttons::Ok, cUserInterface::Icon::Warning);
        return false;
    default:
        return false;
    }
    if (passwordJustVerified) {
        verifiedPasswordDigest = machine.PasswordDigest();
        passwordVerified = true;
    }
    image = edited;
    machineImage = outgoing;
    connectedImage = outgoing;
    blockDigest = outgoing.Digest();
    if (tellDone)
        Message("Parameter wurden übertragen", cUserInterface::Buttons::Ok,
                cUserInterface::Icon::Information);
    settingsChanged = false;
    return true;
}
