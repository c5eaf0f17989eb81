#pragma once

#include "model/MachineCatalog.h"
#include "model/ParameterBlock.h"
#include "pages/gui/DialogExpert.h"
#include "pages/gui/DialogHeader.h"
#include "pages/gui/DialogMaintenceData.h"
#include "pages/gui/DialogPrgStep.h"

// A machine as read: kind 18, gearbox 1:18,2, no angle head, 18 V battery, pages editable.
struct PageSample {
    ParameterBlock image = ParameterBlock::Default();
    TransmissionEntry gear{1, "1:18,2", 18.2, 0, 0};
    TransmissionEntry angle{0, "", 1.0, 0, 0};

    PageSample() {
        image.SetMachineType("QVK18-XL");
        image.SetSerialNr("0815-4711");
        image.SetSwVersion("V04.02.017");
        image.SetToolId("Linie 3");
        image.SetElAssembly("EL-2000-B");
        image.SetMaxTorque(2550);
        image.SetTorque(1850);
        image.SetCalName("Maier");
        image.SetPlace("Halle 12");
        image.SetCalDate(12962880); // some day in 2024
        image.SetServiceDueCounter(50000);
        image.SetServiceResetCounter(1000);
        image.SetRestartLock(15);
        image.SetRestartLockNio(30);
        image.SetBatteryDisplay(1);
        image.SetBatteryThreshold(20);
        image.SetUserTransmission(100);
        image.SetModeFlags(0x80);
        StepRecord s = image.Step(0);
        s.SetControlled(1);
        s.SetSpeed(2000);
        s.SetRamp(50);
        s.SetCondition(kCondAngle);
        s.SetAngle(820);
        s.SetErrorMask(kErrTimeMax | kErrClutch);
        s.SetTime(1500);
    }

    void Bind(cDialogHeader& h) {
        h.Model().AttachRecord(&image);
        h.Model().SetGearEntry(&gear);
        h.Model().SetAngleHeadEntry(&angle);
        h.Model().SetBattery();
        h.Model().SetReadOnly(false);
    }
    void Bind(cDialogPrgStep& p, int index) {
        auto& m = p.Model();
        m.SetMachineKind(18);
        m.SetGearEntry(&gear);
        m.SetLimits({22500, 50, 101, 170, 22500});
        m.SetStepIndex(index);
        m.SetForcedLast(false);
        m.SetUserFactor(1.0);
        m.SetReadOnly(false);
        m.AttachRecord(image.Step(index));
        if (index == 4)
            m.SetForcedLast(true);
    }
    void Bind(cDialogMaintenceData& p) {
        p.Model().AttachRecord(&image);
        p.Model().SetFasteningCounter(1234);
        p.Model().SetReadOnly(false);
    }
    void Bind(cDialogExpert& p) {
        p.Model().AttachRecord(&image);
        p.Model().SetGearEntry(&gear);
        p.Model().SetAngleHeadEntry(&angle);
        p.Model().SetUserFactor(1.0);
        p.Model().SetReadOnly(false);
        p.Model().SetExpertEnabled(true);
    }
};
