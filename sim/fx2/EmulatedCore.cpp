#include "EmulatedCore.h"

#include "Fx2Registers.h"
#include "I2cBus.h"

#include <algorithm>
#include <climits>

using namespace fx2;

namespace {
// A watch for a repeating state starts after this many quiet clocks (2 ms
// at 48 MHz), and only when the run still has this far to go.
constexpr uint64_t QuietClocks = 96'000;
constexpr int64_t WorthSkippingNs = 1'000'000;
// A watch that finds no repetition within this many clocks gives up; the
// next one waits twice as long, up to the cap.
constexpr uint64_t WatchLimitClocks = uint64_t(1) << 22;
constexpr uint64_t QuietCapClocks = uint64_t(1) << 26;

constexpr uint64_t FnvBasis = 0xcbf29ce484222325ull;
constexpr uint64_t FnvPrime = 0x100000001b3ull;

uint64_t mix(uint64_t hash, uint8_t byte) {
    return (hash ^ byte) * FnvPrime;
}
} // namespace

EmulatedCore::EmulatedCore(I2cBus &bus, uint8_t *ram, uint8_t *scratch)
    : bus_(bus), ram_(ram), scratch_(scratch), peripherals_(bus, ram, scratch),
      core_(static_cast<mcs51::Bus &>(*this)) {
    peripherals_.attach(*this);
    // Code and data share the RAM; the scratch RAM holds data only.
    core_.setCodeMemory(ram_, mem::RamSize);
    for (int page = 0; page < mem::RamSize / 256; ++page)
        core_.mapXdataPage(uint8_t(page), ram_ + page * 256);
    for (int page = 0; page < mem::ScratchSize / 256; ++page)
        core_.mapXdataPage(uint8_t((mem::ScratchBase >> 8) + page), scratch_ + page * 256);
    for (const uint8_t address : Fx2Peripherals::claimedSfrs())
        core_.claimSfr(address);
    quietNeeded_ = QuietClocks;
}

EmulatedCore::~EmulatedCore() = default;

void EmulatedCore::powerOn(bool highSpeed) {
    hold();
    peripherals_.powerOn(highSpeed);
    stats_ = Statistics();
    instructionsBefore_ = 0;
}

void EmulatedCore::startUp(bool highSpeed) {
    hold();
    peripherals_.setHighSpeed(highSpeed);
    core_.reset();
    skipped_ = 0;
    watching_ = false;
    skipPeriod_ = 0;
    quietNeeded_ = QuietClocks;
    lastVersion_ = peripherals_.stateVersion();
    quietSince_ = 0;
    // The core's cycle count starts again at 0 at the chip's present time.
    peripherals_.cpuStarted(bus_.nowNs());
    running_ = true;
}

void EmulatedCore::hold() {
    if (!running_)
        return;
    instructionsBefore_ += core_.instructions();
    running_ = false;
}

int64_t EmulatedCore::nowNs() const {
    return peripherals_.nowNs();
}

void EmulatedCore::jumpTo(int64_t ns) {
    const uint64_t target = peripherals_.clock().clocksAt(ns);
    if (target > clocks())
        skipped_ += target - clocks();
}

void EmulatedCore::runUntil(int64_t ns) {
    if (!running_)
        return;
    runTargetNs_ = ns;
    peripherals_.takeHostChange();
    for (;;) {
        const int64_t now = nowNs();
        if (now >= ns)
            return;
        const int64_t next = std::min(ns, peripherals_.nextEventNs());
        if (core_.fault() != mcs51::Fault::None || (peripherals_.cpuSuspended() && core_.idle())) {
            // Nothing executes (a stopped oscillator stops the timers too);
            // the peripherals still finish what they began.
            jumpTo(std::max(next, now + 1));
        } else {
            uint64_t limit = peripherals_.clock().clocksAt(next);
            if (limit <= clocks())
                limit = clocks() + 1;
            // The host may have changed what the peripherals answer since
            // the last run.
            pollMarked_ = false;
            runLimit_ = limit - skipped_;
            inRun_ = true;
            core_.run(runLimit_);
            inRun_ = false;
        }
        peripherals_.sync();
        if (skipPeriod_ > 0) {
            const uint64_t target =
                peripherals_.clock().clocksAt(std::min(ns, peripherals_.nextEventNs()));
            if (target > clocks()) {
                const uint64_t periods = (target - clocks()) / skipPeriod_;
                skipped_ += periods * skipPeriod_;
                stats_.skippedClocks += periods * skipPeriod_;
                ++stats_.fastForwards;
            }
            skipPeriod_ = 0;
        }
        if (peripherals_.takeHostChange())
            return;
    }
}

