#include "report/Printer.h"

#include "base/CalendarDate.h"
#include "base/TextCodec.h"
#include "lang/Language.h"
#include "model/Conversions.h"
#include "model/ImageFields.h"

#include <cmath>
#include <cstdio>
#include <sys/stat.h>
#include <unordered_map>

using namespace placeholder;

namespace {

// No report comes near this; a template whose output grows past it never ends in practice.
constexpr uint64_t kMaxOutputSize = 64u << 20;

struct ErrorCriterion {
    uint16_t bit;
    const char* text;
};
// In the order the error blocks visit them (the error index); "Zeit <" is not part of the report.
enum : int {
    kCritClutch,
    kCritAngleMax,
    kCritAngleMin,
    kCritTimeMax,
    kCritThreshold,
    kCritCurrentMax,
    kCritCurrentMin,
    kCritCount
};
constexpr ErrorCriterion kCriteria[kCritCount] = {
    {kErrClutch, "Kupplung ausgelöst"}, {kErrAngleMax, "Drehwinkel >"},
    {kErrAngleMin, "Drehwinkel <"},     {kErrTimeMax, "Zeit >"},
    {kErrThreshold, "Schwelle"},        {kErrCurrentMax, "Strom >"},
    {kErrCurrentMin, "Strom <"},
};

const std::unordered_map<std::u16string_view, int>& Placeholders() {
    static const std::unordered_map<std::u16string_view, int> table = {
        {u"###TITLE_LABEL###", kTitleLabel},
        {u"###HD_HEADERDATA_LABEL###", kHeaderDataLabel},
        {u"###HD_MACHINETYPE###", kMachineType},
        {u"###HD_SERIALNR###", kSerialNr},
        {u"###HD_SW_VERSION###", kSwVersion},
        {u"###HD_TRANSMISSION###", kTransmission},
        {u"###HD_USER_TRANSMISSION###", kUserTransmission},
        {u"###HD_ANGLEHEAD###", kAngleHead},
        {u"###HD_MAX_TORQUE###", kMaxTorque},
        {u"###HD_TOOL_ID###", kToolId},
        {u"###HD_RL_LOCK###", kRlLock},
        {u"###HD_RL_LOCK_PERMANENT###", kRlLockPermanent},
        {u"###HD_RESTART_LOCK###", kRestartLock},
        {u"###HD_RESTART_LOCK_NIO###", kRestartLockNio},
        {u"###HD_BUZZER_LOCK###", kBuzzerLock},
        {u"###HD_PS1_PS2###", kParameterSet12},
        {u"###STEP_LIST###", kStepList},
        {u"###STEP_LIST_END###", kStepListEnd},
        {u"###STEP###", kStep},
        {u"###STEP_END###", kStepEnd},
        {u"###SD_PRARMETETERSET_LABEL###", kParameterSetLabel},
        {u"###SD_STEPS_GRAPHIC###", kStepsGraphic},
        {u"###SD_STEPS_LABEL###", kStepsLabel},
        {u"###SD_STEPNR###", kStepNr},
        {u"###SD_TYPE###", kType},
        {u"###SD_SPEED###", kSpeed},
        {u"###SD_SPEED_UNIT###", kSpeedUnit},
        {u"###SD_CH_CONTROLLED###", kControlledCheck},
        {u"###SD_YN_CONTROLLED###", kControlledYesNo},
        {u"###SD_RAMP###", kRamp},
        {u"###SD_NEXT_COND###", kNextCond},
        {u"###SD_NEXT_VALUE###", kNextValue},
        {u"###SD_NEXT_UNIT###", kNextUnit},
        {u"###ERROR_COND_LIST###", kErrorList},
        {u"###ERROR_COND_LIST_END###", kErrorListEnd},
        {u"###ERROR_COND###", kError},
        {u"###ERROR_COND_END###", kErrorEnd},
        {u"###SD_ERROR_COND###", kErrorCond},
        {u"###SD_ERROR_VALUE###", kErrorValue},
        {u"###SD_ERROR_UNIT###", kErrorUnit},
        {u"###SVD_SERVICEDATA_LABEL###", kServiceDataLabel},
        {u"###SVD_EL_ASSEMBLY###", kElAssembly},
        {u"###SVD_FASTENING_COUNTER###", kFasteningCounter},
        {u"###SVD_FASTENING_COUNTER_DIFF###", kFasteningCounterDiff},
        {u"###SVD_CAL_DATE###", kCalDate},
        {u"###SVD_CAL_NAME###", kCalName},
        {u"###SVD_TORQUE###", kTorque},
        {u"###SVD_PLACE###", kPlace},
        {u"###HD_MACHINETYPE_LABEL###", kMachineTypeLabel},
        {u"###HD_SERIALNR_LABEL###", kSerialNrLabel},
        {u"###HD_SW_VERSION_LABEL###", kSwVersionLabel},
        {u"###HD_TRANSMISSION_LABEL###", kTransmissionLabel},
        {u"###HD_USER_TRANSMISSION_LABEL###", kUserTransmissionLabel},
        {u"###HD_ANGLEHEAD_LABEL###", kAngleHeadLabel},
        {u"###HD_MAX_TORQUE_LABEL###", kMaxTorqueLabel},
        {u"###HD_TOOL_ID_LABEL###", kToolIdLabel},
        {u"###HD_RL_LOCK_LABEL###", kRlLockLabel},
        {u"###HD_RL_LOCK_PERMANENT_LABEL###", kRlLockPermanentLabel},
        {u"###HD_RESTART_LOCK_LABEL###", kRestartLockLabel},
        {u"###HD_RESTART_LOCK_NIO_LABEL###", kRestartLockNioLabel},
        {u"###HD_BLINK_NIO_LABEL###", kBlinkNioLabel},
        {u"###HD_BLINK_NIO###", kBlinkNio},
        {u"###HD_BUZZER_LOCK_LABEL###", kBuzzerLockLabel},
        {u"###HD_PS1_PS2_LABEL###", kParameterSet12Label},
        {u"###SD_STEPNR_LABEL###", kStepNrLabel},
        {u"###SD_TYPE_LABEL###", kTypeLabel},
        {u"###SD_SPEED_LABEL###", kSpeedLabel},
        {u"###SD_CH_CONTROLLED_LABEL###", kControlledLabel},
        {u"###SD_RAMP_LABEL###", kRampLabel},
        {u"###SD_NEXT_COND_LABEL###", kNextCondLabel},
        {u"###SD_ERROR_COND_LABEL###", kErrorCondLabel},
        {u"###SVD_EL_ASSEMBLY_LABEL###", kElAssemblyLabel},
        {u"###SVD_FASTENING_COUNTER_LABEL###", kFasteningCounterLabel},
        {u"###SVD_FASTENING_COUNTER_DIFF_LABEL###", kFasteningCounterDiffLabel},
        {u"###SVD_CAL_DATE_LABEL###", kCalDateLabel},
        {u"###SVD_CAL_NAME_LABEL###", kCalNameLabel},
        {u"###SVD_TORQUE_LABEL###", kTorqueLabel},
        {u"###SVD_PLACE_LABEL###", kPlaceLabel},
    };
    return table;
}

const std::unordered_map<int, const char*>& Labels() {
    static const std::unordered_map<int, const char*> table = {
        {kHeaderDataLabel, "Kopfdaten"},
        {kStepsLabel, "Programmschritte"},
        {kServiceDataLabel, "Wartungsdaten"},
        {kMachineTypeLabel, "Maschinentyp"},
        {kSerialNrLabel, "Seriennummer"},
        {kSwVersionLabel, "Softwareversion"},
        {kTransmissionLabel, "Getriebeübersetzung"},
        {kUserTransmissionLabel, "Benutzerdefinierte Getriebeübersetzung"},
        {kAngleHeadLabel, "Winkelkopf"},
        {kMaxTorqueLabel, "Max Drehmoment"},
        {kToolIdLabel, "Maschinenkennung"},
        {kRlLockLabel, "Umschaltung gesperrt"},
        {kRlLockPermanentLabel, "Umschaltung permanent"},
        {kRestartLockLabel, "Wiederanlaufsperre IO"},
        {kRestartLockNioLabel, "Wiederanlaufsperre NIO"},
        {kBlinkNioLabel, "Blinken bei NIO"},
        {kBuzzerLockLabel, "Summer"},
        {kParameterSet12Label, "Parametersatz 1+2"},
        {kStepNrLabel, "Programmschritt"},
        {kTypeLabel, "Typ"},
        {kSpeedLabel, "Drehzahl"},
        {kControlledLabel, "geregelt"},
        {kRampLabel, "Sanftanlauf"},
        {kNextCondLabel, "weiter bei"},
        {kErrorCondLabel, "Fehlerkriterium"},
        {kElAssemblyLabel, "Elektronikbaugruppe"},
        {kFasteningCounterLabel, "Verschraubungszähler"},
        {kFasteningCounterDiffLabel, "Verschraubungsen seit letzter Wartung"},
        {kCalDateLabel, "Datum letzte Kalibrierung"},
        {kCalNameLabel, "Durchgeführt von"},
        {kTorqueLabel, "Eingestelltes Drehmoment"},
        {kPlaceLabel, "Einsatzort"},
    };
    return table;
}

std::string Tr(const char* german) {
    return Translate(std::string_view(german));
}

std::string YesNo(bool yes) {
    return Tr(yes ? "Ja" : "Nein");
}
std::string OnOff(bool on) {
    return Tr(on ? "Ein" : "Aus");
}

// A real as an integer toward zero; a value that is not finite or does not fit gives 0
// (a catalog ratio of 0 must not turn into undefined behaviour).
long long ToInteger(double v) {
    if (!std::isfinite(v) || std::fabs(v) > 9.0e18)
        return 0;
    return static_cast<long long>(v);
}

std::string Fixed(double v, int decimals) {
    if (!std::isfinite(v))
        v = 0;
    return FormatFixed(v, decimals);
}

std::u16string EscapeHtml(std::string_view utf8) {
    std::u16string text = Utf8ToUtf16(utf8);
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        switch (c) {
        case u'&':
            out += u"&amp;";
            break;
        case u'<':
            out += u"&lt;";
            break;
        case u'>':
            out += u"&gt;";
            break;
        case u'"':
            out += u"&quot;";
            break;
        case u'\'':
            out += u"&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

cPrinter::~cPrinter() {
    output_.Discard();
    template_.Close();
}

int cPrinter::LookupPlaceholder(std::u16string_view token) {
    auto it = Placeholders().find(token);
    return it == Placeholders().end() ? 0 : it->second;
}

namespace {

// The same file under both names (also through a link): the template would be the last report.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace

int cPrinter::OpenFiles(const std::string& templatePath, const std::string& outputPath,
                        std::string* message) {
    // A template is a plain file of reasonable size, and never the report it is to make.
    if (!template_.Open(templatePath, CUTF16File::Mode::Read) ||
        template_.GetLength() > kMaxTemplateSize || SameFile(templatePath, outputPath)) {
        template_.Close();
        if (message)
            *message = Tr("ungültige Druckvorlage");
        return kOpenFailed;
    }
    if (!output_.Open(outputPath, CUTF16File::Mode::Write)) {
        template_.Close();
        if (message)
            *message = Tr("ungültige HTML-Ausgabedatei");
        return kOpenFailed;
    }
    return kOk;
}

int cPrinter::OpenMemory(std::string templateBytes) {
    if (templateBytes.size() > kMaxTemplateSize)
        return kOpenFailed;
    template_.OpenMemory(std::move(templateBytes));
    output_.OpenMemoryOutput();
    return kOk;
}

bool cPrinter::CloseFiles() {
    template_.Close();
    if (!output_.IsOpen())
        return !failed_;
    if (failed_) {
        output_.Discard();
        return false;
    }
    return output_.Close();
}

StepRecordView cPrinter::CurrentStep() const {
    int global = GlobalStep();
    if (global < 0 || global > 9)
        global = 9;
    return image_->Step(static_cast<size_t>(global));
}

int cPrinter::NextErrorCondition() {
    for (;;) {
        ++errorIndex_;
        if (errorIndex_ >= kCritCount) {
            errorIndex_ = -1;
            return -1;
        }
        if (CurrentStep().ErrorMask() & kCriteria[errorIndex_].bit)
            return errorIndex_;
    }
}

void cPrinter::Write(std::u16string_view text) {
    if (text.empty() || failed_)
        return;
    if (!output_.WriteUnicodeText(text))
        failed_ = true;
}

bool cPrinter::SeekTo(uint64_t position) {
    if (++seeks_ > seekLimit_)
        return false;
    return template_.SeekAndReset(static_cast<int64_t>(position));
}

bool cPrinter::HandleToken(std::u16string_view token) {
    const int number = LookupPlaceholder(token);
    uint64_t pos = 0;
    switch (number) {
    case kStepList:
        loops_.Push(template_.GetPosition());
        return true;
    case kStepListEnd:
        if (loops_.Pop(pos)) {
            if (setIndex_ < setCount_ - 1) {
                ++setIndex_;
                if (image_->ParameterSet12())
                    stepIndex_ = 2;
                if (!SeekTo(pos))
                    return false;
                loops_.Push(pos);
            } else {
                setIndex_ = 0;
            }
        }
        return true;
    case kStep:
        loops_.Push(template_.GetPosition());
        return true;
    case kStepEnd:
        if (loops_.Pop(pos)) {
            if (CurrentStep().IsLast() || GlobalStep() + 1 > 9) {
                stepIndex_ = 0;
            } else {
                if (!SeekTo(pos))
                    return false;
                loops_.Push(pos);
                ++stepIndex_;
            }
        }
        return true;
    case kErrorList:
        errorIndex_ = -1;
        suppress_ = NextErrorCondition() < 0;
        return true;
    case kError:
        errorIndex_ = -1;
        if (NextErrorCondition() < 0)
            suppress_ = true;
        else
            loops_.Push(template_.GetPosition());
        return true;
    case kErrorEnd:
        if (errorIndex_ >= 0 && loops_.Pop(pos)) {
            if (NextErrorCondition() < 0) {
                errorIndex_ = -1;
            } else {
                if (!SeekTo(pos))
                    return false;
                loops_.Push(pos);
            }
        }
        return true;
    case kErrorListEnd:
        suppress_ = false;
        return true;
    default:
        break;
    }
    if (suppress_)
        return true;
    if (number == 0) {
        Write(token);
        Write(u"\n");
    } else {
        WriteValue(number);
    }
    return true;
}

int cPrinter::Generate(int machineKind, const ParameterBlock* image, const std::string& title,
                       const TransmissionEntry* transmission,
                       std::span<const TransmissionEntry> angleHeads, uint32_t fasteningCount) {
    if (!image || !transmission || !template_.IsOpen() || !output_.IsOpen())
        return kMissingReference;
    machineKind_ = machineKind;
    image_ = image;
    title_ = title;
    transmission_ = transmission;
    angleHeads_ = angleHeads;
    fasteningCount_ = fasteningCount;
    setIndex_ = 0;
    stepIndex_ = 0;
    errorIndex_ = -1;
    suppress_ = false;
    setCount_ = 2;
    seeks_ = 0;

    std::u16string line;
    while (template_.ReadString(line)) {
        if (output_.GetPosition() > kMaxOutputSize) {
            failed_ = true;
            return kRunaway;
        }
        if (line.empty()) {
            if (!suppress_)
                Write(u"\n");
            continue;
        }
        size_t pos = 0;
        while (pos < line.size()) {
            size_t hash = line.find(u'#', pos);
            if (hash == std::u16string::npos)
                hash = line.size();
            if (!suppress_)
                Write(std::u16string_view(line).substr(pos, hash - pos));
            pos = hash;
            if (pos >= line.size()) {
                if (!suppress_)
                    Write(u"\n");
                break;
            }
            size_t end = line.find_first_not_of(u'#', pos);
            if (end == std::u16string::npos)
                end = line.size();
            end = line.find(u'#', end);
            if (end == std::u16string::npos)
                end = line.size();
            end = line.find_first_not_of(u'#', end);
            if (end == std::u16string::npos)
                end = line.size();
            if (!HandleToken(std::u16string_view(line).substr(pos, end - pos))) {
                failed_ = true;
                return kRunaway;
            }
            pos = end;
        }
    }
    if (template_.HasError())
        failed_ = true;
    return kOk;
}

std::u16string cPrinter::ValueText(int number) const {
    if (machineKind_ == 0 || !image_)
        return {};
    if (auto it = Labels().find(number); it != Labels().end())
        return EscapeHtml(Tr(it->second));

    const ParameterBlock& b = *image_;
    const double ratio = transmission_ ? transmission_->ratio : 0;
    // The report's own degrees: the gearbox ratio without the user gear factor, not rounded
    // (shown with one decimal or none), and 24 counts for kind 0 too, where the pages show 0.
    // A report reads as every earlier report of the same image; the pages use AngleToDisplay.
    const int counts = machineKind_ == 18 ? 18 : 24;
    auto degrees = [&](uint32_t raw) { return raw * 360.0 / (counts * ratio); };
    // Header and service values from the field table: machine text by the one rule, numbers
    // scaled as the table scales them, with the report's own decimals.
    auto shown = [&](const char* name) {
        const ImageField* f = FindImageField(name);
        return f ? ShownLatin1(FieldBytes(*f, b)) : std::string();
    };
    auto scaled = [&](const char* name, int decimals) {
        const ImageField* f = FindImageField(name);
        return Fixed(f ? FieldNumber(*f, b) : 0.0, decimals);
    };
    auto on = [&](const char* name) {
        const ImageField* f = FindImageField(name);
        return f && FieldOn(*f, b);
    };
    auto seconds = [&](const char* name) { return scaled(name, 1) + " " + Tr("Sekunden"); };
    std::string text;

    switch (number) {
    case kTitleLabel:
        text = title_;
        break;
    case kMachineType:
        text = shown("machineType");
        break;
    case kSerialNr:
        text = shown("serialNr");
        break;
    case kSwVersion:
        text = shown("swVersion");
        break;
    case kTransmission:
        text = transmission_ ? transmission_->name : std::string();
        break;
    case kUserTransmission:
        text = scaled("userTransmission", 2);
        break;
    case kAngleHead:
        if (b.AngleHead() < angleHeads_.size())
            text = angleHeads_[b.AngleHead()].name;
        break;
    case kMaxTorque:
        text = scaled("maxTorque", 1);
        break;
    case kToolId:
        text = shown("toolId");
        break;
    case kRlLock:
        text = YesNo(on("rlLock"));
        break;
    case kRlLockPermanent:
        text = YesNo(on("rlLockPermanent"));
        break;
    case kRestartLock:
        text = seconds("restartLock");
        break;
    case kRestartLockNio:
        text = seconds("restartLockNio");
        break;
    case kBuzzerLock:
        text = OnOff(!on("buzzerLock"));
        break;
    case kParameterSet12:
        text = OnOff(b.ParameterSet12());
        break;
    case kBlinkNio:
        text = YesNo(on("blinkNio"));
        break;
    case kElAssembly:
        text = shown("elAssembly");
        break;
    case kFasteningCounter:
        if (fasteningCountKnown_)
            text = std::to_string(static_cast<int32_t>(fasteningCount_));
        break;
    case kFasteningCounterDiff:
        if (fasteningCountKnown_)
            text = std::to_string(static_cast<int32_t>(fasteningCount_ - b.ServiceResetCounter()));
        break;
    case kCalDate:
        text = CalDateText(b.CalDate());
        break;
    case kCalName:
        text = shown("calName");
        break;
    case kTorque:
        text = scaled("torque", 1) + " " + Tr("Nm");
        break;
    case kPlace:
        text = shown("place");
        break;
    case kParameterSetLabel:
        if (setIndex_ == 0)
            text = Tr(b.ParameterSet12() ? "Parametersatz 1+2" : "Parametersatz 1");
        else
            text = Tr(b.ParameterSet12() ? "Umschaltung" : "Parametersatz 2");
        break;
    case kStepsGraphic:
        text = "programSteps" + std::to_string(setIndex_ + 1) + ".jpg";
        break;
    default:
        break;
    }
    if (number >= kStepNr && number <= kErrorUnit) {
        const StepRecordView s = CurrentStep();
        switch (number) {
        case kStepNr:
            text = (setIndex_ == 1 && b.ParameterSet12()) ? "1" : std::to_string(stepIndex_ + 1);
            break;
        case kType:
            text = Tr(s.Type() != 0 ? "Linkslauf" : "Rechtslauf");
            break;
        case kSpeed: {
            // The report's own speed, for the same reason as its degrees: no user gear factor,
            // no output limits, and for kind 14 the motor's 22500 1/min cut toward zero where
            // the pages take the battery's maximum speed and round (SpeedToDisplay).
            const uint16_t raw = s.Speed();
            long long v = 0;
            if (machineKind_ == 18 && s.Controlled())
                v = raw == 0 || ratio <= 0
                        ? 0
                        : ToInteger(RoundHalfUp(3333333.3333333335 / ratio / raw));
            else if (machineKind_ == 18)
                v = ToInteger(RoundHalfUp(raw * 100.0 / 1023));
            else if (s.Controlled())
                v = ratio <= 0 ? 0 : ToInteger(raw * 22500.0 / (255 * ratio));
            else
                v = ToInteger(raw * 100.0 / 255);
            text = std::to_string(v);
            break;
        }
        case kSpeedUnit:
            text = Tr(s.Controlled() ? "1/Min" : "%");
            break;
        case kControlledCheck:
            text = s.Controlled() ? "checked" : "";
            break;
        case kControlledYesNo:
            text = YesNo(s.Controlled() != 0);
            break;
        case kRamp:
            text = Fixed(s.Ramp() / 100.0, 1) + " " + Tr("Sekunden");
            break;
        case kNextCond:
            switch (s.NextCond()) {
            case kCondAngle:
                text = Tr("Drehwinkel erreicht");
                break;
            case kCondTime:
                text = Tr("Zeit abgelaufen");
                break;
            case kCondThreshold:
                text = Tr("Drehmoment-Schwelle");
                break;
            case kCondClutch:
                text = Tr("Kupplung ausgelöst");
                break;
            case kCondCurrent:
                text = Tr("Strom erreichtt");
                break;
            default:
                text = " ";
            }
            break;
        case kNextValue:
            switch (s.NextCond()) {
            case kCondAngle:
                text = Fixed(degrees(s.Angle()), 0);
                break;
            case kCondTime:
                text = std::to_string(s.Time());
                break;
            case kCondThreshold:
                text = Fixed(RoundHalfUp(s.Threshold() * 1.4348 - 143.913, 0), 1);
                break;
            case kCondCurrent:
                text = Fixed(RoundHalfUp(s.Current() / 100.0, 1), 1);
                break;
            default:
                text = " ";
            }
            break;
        case kNextUnit:
            switch (s.NextCond()) {
            case kCondAngle:
                text = Tr("Grad");
                break;
            case kCondTime:
                text = Tr("ms");
                break;
            case kCondCurrent:
                text = Tr("A");
                break;
            default:
                text = " ";
            }
            break;
        case kErrorCond:
            if (errorIndex_ >= 0 && (s.ErrorMask() & kCriteria[errorIndex_].bit))
                text = Tr(kCriteria[errorIndex_].text);
            break;
        case kErrorValue:
            switch (errorIndex_) {
            case kCritAngleMax:
                text = Fixed(degrees(s.Angle()), 1) + " " + Tr("Grad");
                break;
            case kCritAngleMin:
                text = Fixed(degrees(s.AngleMin()), 1) + " " + Tr("Grad");
                break;
            case kCritTimeMax:
                text = Fixed(s.Time(), 0) + " " + Tr("ms");
                break;
            case kCritThreshold:
                text = Fixed(RoundHalfUp(s.Threshold() * 1.4348 - 143.913, 0), 1);
                break;
            case kCritCurrentMax:
                text = Fixed(RoundHalfUp(s.Current() / 100.0, 1), 1);
                break;
            case kCritCurrentMin:
                text = Fixed(RoundHalfUp(s.CurrentMin() / 100.0, 1), 1);
                break;
            default:
                break;
            }
            break;
        case kErrorUnit:
            switch (errorIndex_) {
            case kCritAngleMax:
            case kCritAngleMin:
                text = Tr("Grad");
                break;
            case kCritTimeMax:
                text = Tr("ms");
                break;
            case kCritThreshold:
                text = " ";
                break;
            case kCritCurrentMax:
            case kCritCurrentMin:
                text = "A";
                break;
            default:
                break;
            }
            break;
        default:
            break;
        }
    }
    return EscapeHtml(text);
}

void cPrinter::WriteValue(int number) {
    Write(ValueText(number));
}

std::string ResolveTemplatePath(const std::string& templatePath, const std::string& dataFolder) {
    if (templatePath.find('/') != std::string::npos)
        return templatePath;
    std::string folder = dataFolder;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder + "templates/" + templatePath;
}
