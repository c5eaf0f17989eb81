#include "pages/ExpertModel.h"

#include <algorithm>

#include "lang/Language.h"
#include "model/Conversions.h"
#include "pages/NumEditRule.h"

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

void ExpertModel::SetReadOnly(bool on) {
    readOnly = on;
    ApplyExpertEnabled();
    if (windowCreated)
        ShowValuesNow();
}

void ExpertModel::ApplyExpertEnabled() {
    const bool on = expertEnabled && !readOnly;
    for (int id : {kBuzzer, kUserFactor, kRlLock, kRestartIo, kRestartNio, kParamSet12})
        Enable(id, on);
    // A view option only: it stores nothing.
    Enable(kShowErrors, expertEnabled);
    Enable(kBatterySlider, on && image && image->BatteryDisplay() != 0);
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
        loaded = v;
    }
    ApplyExpertEnabled();
    ShowValuesNow();
}

void ExpertModel::StoreToRecord() {
    // Read-only pages never store, and a field the user left as it was keeps its byte (an
    // odd switch value, a factor the page would round, the clutch byte's other bits).
    if (!image || !windowCreated || readOnly)
        return;
    if (v.batteryDisplay != loaded.batteryDisplay)
        image->SetBatteryDisplay(v.batteryDisplay ? 1 : 0);
    if (v.buzzer != loaded.buzzer)
        image->SetBuzzerLock(v.buzzer ? 1 : 0);
    if (v.rlLock != loaded.rlLock)
        image->SetRlLock(v.rlLock ? 1 : 0);
    if (v.userFactor != loaded.userFactor)
        image->SetUserTransmission(static_cast<uint16_t>(ScaleToMachine(v.userFactor, 100, 65535)));
    if (v.restartIo != loaded.restartIo)
        image->SetRestartLock(static_cast<uint8_t>(ScaleToMachine(v.restartIo, 10, 255)));
    if (v.restartNio != loaded.restartNio)
        image->SetRestartLockNio(static_cast<uint8_t>(ScaleToMachine(v.restartNio, 10, 255)));
    if (v.paramSet12 != loaded.paramSet12)
        image->SetParameterSet12(v.paramSet12);
    if (v.blinkNio != loaded.blinkNio)
        image->SetBlinkNio(v.blinkNio ? 1 : 0);
    if (v.clutchLimit != loaded.clutchLimit)
        image->StoreClutchLimitRemoved(!v.clutchLimit);
    loaded = v;
}

bool ExpertModel::CorrectFactor() {
    // A factor the user did not touch stays as the image has it.
    if (v.userFactor == loaded.userFactor)
        return false;
    const double f = std::clamp(v.userFactor, kMinFactor, kMaxFactor);
    if (f == v.userFactor)
        return false;
    v.userFactor = f;
    return true;
}

bool ExpertModel::CorrectRestartLock(bool nio) {
    double& s = nio ? v.restartNio : v.restartIo;
    if (s == (nio ? loaded.restartNio : loaded.restartIo))
        return false;
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
    const bool corrected = CorrectFactor();
    // Shown as the image will hold it: 1.234 is stored as 123, so it reads 1.23.
    const double put = v.userFactor;
    if (v.userFactor != loaded.userFactor)
        v.userFactor = ScaleToMachine(v.userFactor, 100, 65535) / 100.0;
    ShowValuesNow();
    if (corrected)
        Alarm(kUserFactor);
    if (v.userFactor != put)
        SayHeld(kUserFactor, NumEditRule::FormatShortest(v.userFactor));
}

void ExpertModel::OnRestartLockChanged(bool nio, double seconds) {
    (nio ? v.restartNio : v.restartIo) = seconds;
    host.MarkChanged();
}

void ExpertModel::OnRestartLockFocusOut(bool nio) {
    const bool corrected = CorrectRestartLock(nio);
    double& s = nio ? v.restartNio : v.restartIo;
    const double put = s;
    if (s != (nio ? loaded.restartNio : loaded.restartIo))
        s = ScaleToMachine(s, 10, 255) / 10.0;
    ShowValuesNow();
    if (corrected)
        Alarm(nio ? kRestartNio : kRestartIo);
    if (s != put)
        SayHeld(nio ? kRestartNio : kRestartIo,
                NumEditRule::FormatShortest(s) + " " + Translate("Sekunden"));
}

void ExpertModel::OnShowErrorsClicked(bool checked) {
    v.showErrors = checked;
    host.MarkChanged();
    host.ShowErrorCriteria(checked);
}
