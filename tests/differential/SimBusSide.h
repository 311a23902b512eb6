// The fake FX2 I2C controller's view of the simulator's I2C bus model, so the
// host-built firmware drives the same slave models as the reference core.
// The controller sends START and the address byte as two actions; the bus
// model takes them as one, so a START waits here for the byte after it.
#pragma once

#include "I2cBus.h"
#include "I2cBusSide.h"

class SimBusSide : public I2cBusSide {
public:
    explicit SimBusSide(I2cBus &bus) : m_bus(bus) {}

    BusReply start(bool repeated) override;
    BusReply write(uint8_t byte) override;
    BusReply read(bool masterAcks) override;
    BusReply stop() override;
    void pause(uint32_t microseconds) override;
    void clock(bool fast) override;

private:
    I2cBus &m_bus;
    bool m_startPending = false;
};
