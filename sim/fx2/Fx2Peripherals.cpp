#include "Fx2Peripherals.h"

#include "Fx2Registers.h"
#include "I2cBus.h"

#include <algorithm>
#include <array>
#include <climits>
#include <utility>

using namespace fx2;

namespace {

// The SFRs of the 8051 and the FX2's additions that the core itself holds.
constexpr uint8_t CoreSfrs[] = {0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B,
                                0x8C, 0x8D, 0x8E, 0x91, 0x92, 0x98, 0x99, 0xA8, 0xB8, 0xC0, 0xC1,
                                0xC8, 0xCA, 0xCB, 0xCC, 0xCD, 0xD0, 0xD8, 0xE0, 0xE8, 0xF0, 0xF8};

// Ports A..E: data SFR and output-enable SFR.
constexpr uint8_t PortSfrs[5] = {sfr::IOA, sfr::IOB, sfr::IOC, sfr::IOD, sfr::IOE};
constexpr uint8_t OeSfrs[5] = {sfr::OEA, sfr::OEB, sfr::OEC, sfr::OED, sfr::OEE};

// Registers of page 0xE6 that hold what is written and do nothing else
// here: interface and port configuration, and the enables and requests of
// interrupt sources the model never raises (IN-bulk-NAK, PING-NAK, USB
// errors).
constexpr uint16_t PlainRegisters[] = {
    xreg::IFCONFIG, xreg::REVCTL, xreg::EP1OUTCFG, xreg::EP1INCFG, 0xE658, 0xE659,
    0xE65A,         0xE65B,       xreg::USBIE,     xreg::EPIE,     0xE662, 0xE663,
    0xE664,         0xE665,       xreg::INTSETUP,  xreg::PORTACFG, 0xE671, 0xE672};
// Of those, the request registers that are cleared by writing 1.
constexpr uint16_t WriteOneToClear[] = {0xE659, 0xE65B, 0xE663};

// Looked up on every register access: a table by the low byte.
constexpr std::array<bool, 256> PlainLowBytes = [] {
    std::array<bool, 256> table{};
    for (const uint16_t address : PlainRegisters)
        table[address & 0xFF] = true;
    return table;
}();
static_assert([] {
    for (const uint16_t address : PlainRegisters)
        if ((address >> 8) != 0xE6)
            return false;
    return true;
}());

bool isPlain(uint16_t address) {
    return (address >> 8) == 0xE6 && PlainLowBytes[address & 0xFF];
}

bool contains(const uint16_t *begin, const uint16_t *end, uint16_t value) {
    return std::find(begin, end, value) != end;
}

// CPUCS CLKSPD: 00 12 MHz, 01 24 MHz, 10 48 MHz (11 is reserved; taken as 48).
uint32_t cpuHz(uint8_t cpucs) {
    switch ((cpucs & bit::CPUCS_CLKSPD) >> 3) {
    case 0:
        return CpuClock::Hz12M;
    case 1:
        return CpuClock::Hz24M;
    default:
        return CpuClock::Hz48M;
    }
}

constexpr int64_t FrameNs = 1'000'000;
constexpr int64_t MicroframeNs = 125'000;
// INT2IVEC: the source's position in the autovector table, times 4.
constexpr int Int2EndpointBase = 8;
constexpr uint8_t Int4VectorBase = 0x80;
constexpr uint16_t Int2JumpLowByte = 0x45;
constexpr uint16_t Int4JumpLowByte = 0x55;

} // namespace

Fx2Peripherals::Fx2Peripherals(I2cBus &bus, uint8_t *ram, uint8_t *scratch)
    : ram_(ram), scratch_(scratch), i2c_(bus) {
    powerOn(true);
}

bool Fx2Peripherals::coreSfr(uint8_t address) {
    return std::find(std::begin(CoreSfrs), std::end(CoreSfrs), address) != std::end(CoreSfrs);
}

std::vector<uint8_t> Fx2Peripherals::claimedSfrs() {
    std::vector<uint8_t> claimed;
    for (int a = 0x80; a <= 0xFF; ++a) {
        if (!coreSfr(uint8_t(a)))
            claimed.push_back(uint8_t(a));
    }
    return claimed;
}

void Fx2Peripherals::powerOn(bool highSpeed) {
    ++version_;
    highSpeed_ = highSpeed;
    cpucs_ = bit::CPUCS_CLKOE;
    clock_.restart(0, 0, cpuHz(cpucs_));
    plain_.fill(0);
    plain_[xreg::IFCONFIG & 0xFF] = 0x80;
    plain_[xreg::EP1OUTCFG & 0xFF] = 0xA0;
    plain_[xreg::EP1INCFG & 0xFF] = 0xA0;
    usbirq_ = epirq_ = 0;
    lastSource_ = lastAv4_ = -2;
    sofEnabled_ = false;
    nextSofNs_ = 0;
    eps_ = {BulkEndpoint(2), BulkEndpoint(4), BulkEndpoint(6), BulkEndpoint(8)};

    setup_ = UsbSetupPacket();
    setupData_.fill(0);
    ep0Buffer_.fill(0);
    ep0Active_ = ep0DataDone_ = hsnak_ = ep0Stall_ = false;
    ep0Bch_ = ep0Bcl_ = 0;
    ep0Out_.clear();
    ep0OutPos_ = 0;
    ep0In_.clear();
    sudptrh_ = sudptrl_ = 0;
    sudptrctl_ = bit::SUDPTRCTL_SDPAUTO;
    ep0Toggle_ = false;

    ep1OutBuffer_.fill(0);
    ep1InBuffer_.fill(0);
    ep1OutArmed_ = ep1InBusy_ = ep1OutStall_ = ep1InStall_ = false;
    ep1OutCount_ = ep1InCount_ = 0;
    ep1Toggle_ = {false, false};

    usbcs_ = 0;
    wakeupcs_ = 0;
    togctl_ = 0;
    busSuspended_ = suspended_ = false;

    autoPointer_ = {0, 0};
    autoPointerSetup_ = bit::APTR1_INC | bit::APTR2_INC;
    autoPointerOff_ = 0;
    portLatch_.fill(0);
    portOe_.fill(0);
    portInputs_.fill(0xFF);

    unknown_.clear();
    unknownCount_ = 0;
    i2c_.powerOn();
}

