// Everything the main controller asks of the user or shows to the user goes through this one
// interface: message boxes, the two password dialogs, the file dialogs and the transfer
// progress. The window answers it with real dialogs, the command-line program with its flags,
// the tests with a script.
//
// Texts handed over are already translated: the controller passes every German text through
// Translate before it calls here. Dialog captions and labels (the password dialogs' texts, the
// file filter) are the implementation's business.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

class cUserInterface {
public:
    enum class Buttons { Ok, OkCancel, YesNo };
    enum class Icon { None, Information, Warning };
    enum class Answer { Ok, Cancel, Yes, No };

    // What a file dialog starts with.
    struct FileRequest {
        std::filesystem::path folder; // the dialog starts here
        std::string proposedName;     // file name shown at the start, may be ""
        std::string filter = "Config Files (*.bin)|*.bin|";
        std::string defaultExtension = "bin"; // appended to a name without extension
    };

    // The three fields of the dialog "Passwort ändern", as typed. The controller applies the
    // fields' limits itself (old and new at most 8 characters, repetition unlimited), so an
    // answer may carry longer texts.
    struct PasswordChange {
        std::string oldPassword;
        std::string newPassword;
        std::string repetition;
    };

    virtual ~cUserInterface() = default;

    // One message box. With Buttons::Ok the answer is Ok; a box closed without a choice
    // answers Cancel (OkCancel) or No (YesNo).
    virtual Answer ShowMessage(const std::string& text, Buttons buttons = Buttons::Ok,
                               Icon icon = Icon::None) = 0;

    // The password dialog "Passwort" ("Bitte geben Sie Ihr Passwort ein", one masked field of
    // at most 8 characters). False when it was not confirmed.
    virtual bool AskPassword(std::string& password) = 0;

    // The dialog "Passwort ändern". False when it was cancelled.
    virtual bool AskPasswordChange(PasswordChange& entry) = 0;

    // Open and save dialogs. False, or true with an empty path, when nothing was chosen. The
    // save dialog asks before it replaces an existing file.
    virtual bool AskOpenFile(const FileRequest& request, std::string& path) = 0;
    virtual bool AskSaveFile(const FileRequest& request, std::string& path) = 0;

    // The backup before a write could not be stored (text says why and asks): true goes on
    // without it. The window asks with Yes/No; the command-line program answers from its
    // --no-backup flag.
    virtual bool ConfirmWithoutBackup(const std::string& text) {
        return ShowMessage(text, Buttons::YesNo, Icon::Warning) == Answer::Yes;
    }

    // After a firmware update erased the user settings: true writes back those of the backup
    // taken before it. The window asks with Yes/No; the command-line program answers from
    // its --restore-settings flag.
    virtual bool ConfirmSettingsBack(const std::string& text) {
        return ShowMessage(text, Buttons::YesNo, Icon::None) == Answer::Yes;
    }

    // Opens a document (the report, the manual) with the desktop's default handler. When there
    // is none the file just stays on disk: no message.
    virtual void OpenDocument(const std::filesystem::path& path) { (void)path; }

    // A transfer is waiting on the line: the window may repaint meanwhile (never take input).
    virtual void KeepAlive() {}

    // A line of text to enter ("Als Freigabe speichern": the approval's name and its note).
    // choices, when given, are offered in a list, and text may still be any other. text comes
    // in as the proposal. False when it was cancelled; the default interface asks nothing.
    struct TextRequest {
        std::string title;
        std::string label;
        std::vector<std::string> choices;
    };
    virtual bool AskText(const TextRequest& request, std::string& text) {
        (void)request;
        (void)text;
        return false;
    }

    // Pane 0 of the status bar ("" empties it) and the progress bar in pane 1 (0..100).
    virtual void ShowStatus(const std::string& text) = 0;
    virtual void ShowProgress(bool visible) = 0;
    virtual void SetProgress(int percent) = 0;
    // Advice that needs no answer (a slow adapter setting): the status bar; the CLI says it on
    // standard error.
    virtual void ShowNotice(const std::string& text) { ShowStatus(text); }
};
