#pragma once

#include "serial/Clock.h"

// A manual-reset waitable timer that wakes as precisely as the system can
// (CREATE_WAITABLE_TIMER_HIGH_RESOLUTION where there is one; otherwise at
// the system timer's resolution, 1 ms after timeBeginPeriod(1)), or null.
// The thread sleeps on one per thread; the event loops wait on one each.
namespace isp {

void* makePreciseTimer();
// Sets the timer to go off `delay` from now.
void armPreciseTimer(void* timer, Clock::Duration delay);

} // namespace isp
