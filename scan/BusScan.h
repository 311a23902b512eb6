#ifndef BRANTLE_BUSSCAN_H
#define BRANTLE_BUSSCAN_H

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

// Finds the slaves on the bus: every 7-bit address outside the reserved
// ones (0x00-0x07 and 0x78-0x7F) is probed with a transaction of its own,
// written as a script and compiled like any send, and it answers when its
// address byte is acknowledged.
class BusScan {
public:
    // A quick write (START, the address with the write bit, STOP) disturbs
    // nothing on most chips; some take it as the start of a write, and are
    // probed with a one-byte read instead.
    enum Probe { QuickWrite, ReadByte };
    static constexpr int firstAddress = 0x08;
    static constexpr int lastAddress = 0x77;

    // Runs one command stream on the adapter: true when every written byte
    // was acknowledged. Throws what the transaction throws.
    using Transact = std::function<bool(QByteArray &stream)>;

    static QString probeScript(int address, Probe probe);
    // `clock` as the window's clock choice: 0 for 100 kHz, 1 for 400 kHz.
    static QByteArray probeStream(int address, Probe probe, int clock);

    // Probes the addresses in order and appends those that answered to
    // `answered`. A failed transaction ends the scan: its error is thrown,
    // and `answered` holds what was found before it.
    static void run(const Transact &transact, Probe probe, int clock, QVector<int> *answered);

    // The table users know from i2cdetect: a header line, then rows "00:" to
    // "70:" of 16 cells, each the address in hex where it answered, "--"
    // where it did not, blank outside the probed range. Lines end in '\n'.
    static QString grid(const QVector<int> &answered);
};

#endif
