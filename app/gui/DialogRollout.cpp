#include "app/gui/DialogRollout.h"

#include "app/DialogMain.h"
#include "app/Rollout.h"
#include "fleet/FleetTable.h"
#include "lang/Language.h"

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QString T(const char* german) {
    return Q(Translate(german));
}

QPushButton* Button(const char* german, const char* name) {
    auto* b = new QPushButton(T(german));
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

std::set<std::string> Serials(const std::string& text) {
    std::set<std::string> serials;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        std::string s = text.substr(start, end - start);
        s.erase(0, s.find_first_not_of(' '));
        s.erase(s.find_last_not_of(' ') + 1);
        if (!s.empty())
            serials.insert(s);
        start = end + 1;
    }
    return serials;
}

QString ResultText(const std::string& result) {
    if (result == "written")
        return T("geschrieben");
    if (result == "compliant")
        return T("entsprach schon");
    if (result == "skipped")
        return T("übersprungen");
    return T("fehlgeschlagen");
}

} // namespace

cDialogRollout::cDialogRollout(cDialogMain& c, cFleetStore& store, QWidget* parent)
    : QDialog(parent), controller(c), fleet(store) {
    setObjectName("rolloutDialog");
    setWindowTitle(T("Serienübertragung"));
    resize(860, 520);
    sound = [] { QApplication::beep(); };

    approvalList = new QComboBox;
    approvalList->setObjectName("approval");
    std::string error;
    // Each name's newest version first.
    library = fleet.Versions("", error);
    std::stable_sort(library.begin(), library.end(),
                     [](const LibraryVersion& a, const LibraryVersion& b) {
                         return a.name != b.name ? a.name < b.name : a.version > b.version;
                     });
    for (const LibraryVersion& v : library) {
        const std::string label = v.name + " v" + std::to_string(v.version); // as the CLI says it
        approvalList->addItem(Q(label));
    }
    countBox = new QSpinBox;
    countBox->setObjectName("count");
    countBox->setRange(0, 100000);
    countBox->setSpecialValueText(T("bis Anhalten"));
    serialsField = new QLineEdit;
    serialsField->setObjectName("serials");
    auto* form = new QFormLayout;
    form->addRow(T("Freigabe:"), approvalList);
    form->addRow(T("Anzahl Maschinen:"), countBox);
    form->addRow(T("nur Seriennummern (durch Kommas getrennt):"), serialsField);

    statusLine = new QLabel(error.empty() ? QString() : Q(error));
    statusLine->setObjectName("status");
    machineList = new QTreeWidget;
    machineList->setObjectName("machines");
    machineList->setRootIsDecorated(false);
    machineList->setHeaderLabels(
        {T("Seriennummer"), T("Ergebnis"), T("Grund"), T("vorher"), T("nachher"), T("Sekunden")});

    startButton = Button("Starten", "start");
    stopButton = Button("Anhalten", "stop");
    closeButton = Button("Schließen", "close");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(startButton);
    buttons->addWidget(stopButton);
    buttons->addStretch();
    buttons->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(statusLine);
    layout->addWidget(machineList, 1);
    layout->addLayout(buttons);

    connect(startButton, &QPushButton::clicked, this, [this] { Start(); });
    connect(stopButton, &QPushButton::clicked, this, &cDialogRollout::Stop);
    connect(closeButton, &QPushButton::clicked, this, &cDialogRollout::reject);
    ShowControls();
}

void cDialogRollout::ShowControls() {
    const bool any = !library.empty();
    startButton->setEnabled(any && !running);
    stopButton->setEnabled(running && !stopAsked);
    closeButton->setEnabled(!running);
    approvalList->setEnabled(!running);
    countBox->setEnabled(!running);
    serialsField->setEnabled(!running);
}

void cDialogRollout::reject() {
    // The machine on the line is finished first; the dialog stays till then.
    if (running) {
        Stop();
        return;
    }
    QDialog::reject();
}

void cDialogRollout::Stop() {
    if (!running || stopAsked)
        return;
    stopAsked = true;
    statusLine->setText(T("Die Serienübertragung endet nach der Maschine am Adapter"));
    ShowControls();
}

bool cDialogRollout::Start() {
    const int index = approvalList->currentIndex();
    if (running || index < 0 || size_t(index) >= library.size())
        return false;
    RolloutOptions options;
    options.approved = library[size_t(index)];
    options.serials = Serials(serialsField->text().toStdString());
    options.count = countBox->value();
    options.probeMs = probeMs;
    machineList->clear();
    running = true;
    stopAsked = false;
    ShowControls();

    cRollout rollout(controller, fleet, options);
    // The dialog takes the Stop click while the rollout waits for the next machine.
    rollout.stopRequested = [this] {
        QCoreApplication::processEvents();
        return stopAsked;
    };
    rollout.onEvent = [this](const RolloutEvent& e) { Show(e); };
    const bool ok = rollout.Run();

    running = false;
    QString summary = QString::number(rollout.Machines().size()) + " " + T("Maschinen") + ", " +
                      QString::number(rollout.Count("written")) + " " + T("geschrieben") + ", " +
                      QString::number(rollout.Count("failed")) + " " + T("fehlgeschlagen");
    if (rollout.AdapterGone())
        summary += "; " + T("Der Adapter ist nicht mehr erreichbar");
    if (!rollout.RecordError().empty())
        summary += "; " + Q(rollout.RecordError());
    statusLine->setText(summary);
    ShowControls();
    return ok;
}

void cDialogRollout::Show(const RolloutEvent& e) {
    if (e.kind == RolloutEvent::Kind::Waiting) {
        if (!stopAsked)
            statusLine->setText(T("Warte auf die nächste Maschine ..."));
        return;
    }
    if (!e.machine)
        return;
    const auto& step = e.machine->step;
    auto* item = new QTreeWidgetItem({Q(step.serialNr), ResultText(step.result), Q(step.reason),
                                      Q(step.before), Q(step.after),
                                      QString::number(e.machine->seconds, 'f', 1)});
    item->setData(0, Qt::UserRole, Q(step.result));
    item->setToolTip(2, Q(step.reason));
    item->setToolTip(3, Q(step.before)); // the digests are cut in their columns
    item->setToolTip(4, Q(step.after));
    if (e.kind == RolloutEvent::Kind::Failed)
        for (int c = 0; c < item->columnCount(); ++c)
            item->setForeground(c, QColor(170, 0, 0));
    machineList->addTopLevelItem(item);
    machineList->scrollToItem(item);
    for (int c = 0; c < 3; ++c)
        machineList->resizeColumnToContents(c);
    if (!stopAsked)
        statusLine->setText(Q(RolloutDoneText(e.done, e.count, step.serialNr)));
    if (e.kind == RolloutEvent::Kind::Done && sound)
        sound();
}
