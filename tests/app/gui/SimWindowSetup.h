// The pieces every window test on the simulated machine sets up the same way: the machine
// answering at once on its own pseudo-terminal, a test's folders, a controller ready for it.
#pragma once

#include "app/DialogMain.h"
#include "app/FirstRun.h"
#include "app/HistoryJournal.h"
#include "lang/Language.h"
#include "sim/SimMachine.h"

#include <QString>

#include <filesystem>
#include <memory>
#include <string>

// German texts, as the tests compare them.
inline void GermanForTests() {
    SetLanguageFolder(KELVANE_BIN_DIR "/language/");
    SetLanguage("German");
}

// Unpaced and unannounced; device stays "" when it did not start.
inline std::unique_ptr<SimMachine> StartQuickSim(std::string& device) {
    SimOptions options;
    options.pacing = false;
    options.announce = false;
    auto sim = std::make_unique<SimMachine>(options);
    device = sim->Start();
    return sim;
}

// The program's folders below root, the data folder (named dataName) made.
inline FolderSet TestFolders(const QString& root, const char* dataName = "data") {
    FolderSet folders;
    folders.appFolder = KELVANE_BIN_DIR;
    folders.dataFolder = (root + "/" + dataName).toStdString();
    folders.documentsFolder = (root + "/documents").toStdString();
    std::filesystem::create_directories(folders.dataFolder);
    return folders;
}

// No pauses, no adapter count, the adapters found; the journal when one is given.
inline void ReadyForTests(cDialogMain& controller, cHistoryJournal* journal) {
    controller.Ports().SetReportCount(false);
    controller.SetPauseFunction([](int) {});
    controller.DiscoverAdapters();
    if (journal)
        controller.SetJournal(journal);
}
