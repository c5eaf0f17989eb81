#include "pages/gui/DialogPrgStep.h"

#include <QCheckBox>
#include <QComboBox>
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

using P = PrgStepModel;

CNumEdit* cDialogPrgStep::IntEdit() {
    auto* e = new CNumEdit(this);
    e->SetMode(NumEditRule::kInteger);
    e->setMaximumWidth(160);
    return e;
}

CNumEdit* cDialogPrgStep::RealEdit() {
    auto* e = new CNumEdit(this);
    e->SetMode(NumEditRule::kReal);
    e->setMaximumWidth(160);
    return e;
}

QCheckBox* cDialogPrgStep::ErrorRow(QGridLayout* grid, int row, const char* label, int boxId,
                                    QWidget* value, int valueId, const char* unit) {
    auto* box = new QCheckBox(T(label), this);
    grid->addWidget(box, row, 0);
    Register(boxId, box);
    if (value) {
        grid->addWidget(value, row, 1);
        std::vector<QWidget*> companions;
        if (unit) {
            auto* u = new QLabel(T(unit), this);
            grid->addWidget(u, row, 2);
            companions.push_back(u);
        }
        Register(valueId, value, companions);
    }
    return box;
}

cDialogPrgStep::cDialogPrgStep(PageHost& host, QWidget* parent)
    : cDialogPrgStep(new PrgStepModel(host), parent) {}

cDialogPrgStep::cDialogPrgStep(PrgStepModel* owned, QWidget* parent)
    : cPageWidget(parent), model(*owned) {
    OwnModel(owned);
    Build();
}

cDialogPrgStep::cDialogPrgStep(PrgStepModel& m, QWidget* parent) : cPageWidget(parent), model(m) {
    Build();
}

