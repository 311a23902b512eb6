#include "BusScan.h"

#include "Brantle2.h"

QString BusScan::probeScript(int address, Probe probe) {
    // The read placeholder reads one byte and the STOP ends the read, so the
    // slave gives the bus back as after any read.
    const int addressByte = (address << 1) | (probe == ReadByte ? 1 : 0);
    return QStringLiteral("%1 %2;")
        .arg(addressByte, 2, 16, QLatin1Char('0'))
        .arg(probe == ReadByte ? QStringLiteral("FF ") : QString())
        .toUpper();
}

QByteArray BusScan::probeStream(int address, Probe probe, int clock) {
    Brantle2 converter;
    converter.clock = clock;
    QString text = probeScript(address, probe);
    QByteArray stream;
    converter.convert(text, Brantle2::Compile, stream);
    return stream;
}

void BusScan::run(const Transact &transact, Probe probe, int clock, QVector<int> *answered) {
    for (int address = firstAddress; address <= lastAddress; ++address) {
        QByteArray stream = probeStream(address, probe, clock);
        if (transact(stream))
            answered->append(address);
    }
}

QString BusScan::grid(const QVector<int> &answered) {
    QString text = QStringLiteral("   ");
    for (int column = 0; column < 16; ++column)
        text += QStringLiteral("  %1").arg(column, 0, 16);
    text += u'\n';
    for (int row = 0; row < 0x80; row += 16) {
        text += QStringLiteral("%1:").arg(row, 2, 16, QLatin1Char('0'));
        for (int address = row; address < row + 16; ++address) {
            if (address < firstAddress || address > lastAddress)
                text += QStringLiteral("   ");
            else if (answered.contains(address))
                text += QStringLiteral(" %1").arg(address, 2, 16, QLatin1Char('0'));
            else
                text += QStringLiteral(" --");
        }
        text += u'\n';
    }
    return text;
}
