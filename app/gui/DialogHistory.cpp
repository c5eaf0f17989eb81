#include "app/gui/DialogHistory.h"

#include "app/DialogMain.h"
#include "app/HistoryJournal.h"
#include "lang/Language.h"
#include "model/ImageListing.h"
#include "model/gui/DifferenceList.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

cDialogHistory::cDialogHistory(cDialogMain& controller, cHistory& store, QWidget* parent)
    : QDialog(parent), controller(controller), model(store, controller.CatalogPath().string()) {
    setObjectName("historyDialog");
    setWindowTitle(Q(Translate("Verlauf")));
    resize(980, 640);

    machineList = new QTreeWidget;
    machineList->setObjectName("machines");
    machineList->setRootIsDecorated(false);
    QStringList machineHeaders;
    for (const std::string& h : cHistoryModel::MachineHeaders())
        machineHeaders << Q(h);
    machineList->setHeaderLabels(machineHeaders);
    entryList = new QTreeWidget;
    entryList->setObjectName("entries");
    entryList->setRootIsDecorated(false);
    entryList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    entryList->setHeaderLabels({Q(Translate("Zeit")), Q(Translate("Befehl")),
                                Q(Translate("Ergebnis")), Q(Translate("Techniker")),
                                Q(Translate("Computer")), Q(Translate("Meldung"))});
    differenceList = new QTreeWidget;
    differenceList->setObjectName("differences");
    differenceList->setRootIsDecorated(false);
    differenceTitle = new QLabel;

    auto* left = new QWidget;
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(new QLabel(Q(Translate("Maschinen"))));
    leftLayout->addWidget(machineList);
    auto* right = new QWidget;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(new QLabel(Q(Translate("Einträge"))));
    rightLayout->addWidget(entryList);
    auto* top = new QSplitter(Qt::Horizontal);
    top->addWidget(left);
    top->addWidget(right);
    top->setSizes({400, 560});

    auto* bottom = new QWidget;
    auto* bottomLayout = new QVBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->addWidget(differenceTitle);
    bottomLayout->addWidget(differenceList);
    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(top);
    split->addWidget(bottom);

    restoreButton = new QPushButton(Q(Translate("Wiederherstellen")));
    restoreButton->setObjectName("restore");
    compareButton = new QPushButton(Q(Translate("Vergleichen")));
    compareButton->setObjectName("compare");
    syncButton = new QPushButton(Q(Translate("Synchronisieren")));
    syncButton->setObjectName("sync");
    auto* journal = dynamic_cast<cHistoryJournal*>(controller.Journal());
    syncButton->setEnabled(journal && !journal->server.empty());
    auto* close = new QPushButton(Q(Translate("Schließen")));
    close->setObjectName("close");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(restoreButton);
    buttons->addWidget(compareButton);
    buttons->addWidget(syncButton);
    buttons->addStretch();
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split);
    layout->addLayout(buttons);

    connect(machineList, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        MachineChosen(machineList->indexOfTopLevelItem(item));
    });
    connect(entryList, &QTreeWidget::itemSelectionChanged, this, &cDialogHistory::EntryChosen);
    connect(compareButton, &QPushButton::clicked, this, &cDialogHistory::Compare);
    connect(restoreButton, &QPushButton::clicked, this, &cDialogHistory::Restore);
    connect(syncButton, &QPushButton::clicked, this, &cDialogHistory::Sync);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    FillMachines();
    // The left side is made as wide as a whole row (the dialog grows with it), so nothing of
    // it hides behind a scroll bar.
    int rowWidth =
        2 * machineList->frameWidth() + machineList->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < machineList->columnCount(); ++c) {
        machineList->resizeColumnToContents(c);
        rowWidth += machineList->columnWidth(c);
    }
    if (rowWidth > 400) {
        resize(width() + rowWidth - 400, height());
        top->setSizes({rowWidth, 560});
    }
    EntryChosen();
    if (machineList->topLevelItemCount() > 0)
        machineList->setCurrentItem(machineList->topLevelItem(0));
}

void cDialogHistory::FillMachines() {
    machineList->clear();
    std::string error;
    if (!model.Reload(error))
        differenceTitle->setText(Q(error));
    for (const HistoryMachine& m : model.Machines()) {
        QStringList columns;
        for (const std::string& c : cHistoryModel::MachineColumns(m))
            columns << Q(c);
        machineList->addTopLevelItem(new QTreeWidgetItem(columns));
    }
}

bool cDialogHistory::ShowMachine(const std::string& serialNr) {
    const auto& machines = model.Machines();
    for (size_t i = 0; i < machines.size(); ++i)
        if (machines[i].serialNr == serialNr) {
            machineList->setCurrentItem(machineList->topLevelItem(int(i)));
            return true;
        }
    return false;
}

