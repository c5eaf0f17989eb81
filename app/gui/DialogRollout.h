// "Serienübertragung": one approved configuration to machine after machine on the adapter.
// The flow is cRollout's (app/Rollout.h); this dialog chooses the approval, the count and the
// serial numbers, starts it, lists each machine as it ends (a sound when one is done) and
// stops it after the machine on the line.
#pragma once

#include "fleet/FleetStore.h"

#include <QDialog>
#include <functional>
#include <vector>

class cDialogMain;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;
struct RolloutEvent;

class cDialogRollout : public QDialog {
    Q_OBJECT
public:
    cDialogRollout(cDialogMain& controller, cFleetStore& fleet, QWidget* parent = nullptr);

    // Runs the rollout with the dialog's choices until it ends. False when a machine failed,
    // the adapter went, or nothing could be started.
    bool Start();
    // Ends the rollout once the machine on the line is finished.
    void Stop();
    bool Running() const { return running; }

    // Played when a machine is done (tests count it).
    std::function<void()> sound;
    // How often the line is looked at between two machines.
    void SetProbeInterval(int ms) { probeMs = ms; }

    QComboBox* ApprovalList() const { return approvalList; }
    QSpinBox* CountBox() const { return countBox; }
    QLineEdit* SerialsField() const { return serialsField; }
    QPushButton* StartButton() const { return startButton; }
    QPushButton* StopButton() const { return stopButton; }
    QLabel* StatusLine() const { return statusLine; }
    QTreeWidget* MachineList() const { return machineList; }

public slots:
    void reject() override;

private:
    void Show(const RolloutEvent& e);
    void ShowControls();

    cDialogMain& controller;
    cFleetStore& fleet;
    std::vector<LibraryVersion> library; // in the list's order
    bool running = false;
    bool stopAsked = false;
    int probeMs = 2000;
    QComboBox* approvalList = nullptr;
    QSpinBox* countBox = nullptr;
    QLineEdit* serialsField = nullptr;
    QPushButton* startButton = nullptr;
    QPushButton* stopButton = nullptr;
    QPushButton* closeButton = nullptr;
    QLabel* statusLine = nullptr;
    QTreeWidget* machineList = nullptr;
};
