#include "app/gui/QtUserInterface.h"

#include "app/DialogMain.h"

#include "lang/Language.h"
#include "lang/gui/TranslateWindow.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace {

QString Tr(const char* german) {
    return QString::fromStdString(Translate(std::string_view(german)));
}

QLineEdit* MaskedField(int maxLength) {
    auto* field = new QLineEdit;
    field->setEchoMode(QLineEdit::Password);
    if (maxLength > 0)
        field->setMaxLength(maxLength);
    return field;
}

QDialogButtonBox* OkCancel(QDialog* dialog) {
    auto* box = new QDialogButtonBox;
    box->addButton(Tr("OK"), QDialogButtonBox::AcceptRole);
    box->addButton(Tr("Cancel"), QDialogButtonBox::RejectRole);
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

// The field's UTF-16 units as they are, half a surrogate pair included (see PasswordText).
std::string FieldText(const QLineEdit* field) {
    return cDialogMain::PasswordText(field->text().toStdU16String());
}

QString WindowTitle(QWidget* parent) {
    QWidget* w = parent ? parent->window() : nullptr;
    return w && !w->windowTitle().isEmpty() ? w->windowTitle() : Tr("Torvex Kelvane Rev.4");
}

} // namespace

cDialogPassword::cDialogPassword(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Passwort");
    field_ = MaskedField(8);
    field_->setObjectName("password");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Bitte geben Sie Ihr Passwort ein"));
    layout->addWidget(field_);
    layout->addWidget(OkCancel(this));
    TranslateWindow(this);
}

QString cDialogPassword::Password() const {
    return field_->text();
}

cDialogPwChange::cDialogPwChange(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Passwort ändern");
    old_ = MaskedField(8);
    new_ = MaskedField(8);
    repeat_ = MaskedField(0);
    old_->setObjectName("oldPassword");
    new_->setObjectName("newPassword");
    repeat_->setObjectName("repetition");
    auto* form = new QFormLayout;
    form->addRow("altes Passwort eingeben", old_);
    form->addRow("neues Passwort eingeben", new_);
    form->addRow("Passwort wiederholen", repeat_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(OkCancel(this));
    // Translated as well: an English program shows no German dialog.
    TranslateWindow(this);
}

QString QtFileFilter(const std::string& filter) {
    // Pairs of description|pattern|; Qt wants "Description (*.x)" lines.
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty())
            continue;
        QString description = parts[i];
        if (!description.contains('('))
            description += " (" + parts[i + 1] + ")";
        out << description;
    }
    return out.join(";;");
}

void QtUserInterface::SetStatusTargets(QLabel* status, QProgressBar* progress) {
    status_ = status;
    progress_ = progress;
}

cUserInterface::Answer QtUserInterface::ShowMessage(const std::string& text, Buttons buttons,
                                                    Icon icon) {
    if (unattended_) {
        std::fprintf(stderr, "kelvane: %s\n", text.c_str());
        return buttons == Buttons::Ok ? Answer::Ok
                                      : (buttons == Buttons::YesNo ? Answer::No : Answer::Cancel);
    }
    QMessageBox box(parent_);
    box.setWindowTitle(WindowTitle(parent_));
    box.setText(QString::fromStdString(text));
    box.setIcon(icon == Icon::Warning       ? QMessageBox::Warning
                : icon == Icon::Information ? QMessageBox::Information
                                            : QMessageBox::NoIcon);
    QAbstractButton *yes = nullptr, *no = nullptr, *ok = nullptr, *cancel = nullptr;
    switch (buttons) {
    case Buttons::Ok:
        ok = box.addButton(Tr("OK"), QMessageBox::AcceptRole);
        break;
    case Buttons::OkCancel:
        ok = box.addButton(Tr("OK"), QMessageBox::AcceptRole);
        cancel = box.addButton(Tr("Abbrechen"), QMessageBox::RejectRole);
        break;
    case Buttons::YesNo:
        yes = box.addButton(Tr("Ja"), QMessageBox::YesRole);
        no = box.addButton(Tr("Nein"), QMessageBox::NoRole);
        box.setEscapeButton(no);
        break;
    }
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    if (buttons == Buttons::OkCancel)
        return clicked == ok ? Answer::Ok : Answer::Cancel;
    (void)cancel;
    return clicked == yes ? Answer::Yes : Answer::No;
}

bool QtUserInterface::AskPassword(std::string& password) {
    if (unattended_)
        return false;
    cDialogPassword dialog(parent_);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    password = cDialogMain::PasswordText(dialog.Password().toStdU16String());
    return true;
}

bool QtUserInterface::AskPasswordChange(PasswordChange& entry) {
    if (unattended_)
        return false;
    cDialogPwChange dialog(parent_);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    entry.oldPassword = FieldText(dialog.OldField());
    entry.newPassword = FieldText(dialog.NewField());
    entry.repetition = FieldText(dialog.RepeatField());
    return true;
}

bool QtUserInterface::AskText(const TextRequest& request, std::string& text) {
    if (unattended_)
        return false;
    QInputDialog dialog(parent_);
    dialog.setObjectName("askText");
    dialog.setWindowTitle(QString::fromStdString(request.title));
    dialog.setLabelText(QString::fromStdString(request.label));
    dialog.setOkButtonText(QString::fromStdString(Translate("OK")));
    dialog.setCancelButtonText(QString::fromStdString(Translate("Abbrechen")));
    if (!request.choices.empty()) {
        QStringList items;
        for (const std::string& c : request.choices)
            items << QString::fromStdString(c);
        dialog.setComboBoxItems(items);
        dialog.setComboBoxEditable(true);
    }
    dialog.setTextValue(QString::fromStdString(text));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    text = dialog.textValue().toStdString();
    return true;
}

void PrepareFileDialog(QFileDialog& dialog, const cUserInterface::FileRequest& request, bool save) {
    dialog.setDirectory(QString::fromStdString(request.folder.string()));
    dialog.setNameFilter(QtFileFilter(request.filter));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // A name typed without extension gets this one, in the open dialogs too.
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    if (!request.proposedName.empty())
        dialog.selectFile(QString::fromStdString(request.proposedName));
}

bool QtUserInterface::AskOpenFile(const FileRequest& request, std::string& path) {
    if (unattended_)
        return false;
    QFileDialog dialog(parent_);
    PrepareFileDialog(dialog, request, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    path = dialog.selectedFiles().front().toStdString();
    return true;
}

bool QtUserInterface::AskSaveFile(const FileRequest& request, std::string& path) {
    if (unattended_)
        return false;
    QFileDialog dialog(parent_);
    PrepareFileDialog(dialog, request, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    path = dialog.selectedFiles().front().toStdString();
    return true;
}

void QtUserInterface::Repaint() {
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtUserInterface::ShowStatus(const std::string& text) {
    if (status_)
        status_->setText(QString::fromStdString(text));
    Repaint();
}

void QtUserInterface::ShowProgress(bool visible) {
    if (progress_) {
        progress_->setVisible(visible);
        if (visible)
            progress_->setValue(0);
    }
    Repaint();
}

void QtUserInterface::SetProgress(int percent) {
    if (progress_)
        progress_->setValue(std::clamp(percent, 0, 100));
    Repaint();
}

void QtUserInterface::OpenDocument(const std::filesystem::path& path) {
    // No handler: the file stays on disk, nothing to say.
    if (!unattended_)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path.string())));
}
