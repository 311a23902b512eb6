#include "TemperatureSensor.h"

TemperatureSensor::TemperatureSensor(uint8_t address)
    : address_(address), registers_{0x1900, 0x0000, 0x4B00, 0x5000} {}

bool TemperatureSensor::select(bool read, int64_t nowNs) {
    (void)nowNs;
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