EmulatedCore::Statistics EmulatedCore::statistics() const {
    Statistics s = stats_;
    s.instructions = instructionsBefore_ + (running_ ? core_.instructions() : 0);
    s.clocks = clocks();
    return s;
}

// --- Fx2Core: USB --------------------------------------------------------

namespace {
Fx2Core::ControlOutcome convert(Fx2Peripherals::ControlOutcome outcome) {
    switch (outcome) {
    case Fx2Peripherals::ControlOutcome::Answered:
        return Fx2Core::ControlOutcome::Answered;
    case Fx2Peripherals::ControlOutcome::Stalled:
        return Fx2Core::ControlOutcome::Stalled;
    case Fx2Peripherals::ControlOutcome::Pending:
        break;
    }
    return Fx2Core::ControlOutcome::Pending;
}
} // namespace

Fx2Core::ControlOutcome EmulatedCore::beginControl(const UsbSetupPacket &setup, QByteArray &data) {
    peripherals_.setupPacket(setup, data);
    return controlOutcome(data);
}

Fx2Core::ControlOutcome EmulatedCore::controlOutcome(QByteArray &data) {
    return convert(peripherals_.controlOutcome(&data));
}

void EmulatedCore::setupToken() {
    peripherals_.setupToken();
}

bool EmulatedCore::renumerated() const {
    return peripherals_.renumerated();
}

void EmulatedCore::usbEvent(UsbEvent event) {
    switch (event) {
    case UsbEvent::BusReset:
        peripherals_.busReset();
        break;
    case UsbEvent::Suspend:
        peripherals_.busSuspend();
        break;
    case UsbEvent::Resume:
        peripherals_.busResume();
        break;
    }
}

bool EmulatedCore::acceptsOut(uint8_t endpointAddress) const {
    return peripherals_.acceptsOut(endpointAddress);
}

void EmulatedCore::receiveOut(uint8_t endpointAddress, const QByteArray &packet) {
    peripherals_.receiveOut(endpointAddress, packet);
}

bool EmulatedCore::hasIn(uint8_t endpointAddress) const {
    return peripherals_.hasIn(endpointAddress);
}

QByteArray EmulatedCore::takeIn(uint8_t endpointAddress) {
    return peripherals_.takeIn(endpointAddress);
}

bool EmulatedCore::endpointHalted(uint8_t endpointAddress) const {
    return peripherals_.endpointStalled(endpointAddress);
}

void EmulatedCore::setEndpointHalt(uint8_t endpointAddress, bool halted) {
    if (halted)
        peripherals_.setHalt(endpointAddress);
    else
        peripherals_.clearHalt(endpointAddress);
}

void EmulatedCore::resetToggles() {
    peripherals_.resetToggles();
}

void EmulatedCore::setPortAInputs(uint8_t levels) {
    peripherals_.setPortAInputs(levels);
}

uint8_t EmulatedCore::portAPins() const {
    return peripherals_.portAPins();
}

// --- mcs51::Bus ------------------------------------------------------------

uint8_t EmulatedCore::readXdata(uint16_t address) {
    const uint8_t value = peripherals_.readXdata(address);
    watchRead();
    pollRead(address, false, value);
    return value;
}

