// Properties of the page sheet over many generated images: pages that are only shown and left
// give back every byte, and what the pages produce from a machine's image passes the check
// before a write.
#include "app/MainSheet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>

#include "model/PageRules.h"
#include "model/WriteCheck.h"

namespace {

using PB = ParameterBlock;

// What the controller does for the pages, as far as the sheet needs it.
class SheetHost : public PageHost {
public:
    explicit SheetHost(CMainSheet& s) : sheet(s) {}
    void MarkChanged() override { changed = true; }
    void RedrawStepGraphic() override {}
    void SetUserGearFactor(double f) override { factor = f; }
    void RefreshFromExpertPage() override {
        sheet.CommitExpert();
        if (changed)
            sheet.CommitSteps(5);
        sheet.SetGearFactor(factor);
        sheet.BindPages(*image, set);
        sheet.SetStepCaptions(set, image->ModeFlags());
        sheet.SetForcedLast(4, set == 0 ? !image->ParameterSet12() : true);
        sheet.SetClutchLimitRemoved(5, image->ClutchLimitRemoved());
    }
    void ShowErrorCriteria(bool show) override { sheet.ShowErrorCriteria(5, show); }
    int BatteryVoltage() const override { return 18; }
    int BatteryMaxSpeed() const override { return batteryMaxSpeed; }
    void SetBatteryVoltage(int) override {}
    bool CheckBatterySpeeds(int) override { return false; }

    CMainSheet& sheet;
    PB* image = nullptr;
    int set = 0;
    bool changed = false;
    double factor = 1.0;
    int batteryMaxSpeed = 22500;
};

struct Machine {
    int kind = 18;
    bool readOnly = false;
    bool expert = false;
    double gearRatio = 18.2;
    int maxMotor = 22500;
    int minMotor = 50;
    int minThreshold = 101;
    int maxThreshold = 170;
    int clutchMax = 15000;
};

class Generator {
public:
    explicit Generator(unsigned seed) : rng(seed) {}

    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    double Real(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    }
    bool Coin(int percent = 50) { return Int(0, 99) < percent; }

    Machine AnyMachine() {
        Machine m;
        m.kind = Coin() ? 18 : 14;
        m.readOnly = Coin(25);
        m.expert = Coin();
        static const double ratios[] = {18.2, 23.9, 32.0, 39.7, 18.2 * 1.41};
        m.gearRatio = ratios[Int(0, 4)];
        m.maxMotor = Int(9000, 24000);
        m.minMotor = Int(30, 60);
        m.clutchMax = Int(8000, 24000);
        return m;
    }

    // Any bytes, with the step chain as the pages keep it (the only thing editable pages
    // correct on their own).
    PB Odd(const Machine& m) {
        PB b;
        for (auto& byte : b.bytes)
            byte = static_cast<uint8_t>(Int(0, 255));
        // Now and then a field at the edge of its range.
        if (Coin(30))
            b.SetUserTransmission(static_cast<uint16_t>(Int(0, 20)));
        b.bytes[PB::kOffKindChar] = m.kind == 14 ? '4' : '8';
        FixChain(b);
        return b;
    }

    // A machine's image as the pages could have written it.
    PB Valid(const Machine& m) {
        PB b = PB::Default();
        for (size_t i = 0; i < PB::kSize; ++i)
            if (Coin(10))
                b.bytes[i] = static_cast<uint8_t>(Int(0, 255)); // uninterpreted bytes, texts
        b.bytes[0] = 0x20;
        b.bytes[1] = 0x01;
        b.SetMachineType(m.kind == 14 ? "TVX14-2200" : "TVX18-4200");
        b.SetSwVersion("V04.02.005");
        b.SetUserTransmission(static_cast<uint16_t>(Coin() ? 100 : Int(10, 9900)));
        b.SetBatteryThreshold(static_cast<uint8_t>(Int(0, 50)));
        b.SetTorque(static_cast<uint16_t>(Int(0, 65500)));
        b.SetModeFlags(static_cast<uint8_t>((b.ModeFlags() & 0x7E) | (m.expert ? 0x80 : 0) |
                                            (Coin() ? 1 : 0)));
        const PageRules::StepLimits lim = Limits(m, b);
        const bool limited = !b.ClutchLimitRemoved();
        for (size_t i = 0; i < PB::kStepCount; ++i) {
            StepRecord s = b.Step(i);
            static const uint8_t codes[] = {kCondAngle, kCondTime, kCondThreshold, kCondClutch,
                                            kCondCurrent};
            const uint8_t code = codes[Int(0, 4)];
            const bool controlled = code != kCondThreshold && Coin();
            s.SetType(static_cast<uint8_t>(Int(0, 1)));
            s.SetControlled(controlled ? 1 : 0);
            s.SetNextCond(static_cast<uint8_t>(code | (Coin(20) ? 0x80 : 0)));
            s.SetErrorMask(static_cast<uint16_t>(Int(0, 0xFFFF) & kErrAllCriteria &
                                                 ~PageRules::ErrorsExcludedBy(code)));
            const PageRules::SpeedBounds sb =
                PageRules::ShownSpeedBounds(lim, controlled, limited && code == kCondClutch);
            s.SetSpeed(Coin(10) ? 0 : SpeedToMachine(lim.ctx, Int(sb.low, sb.high), controlled));
            s.SetRamp(static_cast<uint8_t>(Int(1, 255)));
            s.SetThreshold(static_cast<uint16_t>(Int(m.minThreshold, m.maxThreshold)));
            s.SetNextStep(static_cast<uint8_t>(Coin(30) ? kNextStepLast : i + 1));
        }
        FixChain(b);
        return b;
    }

