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
    explicit cDialogExpert(PageHost& host, QWidget* parent = nullptr);

    ExpertModel& Model() { return model; }
    void ShowValues() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ExpertModel model;
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
