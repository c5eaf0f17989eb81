// The window's answer to the controller's questions: message boxes, the password dialogs,
// file dialogs and the progress bar in the status bar.
#pragma once

#include "app/UserInterface.h"

#include <QDialog>
#include <QPointer>

class QFileDialog;
class QLineEdit;
class QProgressBar;
class QStatusBar;
class QLabel;
class QWidget;

// "Passwort": one masked field of at most eight characters.
class cDialogPassword : public QDialog {
    Q_OBJECT
public:
    explicit cDialogPassword(QWidget* parent = nullptr);
    QString Password() const;
    QLineEdit* Field() const { return field_; }

private:
    QLineEdit* field_;
};

// "Passwort ändern": old password, new password and its repetition.
class cDialogPwChange : public QDialog {
    Q_OBJECT
public:
    explicit cDialogPwChange(QWidget* parent = nullptr);
    QLineEdit* OldField() const { return old_; }
    QLineEdit* NewField() const { return new_; }
    QLineEdit* RepeatField() const { return repeat_; }

private:
    QLineEdit* old_;
    QLineEdit* new_;
    QLineEdit* repeat_;
};

// Turns "Config Files (*.bin)|*.bin|" into the filter text Qt's dialogs take.
QString QtFileFilter(const std::string& filter);

// A file dialog as the request asks: start folder, filter, default extension, proposed name.
void PrepareFileDialog(QFileDialog& dialog, const cUserInterface::FileRequest& request, bool save);

class QtUserInterface : public cUserInterface {
public:
    explicit QtUserInterface(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    // Nobody at the screen (the offscreen platform): messages go to standard error, questions
    // are answered "no", dialogs are cancelled.
    void SetUnattended(bool on) { unattended_ = on; }
    // Pane 0 shows status texts; the progress bar lies in pane 1 and is hidden between
    // transfers. Either may be null.
    void SetStatusTargets(QLabel* status, QProgressBar* progress);

    Answer ShowMessage(const std::string& text, Buttons buttons, Icon icon) override;
    bool AskPassword(std::string& password) override;
    bool AskPasswordChange(PasswordChange& entry) override;
    bool AskOpenFile(const FileRequest& request, std::string& path) override;
    bool AskSaveFile(const FileRequest& request, std::string& path) override;
    bool AskText(const TextRequest& request, std::string& text) override;
    void ShowStatus(const std::string& text) override;
    void ShowProgress(bool visible) override;
    void SetProgress(int percent) override;
    void OpenDocument(const std::filesystem::path& path) override;
    void KeepAlive() override { Repaint(); }

private:
    // Transfers block the event loop; let the window repaint between their steps.
    void Repaint();

    QPointer<QWidget> parent_;
    QPointer<QLabel> status_;
    QPointer<QProgressBar> progress_;
    bool unattended_ = false;
};
