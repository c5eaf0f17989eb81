// A list of field differences in a tree widget: the pages' captions in the window's language,
// the old and the new value, the record name (as kelvane-cli --json has it) in the tooltip and
// the item's data.
#pragma once

#include "model/ImageDiff.h"

#include <vector>

class QTreeWidget;

void FillDifferenceList(QTreeWidget* list, const std::vector<FieldDifference>& differences,
                        const Translator& translate);
