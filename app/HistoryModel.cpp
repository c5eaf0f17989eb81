#include "app/HistoryModel.h"

#include "app/HistoryJournal.h"
#include "history/HistoryStore.h"
#include "lang/Language.h"
#include "link/ResultCodes.h"
#include "model/ImageListing.h"
#include "model/MachineCatalog.h"

bool cHistoryModel::Reload(std::string& error) {
    HistoryError failure;
    machines = store.Machines(failure);
    entries.clear();
    chosenMachine = -1;
    if (failure)
        error = cHistoryJournal::ErrorText(failure);
    return !failure;
}

bool cHistoryModel::ChooseMachine(int index, std::string& error) {
    entries.clear();
    chosenMachine = -1;
    if (index < 0 || index >= static_cast<int>(machines.size()))
        return false;
    HistoryError failure;
    entries = store.Entries(machines[index].serialNr, failure, true);
    if (failure) {
        error = cHistoryJournal::ErrorText(failure);
        return false;
    }
    chosenMachine = index;
    return true;
}

const ParameterBlock* cHistoryModel::ImageOf(int entry, std::string& error,
                                             bool afterCommand) const {
    if (entry < 0 || entry >= static_cast<int>(entries.size())) {
        error = Translate("Der Eintrag existiert nicht");
        return nullptr;
    }
    const HistoryEntry& e = entries[entry];
    if (std::string which; !ImagesIntact(e, which)) {
        error = cHistoryJournal::DamageText(e.id, which);
        return nullptr;
    }
    const bool wrote = e.before && e.after && e.result == kResultOk;
    const std::optional<ParameterBlock>& image = afterCommand && wrote ? e.after : e.Image();
    if (!image) {
        error = Translate("Der Eintrag enthält kein Parameterabbild");
        return nullptr;
    }
    return &*image;
}

ConversionContext cHistoryModel::ContextOf(const ParameterBlock& image) const {
    constexpr int kBatteryVoltage = 18;
    MachineCatalog catalog;
    catalog.LoadCatalog(catalogFile, image);
    catalog.LoadBattery(catalogFile, image, kBatteryVoltage);
    catalog.LookupTransmission(catalogFile, image);
    return MakeConversionContext(image, catalog);
}

std::vector<FieldDifference> cHistoryModel::AgainstEditor(int entry, const ParameterBlock& editor,
                                                          const ConversionContext& editorCtx,
                                                          std::string& error) const {
    const ParameterBlock* image = ImageOf(entry, error);
    return image ? DiffImages(*image, editor, ContextOf(*image), editorCtx)
                 : std::vector<FieldDifference>{};
}

std::vector<FieldDifference> cHistoryModel::Compare(int first, int second,
                                                    std::string& error) const {
    const ParameterBlock* a = ImageOf(first, error, true);
    const ParameterBlock* b = a ? ImageOf(second, error, true) : nullptr;
    if (!a || !b)
        return {};
    // Entries are listed newest first: the higher index is the older one.
    if (first < second)
        std::swap(a, b);
    return DiffImages(*a, *b, ContextOf(*a), ContextOf(*b));
}

std::vector<std::string> cHistoryModel::MachineHeaders() {
    return {Translate("Seriennummer"), Translate("Typ"), Translate("Firmware"),
            Translate("Zuletzt"), Translate("Verschraubungszähler")};
}

std::vector<std::string> cHistoryModel::MachineColumns(const HistoryMachine& m) {
    return {m.serialNr.empty() ? "?" : m.serialNr, m.machineType, m.swVersion,
            cHistoryStore::LocalTime(m.lastSeenMs),
            m.fasteningCounter ? std::to_string(*m.fasteningCounter) : std::string()};
}

std::string cHistoryModel::ResultText(const HistoryEntry& e) {
    if (!e.result)
        return Translate("offen");
    if (*e.result == kResultCut)
        return Translate("abgebrochen");
    if (*e.result == kResultOk)
        return Translate("OK");
    // The code stays visible for a failure: it is what a service report asks for.
    const char* message = ResultMessage(*e.result);
    return Translate(message ? message : "Fehler") + " (" + std::to_string(*e.result) + ")";
}

std::string cHistoryModel::HostText(const HistoryEntry& e) {
    return e.fromHere ? e.host : e.host + " (" + Translate("Team") + ")";
}
