// What the history dialog shows, in plain C++: the machines, the chosen machine's entries, and
// the difference of an entry against the editor's image or of two entries. The Qt view only
// draws these lists and passes the user's choices back.
#pragma once

#include "history/HistoryStore.h"
#include "model/ImageDiff.h"

#include <optional>
#include <string>
#include <vector>

class cHistoryModel {
public:
    explicit cHistoryModel(cHistoryStore& store) : store(store) {}

    // Reads the machine list again; the chosen machine's entries are forgotten. False with a
    // message (translated) when the history cannot be read.
    bool Reload(std::string& error);
    const std::vector<HistoryMachine>& Machines() const { return machines; }

    // The entries of machine index (newest first), images included. False with a message.
    bool ChooseMachine(int index, std::string& error);
    int ChosenMachine() const { return chosenMachine; }
    const std::vector<HistoryEntry>& Entries() const { return entries; }

    // What the editor's image would change on the machine compared with the entry: old = the
    // entry's image, new = the editor's. Empty with a message when the entry holds no image.
    std::vector<FieldDifference> AgainstEditor(int entry, const ParameterBlock& editor,
                                               const ConversionContext& ctx,
                                               std::string& error) const;
    // From the older of two entries to the newer.
    std::vector<FieldDifference> Compare(int first, int second, const ConversionContext& ctx,
                                         std::string& error) const;

    // One line each, as the lists show them.
    static std::string MachineText(const HistoryMachine& m);
    static std::string ResultText(const HistoryEntry& e); // "0", "-7 Timeout", "offen"

private:
    const ParameterBlock* ImageOf(int entry, std::string& error) const;

    cHistoryStore& store;
    std::vector<HistoryMachine> machines;
    std::vector<HistoryEntry> entries;
    int chosenMachine = -1;
};
