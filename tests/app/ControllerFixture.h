// A controller wired to a simulated machine over a pseudo-terminal, a scripted user interface
// and a sheet that records what it is handed.
#pragma once

#include "app/DialogMain.h"
#include "sim/SimMachine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Answers the controller's questions from a script; an unscripted question fails the test and
// is answered with "cancel".
class ScriptedUi : public cUserInterface {
public:
    struct Shown {
        std::string text;
        Buttons buttons;
        Icon icon;
    };

    Answer ShowMessage(const std::string& text, Buttons buttons, Icon icon) override;
    bool AskPassword(std::string& password) override;
    bool AskPasswordChange(PasswordChange& entry) override;
    bool AskOpenFile(const FileRequest& request, std::string& path) override;
    bool AskSaveFile(const FileRequest& request, std::string& path) override;
    void ShowStatus(const std::string& text) override { statusTexts.push_back(text); }
    void ShowProgress(bool visible) override { progress.push_back(visible ? "show" : "hide"); }
    void SetProgress(int percent) override { progress.push_back(std::to_string(percent)); }
    void OpenDocument(const std::filesystem::path& path) override { opened.push_back(path); }

    // Texts of the message boxes shown so far (and forgets them).
    std::vector<std::string> TakeMessages();

    std::vector<Shown> messages;
    std::deque<Answer> answers;                        // OK/Cancel and Yes/No boxes
    std::deque<std::optional<std::string>> passwords;  // nullopt: dialog cancelled
    std::deque<std::optional<PasswordChange>> changes; // nullopt: dialog cancelled
    std::deque<std::optional<std::string>> openFiles;  // nullopt: dialog cancelled
    std::deque<std::optional<std::string>> saveFiles;  // nullopt: dialog cancelled
    std::vector<FileRequest> fileRequests;
    std::vector<std::string> statusTexts;
    std::vector<std::string> progress;         // "show", "hide" and the percentages, in order
    std::vector<std::filesystem::path> opened; // documents handed to the desktop
    int passwordAsks = 0;
};

// Records every call as one line of text, e.g. "BindPages 0" or "SetLimits 22500 50 ...".
class RecordingSheet : public CSheet {
public:
    void BindPages(ParameterBlock& image, int set) override;
    void SetStepCaptions(int set, uint8_t flags) override;
    void LockPages(bool on) override;
    void EnableExpertControls(bool on) override;
    void SetTransmission(const TransmissionEntry& entry) override;
    void SetAngleHead(const TransmissionEntry& entry) override;
    void SetGearFactor(double factor) override;
    void SetLimits(int batteryMaxSpeed, int minSpeed, int minThreshold, int maxThreshold,
                   int clutchMaxSpeed) override;
    void SetMachineKind(int kind) override;
    void SetFasteningCounter(uint32_t counter) override;
    void SetBattery(int voltage, int batteryMaxSpeed) override;
    bool CheckBattery(int batteryMaxSpeed) override;
    void SetClutchLimitRemoved(int count, bool removed) override;
    void ShowErrorCriteria(int count, bool show) override;
    void SetForcedLast(int stepPage, bool on) override;
    void SetActivePage(int index) override;
    int ActivePage() const override { return active; }
    void CommitHeader() override;
    void CommitSteps(int count) override;
    void CommitMaintenance() override;
    void CommitExpert() override;
    void RedrawStepOverview() override;

    // Lines recorded so far (and forgets them).
    std::vector<std::string> Take();
    // Last line that starts with prefix, "" when none.
    std::string Last(const std::string& prefix) const;
    // Whether the pages were left locked: the last LockPages call.
    bool Locked() const { return Last("LockPages") == "LockPages 1"; }

    std::vector<std::string> calls;
    ParameterBlock* bound = nullptr;
    // Edits a page holds and writes on CommitSteps (step 0's speed), for the commit tests.
    std::optional<uint16_t> pendingSpeed;
    // What CheckBattery answers (a step page whose speed the battery cannot reach: false).
    bool speedsReachable = true;
    int active = 0;
};

// The controller state the failure tests compare before and after a command.
struct ControllerState {
    ParameterBlock image;
    ParameterBlock::DigestWords blockDigest{};
    bool passwordVerified = false;
    cDialogMain::PasswordDigestBytes verifiedPasswordDigest{};
    bool dataLoaded = false;
    int dataOrigin = 0;
    bool settingsChanged = false;
    std::string configName;
    int machineKind = 0;
    uint32_t fasteningCounter = 0;
    int currentSet = 0;

    static ControllerState Of(const cDialogMain& c);
    bool operator==(const ControllerState&) const = default;
};
std::ostream& operator<<(std::ostream& out, const ControllerState& s);

// A private data folder, removed at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

class ControllerTest : public ::testing::Test {
public:
    // Starts a simulated machine (no pacing, not announced) and a controller whose port list
    // holds just that machine.
    void SetUp() override;
    void TearDown() override;

    // Restarts the machine with other options (the controller's port list follows).
    void StartMachine(SimOptions options);
    static SimOptions Options();

    // "von Maschine" that must succeed (messages of the read are dropped).
    void ReadMachine();
    // Read, and "zur Maschine" of that image with the machine's password: the password then
    // counts as entered for this machine. Messages and the machine's counters are dropped.
    void VerifyPassword(const std::string& password = SimMachine::kDefaultPassword);

    // The machine's image with a field changed through a callback.
    template <typename Fn> void EditMachine(Fn fn) {
        ParameterBlock b;
        b.bytes = sim->ParameterImage();
        fn(b);
        sim->SetParameterImage(b.bytes);
    }
    ParameterBlock MachineImage() const {
        ParameterBlock b;
        b.bytes = sim->ParameterImage();
        return b;
    }

    TempFolder temp;
    ScriptedUi ui;
    RecordingSheet sheet;
    std::unique_ptr<SimMachine> sim;
    std::unique_ptr<cDialogMain> controller;
    std::string devicePath;
};