void cDialogPrgStep::Build() {
    BindModel(model);
    auto* outer = new QHBoxLayout(this);

    // Left: the step itself and what ends it.
    auto* left = new QVBoxLayout;
    outer->addLayout(left, 1);
    auto* stepBox = new QGroupBox(this);
    auto* g = new QGridLayout(stepBox);
    g->setColumnStretch(3, 1);
    left->addWidget(stepBox);

    type = new QComboBox(this);
    type->addItems({T("Rechtslauf"), T("Linkslauf")});
    controlled = new QCheckBox(T("geregelt"), this);
    speed = IntEdit();
    speedUnit = new QLabel(T("1/Min"), this);
    ramp = new QComboBox(this);
    ramp->setEditable(true);
    ramp->addItems({"0.2", "0.3", "0.4", "0.5", "0.6", "0.7", "0.8", "0.9", "1"});
    lastStep = new QCheckBox(T("letzter Schritt"), this);
    clutchLimit = IntEdit();

    int row = 0;
    AddRow(g, row++, "Typ", type, nullptr, P::kIdType);
    g->addWidget(controlled, row++, 1);
    Register(P::kIdControlled, controlled);
    auto* speedLabel = new QLabel(T("Drehzahl"), this);
    g->addWidget(speedLabel, row, 0);
    g->addWidget(speed, row, 1);
    g->addWidget(speedUnit, row++, 2);
    Register(P::kIdSpeed, speed, {speedLabel, speedUnit});
    speedUnit->setObjectName(QStringLiteral("c%1").arg(P::kIdSpeedUnit));
    AddRow(g, row++, "Sanftanlauf", ramp, "Sekunden", P::kIdRamp);
    g->addWidget(lastStep, row++, 1);
    Register(P::kIdLastStep, lastStep);
    auto* clutchLabel = new QLabel(T("Drehzahlbegrenzung bei Abschaltkriteriumk Kupplung"), this);
    clutchLabel->setWordWrap(true);
    g->addWidget(clutchLabel, row++, 0, 1, 3);
    g->addWidget(clutchLimit, row, 1);
    auto* clutchUnit = new QLabel(T("1/Min"), this);
    g->addWidget(clutchUnit, row++, 2);
    Register(P::kIdClutchLimit, clutchLimit, {clutchLabel, clutchUnit});

    auto* nextBox = new QGroupBox(this);
    auto* n = new QGridLayout(nextBox);
    n->setColumnStretch(3, 1);
    left->addWidget(nextBox);
    left->addStretch(1);
    condition = new QComboBox(this);
    condition->addItems({T("Drehwinkel erreicht"), T("Zeit abgelaufen"), T("Drehmoment-Schwelle"),
                         T("Kupplung ausgelöst")});
    angle = IntEdit();
    time = IntEdit();
    thresholdSlider = new QSlider(Qt::Horizontal, this);
    threshold = RealEdit();
    waitRestart = new QCheckBox(T("warten auf Neustart"), this);
    current = RealEdit();
    row = 0;
    AddRow(n, row++, "weiter bei", condition, nullptr, P::kIdCondition);
    AddRow(n, row++, "Drehwinkel", angle, "Grad", P::kIdAngle);
    AddRow(n, row++, "Zeit", time, "ms", P::kIdTime);
    auto* thrLabel = new QLabel(T("Schwelle"), this);
    n->addWidget(thrLabel, row, 0);
    n->addWidget(thresholdSlider, row++, 1, 1, 2);
    Register(P::kIdThresholdSlider, thresholdSlider, {thrLabel});
    n->addWidget(threshold, row++, 1);
    Register(P::kIdThreshold, threshold);
    n->addWidget(waitRestart, row++, 1);
    Register(P::kIdWaitRestart, waitRestart);
    AddRow(n, row++, "Strom", current, "[A]", P::kIdCurrent);

    // Right: the error criteria, shown on the expert page's demand.
    errGroup = new QGroupBox(T("Fehlerkriterium"), this);
    outer->addWidget(errGroup, 1);
    Register(P::kIdErrGroup, errGroup);
    auto* e = new QGridLayout(errGroup);
    errAngleMax = IntEdit();
    errAngleMin = IntEdit();
    errTimeMax = IntEdit();
    errTimeMin = IntEdit();
    errThresholdSlider = new QSlider(Qt::Horizontal, this);
    errThreshold = RealEdit();
    errCurrentMax = RealEdit();
    errCurrentMin = RealEdit();
    row = 0;
    errClutch = ErrorRow(e, row++, "Kupplung ausgelöst", P::kIdErrClutch, nullptr, 0, nullptr);
    errAngleMaxBox = ErrorRow(e, row++, "Drehwinkel >", P::kIdErrAngleMaxBox, errAngleMax,
                              P::kIdErrAngleMax, "Grad");
    errAngleMinBox = ErrorRow(e, row++, "Drehwinkel <", P::kIdErrAngleMinBox, errAngleMin,
                              P::kIdErrAngleMin, "Grad");
    errTimeMaxBox =
        ErrorRow(e, row++, "Zeit >", P::kIdErrTimeMaxBox, errTimeMax, P::kIdErrTimeMax, "ms");
    errTimeMinBox =
        ErrorRow(e, row++, "Zeit <", P::kIdErrTimeMinBox, errTimeMin, P::kIdErrTimeMin, "ms");
    errThresholdBox = ErrorRow(e, row++, "Schwelle", P::kIdErrThresholdBox, errThresholdSlider,
                               P::kIdErrThresholdSlider, nullptr);
    e->addWidget(errThreshold, row++, 1);
    Register(P::kIdErrThreshold, errThreshold);
    errCurrentMaxBox = ErrorRow(e, row++, "Strom >", P::kIdErrCurrentMaxBox, errCurrentMax,
                                P::kIdErrCurrentMax, "[A]");
    errCurrentMinBox = ErrorRow(e, row++, "Strom <", P::kIdErrCurrentMinBox, errCurrentMin,
                                P::kIdErrCurrentMin, "[A]");
    e->setRowStretch(row, 1);

    // Events. Values shown by the view itself (updating) are no edits.
    auto guard = [this](auto f) {
        return [this, f](auto... args) {
            if (!updating)
                f(args...);
        };
    };
    connect(type, qOverload<int>(&QComboBox::activated), this,
            guard([this](int i) { model.OnTypeChosen(i); }));
    connect(controlled, &QCheckBox::clicked, this,
            guard([this](bool c) { model.OnControlledClicked(c); }));
    connect(speed, &CNumEdit::NumberChanged, this,
            guard([this] { model.OnSpeedChanged(speed->GetInt()); }));
    connect(ramp, &QComboBox::activated, this,
            guard([this](int) { model.OnRampChosen(ramp->currentText().toStdString()); }));
    connect(ramp->lineEdit(), &QLineEdit::textEdited, this,
            guard([this](const QString& t) { model.OnRampTyped(t.toStdString()); }));
    connect(lastStep, &QCheckBox::clicked, this,
            guard([this](bool c) { model.OnLastStepClicked(c); }));
    connect(condition, qOverload<int>(&QComboBox::activated), this,
            guard([this](int i) { model.OnConditionChosen(i); }));
    connect(angle, &CNumEdit::NumberChanged, this,
            guard([this] { model.OnAngleChanged(angle->GetInt()); }));
    connect(time, &CNumEdit::NumberChanged, this,
            guard([this] { model.OnTimeChanged(time->GetInt()); }));
    connect(threshold, &CNumEdit::NumberChanged, this,
            guard([this] { model.OnThresholdChanged(threshold->GetReal()); }));
    connect(errThreshold, &CNumEdit::NumberChanged, this,
            guard([this] { model.OnErrThresholdChanged(errThreshold->GetReal()); }));
    connect(thresholdSlider, &QSlider::valueChanged, this,
            guard([this](int p) { model.OnSliderMoved(false, p); }));
    connect(errThresholdSlider, &QSlider::valueChanged, this,
            guard([this](int p) { model.OnSliderMoved(true, p); }));
    connect(waitRestart, &QCheckBox::clicked, this,
            guard([this](bool c) { model.OnWaitRestartClicked(c); }));
    connect(current, &CNumEdit::NumberChanged, this,
            guard([this] { model.OnCurrentChanged(current->GetReal()); }));
    for (QCheckBox* box : {errClutch, errAngleMaxBox, errAngleMinBox, errTimeMaxBox, errTimeMinBox,
                           errThresholdBox, errCurrentMaxBox, errCurrentMinBox}) {
        const int id = box->property("controlId").toInt();
        connect(box, &QCheckBox::clicked, this,
                guard([this, id](bool c) { model.OnErrorBoxClicked(id, c); }));
    }
    for (CNumEdit* ed :
         {errAngleMax, errAngleMin, errTimeMax, errTimeMin, errCurrentMax, errCurrentMin}) {
        const int id = ed->property("controlId").toInt();
        connect(ed, &CNumEdit::NumberChanged, this,
                guard([this, id, ed] { model.OnErrorValueChanged(id, ed->GetReal()); }));
    }
    for (CNumEdit* w : {speed, threshold, errThreshold, angle, current, errAngleMax, errAngleMin,
                        errCurrentMax, errCurrentMin})
        w->installEventFilter(this);
    ShowValues();
}

