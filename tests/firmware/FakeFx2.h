// The parts of an FX2 that the firmware's hardware layer reaches, for running
// the host build of the firmware logic: the I2C controller as its registers
// I2CS/I2DAT/I2CTL show it, the EP4 OUT and EP8 IN buffers, port A, and a
// virtual clock for waits and the bus time-out. The bus behind the
// controller is any I2cBusSide.
#pragma once

#include "I2cBusSide.h"

#include <QByteArray>
#include <QList>
#include <QMap>

#include <cstdint>
#include <deque>

class FakeFx2 {
public:
    explicit FakeFx2(I2cBusSide &bus);
    ~FakeFx2();

    // USB side.
    void queueOutPacket(const QByteArray &packet) { m_out.push_back(packet); }
    int outPacketsLeft() const { return int(m_out.size()); }
    void setHighSpeed(bool on) { m_highSpeed = on; }
    const QList<QByteArray> &inPackets() const { return m_in; }
    QByteArray reply() const;

    // Control endpoint: the next setup packet, and what the firmware did
    // with it (data sent, or -1; stalled; handshake released).
    void setSetupPacket(const QByteArray &packet);
    void clearEp0Outcome();
    QByteArray ep0Sent() const { return m_ep0Sent; }
    bool ep0Stalled() const { return m_ep0Stalled; }
    bool ep0Handshake() const { return m_ep0Handshake; }
    bool halted(uint8_t address) const { return m_halts.value(address, false); }

    // Pins and clock.
    void setPortA(uint8_t levels) { m_portA = levels; }
    uint8_t portAOutputs() const { return m_oea; }
    bool fastClock() const { return m_i2ctl & 0x01; }
    uint64_t nowMicroseconds() const { return m_now; }

    // Bytes written behind the command buffer (must stay untouched).
    static bool guardIntact();

    // The hardware layer's entry points land here.
    uint8_t i2cStatus();
    void i2cSet(uint8_t bits);
    uint8_t i2cRead();
    void i2cWrite(uint8_t b);
    void i2cClock(bool fast);
    // Pins that are outputs show the port's latch, which stays at its
    // power-on 0 (the firmware never writes it).
    uint8_t portA() const { return uint8_t(m_portA & ~m_oea); }
    void setPortAOutputs(uint8_t mask) { m_oea = mask; }
    bool outReady();
    const uint8_t *outBuffer() const;
    uint16_t outCount() const;
    void outRelease();
    uint8_t *inBuffer() { return m_inStaging; }
    void inCommit(uint16_t n);
    bool highSpeed() const { return m_highSpeed; }
    void delay(uint16_t units);
    const uint8_t *setupPacket() const { return m_setup; }
    uint8_t *ep0Buffer() { return m_ep0Buffer; }
    void ep0Send(uint8_t n);
    void ep0Stall() { m_ep0Stalled = true; }
    void ep0ReleaseHandshake() { m_ep0Handshake = true; }
    bool endpointHalt(uint8_t address, uint8_t *isHalted) const;
    bool setEndpointHalt(uint8_t address, bool on);
    // Time passes with no transaction: a step left to a held SCL goes out
    // once SCL is free.
    void releaseHeldStep() { retryHeldStep(); }
    void timeoutStart();
    bool timeoutExpired() const { return m_now >= m_deadline; }

private:
    void apply(const BusReply &reply, bool isWrite);
    void finishStop();
    void retryHeldStep();

    I2cBusSide &m_bus;
    std::deque<QByteArray> m_out;
    QList<QByteArray> m_in;
    uint8_t m_inStaging[512] = {};
    bool m_highSpeed = true;
    uint8_t m_portA = 0;
    uint8_t m_oea = 0;
    uint64_t m_now = 0;
    uint64_t m_deadline = 0;
    int m_idlePolls = 0;

    uint8_t m_setup[8] = {};
    uint8_t m_ep0Buffer[64] = {};
    QByteArray m_ep0Sent;
    bool m_ep0Stalled = false;
    bool m_ep0Handshake = false;
    QMap<uint8_t, bool> m_halts;

    // Controller state.
    uint8_t m_i2ctl = 0x01;
    bool m_startPending = false;
    bool m_stopPending = false;
    bool m_lastRead = false;
    bool m_done = false;
    bool m_ack = false;
    bool m_berr = false;
    bool m_busTaken = false;
    bool m_readMode = false;
    bool m_receiving = false;
    // The step that met a held SCL, tried again once the next transaction
    // polls the controller (the chip sends it when SCL is let go).
    enum class Held { None, Address, Write, Read, Stop };
    Held m_held = Held::None;
    uint8_t m_heldByte = 0;
    bool m_heldAck = true;
    bool m_retryDue = false;
    uint8_t m_data = 0xFF;
};