// Register contents and pending requests survive the 8051's reset; the
// endpoint buffers start again as at power-on, so that nothing the old
// firmware left armed or committed reaches the new one. (Which of the two a
// chip does here is not said where the model's facts come from; with
// buffers left armed, a packet the host sends right after the release would
// be thrown away by the new firmware's arming at start-up.)
void Fx2Peripherals::cpuStarted(int64_t nowNs) {
    ++version_;
    for (BulkEndpoint &ep : eps_)
        ep.configure(ep.config());
    ep0Active_ = false;
    hsnak_ = false;
    ep1OutArmed_ = ep1InBusy_ = false;
    clock_.restart(0, nowNs, cpuHz(cpucs_));
    nextSofNs_ =
        (nowNs / (highSpeed_ ? MicroframeNs : FrameNs) + 1) * (highSpeed_ ? MicroframeNs : FrameNs);
    lastSource_ = -2; // forces the autovector bytes to be written again
    lastAv4_ = -2;
    updateInterrupts(false);
}

int64_t Fx2Peripherals::nowNs() const {
    return clock_.nsAt(cpu_ ? cpu_->clocks() : 0);
}

BulkEndpoint &Fx2Peripherals::endpoint(int number) {
    return eps_[size_t(std::clamp(number / 2 - 1, 0, 3))];
}

// --- Bus ---------------------------------------------------------------

uint8_t Fx2Peripherals::readXdata(uint16_t address) {
    return readMemory(address);
}

void Fx2Peripherals::writeXdata(uint16_t address, uint8_t value) {
    writeMemory(address, value);
}

uint8_t Fx2Peripherals::readMemory(uint16_t address) {
    if (address < mem::RamSize)
        return ram_[address];
    if (address >= mem::ScratchBase && address < mem::ScratchBase + mem::ScratchSize)
        return scratch_[address - mem::ScratchBase];
    if (address >= xreg::EP2FIFOBUF) {
        BulkEndpoint &ep = eps_[size_t((address - xreg::EP2FIFOBUF) >> 10)];
        const int offset = address & 0x3FF;
        if (offset < ep.bufferSize())
            return ep.cpuWindow()[offset];
        recordUnknown(address, false, false, 0);
        return 0xFF;
    }
    return readRegister(address);
}

void Fx2Peripherals::writeMemory(uint16_t address, uint8_t value) {
    if (address < mem::RamSize) {
        ram_[address] = value;
        return;
    }
    if (address >= mem::ScratchBase && address < mem::ScratchBase + mem::ScratchSize) {
        scratch_[address - mem::ScratchBase] = value;
        return;
    }
    if (address >= xreg::EP2FIFOBUF) {
        BulkEndpoint &ep = eps_[size_t((address - xreg::EP2FIFOBUF) >> 10)];
        const int offset = address & 0x3FF;
        if (offset < ep.bufferSize())
            ep.cpuWindow()[offset] = value;
        else
            recordUnknown(address, false, true, value);
        return;
    }
    writeRegister(address, value);
}

void Fx2Peripherals::recordUnknown(uint16_t address, bool sfr, bool write, uint8_t value) {
    // Counted, so a state of its own: no loop reading it is skipped.
    ++version_;
    ++unknownCount_;
    if (int(unknown_.size()) < UnknownAccessesKept)
        unknown_.push_back(
            UnknownAccess{address, sfr, write, value, cpu_ ? cpu_->pc() : uint16_t(0)});
}