bool cDialogPrgStep::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && !updating) {
        if (watched == speed)
            model.OnSpeedFocusOut();
        else if (watched == threshold)
            model.OnThresholdFocusOut(false);
        else if (watched == errThreshold)
            model.OnThresholdFocusOut(true);
        else if (auto* edit = qobject_cast<CNumEdit*>(watched))
            model.OnFieldLeft(edit->property("controlId").toInt());
    }
    return cPageWidget::eventFilter(watched, event);
}

void cDialogPrgStep::ShowValues() {
    updating = true;
    const auto& v = model.V();
    type->setCurrentIndex(v.type >= 0 && v.type < 2 ? v.type : -1);
    controlled->setChecked(v.controlled);
    SetNum(speed, v.speed);
    speedUnit->setText(QString::fromStdString(v.unit));
    if (ramp->currentText() != QString::fromStdString(v.rampText)) {
        const int cursor = ramp->lineEdit()->cursorPosition();
        ramp->setEditText(QString::fromStdString(v.rampText));
        ramp->lineEdit()->setCursorPosition(std::min<int>(cursor, ramp->currentText().size()));
    }
    lastStep->setChecked(v.lastStep);
    SetNum(clutchLimit, v.clutchLimit);
    condition->setCurrentIndex(v.condition >= 0 && v.condition < 4 ? v.condition : -1);
    SetNum(angle, v.angle);
    SetNum(time, v.time);
    for (QSlider* s : {thresholdSlider, errThresholdSlider})
        s->setRange(model.MinThresholdRaw(), model.MaxThresholdRaw());
    thresholdSlider->setValue(v.thresholdSlider);
    errThresholdSlider->setValue(v.errThresholdSlider);
    SetNum(threshold, v.threshold);
    waitRestart->setChecked(v.waitRestart);
    SetNum(current, v.current);
    errClutch->setChecked(v.errClutch);
    errAngleMaxBox->setChecked(v.errAngleMax);
    SetNum(errAngleMax, v.errAngleMaxValue);
    errAngleMinBox->setChecked(v.errAngleMin);
    SetNum(errAngleMin, v.errAngleMinValue);
    errTimeMaxBox->setChecked(v.errTimeMax);
    SetNum(errTimeMax, v.errTimeMaxValue);
    errTimeMinBox->setChecked(v.errTimeMin);
    SetNum(errTimeMin, v.errTimeMinValue);
    errThresholdBox->setChecked(v.errThreshold);
    SetNum(errThreshold, v.errThresholdValue);
    errCurrentMaxBox->setChecked(v.errCurrentMax);
    SetNum(errCurrentMax, v.errCurrentMaxValue);
    errCurrentMinBox->setChecked(v.errCurrentMin);
    SetNum(errCurrentMin, v.errCurrentMinValue);
    ApplyStates();
    updating = false;
}
