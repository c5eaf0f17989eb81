#include "pages/HeaderModel.h"

#include <cmath>

#include "model/Conversions.h"

HeaderModel::HeaderModel(PageHost& h) : PageModel(h) {
    for (int id : {kMachineType, kSerialNr, kSwVersion, kMaxTorque, kMaxSpeed})
        Enable(id, false);
    for (int id : {kRlLock, kBuzzer, kRestartLock, kGearName, kAngleHeadName})
        Show(id, false);
    for (int id : {kToolId, kBattery, kRlLock, kBuzzer, kRestartLock})
        Enable(id, false);
}

void HeaderModel::ReloadIfCreated() {
    if (windowCreated)
        LoadFromRecord();
}

void HeaderModel::AttachRecord(ParameterBlock* img) {
    image = img;
    ReloadIfCreated();
}

void HeaderModel::SetGearEntry(const TransmissionEntry* entry) {
    gear = entry;
    ReloadIfCreated();
}

void HeaderModel::SetAngleHeadEntry(const TransmissionEntry* entry) {
    angleHead = entry;
    ReloadIfCreated();
}

void HeaderModel::SetBattery() {
    batterySet = true;
    ReloadIfCreated();
}

void HeaderModel::LoadFromRecord() {
    if (image) {
        v.machineType = image->MachineType();
        v.serialNr = image->SerialNr();
        v.swVersion = image->SwVersion();
        v.gearName = gear ? gear->name : std::string();
        v.angleHeadName = angleHead ? angleHead->name : std::string();
        v.maxTorque = image->MaxTorque() / 100.0;
        v.toolId = image->ToolId();
        v.rlLock = image->RlLock() != 0;
        v.buzzer = image->BuzzerLock() != 0;
        v.restartLock = image->RestartLock() / 10.0;
        loaded = v;
    }
    if (batterySet) {
        const int volts = host.BatteryVoltage();
        for (int i = 0; i < 3; ++i)
            if (kVoltages[i] == volts)
                v.battery = i;
        const double g = gear && gear->ratio > 0 ? gear->ratio : 1.0;
        const double a = angleHead && angleHead->ratio > 0 ? angleHead->ratio : 1.0;
        const double speed = std::trunc(host.BatteryMaxSpeed() / (g * userFactor * a));
        v.maxSpeed = speed > 0 ? static_cast<unsigned>(speed) : 0u;
    } else {
        v.battery = 2;
    }
    const bool on = !readOnly;
    Enable(kToolId, on);
    Enable(kRlLock, on);
    Enable(kBuzzer, on);
    Enable(kBattery, on);
    if (readOnly)
        Enable(kRestartLock, false);
    ShowValuesNow();
}

void HeaderModel::StoreToRecord() {
    // Read-only pages never store; the serial number is shown only (the machine's own goes
    // out with every write).
    if (!image || !windowCreated || readOnly)
        return;
    if (v.toolId != loaded.toolId)
        image->SetToolId(v.toolId);
    if (v.rlLock != loaded.rlLock)
        image->SetRlLock(v.rlLock ? 1 : 0);
    if (v.buzzer != loaded.buzzer)
        image->SetBuzzerLock(v.buzzer ? 1 : 0);
    if (v.restartLock != loaded.restartLock)
        image->SetRestartLock(static_cast<uint8_t>(ScaleToMachine(v.restartLock, 10, 255)));
}

void HeaderModel::OnToolIdChanged(const std::string& text) {
    v.toolId = text;
    host.MarkChanged();
}

void HeaderModel::OnBatteryChosen(int index) {
    if (index < 0 || index > 2)
        return;
    const int previous = host.BatteryVoltage();
    int previousIndex = v.battery;
    for (int i = 0; i < 3; ++i)
        if (kVoltages[i] == previous)
            previousIndex = i;
    v.battery = index;
    host.SetBatteryVoltage(kVoltages[index]);
    host.SetUserGearFactor(userFactor);
    if (!host.CheckBatterySpeeds(previous)) {
        // Refused: the controller is back at the previous battery; show it.
        v.battery = previousIndex;
        if (host.BatteryVoltage() != previous)
            host.SetBatteryVoltage(previous);
    }
    if (windowCreated)
        LoadFromRecord();
    else
        ShowValuesNow();
}
