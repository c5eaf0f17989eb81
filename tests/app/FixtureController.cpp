#include "tests/app/ControllerFixture.h"

#include "app/Folders.h"
#include "model/MachineCatalog.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

// ---- ScriptedUi ----

cUserInterface::Answer ScriptedUi::ShowMessage(const std::string& text, Buttons buttons,
                                               Icon icon) {
    messages.push_back({text, buttons, icon});
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    if (answers.empty()) {
        ADD_FAILURE() << "unscripted question: " << text;
        return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
    Answer a = answers.front();
    answers.pop_front();
    return a;
}

bool ScriptedUi::AskPassword(std::string& password) {
    ++passwordAsks;
    if (passwords.empty()) {
        ADD_FAILURE() << "unscripted password dialog";
        return false;
    }
    auto a = passwords.front();
    passwords.pop_front();
    if (!a)
        return false;
    password = *a;
    return true;
}

bool ScriptedUi::AskPasswordChange(PasswordChange& entry) {
    if (changes.empty()) {
        ADD_FAILURE() << "unscripted password change dialog";
        return false;
    }
    auto a = changes.front();
    changes.pop_front();
    if (!a)
        return false;
    entry = *a;
    return true;
}

namespace {
bool TakeFile(std::deque<std::optional<std::string>>& queue, const char* what, std::string& path) {
    if (queue.empty()) {
        ADD_FAILURE() << "unscripted " << what << " dialog";
        return false;
    }
    auto a = queue.front();
    queue.pop_front();
    if (!a)
        return false;
    path = *a;
    return true;
}
} // namespace

bool ScriptedUi::AskOpenFile(const FileRequest& request, std::string& path) {
    fileRequests.push_back(request);
    return TakeFile(openFiles, "open", path);
}

bool ScriptedUi::AskSaveFile(const FileRequest& request, std::string& path) {
    fileRequests.push_back(request);
    return TakeFile(saveFiles, "save", path);
}

std::vector<std::string> ScriptedUi::TakeMessages() {
    std::vector<std::string> texts;
    for (const auto& m : messages)
        texts.push_back(m.text);
    messages.clear();
    return texts;
}

// ---- RecordingSheet ----

namespace {
std::string Line(const std::string& name, std::initializer_list<long long> values) {
    std::ostringstream s;
    s << name;
    for (long long v : values)
        s << ' ' << v;
    return s.str();
}
} // namespace

void RecordingSheet::BindPages(ParameterBlock& image, int set) {
    bound = &image;
    calls.push_back(Line("BindPages", {set}));
}
void RecordingSheet::SetStepCaptions(int set, uint8_t flags) {
    calls.push_back(Line("SetStepCaptions", {set, flags}));
}
void RecordingSheet::LockPages(bool on) {
    calls.push_back(Line("LockPages", {on}));
}
void RecordingSheet::EnableExpertControls(bool on) {
    calls.push_back(Line("EnableExpertControls", {on}));
}
void RecordingSheet::SetTransmission(const TransmissionEntry& entry) {
    std::ostringstream s;
    s << "SetTransmission " << entry.id << ' ' << entry.name << ' ' << entry.ratio;
    calls.push_back(s.str());
}
void RecordingSheet::SetAngleHead(const TransmissionEntry& entry) {
    std::ostringstream s;
    s << "SetAngleHead " << entry.id << ' ' << entry.ratio;
    calls.push_back(s.str());
}
void RecordingSheet::SetGearFactor(double factor) {
    std::ostringstream s;
    s << "SetGearFactor " << factor;
    calls.push_back(s.str());
}
void RecordingSheet::SetLimits(int batteryMaxSpeed, int minSpeed, int minThreshold,
                               int maxThreshold, int clutchMaxSpeed) {
    calls.push_back(
        Line("SetLimits", {batteryMaxSpeed, minSpeed, minThreshold, maxThreshold, clutchMaxSpeed}));
}
void RecordingSheet::SetMachineKind(int kind) {
    calls.push_back(Line("SetMachineKind", {kind}));
}
void RecordingSheet::SetFasteningCounter(uint32_t counter) {
    calls.push_back(Line("SetFasteningCounter", {counter}));
}
void RecordingSheet::SetBattery(int voltage, int batteryMaxSpeed) {
    calls.push_back(Line("SetBattery", {voltage, batteryMaxSpeed}));
}
bool RecordingSheet::CheckBattery(int batteryMaxSpeed) {
    calls.push_back(Line("CheckBattery", {batteryMaxSpeed}));
    return speedsReachable;
}
void RecordingSheet::SetClutchLimitRemoved(int count, bool removed) {
    calls.push_back(Line("SetClutchLimitRemoved", {count, removed}));
}
void RecordingSheet::ShowErrorCriteria(int count, bool show) {
    calls.push_back(Line("ShowErrorCriteria", {count, show}));
}
void RecordingSheet::SetForcedLast(int stepPage, bool on) {
    calls.push_back(Line("SetForcedLast", {stepPage, on}));
}
void RecordingSheet::SetActivePage(int index) {
    active = index;
    calls.push_back(Line("SetActivePage", {index}));
}
void RecordingSheet::CommitHeader() {
    calls.push_back("CommitHeader");
}
void RecordingSheet::CommitSteps(int count) {
    calls.push_back(Line("CommitSteps", {count}));
    if (pendingSpeed && bound) {
        bound->Step(0).SetSpeed(*pendingSpeed);
        pendingSpeed.reset();
    }
}
void RecordingSheet::CommitMaintenance() {
    calls.push_back("CommitMaintenance");
}
void RecordingSheet::CommitExpert() {
    calls.push_back("CommitExpert");
}
void RecordingSheet::RedrawStepOverview() {
    calls.push_back("RedrawStepOverview");
}

std::vector<std::string> RecordingSheet::Take() {
    std::vector<std::string> out;
    out.swap(calls);
    return out;
}

std::string RecordingSheet::Last(const std::string& prefix) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
        if (it->rfind(prefix, 0) == 0)
            return *it;
    return "";
}