uint8_t Fx2Peripherals::readRegister(uint16_t address) {
    if (address >= xreg::EP0BUF && address < xreg::EP0BUF + 64)
        return ep0Buffer_[address - xreg::EP0BUF];
    if (address >= xreg::EP1OUTBUF && address < xreg::EP1OUTBUF + 64)
        return ep1OutBuffer_[address - xreg::EP1OUTBUF];
    if (address >= xreg::EP1INBUF && address < xreg::EP1INBUF + 64)
        return ep1InBuffer_[address - xreg::EP1INBUF];
    if (address >= xreg::SETUPDAT && address < xreg::SETUPDAT + 8)
        return setupData_[address - xreg::SETUPDAT];
    if (address >= xreg::EP2CFG && address <= xreg::EP8CFG)
        return eps_[size_t(address - xreg::EP2CFG)].config();
    if (isPlain(address))
        return plain_[address & 0xFF];

    // The time only for the registers that depend on it: working it out
    // from the cycle count costs more than most reads.
    switch (address) {
    case xreg::CPUCS:
        return uint8_t(cpucs_ & ~bit::CPUCS_8051RES);
    case xreg::REVID:
        return RevisionId;
    case xreg::OUTPKTEND:
    case xreg::SUSPEND:
        return 0;
    case xreg::USBIRQ:
        // Start-of-frame keeps setting its request with the bus's frames.
        sync();
        ++version_;
        return usbirq_;
    case xreg::EPIRQ:
        return epirq_;
    case xreg::INT2IVEC: {
        const int source = int2Source();
        return uint8_t(source < 0 ? 0 : source * 4);
    }
    case xreg::INT4IVEC:
        return Int4VectorBase;
    case xreg::I2CS: {
        // The status holds still between the controller's events, so a loop
        // polling it keeps the version until one comes.
        const int64_t now = nowNs();
        if (i2c_.advanceTo(now))
            ++version_;
        return i2c_.status();
    }
    case xreg::I2DAT: {
        ++version_;
        return i2c_.readI2dat(nowNs());
    }
    case xreg::I2CTL:
        return i2c_.readI2ctl();
    case xreg::XAUTODAT1:
        return autoData(0, false, 0);
    case xreg::XAUTODAT2:
        return autoData(1, false, 0);
    case xreg::USBCS:
        return uint8_t((highSpeed_ ? bit::USBCS_HSM : 0) | usbcs_);
    case xreg::WAKEUPCS:
        return wakeupcs_;
    case xreg::TOGCTL: {
        const int ep = togctl_ & bit::TOGCTL_EP;
        const bool in = togctl_ & bit::TOGCTL_IO;
        bool toggle = false;
        if (ep == 0)
            toggle = ep0Toggle_;
        else if (ep == 1)
            toggle = ep1Toggle_[in ? 1 : 0];
        else if (ep == 2 || ep == 4 || ep == 6 || ep == 8)
            toggle = eps_[size_t(ep / 2 - 1)].toggle();
        return uint8_t((togctl_ & 0x1F) | (toggle ? bit::TOGCTL_Q : 0));
    }
    case xreg::USBFRAMEH:
    case xreg::USBFRAMEL:
    case xreg::MICROFRAME: {
        ++version_;
        const int64_t now = nowNs();
        const int64_t frame = now / FrameNs;
        if (address == xreg::USBFRAMEH)
            return uint8_t((frame >> 8) & 0x07);
        if (address == xreg::USBFRAMEL)
            return uint8_t(frame & 0xFF);
        return highSpeed_ ? uint8_t((now / MicroframeNs) % 8) : 0;
    }
    case xreg::FNADDR:
        return address_ & 0x7F;
    case xreg::EP0BCH:
        return ep0Bch_;
    case xreg::EP0BCL:
        return ep0Bcl_;
    case xreg::EP1OUTBC:
        return ep1OutCount_;
    case xreg::EP1INBC:
        return ep1InCount_;
    case xreg::EP2BCH:
    case xreg::EP4BCH:
    case xreg::EP6BCH:
    case xreg::EP8BCH:
        return uint8_t(eps_[size_t((address - xreg::EP2BCH) / 4)].byteCount() >> 8);
    case xreg::EP2BCL:
    case xreg::EP4BCL:
    case xreg::EP6BCL:
    case xreg::EP8BCL:
        return uint8_t(eps_[size_t((address - xreg::EP2BCL) / 4)].byteCount() & 0xFF);
    case xreg::EP0CS:
        return uint8_t((hsnak_ ? bit::EP0CS_HSNAK : 0) | (ep0Stall_ ? bit::EPCS_STALL : 0));
    case xreg::EP1OUTCS:
        return uint8_t((ep1OutArmed_ ? bit::EPCS_BUSY : 0) | (ep1OutStall_ ? bit::EPCS_STALL : 0));
    case xreg::EP1INCS:
        return uint8_t((ep1InBusy_ ? bit::EPCS_BUSY : 0) | (ep1InStall_ ? bit::EPCS_STALL : 0));
    case xreg::EP2CS:
    case xreg::EP4CS:
    case xreg::EP6CS:
    case xreg::EP8CS:
        return endpointCs(eps_[size_t(address - xreg::EP2CS)]);
    case xreg::SUDPTRH:
        return sudptrh_;
    case xreg::SUDPTRL:
        return sudptrl_;
    case xreg::SUDPTRCTL:
        return sudptrctl_;
    default:
        recordUnknown(address, false, false, 0);
        return 0xFF;
    }
}

