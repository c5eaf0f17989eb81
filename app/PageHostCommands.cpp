// What the editor pages ask of the controller: the refresh after the expert page and the check
// of the step speeds after a change of the battery voltage.
#include "app/DialogMain.h"

#include "lang/Language.h"

namespace {
const TransmissionEntry kNoEntry{};
} // namespace

void cDialogMain::RefreshFromExpertPage() {
    sheet.CommitExpert();
    if (settingsChanged)
        sheet.CommitSteps(stepCount);
    sheet.BindPages(image, currentSet);
    sheet.SetStepCaptions(currentSet, image.ModeFlags());
    // Set 1 may run on into set 2 only with both sets in use; set 2 never links onward.
    sheet.SetForcedLast(4, currentSet == 0 ? !image.ParameterSet12() : true);
    sheet.SetClutchLimitRemoved(stepCount, image.ClutchLimitRemoved());
    DrawStepOverview();
}

void cDialogMain::ShowErrorCriteria(bool show) {
    sheet.ShowErrorCriteria(stepCount, show);
}

bool cDialogMain::CheckBatterySpeeds(int previousVoltage) {
    const std::string catalogPath = catalogFile.string();
    std::string message;
    catalog.LoadBattery(catalogPath, image, batteryVoltage, &message);
    ShowCatalogMessage(message);
    if (!sheet.CheckBattery(catalog.pageBatteryMaxSpeed) &&
        !Ask("ACHTUNG\n\nMit diesem Akku sind eingestellte Drehzahlen nicht möglich\nsollen die "
             "Drehzahlen angepasst werden?\n\nWollen Sie den Vorgang fortsetzen")) {
        batteryVoltage = previousVoltage;
        catalog.LoadBattery(catalogPath, image, batteryVoltage);
        sheet.SetBattery(batteryVoltage, catalog.pageBatteryMaxSpeed);
        return false;
    }
    sheet.CommitSteps(5);
    sheet.SetBattery(batteryVoltage, catalog.pageBatteryMaxSpeed);
    sheet.SetLimits(catalog.pageBatteryMaxSpeed, catalog.pageMinSpeed, catalog.minThreshold,
                    catalog.maxThreshold, catalog.clutchMaxSpeed);
    sheet.SetTransmission(catalog.activeTransmission);
    const TransmissionEntry* head = catalog.AngleHeadEntry(image.AngleHead());
    sheet.SetAngleHead(head ? *head : kNoEntry);
    sheet.SetGearFactor(userGearFactor);
    sheet.BindPages(image, currentSet);
    return true;
}
