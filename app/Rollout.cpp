#include "app/Rollout.h"

#include "app/DialogMain.h"
#include "app/WriteRoad.h"
#include "history/HistoryStore.h"
#include "lang/Language.h"
#include "link/ResultCodes.h"
#include "model/FirmwareVersion.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <poll.h>
#include <unistd.h>

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// While waiting the window keeps painting and a stop is seen this soon.
constexpr int kWaitSliceMs = 100;

} // namespace

cRollout::cRollout(cDialogMain& controller, cFleetStore& fleetStore, RolloutOptions o)
    : c(controller), fleet(fleetStore), options(std::move(o)) {
    if (options.id.empty())
        options.id = NewId();
    password = options.password;
    passwordAsked = password.has_value();
}

std::string cRollout::NewId() {
    char text[64];
    std::snprintf(text, sizeof text, "rollout-%lld-%d",
                  static_cast<long long>(cHistoryStore::NowMs()), int(::getpid()));
    return text;
}

std::string cRollout::Label() const {
    return options.approved.name + " v" + std::to_string(options.approved.version);
}

size_t cRollout::Count(const std::string& result) const {
    size_t n = 0;
    for (const auto& m : machines)
        n += m.step.result == result;
    return n;
}

bool cRollout::StopAsked() {
    if (!stopped && stopRequested && stopRequested())
        stopped = true;
    return stopped;
}

void cRollout::Tell(RolloutEvent::Kind kind, const RolloutMachine* m) {
    if (!onEvent)
        return;
    RolloutEvent e;
    e.kind = kind;
    e.machine = m;
    e.done = machines.size();
    e.count = options.count;
    onEvent(e);
}

// Waits ms without using the processor; false when a stop was asked for.
bool cRollout::Wait(int ms) {
    const int64_t end = NowMs() + ms;
    while (!StopAsked()) {
        const int64_t left = end - NowMs();
        if (left <= 0)
            return true;
        ::poll(nullptr, 0, int(std::min<int64_t>(left, kWaitSliceMs)));
        c.Ui().KeepAlive();
    }
    return false;
}

// Reads the block and the counter of whatever machine answers, without a history entry. A
// machine that answers is left connected: the write that may follow takes the link as it is.
cRollout::Probe cRollout::Identify(ParameterBlock& block, std::optional<uint32_t>& counter) {
    if (c.OpenSelectedPort() != kResultOk)
        return Probe::AdapterGone;
    cQVX& link = c.Link();
    int r = link.Connect();
    if (r == kResultOk)
        r = link.ReadParameterBlock(block.bytes);
    // A counter the machine does not give stays unknown rather than turning into 0.
    if (uint32_t value = 0; r == kResultOk && link.ReadFasteningCounter(value) == kResultOk)
        counter = value;
    if (r != kResultOk)
        c.ClosePort();
    return r == kResultOk ? Probe::Machine : Probe::Nothing;
}

bool cRollout::Run() {
    const std::string approvedType = MachineTypeOf(options.approved.image);
    std::string previous;
    Tell(RolloutEvent::Kind::Waiting);
    while (!StopAsked() && (!options.count || long(machines.size()) < options.count)) {
        ParameterBlock seen;
        std::optional<uint32_t> counter;
        const int64_t startMs = NowMs();
        const Probe probe = Identify(seen, counter);
        if (probe == Probe::AdapterGone) {
            adapterGone = true;
            break;
        }
        // A machine left on the line answers with the serial number just done.
        const std::string serial = probe == Probe::Machine ? SerialOf(seen) : "";
        if (serial.empty() || serial == previous) {
            c.ClosePort();
            Wait(options.probeMs);
            continue;
        }
        previous = serial;

        RolloutMachine m;
        m.step.rolloutId = options.id;
        m.step.approval = LibraryRef{options.approved.name, options.approved.version};
        m.step.serialNr = serial;
        m.step.before = DigestText(seen);
        m.step.after = m.step.before;
        if (!options.serials.empty() && !options.serials.count(serial)) {
            m.step.result = "skipped";
            m.step.reason = Translate("nicht in --serials");
        } else if (MachineTypeOf(seen) != approvedType) {
            m.step.result = "skipped";
            m.step.reason = Translate("anderer Maschinentyp") + " (" + MachineTypeOf(seen) + ")";
        } else {
            Handle(seen, counter, m);
        }
        c.ClosePort();
        m.seconds = double(NowMs() - startMs) / 1000.0;
        machines.push_back(m);
        std::string error;
        if (!fleet.RecordRollout(m.step, error))
            recordError = error;
        const RolloutMachine& done = machines.back();
        Tell(done.step.result == "skipped"  ? RolloutEvent::Kind::Skipped
             : done.step.result == "failed" ? RolloutEvent::Kind::Failed
                                            : RolloutEvent::Kind::Done,
             &done);
        if (options.count && long(machines.size()) >= options.count)
            break;
        Tell(RolloutEvent::Kind::Waiting);
        Wait(options.probeMs);
    }
    c.ClosePort();
    StopAsked();
    Tell(RolloutEvent::Kind::Finished);
    return !adapterGone && Count("failed") == 0;
}

