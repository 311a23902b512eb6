#include "TemperatureSensor.h"

#include <algorithm>
#include <cmath>

TemperatureSensor::TemperatureSensor(uint8_t address) : TemperatureSensor(address, Settings()) {}

TemperatureSensor::TemperatureSensor(uint8_t address, const Settings &settings)
    : address_(address), registers_{0x1900, 0x0000, 0x4B00, 0x5000} {
    setSettings(settings);
}

void TemperatureSensor::setSettings(const Settings &settings) {
    settings_ = settings;
    random_.seed(settings.seed);
    started_ = false;
    // A sensor that does not move still reads the temperature it was set to.
    const double degrees = std::clamp(std::round(settings.start * 2.0) / 2.0, -55.0, 125.0);
    registers_[0] = uint16_t(int16_t(degrees * 2.0) * 128);
}

double TemperatureSensor::driftAt(int64_t elapsedNs) const {
    const double minutes = double(elapsedNs) / 60e9;
    const double turn = settings_.turnMinutes > 0.0 ? settings_.turnMinutes : 5.0;
    // A triangle: out for `turn` minutes, back for as long, and again.
    const double phase = std::fmod(minutes, 2.0 * turn);
    const double along = phase <= turn ? phase : 2.0 * turn - phase;
    return settings_.start + settings_.driftPerMinute * along;
}

void TemperatureSensor::sample(int64_t nowNs) {
    if (!started_) {
        started_ = true;
        startNs_ = nowNs;
    }
    double degrees = driftAt(nowNs - startNs_);
    if (settings_.noise > 0.0)
        degrees +=
            std::uniform_real_distribution<double>(-settings_.noise, settings_.noise)(random_);
    degrees = std::clamp(std::round(degrees * 2.0) / 2.0, -55.0, 125.0);
    // Two's complement half degrees in the top nine bits.
    registers_[0] = uint16_t(int16_t(degrees * 2.0) * 128);
}

bool TemperatureSensor::select(bool read, int64_t nowNs) {
    // A reading converts afresh; the bytes of one read stay of one sample.
    if (read && pointer_ == 0 && settings_.moves())
        sample(nowNs);
    pointerNext_ = !read;
    byteIndex_ = 0;
    return true;
}

bool TemperatureSensor::write(uint8_t byte, int64_t nowNs) {
    (void)nowNs;
    if (pointerNext_) {
        pointer_ = byte & 3;
        pointerNext_ = false;
        byteIndex_ = 0;
        return true;
    }
    if (pointer_ == 0)
        return false; // the temperature register is read-only
    uint16_t &reg = registers_[pointer_];
    if (byteIndex_ == 0)
        reg = uint16_t((reg & 0x00FF) | (byte << 8));
    else if (byteIndex_ == 1)
        reg = uint16_t((reg & 0xFF00) | byte);
    else
        return false;
    ++byteIndex_;
    return true;
}

// Reading past the two bytes of a register repeats them.
uint8_t TemperatureSensor::read(bool ackedByController, int64_t nowNs) {
    (void)ackedByController;
    (void)nowNs;
    const uint16_t reg = registers_[pointer_];
    const uint8_t value = byteIndex_ % 2 == 0 ? uint8_t(reg >> 8) : uint8_t(reg & 0xFF);
    ++byteIndex_;
    return value;
}
