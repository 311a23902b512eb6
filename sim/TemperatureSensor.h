#ifndef BRANTLE_SIM_TEMPERATURESENSOR_H
#define BRANTLE_SIM_TEMPERATURESENSOR_H

#include "I2cSlave.h"

#include <array>

// A temperature sensor with a register pointer and four 16-bit registers
// (0 = temperature, read-only; 1 = configuration; 2, 3 = limits), read and
// written high byte first. The first byte of a write sets the pointer.
class TemperatureSensor : public I2cSlave {
public:
    explicit TemperatureSensor(uint8_t address = 0x48);

    uint8_t address() const override { return address_; }
    bool select(bool read, int64_t nowNs) override;
    bool write(uint8_t byte, int64_t nowNs) override;
    uint8_t read(bool ackedByController, int64_t nowNs) override;

    // Register 0: integer degrees in the high byte, halves in bit 7 of the
    // low byte (25.0 degrees = 0x19 0x00).
    void setTemperatureRegister(uint16_t value) { registers_[0] = value; }
    uint16_t registerValue(int index) const { return registers_[index & 3]; }
    int pointer() const { return pointer_; }

private:
    uint8_t address_;
    std::array<uint16_t, 4> registers_;
    int pointer_ = 0;
    int byteIndex_ = 0;
    bool pointerNext_ = false;
};

#endif
