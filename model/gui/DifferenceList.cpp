#include "model/gui/DifferenceList.h"

#include <QTreeWidget>

void FillDifferenceList(QTreeWidget* list, const std::vector<FieldDifference>& differences,
                        const Translator& translate) {
    const auto q = [](const std::string& s) { return QString::fromStdString(s); };
    for (const FieldDifference& d : differences) {
        auto* item =
            new QTreeWidgetItem({q(DifferenceCaption(d, translate)), q(d.oldValue), q(d.newValue)});
        item->setToolTip(0, q(d.name));
        item->setData(0, Qt::UserRole, q(d.name));
        list->addTopLevelItem(item);
    }
    list->resizeColumnToContents(0);
    list->resizeColumnToContents(1);
}
