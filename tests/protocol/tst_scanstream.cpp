#include "ScanStream.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

QByteArray hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text));
}

const QString escapeAlone = QStringLiteral("Error: 0x00 of the escape code is used alone. ");
const QString notPlaceholder = QStringLiteral("Error: The data part of the I2C read is not 0xFF. ");

} // namespace

class TestScanStream : public QObject {
    Q_OBJECT
private slots:
    void countsAndMerges_data();
    void countsAndMerges();
    void rejectsMalformedStreams_data();
    void rejectsMalformedStreams();
    void countingLeavesTheStreamAlone();
    void randomBytesNeverLeaveTheStream();
};

void TestScanStream::countsAndMerges_data() {
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("readCount");
    QTest::addColumn<QByteArray>("merged");

    QTest::newRow("read after repeated start")
        << hex("0001 0011 0013 A2 0000 0000 0013 A3 FF FF 0014") << hex("5A C3 00") << 2
        << hex("0001 0011 0013 A2 0000 0000 0013 A3 5A C3 0014");
    QTest::newRow("no reads") << hex("0001 0012 0013 A2 10 FF 0014") << hex("00") << 0
                              << hex("0001 0012 0013 A2 10 FF 0014");
    QTest::newRow("write address then read after a new start")
        << hex("0001 0012 0013 A2 0000 0014 0013 A3 FF 0014") << hex("99 00") << 1
        << hex("0001 0012 0013 A2 0000 0014 0013 A3 99 0014");
    QTest::newRow("zero address starts no read") << hex("0001 0012 0013 0000 FF 0014") << hex("00")
                                                 << 0 << hex("0001 0012 0013 0000 FF 0014");
    QTest::newRow("wait count bytes are skipped, also 00 and FF")
        << hex("0001 0012 0013 A3 FF 0030 0401 00FF FF 0030 0401 FF00 FF 0014")
        << hex("01 02 03 40") << 3
        << hex("0001 0012 0013 A3 01 0030 0401 00FF 02 0030 0401 FF00 03 0014");
    QTest::newRow("a stop does not end the read")
        << hex("0013 A3 FF 0014 FF") << hex("10 20 00") << 2 << hex("0013 A3 10 0014 20");
    QTest::newRow("unknown escape codes are items of two")
        << hex("0013 A3 0077 FF") << hex("AB 00") << 1 << hex("0013 A3 0077 AB");
    QTest::newRow("empty") << QByteArray() << hex("00") << 0 << QByteArray();
}

void TestScanStream::countsAndMerges() {
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, reply);
    QFETCH(int, readCount);
    QFETCH(QByteArray, merged);

    int count = -1;
    scanStream(stream, true, &count, reinterpret_cast<const unsigned char *>(reply.constData()));
    QCOMPARE(count, readCount);
    QCOMPARE(stream.toHex(' '), merged.toHex(' '));
}

void TestScanStream::rejectsMalformedStreams_data() {
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QString>("error");

    QTest::newRow("lone escape at the end") << hex("0001 0012 0013 A2 00") << escapeAlone;
    QTest::newRow("just an escape") << hex("00") << escapeAlone;
    QTest::newRow("read byte not a placeholder") << hex("0013 A3 12") << notPlaceholder;
    QTest::newRow("zero byte while reading") << hex("0013 A3 0000") << notPlaceholder;
    QTest::newRow("wait without its block") << hex("0013 A2 0030") << escapeAlone;
    QTest::newRow("wait block past the end") << hex("0013 A2 0030 0401 32") << escapeAlone;
    QTest::newRow("wait block that goes backwards") << hex("0030 FE") << escapeAlone;
    QTest::newRow("wait block of minimum length") << hex("0030 80 0000") << escapeAlone;
}

void TestScanStream::rejectsMalformedStreams() {
    QFETCH(QByteArray, stream);
    QFETCH(QString, error);
    int count = 0;
    try {
        scanStream(stream, false, &count, nullptr);
        QFAIL("accepted");
    } catch (const QString &e) {
        QCOMPARE(e, error);
    }
}

void TestScanStream::countingLeavesTheStreamAlone() {
    const QByteArray original = hex("0001 0011 0013 A2 0000 0000 0013 A3 FF FF 0014");
    QByteArray stream = original;
    int count = 0;
    scanStream(stream, false, &count, nullptr);
    QCOMPARE(count, 2);
    QCOMPARE(stream, original);
}

// Whatever the bytes, the scan ends, stays inside the array (the sanitizer
// build checks that) and writes no more reply bytes than it counts.
void TestScanStream::randomBytesNeverLeaveTheStream() {
    QRandomGenerator rng(7);
    const quint8 favourites[] = {0x00, 0x00, 0x13, 0x14, 0x30, 0xFF, 0xA3, 0x04, 0x80, 0xFE};
    for (int round = 0; round < 20000; ++round) {
        QByteArray stream(rng.bounded(0, 40), Qt::Uninitialized);
        for (char &b : stream)
            b = char(rng.bounded(3) ? favourites[rng.bounded(10)] : rng.bounded(256));
        const QByteArray reply(stream.size() + 1, char(0x5A));
        int count = -1;
        try {
            scanStream(stream, true, &count,
                       reinterpret_cast<const unsigned char *>(reply.constData()));
            QVERIFY(count >= 0 && count <= stream.size());
            QCOMPARE(int(stream.count(char(0x5A))) >= count, true);
        } catch (const QString &e) {
            QVERIFY2(e == escapeAlone || e == notPlaceholder, qPrintable(e));
        }
    }
}

QTEST_GUILESS_MAIN(TestScanStream)
#include "tst_scanstream.moc"
