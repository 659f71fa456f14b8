// How late the Windows event loop runs a timed task and the clock ends a
// sleep, and what waiting costs: Timer1's 20 ms and the 10 ms pause after a
// page, as an upload has them (a plain program, not a test: it prints
// figures; under Wine they are Wine's).
//   loop_timing_bench [rounds]
#include "serial/Platform.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace isp;
using namespace std::chrono_literals;

namespace {

void print(const char* what, std::vector<Clock::Duration> late)
{
    std::sort(late.begin(), late.end());
    const auto us = [&](std::size_t i) { return std::chrono::duration<double, std::micro>(late[i]).count(); };
    std::printf("%-22s late by: min %.0f us, median %.0f us, p99 %.0f us, max %.0f us\n", what, us(0),
        us(late.size() / 2), us(late.size() * 99 / 100), us(late.size() - 1));
}

double cpuSeconds()
{
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](FILETIME t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::stoi(argv[1]) : 200;
    platform::tuneProcessForTiming();
    const auto loop = platform::makeMainLoop();
    Clock& clock = loop->clock();
    std::vector<Clock::Duration> timer1;
    std::vector<Clock::Duration> pause;
    const double cpuBefore = cpuSeconds();
    const auto start = clock.now();
    for (int round = 0; round < rounds; ++round) {
        const auto due = clock.now() + 20ms;
        bool ran = false;
        loop->runAt(due, [&] {
            timer1.push_back(clock.now() - due);
            ran = true;
        });
        loop->runUntil([&] { return ran; }, 1s);
        const auto before = clock.now();
        clock.sleepFor(10ms);
        pause.push_back(clock.now() - before - 10ms);
    }
    const double wall = std::chrono::duration<double>(clock.now() - start).count();
    print("timed task (20 ms)", timer1);
    print("sleep (10 ms)", pause);
    std::printf("%d rounds in %.2f s: CPU %.3f s, %llu wake-ups of the loop\n", rounds, wall, cpuSeconds() - cpuBefore,
        static_cast<unsigned long long>(loop->wakeUps()));
}
