#ifndef BRANTLE_SIM_WALLCLOCKPACER_H
#define BRANTLE_SIM_WALLCLOCKPACER_H

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

// Ties simulated time to the wall clock: the simulation may lag behind real
// time (and catches up as fast as it can) but never runs ahead of it.
class WallClockPacer {
public:
    // From now on, simulated time `simNs` is the wall clock's present.
    void start(int64_t simNs) {
        base_ = simNs;
        timer_.start();
    }
    bool started() const { return timer_.isValid(); }
    // The latest simulated time the wall clock allows now.
    int64_t allowedNs() const { return base_ + timer_.nsecsElapsed(); }
    // Sleeps until the wall clock allows `simNs`, but not longer than
    // `sliceNs`, so that the caller can look around in between.
    // A slice up to SpinNs is waited out without giving up the CPU: a thread
    // that sleeps may wake a scheduler tick late, which would make every
    // short wait (a USB transfer takes microseconds) take milliseconds.
    void sleepTowards(int64_t simNs, int64_t sliceNs = 1'000'000) const {
        const int64_t ahead = std::min(simNs - allowedNs(), sliceNs);
        if (ahead <= 0)
            return;
        if (ahead > SpinNs) {
            std::this_thread::sleep_for(std::chrono::nanoseconds(ahead));
            return;
        }
        const int64_t until = timer_.nsecsElapsed() + ahead;
        while (timer_.nsecsElapsed() < until)
            std::this_thread::yield();
    }
    static constexpr int64_t SpinNs = 200'000;

private:
    QElapsedTimer timer_;
    int64_t base_ = 0;
};

#endif
