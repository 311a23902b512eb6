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
    void sleepTowards(int64_t simNs, int64_t sliceNs = 1'000'000) const {
        const int64_t ahead = std::min(simNs - allowedNs(), sliceNs);
        if (ahead > 0)
            std::this_thread::sleep_for(std::chrono::nanoseconds(ahead));
    }

private:
    QElapsedTimer timer_;
    int64_t base_ = 0;
};

#endif
