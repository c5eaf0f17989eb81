// The page sheet: the eight editing pages and the values they share. It lives as long as the
// controller; the tabbed window that shows it (SheetView) is made anew at every showing of the
// main window and comes and goes without the pages noticing.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "app/Sheet.h"
#include "model/MachineCatalog.h"
#include "pages/ExpertModel.h"
#include "pages/HeaderModel.h"
#include "pages/MaintenanceModel.h"
#include "pages/PageHost.h"
#include "pages/PrgStepModel.h"

// What the sheet asks of the tabbed window that shows it.
class SheetView {
public:
    virtual ~SheetView() = default;
    // The five step captions changed (tabs 1..5).
    virtual void ShowCaptions() = 0;
    // The sheet chose another active tab, or kept the current one against the window's change.
    virtual void ShowActivePage() = 0;
    // Values handed to the pages changed: every page shows its model again.
    virtual void ShowAllPages() = 0;
};

class CMainSheet final : public CSheet {
public:
    static constexpr int kPageCount = 8;
    static constexpr int kStepPages = 5;

    CMainSheet();
    ~CMainSheet() override;
    CMainSheet(const CMainSheet&) = delete;
    CMainSheet& operator=(const CMainSheet&) = delete;

    // The controller the pages talk to; until it is set (or after nullptr) their requests are
    // answered by the sheet: nothing changes, a new battery is refused.
    void SetHost(PageHost* host) { relay.target = host; }
    // The window showing the sheet, nullptr when it is gone.
    void SetView(SheetView* v) { view = v; }
    SheetView* View() const { return view; }

    HeaderModel& Header() { return header; }
    PrgStepModel& Step(int k); // k = 0..4
    MaintenanceModel& Maintenance() { return maintenance; }
    ExpertModel& Expert() { return expert; }
    PageModel& Page(int tab); // tab = 0..7
    const std::string& Caption(int k) const;

    // A tab change asked for by the user or the controller: the current page may refuse to be
    // left (false, it stays active). Otherwise the new tab becomes active and its window is
    // created and activated. Asking for the active tab activates it again.
    bool RequestPage(int tab);
    // The window shows this tab: a page whose read-only state changed while its window
    // existed is loaded again first.
    void ReloadIfStale(int tab);

    // Called by RedrawStepOverview; the main window's overview hooks it.
    std::function<void()> onRedrawOverview;

    // Shared values as last handed over.
    ParameterBlock* Image() const { return image; }
    const TransmissionEntry* Transmission() const {
        return transmissionSet ? &transmission : nullptr;
    }
    const TransmissionEntry* AngleHead() const { return angleHeadSet ? &angleHead : nullptr; }
    double GearFactor() const { return gearFactor; }
    const PrgStepModel::Limits& Limits() const { return limits; }
    uint32_t FasteningCounter() const { return fasteningCounter; }

    // ---- CSheet ----
    void BindPages(ParameterBlock& image, int set) override;
    void SetStepCaptions(int set, uint8_t flags) override;
    void LockPages(bool on) override;
    void EnableExpertControls(bool on) override;
    void SetTransmission(const TransmissionEntry& entry) override;
    void SetAngleHead(const TransmissionEntry& entry) override;
    void SetGearFactor(double factor) override;
    void SetLimits(int batteryMaxSpeed, int minSpeed, int minThreshold, int maxThreshold,
                   int clutchMaxSpeed) override;
    void SetMachineKind(int kind) override;
    void SetFasteningCounter(uint32_t counter) override;
    void SetBattery(int voltage, int batteryMaxSpeed) override;
    bool CheckBattery(int batteryMaxSpeed) override;
    void SetClutchLimitRemoved(int count, bool removed) override;
    void ShowErrorCriteria(int count, bool show) override;
    void SetForcedLast(int stepPage, bool on) override;
    void SetActivePage(int index) override;
    int ActivePage() const override { return active; }
    void CommitHeader() override;
    void CommitSteps(int count) override;
    void CommitMaintenance() override;
    void CommitExpert() override;
    void RedrawStepOverview() override;

private:
    // Hands the pages' requests on to the controller, which exists only after the sheet.
    class Relay final : public PageHost {
    public:
        void MarkChanged() override;
        void RedrawStepGraphic() override;
        void SetUserGearFactor(double factor) override;
        void RefreshFromExpertPage() override;
        void ShowErrorCriteria(bool show) override;
        int BatteryVoltage() const override;
        int BatteryMaxSpeed() const override;
        void SetBatteryVoltage(int volts) override;
        bool CheckBatterySpeeds(int previousVoltage) override;

        PageHost* target = nullptr;
        int voltage = 18; // answers while there is no controller
        int batteryMaxSpeed = 22500;
    };

    static int StepCount(int count);
    void ShowAll();
    void Activate(int tab);

    Relay relay; // before the pages: they keep a reference to it
    HeaderModel header{relay};
    std::array<PrgStepModel, kStepPages> steps{PrgStepModel(relay), PrgStepModel(relay),
                                               PrgStepModel(relay), PrgStepModel(relay),
                                               PrgStepModel(relay)};
    MaintenanceModel maintenance{relay};
    ExpertModel expert{relay};
    SheetView* view = nullptr;

    std::array<std::string, kStepPages> captions;
    ParameterBlock* image = nullptr;
    // Own copies: the controller's catalog may be read again while the pages point here.
    TransmissionEntry transmission;
    TransmissionEntry angleHead;
    bool transmissionSet = false;
    bool angleHeadSet = false;
    double gearFactor = 1.0;
    PrgStepModel::Limits limits;
    uint32_t fasteningCounter = 0;
    int active = kHeaderPage;
    bool locked = true; // the pages start read-only
    // A page whose window exists and whose read-only state changed without a reload; it is
    // loaded again before it is next shown.
    std::array<bool, kPageCount> lockStale{};
};
