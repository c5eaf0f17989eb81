// The road every write to a machine takes: checked, backed up, the same machine after the
// reconnect, written (a line failure tried once more), read back and compared, recorded. Run
// reads top to bottom; the targets below it hold what differs between the block area, the
// application area and the supervisor.
#include "app/WriteRoad.h"

#include "app/DialogMain.h"
#include "lang/Language.h"
#include "link/QVX.h"
#include "link/WriteStop.h"
#include "model/FirmwareVersion.h"

#include <algorithm>

namespace {

constexpr int kAttempts = 2;

} // namespace

// ---- the road ----

WriteOutcome cWriteRoad::Run(Target& target, const WriteOptions& options) {
    WriteOutcome out;
    out.result = kResultRefused;
    if (!target.Check()) {
        out.end = WriteOutcome::End::Invalid;
        return out;
    }

    MachineEvent event;
    if (!OpenEntry(target, options, event, out)) {
        out.end = WriteOutcome::End::NoBackup;
        return out;
    }

    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (StopRequested()) {
            out.result = kResultStopped;
            break;
        }
        out.differs = false;
        out.firstDifference.reset();
        out.after.reset();
        bool same = false;
        out.result = target.Reconnect(attempt > 0, same);
        if (out.result == kResultOk && !same) {
            c.Message("ungültige Zielmaschine");
            out.end = WriteOutcome::End::WrongMachine;
            out.result = kResultRefused;
            CloseEntry(event, out, "ungültige Zielmaschine");
            return out;
        }
        if (out.result == kResultOk) {
            out.result = target.Write();
            if (out.result == kResultOk)
                out.result = target.ReadBack(out);
            target.Close();
        }
        if (out.result == kResultOk || !target.Retry(out.result))
            break;
    }

    if (out.result == kResultOk && out.differs)
        out.result = kResultRefused;
    out.end = out.result == kResultOk ? WriteOutcome::End::Written : WriteOutcome::End::Failed;
    CloseEntry(event, out, out.Written() ? options.successText : options.failureText);
    return out;
}

bool cWriteRoad::StopRequested() {
    return WriteStop::requested.load();
}

bool cWriteRoad::OpenEntry(const Target& target, const WriteOptions& options, MachineEvent& event,
                           WriteOutcome& outcome) {
    event.command = options.command;
    event.fasteningCounter = options.fasteningCounter;
    event.rolloutId = options.rolloutId;
    event.serialNr = options.serialNr;
    target.Describe(event);
    outcome.before = event.before;
    return c.BackupBeforeWrite(event, outcome.entryId);
}

void cWriteRoad::CloseEntry(MachineEvent& event, const WriteOutcome& outcome,
                            const char* germanText) {
    event.result = outcome.result;
    event.message = Translate(germanText);
    event.after = outcome.after;
    c.RecordCommand(outcome.entryId, event);
}

// A refusal is the machine's answer and stays one, as does a stop the user asked for; anything
// else on the line may pass.
bool cWriteRoad::Target::Retry(int code) const {
    return code != kResultRefused && code != kResultStopped;
}

bool cWriteRoad::SameMachineIdentity(const ParameterBlock& a, const ParameterBlock& b) {
    auto same = [&](size_t offset, size_t length) {
        return std::equal(a.bytes.begin() + offset, a.bytes.begin() + offset + length,
                          b.bytes.begin() + offset);
    };
    return same(ParameterBlock::kOffMachineType, ParameterBlock::kLenMachineType) &&
           same(ParameterBlock::kOffElAssembly, ParameterBlock::kLenElAssembly) &&
           same(ParameterBlock::kOffSerialNr, ParameterBlock::kLenSerialNr) &&
           a.VariantCode() == b.VariantCode() && a.Transmission() == b.Transmission() &&
           a.AngleHead() == b.AngleHead();
}

// The check of an image before it is sent, as the block target runs it.
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

namespace {

// Opens the port, waits and connects the main controller's link. On a failure the port is
// closed again. again: the port's own message is left to the write's failure.
int WakeMainController(cDialogMain& c, bool again) {
    // Opening waits for the machine's restart after the last close (ClosePort).
    if (c.OpenSelectedPort(again) != kResultOk)
        return kResultPortFailed;
    cQVX& link = c.Link();
    c.AttachStatusTargets();
    const int r = link.Connect();
    if (r != kResultOk)
        c.ClosePort();
    return r;
}

// ---- the block area: one parameter image ----

class BlockTarget : public cWriteRoad::Target {
public:
    BlockTarget(cDialogMain& controller, const BlockWrite& write) : c(controller), w(write) {}

