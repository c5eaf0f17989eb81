#include "pages/MaintenanceModel.h"

#include <algorithm>

#include "base/CalendarDate.h"
#include "lang/Language.h"
#include "model/Conversions.h"
#include "pages/NumEditRule.h"

MaintenanceModel::MaintenanceModel(PageHost& h) : PageModel(h) {
    for (int id : {kElAssembly, kCounter, kSinceService, kCalDate})
        Enable(id, false);
    ApplyEditable();
}

std::string MaintenanceModel::DateText(uint32_t calDate) {
    return CalDateText(calDate);
}

uint32_t MaintenanceModel::MinutesSince2000(std::time_t when) {
    return CalDateFromTime(when);
}

void MaintenanceModel::AttachRecord(ParameterBlock* img) {
    image = img;
    if (windowCreated)
        LoadFromRecord();
}

void MaintenanceModel::SetReadOnly(bool on) {
    editable = !on;
    if (windowCreated) {
        ApplyEditable();
        ShowValuesNow();
    }
}

void MaintenanceModel::ApplyEditable() {
    for (int id : {kServiceDue, kReset, kSet, kCalName, kTorque, kPlace})
        Enable(id, editable);
}

void MaintenanceModel::LoadFromRecord() {
    if (!image)
        return;
    v.elAssembly = image->ElAssembly();
    v.counter = fasteningCounter;
    v.serviceDue = image->ServiceDueCounter();
    serviceReset = image->ServiceResetCounter();
    v.sinceService = std::max<std::int64_t>(0, static_cast<std::int64_t>(fasteningCounter) -
                                                   static_cast<std::int64_t>(serviceReset));
    v.calDate = DateText(image->CalDate());
    v.torque = image->Torque() / 100.0;
    v.calName = image->CalName();
    v.place = image->Place();
    loaded = v;
    loadedServiceReset = serviceReset;
    ApplyEditable();
    ShowValuesNow();
}

void MaintenanceModel::StoreToRecord() {
    // Read-only pages never store; a field the user left as it was keeps its bytes.
    if (!image || !windowCreated || !editable)
        return;
    if (v.serviceDue != loaded.serviceDue)
        image->SetServiceDueCounter(
            static_cast<uint32_t>(std::clamp<std::int64_t>(v.serviceDue, 0, 4294967295LL)));
    if (serviceReset != loadedServiceReset)
        image->SetServiceResetCounter(serviceReset);
    if (v.torque != loaded.torque)
        image->SetTorque(static_cast<uint16_t>(ScaleToMachine(v.torque, 100, 65535)));
    if (v.calName != loaded.calName)
        image->SetCalName(v.calName);
    if (v.place != loaded.place)
        image->SetPlace(v.place);
    loaded = v;
    loadedServiceReset = serviceReset;
}

bool MaintenanceModel::CorrectTorque() {
    // A torque the user did not touch stays as the image has it.
    if (v.torque == loaded.torque)
        return false;
    if (v.torque > kMaxTorque) {
        v.torque = kMaxTorque;
        return true;
    }
    if (v.torque < 0) {
        v.torque = 0;
        return true;
    }
    return false;
}

bool MaintenanceModel::LeavePage() {
    if (CorrectTorque()) {
        ShowValuesNow();
        Alarm(kTorque);
        return false;
    }
    StoreToRecord();
    return true;
}

void MaintenanceModel::OnResetClicked() {
    serviceReset = fasteningCounter;
    v.sinceService = 0;
    ShowValuesNow();
    host.MarkChanged();
}

void MaintenanceModel::OnSetClicked(std::time_t now) {
    const uint32_t minutes = MinutesSince2000(now);
    if (image)
        image->SetCalDate(minutes);
    v.calDate = DateText(minutes);
    ShowValuesNow();
    host.MarkChanged();
}

void MaintenanceModel::OnServiceDueChanged(std::int64_t value) {
    v.serviceDue = value;
    // Marked as well, so closing asks before the new due count is lost.
    host.MarkChanged();
}

void MaintenanceModel::OnCalNameChanged(const std::string& text) {
    v.calName = text;
    host.MarkChanged();
}

void MaintenanceModel::OnPlaceChanged(const std::string& text) {
    v.place = text;
    host.MarkChanged();
}

void MaintenanceModel::OnTorqueChanged(double nm) {
    v.torque = nm;
    host.MarkChanged();
}

void MaintenanceModel::OnTorqueFocusOut() {
    const bool corrected = CorrectTorque();
    // Shown as the image will hold it: 12.345 Nm is stored as 1234, so it reads 12.34.
    const double put = v.torque;
    if (v.torque != loaded.torque)
        v.torque = ScaleToMachine(v.torque, 100, 65535) / 100.0;
    ShowValuesNow();
    if (corrected)
        Alarm(kTorque);
    if (v.torque != put)
        SayHeld(kTorque, NumEditRule::FormatShortest(v.torque) + " " + Translate("Nm"));
}
