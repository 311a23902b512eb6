#ifndef BRANTLE_EEPROMPART_H
#define BRANTLE_EEPROMPART_H

#include <QCoreApplication>
#include <QString>
#include <QVector>

// The geometry of a 24-series serial EEPROM. Memory addresses that do not
// fit in the address bytes go in the low bits of the device address (the
// "block" bits): a 24C16 answers at eight addresses, 0x50 to 0x57, each
// holding 256 bytes of it.
struct EepromPart {
    Q_DECLARE_TR_FUNCTIONS(EepromPart)

public:
    QString name;
    int size = 0;         // bytes
    int addressBytes = 2; // 1 or 2
    int pageSize = 0;     // bytes one write may fill

    // Bytes that one device address reaches.
    int blockSize() const { return addressBytes == 1 ? 0x100 : 0x10000; }
    // Device addresses the part takes (1, 2, 4 or 8).
    int addressCount() const { return size > blockSize() ? size / blockSize() : 1; }
    // The device address of the block holding `offset`, for a part at `base`.
    int deviceAddress(int base, qint64 offset) const { return base | int(offset / blockSize()); }

    // The 24-series as the makers' data sheets give them.
    static const QVector<EepromPart> &table();
    // A name of the table (any case) or "custom:SIZE:ADDRBYTES:PAGE"; false
    // with the reason in `error` otherwise.
    static bool parse(const QString &text, EepromPart *part, QString *error);
    // Whether the part can sit at the 7-bit address `base`: its block bits
    // must be clear and every address it takes a normal one.
    bool checkAddress(int base, QString *error) const;
    // "0x50" or "0x50-0x57".
    QString addressRange(int base) const;
};

// Numbers as the command line and the bench file take them: "0x" hex or
// decimal. False when `text` is neither or the value is out of range.
bool parseNumber(const QString &text, qint64 minimum, qint64 maximum, qint64 *value);

#endif
