#include "fleet/gui/FleetView.h"

#include "lang/Language.h"
#include "model/ImageDiff.h"
#include "model/ImageFields.h"
#include "model/ImageListing.h"
#include "model/gui/DifferenceList.h"

#include <QBrush>
#include <QCheckBox>
#include <QColor>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QString T(const char* german) {
    return Q(Translate(german));
}

QStringList Row(const std::vector<std::string>& columns) {
    QStringList row;
    for (const std::string& c : columns)
        row << Q(c);
    return row;
}

QPushButton* Button(const char* german, const char* name) {
    auto* b = new QPushButton(T(german));
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

// As the printable page marks them.
const QColor kDue(255, 215, 215);
const QColor kSoon(255, 240, 200);
const QColor kDeviating(170, 0, 0);

} // namespace

cDialogFleet::cDialogFleet(std::vector<FleetMachine> machines, Hooks h, QWidget* parent)
    : QDialog(parent), hooks(std::move(h)) {
    setObjectName("fleetDialog");
    setWindowTitle(T("Flotte"));
    table.SetMachines(std::move(machines));

    filterField = new QLineEdit;
    filterField->setObjectName("filter");
    filterField->setClearButtonEnabled(true);
    dueOnlyBox = new QCheckBox(T("nur fällige"));
    dueOnlyBox->setObjectName("dueOnly");
    countLabel = new QLabel;
    countLabel->setObjectName("count");
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(T("Suche") + ":"));
    top->addWidget(filterField, 1);
    top->addWidget(dueOnlyBox);
    top->addWidget(countLabel);

    list = new QTreeWidget;
    list->setObjectName("machines");
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setHeaderLabels(Row(cFleetTable::Headers()));
    list->header()->setSectionsClickable(true);
    list->header()->setSortIndicatorShown(true);
    list->setToolTip(T("Doppelklick öffnet den Verlauf der Maschine"));

    pageButton = Button("Seite schreiben", "writePage");
    auto* close = Button("Schließen", "close");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(pageButton);
    buttons->addStretch();
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(list, 1);
    layout->addLayout(buttons);

    connect(filterField, &QLineEdit::textChanged, this, [this](const QString& text) {
        table.SetFilter(text.toStdString());
        Fill();
    });
    connect(dueOnlyBox, &QCheckBox::toggled, this, [this](bool on) {
        table.SetDueOnly(on);
        Fill();
    });
    connect(list->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        ascending = column == sortColumn ? !ascending : true;
        sortColumn = column;
        table.SortBy(column, ascending);
        Fill();
    });
    connect(list, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { OpenRow(list->indexOfTopLevelItem(item)); });
    connect(pageButton, &QPushButton::clicked, this, [this] {
        if (hooks.writePage)
            hooks.writePage(table.Shown(), table.FilterText());
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    table.SortBy(sortColumn, ascending);
    Fill();
    // As wide as a whole row, so assignment and compliance at its end are in sight.
    int rowWidth = 2 * list->frameWidth() + 40;
    for (int c = 0; c < list->columnCount(); ++c) {
        list->resizeColumnToContents(c);
        rowWidth += list->columnWidth(c);
    }
    resize(std::clamp(rowWidth, 900, 1800), 560);
}

void cDialogFleet::Fill() {
    list->clear();
    list->header()->setSortIndicator(sortColumn,
                                     ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    QList<QTreeWidgetItem*> items;
    for (size_t r = 0; r < table.RowCount(); ++r) {
        QStringList columns;
        for (int c = 0; c < cFleetTable::ColumnCount; ++c)
            columns << Q(table.Text(r, c));
        auto* item = new QTreeWidgetItem(columns);
        const int marks = table.Marks(r);
        if (marks & (cFleetTable::MarkDue | cFleetTable::MarkSoon))
            for (int c = 0; c < cFleetTable::ColumnCount; ++c)
                item->setBackground(c, marks & cFleetTable::MarkDue ? kDue : kSoon);
        if (marks & cFleetTable::MarkDeviating) {
            QFont bold = item->font(cFleetTable::Compliant);
            bold.setBold(true);
            item->setFont(cFleetTable::Compliant, bold);
            item->setForeground(cFleetTable::Compliant, kDeviating);
        }
        if (marks & cFleetTable::MarkOutdated) {
            QFont italic = item->font(cFleetTable::Firmware);
            italic.setItalic(true);
            item->setFont(cFleetTable::Firmware, italic);
            item->setToolTip(cFleetTable::Firmware,
                             T("neuere Firmware:") + " " + Q(table.Machine(r).newestFirmware));
        }
        items << item;
    }
    list->addTopLevelItems(items);
    countLabel->setText(QString::number(table.RowCount()) + " " + T("Maschinen"));
}

void cDialogFleet::OpenRow(int row) {
    if (row < 0 || size_t(row) >= table.RowCount() || !hooks.openHistory)
        return;
    hooks.openHistory(table.Machine(size_t(row)).serialNr);
}

cDialogLibrary::cDialogLibrary(cFleetStore& store, Hooks h, QWidget* parent)
    : QDialog(parent), fleet(store), hooks(std::move(h)) {
    setObjectName("libraryDialog");
    setWindowTitle(T("Freigaben"));
    resize(980, 600);

    machineLine = new QLabel;
    machineLine->setObjectName("machine");
    versions = new QTreeWidget;
    versions->setObjectName("versions");
    versions->setRootIsDecorated(false);
    versions->setHeaderLabels(Row(LibraryHeaders()));
    fields = new QTreeWidget;
    fields->setObjectName("fields");
    fields->setRootIsDecorated(false);
    fields->setHeaderLabels({T("Feld"), T("Wert")});
    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(versions);
    split->addWidget(fields);
    split->setSizes({260, 300});

    exportButton = Button("Exportieren", "export");
    assignNewest = Button("Zuweisen (neueste Version)", "assignNewest");
    assignPinned = Button("Zuweisen (diese Version)", "assignPinned");
    assignNone = Button("Keine Zuweisung", "assignNone");
    auto* close = Button("Schließen", "close");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(exportButton);
    buttons->addWidget(assignNewest);
    buttons->addWidget(assignPinned);
    buttons->addWidget(assignNone);
    buttons->addStretch();
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(machineLine);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);

    connect(versions, &QTreeWidget::itemSelectionChanged, this, &cDialogLibrary::VersionChosen);
    connect(exportButton, &QPushButton::clicked, this, [this] {
        if (const LibraryVersion* v = Chosen(); v && hooks.exportVersion)
            hooks.exportVersion(*v);
    });
    auto assign = [this](bool pinned) {
        const LibraryVersion* v = Chosen();
        if (!v || !hooks.assign)
            return;
        LibraryRef ref;
        ref.name = v->name;
        if (pinned)
            ref.version = v->version;
        if (hooks.assign(ref))
            ShowMachine();
    };
    connect(assignNewest, &QPushButton::clicked, this, [assign] { assign(false); });
    connect(assignPinned, &QPushButton::clicked, this, [assign] { assign(true); });
    connect(assignNone, &QPushButton::clicked, this, [this] {
        if (hooks.assign && hooks.assign(LibraryRef{}))
            ShowMachine();
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    Reload();
    ShowMachine();
}

void cDialogLibrary::Reload() {
    versions->clear();
    std::string error;
    library = fleet.Versions("", error);
    if (!error.empty())
        machineLine->setText(Q(error));
    for (const LibraryVersion& v : library) {
        auto* item = new QTreeWidgetItem(Row(LibraryColumns(v)));
        item->setToolTip(4, Q(v.note));
        versions->addTopLevelItem(item);
    }
    for (int c = 0; c < 4; ++c)
        versions->resizeColumnToContents(c);
    if (versions->topLevelItemCount() > 0)
        versions->setCurrentItem(versions->topLevelItem(versions->topLevelItemCount() - 1));
    VersionChosen();
}

const LibraryVersion* cDialogLibrary::Chosen() const {
    const int row = versions->indexOfTopLevelItem(versions->currentItem());
    if (row < 0 || size_t(row) >= library.size() || !versions->currentItem()->isSelected())
        return nullptr;
    return &library[size_t(row)];
}

void cDialogLibrary::VersionChosen() {
    fields->clear();
    const LibraryVersion* v = Chosen();
    const bool machine = !hooks.serialNr.empty();
    exportButton->setEnabled(v);
    assignNewest->setEnabled(v && machine);
    assignPinned->setEnabled(v && machine);
    assignNone->setEnabled(machine);
    if (!v)
        return;
    const ConversionContext ctx = hooks.contextOf ? hooks.contextOf(v->image) : ConversionContext{};
    // What a version carries: the configuration's fields, and the machine type it is for;
    // identity and maintenance data never come from the library.
    for (const std::string& line : ListImage(v->image, ctx)) {
        const size_t eq = line.find(" = ");
        if (eq == std::string::npos)
            continue;
        const std::string name = line.substr(0, eq);
        const ImageField* field = FindImageField(name);
        if (name != "machineType" && (!field || field->group != FieldGroup::Configuration))
            continue;
        fields->addTopLevelItem(new QTreeWidgetItem({Q(name), Q(line.substr(eq + 3))}));
    }
    fields->resizeColumnToContents(0);
}

void cDialogLibrary::ShowMachine() {
    if (hooks.serialNr.empty()) {
        machineLine->setText(T("Keine Maschine gelesen: zum Zuweisen zuerst \"von Maschine\"."));
        return;
    }
    std::string error;
    const auto assignment = fleet.AssignmentOf(hooks.serialNr, error);
    const QString assigned = assignment && !assignment->ref.name.empty() ? Q(assignment->ref.Text())
                                                                         : T("keine Freigabe");
    machineLine->setText(T("Maschine") + " " + Q(hooks.serialNr) + ", " + T("zugewiesen:") + " " +
                         assigned);
}

cDialogApprovalDiff::cDialogApprovalDiff(const std::string& serialNr, const std::string& line,
                                         const std::vector<FieldDifference>& differences,
                                         QWidget* parent)
    : QDialog(parent) {
    setObjectName("approvalDiff");
    setWindowTitle(T("Vergleich mit der Freigabe"));
    resize(720, 420);
    auto* title = new QLabel(Q(serialNr) + ": " + Q(line));
    title->setObjectName("title");
    list = new QTreeWidget;
    list->setObjectName("differences");
    list->setRootIsDecorated(false);
    list->setHeaderLabels({T("Feld"), T("Freigabe"), T("Maschine")});
    FillDifferenceList(list, differences,
                       [](std::string_view german) { return Translate(german); });
    auto* close = Button("Schließen", "close");
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(list, 1);
    layout->addLayout(buttons);
}
