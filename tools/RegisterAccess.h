#ifndef BRANTLE_REGISTERACCESS_H
#define BRANTLE_REGISTERACCESS_H

#include "BusStream.h"

#include <QCoreApplication>
#include <QString>
#include <QVector>

// Reads and writes the registers of a part the way i2cget, i2cset and
// i2cdump do: the register address (one byte, or two, high first) written,
// then the value read after a repeated START, or written after the address.
class RegisterAccess {
    Q_DECLARE_TR_FUNCTIONS(RegisterAccess)

public:
    struct Options {
        bool reg16 = false;        // two register address bytes
        bool word = false;         // 16-bit values
        bool littleEndian = false; // a word's low byte first
    };
    enum Status { Ok, NoAck, DeviceError, Differs };
    struct Result {
        Status status = Ok;
        QString message;
        int value = 0;   // get: the value; set: what was read back
        int written = 0; // set: the value written
    };
    // A dump: one value per register from `first`; -1 where the part did not
    // answer.
    struct Dump {
        Status status = Ok;
        QString message;
        int first = 0;
        QVector<int> values;
    };

    RegisterAccess(int address, int clock, Options options, BusStream::Transact transact);

    Result get(int reg);
    // With a mask other than -1: the bits outside it keep what the register
    // holds (read first), and the register is read back and compared.
    Result set(int reg, int value, int mask = -1);
    Dump dump(int first, int last);

    // The i2cdump grid: a header, then rows of 16 with an ASCII column;
    // cells outside the dump are blank, "XX" where the part did not answer.
    // Rows are named by 2 hex digits, or 4 for 16-bit register addresses.
    static QString grid(const Dump &dump, bool reg16);
    // "0x1f" or "0x1f00", as i2cget prints values.
    QString format(int value) const;

private:
    // "0x1f" or "0x001f" with 16-bit register addresses; "0x48".
    QString registerText(int reg) const;
    QString addressText() const;
    // START, the address for a write and the register address.
    void addRegister(BusStream &stream, int reg) const;
    void addRead(BusStream &stream, int reg) const;
    // Runs the stream: true when every byte was acknowledged; otherwise the
    // result says DeviceError with what failed, or NoAck with `noAck`.
    bool runAnswered(BusStream &stream, Result *result, const QString &noAck);
    int valueAt(const BusStream &stream, int index) const;

    int m_address;
    int m_clock;
    Options m_options;
    BusStream::Transact m_transact;
};

#endif
