// The road every write to a machine takes: checked, backed up, the same machine after the
// reconnect, written (a line failure tried once more), read back and compared, recorded.
#include "app/DialogMain.h"

#include "lang/Language.h"
#include "link/ResultCodes.h"
#include "model/WriteCheck.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kAttempts = 2;

bool SameBytes(const ParameterBlock& a, const ParameterBlock& b, size_t offset, size_t length) {
    return std::equal(a.bytes.begin() + offset, a.bytes.begin() + offset + length,
                      b.bytes.begin() + offset);
}

// A refusal is the machine's answer and stays one; anything else on the line may pass.
bool WorthRetrying(int code) {
    return code != kResultOk && code != kResultRefused;
}

} // namespace

bool cDialogMain::SameMachineIdentity(const ParameterBlock& a, const ParameterBlock& b) {
    return SameBytes(a, b, ParameterBlock::kOffMachineType, ParameterBlock::kLenMachineType) &&
           SameBytes(a, b, ParameterBlock::kOffElAssembly, ParameterBlock::kLenElAssembly) &&
           SameBytes(a, b, ParameterBlock::kOffSerialNr, ParameterBlock::kLenSerialNr) &&
           a.VariantCode() == b.VariantCode() && a.Transmission() == b.Transmission() &&
           a.AngleHead() == b.AngleHead();
}

std::string cDialogMain::FindingsText(const std::vector<WriteFinding>& findings) {
    return Translate("Die Daten können nicht gesendet werden:") + "\n" +
           DescribeFindings(findings, [](const std::string& german) { return Translate(german); });
}

bool cDialogMain::CheckBeforeWrite(const ParameterBlock& outgoing, const ParameterBlock& machine,
                                   const MachineCatalog* machineCatalog) {
    MachineCatalog loaded;
    if (!machineCatalog) {
        // The machine's own tables: the image the pages edit may be another machine's.
        const std::string path = catalogFile.string();
        loaded.LoadCatalog(path, machine);
        loaded.LoadBattery(path, machine, batteryVoltage, nullptr);
        loaded.LookupTransmission(path, machine, nullptr);
        machineCatalog = &loaded;
    }
    const uint16_t offset = linkObject ? linkObject->BlockOffset() : 0;
    const std::vector<WriteFinding> findings =
        writeCheck ? writeCheck(outgoing, machine, *machineCatalog, offset)
                   : CheckImageForWrite(outgoing, machine, *machineCatalog, offset);
    if (findings.empty())
        return true;
    ui.ShowMessage(FindingsText(findings), cUserInterface::Buttons::Ok,
                   cUserInterface::Icon::Warning);
    return false;
}

int cDialogMain::ReconnectSameMachine(const ParameterBlock& before, const ParameterBlock* ours,
                                      bool& sameMachine, ParameterBlock* now) {
    sameMachine = false;
    if (OpenSelectedPort() != kResultOk)
        return kResultPortFailed;
    if (!linkObject)
        CreateLink();
    AttachStatusTargets();
    Pause(500);
    int r = linkObject->Connect();
    if (r != kResultOk) {
        ClosePort();
        return r;
    }
    ParameterBlock current;
    r = linkObject->ReadParameterBlock(current.bytes);
    if (r != kResultOk) {
        ClosePort();
        return r;
    }
    sameMachine =
        SameMachineIdentity(current, before) || (ours && SameMachineIdentity(current, *ours));
    if (!sameMachine)
        ClosePort();
    if (now)
        *now = current;
    return kResultOk;
}

cDialogMain::WriteEnd cDialogMain::WriteBlockRoad(const BlockWrite& w) {
    lastWriteResult = kResultOk;
    if (!CheckBeforeWrite(w.outgoing, w.before, w.catalog))
        return WriteEnd::Invalid;

    MachineEvent event;
    event.command = w.command;
    event.before = w.before;
    event.fasteningCounter = w.fasteningCounter;
    int64_t backupId = 0;
    if (!BackupBeforeWrite(event, backupId))
        return WriteEnd::NoBackup;

    int result = kResultRefused;
    bool differs = false;
    ParameterBlock readBack;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        bool same = false;
        // From the second attempt on, the block area may hold part of what was sent.
        quietPortOpen = attempt > 0;
        result = ReconnectSameMachine(w.before, attempt > 0 ? &w.outgoing : nullptr, same);
        quietPortOpen = false;
        if (result == kResultOk && !same) {
            Message("ungültige Zielmaschine");
            event.result = kResultRefused;
            event.message = Translate("ungültige Zielmaschine");
            RecordCommand(backupId, event);
            return WriteEnd::WrongMachine;
        }
        if (result == kResultOk) {
            int endResult = kResultOk;
            result = linkObject->WriteBlockArea(w.outgoing.bytes, endResult);
            if (result == kResultOk) {
                // A loader that went quiet after the end frame is woken again for the read-back.
                if (endResult == kResultTimeout)
                    result = linkObject->Connect();
                std::array<uint8_t, cQVX_18::kBlockAreaSize> area{};
                if (result == kResultOk)
                    result = linkObject->ReadArea(cQVX_18::kBlockAreaAddress, area);
                if (result == kResultOk) {
                    const auto sent = linkObject->SentBlockArea();
                    differs = sent.size() != area.size() ||
                              !std::equal(sent.begin(), sent.end(), area.begin());
                    const uint16_t offset = linkObject->BlockOffset();
                    if (offset <= cQVX_18::kMaxBlockOffset)
                        std::copy_n(area.begin() + offset, ParameterBlock::kSize,
                                    readBack.bytes.begin());
                    else
                        differs = true;
                }
            }
            ClosePort();
            Pause(500);
        }
        if (!WorthRetrying(result))
            break;
    }
    if (result == kResultOk && differs)
        result = kResultRefused;
    lastWriteResult = result;
    lastWriteDiffers = differs;

    event.result = result;
    event.message = Translate(result == kResultOk ? w.successText : w.failureText);
    if (result == kResultOk || differs)
        event.after = readBack;
    RecordCommand(backupId, event);
    return result == kResultOk ? WriteEnd::Written : WriteEnd::Failed;
}