void Fx2Peripherals::writeRegister(uint16_t address, uint8_t value) {
    ++version_;
    if (address >= xreg::EP0BUF && address < xreg::EP0BUF + 64) {
        ep0Buffer_[address - xreg::EP0BUF] = value;
        return;
    }
    if (address >= xreg::EP1OUTBUF && address < xreg::EP1OUTBUF + 64) {
        ep1OutBuffer_[address - xreg::EP1OUTBUF] = value;
        return;
    }
    if (address >= xreg::EP1INBUF && address < xreg::EP1INBUF + 64) {
        ep1InBuffer_[address - xreg::EP1INBUF] = value;
        return;
    }
    if (address >= xreg::SETUPDAT && address < xreg::SETUPDAT + 8)
        return; // read-only
    if (address >= xreg::EP2CFG && address <= xreg::EP8CFG) {
        const int index = address - xreg::EP2CFG;
        // EP4 and EP8 have neither a size nor a buffering choice.
        const uint8_t mask = (index == 0 || index == 2) ? 0xFB : 0xF0;
        eps_[size_t(index)].configure(value & mask);
        hostVisible();
        return;
    }
    if (isPlain(address)) {
        if (contains(std::begin(WriteOneToClear), std::end(WriteOneToClear), address))
            plain_[address & 0xFF] &= uint8_t(~value);
        else
            plain_[address & 0xFF] = value;
        if (address == xreg::USBIE || address == xreg::EPIE || address == xreg::INTSETUP)
            updateInterrupts(true);
        return;
    }

    const int64_t now = nowNs();
    switch (address) {
    case xreg::CPUCS: {
        const uint8_t writable =
            bit::CPUCS_CLKOE | bit::CPUCS_CLKINV | bit::CPUCS_CLKSPD | bit::CPUCS_PORTCSTB;
        cpucs_ = uint8_t((cpucs_ & ~writable) | (value & writable));
        const uint32_t hz = cpuHz(cpucs_);
        if (hz != clock_.hz()) {
            clock_.setHz(cpu_ ? cpu_->clocks() : 0, hz);
            // The run's cycle limit was worked out at the old frequency.
            if (cpu_)
                cpu_->stop();
        }
        return;
    }
    case xreg::REVID:
    case xreg::INT2IVEC:
    case xreg::INT4IVEC:
    case xreg::USBFRAMEH:
    case xreg::USBFRAMEL:
    case xreg::MICROFRAME:
    case xreg::FNADDR:
        return; // read-only
    case xreg::OUTPKTEND: {
        const int ep = value & 0x0F;
        if ((value & bit::BCL_SKIP) && (ep == 2 || ep == 4 || ep == 6 || ep == 8) &&
            eps_[size_t(ep / 2 - 1)].skip())
            hostVisible();
        return;
    }
    case xreg::USBIRQ:
        sync();
        usbirq_ &= uint8_t(~value);
        updateInterrupts(true);
        return;
    case xreg::EPIRQ:
        epirq_ &= uint8_t(~value);
        updateInterrupts(true);
        return;
    case xreg::I2CS:
        i2c_.writeI2cs(value, now);
        return;
    case xreg::I2DAT:
        i2c_.writeI2dat(value, now);
        return;
    case xreg::I2CTL:
        i2c_.writeI2ctl(value);
        return;
    case xreg::XAUTODAT1:
        autoData(0, true, value);
        return;
    case xreg::XAUTODAT2:
        autoData(1, true, value);
        return;
    case xreg::USBCS:
        usbcs_ = value &
                 (bit::USBCS_SIGRSUME | bit::USBCS_RENUM | bit::USBCS_NOSYNSOF | bit::USBCS_DISCON);
        return;
    case xreg::SUSPEND:
        // Lets the chip stop its oscillator once the CPU idles, until the
        // bus resumes or a wake-up pin fires; a bus that is not suspended
        // resumes it at once.
        if (busSuspended_)
            suspended_ = true;
        else
            resume();
        return;
    case xreg::WAKEUPCS: {
        const uint8_t flags = bit::WAKEUP_WU | bit::WAKEUP_WU2;
        wakeupcs_ = uint8_t((wakeupcs_ & flags & ~value) | (value & ~flags));
        return;
    }
    case xreg::TOGCTL: {
        togctl_ = value & 0x1F;
        if (!(value & (bit::TOGCTL_R | bit::TOGCTL_S)))
            return;
        const bool set = value & bit::TOGCTL_S;
        const int ep = value & bit::TOGCTL_EP;
        if (ep == 0)
            ep0Toggle_ = set;
        else if (ep == 1)
            ep1Toggle_[(value & bit::TOGCTL_IO) ? 1 : 0] = set;
        else if (ep == 2 || ep == 4 || ep == 6 || ep == 8)
            eps_[size_t(ep / 2 - 1)].setToggle(set);
        return;
    }
    case xreg::EP0BCH:
        ep0Bch_ = value;
        return;
    case xreg::EP0BCL:
        ep0Bcl_ = value;
        ep0ByteCountWritten();
        return;
    case xreg::EP1OUTBC:
        // Any write arms the buffer for the next packet.
        if (!ep1OutArmed_) {
            ep1OutArmed_ = true;
            hostVisible();
        }
        return;
    case xreg::EP1INBC:
        ep1InCount_ = std::min<uint8_t>(value, 64);
        ep1InBusy_ = true;
        hostVisible();
        return;
    case xreg::EP2BCH:
    case xreg::EP4BCH:
    case xreg::EP6BCH:
    case xreg::EP8BCH:
        eps_[size_t((address - xreg::EP2BCH) / 4)].writeByteCountHigh(value);
        return;
    case xreg::EP2BCL:
    case xreg::EP4BCL:
    case xreg::EP6BCL:
    case xreg::EP8BCL: {
        const int index = (address - xreg::EP2BCL) / 4;
        if (eps_[size_t(index)].writeByteCountLow(value))
            hostVisible();
        return;
    }
    case xreg::EP0CS:
        // HSNAK is cleared by writing 1, which lets the status stage finish.
        if (value & bit::EP0CS_HSNAK)
            hsnak_ = false;
        ep0Stall_ = value & bit::EPCS_STALL;
        checkControlDone();
        return;
    case xreg::EP1OUTCS:
        ep1OutStall_ = value & bit::EPCS_STALL;
        hostVisible();
        return;
    case xreg::EP1INCS:
        ep1InStall_ = value & bit::EPCS_STALL;
        hostVisible();
        return;
    case xreg::EP2CS:
    case xreg::EP4CS:
    case xreg::EP6CS:
    case xreg::EP8CS:
        eps_[size_t(address - xreg::EP2CS)].setStalled(value & bit::EPCS_STALL);
        hostVisible();
        return;
    case xreg::SUDPTRH:
        sudptrh_ = value;
        return;
    case xreg::SUDPTRL:
        sudptrl_ = value;
        ep0Descriptor(uint16_t(sudptrh_ << 8 | sudptrl_));
        return;
    case xreg::SUDPTRCTL:
        sudptrctl_ = value & bit::SUDPTRCTL_SDPAUTO;
        return;
    default:
        recordUnknown(address, false, true, value);
        return;
    }
}

