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

namespace {
// floor(cycles * 1e9 / hz) without 128-bit division: whole seconds, then the
// rest (below hz cycles, so the product fits in 64 bits). The chip's three
// frequencies are constants, which makes the divisions multiplications; this
// runs on every peripheral access.
template <uint32_t Hz> int64_t spanNs(uint64_t cycles) {
    return int64_t(cycles / Hz) * NsPerSecond + int64_t((cycles % Hz) * NsPerSecond / Hz);
}
int64_t spanNs(uint64_t cycles, uint32_t hz) {
    return int64_t(cycles / hz) * NsPerSecond + int64_t((cycles % hz) * NsPerSecond / hz);
}
} // namespace

int64_t CpuClock::nsAt(uint64_t clocks) const {
    if (clocks <= baseClocks_)
        return baseNs_;
    const uint64_t cycles = clocks - baseClocks_;
    switch (hz_) {
    case Hz48M:
        return baseNs_ + spanNs<Hz48M>(cycles);
    case Hz24M:
        return baseNs_ + spanNs<Hz24M>(cycles);
    case Hz12M:
        return baseNs_ + spanNs<Hz12M>(cycles);
    default:
        return baseNs_ + spanNs(cycles, hz_);
    }
}

uint64_t CpuClock::clocksAt(int64_t ns) const {
    if (ns <= baseNs_)
        return baseClocks_;
    const __int128 span = ns - baseNs_;
    // Rounded up: the cycle whose time is the first at or after `ns`.
    return baseClocks_ + uint64_t((span * hz_ + NsPerSecond - 1) / NsPerSecond);
}
