#include "Eeprom24.h"

Eeprom24::Eeprom24(uint8_t address, int size, int pageSize, int addressBytes)
    : address_(address), pageSize_(pageSize > 0 ? pageSize : DefaultPageSize),
      addressBytes_(addressBytes == 1 ? 1 : 2),
      memory_(factoryContents(size > 0 ? size : DefaultSize)) {}

QByteArray Eeprom24::factoryContents(int size) {
    // Each byte holds the low byte of its own address, so a read shows where
    // it came from.
    QByteArray bytes(size, Qt::Uninitialized);
    for (int a = 0; a < size; ++a)
        bytes[a] = char(a & 0xFF);
    return bytes;
}

void Eeprom24::restoreFactory() {
    memory_ = factoryContents(int(memory_.size()));
    if (store_)
        store_(0, memory_);
}

int Eeprom24::blockCount() const {
    const int reach = 1 << (8 * addressBytes_);
    return memory_.size() > reach ? int(memory_.size() / reach) : 1;
}

// A START before STOP aborts a write: the latched bytes never reach the array.
void Eeprom24::start(int64_t nowNs) {
    (void)nowNs;
    latchDirty_ = false;
    phase_ = Phase::Idle;
}

bool Eeprom24::select(bool read, int64_t nowNs) {
    return selectBlock(0, read, nowNs);
}

bool Eeprom24::selectBlock(int block, bool read, int64_t nowNs) {
    if (busy(nowNs)) {
        phase_ = Phase::Idle;
        return false;
    }
    block_ = block;
    if (read)
        phase_ = Phase::Reading;
    else
        phase_ = addressBytes_ == 2 ? Phase::AddressHigh : Phase::AddressLow;
    return true;
}

bool Eeprom24::write(uint8_t byte, int64_t nowNs) {
    (void)nowNs;
    const int size = memory_.size();
    switch (phase_) {
    case Phase::AddressHigh:
        addressHigh_ = byte;
        phase_ = Phase::AddressLow;
        return true;
    case Phase::AddressLow:
        // Address bits above the array size are don't-care.
        pointer_ = int(((int64_t(block_) << (8 * addressBytes_)) |
                        (addressBytes_ == 2 ? addressHigh_ << 8 : 0) | byte) %
                       size);
        phase_ = Phase::Data;
        return true;
    case Phase::Data: {
        const int page = pointer_ - pointer_ % pageSize_;
        if (!latchDirty_ || latchPage_ != page) {
            latch_ = memory_.mid(page, pageSize_);
            latchPage_ = page;
            latchDirty_ = true;
        }
        latch_[pointer_ - page] = char(byte);
        // The address counter rolls over within the page during a write.
        pointer_ = page + (pointer_ - page + 1) % pageSize_;
        return true;
    }
    case Phase::Idle:
    case Phase::Reading:
        break;
    }
    return false;
}

uint8_t Eeprom24::read(bool ackedByController, int64_t nowNs) {
    (void)nowNs;
    (void)ackedByController;
    const uint8_t value = uint8_t(memory_[pointer_]);
    // Sequential reads run on across pages and wrap at the end of the array.
    pointer_ = (pointer_ + 1) % memory_.size();
    return value;
}

void Eeprom24::stop(int64_t nowNs) {
    if (phase_ == Phase::Data && latchDirty_) {
        memory_.replace(latchPage_, latch_.size(), latch_);
        busyUntilNs_ = nowNs + writeCycleNs_;
        if (store_)
            store_(latchPage_, latch_);
    }
    latchDirty_ = false;
    phase_ = Phase::Idle;
}
