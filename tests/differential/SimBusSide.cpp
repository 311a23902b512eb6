#include "SimBusSide.h"

namespace {
BusReply toReply(const I2cResult &result) {
    BusReply reply;
    reply.ack = result.ack;
    reply.busError = result.busError;
    reply.sclHeld = !result.done;
    reply.data = result.data;
    return reply;
}
} // namespace

BusReply SimBusSide::start(bool repeated) {
    // Whether the START is a repeated one is the bus's own business: it
    // knows whether it is owned.
    (void)repeated;
    m_startPending = true;
    return BusReply{true, false, false, 0xFF};
}

BusReply SimBusSide::write(uint8_t byte) {
    if (m_startPending) {
        m_startPending = false;
        return toReply(m_bus.start(byte));
    }
    return toReply(m_bus.write(byte));
}

BusReply SimBusSide::read(bool masterAcks) {
    return toReply(m_bus.read(masterAcks));
}

BusReply SimBusSide::stop() {
    m_startPending = false;
    return toReply(m_bus.stop());
}

void SimBusSide::pause(uint32_t microseconds) {
    m_bus.elapse(int64_t(microseconds) * 1000);
}

void SimBusSide::clock(bool fast) {
    m_bus.setClockHz(fast ? 400000 : 100000);
}
