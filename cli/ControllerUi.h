// The machine commands of kelvane-cli run the main controller itself; its questions are
// answered by the command's flags instead of dialogs.
#pragma once

#include "app/DialogMain.h"
#include "app/HistoryJournal.h"
#include "app/Sheet.h"
#include "app/UserInterface.h"
#include "cli/Cli.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// Messages go to standard output (information) or standard error (everything else). A question
// is answered OK/Yes with --yes; without it the answer is Cancel/No and the question is on
// standard error, so the command stops with a non-zero exit.
class cControllerUi : public cUserInterface {
public:
    bool yes = false;
    std::optional<std::string> password;          // --password
    std::optional<PasswordChange> passwordChange; // --old / --new
    std::optional<std::string> openFile;          // nullopt: the dialog's proposed file
    std::optional<std::string> saveFile;
    bool noBackup = false;        // --no-backup: a write goes on when its backup cannot be stored
    bool restoreSettings = false; // --restore-settings: settings back after a firmware update

    Answer ShowMessage(const std::string& text, Buttons buttons, Icon icon) override;
    bool AskPassword(std::string& password) override;
    bool AskPasswordChange(PasswordChange& entry) override;
    bool AskOpenFile(const FileRequest& request, std::string& path) override;
    bool AskSaveFile(const FileRequest& request, std::string& path) override;
    bool ConfirmWithoutBackup(const std::string& text) override;
    bool ConfirmSettingsBack(const std::string& text) override;
    void ShowStatus(const std::string& text) override;
    // A bar on standard error while a transfer runs, only when it is a terminal; --quiet
    // (progressBar false) draws none.
    void ShowProgress(bool visible) override;
    void SetProgress(int percent) override;
    bool progressBar = true;
    void ShowNotice(const std::string& text) override;

    // Lines written to standard error so far.
    int ErrorsShown() const { return errorsShown; }

private:
    void Error(const std::string& text);
    int errorsShown = 0;
    bool barShown = false;
    int barPercent = -1;
};

// What every machine command shares: --port PATH (bypasses discovery), --language NAME,
// --no-backup, --server CONNINFO, the language tables, the folders, the service history and
// the controller.
class cControllerSession {
public:
    // With a server configured, the history is synced in the background once the command ended.
    ~cControllerSession();

    // Takes --port and --language from args, then the arguments left in rest (the command
    // takes its own flags first). False (message shown) on a bad language or a usage error.
    bool Start(cli::Args& args, std::vector<std::string>& rest);

    // Exit code of a command: 0 on success; otherwise 1, with `what` on standard error when
    // the controller stopped without saying why (a refusal it reports with no message).
    int Finish(bool ok, const std::string& what);

    // read and the emulation dump: the link's steps as a bar (on a terminal, not with --quiet);
    // EndReadBar closes it whatever the command's outcome.
    void ShowReadBar();
    void EndReadBar();

    cControllerUi ui;
    CNullSheet sheet;
    cHistoryJournal history; // DataFolder/history.sqlite, the controller's journal
    std::unique_ptr<cDialogMain> controller;
    std::string port;   // --port, "" when discovered
    std::string server; // --server, else the settings' HistoryServer; "" none

private:
    bool readBarOpen = false;
};
