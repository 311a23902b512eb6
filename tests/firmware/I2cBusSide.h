// What the fake FX2 I2C controller sees of the bus: one call per bus action.
// ScriptedBus implements it for these tests; pointing the controller at the
// simulator's I2C bus model needs only another implementation.
#pragma once

#include <cstdint>

struct BusReply {
    bool ack = false;      // a written byte was acknowledged
    bool busError = false; // the controller would report BERR
    bool sclHeld = false;  // a slave holds SCL low: the action never completes
    uint8_t data = 0xFF;   // the byte read
};

class I2cBusSide {
public:
    virtual ~I2cBusSide() = default;
    virtual BusReply start(bool repeated) = 0;
    virtual BusReply write(uint8_t byte) = 0;
    virtual BusReply read(bool masterAcks) = 0;
    virtual BusReply stop() = 0;
    // The firmware's wait command: the bus stays idle this long.
    virtual void pause(uint32_t microseconds) = 0;
    // I2CTL's 400 kHz bit, for a bus that keeps time.
    virtual void clock(bool fast) { (void)fast; }
};
