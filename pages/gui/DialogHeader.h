#pragma once

#include "pages/HeaderModel.h"
#include "pages/gui/PageWidget.h"

class CNumEdit;
class QCheckBox;
class QComboBox;
class QLineEdit;

// The header data page ("Kopfdaten").
class cDialogHeader : public cPageWidget {
    Q_OBJECT
public:
    // The view owns its model.
    explicit cDialogHeader(PageHost& host, QWidget* parent = nullptr);
    // The model lives elsewhere (in the sheet) and outlives the view.
    explicit cDialogHeader(HeaderModel& model, QWidget* parent = nullptr);

    HeaderModel& Model() { return model; }
    void ShowValues() override;

private:
    cDialogHeader(HeaderModel* owned, QWidget* parent);
    void Build();

    HeaderModel& model;
    QLineEdit* machineType;
    QLineEdit* serialNr;
    QLineEdit* swVersion;
    CNumEdit* maxTorque;
    QLineEdit* toolId;
    QComboBox* battery;
    QLineEdit* maxSpeed;
    QCheckBox* rlLock;
    QCheckBox* buzzer;
    CNumEdit* restartLock;
    QLineEdit* gearName;
    QLineEdit* angleHeadName;
};
