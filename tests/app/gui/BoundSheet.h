// The page sheet of a machine as read, its pages editable, set 1 bound.
#pragma once

#include "app/MainSheet.h"
#include "tests/pages/PageFakes.h"
#include "tests/pages/gui/PageSamples.h"

struct BoundSheet {
    FakeHost host;
    PageSample sample;
    CMainSheet sheet;

    BoundSheet() {
        sheet.SetHost(&host);
        sheet.SetMachineKind(18);
        sheet.SetTransmission(sample.gear);
        sheet.SetAngleHead(sample.angle);
        sheet.SetLimits(22500, 50, 101, 170, 22500);
        sheet.SetBattery(18, 22500);
        sheet.LockPages(false);
        sheet.EnableExpertControls(true);
        sheet.BindPages(sample.image, 0);
    }
};
