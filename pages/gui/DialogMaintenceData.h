#pragma once

#include "pages/MaintenanceModel.h"
#include "pages/gui/PageWidget.h"

class CNumEdit;
class QLineEdit;
class QPushButton;

// The maintenance data page ("Wartungsdaten").
class cDialogMaintenceData : public cPageWidget {
    Q_OBJECT
public:
    // The view owns its model.
    explicit cDialogMaintenceData(PageHost& host, QWidget* parent = nullptr);
    // The model lives elsewhere (in the sheet) and outlives the view.
    explicit cDialogMaintenceData(MaintenanceModel& model, QWidget* parent = nullptr);

    MaintenanceModel& Model() { return model; }
    void ShowValues() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    cDialogMaintenceData(MaintenanceModel* owned, QWidget* parent);
    void Build();

    MaintenanceModel& model;
    QLineEdit* elAssembly;
    CNumEdit* counter;
    CNumEdit* serviceDue;
    CNumEdit* sinceService;
    QPushButton* reset;
    QLineEdit* calDate;
    QPushButton* set;
    QLineEdit* calName;
    CNumEdit* torque;
    QLineEdit* place;
};