uint8_t Fx2Peripherals::readSfr(uint8_t address) {
    for (int port = 0; port < 5; ++port) {
        if (address == PortSfrs[port])
            return portPins(port);
        if (address == OeSfrs[port])
            return portOe_[size_t(port)];
    }
    switch (address) {
    case sfr::AUTOPTRH1:
        return uint8_t(autoPointer_[0] >> 8);
    case sfr::AUTOPTRL1:
        return uint8_t(autoPointer_[0] & 0xFF);
    case sfr::AUTOPTRH2:
        return uint8_t(autoPointer_[1] >> 8);
    case sfr::AUTOPTRL2:
        return uint8_t(autoPointer_[1] & 0xFF);
    case sfr::AUTOPTRSETUP:
        return autoPointerSetup_;
    case sfr::INT2CLR:
    case sfr::INT4CLR:
        return 0;
    case sfr::EP2468STAT:
        return endpointStatus();
    case sfr::EP01STAT:
        return uint8_t((ep1InBusy_ ? bit::EP01STAT_EP1INBSY : 0) |
                       (ep1OutArmed_ ? bit::EP01STAT_EP1OUTBSY : 0));
    default:
        recordUnknown(address, true, false, 0);
        return 0xFF;
    }
}

void Fx2Peripherals::writeSfr(uint8_t address, uint8_t value) {
    ++version_;
    for (int port = 0; port < 5; ++port) {
        if (address == PortSfrs[port]) {
            portLatch_[size_t(port)] = value;
            return;
        }
        if (address == OeSfrs[port]) {
            portOe_[size_t(port)] = value;
            return;
        }
    }
    switch (address) {
    case sfr::AUTOPTRH1:
        autoPointer_[0] = uint16_t((autoPointer_[0] & 0x00FF) | value << 8);
        return;
    case sfr::AUTOPTRL1:
        autoPointer_[0] = uint16_t((autoPointer_[0] & 0xFF00) | value);
        return;
    case sfr::AUTOPTRH2:
        autoPointer_[1] = uint16_t((autoPointer_[1] & 0x00FF) | value << 8);
        return;
    case sfr::AUTOPTRL2:
        autoPointer_[1] = uint16_t((autoPointer_[1] & 0xFF00) | value);
        return;
    case sfr::AUTOPTRSETUP:
        autoPointerSetup_ = value & (bit::APTR_EN | bit::APTR1_INC | bit::APTR2_INC);
        return;
    case sfr::INT2CLR:
        // Any write clears the INT2 request.
        if (cpu_)
            cpu_->setSfr(sfr::EXIF, uint8_t(cpu_->sfr(sfr::EXIF) & ~bit::EXIF_USBINT));
        return;
    case sfr::INT4CLR:
        if (cpu_)
            cpu_->setSfr(sfr::EXIF, uint8_t(cpu_->sfr(sfr::EXIF) & ~bit::EXIF_IE4));
        return;
    case sfr::EP2468STAT:
    case sfr::EP01STAT:
        return; // read-only
    default:
        recordUnknown(address, true, true, value);
        return;
    }
}

// An auto-pointer reaches any address of the data space, registers included;
// it steps on after the access when its increment is enabled.
uint8_t Fx2Peripherals::autoData(int pointer, bool write, uint8_t value) {
    const uint16_t xdat = pointer == 0 ? xreg::XAUTODAT1 : xreg::XAUTODAT2;
    if (!(autoPointerSetup_ & bit::APTR_EN)) {
        ++autoPointerOff_;
        recordUnknown(xdat, false, write, value);
        return 0xFF;
    }
    const uint16_t address = autoPointer_[size_t(pointer)];
    uint8_t result = value;
    if (write)
        writeMemory(address, value);
    else
        result = readMemory(address);
    const uint8_t increment = pointer == 0 ? bit::APTR1_INC : bit::APTR2_INC;
    if (autoPointerSetup_ & increment)
        autoPointer_[size_t(pointer)] = uint16_t(address + 1);
    ++version_;
    return result;
}

uint8_t Fx2Peripherals::portPins(int port) const {
    const uint8_t oe = portOe_[size_t(port)];
    return uint8_t((portLatch_[size_t(port)] & oe) | (portInputs_[size_t(port)] & ~oe));
}

