#include "pages/gui/DialogExpert.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QVBoxLayout>

#include "pages/NumEditRule.h"
#include "pages/gui/NumEdit.h"

using E = ExpertModel;

cDialogExpert::cDialogExpert(PageHost& host, QWidget* parent)
    : cDialogExpert(new ExpertModel(host), parent) {}

cDialogExpert::cDialogExpert(ExpertModel* owned, QWidget* parent)
    : cPageWidget(parent), model(*owned) {
    OwnModel(owned);
    Build();
}

cDialogExpert::cDialogExpert(ExpertModel& m, QWidget* parent) : cPageWidget(parent), model(m) {
    Build();
}

void cDialogExpert::Build() {
    BindModel(model);
    setWindowTitle(T("Expertenmodus"));
    auto* outer = new QVBoxLayout(this);
    auto* group = new QGroupBox(this);
    auto* g = new QGridLayout(group);
    outer->addWidget(group);
    outer->addStretch(1);

    gearName = new QLineEdit(this);
    userFactor = new CNumEdit(this);
    userFactor->SetMode(NumEditRule::kReal);
    angleHeadName = new QLineEdit(this);
    buzzer = new QCheckBox(T("Summer Ein/Aus"), this);
    rlLock = new QCheckBox(T("Umschaltung gesperrt"), this);
    rlPermanent = new QCheckBox(T("Umschaltung permanent"), this);
    restartIo = new CNumEdit(this);
    restartIo->SetMode(NumEditRule::kReal);
    restartNio = new CNumEdit(this);
    restartNio->SetMode(NumEditRule::kReal);
    blinkNio = new QCheckBox(T("Blinken bei NIO"), this);
    batterySlider = new QSlider(Qt::Horizontal, this);
    batterySlider->setRange(0, 50);
    batteryText = new QLineEdit(this);
    batteryText->setMaximumWidth(60);
    showErrors = new QCheckBox(T("Feherkriterien anzeigen"), this);
    batteryDisplay = new QCheckBox(this);
    paramSet12 = new QCheckBox(T("Parametersatz 1+2"), this);
    clutchLimit = new QCheckBox(this);

    int row = 0;
    AddRow(g, row++, "Getriebeübersetzung", gearName, nullptr, E::kGearName);
    AddRow(g, row++, "Benutzerdefinierte Getriebeübersetzung", userFactor, nullptr, E::kUserFactor);
    AddRow(g, row++, "Winkelkopf", angleHeadName, nullptr, E::kAngleHeadName);
    for (auto [box, id] : {std::pair{buzzer, int(E::kBuzzer)}, std::pair{rlLock, int(E::kRlLock)},
                           std::pair{rlPermanent, int(E::kRlPermanent)}}) {
        g->addWidget(box, row++, 1);
        Register(id, box);
    }
    AddRow(g, row++, "Wiederanlaufsperre IO", restartIo, "Sekunden", E::kRestartIo);
    AddRow(g, row++, "Wiederanlaufsperre NIO", restartNio, "Sekunden", E::kRestartNio);
    g->addWidget(blinkNio, row++, 1);
    Register(E::kBlinkNio, blinkNio);

    auto* batteryLabel = new QLabel(T("Akkukapazitätsanzeige"), this);
    g->addWidget(batteryLabel, row, 0);
    auto* batteryRow = new QHBoxLayout;
    auto* bei = new QLabel(T("bei"), this);
    batteryRow->addWidget(bei);
    batteryRow->addWidget(batterySlider, 1);
    batteryRow->addWidget(batteryText);
    auto* percent = new QLabel(T("%"), this);
    batteryRow->addWidget(percent);
    g->addLayout(batteryRow, row++, 1, 1, 2);
    Register(E::kBatterySlider, batterySlider);
    Register(E::kBatteryText, batteryText);
    g->addWidget(showErrors, row++, 1);
    Register(E::kShowErrors, showErrors);
    for (auto [box, id] : {std::pair{batteryDisplay, int(E::kBatteryDisplay)},
                           std::pair{paramSet12, int(E::kParamSet12)},
                           std::pair{clutchLimit, int(E::kClutchLimit)}}) {
        g->addWidget(box, row++, 1);
        Register(id, box);
    }

    auto guard = [this](auto f) {
        return [this, f](auto... args) {
            if (!updating)
                f(args...);
        };
    };
    connect(batterySlider, &QSlider::valueChanged, this,
            guard([this](int p) { model.OnBatterySliderMoved(p); }));
    connect(buzzer, &QCheckBox::clicked, this, guard([this](bool c) { model.OnBuzzerClicked(c); }));
    connect(rlLock, &QCheckBox::clicked, this, guard([this](bool c) { model.OnRlLockClicked(c); }));
    connect(batteryDisplay, &QCheckBox::clicked, this,
            guard([this](bool c) { model.OnBatteryDisplayClicked(c); }));
    connect(paramSet12, &QCheckBox::clicked, this,
            guard([this](bool c) { model.OnParamSet12Clicked(c); }));
    connect(clutchLimit, &QCheckBox::clicked, this,
            guard([this](bool c) { model.OnClutchLimitClicked(c); }));
    connect(showErrors, &QCheckBox::clicked, this,
            guard([this](bool c) { model.OnShowErrorsClicked(c); }));
    connect(userFactor, &CNumEdit::NumberChanged, this,
            guard([this] { model.OnUserFactorChanged(userFactor->GetReal()); }));
    connect(restartIo, &CNumEdit::NumberChanged, this,
            guard([this] { model.OnRestartLockChanged(false, restartIo->GetReal()); }));
    connect(restartNio, &CNumEdit::NumberChanged, this,
            guard([this] { model.OnRestartLockChanged(true, restartNio->GetReal()); }));
    for (QWidget* w : {static_cast<QWidget*>(userFactor), static_cast<QWidget*>(restartIo),
                       static_cast<QWidget*>(restartNio)})
        w->installEventFilter(this);
    ShowValues();
}

bool cDialogExpert::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && !updating) {
        if (watched == userFactor)
            model.OnUserFactorFocusOut();
        else if (watched == restartIo)
            model.OnRestartLockFocusOut(false);
        else if (watched == restartNio)
            model.OnRestartLockFocusOut(true);
    }
    return cPageWidget::eventFilter(watched, event);
}

void cDialogExpert::ShowValues() {
    updating = true;
    const auto& v = model.V();
    SetText(gearName, v.gearName);
    SetNum(userFactor, v.userFactor);
    SetText(angleHeadName, v.angleHeadName);
    buzzer->setChecked(v.buzzer);
    rlLock->setChecked(v.rlLock);
    rlPermanent->setChecked(v.rlPermanent);
    SetNum(restartIo, v.restartIo);
    SetNum(restartNio, v.restartNio);
    blinkNio->setChecked(v.blinkNio);
    batterySlider->setValue(v.batteryThreshold);
    SetText(batteryText, std::to_string(v.batteryThreshold));
    showErrors->setChecked(v.showErrors);
    batteryDisplay->setChecked(v.batteryDisplay);
    paramSet12->setChecked(v.paramSet12);
    clutchLimit->setChecked(v.clutchLimit);
    ApplyStates();
    updating = false;
}
