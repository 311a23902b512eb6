#include "ScanStream.h"

#include "adapter_wire.h"

#include <QCoreApplication>

namespace {

QString escapeAloneText() {
    return QCoreApplication::translate("Brantle", "Error: 0x00 of the escape code is used alone. ");
}

} // namespace

void scanStream(QByteArray &stream, bool merge, int *readCount, const unsigned char *data) {
    const int size = int(stream.size());
    bool reading = false;
    bool addressNext = false;
    int k = 0;
    *readCount = 0;

    int i = 0;
    while (i < size) {
        int length = 1;
        const auto byte = quint8(stream.at(i));
        if (byte == WireEscape && i + 1 >= size)
            throw escapeAloneText();
        if (byte == WireEscape && quint8(stream.at(i + 1)) != CmdZeroByte) {
            length = 2;
            const auto code = quint8(stream.at(i + 1));
            if (code == CmdStart) {
                addressNext = true;
                reading = false;
            } else if (code == CmdWait) {
                // The parameter block says how long it is; its count bytes
                // may be anything, 0x00 and 0xFF included. A block that would
                // not move the scan forward, or would run past the end, is no
                // block at all.
                if (i + 2 >= size)
                    throw escapeAloneText();
                length += qint8(stream.at(i + 2));
                if (length <= 0 || i + length > size)
                    throw escapeAloneText();
            }
        } else {
            if (byte == WireEscape)
                length = 2; // 00 00: the bus byte 0x00
            const auto busByte = quint8(stream.at(i + length - 1));
            if (reading) {
                if (busByte != WIRE_READ_PLACEHOLDER)
                    throw QCoreApplication::translate(
                        "Brantle", "Error: The data part of the I2C read is not 0xFF. ");
                ++*readCount;
                if (merge)
                    stream[i] = char(data[k++]);
            } else if (addressNext) {
                addressNext = false;
                if (busByte & 1)
                    reading = true;
            }
        }
        i += length;
    }
}