// --- Endpoints -----------------------------------------------------------

BulkEndpoint *Fx2Peripherals::bulk(uint8_t endpointAddress) {
    return const_cast<BulkEndpoint *>(std::as_const(*this).bulk(endpointAddress));
}

const BulkEndpoint *Fx2Peripherals::bulk(uint8_t endpointAddress) const {
    const int number = endpointAddress & 0x0F;
    if (number != 2 && number != 4 && number != 6 && number != 8)
        return nullptr;
    const BulkEndpoint &ep = eps_[size_t(number / 2 - 1)];
    // The host's direction must be the one the firmware configured.
    if (!ep.valid() || ep.in() != bool(endpointAddress & 0x80))
        return nullptr;
    return &ep;
}

uint8_t Fx2Peripherals::endpointStatus() const {
    uint8_t status = 0;
    for (int i = 0; i < 4; ++i) {
        const BulkEndpoint &ep = eps_[size_t(i)];
        if (ep.empty())
            status |= uint8_t(1 << (2 * i));
        if (ep.full())
            status |= uint8_t(2 << (2 * i));
    }
    return status;
}

uint8_t Fx2Peripherals::endpointCs(const BulkEndpoint &ep) const {
    return uint8_t((std::min(ep.packets(), 7) << 4) | (ep.full() ? bit::EPCS_FULL : 0) |
                   (ep.empty() ? bit::EPCS_EMPTY : 0) | (ep.stalled() ? bit::EPCS_STALL : 0));
}

bool Fx2Peripherals::acceptsOut(uint8_t endpointAddress) const {
    if (endpointAddress == 0x01)
        return ep1OutArmed_ && !ep1OutStall_;
    const BulkEndpoint *ep = bulk(endpointAddress);
    return ep && !(endpointAddress & 0x80) && ep->acceptsPacket();
}

void Fx2Peripherals::receiveOut(uint8_t endpointAddress, const QByteArray &packet) {
    if (!acceptsOut(endpointAddress))
        return;
    ++version_;
    if (endpointAddress == 0x01) {
        const int n = std::min<int>(packet.size(), 64);
        std::copy(packet.constData(), packet.constData() + n, ep1OutBuffer_.begin());
        ep1OutCount_ = uint8_t(n);
        ep1OutArmed_ = false;
        ep1Toggle_[0] = !ep1Toggle_[0];
        raiseEndpoint(bit::EP_EP1OUT);
        return;
    }
    BulkEndpoint *ep = bulk(endpointAddress);
    ep->receivePacket(packet);
    raiseEndpoint(uint8_t(bit::EP_EP2 << (ep->number() / 2 - 1)));
}

bool Fx2Peripherals::hasIn(uint8_t endpointAddress) const {
    if (endpointAddress == 0x81)
        return ep1InBusy_ && !ep1InStall_;
    const BulkEndpoint *ep = bulk(endpointAddress);
    return ep && (endpointAddress & 0x80) && ep->hasPacket();
}

QByteArray Fx2Peripherals::takeIn(uint8_t endpointAddress) {
    if (!hasIn(endpointAddress))
        return QByteArray();
    ++version_;
    if (endpointAddress == 0x81) {
        ep1InBusy_ = false;
        ep1Toggle_[1] = !ep1Toggle_[1];
        raiseEndpoint(bit::EP_EP1IN);
        return QByteArray(reinterpret_cast<const char *>(ep1InBuffer_.data()), ep1InCount_);
    }
    BulkEndpoint *ep = bulk(endpointAddress);
    const QByteArray packet = ep->takePacket();
    raiseEndpoint(uint8_t(bit::EP_EP2 << (ep->number() / 2 - 1)));
    return packet;
}

bool Fx2Peripherals::endpointStalled(uint8_t endpointAddress) const {
    if (endpointAddress == 0x01)
        return ep1OutStall_;
    if (endpointAddress == 0x81)
        return ep1InStall_;
    const int number = endpointAddress & 0x0F;
    if (number != 2 && number != 4 && number != 6 && number != 8)
        return false;
    return eps_[size_t(number / 2 - 1)].stalled();
}

void Fx2Peripherals::clearHalt(uint8_t endpointAddress) {
    ++version_;
    const int number = endpointAddress & 0x0F;
    if (number == 1) {
        (endpointAddress & 0x80 ? ep1InStall_ : ep1OutStall_) = false;
        ep1Toggle_[(endpointAddress & 0x80) ? 1 : 0] = false;
    } else if (number == 2 || number == 4 || number == 6 || number == 8) {
        eps_[size_t(number / 2 - 1)].setStalled(false);
        eps_[size_t(number / 2 - 1)].setToggle(false);
    }
}

void Fx2Peripherals::setHalt(uint8_t endpointAddress) {
    ++version_;
    const int number = endpointAddress & 0x0F;
    if (number == 1)
        (endpointAddress & 0x80 ? ep1InStall_ : ep1OutStall_) = true;
    else if (number == 2 || number == 4 || number == 6 || number == 8)
        eps_[size_t(number / 2 - 1)].setStalled(true);
}

void Fx2Peripherals::resetToggles() {
    ++version_;
    ep1Toggle_ = {false, false};
    for (BulkEndpoint &ep : eps_)
        ep.setToggle(false);
}

// --- Endpoint zero -------------------------------------------------------

