// Interposes time() and clock_gettime() for the whole test program; unshifted they pass
// through.
#include "tests/link/WallClockShift.h"

#include <atomic>
#include <ctime>
#include <dlfcn.h>

namespace {

std::atomic<long long> shift{0};

using ClockGettime = int (*)(clockid_t, timespec*);

ClockGettime Real() {
    static const auto real = reinterpret_cast<ClockGettime>(::dlsym(RTLD_NEXT, "clock_gettime"));
    return real;
}

} // namespace

void ShiftWallClock(std::chrono::seconds by) {
    shift = by.count();
}

extern "C" int clock_gettime(clockid_t id, timespec* ts) {
    const int r = Real()(id, ts);
    if (r == 0 && (id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE))
        ts->tv_sec += static_cast<time_t>(shift.load());
    return r;
}

extern "C" time_t time(time_t* out) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    if (out)
        *out = ts.tv_sec;
    return ts.tv_sec;
}
