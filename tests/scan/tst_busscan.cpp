#include "BusScan.h"

#include <QtTest>

namespace {

// The address a probe stream goes to: opening, clock, START, then the
// address byte.
int probedAddress(const QByteArray &stream) {
    return quint8(stream.at(6)) >> 1;
}

QString gridWith(const QStringList &rows) {
    return QStringLiteral("     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n") +
           rows.join(u'\n') + u'\n';
}

} // namespace

class TestBusScan : public QObject {
    Q_OBJECT
private slots:
    void probes_data();
    void probes();
    void grid_data();
    void grid();
    void runProbesEveryAddressOnce();
    void failureEndsTheScanKeepingWhatWasFound();
};

void TestBusScan::probes_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("probe");
    QTest::addColumn<int>("clock");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("stream");
    QTest::newRow("first, quick write, 400 kHz")
        << 0x08 << int(BusScan::QuickWrite) << 1 << "10 ;" << QByteArray("00010012001310 0014");
    QTest::newRow("EEPROM, read, 100 kHz")
        << 0x51 << int(BusScan::ReadByte) << 0 << "A3 FF ;" << QByteArray("000100110013A3FF0014");
    QTest::newRow("last, quick write")
        << 0x77 << int(BusScan::QuickWrite) << 1 << "EE ;" << QByteArray("000100120013EE0014");
    QTest::newRow("last, read") << 0x77 << int(BusScan::ReadByte) << 1 << "EF FF ;"
                                << QByteArray("000100120013EFFF0014");
}

void TestBusScan::probes() {
    QFETCH(int, address);
    QFETCH(int, probe);
    QFETCH(int, clock);
    QFETCH(QString, script);
    QFETCH(QByteArray, stream);
    QCOMPARE(BusScan::probeScript(address, BusScan::Probe(probe)), script);
    QCOMPARE(BusScan::probeStream(address, BusScan::Probe(probe), clock),
             QByteArray::fromHex(stream.replace(' ', "")));
}

void TestBusScan::grid_data() {
    QTest::addColumn<QVector<int>>("answered");
    QTest::addColumn<QString>("text");
    const QString none = QStringLiteral(" --").repeated(16);
    const QString first = QStringLiteral("00:") + QString(24, u' ');
    const QString last = QString(24, u' ');
    QTest::newRow("the bench adapter")
        << QVector<int>{0x48, 0x51}
        << gridWith({first + QStringLiteral(" --").repeated(8), "10:" + none, "20:" + none,
                     "30:" + none,
                     "40:" + QStringLiteral(" --").repeated(8) + " 48" +
                         QStringLiteral(" --").repeated(7),
                     "50: -- 51" + QStringLiteral(" --").repeated(14), "60:" + none,
                     "70:" + QStringLiteral(" --").repeated(8) + last});
    QTest::newRow("nobody, and the edges answering")
        << QVector<int>{0x08, 0x3c, 0x77}
        << gridWith({first + " 08" + QStringLiteral(" --").repeated(7), "10:" + none, "20:" + none,
                     "30:" + QStringLiteral(" --").repeated(12) + " 3c" +
                         QStringLiteral(" --").repeated(3),
                     "40:" + none, "50:" + none, "60:" + none,
                     "70:" + QStringLiteral(" --").repeated(7) + " 77" + last});
}

void TestBusScan::grid() {
    QFETCH(QVector<int>, answered);
    QFETCH(QString, text);
    QCOMPARE(BusScan::grid(answered), text);
    const QStringList lines = text.split(u'\n');
    QCOMPARE(lines.size(), 10); // header, 8 rows, nothing after the last line end
    for (int i = 1; i <= 8; ++i)
        QCOMPARE(lines[i].size(), 3 + 16 * 3);
}

void TestBusScan::runProbesEveryAddressOnce() {
    for (auto probe : {BusScan::QuickWrite, BusScan::ReadByte}) {
        QVector<int> probed;
        QVector<int> answered;
        int strangeStreams = 0;
        BusScan::run(
            [&](QByteArray &stream) -> bool {
                if (stream != BusScan::probeStream(probedAddress(stream), probe, 0))
                    ++strangeStreams;
                probed << probedAddress(stream);
                return probed.last() == 0x48 || probed.last() == 0x51;
            },
            probe, 0, &answered);
        QCOMPARE(strangeStreams, 0);
        QCOMPARE(probed.size(), 0x78 - 0x08);
        QCOMPARE(probed.first(), 0x08);
        QCOMPARE(probed.last(), 0x77);
        QCOMPARE(answered, (QVector<int>{0x48, 0x51}));
    }
}

void TestBusScan::failureEndsTheScanKeepingWhatWasFound() {
    QVector<int> answered;
    int calls = 0;
    const QString error = QStringLiteral("Error: Fail to receive Brantle data from USB device.");
    try {
        BusScan::run(
            [&](QByteArray &stream) -> bool {
                ++calls;
                if (probedAddress(stream) == 0x30)
                    throw error;
                return probedAddress(stream) % 8 == 0;
            },
            BusScan::QuickWrite, 1, &answered);
        QFAIL("the failure did not end the scan");
    } catch (const QString &thrown) {
        QCOMPARE(thrown, error);
    }
    QCOMPARE(calls, 0x30 - 0x08 + 1);
    QCOMPARE(answered, (QVector<int>{0x08, 0x10, 0x18, 0x20, 0x28}));
}

QTEST_GUILESS_MAIN(TestBusScan)
#include "tst_busscan.moc"
