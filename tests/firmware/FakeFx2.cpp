#include "FakeFx2.h"

#include "adapter_wire.h"
#include "hw.h"
#include "i2c_engine.h"

#include <QtGlobal>

#include <cstring>

namespace {
FakeFx2 *current = nullptr;
constexpr int GuardSize = 256;
constexpr uint8_t GuardByte = 0x5C;

constexpr uint8_t I2csStart = 0x80;
constexpr uint8_t I2csStop = 0x40;
constexpr uint8_t I2csLastRead = 0x20;
constexpr uint8_t I2csBerr = 0x04;
constexpr uint8_t I2csAck = 0x02;
constexpr uint8_t I2csDone = 0x01;
} // namespace

extern "C" {
uint8_t command_buffer[WIRE_COMMAND_BUFFER_SIZE + GuardSize];
}

FakeFx2::FakeFx2(I2cBusSide &bus) : m_bus(bus) {
    Q_ASSERT(!current);
    current = this;
    i2c_power_on(); // a fresh chip: nothing left over from an earlier one
    std::memset(command_buffer, 0, WIRE_COMMAND_BUFFER_SIZE);
    std::memset(command_buffer + WIRE_COMMAND_BUFFER_SIZE, GuardByte, GuardSize);
}

FakeFx2::~FakeFx2() {
    current = nullptr;
}

bool FakeFx2::guardIntact() {
    for (int i = 0; i < GuardSize; ++i)
        if (command_buffer[WIRE_COMMAND_BUFFER_SIZE + i] != GuardByte)
            return false;
    return true;
}

QByteArray FakeFx2::reply() const {
    QByteArray all;
    for (const QByteArray &p : m_in)
        all += p;
    return all;
}

uint8_t FakeFx2::i2cStatus() {
    // Every poll costs bus time, so a wait that never ends runs into the
    // time-out.
    ++m_now;
    if (m_retryDue)
        retryHeldStep();
    uint8_t s = 0;
    if (m_startPending)
        s |= I2csStart;
    if (m_stopPending)
        s |= I2csStop;
    if (m_lastRead)
        s |= I2csLastRead;
    if (m_berr)
        s |= I2csBerr;
    if (m_ack)
        s |= I2csAck;
    if (m_done)
        s |= I2csDone;
    return s;
}

// A byte that meets a held SCL never reports DONE while the firmware waits
// for it. It is still in the controller: the next transaction's first poll
// tries it again, and the bus then says whether SCL is still held.
void FakeFx2::apply(const BusReply &reply, bool isWrite) {
    m_berr = reply.busError;
    m_ack = isWrite && reply.ack;
    m_done = !reply.sclHeld;
}

void FakeFx2::finishStop() {
    const BusReply reply = m_bus.stop();
    m_busTaken = false;
    m_readMode = false;
    m_receiving = false;
    if (!reply.sclHeld)
        m_stopPending = false;
    else
        m_held = Held::Stop;
}

void FakeFx2::retryHeldStep() {
    m_retryDue = false;
    BusReply reply;
    switch (m_held) {
    case Held::None:
        return;
    case Held::Address:
        m_bus.start(m_busTaken);
        reply = m_bus.write(m_heldByte);
        break;
    case Held::Write:
        reply = m_bus.write(m_heldByte);
        break;
    case Held::Read:
        reply = m_bus.read(m_heldAck);
        m_data = reply.data;
        break;
    case Held::Stop:
        reply = m_bus.stop();
        if (!reply.sclHeld)
            m_stopPending = false;
        break;
    }
    if (reply.sclHeld)
        return;
    apply(reply, m_held == Held::Address || m_held == Held::Write);
    m_held = Held::None;
}

void FakeFx2::i2cSet(uint8_t bits) {
    if (bits & I2csStart)
        m_startPending = true;
    if (bits & I2csLastRead)
        m_lastRead = true;
    if (bits & I2csStop) {
        m_stopPending = true;
        // Outside a read the STOP goes out at once; inside one it follows
        // the fetch of the last byte from I2DAT.
        if (!m_receiving)
            finishStop();
    }
}

void FakeFx2::i2cWrite(uint8_t b) {
    m_done = false;
    m_berr = false;
    if (m_startPending) {
        m_startPending = false;
        const BusReply s = m_bus.start(m_busTaken);
        m_busTaken = true;
        if (s.sclHeld || s.busError) {
            if (s.sclHeld) {
                m_held = Held::Address;
                m_heldByte = b;
            }
            apply(s, true);
            return;
        }
        m_readMode = b & 1;
        m_receiving = false;
        const BusReply address = m_bus.write(b);
        if (address.sclHeld) {
            m_held = Held::Address;
            m_heldByte = b;
        }
        apply(address, true);
        return;
    }
    const BusReply reply = m_bus.write(b);
    if (reply.sclHeld) {
        m_held = Held::Write;
        m_heldByte = b;
    }
    apply(reply, true);
}

uint8_t FakeFx2::i2cRead() {
    const uint8_t value = m_data;
    m_done = false;
    m_berr = false;
    if (m_stopPending) {
        finishStop();
        return value;
    }
    // Fetching I2DAT starts the next byte; LASTRD makes it the one the
    // master does not acknowledge.
    const bool nack = m_lastRead;
    m_lastRead = false;
    m_receiving = true;
    const BusReply reply = m_bus.read(!nack);
    m_data = reply.data;
    if (reply.sclHeld) {
        m_held = Held::Read;
        m_heldAck = !nack;
    }
    apply(reply, false);
    return value;
}

