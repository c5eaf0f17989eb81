#include "pages/gui/PageWidget.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include "lang/Language.h"
#include "pages/NumEditRule.h"
#include "pages/gui/NumEdit.h"

cPageWidget::cPageWidget(QWidget* parent) : QWidget(parent) {}

cPageWidget::~cPageWidget() {
    // A model that outlives its view must not call it any more.
    if (pageModel)
        pageModel->SetView(nullptr);
}

void cPageWidget::BindModel(PageModel& model) {
    pageModel = &model;
    model.SetView(this);
}

QString cPageWidget::T(const char* german) {
    return QString::fromStdString(Translate(german));
}

QWidget* cPageWidget::Control(int id) const {
    auto it = controls.find(id);
    return it == controls.end() ? nullptr : it->second;
}

void cPageWidget::Register(int id, QWidget* control, std::vector<QWidget*> companions) {
    control->setObjectName(QStringLiteral("c%1").arg(id));
    control->setProperty("controlId", id);
    controls[id] = control;
    companionsOf[id] = std::move(companions);
}

QLabel* cPageWidget::AddRow(QGridLayout* grid, int row, const char* label, QWidget* control,
                            const char* unit, int id) {
    auto* l = new QLabel(T(label), this);
    grid->addWidget(l, row, 0);
    grid->addWidget(control, row, 1);
    std::vector<QWidget*> companions{l};
    if (unit) {
        auto* u = new QLabel(T(unit), this);
        grid->addWidget(u, row, 2);
        companions.push_back(u);
    }
    if (id)
        Register(id, control, companions);
    return l;
}

void cPageWidget::ApplyStates() {
    for (auto& [id, w] : controls) {
        const bool on = pageModel->IsEnabled(id);
        const bool shown = pageModel->IsShown(id);
        w->setEnabled(on);
        w->setVisible(shown);
        for (QWidget* c : companionsOf[id])
            c->setVisible(shown);
    }
}

void cPageWidget::Alarm(int controlId) {
    QApplication::beep(); // 400 Hz, 100 ms on the original machine; the desktop's bell here
    if (QWidget* w = Control(controlId)) {
        if (auto* e = qobject_cast<CNumEdit*>(w); e && e->Mode() == NumEditRule::kReal) {
            // A corrected real shows with six decimals.
            const bool was = updating;
            updating = true;
            e->SetReal(e->GetReal());
            updating = was;
        }
        w->setFocus(Qt::OtherFocusReason);
    }
}

void cPageWidget::Notice(int controlId, const std::string& text) {
    const QString t = QString::fromStdString(text);
    if (QWidget* w = Control(controlId)) {
        w->setToolTip(t);
        if (auto* edit = qobject_cast<QLineEdit*>(w))
            connect(
                edit, &QLineEdit::textEdited, edit, [edit] { edit->setToolTip({}); },
                Qt::SingleShotConnection);
    }
    emit noticed(t);
}

void cPageWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (pageModel) {
        pageModel->CreateWindow();
        pageModel->OnActivated();
    }
}

void cPageWidget::SetNum(CNumEdit* edit, std::int64_t value) {
    std::int64_t current = 0;
    if (NumEditRule::ParseInt(edit->text().toStdString(), current) && current == value &&
        !edit->text().isEmpty())
        return;
    edit->SetInt(value);
}

void cPageWidget::SetNum(CNumEdit* edit, double value) {
    double current = 0;
    if (NumEditRule::ParseReal(edit->text().toStdString(), current) && current == value &&
        !edit->text().isEmpty())
        return;
    edit->setText(QString::fromStdString(NumEditRule::FormatShortest(value)));
}

void cPageWidget::SetText(QLineEdit* edit, const std::string& text) {
    const QString t = QString::fromStdString(text);
    if (edit->text() != t)
        edit->setText(t);
}
