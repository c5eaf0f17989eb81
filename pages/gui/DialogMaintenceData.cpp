#include "pages/gui/DialogMaintenceData.h"

#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <ctime>

#include "pages/NumEditRule.h"
#include "pages/gui/NumEdit.h"

using M = MaintenanceModel;

cDialogMaintenceData::cDialogMaintenceData(PageHost& host, QWidget* parent)
    : cDialogMaintenceData(new MaintenanceModel(host), parent) {}

cDialogMaintenceData::cDialogMaintenceData(MaintenanceModel* owned, QWidget* parent)
    : cPageWidget(parent), model(*owned) {
    OwnModel(owned);
    Build();
}

cDialogMaintenceData::cDialogMaintenceData(MaintenanceModel& m, QWidget* parent)
    : cPageWidget(parent), model(m) {
    Build();
}

void cDialogMaintenceData::Build() {
    BindModel(model);
    setWindowTitle(T("Wartungsdaten"));
    auto* outer = new QVBoxLayout(this);
    auto* group = new QGroupBox(this);
    auto* g = new QGridLayout(group);
    outer->addWidget(group);
    outer->addStretch(1);

    elAssembly = new QLineEdit(this);
    counter = new CNumEdit(this);
    serviceDue = new CNumEdit(this);
    sinceService = new CNumEdit(this);
    reset = new QPushButton(T("Reset"), this);
    calDate = new QLineEdit(this);
    set = new QPushButton(T("Set"), this);
    calName = new QLineEdit(this);
    calName->setMaxLength(M::kTextLength);
    torque = new CNumEdit(this);
    torque->SetMode(NumEditRule::kReal);
    place = new QLineEdit(this);
    place->setMaxLength(M::kTextLength);

    int row = 0;
    AddRow(g, row++, "Elektronikbaugruppe", elAssembly, nullptr, M::kElAssembly);
    AddRow(g, row++, "Verschraubungszähler", counter, nullptr, M::kCounter);
    AddRow(g, row++, "Service bei Verschraubungszähler", serviceDue, nullptr, M::kServiceDue);
    AddRow(g, row, "Verschraubungsen seit letzter Wartung", sinceService, nullptr,
           M::kSinceService);
    g->addWidget(reset, row++, 2);
    Register(M::kReset, reset);
    AddRow(g, row, "Datum letzte Kalibrierung", calDate, nullptr, M::kCalDate);
    g->addWidget(set, row++, 2);
    Register(M::kSet, set);
    AddRow(g, row++, "Durchgeführt von", calName, nullptr, M::kCalName);
    AddRow(g, row++, "Eingestelltes Drehmoment", torque, "Nm", M::kTorque);
    AddRow(g, row++, "Einsatzort", place, nullptr, M::kPlace);

    connect(reset, &QPushButton::clicked, this, [this] { model.OnResetClicked(); });
    connect(set, &QPushButton::clicked, this, [this] { model.OnSetClicked(std::time(nullptr)); });
    connect(serviceDue, &CNumEdit::NumberChanged, this, [this] {
        if (!updating)
            model.OnServiceDueChanged(serviceDue->GetInt());
    });
    connect(calName, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (!updating)
            model.OnCalNameChanged(t.toStdString());
    });
    connect(place, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (!updating)
            model.OnPlaceChanged(t.toStdString());
    });
    connect(torque, &CNumEdit::NumberChanged, this, [this] {
        if (!updating)
            model.OnTorqueChanged(torque->GetReal());
    });
    torque->installEventFilter(this);
    ShowValues();
}

bool cDialogMaintenceData::eventFilter(QObject* watched, QEvent* event) {
    if (watched == torque && event->type() == QEvent::FocusOut && !updating)
        model.OnTorqueFocusOut();
    return cPageWidget::eventFilter(watched, event);
}

void cDialogMaintenceData::ShowValues() {
    updating = true;
    const auto& v = model.V();
    SetText(elAssembly, v.elAssembly);
    SetNum(counter, v.counter);
    SetNum(serviceDue, v.serviceDue);
    SetNum(sinceService, v.sinceService);
    SetText(calDate, v.calDate);
    SetText(calName, v.calName);
    SetNum(torque, v.torque);
    SetText(place, v.place);
    ApplyStates();
    updating = false;
}
