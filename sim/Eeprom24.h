#ifndef BRANTLE_SIM_EEPROM24_H
#define BRANTLE_SIM_EEPROM24_H

#include "I2cSlave.h"

#include <QByteArray>

#include <functional>
#include <memory>

// A 24-series serial EEPROM (8 KiB with two address bytes at 0x51 by
// default). Written bytes collect in the page latch and go to the array at
// STOP, which starts the internal write cycle; during the cycle the chip does
// not acknowledge its address (acknowledge polling). A part larger than its
// address bytes reach takes the upper address bits from its device address:
// it answers at its own address for block 0 and through an Eeprom24Block for
// each further one.
class Eeprom24 : public I2cSlave {
public:
    static constexpr int DefaultSize = 8192;
    static constexpr int DefaultPageSize = 32;
    static constexpr int64_t DefaultWriteCycleNs = 5'000'000;

    // Told of every write cycle with the page it wrote, so that the
    // contents can outlive the program.
    using Store = std::function<void(int offset, const QByteArray &bytes)>;

    explicit Eeprom24(uint8_t address = 0x51, int size = DefaultSize,
                      int pageSize = DefaultPageSize, int addressBytes = 2);

    // The contents a new part has: each byte the low byte of its address.
    static QByteArray factoryContents(int size);
    int size() const { return int(memory_.size()); }
    int addressBytes() const { return addressBytes_; }
    // Device addresses the part answers at (1 to 8).
    int blockCount() const;
    void setStore(Store store) { store_ = std::move(store); }
    // The factory contents again, stored as a write cycle would store them.
    void restoreFactory();
    // select() for the device address of block `block`.
    bool selectBlock(int block, bool read, int64_t nowNs);

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
    int addressBytes_;
    int block_ = 0;
    Store store_;
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

// Block `block` of a larger part: its device address, the part's own plus
// the block number. START and STOP reach the part itself.
class Eeprom24Block : public I2cSlave {
public:
    Eeprom24Block(std::shared_ptr<Eeprom24> part, int block)
        : part_(std::move(part)), block_(block) {}
    uint8_t address() const override { return uint8_t(part_->address() + block_); }
    bool select(bool read, int64_t nowNs) override {
        return part_->selectBlock(block_, read, nowNs);
    }
    bool write(uint8_t byte, int64_t nowNs) override { return part_->write(byte, nowNs); }
    uint8_t read(bool ackedByController, int64_t nowNs) override {
        return part_->read(ackedByController, nowNs);
    }

private:
    std::shared_ptr<Eeprom24> part_;
    int block_;
};

#endif
