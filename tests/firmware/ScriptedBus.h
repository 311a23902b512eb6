// A bus with scriptable slaves and faults, recording what happens on it as a
// compact text: "S" start, "Sr" repeated start, "A2+" a written byte and the
// slave's ACK ("-" for none), "<5A+" a read byte and the master's ACK,
// "P" stop, "w5000" a pause in microseconds, "!" the bus action that a fault
// hit (bus error or SCL held).
#pragma once

#include "I2cBusSide.h"

#include <QByteArray>
#include <QStringList>

#include <map>

class ScriptedBus : public I2cBusSide {
public:
    enum class Fault { None, BusError, SclHeld };

    // A slave at a 7-bit address that acknowledges and hands out data in turn
    // (0xFF once it runs out).
    void addSlave(uint8_t address7, const QByteArray &readData);
    // The n-th byte action (write or read, counted from 0) meets the fault.
    void injectFault(int byteAction, Fault fault);

    BusReply start(bool repeated) override;
    BusReply write(uint8_t byte) override;
    BusReply read(bool masterAcks) override;
    BusReply stop() override;
    void pause(uint32_t microseconds) override;

    QString log() const { return m_log.join(' '); }
    QByteArray written(uint8_t address7) const;

private:
    struct Slave {
        QByteArray readData;
        int readPos = 0;
        QByteArray written;
    };
    Fault faultNow();

    std::map<uint8_t, Slave> m_slaves;
    Slave *m_addressed = nullptr;
    bool m_expectAddress = false;
    int m_byteActions = 0;
    int m_faultAt = -1;
    Fault m_fault = Fault::None;
    QStringList m_log;
};