    static PageRules::StepLimits Limits(const Machine& m, const PB& b) {
        PageRules::StepLimitInput in;
        in.machineKind = m.kind;
        in.gearRatio = m.gearRatio;
        in.userFactor = b.UserTransmission() >= 1 ? b.UserTransmission() / 100.0 : 1.0;
        in.maxMotorSpeed = m.maxMotor;
        in.minMotorSpeed = m.minMotor;
        in.minThreshold = m.minThreshold;
        in.maxThreshold = m.maxThreshold;
        in.clutchMaxSpeed = m.clutchMax;
        return PageRules::MakeStepLimits(in);
    }

    std::mt19937 rng;

private:
    void FixChain(PB& b) {
        const uint8_t flags = b.ModeFlags();
        for (size_t i = 0; i < PB::kStepCount; ++i) {
            StepRecord s = b.Step(i);
            const bool last = PageRules::StepForcedLast(i, flags) || (i == 6 && (flags & 1)) ||
                              s.NextStep() != i + 1;
            if (last)
                s.SetLast();
        }
    }
};

MachineCatalog CatalogFor(const Machine& m) {
    MachineCatalog c;
    c.activeTransmission = {1, "gear", m.gearRatio};
    c.pageBatteryMaxSpeed = m.maxMotor;
    c.pageMinSpeed = m.minMotor;
    c.minThreshold = m.minThreshold;
    c.maxThreshold = m.maxThreshold;
    c.clutchMaxSpeed = m.clutchMax;
    return c;
}

// The sheet bound to an image as after a read, and the user's way through it.
class Session {
public:
    Session(const Machine& m, PB& img) : host(sheet), image(img) {
        host.image = &image;
        host.batteryMaxSpeed = m.maxMotor;
        sheet.SetHost(&host);
        sheet.LockPages(m.readOnly);
        sheet.SetMachineKind(m.kind);
        sheet.SetBattery(18, m.maxMotor);
        sheet.SetLimits(m.maxMotor, m.minMotor, m.minThreshold, m.maxThreshold, m.clutchMax);
        sheet.SetTransmission({1, "gear", m.gearRatio});
        sheet.SetAngleHead({});
        host.factor = image.UserTransmission() / 100.0;
        sheet.SetGearFactor(host.factor);
        sheet.EnableExpertControls(m.expert && !m.readOnly);
        Show(0);
        sheet.SetClutchLimitRemoved(5, image.ClutchLimitRemoved());
    }

    void Show(int set) {
        if (host.changed)
            sheet.CommitSteps(5);
        host.set = set;
        sheet.SetStepCaptions(set, image.ModeFlags());
        sheet.BindPages(image, set);
    }

    // Every tab shown and left; false when a page refused to be left.
    bool VisitAll() {
        bool allLeft = true;
        for (int tab = 0; tab <= CSheet::kExpertPage + 1; ++tab)
            allLeft = sheet.RequestPage(tab % (CSheet::kExpertPage + 1)) && allLeft;
        return allLeft;
    }

    void Commit() {
        sheet.CommitHeader();
        sheet.CommitSteps(5);
        sheet.CommitMaintenance();
        sheet.CommitExpert();
    }

    // Leaves the active page, correcting what the page corrects (it beeps and stays once).
    void Leave(int to) {
        if (!sheet.RequestPage(to)) {
            ASSERT_TRUE(sheet.RequestPage(to));
        }
    }

