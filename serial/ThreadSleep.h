#pragma once

#include "serial/Clock.h"

// Putting the calling thread to sleep, the one thing about time that each
// system does its own way (serial/posix/, serial/windows/).
namespace isp {

// Sleeps about `duration`, never less, perhaps up to threadWakeUpLatency()
// more, without keeping the processor busy.
void sleepThread(Clock::Duration duration);

// How late this system wakes a sleeping thread at worst, as measured on the
// machines the program runs on.
Clock::Duration threadWakeUpLatency();

} // namespace isp
