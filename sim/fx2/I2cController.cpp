#include "I2cController.h"

#include "Fx2Registers.h"

#include <climits>

using namespace fx2;

I2cController::I2cController(I2cBus &bus) : bus_(bus) {
    powerOn();
}

void I2cController::powerOn() {
    phase_ = Phase::Idle;
    startArmed_ = stopBit_ = stopAfterByte_ = lastRead_ = false;
    done_ = ack_ = busError_ = readMode_ = lastByteAcked_ = false;
    interrupt_ = false;
    data_ = 0xFF;
    diagnostics_ = Diagnostics();
    writeI2ctl(0);
    // The boot loader's look for an EEPROM: 0x50 holds one with one address
    // byte, 0x51 one with two.
    id_ = bus_.slave(0x50) ? 0x08 : bus_.slave(0x51) ? 0x10 : 0x00;
}

void I2cController::writeI2ctl(uint8_t value) {
    i2ctl_ = value & (bit::I2CTL_400KHZ | bit::I2CTL_STOPIE);
    bus_.setClockHz(i2ctl_ & bit::I2CTL_400KHZ ? 400000 : 100000);
}

uint8_t I2cController::readI2cs(int64_t nowNs) {
    advanceTo(nowNs);
    return status();
}

uint8_t I2cController::status() const {
    return uint8_t((startArmed_ ? bit::I2CS_START : 0) | (stopBit_ ? bit::I2CS_STOP : 0) |
                   (lastRead_ ? bit::I2CS_LASTRD : 0) | id_ | (busError_ ? bit::I2CS_BERR : 0) |
                   (ack_ ? bit::I2CS_ACK : 0) | (done_ ? bit::I2CS_DONE : 0));
}

// START and STOP are requests: writing 0 does not withdraw one, and writing
// 1 again (as a read-modify-write of I2CS does) does not repeat it. LASTRD
// is an ordinary bit.
void I2cController::writeI2cs(uint8_t value, int64_t nowNs) {
    advanceTo(nowNs);
    lastRead_ = value & bit::I2CS_LASTRD;
    if (value & bit::I2CS_START)
        startArmed_ = true;
    if ((value & bit::I2CS_STOP) && !stopBit_) {
        stopBit_ = true;
        if (phase_ == Phase::Idle)
            beginStop(nowNs);
        else
            stopAfterByte_ = true;
    }
}

void I2cController::writeI2dat(uint8_t value, int64_t nowNs) {
    advanceTo(nowNs);
    if (phase_ != Phase::Idle) {
        ++diagnostics_.accessWhileBusy;
        return;
    }
    done_ = false;
    busError_ = false;
    data_ = value;
    if (startArmed_) {
        startArmed_ = false;
        lastRead_ = false;
        lastByteAcked_ = false;
        readMode_ = value & 1;
        begin(Op::Start, value, nowNs);
    } else {
        begin(Op::Write, value, nowNs);
    }
}

uint8_t I2cController::readI2dat(int64_t nowNs) {
    advanceTo(nowNs);
    const uint8_t value = data_;
    if (phase_ == Phase::Stop) {
        // The reference's way to end a read: the last byte is fetched while
        // the STOP goes out, which starts nothing more.
        done_ = false;
        return value;
    }
    if (phase_ != Phase::Idle) {
        ++diagnostics_.accessWhileBusy;
        return value;
    }
    done_ = false;
    if (readMode_ && !stopBit_) {
        busError_ = false;
        if (!bus_.owned())
            ++diagnostics_.strayReads;
        begin(Op::Read, 0xFF, nowNs);
    }
    return value;
}

void I2cController::begin(Op op, uint8_t byte, int64_t nowNs) {
    op_ = op;
    opByte_ = byte;
    bus_.advanceTo(nowNs);
    // The controller itself never gives up on a held SCL; the firmware's
    // own time-out is what ends such a wait.
    bus_.setControllerPatienceNs(I2cBus::Forever);
    switch (op) {
    case Op::Start:
        result_ = bus_.start(byte);
        break;
    case Op::Write:
        result_ = bus_.write(byte);
        break;
    case Op::Read:
        result_ = bus_.read(!lastRead_);
        break;
    case Op::Stop:
        result_ = bus_.stop();
        break;
    }
    bus_.setControllerPatienceNs(I2cBus::ControllerTimeoutNs);
    if (!result_.done) {
        phase_ = Phase::WaitForScl;
        return;
    }
    phase_ = op == Op::Stop ? Phase::Stop : Phase::Byte;
    endNs_ = bus_.nowNs();
}

void I2cController::beginStop(int64_t nowNs) {
    if (lastByteAcked_)
        ++diagnostics_.stopAfterAckedRead;
    begin(Op::Stop, 0, nowNs);
}

void I2cController::finishByte() {
    phase_ = Phase::Idle;
    done_ = true;
    ack_ = result_.ack;
    busError_ = result_.busError;
    lastByteAcked_ = op_ == Op::Read && result_.ack && !result_.busError;
    if (op_ == Op::Read)
        data_ = result_.data;
    interrupt_ = true;
    if (stopAfterByte_) {
        stopAfterByte_ = false;
        beginStop(endNs_);
    }
}

void I2cController::finishStop() {
    phase_ = Phase::Idle;
    stopBit_ = false;
    lastRead_ = false;
    lastByteAcked_ = false;
    if (i2ctl_ & bit::I2CTL_STOPIE)
        interrupt_ = true;
}

bool I2cController::advanceTo(int64_t nowNs) {
    bool changed = false;
    for (;;) {
        if (phase_ == Phase::WaitForScl) {
            if (bus_.sclHeldLow())
                return changed;
            begin(op_, opByte_, nowNs);
            changed = true;
            continue;
        }
        if (phase_ == Phase::Idle || endNs_ > nowNs)
            return changed;
        if (phase_ == Phase::Byte)
            finishByte();
        else
            finishStop();
        changed = true;
    }
}

int64_t I2cController::nextEventNs() const {
    // A step waiting for SCL goes out when the slave lets go, whether or not
    // the firmware still looks at the controller.
    if (phase_ == Phase::WaitForScl)
        return bus_.sclReleaseNs();
    return phase_ == Phase::Byte || phase_ == Phase::Stop ? endNs_ : INT64_MAX;
}

bool I2cController::takeInterruptRequest() {
    const bool pending = interrupt_;
    interrupt_ = false;
    return pending;
}
