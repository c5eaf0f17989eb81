// The machine password: the dialog that guards a write, and "Passwort ändern".
#include "app/DialogMain.h"
#include "app/WriteRoad.h"

#include "base/TextCodec.h"
#include "crypto/Digests.h"
#include "link/ResultCodes.h"

namespace {

// The edit fields' limits: the password fields hold 8 characters, the repetition any number.
constexpr size_t kPasswordFieldLimit = 8;
constexpr size_t kMinimumPasswordLength = 4;

} // namespace

// Surrogates are kept as their own three-byte sequences (ED A0..BF xx), which UTF-8 proper never
// holds, so a field cut after half of a pair still hands that half to the digest.
std::u16string cDialogMain::PasswordUnits(const std::string& text) {
    std::u16string units;
    size_t start = 0;
    auto flush = [&](size_t end) {
        if (end > start)
            units += Utf8ToUtf16(std::string_view(text).substr(start, end - start));
    };
    for (size_t i = 0; i + 2 < text.size();) {
        const auto b0 = static_cast<uint8_t>(text[i]), b1 = static_cast<uint8_t>(text[i + 1]),
                   b2 = static_cast<uint8_t>(text[i + 2]);
        if (b0 == 0xED && b1 >= 0xA0 && b1 <= 0xBF && (b2 & 0xC0) == 0x80) {
            flush(i);
            units += static_cast<char16_t>(0xD000 | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    flush(text.size());
    return units;
}

std::string cDialogMain::PasswordText(std::u16string_view units) {
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        const bool high = u >= 0xD800 && u <= 0xDBFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            out += Utf16ToUtf8(units.substr(i, 2));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += Utf16ToUtf8(units.substr(i, 1));
        }
    }
    return out;
}

std::string cDialogMain::LimitCharacters(const std::string& text, size_t limit) {
    std::u16string units = PasswordUnits(text);
    if (units.size() <= limit)
        return text;
    units.resize(limit);
    return PasswordText(units);
}

cDialogMain::PasswordDigestBytes cDialogMain::PasswordDigestOf(const std::string& password) {
    return PasswordDigest(std::u16string_view(PasswordUnits(password)));
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
    // A write to this machine that was cut is told and closed before another one begins.
    ReportCutWrites(local, cWriteRoad::BlockAreaUsable(result, local,
                                                       linkObject ? linkObject->BlockOffset() : 0));
    if (PasswordDigestOf(oldPassword) != local.PasswordDigest()) {
        Message("Ungültiges Passwort");
        return false;
    }
    if (newPassword != entry.repetition) {
        passwordVerified = false;
        Message("Passwort wurde nicht geändert");
        return false;
    }
    if (PasswordUnits(newPassword).size() < kMinimumPasswordLength) {
        Message("geben Sie mindestens 4 Zeichen ein");
        return false;
    }

    // blockDigest follows the machine the editor's image came from; another machine's password
    // change must not make that machine look like it.
    const bool sameMachine = local.Digest() == blockDigest;
    BlockWrite write;
    write.options.command = "Passwort ändern";
    write.options.successText = "Passwort wurde geändert";
    write.options.failureText = "Passwort wurde nicht geändert";
    write.before = local;
    local.SetPasswordDigest(PasswordDigestOf(newPassword));
    local.SetWriteMark(1);
    write.outgoing = local;
    const WriteOutcome::End end = cWriteRoad(*this).WriteBlock(write).end;
    if (end == WriteOutcome::End::WrongMachine || end == WriteOutcome::End::Failed)
        passwordVerified = false;
    if (end == WriteOutcome::End::Failed)
        Message("Passwort wurde nicht geändert");
    if (end != WriteOutcome::End::Written)
        return false;
    if (sameMachine)
        blockDigest = local.Digest();
    Message("Passwort wurde geändert", cUserInterface::Buttons::Ok,
            cUserInterface::Icon::Information);
    return true;
}