void FakeFx2::i2cClock(bool fast) {
    m_i2ctl = fast ? (m_i2ctl | 0x01) : (m_i2ctl & ~0x01);
    m_bus.clock(fast);
}

bool FakeFx2::outReady() {
    if (!m_out.empty()) {
        m_idlePolls = 0;
        return true;
    }
    // The firmware waits for good on a transaction that never completes; a
    // test that gets here has sent too little.
    if (++m_idlePolls > 1000000)
        qFatal("firmware waits for an EP4 packet that the test never sends");
    return false;
}

const uint8_t *FakeFx2::outBuffer() const {
    return m_out.empty() ? nullptr : reinterpret_cast<const uint8_t *>(m_out.front().constData());
}

uint16_t FakeFx2::outCount() const {
    return m_out.empty() ? 0 : uint16_t(m_out.front().size());
}

void FakeFx2::outRelease() {
    if (!m_out.empty())
        m_out.pop_front();
    m_retryDue = m_held != Held::None;
}

void FakeFx2::inCommit(uint16_t n) {
    if (n > (m_highSpeed ? 512 : 64))
        qFatal("EP8 packet of %u bytes exceeds the packet size", unsigned(n));
    m_in.append(QByteArray(reinterpret_cast<const char *>(m_inStaging), n));
    std::memset(m_inStaging, 0xEE, sizeof m_inStaging);
}

void FakeFx2::timeoutStart() {
    m_deadline = m_now + uint64_t(HW_BUS_TIMEOUT_UNITS) * WIRE_WAIT_UNIT_US;
}

void FakeFx2::delay(uint16_t units) {
    m_bus.pause(uint32_t(units) * WIRE_WAIT_UNIT_US);
    m_now += uint64_t(units) * WIRE_WAIT_UNIT_US;
}

void FakeFx2::setSetupPacket(const QByteArray &packet) {
    Q_ASSERT(packet.size() == 8);
    std::memcpy(m_setup, packet.constData(), 8);
}

void FakeFx2::clearEp0Outcome() {
    m_ep0Sent.clear();
    m_ep0Stalled = false;
    m_ep0Handshake = false;
}

void FakeFx2::ep0Send(uint8_t n) {
    if (n > sizeof m_ep0Buffer)
        qFatal("EP0 data stage of %u bytes", unsigned(n));
    m_ep0Sent = QByteArray(reinterpret_cast<const char *>(m_ep0Buffer), n);
}

namespace {
bool isEndpoint(uint8_t address) {
    switch (address) {
    case 0x00:
    case 0x80:
    case 0x01:
    case 0x81:
    case 0x02:
    case 0x04:
    case 0x86:
    case 0x88:
        return true;
    default:
        return false;
    }
}
} // namespace

bool FakeFx2::endpointHalt(uint8_t address, uint8_t *isHalted) const {
    if (!isEndpoint(address))
        return false;
    *isHalted = m_halts.value(address, false);
    return true;
}

bool FakeFx2::setEndpointHalt(uint8_t address, bool on) {
    if (!isEndpoint(address))
        return false;
    m_halts[address] = on;
    return true;
}

// The hardware layer of the host build.
extern "C" {
uint8_t hw_i2c_status(void) {
    return current->i2cStatus();
}
void hw_i2c_set(uint8_t bits) {
    current->i2cSet(bits);
}
uint8_t hw_i2c_read(void) {
    return current->i2cRead();
}
void hw_i2c_write(uint8_t b) {
    current->i2cWrite(b);
}
void hw_i2c_clock(uint8_t fast) {
    current->i2cClock(fast != 0);
}
uint8_t hw_port_a(void) {
    return current->portA();
}
void hw_port_a_outputs(uint8_t mask) {
    current->setPortAOutputs(mask);
}
uint8_t hw_out_ready(void) {
    return current->outReady();
}
const uint8_t *hw_out_buffer(void) {
    return current->outBuffer();
}
uint16_t hw_out_count(void) {
    return current->outCount();
}
void hw_out_release(void) {
    current->outRelease();
}
uint8_t hw_in_ready(void) {
    return 1;
}
uint8_t *hw_in_buffer(void) {
    return current->inBuffer();
}
void hw_in_commit(uint16_t n) {
    current->inCommit(n);
}
uint8_t hw_high_speed(void) {
    return current->highSpeed();
}
const uint8_t *hw_setup_packet(void) {
    return current->setupPacket();
}
uint8_t *hw_ep0_buffer(void) {
    return current->ep0Buffer();
}
void hw_ep0_stall(void) {
    current->ep0Stall();
}
void hw_ep0_handshake(void) {
    current->ep0ReleaseHandshake();
}
void hw_ep0_send(uint8_t n) {
    current->ep0Send(n);
}
uint8_t hw_endpoint_halt(uint8_t address, uint8_t *halted) {
    return current->endpointHalt(address, halted);
}
uint8_t hw_endpoint_set_halt(uint8_t address, uint8_t on) {
    return current->setEndpointHalt(address, on != 0);
}
void hw_copy(uint8_t *dst, const uint8_t *src, uint16_t n) {
    std::memmove(dst, src, n);
}
void hw_delay_units(uint16_t n) {
    current->delay(n);
}
void hw_timeout_start(void) {
    current->timeoutStart();
}
uint8_t hw_timeout_expired(void) {
    return current->timeoutExpired();
}
}
