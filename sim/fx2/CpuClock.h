#ifndef BRANTLE_SIM_FX2_CPUCLOCK_H
#define BRANTLE_SIM_FX2_CPUCLOCK_H

#include <cstdint>

// Maps the 8051's CLKOUT cycle count to chip time in nanoseconds. The
// frequency changes whenever the firmware writes CPUCS, so the mapping is
// piecewise: each change starts a new segment at the cycle where it took
// effect. Times are rounded down to whole nanoseconds; the cycle count stays
// exact, so rounding never accumulates.
class CpuClock {
public:
    static constexpr uint32_t Hz12M = 12'000'000;
    static constexpr uint32_t Hz24M = 24'000'000;
    static constexpr uint32_t Hz48M = 48'000'000;

    // A new time line: `clocks` cycles is time `ns`, from now on at `hz`.
    void restart(uint64_t clocks, int64_t ns, uint32_t hz);
    // From `clocks` on, the clock runs at `hz`.
    void setHz(uint64_t clocks, uint32_t hz);
    uint32_t hz() const { return hz_; }

    int64_t nsAt(uint64_t clocks) const;
    // The first cycle count at which the time is at least `ns`.
    uint64_t clocksAt(int64_t ns) const;

private:
    uint64_t baseClocks_ = 0;
    int64_t baseNs_ = 0;
    uint32_t hz_ = Hz12M;
};

#endif
