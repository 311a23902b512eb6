// Runs the same transactions through the firmware image we ship (on the
// emulated FX2, whose I2C controller drives the simulator's bus model),
// through the host build of the firmware logic (on a fake FX2 on the same
// bus model) and through the simulator's reference core, each on a fresh
// bus with its own EEPROM at 0x51 and temperature sensor at 0x48, and
// records what each did.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <cstdint>

struct Transaction {
    QByteArray stream; // the command stream, without the count header
    int reply = 1;     // R
    // How the host cuts it into EP4 packets: the header alone, then the
    // stream in packets of this size; or (glued) header and stream together.
    int packetSize = 512;
    bool glued = false;
    bool emptyPacketFirst = false;
    // Overrides the header's L (the count of bytes sent stays the stream's).
    int length = -1;
    // Faults set on the bus before the transaction.
    int64_t holdSclNs = 0;
    int busErrorAt = 0; // n-th byte operation from now, 0 = none
    // Bus time that passes before the transaction (the host's idle time).
    int64_t idleNs = 0;

    // Idle time and faults belong between transactions: the one before must
    // have finished, and what it left to a held SCL gone out if it can.
    bool startsQuiet() const { return idleNs || holdSclNs || busErrorAt; }
};
using Transactions = QList<Transaction>;
Q_DECLARE_METATYPE(Transactions)

struct Setup {
    bool highSpeed = true;
    uint8_t portA = 0xA5; // pin levels of port A
    int64_t eepromWriteCycleNs = 5'000'000;
    bool skipPolling = true; // the emulated chip's, to check it changes nothing
};

struct Outcome {
    QList<QByteArray> replies;     // per transaction, packets joined
    QList<QList<int>> packetSizes; // per transaction
    QString events;                // bus events, compact form
    QString timedEvents;           // the same with the bus time of each
    // Each START, byte and STOP's own duration, in order, up to the first
    // time a controller gave up on a held SCL: the operation it abandoned
    // goes out later, in each model at another moment and so perhaps at
    // another clock rate. Compared as far as both go.
    QList<int64_t> durations;
    QByteArray eeprom; // final array contents
    QList<uint16_t> sensorRegisters;
    uint8_t portAOutputs = 0;
    int64_t busNs = 0;
    bool stuck = false; // a packet never taken, or no end to the transaction
    bool clean = true;  // no CPU fault, no register the chip model lacks
    // The emulated chip's CPU cycles and instructions whenever the host took
    // or gave a packet, and the polling turns it skipped.
    QStringList cycles;
    int pollSkips = 0;

    QString describe() const;
};

Outcome runEmulated(const Transactions &transactions, const Setup &setup = Setup());
Outcome runFirmware(const Transactions &transactions, const Setup &setup = Setup());
Outcome runReference(const Transactions &transactions, const Setup &setup = Setup());

// What differs between the two, empty when nothing does. The emulated chip
// spends the firmware's real instruction time between bus operations, which
// the other two do not model: compare it without `timing`, which leaves out
// the gaps between events but not each event's own duration.
QString compareOutcomes(const Outcome &firmware, const Outcome &reference, bool timing = true);

// The EP4 packets for one transaction, as the host would send them.
QList<QByteArray> packetsOf(const Transaction &t);
