#include "pages/ExpertModel.h"

#include <algorithm>

#include "model/Conversions.h"

ExpertModel::ExpertModel(PageHost& h) : PageModel(h) {
    for (int id : {kGearName, kAngleHeadName, kRlPermanent, kBlinkNio, kBatteryText})
        Enable(id, false);
    for (int id : {kBatteryDisplay, kParamSet12, kClutchLimit})
        Show(id, false);
    ApplyExpertEnabled();
}

void ExpertModel::AttachRecord(ParameterBlock* img) {
    image = img;
    if (windowCreated)
        LoadFromRecord();
}

void ExpertModel::SetGearEntry(const TransmissionEntry* entry) {
    gear = entry;
    if (windowCreated)
        LoadFromRecord();
}

void ExpertModel::SetAngleHeadEntry(const TransmissionEntry* entry) {
    angleHead = entry;
    if (windowCreated)
        LoadFromRecord();
}

void ExpertModel::SetUserFactor(double factor) {
    if (!(factor >= 0.01))
        return;
    handedFactor = factor;
    if (windowCreated)
        LoadFromRecord();
}

void ExpertModel::SetExpertEnabled(bool on) {
    expertEnabled = on;
    if (windowCreated) {
        ApplyExpertEnabled();
        ShowValuesNow();
    }
}

void ExpertModel::ApplyExpertEnabled() {
    for (int id :
         {kBuzzer, kUserFactor, kRlLock, kRestartIo, kRestartNio, kParamSet12, kShowErrors})
        Enable(id, expertEnabled);
    Enable(kBatterySlider, expertEnabled && image && image->BatteryDisplay() != 0);
}

void ExpertModel::LoadFromRecord() {
    if (image) {
        v.gearName = gear ? gear->name : std::string();
        v.angleHeadName = angleHead ? angleHead->name : std::string();
        v.batteryDisplay = image->BatteryDisplay() != 0;
        v.batteryThreshold = image->BatteryThreshold();
        v.userFactor = handedFactor;
        v.rlLock = image->RlLock() != 0;
        v.buzzer = image->BuzzerLock() != 0;
        v.restartIo = image->RestartLock() / 10.0;
        v.restartNio = image->RestartLockNio() / 10.0;
        v.blinkNio = image->BlinkNio() != 0;
        v.paramSet12 = image->ParameterSet12();
        v.clutchLimit = !image->ClutchLimitRemoved();
    }
    ApplyExpertEnabled();
    ShowValuesNow();
}

void ExpertModel::StoreToRecord() {
    if (!image || !windowCreated)
        return;
    image->SetBatteryDisplay(v.batteryDisplay ? 1 : 0);
    image->SetBuzzerLock(v.buzzer ? 1 : 0);
    image->SetRlLock(v.rlLock ? 1 : 0);
    image->SetUserTransmission(static_cast<uint16_t>(ScaleToMachine(v.userFactor, 100, 65535)));
    image->SetRestartLock(static_cast<uint8_t>(ScaleToMachine(v.restartIo, 10, 255)));
    image->SetRestartLockNio(static_cast<uint8_t>(ScaleToMachine(v.restartNio, 10, 255)));
    image->SetParameterSet12(v.paramSet12);
    image->SetBlinkNio(v.blinkNio ? 1 : 0);
    image->StoreClutchLimitRemoved(!v.clutchLimit);
}

bool ExpertModel::CorrectFactor() {
    const double f = std::clamp(v.userFactor, kMinFactor, kMaxFactor);
    if (f == v.userFactor)
        return false;
    v.userFactor = f;
    return true;
}

bool ExpertModel::CorrectRestartLock(bool nio) {
    double& s = nio ? v.restartNio : v.restartIo;
    const double c = std::clamp(s, 0.0, kMaxRestartLock);
    if (c == s)
        return false;
    s = c;
    return true;
}

bool ExpertModel::LeavePage() {
    if (CorrectFactor()) {
        ShowValuesNow();
        Alarm(kUserFactor);
        return false;
    }
    for (bool nio : {false, true}) {
        if (CorrectRestartLock(nio)) {
            ShowValuesNow();
            Alarm(nio ? kRestartNio : kRestartIo);
            return false;
        }
    }
    host.SetUserGearFactor(v.userFactor);
    host.RefreshFromExpertPage();
    return true;
}

void ExpertModel::OnActivated() {
    host.RedrawStepGraphic();
}

void ExpertModel::OnBatterySliderMoved(int position) {
    v.batteryThreshold = std::clamp(position, 0, 50);
    if (image)
        image->SetBatteryThreshold(static_cast<uint8_t>(v.batteryThreshold));
    ShowValuesNow();
    host.MarkChanged();
}

void ExpertModel::OnBuzzerClicked(bool checked) {
    v.buzzer = checked;
    host.MarkChanged();
}

void ExpertModel::OnBatteryDisplayClicked(bool checked) {
    v.batteryDisplay = checked;
    host.MarkChanged();
}

void ExpertModel::OnRlLockClicked(bool checked) {
    v.rlLock = checked;
    host.MarkChanged();
}

void ExpertModel::OnParamSet12Clicked(bool checked) {
    v.paramSet12 = checked;
    host.MarkChanged();
}

void ExpertModel::OnClutchLimitClicked(bool checked) {
    v.clutchLimit = checked;
    host.MarkChanged();
}

void ExpertModel::OnUserFactorChanged(double factor) {
    v.userFactor = factor;
    host.MarkChanged();
}

void ExpertModel::OnUserFactorFocusOut() {
    if (CorrectFactor()) {
        ShowValuesNow();
        Alarm(kUserFactor);
    }
}

void ExpertModel::OnRestartLockChanged(bool nio, double seconds) {
    (nio ? v.restartNio : v.restartIo) = seconds;
    host.MarkChanged();
}

void ExpertModel::OnRestartLockFocusOut(bool nio) {
    if (CorrectRestartLock(nio)) {
        ShowValuesNow();
        Alarm(nio ? kRestartNio : kRestartIo);
    }
}

void ExpertModel::OnShowErrorsClicked(bool checked) {
    v.showErrors = checked;
    host.MarkChanged();
    host.ShowErrorCriteria(checked);
}
