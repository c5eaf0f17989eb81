#pragma once

// What the editor pages need from the main controller. The controller implements it; the
// pages hold a reference for their whole life. Values the controller pushes into the pages
// (image, gear entries, limits, counters) go through the pages' own setters; this interface
// carries what the pages ask for or report.
class PageHost {
public:
    virtual ~PageHost() = default;

    // A value on a page changed: the configuration now counts as edited.
    virtual void MarkChanged() = 0;

    // The step overview below the sheet must be drawn again.
    virtual void RedrawStepGraphic() = 0;

    // The header and expert pages hand over the user gear factor.
    virtual void SetUserGearFactor(double factor) = 0;

    // The expert page was left with valid values: every page stores into the image, the step
    // pages are attached again with the new factor and clutch-limit state, the overview is
    // redrawn.
    virtual void RefreshFromExpertPage() = 0;

    // The expert page's option: show or hide the error criteria on the step pages.
    virtual void ShowErrorCriteria(bool show) = 0;

    // Battery values the header page shows (the controller's batteryVoltage, 12/14/18, and the
    // battery maximum speed in 1/min for the current machine and voltage).
    virtual int BatteryVoltage() const = 0;
    virtual int BatteryMaxSpeed() const = 0;
    virtual void SetBatteryVoltage(int volts) = 0;

    // The header page has just set a new battery voltage. The controller reloads the battery
    // maximum speed, asks the user (OK/Cancel) when a step's speed is no longer reachable, and
    // on acceptance hands the new limits to all pages and returns true. On refusal it puts back
    // previousVoltage together with its maximum speed and returns false.
    virtual bool CheckBatterySpeeds(int previousVoltage) = 0;
};