// A machine of the approved type, read and still connected: compliant, or written.
void cRollout::Handle(const ParameterBlock& seen, std::optional<uint32_t> counter,
                      RolloutMachine& m) {
    auto skip = [&](const std::string& reason) {
        m.step.result = "skipped";
        m.step.reason = reason;
    };
    auto fail = [&](const std::string& reason) {
        m.step.result = "failed";
        m.step.reason = reason;
    };
    const ParameterBlock& approved = options.approved.image;
    if (ComplianceState(seen, approved) == Compliance::Compliant) {
        m.step.result = "compliant";
        m.step.reason = Translate("enthält bereits") + " " + Label();
        // Its read is recorded, so the fleet shows it checked.
        c.RecordRead("von Maschine", kResultOk, nullptr, &seen, counter);
        return;
    }
    const int kind = approved.MachineKindFromModel();
    if (FirmwareVersionOf(approved).major < 4 || (kind != 14 && kind != 18))
        return skip(Translate("Die Konfiguration kann für diese Maschine nicht geladen werden"));
    if (!seen.ParameterisationAllowed())
        return skip(Translate("Die Maschine erlaubt keine Parametrierung"));
    if (approved.VariantCode() != seen.VariantCode() ||
        approved.Transmission() != seen.Transmission() || approved.AngleHead() != seen.AngleHead())
        return skip(Translate(
            "Die Konfiguration passt nicht zur Maschine (Variante, Getriebe oder Winkelkopf)"));

    if (!passwordAsked) {
        passwordAsked = true;
        std::string typed;
        if (c.AskPassword(typed))
            password = typed;
    }
    if (!password)
        return fail(Translate("kein Passwort angegeben"));
    // Checked here, so a wrong one is named as such; the road checks it again.
    if (cDialogMain::PasswordDigestOf(*password) != seen.PasswordDigest()) {
        c.Message("Ungültiges Passwort");
        return fail(Translate("falsches Passwort"));
    }

    BlockWrite write;
    ParameterBlock edited = approved;
    write.before = seen;
    write.outgoing = ParameterBlock::MergeForWrite(edited, seen, kDataOriginFile);
    write.password = password;
    write.linkConnected = true;
    write.options.command = "zur Maschine";
    write.options.successText = "Parameter wurden übertragen";
    write.options.failureText = "Fehler bei Datenübertagung";
    write.options.fasteningCounter = counter;
    write.options.rolloutId = options.id;
    const WriteOutcome out = cWriteRoad(c).WriteBlock(write);
    m.step.entryId = out.entryId;
    switch (out.end) {
    case WriteOutcome::End::Written:
        m.step.result = "written";
        m.step.after = DigestText(out.after ? *out.after : write.outgoing);
        return;
    case WriteOutcome::End::Invalid:
        return skip(Translate("Die Schreibprüfung lehnt die Konfiguration für diese Maschine ab"));
    case WriteOutcome::End::NoBackup:
        return fail(Translate("Die Sicherung konnte nicht gespeichert werden"));
    case WriteOutcome::End::WrongMachine:
        return fail(Translate("Eine andere Maschine hat geantwortet"));
    case WriteOutcome::End::Failed:
        c.Message("Fehler bei Datenübertagung");
        return fail(Translate("Leitungsfehler") + " " + std::to_string(out.result));
    }
}
