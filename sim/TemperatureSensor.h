#ifndef BRANTLE_SIM_TEMPERATURESENSOR_H
#define BRANTLE_SIM_TEMPERATURESENSOR_H

#include "I2cSlave.h"

#include <array>
#include <cstdint>
#include <random>

// A temperature sensor with a register pointer and four 16-bit registers
// (0 = temperature, read-only; 1 = configuration; 2, 3 = limits), read and
// written high byte first. The first byte of a write sets the pointer.
class TemperatureSensor : public I2cSlave {
public:
    // How the temperature moves. With drift and noise 0 (the default) it
    // stays where setTemperatureRegister put it, as tests want; otherwise it
    // is taken afresh each time the temperature register is read:
    //   start + a slow drift of `driftPerMinute` degrees a minute that turns
    //   back every `turnMinutes` (so it wanders, bounded, rather than runs
    //   off), + uniform noise within +-`noise` degrees from a generator
    //   seeded with `seed`,
    // then rounded to the register's half degrees and held to -55..125.
    struct Settings {
        double start = 25.0;
        double driftPerMinute = 0.0;
        double noise = 0.0;
        uint32_t seed = 1;
        double turnMinutes = 5.0;
        bool moves() const { return driftPerMinute != 0.0 || noise != 0.0; }
    };

    explicit TemperatureSensor(uint8_t address = 0x48);
    TemperatureSensor(uint8_t address, const Settings &settings);

    // Starts the temperature afresh from `settings`, time counted from the
    // next reading.
    void setSettings(const Settings &settings);
    const Settings &settings() const { return settings_; }
    // The temperature `elapsedNs` after the first reading, before noise and
    // rounding.
    double driftAt(int64_t elapsedNs) const;

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
    void sample(int64_t nowNs);

    uint8_t address_;
    Settings settings_;
    std::mt19937 random_;
    bool started_ = false;
    int64_t startNs_ = 0;
    std::array<uint16_t, 4> registers_;
    int pointer_ = 0;
    int byteIndex_ = 0;
    bool pointerNext_ = false;
};

#endif