// ---- ControllerState ----

ControllerState ControllerState::Of(const cDialogMain& c) {
    ControllerState s;
    s.image = c.Image();
    s.blockDigest = c.BlockDigest();
    s.passwordVerified = c.PasswordVerified();
    s.verifiedPasswordDigest = c.VerifiedPasswordDigest();
    s.dataLoaded = c.DataLoaded();
    s.dataOrigin = c.DataOrigin();
    s.settingsChanged = c.SettingsChanged();
    s.configName = c.ConfigName();
    s.machineKind = c.MachineKind();
    s.fasteningCounter = c.FasteningCounter();
    s.currentSet = c.CurrentSet();
    return s;
}

std::ostream& operator<<(std::ostream& out, const ControllerState& s) {
    return out << "{dataLoaded " << s.dataLoaded << ", dataOrigin " << s.dataOrigin
               << ", passwordVerified " << s.passwordVerified << ", settingsChanged "
               << s.settingsChanged << ", configName '" << s.configName << "', machineKind "
               << s.machineKind << ", counter " << s.fasteningCounter << ", set " << s.currentSet
               << ", digest " << std::hex << s.blockDigest[0] << std::dec << ", image type '"
               << s.image.MachineType() << "'}";
}

// ---- TempFolder ----

TempFolder::TempFolder() {
    std::string tmpl = (fs::temp_directory_path() / "kelvane-app-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

// ---- ControllerTest ----

SimOptions ControllerTest::Options() {
    SimOptions o;
    o.pacing = false;
    o.announce = false;
    return o;
}

void ControllerTest::StartMachine(SimOptions options) {
    if (sim)
        sim->Stop();
    sim = std::make_unique<SimMachine>(std::move(options));
    devicePath = sim->Start();
    ASSERT_FALSE(devicePath.empty()) << sim->LastError();
    if (controller)
        controller->DiscoverAdapters();
}

void ControllerTest::SetUp() {
    StartMachine(Options());
    FolderSet folders;
    folders.appFolder = KELVANE_BIN_DIR;
    folders.dataFolder = temp.path() / "data";
    folders.documentsFolder = temp.path() / "documents";
    fs::create_directories(folders.dataFolder);
    controller = std::make_unique<cDialogMain>(ui, sheet, folders, [this] {
        return std::vector<AdapterRecord>{{"NORKSIM1", devicePath}};
    });
    controller->Ports().SetReportCount(false);
    // The prescribed waits only give a real machine time; the simulated one needs none.
    controller->SetPauseFunction([](int) {});
    controller->DiscoverAdapters();
}

void ControllerTest::TearDown() {
    controller.reset();
    if (sim)
        sim->Stop();
}

void ControllerTest::VerifyPassword(const std::string& password) {
    ReadMachine();
    ui.passwords.push_back(password);
    ASSERT_TRUE(controller->OnWriteToMachine()) << ::testing::PrintToString(ui.TakeMessages());
    ASSERT_TRUE(controller->PasswordVerified());
    ui.messages.clear();
    sheet.calls.clear();
    sim->ResetCounters();
}

void ControllerTest::ReadMachine() {
    ASSERT_TRUE(controller->OnReadFromMachine()) << ::testing::PrintToString(ui.TakeMessages());
    ui.messages.clear();
    sheet.calls.clear();
}
