// The machine password: the dialog that guards a write, and "Passwort ändern".
#include "app/DialogMain.h"

#include "crypto/Digests.h"
#include "lang/TextCodec.h"
#include "link/ResultCodes.h"

namespace {

// The edit fields' limits: the password fields hold 8 characters, the repetition any number.
constexpr size_t kPasswordFieldLimit = 8;
constexpr size_t kMinimumPasswordLength = 4;

size_t CharacterCount(const std::string& text) {
    return Utf8ToUtf16(text).size();
}

} // namespace

std::string cDialogMain::LimitCharacters(const std::string& text, size_t limit) {
    std::u16string units = Utf8ToUtf16(text);
    if (units.size() <= limit)
        return text;
    units.resize(limit);
    return Utf16ToUtf8(units);
}

cDialogMain::PasswordDigestBytes cDialogMain::PasswordDigestOf(const std::string& password) {
    return PasswordDigest(std::string_view(password));
}

bool cDialogMain::AskPassword(std::string& password) {
    std::string typed;
    if (!ui.AskPassword(typed))
        return false;
    password = LimitCharacters(typed, kPasswordFieldLimit);
    return true;
}

bool cDialogMain::OnChangePassword() {
    if (!portSelection.AdapterPresent())
        return false;

    cUserInterface::PasswordChange entry;
    if (!ui.AskPasswordChange(entry)) {
        passwordVerified = false;
        Message("Passwort wurde nicht geändert");
        return false;
    }
    const std::string oldPassword = LimitCharacters(entry.oldPassword, kPasswordFieldLimit);
    const std::string newPassword = LimitCharacters(entry.newPassword, kPasswordFieldLimit);

    // Nothing may have connected yet in this run: the read needs a link to talk through.
    if (!linkObject)
        CreateLink();
    ParameterBlock local;
    int result = ReadFromMachine(local);
    if (result != kResultOk) {
        ShowLinkError(result);
        return false;
    }
    if (PasswordDigestOf(oldPassword) != local.PasswordDigest()) {
        Message("Ungültiges Passwort");
        return false;
    }
    if (newPassword != entry.repetition) {
        passwordVerified = false;
        Message("Passwort wurde nicht geändert");
        return false;
    }
    if (CharacterCount(newPassword) < kMinimumPasswordLength) {
        Message("geben Sie mindestens 4 Zeichen ein");
        return false;
    }

    // blockDigest follows the machine the editor's image came from; another machine's password
    // change must not make that machine look like it.
    const bool sameMachine = local.Digest() == blockDigest;
    local.SetPasswordDigest(PasswordDigestOf(newPassword));
    local.SetWriteMark(1);
    result = WriteToMachine(local);
    if (result != kResultOk) {
        passwordVerified = false;
        Message("Passwort wurde nicht geändert");
        return false;
    }
    if (sameMachine)
        blockDigest = local.Digest();
    Message("Passwort wurde geändert", cUserInterface::Buttons::Ok,
            cUserInterface::Icon::Information);
    return true;
}