void Fx2Peripherals::setupToken() {
    ++version_;
    raiseUsb(bit::USB_SUTOK);
}

// A SETUP ends whatever EP0 was doing and clears its stall; the status stage
// is held off (HSNAK) until the firmware writes HSNAK.
void Fx2Peripherals::setupPacket(const UsbSetupPacket &setup, const QByteArray &outData) {
    ++version_;
    setup_ = setup;
    setupData_ = {setup.bmRequestType,    setup.bRequest,
                  uint8_t(setup.wValue),  uint8_t(setup.wValue >> 8),
                  uint8_t(setup.wIndex),  uint8_t(setup.wIndex >> 8),
                  uint8_t(setup.wLength), uint8_t(setup.wLength >> 8)};
    ep0Active_ = true;
    ep0Stall_ = false;
    hsnak_ = true;
    ep0DataDone_ = setup.wLength == 0;
    ep0Out_ = outData.left(setup.wLength);
    ep0OutPos_ = 0;
    ep0In_.clear();
    ep0Toggle_ = true;
    raiseUsb(bit::USB_SUDAV);
}

Fx2Peripherals::ControlOutcome Fx2Peripherals::controlOutcome(QByteArray *inData) const {
    if (!ep0Active_)
        return ControlOutcome::Pending;
    if (ep0Stall_)
        return ControlOutcome::Stalled;
    if (!ep0DataDone_ || hsnak_)
        return ControlOutcome::Pending;
    if (inData)
        *inData = ep0In_;
    return ControlOutcome::Answered;
}

// EP0BCL arms endpoint zero in the direction of the data stage: IN sends the
// bytes of EP0BUF, OUT makes room for the host's next packet. With SDPAUTO
// clear it only sets the length of the next transfer through SUDPTR.
void Fx2Peripherals::ep0ByteCountWritten() {
    if (!ep0Active_ || ep0DataDone_ || !(sudptrctl_ & bit::SUDPTRCTL_SDPAUTO))
        return;
    if (setup_.bmRequestType & 0x80) {
        const int count = std::min((ep0Bch_ << 8) | ep0Bcl_, 64);
        const int room = setup_.wLength - int(ep0In_.size());
        ep0In_.append(reinterpret_cast<const char *>(ep0Buffer_.data()), std::min(count, room));
        if (count < 64 || ep0In_.size() >= setup_.wLength)
            ep0DataDone_ = true;
        raiseEndpoint(bit::EP_EP0IN);
    } else {
        const int n = std::min<int>(64, int(ep0Out_.size()) - ep0OutPos_);
        std::copy(ep0Out_.constData() + ep0OutPos_, ep0Out_.constData() + ep0OutPos_ + n,
                  ep0Buffer_.begin());
        ep0OutPos_ += n;
        ep0Bch_ = 0;
        ep0Bcl_ = uint8_t(n);
        if (ep0OutPos_ >= setup_.wLength)
            ep0DataDone_ = true;
        raiseEndpoint(bit::EP_EP0OUT);
    }
    checkControlDone();
}

// The chip sends data from RAM on its own: with SDPAUTO a descriptor (its
// length from the descriptor itself: wTotalLength for a configuration or
// other-speed configuration, bLength otherwise), without it EP0BCH:L bytes.
void Fx2Peripherals::ep0Descriptor(uint16_t address) {
    if (!ep0Active_ || ep0DataDone_ || !(setup_.bmRequestType & 0x80))
        return;
    int length;
    if (sudptrctl_ & bit::SUDPTRCTL_SDPAUTO) {
        const uint8_t type = readMemory(uint16_t(address + 1));
        length = (type == 2 || type == 7)
                     ? readMemory(uint16_t(address + 2)) | readMemory(uint16_t(address + 3)) << 8
                     : readMemory(address);
    } else {
        length = (ep0Bch_ << 8) | ep0Bcl_;
    }
    length = std::min<int>(length, setup_.wLength);
    ep0In_.clear();
    for (int k = 0; k < length; ++k)
        ep0In_.append(char(readMemory(uint16_t(address + k))));
    ep0DataDone_ = true;
    raiseEndpoint(bit::EP_EP0IN);
    checkControlDone();
}

void Fx2Peripherals::checkControlDone() {
    if (!ep0Active_)
        return;
    if (ep0Stall_ || (ep0DataDone_ && !hsnak_)) {
        if (!ep0Stall_)
            raiseUsb(bit::USB_EP0ACK);
        hostVisible();
    } else if (ep0DataDone_ || (setup_.bmRequestType & 0x80) == 0) {
        hostVisible();
    }
}

bool Fx2Peripherals::renumerated() const {
    return usbcs_ & bit::USBCS_RENUM;
}

// --- USB bus events --------------------------------------------------------

// A bus reset ends any suspend and any control transfer; the chip answers at
// address 0 again. At high speed the chirp handshake follows and grants it.
void Fx2Peripherals::busReset() {
    ++version_;
    ep0Active_ = false;
    hsnak_ = false;
    address_ = 0;
    busSuspended_ = false;
    if (suspended_)
        resume();
    resetToggles();
    raiseUsb(highSpeed_ ? uint8_t(bit::USB_URES | bit::USB_HSGRANT) : bit::USB_URES);
}

void Fx2Peripherals::busSuspend() {
    ++version_;
    busSuspended_ = true;
    raiseUsb(bit::USB_SUSP);
}

