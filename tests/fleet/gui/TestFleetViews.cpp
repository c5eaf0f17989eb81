// "Flotte" and "Freigaben" as views: the table's order, filter and marks as drawn, the
// double-click and the page button; the library's versions and fields, and which assignment
// each button asks for.
#include "fleet/gui/FleetView.h"
#include "history/HistoryStore.h"
#include "lang/Language.h"
#include "sim/SimMachine.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {

FleetMachine M(const std::string& serial, uint32_t counter, const std::string& place) {
    FleetMachine m;
    m.serialNr = serial;
    m.machineType = "QVK";
    m.swVersion = "V04.02.005";
    m.place = place;
    m.counter = counter;
    m.service = ServiceState::Ok;
    m.calibrationDue = false;
    m.imageEntryId = 1;
    return m;
}

QStringList Column(QTreeWidget* list, int column) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out << list->topLevelItem(i)->text(column);
    return out;
}

void Shot(QWidget* w, const QString& name) {
    const QString dir = qEnvironmentVariable("KELVANE_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        QVERIFY(w->grab().save(dir + "/" + name));
}

ParameterBlock Image() {
    ParameterBlock b;
    b.bytes = SimMachine::DefaultImage();
    return b;
}

} // namespace

class TestFleetViews : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        SetLanguageFolder(KELVANE_BIN_DIR "/language/");
        SetLanguage("German");
    }

    void fleetTableSortsFiltersAndOpens() {
        std::vector<FleetMachine> ms = {M("SIM0000003", 10, "Linie 4"),
                                        M("SIM0000001", 9, "Halle 2"),
                                        M("SIM0000002", 120, "Linie 5")};
        ms[1].service = ServiceState::Due;
        ms[2].compliance = FleetCompliance::No;
        ms[2].assigned = "Station-12 v3";
        std::vector<std::string> opened;
        std::vector<FleetMachine> paged;
        std::string pageFilter;
        cDialogFleet::Hooks hooks;
        hooks.openHistory = [&](const std::string& s) { opened.push_back(s); };
        hooks.writePage = [&](const std::vector<FleetMachine>& shown, const std::string& f) {
            paged = shown;
            pageFilter = f;
            return true;
        };
        cDialogFleet d(ms, hooks);
        d.show();
        QTreeWidget* list = d.MachineList();
        QCOMPARE(list->columnCount(), int(cFleetTable::ColumnCount));
        QCOMPARE(list->headerItem()->text(cFleetTable::Compliant), QString("entspricht"));
        QCOMPARE(Column(list, cFleetTable::Serial),
                 QStringList({"SIM0000001", "SIM0000002", "SIM0000003"}));
        // Due rows are marked, a deviating machine's compliance stands out.
        QCOMPARE(list->topLevelItem(0)->background(0).color(), QColor(255, 215, 215));
        QCOMPARE(list->topLevelItem(2)->background(0).style(), Qt::NoBrush);
        QVERIFY(list->topLevelItem(1)->font(cFleetTable::Compliant).bold());
        QCOMPARE(list->topLevelItem(1)->text(cFleetTable::Compliant), QString("Nein"));
        Shot(&d, "fleet-dialog.png");

        // A header click sorts by the column (numbers as numbers), a second one turns it.
        list->header()->sectionClicked(cFleetTable::Counter);
        QCOMPARE(Column(list, cFleetTable::Counter), QStringList({"9", "10", "120"}));
        list->header()->sectionClicked(cFleetTable::Counter);
        QCOMPARE(Column(list, cFleetTable::Counter), QStringList({"120", "10", "9"}));

        d.FilterField()->setText("linie");
        QCOMPARE(Column(list, cFleetTable::Serial), QStringList({"SIM0000002", "SIM0000003"}));
        QCOMPARE(d.CountLabel()->text(), QString("2 Maschinen"));
        d.FilterField()->clear();
        d.DueOnlyBox()->setChecked(true);
        QCOMPARE(Column(list, cFleetTable::Serial), QStringList({"SIM0000001"}));

        // A double-click opens the history of the machine in that row.
        emit list->itemDoubleClicked(list->topLevelItem(0), 0);
        QCOMPARE(opened, std::vector<std::string>{"SIM0000001"});
        // The page lists what the table shows, and says how it was filtered.
        d.PageButton()->click();
        QCOMPARE(int(paged.size()), 1);
        QCOMPARE(QString::fromStdString(pageFilter), QString("fällig"));
    }

    void libraryListsAndAssigns() {
        QTemporaryDir temp;
        cHistoryStore history;
        HistoryNotice notice;
        HistoryError herr;
        QVERIFY(history.Open((temp.path() + "/history.sqlite").toStdString(), notice, herr));
        cFleetStore fleet;
        std::string error;
        QVERIFY(fleet.Open(history, error));
        ParameterBlock image = Image();
        QCOMPARE(fleet.AddVersion("Station-12", image, "erste", error), 1);
        image.Step(1).SetTime(640);
        QCOMPARE(fleet.AddVersion("Station-12", image, "Zeit <640>", error), 2);
        QCOMPARE(fleet.AddVersion("Linie 4", image, "", error), 1);

        std::vector<LibraryRef> assigned;
        std::vector<int> exported;
        cDialogLibrary::Hooks hooks;
        hooks.serialNr = "SIM0000001";
        hooks.assign = [&](const LibraryRef& ref) {
            assigned.push_back(ref);
            bool known = false;
            return fleet.Assign(hooks.serialNr, ref, known, error);
        };
        hooks.exportVersion = [&](const LibraryVersion& v) {
            exported.push_back(v.version);
            return true;
        };
        cDialogLibrary d(fleet, hooks);
        d.show();
        QTreeWidget* versions = d.VersionList();
        QCOMPARE(versions->topLevelItemCount(), 3);
        QCOMPARE(Column(versions, 0), QStringList({"Linie 4", "Station-12", "Station-12"}));
        QCOMPARE(Column(versions, 1), QStringList({"1", "1", "2"}));
        QCOMPARE(versions->topLevelItem(2)->text(4), QString("Zeit <640>"));
        QCOMPARE(versions->topLevelItem(2)->text(5).size(), 40);
        QVERIFY(d.MachineLine()->text().contains("keine Freigabe"));
        // The newest row is chosen: its fields are listed, the step time among them.
        QVERIFY(d.FieldList()->topLevelItemCount() > 20);
        QVERIFY(!d.FieldList()->findItems("set1.step2.time", Qt::MatchExactly, 0).isEmpty());
        QVERIFY(!d.FieldList()->findItems("machineType", Qt::MatchExactly, 0).isEmpty());
        // Identity and maintenance data are no part of an approval.
        for (const char* notCarried : {"serialNr", "place", "calDate"})
            QVERIFY(d.FieldList()->findItems(notCarried, Qt::MatchExactly, 0).isEmpty());
        Shot(&d, "library-dialog.png");

        d.AssignNewestButton()->click();
        versions->setCurrentItem(versions->topLevelItem(1));
        d.AssignPinnedButton()->click();
        d.ExportButton()->click();
        d.AssignNoneButton()->click();
        QCOMPARE(int(assigned.size()), 3);
        QCOMPARE(QString::fromStdString(assigned[0].Text()), QString("Station-12"));
        QCOMPARE(QString::fromStdString(assigned[1].Text()), QString("Station-12@1"));
        QVERIFY(assigned[2].name.empty());
        QCOMPARE(exported, std::vector<int>{1});
        QVERIFY(d.MachineLine()->text().contains("keine Freigabe"));
        auto now = fleet.AssignmentOf("SIM0000001", error);
        QVERIFY(now && now->ref.name.empty());

        // Without a machine read there is nothing to assign.
        hooks.serialNr.clear();
        cDialogLibrary none(fleet, hooks);
        QVERIFY(!none.AssignNewestButton()->isEnabled());
        QVERIFY(!none.AssignNoneButton()->isEnabled());
        QVERIFY(none.ExportButton()->isEnabled());
    }

    void differencesListed() {
        FieldDifference diff;
        diff.name = "set1.step2.time";
        diff.oldValue = "500 ms";
        diff.newValue = "640 ms";
        cDialogApprovalDiff d("SIM0000001", "weicht ab von Freigabe Station-12 v2: 1 Feld",
                              {diff});
        QCOMPARE(d.DifferenceList()->topLevelItemCount(), 1);
        QCOMPARE(d.DifferenceList()->topLevelItem(0)->text(1), QString("500 ms"));
        QCOMPARE(d.DifferenceList()->headerItem()->text(1), QString("Freigabe"));
    }
};

QTEST_MAIN(TestFleetViews)
#include "TestFleetViews.moc"
