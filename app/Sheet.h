// What the page sheet offers the main controller: every value the controller hands to the
// editing pages, and the pages' commit of their pending edits, goes through here. The page
// sheet of the window implements it; the command-line program has no pages and uses
// CNullSheet.
#pragma once

#include <cstdint>

class ParameterBlock;
struct TransmissionEntry;

class CSheet {
public:
    // Tab indexes: 0 header data, 1..5 the step pages, 6 maintenance data, 7 expert settings.
    static constexpr int kHeaderPage = 0;
    static constexpr int kFirstStepPage = 1;
    static constexpr int kMaintenancePage = 6;
    static constexpr int kExpertPage = 7;

    virtual ~CSheet() = default;

    // Binds the pages to the image for parameter set 0 or 1 (the sheet keeps the reference).
    virtual void BindPages(ParameterBlock& image, int set) = 0;
    // Computes and shows the five step-tab captions; flags is modeFlags.
    virtual void SetStepCaptions(int set, uint8_t flags) = 0;
    // Every page read-only (on) or editable.
    virtual void LockPages(bool on) = 0;
    // The expert page's expert controls.
    virtual void EnableExpertControls(bool on) = 0;
    // Step pages, header page and expert page take the active transmission.
    virtual void SetTransmission(const TransmissionEntry& entry) = 0;
    // Header page and expert page take the angle-head entry.
    virtual void SetAngleHead(const TransmissionEntry& entry) = 0;
    // Step pages, header page and expert page take the user gear factor.
    virtual void SetGearFactor(double factor) = 0;
    // Every step page takes all five; the expert page takes the clutch maximum speed.
    virtual void SetLimits(int batteryMaxSpeed, int minSpeed, int minThreshold, int maxThreshold,
                           int clutchMaxSpeed) = 0;
    // Step pages and expert page: 14 or 18.
    virtual void SetMachineKind(int kind) = 0;
    // The maintenance page receives it at the next BindPages.
    virtual void SetFasteningCounter(uint32_t counter) = 0;
    // The header page takes the battery voltage (12, 14 or 18) and its maximum speed.
    virtual void SetBattery(int voltage, int batteryMaxSpeed) = 0;
    // Step pages 1..5 in order: are their speeds reachable with this battery maximum speed?
    virtual bool CheckBattery(int batteryMaxSpeed) = 0;
    // The first `count` step pages show or hide their clutch speed limit / error criteria.
    virtual void SetClutchLimitRemoved(int count, bool removed) = 0;
    virtual void ShowErrorCriteria(int count, bool show) = 0;
    // Step page k (0..4) is forced to be the last step, or released.
    virtual void SetForcedLast(int stepPage, bool on) = 0;

    // The active tab.
    virtual void SetActivePage(int index) = 0;
    virtual int ActivePage() const = 0;

    // The pages write their pending edits into the bound image.
    virtual void CommitHeader() = 0;
    virtual void CommitSteps(int count) = 0; // the first `count` step pages
    virtual void CommitMaintenance() = 0;
    virtual void CommitExpert() = 0;

    // The step overview below the sheet must be drawn again (the current set of the image).
    virtual void RedrawStepOverview() = 0;
};

// No pages: every call is accepted and does nothing.
class CNullSheet final : public CSheet {
public:
    void BindPages(ParameterBlock&, int) override {}
    void SetStepCaptions(int, uint8_t) override {}
    void LockPages(bool) override {}
    void EnableExpertControls(bool) override {}
    void SetTransmission(const TransmissionEntry&) override {}
    void SetAngleHead(const TransmissionEntry&) override {}
    void SetGearFactor(double) override {}
    void SetLimits(int, int, int, int, int) override {}
    void SetMachineKind(int) override {}
    void SetFasteningCounter(uint32_t) override {}
    void SetBattery(int, int) override {}
    bool CheckBattery(int) override { return true; }
    void SetClutchLimitRemoved(int, bool) override {}
    void ShowErrorCriteria(int, bool) override {}
    void SetForcedLast(int, bool) override {}
    void SetActivePage(int index) override { active = index; }
    int ActivePage() const override { return active; }
    void CommitHeader() override {}
    void CommitSteps(int) override {}
    void CommitMaintenance() override {}
    void CommitExpert() override {}
    void RedrawStepOverview() override {}

private:
    int active = 0;
};
