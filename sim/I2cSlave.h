#ifndef BRANTLE_SIM_I2CSLAVE_H
#define BRANTLE_SIM_I2CSLAVE_H

#include <cstdint>

// A device on the simulated bus. The bus calls it only while it is the
// selected slave, except for start() and stop(), which every slave sees
// (a START or STOP ends whatever transfer a slave was in).
class I2cSlave {
public:
    virtual ~I2cSlave() = default;

    // 7-bit address.
    virtual uint8_t address() const = 0;

    // START or repeated START seen on the bus.
    virtual void start(int64_t nowNs) { (void)nowNs; }
    // Our address with the direction bit; true = acknowledge.
    virtual bool select(bool read, int64_t nowNs) = 0;
    // A byte written by the controller; true = acknowledge.
    virtual bool write(uint8_t byte, int64_t nowNs) = 0;
    // The next byte to put on the bus; `ackedByController` is the controller's
    // answer to it (false ends a read).
    virtual uint8_t read(bool ackedByController, int64_t nowNs) = 0;
    // STOP seen on the bus.
    virtual void stop(int64_t nowNs) { (void)nowNs; }
};

#endif