bool cDialogMain::BlockAreaUsable(int readResult, const ParameterBlock& block) const {
    if (readResult == kResultChecksum)
        return false;
    if (readResult == kResultRefused && linkObject &&
        linkObject->BlockOffset() > cQVX_18::kMaxBlockOffset)
        return false;
    if (readResult != kResultOk)
        return true; // a line failure says nothing about what the machine holds
    const uint8_t* v = block.bytes.data() + ParameterBlock::kOffSwVersion;
    auto digit = [](uint8_t c) { return c >= '0' && c <= '9'; };
    return digit(v[1]) && digit(v[2]);
}

cDialogMain::WriteEnd cDialogMain::WriteFirmwareRoad(const FirmwareWrite& w) {
    lastWriteResult = kResultOk;
    lastWriteDiffers = false;
    firstDifference.reset();
    MachineEvent event;
    event.command = w.recovery ? "Firmware Update (Wiederherstellung)" : "Firmware Update";
    if (!w.recovery)
        event.before = w.before;
    event.fasteningCounter = w.fasteningCounter;
    event.extra = w.emulationArea;
    int64_t backupId = 0;
    if (!BackupBeforeWrite(event, backupId))
        return WriteEnd::NoBackup;

    int result = kResultRefused;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        quietPortOpen = attempt > 0;
        const bool opened = OpenSelectedPort() == kResultOk;
        quietPortOpen = false;
        if (!opened) {
            result = kResultPortFailed;
            continue;
        }
        if (!linkObject)
            CreateLink();
        AttachStatusTargets();
        Pause(500);
        result = linkObject->Connect();
        if (result != kResultOk) {
            ClosePort();
            continue;
        }
        ParameterBlock now;
        const int read = linkObject->ReadParameterBlock(now.bytes);
        const bool usable = BlockAreaUsable(read, now);
        bool same;
        if (read == kResultOk && usable)
            // The machine read at the start, or (after a cut attempt) the block just sent.
            same = (!w.recovery && SameMachineIdentity(now, w.before)) ||
                   (attempt > 0 && SameMachineIdentity(now, w.imageBlock));
        else if (!usable)
            // Unusable as at the start of a recovery, or left so by the attempt before.
            same = w.recovery || attempt > 0;
        else {
            result = read;
            ClosePort();
            if (!WorthRetrying(result))
                break;
            continue;
        }
        if (!same) {
            ClosePort();
            Message("ungültige Zielmaschine");
            event.result = kResultRefused;
            event.message = Translate("ungültige Zielmaschine");
            RecordCommand(backupId, event);
            return WriteEnd::WrongMachine;
        }

        int endResult = kResultOk;
        result = linkObject->WriteApplicationAreaConnected(w.image, endResult);
        if (result == kResultOk && endResult == kResultTimeout)
            result = linkObject->Connect();
        if (result == kResultOk) {
            const uint32_t end = linkObject->ApplicationAreaEnd();
            std::vector<uint8_t> back(
                end > cQVX_18::kApplicationAddress ? end - cQVX_18::kApplicationAddress : 0);
            ui.ShowStatus(Translate("Firmware wird geprüft"));
            ui.ShowProgress(true);
            ui.SetProgress(0);
            result = linkObject->ReadArea(cQVX_18::kApplicationAddress, back,
                                          [this](int percent) { ui.SetProgress(percent); });
            ui.ShowProgress(false);
            ui.ShowStatus("");
            if (result == kResultOk) {
                const auto diff =
                    std::mismatch(back.begin(), back.end(), w.image.begin(),
                                  w.image.begin() + std::min(back.size(), w.image.size()));
                if (diff.first != back.end())
                    firstDifference = cQVX_18::kApplicationAddress +
                                      static_cast<uint32_t>(diff.first - back.begin());
            }
        }
        ClosePort();
        if (!WorthRetrying(result))
            break;
    }
    const bool differs = result == kResultOk && firstDifference.has_value();
    if (differs)
        result = kResultRefused;
    lastWriteResult = result;
    lastWriteDiffers = differs;
    event.result = result;
    event.message =
        Translate(result == kResultOk ? "Firmware wurde erfolgreich übertragen"
                                      : "Fehler bei Übertragung der Firmware\n\nFirmware-Update "
                                        "bitte wiederholen");
    RecordCommand(backupId, event);
    return result == kResultOk ? WriteEnd::Written : WriteEnd::Failed;
}
