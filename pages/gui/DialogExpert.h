#pragma once

#include "pages/ExpertModel.h"
#include "pages/gui/PageWidget.h"

class CNumEdit;
class QCheckBox;
class QLineEdit;
class QSlider;

// The expert page ("Expertenmodus").
class cDialogExpert : public cPageWidget {
    Q_OBJECT
public:
    // The view owns its model.
    explicit cDialogExpert(PageHost& host, QWidget* parent = nullptr);
    // The model lives elsewhere (in the sheet) and outlives the view.
    explicit cDialogExpert(ExpertModel& model, QWidget* parent = nullptr);

    ExpertModel& Model() { return model; }
    void ShowValues() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    cDialogExpert(ExpertModel* owned, QWidget* parent);
    void Build();

    ExpertModel& model;
    QLineEdit* gearName;
    CNumEdit* userFactor;
    QLineEdit* angleHeadName;
    QCheckBox* buzzer;
    QCheckBox* rlLock;
    QCheckBox* rlPermanent;
    CNumEdit* restartIo;
    CNumEdit* restartNio;
    QCheckBox* blinkNio;
    QSlider* batterySlider;
    QLineEdit* batteryText;
    QCheckBox* showErrors;
    QCheckBox* batteryDisplay;
    QCheckBox* paramSet12;
    QCheckBox* clutchLimit;
};
