#include "CpuClock.h"

namespace {
constexpr int64_t NsPerSecond = 1'000'000'000;
}

void CpuClock::restart(uint64_t clocks, int64_t ns, uint32_t hz) {
    baseClocks_ = clocks;
    baseNs_ = ns;
    hz_ = hz;
}

void CpuClock::setHz(uint64_t clocks, uint32_t hz) {
    if (hz == hz_)
        return;
    baseNs_ = nsAt(clocks);
    baseClocks_ = clocks;
    hz_ = hz;
}

int64_t CpuClock::nsAt(uint64_t clocks) const {
    if (clocks <= baseClocks_)
        return baseNs_;
    const __int128 cycles = clocks - baseClocks_;
    return baseNs_ + int64_t(cycles * NsPerSecond / hz_);
}

uint64_t CpuClock::clocksAt(int64_t ns) const {
    if (ns <= baseNs_)
        return baseClocks_;
    const __int128 span = ns - baseNs_;
    // Rounded up: the cycle whose time is the first at or after `ns`.
    return baseClocks_ + uint64_t((span * hz_ + NsPerSecond - 1) / NsPerSecond);
}