void EmulatedCore::writeXdata(uint16_t address, uint8_t value) {
    peripherals_.writeXdata(address, value);
}

uint8_t EmulatedCore::readSfr(uint8_t address) {
    const uint8_t value = peripherals_.readSfr(address);
    watchRead();
    pollRead(address, true, value);
    return value;
}

void EmulatedCore::writeSfr(uint8_t address, uint8_t value) {
    peripherals_.writeSfr(address, value);
}

// --- Fx2Cpu ----------------------------------------------------------------

uint64_t EmulatedCore::clocks() const {
    return core_.clocks() + skipped_;
}

uint16_t EmulatedCore::pc() const {
    return core_.pc();
}

uint8_t EmulatedCore::sfr(uint8_t address) const {
    return core_.sfr(address);
}

void EmulatedCore::setSfr(uint8_t address, uint8_t value) {
    core_.setSfr(address, value);
}

void EmulatedCore::setCodeOverlay(uint16_t address, int value) {
    core_.setCodeOverlay(address, value);
}

// Only a run can be stopped; outside one (the host's side of the chip
// changing something) there is nothing to stop.
void EmulatedCore::stop() {
    if (inRun_)
        core_.stop();
}

// --- The watch for a repeating state ---------------------------------------

uint64_t EmulatedCore::quickHash() const {
    uint64_t hash = FnvBasis;
    for (int a = 0; a < 256; ++a)
        hash = mix(hash, core_.iram(uint8_t(a)));
    for (int a = 0x80; a < 0x100; ++a) {
        if (Fx2Peripherals::coreSfr(uint8_t(a)))
            hash = mix(hash, core_.sfr(uint8_t(a)));
    }
    // The timers' prescaler phase.
    return mix(hash, uint8_t(core_.clocks() % 12));
}

void EmulatedCore::snapshot(std::vector<uint8_t> &into) const {
    into.clear();
    for (int a = 0; a < 256; ++a)
        into.push_back(core_.iram(uint8_t(a)));
    for (int a = 0x80; a < 0x100; ++a) {
        if (Fx2Peripherals::coreSfr(uint8_t(a)))
            into.push_back(core_.sfr(uint8_t(a)));
    }
    into.push_back(uint8_t(core_.clocks() % 12));
    into.push_back(core_.idle() ? 1 : 0);
    into.insert(into.end(), ram_, ram_ + mem::RamSize);
    into.insert(into.end(), scratch_, scratch_ + mem::ScratchSize);
    peripherals_.appendBufferState(into);
}

// Called after every read the core makes of the peripherals. A loop that
// polls them without changing anything is watched: once the whole state
// comes back at the same instruction, the loop has a period.
void EmulatedCore::watchRead() {
    if (!fastForward_ || !inRun_)
        return;
    const uint64_t now = core_.clocks();
    const uint64_t version = peripherals_.stateVersion();
    if (version != lastVersion_) {
        lastVersion_ = version;
        quietSince_ = now;
        watching_ = false;
        return;
    }
    if (!watching_) {
        if (now - quietSince_ < quietNeeded_ || peripherals_.nextEventNs() != INT64_MAX ||
            runTargetNs_ - nowNs() < WorthSkippingNs)
            return;
        watching_ = true;
        watchPc_ = core_.pc();
        watchClocks_ = now;
        watchHash_ = quickHash();
        snapshot(watchState_);
        return;
    }
    if (now - watchClocks_ > WatchLimitClocks) {
        watching_ = false;
        quietSince_ = now;
        quietNeeded_ = std::min(quietNeeded_ * 2, QuietCapClocks);
        return;
    }
    if (core_.pc() != watchPc_ || quickHash() != watchHash_)
        return;
    snapshot(compareState_);
    if (compareState_ != watchState_)
        return;
    skipPeriod_ = now - watchClocks_;
    watching_ = false;
    quietNeeded_ = QuietClocks;
    core_.stop();
}

// --- The watch for a polling loop ------------------------------------------

