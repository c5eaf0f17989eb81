#include "sim/SimMachineImpl.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace simdetail;

std::string simdetail::Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

double SimCounters::LeastLineSeconds() const {
    double s = prescribedWaitMs / 1000.0;
    for (const auto& [baud, c] : byBaud)
        if (baud)
            s += double(c.received + c.replied) * 10.0 / baud;
    return s;
}

void SimMachine::Impl::Log(const std::string& s) {
    if (opt.log)
        opt.log(s);
}

bool SimMachine::Impl::Fail(const std::string& why) {
    lastError = why;
    return false;
}

SimSupervisorFault SimMachine::Impl::SupervisorFault() const {
    switch (fault) {
    case SimFault::SupvWrongTrigger:
        return SimSupervisorFault::WrongTrigger;
    case SimFault::SupvSilent:
        return SimSupervisorFault::Silent;
    case SimFault::SupvCheckError:
        return SimSupervisorFault::CheckError;
    case SimFault::SupvFailStatus:
        return SimSupervisorFault::FailStatus;
    default:
        return SimSupervisorFault::None;
    }
}

void SimMachine::Impl::FeedSupervisor(uint8_t b, unsigned baud) {
    supv.SetFault(SupervisorFault());
    std::vector<uint8_t> reply;
    const uint64_t programmed = supv.Counters().programmed;
    const uint64_t triggers = supv.Counters().triggers;
    supv.Feed(b, baud, reply);
    // A trigger wakes the supervisor as a wake-up wakes the main controller.
    if (supv.Counters().triggers != triggers)
        SwapEvent();
    if (!reply.empty()) {
        counters.byBaud[lineBaud].replied += reply.size();
        Enqueue(reply.data(), reply.size(), lineBaud);
    }
    if (supv.Counters().programmed != programmed) {
        Log("supervisor programmed");
        saveRequested = true;
    }
}

SimMachine::SimMachine(SimOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->opt = std::move(options);
    impl_->fault = impl_->opt.fault;
    impl_->faultSkip = impl_->opt.faultSkip;
    impl_->faultAddress = impl_->opt.faultAddress;
    impl_->faultCount = impl_->opt.faultCount;
}

SimMachine::~SimMachine() {
    Stop();
}

std::string SimMachine::Start() {
    Impl& m = *impl_;
    if (m.running)
        return m.devicePath;
    m.lastError.clear();
    auto fail = [&]() {
        if (m.master >= 0)
            ::close(m.master);
        m.master = -1;
        m.devicePath.clear();
        return std::string();
    };
    if (m.opt.machines) {
        if (!m.StartLine())
            return fail();
    } else if (!m.BuildMemory()) {
        return fail();
    } else if (!m.opt.stateDir.empty()) {
        if (::mkdir(m.opt.stateDir.c_str(), 0755) != 0 && errno != EEXIST) {
            m.lastError = "cannot create " + m.opt.stateDir + ": " + std::strerror(errno);
            return fail();
        }
        if (!m.LoadState() || !m.LoadSupervisorState())
            return fail();
    }
    if (!m.OpenPty())
        return fail();
    if (m.opt.announce && !m.Announce())
        return fail();
    int p[2];
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) {
        m.lastError = std::string("pipe: ") + std::strerror(errno);
        m.Unannounce();
        return fail();
    }
    m.stopRead = p[0];
    m.stopWrite = p[1];
    m.lastInput = Clock::now();
    m.running = true;
    m.thread = std::thread([&m] { m.Loop(); });
    return m.devicePath;
}

void SimMachine::Stop() {
    Impl& m = *impl_;
    if (!m.running)
        return;
    char c = 1;
    (void)!::write(m.stopWrite, &c, 1);
    m.thread.join();
    m.running = false;
    ::close(m.stopRead);
    ::close(m.stopWrite);
    m.stopRead = m.stopWrite = -1;
    {
        std::lock_guard<std::mutex> g(m.mu);
        m.SaveLocked();
    }
    if (m.master >= 0)
        ::close(m.master);
    m.master = -1;
    m.Unannounce();
}

bool SimMachine::Running() const {
    return impl_->running;
}
const std::string& SimMachine::DevicePath() const {
    return impl_->devicePath;
}
std::string SimMachine::AnnouncementPath() const {
    return impl_->AnnouncedPath();
}
const std::string& SimMachine::LastError() const {
    return impl_->lastError;
}
const SimOptions& SimMachine::Options() const {
    return impl_->opt;
}

void SimMachine::SetFault(SimFault mode, unsigned skip, std::optional<uint32_t> address,
                          unsigned count) {
    std::lock_guard<std::mutex> g(impl_->mu);
    impl_->fault = mode;
    impl_->faultSkip = skip;
    impl_->faultAddress = address;
    impl_->faultCount = count;
    impl_->faultEvents = 0;
    impl_->faultHits = 0;
    impl_->silentNow = false;
    impl_->loaderQuiet = false;
}

SimCounters SimMachine::Counters() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->counters;
}

void SimMachine::ResetCounters() {
    std::lock_guard<std::mutex> g(impl_->mu);
    impl_->counters = SimCounters{};
    impl_->supv.ResetCounters();
}

std::array<uint8_t, 128> SimMachine::SupervisorEeprom() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->supv.EepromImage();
}

std::array<uint8_t, 8192> SimMachine::SupervisorProgram() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->supv.ProgramImage();
}

void SimMachine::SetSupervisorImages(const std::array<uint8_t, 128>& eeprom,
                                     const std::array<uint8_t, 8192>& program) {
    std::lock_guard<std::mutex> g(impl_->mu);
    impl_->supv.SetImages(eeprom, program);
    impl_->SaveLocked();
}

SimSupervisorCounters SimMachine::SupervisorCounters() const {
    std::lock_guard<std::mutex> g(impl_->mu);
    return impl_->supv.Counters();
}
