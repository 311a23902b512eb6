#ifndef BRANTLE_TESTS_DESCRIPTORS_H
#define BRANTLE_TESTS_DESCRIPTORS_H

#include "FakeUsbStack.h"

#include <QByteArray>
#include <QString>

#include <initializer_list>

// Builders for standard USB descriptors, so tests state what a device says.
namespace Descriptors {

inline QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

inline QByteArray device(int numConfigurations, int iManufacturer = 0, int iProduct = 0,
                         int iSerial = 0) {
    return bytes({18, 1, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 64, 0xB4, 0x04, 0x13, 0x86, 0x01, 0xA0,
                  iManufacturer, iProduct, iSerial, numConfigurations});
}

inline QByteArray interface(int number, int alt, int numEndpoints, int cls = 0xFF) {
    return bytes({9, 4, number, alt, numEndpoints, cls, 0x01, 0x02, 0});
}

inline QByteArray endpoint(int address, int attributes, int maxPacket = 512) {
    return bytes({7, 5, address, attributes, maxPacket & 0xFF, maxPacket >> 8, 0});
}

// A class-specific (or any foreign) descriptor of `length` bytes.
inline QByteArray foreign(int length, int type = 0x24) {
    QByteArray b(length, '\x11');
    b[0] = char(length);
    b[1] = char(type);
    return b;
}

// A configuration descriptor in front of `body`, wTotalLength counted.
inline QByteArray configuration(const QByteArray &body, int numInterfaces = 1) {
    const int total = 9 + body.size();
    return bytes({9, 2, total & 0xFF, total >> 8, numInterfaces, 1, 0, 0x80, 50}) + body;
}

inline QByteArray string(const QString &text) {
    QByteArray b = bytes({2 + 2 * int(text.size()), 3});
    for (QChar c : text)
        b += bytes({c.unicode() & 0xFF, c.unicode() >> 8});
    return b;
}

inline QByteArray languages(std::initializer_list<int> ids) {
    QByteArray b = bytes({2 + 2 * int(ids.size()), 3});
    for (int id : ids)
        b += bytes({id & 0xFF, id >> 8});
    return b;
}

// The adapter's chip as it comes up: interface 0 with alternate settings 0-7;
// setting 1 holds EP1 OUT, EP1 IN, EP2 OUT, EP4 OUT, EP6 IN, EP8 IN.
inline QByteArray adapterConfiguration() {
    QByteArray body;
    for (int alt = 0; alt < 8; ++alt) {
        if (alt == 1) {
            body += interface(0, 1, 6) + endpoint(0x01, 2, 64) + endpoint(0x81, 2, 64) +
                    endpoint(0x02, 2) + endpoint(0x04, 2) + endpoint(0x86, 2) + endpoint(0x88, 2);
        } else {
            body += interface(0, alt, 2) + endpoint(0x01, 3, 64) + endpoint(0x81, 3, 64);
        }
    }
    return configuration(body);
}

inline FakeUsbStack::Device adapter(const QString &path, int address = 3,
                                    const QByteArray &config = adapterConfiguration()) {
    FakeUsbStack::Device d;
    d.info.path = path;
    d.info.friendlyName = QStringLiteral("I2C Adapter");
    d.info.deviceName = QStringLiteral("adapter-") + path;
    d.info.address = uint8_t(address);
    d.info.vendorId = 0x04B4;
    d.info.productId = 0x8613;
    d.descriptors[{0x0100, 0}] = device(1, 1, 2, 3);
    d.descriptors[{0x0300, 0}] = languages({0x0409});
    d.descriptors[{0x0301, 0x0409}] = string(QStringLiteral("Maker"));
    d.descriptors[{0x0302, 0x0409}] = string(QStringLiteral("Adapter"));
    d.descriptors[{0x0303, 0x0409}] = string(QStringLiteral("0001"));
    d.descriptors[{0x0200, 0}] = config;
    return d;
}

} // namespace Descriptors

#endif
