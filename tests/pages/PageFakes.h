#pragma once

#include <string>
#include <utility>
#include <vector>

#include "pages/PageHost.h"
#include "pages/PageModel.h"

// A controller that records what the pages ask of it.
class FakeHost : public PageHost {
public:
    void MarkChanged() override { ++changed; }
    void RedrawStepGraphic() override { ++redraws; }
    void SetUserGearFactor(double f) override { factors.push_back(f); }
    void RefreshFromExpertPage() override { ++refreshes; }
    void ShowErrorCriteria(bool show) override { errorCriteria.push_back(show); }
    int BatteryVoltage() const override { return voltage; }
    int BatteryMaxSpeed() const override { return maxSpeed; }
    void SetBatteryVoltage(int v) override { voltage = v; }
    bool CheckBatterySpeeds(int previous) override {
        previousVoltages.push_back(previous);
        if (!acceptBattery)
            voltage = previous;
        return acceptBattery;
    }

    int changed = 0;
    int redraws = 0;
    int refreshes = 0;
    std::vector<double> factors;
    std::vector<bool> errorCriteria;
    std::vector<int> previousVoltages;
    int voltage = 18;
    int maxSpeed = 22500;
    bool acceptBattery = true;
};

// Records the beeps with the control that got the focus back.
class FakeView : public PageView {
public:
    void ShowValues() override { ++shows; }
    void Alarm(int id) override { alarms.push_back(id); }
    void Notice(int id, const std::string& text) override { notices.emplace_back(id, text); }
    int shows = 0;
    std::vector<int> alarms;
    std::vector<std::pair<int, std::string>> notices;
};
