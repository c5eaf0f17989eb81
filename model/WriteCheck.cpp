#include "model/WriteCheck.h"

#include <algorithm>
#include <cmath>

#include "model/PageRules.h"

namespace {

using PB = ParameterBlock;

constexpr const char* kNotAsMachine = "nicht wie in der Maschine";
constexpr const char* kOutOfRange = "außerhalb des erlaubten Bereichs";
constexpr const char* kBadNextStep = "ungültiger Folgeschritt";
constexpr const char* kBadCondition = "ungültige Bedingung";
constexpr const char* kNotWithCondition = "mit dieser Bedingung nicht möglich";
constexpr const char* kNotOnLastStep = "beim letzten Schritt nicht möglich";

class Findings {
public:
    void Add(const char* field, const char* what, std::size_t offset, int step = -1) {
        list.push_back({field, what, step, offset});
    }
    std::vector<WriteFinding> list;
};

bool SameBytes(const PB& a, const PB& b, std::size_t offset, std::size_t width) {
    return std::equal(a.bytes.begin() + offset, a.bytes.begin() + offset + width,
                      b.bytes.begin() + offset);
}

void CheckIdentity(const PB& out, const PB& machine, uint16_t blockOffset, Findings& f) {
    struct Identity {
        const char* field;
        std::size_t offset;
        std::size_t width;
    };
    // The model code is the first five characters of the machine type: one field.
    static constexpr Identity kIdentity[] = {
        {"Maschinentyp", PB::kOffMachineType, PB::kLenMachineType},
        {"Elektronikbaugruppe", PB::kOffElAssembly, PB::kLenElAssembly},
        {"Seriennummer", PB::kOffSerialNr, PB::kLenSerialNr},
        {"Softwareversion", PB::kOffSwVersion, PB::kLenSwVersion},
        {"Max Drehmoment", PB::kOffMaxTorque, 2},
        {"Variante", PB::kOffVariantCode, 1},
        {"Getriebeübersetzung", PB::kOffTransmission, 1},
        {"Winkelkopf", PB::kOffAngleHead, 1},
    };
    if (blockOffset == 0 && !SameBytes(out, machine, 0, 2))
        f.Add("Blockkennung", kNotAsMachine, 0);
    for (const Identity& id : kIdentity)
        if (!SameBytes(out, machine, id.offset, id.width))
            f.Add(id.field, kNotAsMachine, id.offset);
}

void CheckSwitches(const PB& out, Findings& f) {
    const uint16_t factor = out.UserTransmission();
    if (factor < std::lround(PageRules::kMinUserFactor * 100) ||
        factor > std::lround(PageRules::kMaxUserFactor * 100))
        f.Add("Benutzerdefinierte Getriebeübersetzung", kOutOfRange, PB::kOffUserTransmission);
    if (out.BatteryThreshold() > PageRules::kMaxBatteryThreshold)
        f.Add("Akkukapazitätsanzeige", kOutOfRange, PB::kOffBatteryThreshold);
    if (out.Torque() > std::lround(PageRules::kMaxTorqueNm * 100))
        f.Add("Eingestelltes Drehmoment", kOutOfRange, PB::kOffTorque);
}

void CheckSteps(const PB& out, const PB& machine, const MachineCatalog& catalog, Findings& f) {
    const uint8_t flags = out.ModeFlags();
    const double userFactor =
        out.UserTransmission() / 100.0 >= 0.01 ? out.UserTransmission() / 100.0 : 1.0;
    PageRules::StepLimitInput in;
    in.gearRatio = catalog.activeTransmission.ratio;
    in.userFactor = userFactor;
    in.maxMotorSpeed = catalog.pageBatteryMaxSpeed;
    in.minMotorSpeed = catalog.pageMinSpeed;
    in.minThreshold = catalog.minThreshold;
    in.maxThreshold = catalog.maxThreshold;
    in.clutchMaxSpeed = catalog.clutchMaxSpeed;
    in.machineKind = 18;
    const PageRules::StepLimits limits18 = MakeStepLimits(in);
    const int modelKind = machine.MachineKindFromModel();
    in.machineKind = modelKind == 14 ? 14 : 18;
    const PageRules::StepLimits limitsModel = MakeStepLimits(in);

    for (std::size_t i = 0; i < PB::kStepCount; ++i) {
        const StepRecordView s = out.Step(i);
        const int step = static_cast<int>(i);
        const std::size_t base = PB::kOffSteps + i * StepRecordView::kSize;
        const uint8_t code = s.Condition();

        if (!PageRules::NextStepAllowed(i, s.NextStep(), flags))
            f.Add("letzter Schritt", kBadNextStep, base + 28, step);
        if (!PageRules::KnownCondition(code))
            f.Add("weiter bei", kBadCondition, base + 25, step);
        if (s.IsLast() && s.WaitRestart())
            f.Add("warten auf Neustart", kNotOnLastStep, base + 25, step);
        if ((s.ErrorMask() & ~kErrAllCriteria) != 0 ||
            (s.ErrorMask() & PageRules::ErrorsExcludedBy(code)) != 0)
            f.Add("Fehlerkriterium", kNotWithCondition, base + 26, step);
        if (s.Type() > 1)
            f.Add("Typ", kOutOfRange, base + 23, step);
        if (s.Controlled() > 1)
            f.Add("geregelt", kOutOfRange, base + 24, step);
        else if (s.Controlled() == 1 && !PageRules::ConditionAllowsControlled(code))
            f.Add("geregelt", kNotWithCondition, base + 24, step);

        const bool controlled = s.Controlled() != 0;
        if (!PageRules::SpeedRawAllowed(limits18, s.Speed(), controlled) &&
            !PageRules::SpeedRawAllowed(limitsModel, s.Speed(), controlled))
            f.Add("Drehzahl", kOutOfRange, base, step);
        // A step without a speed was never given a soft start; the pages store 1..255.
        if (s.Ramp() == 0 && s.Speed() != 0)
            f.Add("Sanftanlauf", kOutOfRange, base + 20, step);
        const bool thresholdUsed = code == kCondThreshold || s.HasError(kErrThreshold);
        if (thresholdUsed && !PageRules::ThresholdRawAllowed(limits18, s.Threshold()))
            f.Add("Schwelle", kOutOfRange, base + 12, step);
    }
}

} // namespace

std::vector<WriteFinding> CheckImageForWrite(const ParameterBlock& outgoing,
                                             const ParameterBlock& machine,
                                             const MachineCatalog& catalog, uint16_t blockOffset) {
    Findings f;
    CheckIdentity(outgoing, machine, blockOffset, f);
    CheckSwitches(outgoing, f);
    CheckSteps(outgoing, machine, catalog, f);
    return f.list;
}

std::string DescribeFindings(const std::vector<WriteFinding>& findings,
                             const std::function<std::string(const std::string&)>& translate) {
    std::string text;
    for (const WriteFinding& w : findings) {
        if (!text.empty())
            text += '\n';
        if (w.step >= 0)
            text += translate("Programmschritt") + " " + std::to_string(w.step + 1) + ": ";
        text += translate(w.field) + ": " + translate(w.germanText);
    }
    return text;
}
