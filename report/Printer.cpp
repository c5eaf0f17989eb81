#include "report/Printer.h"

#include "lang/Language.h"
#include "lang/TextCodec.h"
#include "model/Conversions.h"

#include <cmath>
#include <cstdio>
#include <sys/stat.h>
#include <unordered_map>

namespace {

// No report comes near this; a template whose output grows past it never ends in practice.
constexpr uint64_t kMaxOutputSize = 64u << 20;

struct ErrorCriterion {
    uint16_t bit;
    const char* text;
};
// In the order the error blocks visit them; "Zeit <" is not part of the report.
constexpr ErrorCriterion kCriteria[7] = {
    {kErrClutch, "Kupplung ausgelöst"}, {kErrAngleMax, "Drehwinkel >"},
    {kErrAngleMin, "Drehwinkel <"},     {kErrTimeMax, "Zeit >"},
    {kErrThreshold, "Schwelle"},        {kErrCurrentMax, "Strom >"},
    {kErrCurrentMin, "Strom <"},
};

const std::unordered_map<std::u16string_view, int>& Placeholders() {
    static const std::unordered_map<std::u16string_view, int> table = {
        {u"###TITLE_LABEL###", 1},
        {u"###HD_HEADERDATA_LABEL###", 2},
        {u"###HD_MACHINETYPE###", 3},
        {u"###HD_SERIALNR###", 4},
        {u"###HD_SW_VERSION###", 5},
        {u"###HD_TRANSMISSION###", 6},
        {u"###HD_USER_TRANSMISSION###", 7},
        {u"###HD_ANGLEHEAD###", 8},
        {u"###HD_MAX_TORQUE###", 9},
        {u"###HD_TOOL_ID###", 10},
        {u"###HD_RL_LOCK###", 11},
        {u"###HD_RL_LOCK_PERMANENT###", 12},
        {u"###HD_RESTART_LOCK###", 13},
        {u"###HD_RESTART_LOCK_NIO###", 14},
        {u"###HD_BUZZER_LOCK###", 15},
        {u"###HD_PS1_PS2###", 16},
        {u"###STEP_LIST###", 17},
        {u"###STEP_LIST_END###", 18},
        {u"###STEP###", 19},
        {u"###STEP_END###", 20},
        {u"###SD_PRARMETETERSET_LABEL###", 21},
        {u"###SD_STEPS_GRAPHIC###", 22},
        {u"###SD_STEPS_LABEL###", 23},
        {u"###SD_STEPNR###", 24},
        {u"###SD_TYPE###", 25},
        {u"###SD_SPEED###", 26},
        {u"###SD_SPEED_UNIT###", 27},
        {u"###SD_CH_CONTROLLED###", 28},
        {u"###SD_YN_CONTROLLED###", 29},
        {u"###SD_RAMP###", 30},
        {u"###SD_NEXT_COND###", 31},
        {u"###SD_NEXT_VALUE###", 32},
        {u"###SD_NEXT_UNIT###", 33},
        {u"###ERROR_COND_LIST###", 34},
        {u"###ERROR_COND_LIST_END###", 35},
        {u"###ERROR_COND###", 36},
        {u"###ERROR_COND_END###", 37},
        {u"###SD_ERROR_COND###", 38},
        {u"###SD_ERROR_VALUE###", 39},
        {u"###SD_ERROR_UNIT###", 40},
        {u"###SVD_SERVICEDATA_LABEL###", 41},
        {u"###SVD_EL_ASSEMBLY###", 42},
        {u"###SVD_FASTENING_COUNTER###", 43},
        {u"###SVD_FASTENING_COUNTER_DIFF###", 44},
        {u"###SVD_CAL_DATE###", 45},
        {u"###SVD_CAL_NAME###", 46},
        {u"###SVD_TORQUE###", 47},
        {u"###SVD_PLACE###", 48},
        {u"###HD_MACHINETYPE_LABEL###", 49},
        {u"###HD_SERIALNR_LABEL###", 50},
        {u"###HD_SW_VERSION_LABEL###", 51},
        {u"###HD_TRANSMISSION_LABEL###", 52},
        {u"###HD_USER_TRANSMISSION_LABEL###", 53},
        {u"###HD_ANGLEHEAD_LABEL###", 54},
        {u"###HD_MAX_TORQUE_LABEL###", 55},
        {u"###HD_TOOL_ID_LABEL###", 56},
        {u"###HD_RL_LOCK_LABEL###", 57},
        {u"###HD_RL_LOCK_PERMANENT_LABEL###", 58},
        {u"###HD_RESTART_LOCK_LABEL###", 60},
        {u"###HD_RESTART_LOCK_NIO_LABEL###", 61},
        {u"###HD_BLINK_NIO_LABEL###", 62},
        {u"###HD_BLINK_NIO###", 63},
        {u"###HD_BUZZER_LOCK_LABEL###", 64},
        {u"###HD_PS1_PS2_LABEL###", 65},
        {u"###SD_STEPNR_LABEL###", 66},
        {u"###SD_TYPE_LABEL###", 67},
        {u"###SD_SPEED_LABEL###", 68},
        {u"###SD_CH_CONTROLLED_LABEL###", 69},
        {u"###SD_RAMP_LABEL###", 70},
        {u"###SD_NEXT_COND_LABEL###", 71},
        {u"###SD_ERROR_COND_LABEL###", 72},
        {u"###SVD_EL_ASSEMBLY_LABEL###", 73},
        {u"###SVD_FASTENING_COUNTER_LABEL###", 74},
        {u"###SVD_FASTENING_COUNTER_DIFF_LABEL###", 75},
        {u"###SVD_CAL_DATE_LABEL###", 76},
        {u"###SVD_CAL_NAME_LABEL###", 77},
        {u"###SVD_TORQUE_LABEL###", 78},
        {u"###SVD_PLACE_LABEL###", 79},
    };
    return table;
}

const std::unordered_map<int, const char*>& Labels() {
    static const std::unordered_map<int, const char*> table = {
        {2, "Kopfdaten"},
        {23, "Programmschritte"},
        {41, "Wartungsdaten"},
        {49, "Maschinentyp"},
        {50, "Seriennummer"},
        {51, "Softwareversion"},
        {52, "Getriebeübersetzung"},
        {53, "Benutzerdefinierte Getriebeübersetzung"},
        {54, "Winkelkopf"},
        {55, "Max Drehmoment"},
        {56, "Maschinenkennung"},
        {57, "Umschaltung gesperrt"},
        {58, "Umschaltung permanent"},
        {60, "Wiederanlaufsperre IO"},
        {61, "Wiederanlaufsperre NIO"},
        {62, "Blinken bei NIO"},
        {64, "Summer"},
        {65, "Parametersatz 1+2"},
        {66, "Programmschritt"},
        {67, "Typ"},
        {68, "Drehzahl"},
        {69, "geregelt"},
        {70, "Sanftanlauf"},
        {71, "weiter bei"},
        {72, "Fehlerkriterium"},
        {73, "Elektronikbaugruppe"},
        {74, "Verschraubungszähler"},
        {75, "Verschraubungsen seit letzter Wartung"},
        {76, "Datum letzte Kalibrierung"},
        {77, "Durchgeführt von"},
        {78, "Eingestelltes Drehmoment"},
        {79, "Einsatzort"},
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

// "dd.mm.yyyy  hh:mm" for minutes since 1 January 2000 00:00, by the calendar alone.
std::string CalDateText(uint32_t minutes) {
    if (minutes == 0)
        return {};
    long long days = minutes / 1440;
    const int hour = static_cast<int>(minutes % 1440 / 60);
    const int minute = static_cast<int>(minutes % 60);
    // Days since 1970-01-01 to a civil date (proleptic Gregorian).
    long long z = days + 10957 + 719468;
    const long long era = z / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = yoe + era * 400;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    if (m <= 2)
        ++y;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04lld  %02d:%02d", d, m, y, hour, minute);
    return buf;
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
        if (errorIndex_ > 6) {
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
    const int counts = machineKind_ == 18 ? 18 : 24;
    auto degrees = [&](uint32_t raw) { return raw * 360.0 / (counts * ratio); };
    auto seconds = [&](uint8_t tenths) { return Fixed(tenths / 10.0, 1) + " " + Tr("Sekunden"); };
    std::string text;

    switch (number) {
    case 1:
        text = title_;
        break;
    case 3:
        text = b.MachineType();
        break;
    case 4:
        text = b.SerialNr();
        break;
    case 5:
        text = b.SwVersion();
        break;
    case 6:
        text = transmission_ ? transmission_->name : std::string();
        break;
    case 7:
        text = Fixed(b.UserTransmission() / 100.0, 2);
        break;
    case 8:
        if (b.AngleHead() < angleHeads_.size())
            text = angleHeads_[b.AngleHead()].name;
        break;
    case 9:
        text = Fixed(b.MaxTorque() / 100.0, 1);
        break;
    case 10:
        text = b.ToolId();
        break;
    case 11:
        text = YesNo(b.RlLock() != 0);
        break;
    case 12:
        text = YesNo(b.RlLockPermanent() == 0);
        break;
    case 13:
        text = seconds(b.RestartLock());
        break;
    case 14:
        text = seconds(b.RestartLockNio());
        break;
    case 15:
        text = OnOff(b.BuzzerLock() == 0);
        break;
    case 16:
        text = OnOff(b.ParameterSet12());
        break;
    case 63:
        text = YesNo(b.BlinkNio() != 0);
        break;
    case 42:
        text = b.ElAssembly();
        break;
    case 43:
        if (fasteningCountKnown_)
            text = std::to_string(static_cast<int32_t>(fasteningCount_));
        break;
    case 44:
        if (fasteningCountKnown_)
            text = std::to_string(static_cast<int32_t>(fasteningCount_ - b.ServiceResetCounter()));
        break;
    case 45:
        text = CalDateText(b.CalDate());
        break;
    case 46:
        text = b.CalName();
        break;
    case 47:
        text = Fixed(b.Torque() / 100.0, 1) + " " + Tr("Nm");
        break;
    case 48:
        text = b.Place();
        break;
    case 21:
        if (setIndex_ == 0)
            text = Tr(b.ParameterSet12() ? "Parametersatz 1+2" : "Parametersatz 1");
        else
            text = Tr(b.ParameterSet12() ? "Umschaltung" : "Parametersatz 2");
        break;
    case 22:
        text = "programSteps" + std::to_string(setIndex_ + 1) + ".jpg";
        break;
    default:
        break;
    }
    if (number >= 24 && number <= 40) {
        const StepRecordView s = CurrentStep();
        switch (number) {
        case 24:
            text = (setIndex_ == 1 && b.ParameterSet12()) ? "1" : std::to_string(stepIndex_ + 1);
            break;
        case 25:
            text = Tr(s.Type() != 0 ? "Linkslauf" : "Rechtslauf");
            break;
        case 26: {
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
        case 27:
            text = Tr(s.Controlled() ? "1/Min" : "%");
            break;
        case 28:
            text = s.Controlled() ? "checked" : "";
            break;
        case 29:
            text = YesNo(s.Controlled() != 0);
            break;
        case 30:
            text = Fixed(s.Ramp() / 100.0, 1) + " " + Tr("Sekunden");
            break;
        case 31:
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
        case 32:
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
        case 33:
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
        case 38:
            if (errorIndex_ >= 0 && (s.ErrorMask() & kCriteria[errorIndex_].bit))
                text = Tr(kCriteria[errorIndex_].text);
            break;
        case 39:
            switch (errorIndex_) {
            case 1:
                text = Fixed(degrees(s.Angle()), 1) + " " + Tr("Grad");
                break;
            case 2:
                text = Fixed(degrees(s.AngleMin()), 1) + " " + Tr("Grad");
                break;
            case 3:
                text = Fixed(s.Time(), 0) + " " + Tr("ms");
                break;
            case 4:
                text = Fixed(RoundHalfUp(s.Threshold() * 1.4348 - 143.913, 0), 1);
                break;
            case 5:
                text = Fixed(RoundHalfUp(s.Current() / 100.0, 1), 1);
                break;
            case 6:
                text = Fixed(RoundHalfUp(s.CurrentMin() / 100.0, 1), 1);
                break;
            default:
                break;
            }
            break;
        case 40:
            switch (errorIndex_) {
            case 1:
            case 2:
                text = Tr("Grad");
                break;
            case 3:
                text = Tr("ms");
                break;
            case 4:
                text = " ";
                break;
            case 5:
            case 6:
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
