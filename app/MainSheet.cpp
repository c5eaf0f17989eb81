#include "app/MainSheet.h"

#include <algorithm>

#include "lang/Language.h"

namespace {
constexpr uint8_t kSwitchoverBit = 0x01; // modeFlags: parameter set 1 goes on into set 2
constexpr uint8_t kExpertBit = 0x80;
constexpr size_t kSet2SwitchStep = 6; // with the switchover, set 2 ends at this step
constexpr size_t kSet1LastStep = 4;
} // namespace

// ---- relay to the controller ----

void CMainSheet::Relay::MarkChanged() {
    if (target)
        target->MarkChanged();
}

void CMainSheet::Relay::RedrawStepGraphic() {
    if (target)
        target->RedrawStepGraphic();
}

void CMainSheet::Relay::SetUserGearFactor(double factor) {
    if (target)
        target->SetUserGearFactor(factor);
}

void CMainSheet::Relay::RefreshFromExpertPage() {
    if (target)
        target->RefreshFromExpertPage();
}

void CMainSheet::Relay::ShowErrorCriteria(bool show) {
    if (target)
        target->ShowErrorCriteria(show);
}

int CMainSheet::Relay::BatteryVoltage() const {
    return target ? target->BatteryVoltage() : voltage;
}

int CMainSheet::Relay::BatteryMaxSpeed() const {
    return target ? target->BatteryMaxSpeed() : batteryMaxSpeed;
}

void CMainSheet::Relay::SetBatteryVoltage(int volts) {
    if (target)
        target->SetBatteryVoltage(volts);
    else
        voltage = volts;
}

bool CMainSheet::Relay::CheckBatterySpeeds(int previousVoltage) {
    if (target)
        return target->CheckBatterySpeeds(previousVoltage);
    // Nobody can apply a new battery: keep the old one.
    voltage = previousVoltage;
    return false;
}

// ---- sheet ----

CMainSheet::CMainSheet() {
    for (int k = 0; k < kStepPages; ++k)
        steps[k].SetStepIndex(k);
    SetStepCaptions(0, 0);
}

CMainSheet::~CMainSheet() = default;

PrgStepModel& CMainSheet::Step(int k) {
    return steps[std::clamp(k, 0, kStepPages - 1)];
}

PageModel& CMainSheet::Page(int tab) {
    if (tab <= kHeaderPage)
        return header;
    if (tab < kMaintenancePage)
        return steps[tab - kFirstStepPage];
    if (tab == kMaintenancePage)
        return maintenance;
    return expert;
}

const std::string& CMainSheet::Caption(int k) const {
    return captions[std::clamp(k, 0, kStepPages - 1)];
}

int CMainSheet::StepCount(int count) {
    return std::clamp(count, 0, kStepPages);
}

void CMainSheet::ShowAll() {
    if (view)
        view->ShowAllPages();
}

void CMainSheet::ReloadIfStale(int tab) {
    if (tab < 0 || tab >= kPageCount || !lockStale[tab])
        return;
    lockStale[tab] = false;
    Page(tab).LoadFromRecord();
}

void CMainSheet::Activate(int tab) {
    ReloadIfStale(tab);
    PageModel& page = Page(tab);
    page.CreateWindow();
    page.OnActivated();
}

bool CMainSheet::RequestPage(int tab) {
    if (tab < 0 || tab >= kPageCount)
        return false;
    if (tab != active) {
        if (!Page(active).LeavePage()) {
            if (view)
                view->ShowActivePage();
            return false;
        }
        active = tab;
        // The overview highlights the open step page only: any change of tab redraws it.
        relay.RedrawStepGraphic();
    }
    Activate(tab);
    if (view)
        view->ShowActivePage();
    return true;
}

void CMainSheet::SetActivePage(int index) {
    RequestPage(index);
}

void CMainSheet::BindPages(ParameterBlock& img, int set) {
    image = &img;
    const double g = img.UserTransmission() / 100.0;
    const uint8_t flags = img.ModeFlags();

    for (PrgStepModel& s : steps) {
        s.AttachRecord(std::nullopt);
        s.SetStepIndex(-1);
        s.SetForcedLast(true);
    }
    if (set == 0 || set == 1) {
        const int first = set == 0 ? 0 : kStepPages;
        for (int k = 0; k < kStepPages; ++k) {
            PrgStepModel& s = steps[k];
            s.SetStepIndex(first + k);
            // Released before the record comes, so attaching never rewrites its nextStep.
            s.SetForcedLast(false);
            s.SetUserFactor(g);
            s.AttachRecord(img.Step(static_cast<size_t>(first + k)));
        }
        PrgStepModel& last = steps[kStepPages - 1];
        if (set == 0) {
            // Set 1 ends at its fifth step unless it goes on into set 2 in expert mode.
            if (!(flags & kSwitchoverBit) || !(flags & kExpertBit))
                last.SetForcedLast(true);
        } else {
            last.SetForcedLast(true);
            // Set 1 may go on into set 2 only with both bits; the switchover can be switched off
            // while set 2 is shown, where no page holds step 4.
            if (!locked && (!(flags & kSwitchoverBit) || !(flags & kExpertBit)))
                img.Step(kSet1LastStep).SetLast();
            if (flags & kSwitchoverBit) {
                // Read-only pages never write, not even the chain rule.
                if (!locked)
                    img.Step(kSet2SwitchStep).SetNextStep(kNextStepLast);
                steps[1].SetForcedLast(true);
                steps[1].SetStepIndex(-1);
            }
        }

        header.AttachRecord(&img);
        // The counter first: attaching reloads a page whose window exists.
        maintenance.SetFasteningCounter(fasteningCounter);
        maintenance.AttachRecord(&img);
        expert.AttachRecord(&img);
        if (header.WindowCreated())
            lockStale[kHeaderPage] = false;
    }
    for (int k = 0; k < kStepPages; ++k) {
        const PrgStepModel& s = steps[k];
        if (s.WindowCreated() && s.HasStep() && s.Context().machineKind != 0)
            lockStale[kFirstStepPage + k] = false;
    }
    ShowAll();
}

