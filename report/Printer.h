// The HTML report: a user's template with "###NAME###" placeholders and block markers,
// expanded over the edited image into "Torvex.html".
#pragma once

#include "lang/UTF16File.h"
#include "model/MachineCatalog.h"
#include "model/ParameterBlock.h"
#include "report/LoopStack.h"

#include <span>
#include <string>
#include <string_view>

// Placeholder numbers of the template's tokens (59 is unused); 17-20 and 34-37 are the
// block markers.
namespace placeholder {
enum : int {
    kTitleLabel = 1,
    kHeaderDataLabel = 2,
    kMachineType = 3,
    kSerialNr = 4,
    kSwVersion = 5,
    kTransmission = 6,
    kUserTransmission = 7,
    kAngleHead = 8,
    kMaxTorque = 9,
    kToolId = 10,
    kRlLock = 11,
    kRlLockPermanent = 12,
    kRestartLock = 13,
    kRestartLockNio = 14,
    kBuzzerLock = 15,
    kParameterSet12 = 16,
    kStepList = 17,
    kStepListEnd = 18,
    kStep = 19,
    kStepEnd = 20,
    kParameterSetLabel = 21,
    kStepsGraphic = 22,
    kStepsLabel = 23,
    kStepNr = 24,
    kType = 25,
    kSpeed = 26,
    kSpeedUnit = 27,
    kControlledCheck = 28,
    kControlledYesNo = 29,
    kRamp = 30,
    kNextCond = 31,
    kNextValue = 32,
    kNextUnit = 33,
    kErrorList = 34,
    kErrorListEnd = 35,
    kError = 36,
    kErrorEnd = 37,
    kErrorCond = 38,
    kErrorValue = 39,
    kErrorUnit = 40,
    kServiceDataLabel = 41,
    kElAssembly = 42,
    kFasteningCounter = 43,
    kFasteningCounterDiff = 44,
    kCalDate = 45,
    kCalName = 46,
    kTorque = 47,
    kPlace = 48,
    kMachineTypeLabel = 49,
    kSerialNrLabel = 50,
    kSwVersionLabel = 51,
    kTransmissionLabel = 52,
    kUserTransmissionLabel = 53,
    kAngleHeadLabel = 54,
    kMaxTorqueLabel = 55,
    kToolIdLabel = 56,
    kRlLockLabel = 57,
    kRlLockPermanentLabel = 58,
    kRestartLockLabel = 60,
    kRestartLockNioLabel = 61,
    kBlinkNioLabel = 62,
    kBlinkNio = 63,
    kBuzzerLockLabel = 64,
    kParameterSet12Label = 65,
    kStepNrLabel = 66,
    kTypeLabel = 67,
    kSpeedLabel = 68,
    kControlledLabel = 69,
    kRampLabel = 70,
    kNextCondLabel = 71,
    kErrorCondLabel = 72,
    kElAssemblyLabel = 73,
    kFasteningCounterLabel = 74,
    kFasteningCounterDiffLabel = 75,
    kCalDateLabel = 76,
    kCalNameLabel = 77,
    kTorqueLabel = 78,
    kPlaceLabel = 79,
};
} // namespace placeholder

class cPrinter {
public:
    // Results of OpenFiles and Generate.
    static constexpr int kOk = 0;
    static constexpr int kMissingReference = 1;
    static constexpr int kOpenFailed = 2;
    // The template's blocks never end (markers nested against each other): nothing is written.
    static constexpr int kRunaway = 3;
    // Shipped templates are a few kilobytes; a bigger file is not a template.
    static constexpr uint64_t kMaxTemplateSize = 4u << 20;

    cPrinter() = default;
    ~cPrinter();

    // 0, or 2 with the message to show (translated): "ungültige Druckvorlage" (not a plain
    // file, too big, or the output file itself) or "ungültige HTML-Ausgabedatei". The output
    // replaces outputPath only when CloseFiles succeeds.
    int OpenFiles(const std::string& templatePath, const std::string& outputPath,
                  std::string* message = nullptr);
    // The same without the disk: the template from memory, the output into MemoryOutput().
    int OpenMemory(std::string templateBytes);
    const std::string& MemoryOutput() const { return output_.MemoryText(); }
    // 0; 1 when a reference is missing; 3 for a template whose blocks never end. On any
    // failure the output is dropped and the previous report stays.
    int Generate(int machineKind, const ParameterBlock* image, const std::string& title,
                 const TransmissionEntry* transmission,
                 std::span<const TransmissionEntry> angleHeads, uint32_t fasteningCount);
    // Closes both files; false when the output could not be written completely (the old
    // report is kept then).
    bool CloseFiles();

    // A report of a file, which carries no fastening count: its two counter values stay
    // empty (call before Generate).
    void SetNoFasteningCount() { fasteningCountKnown_ = false; }

    // Jumps back a Generate may make before the template counts as never ending (kRunaway).
    // Lowered only where many templates are run (the fuzzer).
    void SetSeekLimit(size_t limit) { seekLimit_ = limit; }

    // Placeholder number of a whole token ("###TITLE_LABEL###"), 0 when unknown.
    static int LookupPlaceholder(std::u16string_view token);
    // Next enabled error criterion of the current step after the current one, or -1.
    int NextErrorCondition();
    // The text WriteValue writes for a placeholder number (HTML-escaped), empty for none.
    std::u16string ValueText(int number) const;

private:
    void WriteValue(int number);
    void Write(std::u16string_view text);
    // Returns false when the template must be given up (runaway).
    bool HandleToken(std::u16string_view token);
    bool SeekTo(uint64_t position);
    StepRecordView CurrentStep() const;
    int GlobalStep() const { return setIndex_ * 5 + stepIndex_; }

    CUTF16File template_;
    CUTF16File output_;
    cLoopStack loops_;
    bool failed_ = false;

    std::string title_;
    const ParameterBlock* image_ = nullptr;
    const TransmissionEntry* transmission_ = nullptr;
    std::span<const TransmissionEntry> angleHeads_;
    int machineKind_ = 0;
    uint32_t fasteningCount_ = 0;
    bool fasteningCountKnown_ = true;
    int setIndex_ = 0;
    int stepIndex_ = 0;
    int errorIndex_ = -1;
    int setCount_ = 2;
    bool suppress_ = false;
    size_t seeks_ = 0;
    // One step list needs at most about 75 jumps (one per set, per step and per further error
    // criterion): this leaves room for a template with twenty-odd step lists.
    size_t seekLimit_ = 2000;
};

// The template to use: a path with a folder as it stands, a bare name in
// dataFolder/"templates".
std::string ResolveTemplatePath(const std::string& templatePath, const std::string& dataFolder);
