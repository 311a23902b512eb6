#ifndef BRANTLE_TESTS_SIMTESTUTIL_H
#define BRANTLE_TESTS_SIMTESTUTIL_H

#include <QByteArray>
#include <QFile>
#include <QString>

// "00 13 A2" <-> bytes, so tables read like bus traces.
inline QByteArray hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

inline QString hexText(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// A firmware image that is not all zeros and differs from byte to byte.
inline QByteArray testFirmwareImage(int size = 16384) {
    QByteArray image(size, '\0');
    uint32_t x = 0x12345678u;
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        image[i] = char(x >> 24);
    }
    return image;
}

// The adapter firmware the program carries (the test links the resources).
inline QByteArray shippedFirmwareImage() {
    QFile file(QStringLiteral(":/Brantle/IoAndFx2I2cBus.bix"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

#endif
