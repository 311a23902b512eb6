#ifndef BRANTLE_SIM_I2CBUS_H
#define BRANTLE_SIM_I2CBUS_H

#include "I2cSlave.h"

#include <QString>
#include <QVector>

#include <cstdint>
#include <memory>

// One recorded piece of bus activity. Two records compare equal when they
// describe the same activity; the time stamp is left out of the comparison so
// that a host-compiled firmware and the reference core, whose bookkeeping
// between bytes differs, can be compared event for event.
struct I2cEvent {
    enum Kind {
        Start,         // START from an idle bus
        RepeatedStart, // START while the bus is still owned
        Stop,
        Write,    // `byte` written by the controller, `ack` = the slave acknowledged
        Read,     // `byte` read from the bus, `ack` = the controller acknowledged it
        BusError, // the controller reported a bus error instead of the byte
        Stall     // the controller gave up waiting while SCL was held low
    };
    Kind kind = Start;
    uint8_t byte = 0;
    bool ack = false;
    int64_t atNs = 0; // bus time at which the event ended
    // How long its own signalling took (after any wait for a held SCL): one
    // bit time for a condition, nine for a byte at the clock rate of the moment.
    int64_t durationNs = 0;

    bool operator==(const I2cEvent &other) const {
        return kind == other.kind && byte == other.byte && ack == other.ack;
    }
    bool operator!=(const I2cEvent &other) const { return !(*this == other); }

    // Compact form: "S", "Sr", "P", "A2+" / "A2-" (written, acked / not),
    // "r5A+" / "r5A-" (read, controller acked / not), "BERR", "STALL".
    QString toString() const;
};

// How busy a stretch of recorded activity kept the bus: the time from the
// beginning of its first START to the end of its last STOP, against the least
// its bytes and conditions need (9 bit times a byte, one bit time for each
// START, repeated START and STOP).
struct I2cBusOccupancy {
    int64_t spanNs = 0;
    int64_t neededNs = 0;
    int bytes = 0;
    int conditions = 0;

    // 0 when the events hold no START ... STOP.
    double ratio() const { return spanNs > 0 ? double(neededNs) / double(spanNs) : 0.0; }
    double idleNsPerByte() const {
        return bytes > 0 ? double(spanNs - neededNs) / double(bytes) : 0.0;
    }
    static I2cBusOccupancy of(const QVector<I2cEvent> &events, int64_t bitTimeNs);
};

// Outcome of one controller operation, as the controller's status register
// would show it once the operation is over.
struct I2cResult {
    bool done = true;      // false: SCL held low longer than the controller waits
    bool ack = false;      // written byte: slave acknowledged
    bool busError = false; // BERR
    uint8_t data = 0xFF;   // read byte
};

// A simulated I2C bus driven by one controller. The operations are the
// controller's primitive steps, so that the reference core and a
// host-compiled firmware (through a fake controller) can drive it alike.
// Bus time advances with every operation: 9 bit times per byte, one bit time
// for a START, repeated START or STOP.
class I2cBus {
public:
    // How long a controller waits for a slave that holds SCL low before it
    // gives up on the operation.
    static constexpr int64_t ControllerTimeoutNs = 25'000'000;
    static constexpr int64_t Forever = INT64_MAX;
    // The event log keeps at least this many of the latest events.
    static constexpr int DefaultEventCapacity = 4096;

    I2cBus();

    void attach(std::shared_ptr<I2cSlave> slave);
    void detach(uint8_t address);
    I2cSlave *slave(uint8_t address) const;

    // 100 kHz or 400 kHz (any positive rate is accepted).
    void setClockHz(int hz);
    int clockHz() const { return clockHz_; }
    int64_t bitTimeNs() const { return 1'000'000'000LL / clockHz_; }

    // START (repeated START when the bus is owned), then the address byte.
    I2cResult start(uint8_t addressByte);
    I2cResult write(uint8_t byte);
    // `ack`: the controller acknowledges the byte (more to read) or not (last).
    I2cResult read(bool ack);
    I2cResult stop();
    bool owned() const { return owned_; }

    // Bus time.
    int64_t nowNs() const { return nowNs_; }
    void elapse(int64_t ns);
    void advanceTo(int64_t ns);

    // Fault injection. A slave holds SCL low for `ns` of bus time from now
    // (Forever: until released); operations meanwhile wait for it, and give
    // up after ControllerTimeoutNs.
    void holdSclLow(int64_t ns = Forever);
    void releaseScl() { sclHeldNs_ = 0; }
    bool sclHeldLow() const { return sclHeldNs_ > 0; }
    // When a slave holding SCL lets go (Forever: not foreseen).
    int64_t sclReleaseNs() const { return sclHeldNs_ == Forever ? Forever : nowNs_ + sclHeldNs_; }
    // How long the controller waits for a held SCL before it gives up on an
    // operation (ControllerTimeoutNs by default). With Forever, an operation
    // meeting an SCL held for good does nothing and reports done = false, so
    // that the controller can try it again once SCL is released.
    void setControllerPatienceNs(int64_t ns) { patienceNs_ = ns > 0 ? ns : 0; }
    // The n-th next byte operation (1 = the next) ends in a bus error.
    void injectBusError(int nth = 1);

    // The latest events, oldest first: a long-running bus keeps at least
    // the capacity's worth and forgets older ones.
    const QVector<I2cEvent> &events() const { return events_; }
    QString eventsText() const;
    void clearEvents() { events_.clear(); }
    void setEventCapacity(int events) { eventCapacity_ = events > 0 ? events : 1; }

private:
    bool waitForScl(I2cResult &result);
    bool clockByte(I2cResult &result);
    bool takeBusError();
    void record(I2cEvent::Kind kind, int64_t durationNs, uint8_t byte = 0, bool ack = false);

    QVector<std::shared_ptr<I2cSlave>> slaves_;
    I2cSlave *selected_ = nullptr;
    bool selectedForRead_ = false;
    bool owned_ = false;
    int clockHz_ = 400000;
    int64_t nowNs_ = 0;
    int64_t sclHeldNs_ = 0;
    int busErrorIn_ = 0;
    int64_t patienceNs_ = ControllerTimeoutNs;
    QVector<I2cEvent> events_;
    int eventCapacity_ = DefaultEventCapacity;
};

#endif