void cDialogHistory::Sync() {
    auto* journal = dynamic_cast<cHistoryJournal*>(controller.Journal());
    if (!journal || !journal->SyncSoon(true)) {
        differenceTitle->setText(Q(Translate("Fehler auf dem Server")));
        return;
    }
    syncButton->setEnabled(false);
    differenceTitle->setText(Q(Translate("Synchronisieren") + " ..."));
    // The dialog stays usable; the lists are read again once the sync ended.
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll, journal] {
        if (journal->Syncing())
            return;
        poll->deleteLater();
        const int row = machineList->indexOfTopLevelItem(machineList->currentItem());
        FillMachines();
        if (QTreeWidgetItem* item = machineList->topLevelItem(std::max(row, 0)))
            machineList->setCurrentItem(item);
        differenceTitle->setText(Q(journal->SyncStatusText()));
        syncButton->setEnabled(true);
    });
    poll->start(200);
}

ConversionContext cDialogHistory::Context() const {
    return MakeConversionContext(controller.Image(), controller.Catalog(),
                                 controller.MachineKind());
}

void cDialogHistory::MachineChosen(int row) {
    entryList->clear();
    std::string error;
    if (!model.ChooseMachine(row, error)) {
        differenceTitle->setText(Q(error));
        return;
    }
    for (const HistoryEntry& e : model.Entries()) {
        const QString message = Q(Translate(e.message));
        auto* item = new QTreeWidgetItem(
            {Q(cHistoryStore::LocalTime(e.timeMs)), Q(Translate(e.command.c_str())),
             Q(cHistoryModel::ResultText(e)), Q(e.technician), Q(cHistoryModel::HostText(e)),
             QString(message).replace('\n', ' ')});
        item->setToolTip(5, message); // the column cuts a long one
        item->setData(0, Qt::UserRole, QVariant::fromValue<qlonglong>(e.id));
        entryList->addTopLevelItem(item);
    }
    for (int c = 0; c < 5; ++c)
        entryList->resizeColumnToContents(c);
    if (entryList->topLevelItemCount() > 0)
        entryList->setCurrentItem(entryList->topLevelItem(0));
    EntryChosen();
}

std::vector<int> cDialogHistory::ChosenEntries() const {
    std::vector<int> rows;
    for (QTreeWidgetItem* item : entryList->selectedItems())
        rows.push_back(entryList->indexOfTopLevelItem(item));
    std::sort(rows.begin(), rows.end());
    return rows;
}

void cDialogHistory::EntryChosen() {
    const std::vector<int> rows = ChosenEntries();
    restoreButton->setEnabled(rows.size() == 1);
    compareButton->setEnabled(rows.size() == 2);
    differenceList->clear();
    if (rows.size() != 1) {
        differenceTitle->setText(rows.size() == 2 ? QString()
                                                  : Q(Translate("Bitte zwei Einträge wählen")));
        return;
    }
    std::string error;
    const auto differences = model.AgainstEditor(rows[0], controller.Image(), Context(), error);
    if (!error.empty()) {
        differenceTitle->setText(Q(error));
        restoreButton->setEnabled(false);
        return;
    }
    ShowDifferences(Q(Translate("Unterschiede zum Editor")), differences,
                    Q(Translate("Im Eintrag")), Q(Translate("Im Editor")));
}

void cDialogHistory::Compare() {
    const std::vector<int> rows = ChosenEntries();
    if (rows.size() != 2) {
        differenceTitle->setText(Q(Translate("Bitte zwei Einträge wählen")));
        return;
    }
    std::string error;
    const auto differences = model.Compare(rows[0], rows[1], error);
    if (!error.empty()) {
        differenceTitle->setText(Q(error));
        return;
    }
    ShowDifferences(Q(Translate("Unterschiede zwischen den Einträgen")), differences,
                    Q(Translate("Älterer Eintrag")), Q(Translate("Neuerer Eintrag")));
}

void cDialogHistory::ShowDifferences(const QString& title,
                                     const std::vector<FieldDifference>& differences,
                                     const QString& oldHeader, const QString& newHeader) {
    differenceList->clear();
    differenceList->setHeaderLabels({Q(Translate("Feld")), oldHeader, newHeader});
    FillDifferenceList(differenceList, differences,
                       [](std::string_view german) { return Translate(german); });
    differenceTitle->setText(differences.empty() ? title + ": " + Q(Translate("keine Unterschiede"))
                                                 : title);
}

void cDialogHistory::Restore() {
    const std::vector<int> rows = ChosenEntries();
    if (rows.size() != 1)
        return;
    if (controller.RestoreFromHistory(model.Entries()[rows[0]].id))
        accept();
}
