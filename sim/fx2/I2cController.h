#ifndef BRANTLE_SIM_FX2_I2CCONTROLLER_H
#define BRANTLE_SIM_FX2_I2CCONTROLLER_H

#include "I2cBus.h"

#include <cstdint>

// The FX2's I2C controller (I2CS, I2DAT, I2CTL) driving the simulated bus.
// It works in chip time: writing I2DAT starts a byte that takes its bit
// times on the bus, and DONE, ACK and the received byte show in the
// registers only once the chip's clock has reached the byte's end. The bus
// itself runs ahead while a byte is in flight, so slaves see every event at
// its true time.
//
// The sequences follow the chip's technical reference: START is armed in
// I2CS and goes out with the address written to I2DAT; in read mode every
// read of I2DAT hands over the byte received and clocks in the next one,
// acknowledged unless LASTRD is set; with STOP set, reading I2DAT hands over
// the last byte without starting another, and a read that comes only after
// the STOP has completed clocks nine more SCL pulses onto the bus.
//
// Where the reference leaves the outcome open, the model decides and counts
// the case so that tests can see it: an I2DAT access while a byte is still
// in flight does not start a byte (a read returns the byte received before);
// a STOP after a byte the controller acknowledged leaves the slave believing
// more is wanted (counted, since the bus model has no bit level); LASTRD
// stays set until the next START or STOP, so every byte read meanwhile is
// not acknowledged; BERR comes with DONE and, like DONE, belongs to the
// byte: starting the next byte clears it; the ID bits tell whether an
// EEPROM answered at 0x50 (01) or 0x51 (10) at power-on.
class I2cController {
public:
    struct Diagnostics {
        int accessWhileBusy = 0;    // I2DAT read or written while a byte was in flight
        int strayReads = 0;         // nine SCL pulses clocked after the STOP (a late I2DAT read)
        int stopAfterAckedRead = 0; // STOP right after a read byte the controller acknowledged
    };

    explicit I2cController(I2cBus &bus);

    // Power-on state; looks for a boot EEPROM to set the ID bits.
    void powerOn();

    uint8_t readI2cs(int64_t nowNs);
    // I2CS as it stands, without completing what is due.
    uint8_t status() const;
    void writeI2cs(uint8_t value, int64_t nowNs);
    uint8_t readI2dat(int64_t nowNs);
    void writeI2dat(uint8_t value, int64_t nowNs);
    uint8_t readI2ctl() const { return i2ctl_; }
    void writeI2ctl(uint8_t value);

    // Completes what is due by `nowNs`; true when anything changed. Between
    // its events (nextEventNs) the registers read the same.
    bool advanceTo(int64_t nowNs);
    // When the byte or STOP in flight ends; INT64_MAX when nothing is due.
    int64_t nextEventNs() const;
    // True once per completed byte (and completed STOP with STOPIE): the
    // controller's interrupt request (EXIF.I2CINT).
    bool takeInterruptRequest();
    // Busy: a byte or STOP in flight, or an operation waiting for SCL.
    bool busy() const { return phase_ != Phase::Idle; }

    const Diagnostics &diagnostics() const { return diagnostics_; }

private:
    enum class Phase { Idle, Byte, Stop, WaitForScl };
    enum class Op { Start, Write, Read, Stop };

    void begin(Op op, uint8_t byte, int64_t nowNs);
    void beginStop(int64_t nowNs);
    void finishByte();
    void finishStop();

    I2cBus &bus_;
    Phase phase_ = Phase::Idle;
    Op op_ = Op::Write; // what is in flight, or waits for SCL
    uint8_t opByte_ = 0;
    I2cResult result_;
    int64_t endNs_ = 0; // when what is in flight ends

    bool startArmed_ = false;
    bool stopBit_ = false; // STOP requested and not yet completed
    bool stopAfterByte_ = false;
    bool lastRead_ = false;
    bool done_ = false;
    bool ack_ = false;
    bool busError_ = false;
    bool readMode_ = false;      // the last address asked for a read
    bool lastByteAcked_ = false; // the last byte was a read the controller acknowledged
    uint8_t data_ = 0xFF;
    uint8_t id_ = 0;
    uint8_t i2ctl_ = 0;
    bool interrupt_ = false;
    Diagnostics diagnostics_;
};

#endif
