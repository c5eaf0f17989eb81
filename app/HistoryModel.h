// What the history dialog shows, in plain C++: the machines, the chosen machine's entries, and
// the difference of an entry against the editor's image or of two entries. The Qt view only
// draws these lists and passes the user's choices back.
#pragma once

#include "history/History.h"
#include "model/ImageDiff.h"

#include <optional>
#include <string>
#include <vector>

class cHistoryModel {
public:
    // catalogFile: the catalog beside the program, which names each entry's machine.
    explicit cHistoryModel(cHistory& store, std::string catalogFile = {})
        : store(store), catalogFile(std::move(catalogFile)) {}

    // Reads the machine list again; the chosen machine's entries are forgotten. False with a
    // message (translated) when the history cannot be read.
    bool Reload(std::string& error);
    const std::vector<HistoryMachine>& Machines() const { return machines; }

    // The entries of machine index (newest first), images included. False with a message.
    bool ChooseMachine(int index, std::string& error);
    int ChosenMachine() const { return chosenMachine; }
    const std::vector<HistoryEntry>& Entries() const { return entries; }

    // What the editor's image would change on the machine compared with the entry: old = the
    // entry's image in the units of its own machine, new = the editor's in editorCtx. Empty
    // with a message when the entry holds no image.
    std::vector<FieldDifference> AgainstEditor(int entry, const ParameterBlock& editor,
                                               const ConversionContext& editorCtx,
                                               std::string& error) const;
    // From the older of two entries to the newer, each in the units of its own machine and as
    // the machine held it after the entry's command: a write that succeeded by what it wrote
    // (the read-back held every byte of it), anything else by Image().
    std::vector<FieldDifference> Compare(int first, int second, std::string& error) const;

    // The units of the machine an image names: its kind, gearbox and angle head from the
    // catalog, its user gear factor, the battery speeds at 18 V (as kelvane-cli shows them),
    // whatever the editor holds.
    ConversionContext ContextOf(const ParameterBlock& image) const;

    // The machine list's columns: serial number, type, firmware, last seen, fastening counter.
    static std::vector<std::string> MachineHeaders(); // translated
    static std::vector<std::string> MachineColumns(const HistoryMachine& m);
    // "OK", "offen", or the result code's message with the code: "Timeout (-7)" (translated).
    static std::string ResultText(const HistoryEntry& e);
    // Who and on which computer; an entry of the team's says so.
    static std::string HostText(const HistoryEntry& e);

private:
    const ParameterBlock* ImageOf(int entry, std::string& error, bool afterCommand = false) const;

    cHistory& store;
    std::string catalogFile;
    std::vector<HistoryMachine> machines;
    std::vector<HistoryEntry> entries;
    int chosenMachine = -1;
};