    bool Check() override {
        if (w.password && cDialogMain::PasswordDigestOf(*w.password) != w.before.PasswordDigest()) {
            c.Message("Ungültiges Passwort");
            return false;
        }
        return c.CheckBeforeWrite(w.outgoing, w.before, w.catalog);
    }

    void Describe(MachineEvent& event) const override { event.before = w.before; }

    int Reconnect(bool again, bool& same) override {
        // A link the command left connected is taken as it is: closing would reset the
        // machine and cost its restart. Its identity is read again all the same; a second try
        // starts afresh.
        int r = kResultOk;
        if (!again && w.linkConnected && c.PortOpen())
            c.AttachStatusTargets();
        else
            r = WakeMainController(c, again);
        ParameterBlock now;
        if (r == kResultOk && (r = c.Link().ReadParameterBlock(now.bytes)) != kResultOk)
            c.ClosePort();
        if (r != kResultOk)
            return r;
        // After a cut try the block area may already hold what was sent.
        same = cWriteRoad::SameMachineIdentity(now, w.before) ||
               (again && cWriteRoad::SameMachineIdentity(now, w.outgoing));
        if (!same)
            c.ClosePort();
        return kResultOk;
    }

    int Write() override {
        cQVX& link = c.Link();
        int endResult = kResultOk;
        int r = link.WriteBlockArea(w.outgoing.bytes, endResult);
        // A loader that went quiet after the end frame is woken again for the read-back.
        if (r == kResultOk && endResult == kResultTimeout)
            r = link.Connect();
        return r;
    }

    int ReadBack(WriteOutcome& out) override {
        cQVX& link = c.Link();
        std::array<uint8_t, cQVX_18::kBlockAreaSize> area{};
        const int r = link.ReadArea(cQVX_18::kBlockAreaAddress, area);
        if (r != kResultOk)
            return r;
        const auto sent = link.SentBlockArea();
        const auto diff = std::mismatch(area.begin(), area.end(), sent.begin(), sent.end());
        if (diff.first != area.end() || sent.size() != area.size()) {
            out.differs = true;
            out.firstDifference =
                cQVX_18::kBlockAreaAddress + static_cast<uint32_t>(diff.first - area.begin());
        }
        const uint16_t offset = link.BlockOffset();
        if (offset <= cQVX_18::kMaxBlockOffset) {
            ParameterBlock back;
            std::copy_n(area.begin() + offset, ParameterBlock::kSize, back.bytes.begin());
            out.after = back;
        } else {
            out.differs = true;
        }
        return kResultOk;
    }

    void Close() override { c.ClosePort(); }

private:
    cDialogMain& c;
    const BlockWrite& w;
};

// ---- the application area: a main firmware image ----

class FirmwareTarget : public cWriteRoad::Target {
public:
    FirmwareTarget(cDialogMain& controller, const FirmwareWrite& write) : c(controller), w(write) {}

    void Describe(MachineEvent& event) const override {
        if (!w.recovery)
            event.before = w.before;
        event.extra = w.emulationArea;
    }

    int Reconnect(bool again, bool& same) override {
        const int r = WakeMainController(c, again);
        if (r != kResultOk)
            return r;
        cQVX& link = c.Link();
        ParameterBlock now;
        const int read = link.ReadParameterBlock(now.bytes);
        const bool usable = cWriteRoad::BlockAreaUsable(read, now, link.BlockOffset());
        if (read == kResultOk && usable) {
            // The machine read at the start, or (after a cut try) the block just sent.
            same = (!w.recovery && cWriteRoad::SameMachineIdentity(now, w.before)) ||
                   (again && cWriteRoad::SameMachineIdentity(now, w.imageBlock));
        } else if (!usable) {
            // Unusable as at the start of a recovery, or left so by the try before.
            same = w.recovery || again;
        } else {
            c.ClosePort();
            return read;
        }
        if (!same)
            c.ClosePort();
        return kResultOk;
    }