void CMainSheet::SetStepCaptions(int set, uint8_t flags) {
    const std::string word = Translate("Programmschritt");
    if (set == 0 || (set == 1 && !(flags & kSwitchoverBit))) {
        for (int k = 0; k < kStepPages; ++k)
            captions[k] = word + " " + std::to_string(k + 1);
    } else if (set == 1) {
        for (int k = 0; k < kStepPages - 1; ++k)
            captions[k] = word + " " + std::to_string(k + 6);
        captions[kStepPages - 1] = Translate("Umschaltung");
    } else {
        return;
    }
    if (view)
        view->ShowCaptions();
}

void CMainSheet::LockPages(bool on) {
    locked = on;
    header.SetReadOnly(on);
    for (PrgStepModel& s : steps)
        s.SetReadOnly(on);
    expert.SetReadOnly(on);
    maintenance.SetReadOnly(on); // applied at once by the page itself
    // The others apply the flag when they load; a page whose window exists already is loaded
    // again before it is shown (the next BindPages does it anyway).
    lockStale[kHeaderPage] = header.WindowCreated();
    for (int k = 0; k < kStepPages; ++k)
        lockStale[kFirstStepPage + k] = steps[k].WindowCreated();
    ShowAll();
}

void CMainSheet::EnableExpertControls(bool on) {
    expert.SetExpertEnabled(on);
    ShowAll();
}

void CMainSheet::SetTransmission(const TransmissionEntry& entry) {
    transmission = entry;
    transmissionSet = true;
    for (PrgStepModel& s : steps)
        s.SetGearEntry(&transmission);
    header.SetGearEntry(&transmission);
    expert.SetGearEntry(&transmission);
    ShowAll();
}

void CMainSheet::SetAngleHead(const TransmissionEntry& entry) {
    angleHead = entry;
    angleHeadSet = true;
    header.SetAngleHeadEntry(&angleHead);
    expert.SetAngleHeadEntry(&angleHead);
    ShowAll();
}

void CMainSheet::SetGearFactor(double factor) {
    gearFactor = factor;
    for (PrgStepModel& s : steps)
        s.SetUserFactor(factor);
    header.SetUserFactor(factor);
    expert.SetUserFactor(factor);
    ShowAll();
}

void CMainSheet::SetLimits(int batteryMaxSpeed, int minSpeed, int minThreshold, int maxThreshold,
                           int clutchMaxSpeed) {
    limits = {batteryMaxSpeed, minSpeed, minThreshold, maxThreshold, clutchMaxSpeed};
    relay.batteryMaxSpeed = batteryMaxSpeed;
    for (PrgStepModel& s : steps)
        s.SetLimits(limits);
    ShowAll();
}

void CMainSheet::SetMachineKind(int kind) {
    for (PrgStepModel& s : steps)
        s.SetMachineKind(kind);
    expert.SetMachineKind(kind);
    ShowAll();
}

void CMainSheet::SetFasteningCounter(uint32_t counter) {
    fasteningCounter = counter;
}

void CMainSheet::SetBattery(int voltage, int batteryMaxSpeed) {
    relay.voltage = voltage;
    relay.batteryMaxSpeed = batteryMaxSpeed;
    header.SetBattery(); // reads both from the controller
    ShowAll();
}

bool CMainSheet::CheckBattery(int batteryMaxSpeed) {
    for (const PrgStepModel& s : steps)
        if (!s.SpeedReachable(batteryMaxSpeed, Transmission(), AngleHead(), gearFactor))
            return false;
    return true;
}

void CMainSheet::SetClutchLimitRemoved(int count, bool removed) {
    for (int k = 0; k < StepCount(count); ++k)
        steps[k].SetClutchLimitRemoved(removed);
    ShowAll();
}

void CMainSheet::ShowErrorCriteria(int count, bool show) {
    for (int k = 0; k < StepCount(count); ++k)
        steps[k].ShowErrorCriteria(show);
    ShowAll();
}

void CMainSheet::SetForcedLast(int stepPage, bool on) {
    if (stepPage < 0 || stepPage >= kStepPages)
        return;
    steps[stepPage].SetForcedLast(on);
    ShowAll();
}

void CMainSheet::CommitHeader() {
    header.StoreToRecord();
}

void CMainSheet::CommitSteps(int count) {
    for (int k = 0; k < StepCount(count); ++k)
        steps[k].StoreToRecord();
}

void CMainSheet::CommitMaintenance() {
    maintenance.StoreToRecord();
}

void CMainSheet::CommitExpert() {
    expert.StoreToRecord();
}

void CMainSheet::RedrawStepOverview() {
    if (onRedrawOverview)
        onRedrawOverview();
}
