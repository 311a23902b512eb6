#ifndef BRANTLE_TESTS_ORACLE_REFERENCECORE_H
#define BRANTLE_TESTS_ORACLE_REFERENCECORE_H

#include "Fx2Core.h"
#include "I2cBus.h"

#include <QVector>

#include <deque>
#include <vector>

// The adapter firmware's behaviour, modelled in C++: the oracle the real
// firmware is compared with. Transactions arrive on EP4 OUT (4-byte header
// L, R, then the command stream), run on the I2C bus, and are answered on
// EP8 IN with R bytes from the result area. It can be driven on its own:
// feed EP4 packets with receiveOut(), collect EP8 packets with takeIn().
class ReferenceCore : public Fx2Core {
public:
    static constexpr uint8_t TransactionEndpoint = 0x04; // EP4 OUT
    static constexpr uint8_t ReplyEndpoint = 0x88;       // EP8 IN
    static constexpr int HighSpeedPacket = 512;
    static constexpr int FullSpeedPacket = 64;

    explicit ReferenceCore(I2cBus &bus);

    bool modelsFirmware() const override { return true; }
    void startUp(bool highSpeed) override;
    // Its work takes no time of its own: the clock is the bus's.
    int64_t nowNs() const override { return bus_.nowNs(); }
    void runUntil(int64_t ns) override { bus_.advanceTo(ns); }
    bool controlRequest(const UsbSetupPacket &setup, QByteArray &data) override;
    bool acceptsOut(uint8_t endpointAddress) const override;
    void receiveOut(uint8_t endpointAddress, const QByteArray &packet) override;
    bool hasIn(uint8_t endpointAddress) const override;
    QByteArray takeIn(uint8_t endpointAddress) override;

    // Header plus stream, as the host sends it.
    static QByteArray frame(const QByteArray &stream, int replyCount);
    // Sends `stream` with reply count R in packets of the current size and
    // returns everything then waiting on EP8, packets joined.
    QByteArray exchange(const QByteArray &stream, int replyCount);

    // Port A as seen from outside: levels driven onto pins configured as
    // inputs, and the output latch.
    void setPortAInputs(uint8_t levels) override { portAInputs_ = levels; }
    // Time passes with no transaction: a byte or STOP the firmware gave up
    // on while SCL was held goes out once SCL is free, as the chip's
    // controller does on its own.
    void releaseHeldStep();
    void setPortALatch(uint8_t levels) { portALatch_ = levels; }
    uint8_t portAOutputEnable() const { return portAOe_; }
    uint8_t portAPins() const override;

    bool highSpeed() const { return highSpeed_; }
    int packetSize() const { return highSpeed_ ? HighSpeedPacket : FullSpeedPacket; }
    uint8_t statusByte() const;
    // True when the last transaction gave up on a stuck controller.
    bool abandoned() const { return abandoned_; }

private:
    enum class Receive { Header, Body };

    void finishTransaction();
    void interpret(int length);
    void extended(int at, int length);
    void reply(const QByteArray &bytes);

    // Interpreter steps.
    // `last`: the byte, if a read placeholder, is its read's last.
    void flushPending(bool last = false);
    void finishRead();
    void settleBeforePort();
    // `last`: a read placeholder that ends its read although no STOP is
    // requested yet.
    void handToEngine(uint8_t byte, bool last = false);
    bool busByteFollows(int at) const;
    void completeInFlight();

    // Controller steps.
    bool waitDone();
    void controllerWrite(uint8_t byte, bool withStart);
    void triggerRead();
    void readI2dat(bool startNext);
    void doStop();
    void abandon();
    bool controllerReady();
    enum class BusOp { Start, Write, Read, Stop };
    I2cResult busOp(BusOp op, uint8_t byte = 0, bool ack = true);
    void appendResult(uint8_t byte);
    void storeRead(uint8_t byte);

    I2cBus &bus_;
    bool highSpeed_ = true;
    std::vector<uint8_t> buffer_;

    // Transaction reception.
    Receive receive_ = Receive::Header;
    QByteArray header_;
    int length_ = 0;
    int replyCount_ = 0;
    int received_ = 0;
    bool oversize_ = false;

    // Interpreter state; the flags and the clock persist between transactions.
    bool errorFlag_ = false;
    bool noAckFlag_ = false;
    bool startRequested_ = false;
    bool stopRequested_ = false;
    bool readMode_ = false;
    bool firstReadPending_ = false;
    bool pendingValid_ = false;
    uint8_t pending_ = 0;
    int resultCount_ = 0;

    // I2C controller state.
    bool inFlight_ = false;
    bool inFlightIsWrite_ = false;
    I2cResult inFlightResult_;
    bool rxLatched_ = false;
    uint8_t rxByte_ = 0xFF;
    bool lastRead_ = false;
    bool abandoned_ = false;
    bool busTaken_ = false; // a START went out and no STOP since
    BusOp inFlightOp_ = BusOp::Write;
    uint8_t inFlightByte_ = 0;
    bool inFlightAck_ = true;
    // The byte or STOP a transaction gave up on, still in the controller.
    bool owed_ = false;
    BusOp owedOp_ = BusOp::Write;
    uint8_t owedByte_ = 0;
    bool owedAck_ = true;
    int readsOwed_ = 0;

    uint8_t portAOe_ = 0;
    uint8_t portALatch_ = 0;
    uint8_t portAInputs_ = 0;

    std::deque<QByteArray> ep8_;
};

#endif