    int Write() override {
        cQVX& link = c.Link();
        int endResult = kResultOk;
        int r = link.WriteApplicationAreaConnected(w.image, endResult);
        if (r == kResultOk && endResult == kResultTimeout)
            r = link.Connect();
        return r;
    }

    // The whole area, in pieces, with the progress going on.
    int ReadBack(WriteOutcome& out) override {
        cQVX& link = c.Link();
        cUserInterface& ui = c.Ui();
        const uint32_t end = link.ApplicationAreaEnd();
        std::vector<uint8_t> back(
            end > cQVX_18::kApplicationAddress ? end - cQVX_18::kApplicationAddress : 0);
        ui.ShowStatus(Translate("Firmware wird geprüft"));
        ui.ShowProgress(true);
        ui.SetProgress(0);
        const int r = link.ReadArea(cQVX_18::kApplicationAddress, back,
                                    [&ui](int percent) { ui.SetProgress(percent); });
        ui.ShowProgress(false);
        ui.ShowStatus("");
        if (r != kResultOk)
            return r;
        const auto diff = std::mismatch(back.begin(), back.end(), w.image.begin(),
                                        w.image.begin() + std::min(back.size(), w.image.size()));
        if (diff.first != back.end()) {
            out.differs = true;
            out.firstDifference =
                cQVX_18::kApplicationAddress + static_cast<uint32_t>(diff.first - back.begin());
        }
        return kResultOk;
    }

    void Close() override { c.ClosePort(); }

private:
    cDialogMain& c;
    const FirmwareWrite& w;
};

// ---- the supervisor: its EEPROM and program ----

// Its program cannot be read back, so the EEPROM read after the write is what shows the write
// went through; the EEPROM is also what tells one supervisor from another.
class SupervisorTarget : public cWriteRoad::Target {
public:
    SupervisorTarget(cDialogMain& controller, const SupervisorWrite& write)
        : c(controller), w(write), stm(&controller.Line()) {}

    void Describe(MachineEvent& event) const override {
        event.extra.assign(w.before.begin(), w.before.end());
    }

    int Reconnect(bool again, bool& same) override {
        if (!c.TriggerSupervisor(stm, false, again))
            return kResultTimeout;
        cSTM::Eeprom now{};
        const int r = stm.ReadSupervisorEeprom(now);
        if (r != kResultOk) {
            c.ClosePort();
            return r;
        }
        same = now == w.before || (again && now == w.eeprom);
        if (!same)
            c.ClosePort();
        return kResultOk;
    }

    int Write() override {
        c.Line().SetBaudRate(cSTM::kTriggerBaud);
        return stm.Program(w.eeprom, w.program);
    }

    int ReadBack(WriteOutcome& out) override {
        c.Line().SetBaudRate(cSTM::kTriggerBaud);
        int r = stm.Trigger();
        cSTM::Eeprom back{};
        if (r == kResultOk)
            r = stm.ReadSupervisorEeprom(back);
        if (r == kResultOk)
            out.differs = back != w.eeprom;
        return r;
    }

    void Close() override { c.ClosePort(); }

    // The loader's failure status is its answer, as a refusal is.
    bool Retry(int code) const override {
        return Target::Retry(code) && code != kResultPortOpenFailed;
    }

private:
    cDialogMain& c;
    const SupervisorWrite& w;
    cSTM stm;
};

} // namespace

WriteOutcome cWriteRoad::WriteBlock(const BlockWrite& write) {
    BlockTarget target(c, write);
    return Run(target, write.options);
}

WriteOutcome cWriteRoad::WriteFirmware(const FirmwareWrite& write) {
    FirmwareTarget target(c, write);
    return Run(target, write.options);
}

WriteOutcome cWriteRoad::WriteSupervisor(const SupervisorWrite& write) {
    SupervisorTarget target(c, write);
    return Run(target, write.options);
}

bool cWriteRoad::BlockAreaUsable(int readResult, const ParameterBlock& block,
                                 uint16_t blockOffset) {
    if (readResult == kResultChecksum)
        return false;
    if (readResult == kResultRefused && blockOffset > cQVX_18::kMaxBlockOffset)
        return false;
    if (readResult != kResultOk)
        return true; // a line failure says nothing about what the machine holds
    return FirmwareVersionOf(block).majorDigits;
}
