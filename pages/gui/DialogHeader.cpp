#include "pages/gui/DialogHeader.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "pages/NumEditRule.h"
#include "pages/gui/NumEdit.h"

cDialogHeader::cDialogHeader(PageHost& host, QWidget* parent)
    : cDialogHeader(new HeaderModel(host), parent) {}

cDialogHeader::cDialogHeader(HeaderModel* owned, QWidget* parent)
    : cPageWidget(parent), model(*owned) {
    OwnModel(owned);
    Build();
}

cDialogHeader::cDialogHeader(HeaderModel& m, QWidget* parent) : cPageWidget(parent), model(m) {
    Build();
}

void cDialogHeader::Build() {
    BindModel(model);
    setWindowTitle(T("Kopfdaten"));
    auto* outer = new QVBoxLayout(this);
    auto* group = new QGroupBox(this);
    auto* grid = new QGridLayout(group);
    outer->addWidget(group);
    outer->addStretch(1);

    machineType = new QLineEdit(this);
    serialNr = new QLineEdit(this);
    serialNr->setMaxLength(HeaderModel::kToolIdLength);
    swVersion = new QLineEdit(this);
    maxTorque = new CNumEdit(this);
    maxTorque->SetMode(NumEditRule::kReal);
    toolId = new QLineEdit(this);
    toolId->setMaxLength(HeaderModel::kToolIdLength);
    battery = new QComboBox(this);
    battery->addItems({T("12 V"), T("14 V"), T("18 V")});
    maxSpeed = new QLineEdit(this);
    rlLock = new QCheckBox(T("Umschaltung R/L gesperrt"), this);
    buzzer = new QCheckBox(T("Summer Ein/Aus"), this);
    restartLock = new CNumEdit(this);
    restartLock->SetMode(NumEditRule::kReal);
    gearName = new QLineEdit(this);
    angleHeadName = new QLineEdit(this);

    int row = 0;
    AddRow(grid, row++, "Maschinentyp", machineType, nullptr, HeaderModel::kMachineType);
    AddRow(grid, row++, "Seriennummer", serialNr, nullptr, HeaderModel::kSerialNr);
    AddRow(grid, row++, "Softwareversion", swVersion, nullptr, HeaderModel::kSwVersion);
    AddRow(grid, row++, "Max Drehmoment", maxTorque, "Nm", HeaderModel::kMaxTorque);
    AddRow(grid, row++, "Maschinenkennung", toolId, nullptr, HeaderModel::kToolId);
    // The label "Akku" stays hidden, as on the machine's own page.
    QLabel* akku = AddRow(grid, row++, "Akku", battery, nullptr, HeaderModel::kBattery);
    akku->setText(QString());
    AddRow(grid, row++, "Max. Drehzahl", maxSpeed, "1/Min", HeaderModel::kMaxSpeed);
    grid->addWidget(rlLock, row++, 1);
    Register(HeaderModel::kRlLock, rlLock);
    grid->addWidget(buzzer, row++, 1);
    Register(HeaderModel::kBuzzer, buzzer);
    AddRow(grid, row++, "Wiederanlaufsperre", restartLock, "Sekunden", HeaderModel::kRestartLock);
    AddRow(grid, row++, "Getriebeübersetzung", gearName, nullptr, HeaderModel::kGearName);
    AddRow(grid, row++, "Winkelkopf", angleHeadName, nullptr, HeaderModel::kAngleHeadName);

    connect(toolId, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (!updating)
            model.OnToolIdChanged(t.toStdString());
    });
    connect(battery, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        if (!updating)
            model.OnBatteryChosen(index);
    });
    ShowValues();
}

void cDialogHeader::ShowValues() {
    updating = true;
    const auto& v = model.V();
    SetText(machineType, v.machineType);
    SetText(serialNr, v.serialNr);
    SetText(swVersion, v.swVersion);
    SetNum(maxTorque, v.maxTorque);
    SetText(toolId, v.toolId);
    battery->setCurrentIndex(v.battery);
    SetText(maxSpeed, std::to_string(v.maxSpeed));
    rlLock->setChecked(v.rlLock);
    buzzer->setChecked(v.buzzer);
    SetNum(restartLock, v.restartLock);
    SetText(gearName, v.gearName);
    SetText(angleHeadName, v.angleHeadName);
    ApplyStates();
    updating = false;
}