    CMainSheet sheet;
    SheetHost host;
    PB& image;
};

std::string Diff(const PB& a, const PB& b) {
    std::string s;
    for (size_t i = 0; i < PB::kSize; ++i)
        if (a.bytes[i] != b.bytes[i])
            s += " @" + std::to_string(i) + ":" + std::to_string(a.bytes[i]) + "->" +
                 std::to_string(b.bytes[i]);
    return s;
}

int ImageCount() {
    const char* env = std::getenv("KELVANE_PROPERTY_IMAGES");
    return env ? std::max(1, std::atoi(env)) : 20000;
}

TEST(PagesPassThrough, ShownAndLeftPagesGiveBackEveryByte) {
    Generator gen(20261210);
    const int count = ImageCount();
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < count; ++n) {
        const Machine m = gen.AnyMachine();
        const PB original = gen.Coin() ? gen.Valid(m) : gen.Odd(m);
        PB image = original;
        Session s(m, image);
        ASSERT_TRUE(s.VisitAll()) << "image " << n;
        s.Commit();
        s.Show(1);
        ASSERT_TRUE(s.VisitAll()) << "image " << n;
        s.Commit();
        s.Show(0);
        s.Commit();
        ASSERT_EQ(image, original)
            << "image " << n << " kind " << m.kind << " read-only " << m.readOnly << " expert "
            << m.expert << ":" << Diff(original, image);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "[ property ] " << count << " images shown and left in " << seconds << " s\n";
}

// A few edits of what a user may touch, each only where its control is enabled.
void EditStepPage(Generator& gen, PrgStepModel& p) {
    using P = PrgStepModel;
    if (p.IsEnabled(P::kIdCondition) && gen.Coin(40))
        p.OnConditionChosen(gen.Int(0, 3));
    if (p.IsEnabled(P::kIdControlled) && gen.Coin(30))
        p.OnControlledClicked(!p.V().controlled);
    if (p.IsEnabled(P::kIdSpeed) && gen.Coin(60)) {
        p.OnSpeedChanged(gen.Int(0, p.V().controlled ? 3000 : 150));
        p.OnSpeedFocusOut();
    }
    if (p.IsEnabled(P::kIdType) && gen.Coin(30))
        p.OnTypeChosen(gen.Int(0, 1));
    if (p.IsEnabled(P::kIdRamp) && gen.Coin(30))
        p.OnRampTyped(std::to_string(gen.Real(0, 3)));
    if (p.IsEnabled(P::kIdLastStep) && gen.Coin(30))
        p.OnLastStepClicked(!p.V().lastStep);
    if (p.IsEnabled(P::kIdWaitRestart) && gen.Coin(30))
        p.OnWaitRestartClicked(!p.V().waitRestart);
    if (p.IsEnabled(P::kIdThreshold) && gen.Coin(40)) {
        p.OnThresholdChanged(gen.Int(-20, 120));
        p.OnThresholdFocusOut(false);
    }
    if (p.IsEnabled(P::kIdThresholdSlider) && gen.Coin(20))
        p.OnSliderMoved(false, gen.Int(p.MinThresholdRaw(), p.MaxThresholdRaw()));
    for (int box : {P::kIdErrClutch, P::kIdErrAngleMaxBox, P::kIdErrAngleMinBox,
                    P::kIdErrTimeMaxBox, P::kIdErrTimeMinBox, P::kIdErrThresholdBox,
                    P::kIdErrCurrentMaxBox, P::kIdErrCurrentMinBox})
        if (p.IsEnabled(box) && gen.Coin(15))
            p.OnErrorBoxClicked(box, gen.Coin());
    if (p.IsEnabled(P::kIdAngle) && gen.Coin(30)) {
        p.OnAngleChanged(gen.Int(0, 5000));
        p.OnFieldLeft(P::kIdAngle);
    }
    if (p.IsEnabled(P::kIdTime) && gen.Coin(30))
        p.OnTimeChanged(gen.Int(0, 70000));
}

TEST(PagesPassThrough, WhatThePagesMakeOfAMachinesImagePassesTheCheck) {
    Generator gen(4711);
    const int count = ImageCount() / 4;
    for (int n = 0; n < count; ++n) {
        Machine m = gen.AnyMachine();
        m.readOnly = false;
        const PB machine = gen.Valid(m);
        const MachineCatalog catalog = CatalogFor(m);
        ASSERT_EQ(DescribeFindings(CheckImageForWrite(machine, machine, catalog, 0),
                                   [](const std::string& t) { return t; }),
                  "")
            << "generated image " << n;
        PB image = machine;
        Session s(m, image);
        for (int set : {0, 1}) {
            s.Show(set);
            for (int round = 0; round < 2; ++round) {
                for (int tab = 0; tab <= CSheet::kExpertPage; ++tab) {
                    s.Leave(tab);
                    if (tab >= CSheet::kFirstStepPage && tab < CSheet::kMaintenancePage)
                        EditStepPage(gen, s.sheet.Step(tab - CSheet::kFirstStepPage));
                    ExpertModel& e = s.sheet.Expert();
                    if (tab == CSheet::kExpertPage && e.IsEnabled(ExpertModel::kUserFactor)) {
                        if (gen.Coin(30)) {
                            e.OnUserFactorChanged(gen.Real(0.01, 120));
                            e.OnUserFactorFocusOut();
                        }
                        if (gen.Coin(30))
                            e.OnParamSet12Clicked(!e.V().paramSet12);
                        if (gen.Coin(30))
                            e.OnClutchLimitClicked(!e.V().clutchLimit);
                    }
                    MaintenanceModel& mt = s.sheet.Maintenance();
                    if (tab == CSheet::kMaintenancePage && gen.Coin(50)) {
                        mt.OnTorqueChanged(gen.Real(0, 800));
                        mt.OnTorqueFocusOut();
                    }
                }
            }
            s.Leave(CSheet::kHeaderPage);
            s.Commit();
        }
        const auto findings = CheckImageForWrite(image, machine, catalog, 0);
        ASSERT_TRUE(findings.empty())
            << "image " << n << " kind " << m.kind << ": "
            << DescribeFindings(findings, [](const std::string& t) { return t; })
            << "\n changed:" << Diff(machine, image);
    }
}

} // namespace
