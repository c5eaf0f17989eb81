// Shifts this test program's system time (time(), the real-time clock), as a change of the
// system clock by the user or NTP would; the monotonic clock is left alone.
#pragma once

#include <chrono>

void ShiftWallClock(std::chrono::seconds by);
