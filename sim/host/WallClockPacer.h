#ifndef BRANTLE_SIM_WALLCLOCKPACER_H
#define BRANTLE_SIM_WALLCLOCKPACER_H

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

// Ties simulated time to the wall clock: the simulation may lag behind real
// time (and catches up as fast as it can); what the host sees never runs
// ahead of it.
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
    // Sleeps until the wall clock allows `simNs`: most of it asleep, the
    // end awake (a thread that sleeps may wake a scheduler tick late), so
    // that the moment is kept within microseconds.
    void sleepUntil(int64_t simNs) const {
        for (;;) {
            const int64_t ahead = simNs - allowedNs();
            if (ahead <= 0)
                return;
            if (ahead > SpinNs)
                std::this_thread::sleep_for(std::chrono::nanoseconds(ahead - SpinNs / 2));
            else
                std::this_thread::yield();
        }
    }
    static constexpr int64_t SpinNs = 200'000;

private:
    QElapsedTimer timer_;
    int64_t base_ = 0;
};

#endif
