#ifndef BRANTLE_SIM_EEPROM24_H
#define BRANTLE_SIM_EEPROM24_H

#include "I2cSlave.h"

#include <QByteArray>

// A 24-series serial EEPROM with two address bytes (8 KiB at 0x51 by
// default). Written bytes collect in the page latch and go to the array at
// STOP, which starts the internal write cycle; during the cycle the chip does
// not acknowledge its address (acknowledge polling).
class Eeprom24 : public I2cSlave {
public:
    static constexpr int DefaultSize = 8192;
    static constexpr int DefaultPageSize = 32;
    static constexpr int64_t DefaultWriteCycleNs = 5'000'000;

    explicit Eeprom24(uint8_t address = 0x51, int size = DefaultSize,
                      int pageSize = DefaultPageSize);

    uint8_t address() const override { return address_; }
    void start(int64_t nowNs) override;
    bool select(bool read, int64_t nowNs) override;
    bool write(uint8_t byte, int64_t nowNs) override;
    uint8_t read(bool ackedByController, int64_t nowNs) override;
    void stop(int64_t nowNs) override;

    // Direct access for tests; bypasses the bus and the write cycle.
    QByteArray &memory() { return memory_; }
    const QByteArray &memory() const { return memory_; }
    int pointer() const { return pointer_; }
    bool busy(int64_t nowNs) const { return nowNs < busyUntilNs_; }
    void setWriteCycleNs(int64_t ns) { writeCycleNs_ = ns; }

private:
    enum class Phase { Idle, AddressHigh, AddressLow, Data, Reading };

    uint8_t address_;
    int pageSize_;
    QByteArray memory_;
    QByteArray latch_; // page image being written
    bool latchDirty_ = false;
    int latchPage_ = 0;
    int pointer_ = 0;
    int addressHigh_ = 0;
    Phase phase_ = Phase::Idle;
    int64_t busyUntilNs_ = 0;
    int64_t writeCycleNs_ = DefaultWriteCycleNs;
};

#endif
