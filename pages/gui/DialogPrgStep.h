#pragma once

#include "pages/PrgStepModel.h"
#include "pages/gui/PageWidget.h"

class CNumEdit;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QSlider;

// One program step page; the sheet holds five.
class cDialogPrgStep : public cPageWidget {
    Q_OBJECT
public:
    // The view owns its model.
    explicit cDialogPrgStep(PageHost& host, QWidget* parent = nullptr);
    // The model lives elsewhere (in the sheet) and outlives the view.
    explicit cDialogPrgStep(PrgStepModel& model, QWidget* parent = nullptr);

    PrgStepModel& Model() { return model; }
    void ShowValues() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    cDialogPrgStep(PrgStepModel* owned, QWidget* parent);
    void Build();
    CNumEdit* IntEdit();
    CNumEdit* RealEdit();
    QCheckBox* ErrorRow(QGridLayout* grid, int row, const char* label, int boxId, QWidget* value,
                        int valueId, const char* unit);

    PrgStepModel& model;
    QComboBox* type;
    QCheckBox* controlled;
    CNumEdit* speed;
    QLabel* speedUnit;
    QComboBox* ramp;
    QCheckBox* lastStep;
    CNumEdit* clutchLimit;
    QComboBox* condition;
    CNumEdit* angle;
    CNumEdit* time;
    QSlider* thresholdSlider;
    CNumEdit* threshold;
    QCheckBox* waitRestart;
    CNumEdit* current;
    QGroupBox* errGroup;
    QCheckBox* errClutch;
    QCheckBox* errAngleMaxBox;
    CNumEdit* errAngleMax;
    QCheckBox* errAngleMinBox;
    CNumEdit* errAngleMin;
    QCheckBox* errTimeMaxBox;
    CNumEdit* errTimeMax;
    QCheckBox* errTimeMinBox;
    CNumEdit* errTimeMin;
    QCheckBox* errThresholdBox;
    QSlider* errThresholdSlider;
    CNumEdit* errThreshold;
    QCheckBox* errCurrentMaxBox;
    CNumEdit* errCurrentMax;
    QCheckBox* errCurrentMinBox;
    CNumEdit* errCurrentMin;
};