// Resume signalling on a suspended bus raises the resume interrupt, whether
// the firmware stopped the chip (SUSPEND) or only idles its CPU.
void Fx2Peripherals::busResume() {
    ++version_;
    if (!busSuspended_)
        return;
    busSuspended_ = false;
    resume();
}

void Fx2Peripherals::wakeUpPin(int pin) {
    ++version_;
    const uint8_t enable = pin == 0 ? bit::WAKEUP_WUEN : bit::WAKEUP_WU2EN;
    if (!(wakeupcs_ & enable))
        return;
    wakeupcs_ |= pin == 0 ? bit::WAKEUP_WU : bit::WAKEUP_WU2;
    if (suspended_)
        resume();
}

// The resume interrupt (EICON.RESI) ends the suspend.
void Fx2Peripherals::resume() {
    suspended_ = false;
    setCpuSfrBits(sfr::EICON, bit::EICON_RESI);
    hostVisible();
}

// --- Interrupts ------------------------------------------------------------

void Fx2Peripherals::setCpuSfrBits(uint8_t address, uint8_t bits) {
    if (cpu_)
        cpu_->setSfr(address, uint8_t(cpu_->sfr(address) | bits));
}

void Fx2Peripherals::raiseUsb(uint8_t bits) {
    usbirq_ |= bits;
    updateInterrupts(true);
}

void Fx2Peripherals::raiseEndpoint(uint8_t bits) {
    epirq_ |= bits;
    updateInterrupts(true);
}

// The pending, enabled INT2 source of highest priority: its position in the
// autovector table, which is also the priority order (SUDAV first).
int Fx2Peripherals::int2Source() const {
    const uint8_t usb = usbirq_ & plain_[xreg::USBIE & 0xFF];
    const uint8_t ep = epirq_ & plain_[xreg::EPIE & 0xFF];
    for (int b = 0; b < 7; ++b) {
        if (usb & (1 << b))
            return b;
    }
    for (int b = 0; b < 8; ++b) {
        if (ep & (1 << b))
            return Int2EndpointBase + b;
    }
    return -1;
}

// The INT2 request (EXIF.USBINT) goes up whenever an enabled source is
// pending after a change: a new request, an enable, or the firmware clearing
// one request while another waits. Clearing EXIF first and then the source
// (the order the reference asks for) therefore loses nothing. With AV2EN the
// chip substitutes INT2IVEC into the jump at 0x43; while no source is
// pending the byte stays as it was, since the jump is only taken for a
// pending source (and the core rebuilds its tables on every change).
void Fx2Peripherals::updateInterrupts(bool raise) {
    const int source = int2Source();
    if (raise && source >= 0)
        setCpuSfrBits(sfr::EXIF, bit::EXIF_USBINT);
    if (!cpu_)
        return;
    const uint8_t setup = plain_[xreg::INTSETUP & 0xFF];
    int overlay = -1;
    if (setup & bit::INTSETUP_AV2EN)
        overlay = source >= 0 ? source * 4 : std::max(lastSource_, 0);
    if (overlay != lastSource_) {
        cpu_->setCodeOverlay(Int2JumpLowByte, overlay);
        lastSource_ = overlay;
    }
    const int av4 = setup & bit::INTSETUP_AV4EN ? Int4VectorBase : -1;
    if (av4 != lastAv4_) {
        cpu_->setCodeOverlay(Int4JumpLowByte, av4);
        lastAv4_ = av4;
    }
    sofEnabled_ = plain_[xreg::USBIE & 0xFF] & bit::USB_SOF;
}

void Fx2Peripherals::hostVisible() {
    ++version_;
    hostChange_ = true;
    if (cpu_)
        cpu_->stop();
}

bool Fx2Peripherals::takeHostChange() {
    const bool changed = hostChange_;
    hostChange_ = false;
    return changed;
}

void Fx2Peripherals::appendBufferState(std::vector<uint8_t> &state) const {
    state.insert(state.end(), ep0Buffer_.begin(), ep0Buffer_.end());
    state.insert(state.end(), ep1OutBuffer_.begin(), ep1OutBuffer_.end());
    state.insert(state.end(), ep1InBuffer_.begin(), ep1InBuffer_.end());
    for (const BulkEndpoint &ep : eps_)
        ep.appendBuffers(state);
}

void Fx2Peripherals::setSofPending() {
    const int64_t period = highSpeed_ ? MicroframeNs : FrameNs;
    const int64_t now = nowNs();
    if (busSuspended_ || now < nextSofNs_)
        return;
    nextSofNs_ = (now / period + 1) * period;
    usbirq_ |= bit::USB_SOF;
}

void Fx2Peripherals::sync() {
    const int64_t now = nowNs();
    if (i2c_.advanceTo(now))
        ++version_;
    if (i2c_.takeInterruptRequest()) {
        ++version_;
        setCpuSfrBits(sfr::EXIF, bit::EXIF_I2CINT);
    }
    const uint8_t before = usbirq_;
    setSofPending();
    if (usbirq_ != before)
        updateInterrupts(true);
}

int64_t Fx2Peripherals::nextEventNs() const {
    int64_t next = i2c_.nextEventNs();
    if (sofEnabled_ && !busSuspended_)
        next = std::min(next, nextSofNs_);
    return next;
}