namespace {
// A mark that no read by the same instruction comes back to within this many
// reads is moved to the read at hand.
constexpr int PollReadsPerTurn = 16;
// After this many marks in a row whose state did not come back (a loop that
// counts), marking pauses for a while.
constexpr int PollMissesBeforeBackOff = 4;
constexpr int PollBackOffReads = 256;
} // namespace

// Called after every read the core makes of the peripherals, while an event
// is ahead of them (the idle watch above covers the time without one).
void EmulatedCore::pollRead(uint16_t address, bool sfr, uint8_t value) {
    if (!skipPolling_ || !inRun_ || skipPeriod_ > 0)
        return;
    const uint64_t version = peripherals_.stateVersion();
    // The read right after a change rarely starts a turn (what it reads goes
    // where an older value still is): mark from the next one on.
    const bool settled = version == lastReadVersion_;
    lastReadVersion_ = version;
    if (!settled) {
        pollMarked_ = false;
        return;
    }
    if (pollMarked_ && version == pollVersion_ && address == pollAddress_ && sfr == pollSfr_ &&
        value == pollValue_ && core_.pc() == pollMark_.pc) {
        // Every instruction of a skipped turn must come before the end of the
        // run and the next timer flag, and every read before the
        // peripherals' next event. With no room for a turn the mark stays:
        // two turns from it are a turn as good.
        // (The peripherals' state is the mark's, so their next event is
        // still the one noted at the mark.)
        const uint64_t now = core_.clocks();
        const uint64_t turn = now - pollMark_.clocks;
        uint64_t bound = std::min(runLimit_, core_.nextTimerEvent());
        if (turn == 0 || bound <= now + turn ||
            peripherals_.clock().nsAt(now + turn + skipped_) >= pollEventNs_)
            return;
        if (core_.sameState(pollMark_)) {
            pollMisses_ = 0;
            const uint64_t turnInstructions = core_.instructions() - pollMark_.instructions;
            const uint64_t eventClocks = peripherals_.clock().clocksAt(pollEventNs_);
            bound = std::min(bound, eventClocks > skipped_ ? eventClocks - skipped_ : 0);
            lastTurnNs_ = peripherals_.clock().nsAt(now + skipped_) -
                          peripherals_.clock().nsAt(pollMark_.clocks + skipped_);
            if (bound > now + turn) {
                const uint64_t turns = (bound - now - 1) / turn;
                core_.skipAhead(turns * turn, turns * turnInstructions);
                stats_.skippedPollClocks += turns * turn;
                stats_.skippedPollInstructions += turns * turnInstructions;
                ++stats_.pollSkips;
            }
            // The state is the mark's still: the next turn may start from
            // here.
            pollMark_.clocks = core_.clocks();
            pollMark_.instructions = core_.instructions();
            pollReadsSinceMark_ = 0;
            return;
        }
        if (++pollMisses_ >= PollMissesBeforeBackOff) {
            pollMisses_ = 0;
            pollBackOff_ = PollBackOffReads;
            pollMarked_ = false;
            return;
        }
    } else if (pollMarked_ && version == pollVersion_ && ++pollReadsSinceMark_ < PollReadsPerTurn) {
        // Another read within the turn.
        return;
    }
    if (pollBackOff_ > 0) {
        --pollBackOff_;
        pollMarked_ = false;
        return;
    }
    // Only where the event leaves room for the last loop's turn twice over
    // (the idle watch takes the time without an event).
    const int64_t eventNs = peripherals_.nextEventNs();
    if (eventNs == INT64_MAX || eventNs - peripherals_.nowNs() <= 2 * lastTurnNs_) {
        pollMarked_ = false;
        return;
    }
    pollEventNs_ = eventNs;
    core_.mark(pollMark_);
    pollMarked_ = true;
    pollAddress_ = address;
    pollSfr_ = sfr;
    pollValue_ = value;
    pollVersion_ = version;
    pollReadsSinceMark_ = 0;
}
