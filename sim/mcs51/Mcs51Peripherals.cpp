// The SFRs of the core, the timers and the interrupt logic.
#include "Mcs51State.h"

namespace mcs51 {

using namespace sfr;

namespace {

// Bits that read as 1 whatever is written (unused bits of the FX2's
// registers).
uint8_t fixedOnes(uint8_t address) {
    switch (address) {
    case PCON:
        return 0x30;
    case EXIF:
        return 0x08;
    case IP:
        return 0x80;
    case EICON:
        return 0x40;
    case EIE:
    case EIP:
        return 0xE0;
    default:
        return 0;
    }
}

// Bits that read as 0 whatever is written.
uint8_t fixedZeros(uint8_t address) {
    switch (address) {
    case DPS:
        return 0xFE;
    case EXIF:
    case EICON:
        return 0x07;
    default:
        return 0;
    }
}

constexpr uint8_t TF1 = 0x80, TR1 = 0x40, TF0 = 0x20, TR0 = 0x10, IE1 = 0x08, IT1 = 0x04,
                  IE0 = 0x02, IT0 = 0x01;
constexpr uint8_t TF2 = 0x80, EXF2 = 0x40, RCLK = 0x20, TCLK = 0x10, TR2 = 0x04, CT2 = 0x02,
                  CPRL2 = 0x01;

// CKCON's T0M/T1M/T2M: CLKOUT/4 when set, CLKOUT/12 when clear.
unsigned timerDivider(uint8_t ckcon, uint8_t selectBit) {
    return (ckcon & selectBit) ? 4 : 12;
}

// x / divider for the dividers there are (12, 4, 2): constant divisions,
// which compile to multiplications. Every read of TCON brings the timers up
// to date, and a loop polling a timer flag reads it every few cycles.
uint64_t divided(uint64_t x, unsigned divider) {
    switch (divider) {
    case 12:
        return x / 12;
    case 4:
        return x / 4;
    case 2:
        return x / 2;
    default:
        return x / divider;
    }
}

uint64_t ticksBetween(uint64_t from, uint64_t to, unsigned divider) {
    return divided(to, divider) - divided(from, divider);
}

// Advances Timer 0 or 1 in mode 0, 1 or 2 by n counts; true on overflow.
bool advanceTimer(unsigned mode, uint8_t &tl, uint8_t &th, uint64_t n) {
    if (n == 0)
        return false;
    switch (mode) {
    case 0: { // TH with the low five bits of TL below it; TL's upper bits keep
        uint64_t t = ((uint64_t(th) << 5) | (tl & 0x1F)) + n;
        tl = uint8_t((tl & 0xE0) | (t & 0x1F));
        th = uint8_t(t >> 5);
        return t >= 0x2000;
    }
    case 1: {
        uint64_t t = ((uint64_t(th) << 8) | tl) + n;
        tl = uint8_t(t);
        th = uint8_t(t >> 8);
        return t >= 0x10000;
    }
    default: { // 2: TL reloads from TH
        uint64_t first = 256 - tl;
        if (n < first) {
            tl = uint8_t(tl + n);
            return false;
        }
        tl = uint8_t(th + (n - first) % (256 - th));
        return true;
    }
    }
}

bool advance8(uint8_t &counter, uint64_t n) {
    uint64_t t = counter + n;
    counter = uint8_t(t);
    return t >= 256;
}

uint64_t countsToOverflow(unsigned mode, uint8_t tl, uint8_t th) {
    switch (mode) {
    case 0:
        return 0x2000 - ((unsigned(th) << 5) | (tl & 0x1F));
    case 1:
        return 0x10000 - ((unsigned(th) << 8) | tl);
    default:
        return 256 - tl;
    }
}

// The clock of the n-th count (n >= 1) after `now` of a timer counting every
// `divider` clocks.
uint64_t countClock(uint64_t now, unsigned divider, uint64_t n) {
    return (divided(now, divider) + n) * divider;
}

} // namespace

void CoreState::resetSfrs() {
    for (unsigned a = 0x80; a < 0x100; ++a)
        reg(uint8_t(a)) = fixedOnes(uint8_t(a));
    reg(SP) = 0x07;
    reg(CKCON) = 0x01;
    stretch = 1;
    dptrLow = 0x02;
}

void CoreState::syncTimers() {
    const uint64_t now = clocks;
    const uint64_t from = timerSync;
    if (now <= from)
        return;
    timerSync = now;

    uint8_t tcon = reg(TCON);
    const uint8_t tmod = reg(TMOD);
    const uint8_t ckcon = reg(CKCON);
    const unsigned div0 = timerDivider(ckcon, 0x08);
    const unsigned div1 = timerDivider(ckcon, 0x10);
    const unsigned mode0 = tmod & 3, mode1 = (tmod >> 4) & 3;
    // C/T = 1 counts pulses on the T0/T1 pins, which nothing drives here. The
    // gate inputs INT0#/INT1# are taken as high (inactive).
    const bool timer0Counts = !(tmod & 0x04), timer1Counts = !(tmod & 0x40);

    if (mode0 == 3) {
        // Two 8-bit timers: TL0 under TR0 with TF0, TH0 under TR1 with TF1.
        if (timer0Counts && (tcon & TR0) && advance8(reg(TL0), ticksBetween(from, now, div0)))
            tcon |= TF0;
        if ((tcon & TR1) && advance8(reg(TH0), ticksBetween(from, now, div0)))
            tcon |= TF1;
    } else if (timer0Counts && (tcon & TR0)) {
        if (advanceTimer(mode0, reg(TL0), reg(TH0), ticksBetween(from, now, div0)))
            tcon |= TF0;
    }
    // Timer 1 in mode 3 holds. While Timer 0 is in mode 3 it has lent TR1 and
    // TF1 to TH0: Timer 1 then runs whenever it is not in mode 3 and sets no
    // flag.
    if (mode1 != 3 && timer1Counts && (mode0 == 3 || (tcon & TR1))) {
        if (advanceTimer(mode1, reg(TL1), reg(TH1), ticksBetween(from, now, div1)) && mode0 != 3)
            tcon |= TF1;
    }
    reg(TCON) = tcon;

    uint8_t t2con = reg(T2CON);
    if ((t2con & TR2) && !(t2con & CT2)) {
        const bool baudRate = t2con & (RCLK | TCLK);
        const uint64_t n = ticksBetween(from, now, baudRate ? 2 : timerDivider(ckcon, 0x20));
        uint32_t count = (uint32_t(reg(TH2)) << 8) | reg(TL2);
        if (baudRate || !(t2con & CPRL2)) {
            // Auto-reload from RCAP2; as baud-rate generator without TF2.
            const uint32_t reload = (uint32_t(reg(RCAP2H)) << 8) | reg(RCAP2L);
            const uint64_t first = 0x10000 - count;
            if (n >= first) {
                count = uint32_t(reload + (n - first) % (0x10000 - reload));
                if (!baudRate)
                    t2con |= TF2;
            } else {
                count += uint32_t(n);
            }
        } else {
            // Capture mode counts freely; captures need the T2EX pin.
            const uint64_t t = count + n;
            if (t >= 0x10000)
                t2con |= TF2;
            count = uint32_t(t & 0xFFFF);
        }
        reg(TL2) = uint8_t(count);
        reg(TH2) = uint8_t(count >> 8);
        reg(T2CON) = t2con;
    }
}

void CoreState::scheduleTimers() {
    const uint64_t now = clocks;
    uint64_t next = kNever;
    const uint8_t tcon = reg(TCON), tmod = reg(TMOD), ckcon = reg(CKCON);
    const unsigned div0 = timerDivider(ckcon, 0x08), div1 = timerDivider(ckcon, 0x10);
    const unsigned mode0 = tmod & 3, mode1 = (tmod >> 4) & 3;
    auto consider = [&](uint64_t clock) {
        if (clock < next)
            next = clock;
    };
    if (mode0 == 3) {
        if (!(tmod & 0x04) && (tcon & TR0) && !(tcon & TF0))
            consider(countClock(now, div0, 256 - reg(TL0)));
        if ((tcon & TR1) && !(tcon & TF1))
            consider(countClock(now, div0, 256 - reg(TH0)));
    } else if (!(tmod & 0x04) && (tcon & TR0) && !(tcon & TF0)) {
        consider(countClock(now, div0, countsToOverflow(mode0, reg(TL0), reg(TH0))));
    }
    if (mode0 != 3 && mode1 != 3 && !(tmod & 0x40) && (tcon & TR1) && !(tcon & TF1))
        consider(countClock(now, div1, countsToOverflow(mode1, reg(TL1), reg(TH1))));

    const uint8_t t2con = reg(T2CON);
    if ((t2con & TR2) && !(t2con & (CT2 | RCLK | TCLK | TF2))) {
        const uint32_t count = (uint32_t(reg(TH2)) << 8) | reg(TL2);
        consider(countClock(now, timerDivider(ckcon, 0x20), 0x10000 - count));
    }
    if (next != nextTimerEvent) {
        nextTimerEvent = next;
        rescheduled = true;
        attention = true;
    }
}

namespace {

// Requested and enabled sources, bit n for Interrupt n.
unsigned pendingSources(const uint8_t *r) {
    auto at = [r](uint8_t address) { return r[address - 0x80]; };
    const uint8_t ie = at(IE);
    if (!(ie & 0x80))
        return 0;
    const uint8_t tcon = at(TCON), eicon = at(EICON), exif = at(EXIF), eie = at(EIE);
    unsigned m = 0;
    m |= ((eicon & 0x10) && (eicon & 0x20)) << 0;
    m |= ((tcon & IE0) && (ie & 0x01)) << 1;
    m |= ((tcon & TF0) && (ie & 0x02)) << 2;
    m |= ((tcon & IE1) && (ie & 0x04)) << 3;
    m |= ((tcon & TF1) && (ie & 0x08)) << 4;
    m |= ((at(SCON0) & 0x03) && (ie & 0x10)) << 5;
    m |= ((at(T2CON) & (TF2 | EXF2)) && (ie & 0x20)) << 6;
    m |= ((at(SCON1) & 0x03) && (ie & 0x40)) << 7;
    m |= ((exif & 0x10) && (eie & 0x01)) << 8;
    m |= ((exif & 0x20) && (eie & 0x02)) << 9;
    m |= ((exif & 0x40) && (eie & 0x04)) << 10;
    m |= ((exif & 0x80) && (eie & 0x08)) << 11;
    m |= ((eicon & 0x08) && (eie & 0x10)) << 12;
    return m;
}

int priorityLevel(const uint8_t *r, unsigned source) {
    if (source == 0)
        return 2;
    if (source <= 7)
        return (r[IP - 0x80] >> (source - 1)) & 1;
    return (r[EIP - 0x80] >> (source - 8)) & 1;
}

int levelInService(uint8_t inService) {
    return inService & 4 ? 2 : inService & 2 ? 1 : inService & 1 ? 0 : -1;
}

// The source served next: the highest level, then the natural order.
int chooseSource(const uint8_t *r, unsigned pending, int &level) {
    int best = -1;
    level = -1;
    for (unsigned source = 0; pending; ++source, pending >>= 1) {
        if (!(pending & 1))
            continue;
        const int l = priorityLevel(r, source);
        if (l > level) {
            level = l;
            best = int(source);
        }
    }
    return best;
}

} // namespace

void CoreState::updateInterrupts() {
    int level;
    const unsigned pending = pendingSources(sfrs);
    irqReady =
        pending && chooseSource(sfrs, pending, level) >= 0 && level > levelInService(inService);
    updateAttention();
}

bool CoreState::enterInterrupt() {
    int level;
    const int source = chooseSource(sfrs, pendingSources(sfrs), level);
    if (source < 0 || level <= levelInService(inService)) {
        irqReady = false;
        updateAttention();
        return false;
    }
    // TF0/TF1 and the edge-triggered IE0/IE1 are cleared on vectoring; every
    // other request flag stays until the service routine clears it.
    uint8_t &tcon = reg(TCON);
    switch (Interrupt(source)) {
    case Interrupt::Int0:
        if (tcon & IT0)
            tcon &= ~IE0;
        break;
    case Interrupt::Timer0:
        tcon &= ~TF0;
        break;
    case Interrupt::Int1:
        if (tcon & IT1)
            tcon &= ~IE1;
        break;
    case Interrupt::Timer1:
        tcon &= ~TF1;
        break;
    default:
        break;
    }
    uint8_t &sp = reg(SP);
    iram[++sp] = uint8_t(pc);
    iram[++sp] = uint8_t(pc >> 8);
    pc = interruptVector(Interrupt(source));
    // The hardware call takes as long as an LCALL.
    clocks += 4 * 4;
    inService |= uint8_t(1 << level);
    if (idle) {
        idle = false;
        reg(PCON) &= ~0x01;
    }
    scheduleTimers();
    updateInterrupts();
    return true;
}

void CoreState::returnFromInterrupt() {
    const int level = levelInService(inService);
    if (level >= 0)
        inService &= uint8_t(~(1 << level));
    irqBlocked = true;
    updateInterrupts();
}

uint8_t CoreState::peekSfr(uint8_t address) {
    switch (address) {
    case TCON:
    case TL0:
    case TL1:
    case TH0:
    case TH1:
    case T2CON:
    case TL2:
    case TH2:
        syncTimers();
        return reg(address);
    case PSW: {
        uint8_t a = reg(ACC);
        a ^= a >> 4;
        a ^= a >> 2;
        a ^= a >> 1;
        return uint8_t(reg(PSW) | (a & 1));
    }
    default:
        return reg(address);
    }
}

void CoreState::pokeSfr(uint8_t address, uint8_t value) {
    value = uint8_t((value | fixedOnes(address)) & ~fixedZeros(address));
    switch (address) {
    case PSW:
        reg(PSW) = value & 0xFE; // P follows the accumulator
        return;
    case DPS:
        reg(DPS) = value;
        dptrLow = (value & 1) ? 0x04 : 0x02;
        return;
    case PCON:
        reg(PCON) = value;
        if (value & 1) {
            idle = true;
            updateAttention();
        }
        return;
    case CKCON:
        ++effects;
        syncTimers();
        reg(CKCON) = value;
        stretch = value & 7;
        scheduleTimers();
        return;
    case TCON:
    case TMOD:
    case TL0:
    case TL1:
    case TH0:
    case TH1:
    case T2CON:
    case RCAP2L:
    case RCAP2H:
    case TL2:
    case TH2:
        ++effects;
        syncTimers();
        reg(address) = value;
        scheduleTimers();
        updateInterrupts();
        return;
    case IE:
    case IP:
    case EIE:
    case EIP:
    case EXIF:
    case EICON:
    case SCON0:
    case SCON1:
        reg(address) = value;
        updateInterrupts();
        return;
    default:
        reg(address) = value;
        return;
    }
}

uint8_t CoreState::readSfr(uint8_t address) {
    switch (kind[address - 0x80]) {
    case Plain:
        return reg(address);
    case Claimed:
        return bus.readSfr(address);
    case Unknown:
        ++unknownAccesses;
        lastUnknown = address;
        return reg(address);
    default:
        switch (address) {
        case TL0:
        case TL1:
        case TH0:
        case TH1:
        case TL2:
        case TH2:
            ++effects; // the program looks at time
            break;
        default:
            break;
        }
        return peekSfr(address);
    }
}

void CoreState::writeSfr(uint8_t address, uint8_t value) {
    switch (kind[address - 0x80]) {
    case Plain:
        reg(address) = value;
        return;
    case Claimed:
        ++effects;
        bus.writeSfr(address, value);
        return;
    case Unknown:
        ++unknownAccesses;
        lastUnknown = address;
        reg(address) = value;
        return;
    default:
        pokeSfr(address, value);
        // An interrupt is not taken right after a write to its enables or
        // priorities: one more instruction executes first.
        if (address == IE || address == IP || address == EIE || address == EIP) {
            irqBlocked = true;
            attention = true;
        }
        return;
    }
}

uint8_t CoreState::readXdataSlow(uint16_t address) {
    if (uint8_t *page = xdataMapped[address >> 8])
        return page[address & 0xFF];
    return bus.readXdata(address);
}

void CoreState::writeXdataSlow(uint16_t address, uint8_t value) {
    uint8_t *page = xdataMapped[address >> 8];
    if (!page) {
        bus.writeXdata(address, value);
        return;
    }
    page[address & 0xFF] = value;
    // The page is also code behind an overlay: keep the patched copy in step,
    // except at the substituted addresses.
    for (auto &[codePage, copy] : patchedPages) {
        if (code + codePage * 256u != page)
            continue;
        const uint16_t codeAddress = uint16_t((codePage << 8) | (address & 0xFF));
        if (!overlays.count(codeAddress))
            copy[address & 0xFF] = value;
    }
}

void CoreState::rebuildFetchTables() {
    for (unsigned p = 0; p < 256; ++p)
        fetchPage[p] = p * 256u < codeSize ? code + p * 256u : nullptr;
    patchedPages.clear();
    for (const auto &[address, value] : overlays) {
        if (address >= codeSize)
            continue;
        const uint8_t page = uint8_t(address >> 8);
        auto found = patchedPages.find(page);
        if (found == patchedPages.end()) {
            std::array<uint8_t, 256> copy{};
            const uint32_t start = page * 256u;
            for (uint32_t i = 0; i < 256 && start + i < codeSize; ++i)
                copy[i] = code[start + i];
            found = patchedPages.emplace(page, copy).first;
        }
        found->second[address & 0xFF] = value;
        fetchPage[page] = found->second.data();
    }
    for (unsigned q = 0; q < 256; ++q) {
        xdataRead[q] = xdataMapped[q];
        xdataWrite[q] = xdataMapped[q];
        for (const auto &entry : patchedPages)
            if (xdataMapped[q] && xdataMapped[q] == code + entry.first * 256u)
                xdataWrite[q] = nullptr;
    }
}

} // namespace mcs51
