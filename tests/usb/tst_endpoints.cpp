#include "CCyBulkEndPoint.h"
#include "CCyControlEndPoint.h"
#include "CCyIsocEndPoint.h"
#include "ControlCode.h"
#include "ScriptedDriverPort.h"
#include "TestRunner.h"

#include <QtTest>

#include <memory>

namespace {

QByteArray hex(const char *text) {
    return QByteArray::fromHex(text);
}

std::unique_ptr<CCyUSBEndPoint> makeEndPoint(ScriptedDriverPort &port, const QString &kind,
                                             int address, int maxPacket = 512,
                                             DriverPort::Handle handle = 1) {
    const uint8_t type = kind == QLatin1String("isoc") ? 1 : 2;
    const uint8_t descriptor[7] = {
        7, 5, uint8_t(address), type, uint8_t(maxPacket & 0xFF), uint8_t(maxPacket >> 8), 0};
    if (kind == QLatin1String("control"))
        return std::make_unique<CCyControlEndPoint>(port, handle);
    if (kind == QLatin1String("isoc"))
        return std::make_unique<CCyIsocEndPoint>(port, handle, descriptor);
    return std::make_unique<CCyBulkEndPoint>(port, handle, descriptor);
}

} // namespace

class TestEndpoints : public QObject {
    Q_OBJECT

private slots:
    void requestBlockBytes_data();
    void requestBlockBytes();
    void controlSetup_data();
    void controlSetup();
    void packetSize_data();
    void packetSize();
    void byteCounts_data();
    void byteCounts();
    void timeOut_data();
    void timeOut();
    void startOutcome_data();
    void startOutcome();
    void withoutHandleNothingReachesTheDriver();
    void requestsThatCannotBeExpressed_data();
    void requestsThatCannotBeExpressed();
};

void TestEndpoints::requestBlockBytes_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("maxPacket");
    QTest::addColumn<int>("useDirect");
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<uint>("code");
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<uint>("outLength");
    QTest::addColumn<bool>("outIsBlock");

    // Header: setup(8) seconds(4) reserved(1) endpoint(1) system(4) usb(4)
    //         table offset(4) table length(4) data offset(4) data length(4)
    QTest::newRow("control IN, 1 byte, inquiry")
        << "control" << 0 << 64 << 0 << hex("5A") << uint(ControlCode::ControlTransfer)
        << hex("C0 00 0000 0000 0100 0A000000 00 00 00000000 00000000 00000000 00000000 "
               "26000000 01000000 5A")
        << 39u << true;
    QTest::newRow("buffered bulk OUT, 3 bytes")
        << "bulk" << 0x02 << 512 << 0 << hex("ABCDEF") << uint(ControlCode::BufferedTransfer)
        << hex("0000000000000000 00000000 00 02 00000000 00000000 00000000 00000000 "
               "26000000 03000000 ABCDEF")
        << 41u << true;
    QTest::newRow("direct bulk IN, 4 bytes")
        << "bulk" << 0x86 << 512 << 1 << hex("00000000") << uint(ControlCode::DirectTransfer)
        << hex("0000000000000000 00000000 00 86 00000000 00000000 00000000 00000000 "
               "00000000 00000000")
        << 4u << false;
    // 5 bytes in packets of 2: three packets, a 24-byte table before the data.
    QTest::newRow("isochronous buffered, 3 packets")
        << "isoc" << 0x03 << 2 << 0 << hex("0102030405") << uint(ControlCode::BufferedTransfer)
        << hex("0000000000000000 00000000 00 03 00000000 00000000 26000000 18000000 "
               "3E000000 05000000 "
               "000000000000000000000000000000000000000000000000 0102030405")
        << 67u << true;
    QTest::newRow("isochronous direct, 3 packets")
        << "isoc" << 0x83 << 2 << 1 << hex("0000000000") << uint(ControlCode::DirectTransfer)
        << hex("0000000000000000 00000000 00 83 00000000 00000000 26000000 18000000 "
               "00000000 00000000 "
               "000000000000000000000000000000000000000000000000")
        << 5u << false;
}

void TestEndpoints::requestBlockBytes() {
    QFETCH(QString, kind);
    QFETCH(int, address);
    QFETCH(int, maxPacket);
    QFETCH(int, useDirect);
    QFETCH(QByteArray, buffer);
    QFETCH(uint, code);
    QFETCH(QByteArray, block);
    QFETCH(uint, outLength);
    QFETCH(bool, outIsBlock);

    ScriptedDriverPort port;
    auto endPoint = makeEndPoint(port, kind, address, maxPacket);
    endPoint->useDirect = uint32_t(useDirect);
    if (auto *control = dynamic_cast<CCyControlEndPoint *>(endPoint.get())) {
        control->direction = 1;
        control->requestType = 2;
        control->recipient = 0;
    }
    int length = int(buffer.size());
    endPoint->transfer(reinterpret_cast<uint8_t *>(buffer.data()), length);

    QCOMPARE(port.starts.size(), 1);
    QCOMPARE(port.starts[0].code, code);
    QCOMPARE(port.starts[0].in.toHex(' '), block.toHex(' '));
    QCOMPARE(port.starts[0].outLength, outLength);
    QCOMPARE(port.starts[0].outIsIn, outIsBlock);
}

void TestEndpoints::controlSetup_data() {
    QTest::addColumn<uint>("direction");
    QTest::addColumn<uint>("requestType");
    QTest::addColumn<uint>("recipient");
    QTest::addColumn<uint>("timeoutMs");
    QTest::addColumn<int>("bmRequestType");
    QTest::addColumn<uint>("seconds");

    QTest::newRow("vendor IN device, 10000 ms") << 1u << 2u << 0u << 10000u << 0xC0 << 10u;
    QTest::newRow("vendor OUT device, 500 ms") << 0u << 2u << 0u << 500u << 0x40 << 1u;
    QTest::newRow("standard IN interface, 0 ms") << 1u << 0u << 1u << 0u << 0x81 << 0u;
    QTest::newRow("class OUT endpoint, 999 ms") << 0u << 1u << 2u << 999u << 0x22 << 1u;
    QTest::newRow("1999 ms rounds down") << 0u << 0u << 0u << 1999u << 0x00 << 1u;
    QTest::newRow("fields wider than their bits") << 3u << 7u << 0x3Fu << 12345u << 0xFF << 12u;
}

void TestEndpoints::controlSetup() {
    QFETCH(uint, direction);
    QFETCH(uint, requestType);
    QFETCH(uint, recipient);
    QFETCH(uint, timeoutMs);
    QFETCH(int, bmRequestType);
    QFETCH(uint, seconds);

    ScriptedDriverPort port;
    CCyControlEndPoint control(port, 1);
    control.direction = direction;
    control.requestType = requestType;
    control.recipient = recipient;
    control.request = 0xA0;
    control.value = 0xE600;
    control.index = 0x1234;
    control.timeoutMs = timeoutMs;
    uint8_t byte = 1;
    int length = 1;
    control.transfer(&byte, length);

    QCOMPARE(port.starts.size(), 1);
    const QByteArray block = port.starts[0].in;
    QCOMPARE(uint8_t(block[0]), uint8_t(bmRequestType));
    QCOMPARE(block.mid(1, 7).toHex(), QByteArray("a000e634120100"));
    QCOMPARE(RequestBlock::read32(reinterpret_cast<const uint8_t *>(block.constData()), 8),
             seconds);
    QCOMPARE(control.isIn, direction == 1);
}

void TestEndpoints::packetSize_data() {
    QTest::addColumn<int>("wMaxPacketSize");
    QTest::addColumn<int>("packetsPerFrame");
    QTest::addColumn<int>("maxPacketSize");

    QTest::newRow("0x0200: one packet of 512") << 0x0200 << 1 << 512;
    QTest::newRow("0x1200: three packets of 512") << 0x1200 << 3 << 1536;
    QTest::newRow("0x0040: full-speed 64") << 0x0040 << 1 << 64;
    QTest::newRow("0x0C00: two packets of 1024") << 0x0C00 << 2 << 2048;
    QTest::newRow("0xFFFF: reserved bits ignored") << 0xFFFF << 4 << 8188;
}

void TestEndpoints::packetSize() {
    QFETCH(int, wMaxPacketSize);
    QFETCH(int, packetsPerFrame);
    QFETCH(int, maxPacketSize);

    ScriptedDriverPort port;
    const uint8_t descriptor[7] = {
        7, 5, 0x86, 2, uint8_t(wMaxPacketSize & 0xFF), uint8_t(wMaxPacketSize >> 8), 9};
    CCyBulkEndPoint endPoint(port, 1, descriptor);
    QCOMPARE(int(endPoint.packetsPerFrame), packetsPerFrame);
    QCOMPARE(int(endPoint.maxPacketSize), maxPacketSize);
    QCOMPARE(int(endPoint.interval), 9);
    QVERIFY(endPoint.isIn);
    QCOMPARE(endPoint.timeoutMs, 10000u);
    QCOMPARE(endPoint.useDirect, 1u);
}

void TestEndpoints::byteCounts_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("useDirect");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<qint64>("byteCount"); // what the driver says it returned
    QTest::addColumn<bool>("fetchOk");
    QTest::addColumn<uint>("usbStatus");
    QTest::addColumn<uint>("systemStatus");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("buffer"); // the caller's 6 bytes afterwards

    const QByteArray untouched = hex("EEEEEEEEEEEE");
    QTest::newRow("buffered IN, whole block back")
        << 0x86 << 0 << hex("010203040506") << qint64(44) << true << 0u << 0u << true << 6
        << hex("010203040506");
    QTest::newRow("buffered IN, byte count 0") << 0x86 << 0 << hex("010203040506") << qint64(0)
                                               << true << 0u << 0u << true << 0 << untouched;
    QTest::newRow("buffered IN, header only")
        << 0x86 << 0 << QByteArray() << qint64(38) << true << 0u << 0u << true << 0 << untouched;
    QTest::newRow("buffered IN, short of the header")
        << 0x86 << 0 << hex("0102") << qint64(20) << true << 0u << 0u << true << 0 << untouched;
    QTest::newRow("buffered IN, two bytes") << 0x86 << 0 << hex("0102") << qint64(40) << true << 0u
                                            << 0u << true << 2 << hex("0102EEEEEEEE");
    QTest::newRow("buffered IN, count beyond the block")
        << 0x86 << 0 << hex("010203040506") << qint64(1000) << true << 0u << 0u << true << 6
        << hex("010203040506");
    QTest::newRow("direct IN") << 0x86 << 1 << hex("0A0B0C") << qint64(3) << true << 0u << 0u
                               << true << 3 << hex("0A0B0CEEEEEE");
    QTest::newRow("direct IN, count beyond the buffer")
        << 0x86 << 1 << hex("0A0B0C") << qint64(99) << true << 0u << 0u << true << 6
        << hex("0A0B0CEEEEEE");
    QTest::newRow("buffered OUT leaves the buffer alone")
        << 0x02 << 0 << hex("010203040506") << qint64(44) << true << 0u << 0u << true << 6
        << untouched;
    QTest::newRow("USB status set") << 0x86 << 0 << hex("0102") << qint64(40) << true << 1u << 0u
                                    << false << 2 << hex("0102EEEEEEEE");
    QTest::newRow("system status set") << 0x86 << 1 << hex("0102") << qint64(2) << true << 0u << 6u
                                       << false << 2 << hex("0102EEEEEEEE");
    QTest::newRow("byte count not fetched") << 0x86 << 1 << hex("0102") << qint64(2) << false << 0u
                                            << 0u << false << 2 << hex("0102EEEEEEEE");
}

void TestEndpoints::byteCounts() {
    QFETCH(int, address);
    QFETCH(int, useDirect);
    QFETCH(QByteArray, reply);
    QFETCH(qint64, byteCount);
    QFETCH(bool, fetchOk);
    QFETCH(uint, usbStatus);
    QFETCH(uint, systemStatus);
    QFETCH(bool, ok);
    QFETCH(int, length);
    QFETCH(QByteArray, buffer);

    ScriptedDriverPort port;
    port.reply = reply;
    port.resultBytes = byteCount;
    port.resultOk = fetchOk;
    port.usbStatusWord = usbStatus;
    port.systemStatusWord = systemStatus;
    auto endPoint = makeEndPoint(port, QStringLiteral("bulk"), address);
    endPoint->useDirect = uint32_t(useDirect);

    QByteArray data = hex("EEEEEEEEEEEE");
    int transferred = int(data.size());
    QCOMPARE(endPoint->transfer(reinterpret_cast<uint8_t *>(data.data()), transferred), ok);
    QCOMPARE(transferred, length);
    QCOMPARE(endPoint->bytesTransferred, uint32_t(length));
    QCOMPARE(data.toHex(), buffer.toHex());
    QCOMPARE(endPoint->usbStatus, usbStatus);
    QCOMPARE(endPoint->systemStatus, systemStatus);
}

void TestEndpoints::timeOut_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("address");
    QTest::addColumn<uint>("timeoutMs");
    QTest::addColumn<bool>("timesOut");

    QTest::newRow("bulk IN times out") << "bulk" << 0x86 << 10000u << true;
    QTest::newRow("bulk OUT times out, short time-out") << "bulk" << 0x04 << 250u << true;
    QTest::newRow("control request times out") << "control" << 0x00 << 10000u << true;
    QTest::newRow("bulk IN in time") << "bulk" << 0x86 << 10000u << false;
}

void TestEndpoints::timeOut() {
    QFETCH(QString, kind);
    QFETCH(int, address);
    QFETCH(uint, timeoutMs);
    QFETCH(bool, timesOut);

    ScriptedDriverPort port;
    if (timesOut)
        port.waitResults = {DriverPort::WaitResult::TimedOut};
    auto endPoint = makeEndPoint(port, kind, address);
    endPoint->timeoutMs = timeoutMs;
    uint8_t buffer[4] = {};
    int length = 4;

    QCOMPARE(endPoint->transfer(buffer, length), !timesOut);
    const QVector<int> expectedWaits = timesOut
                                           ? QVector<int>{int(timeoutMs), DriverPort::WaitForever}
                                           : QVector<int>{int(timeoutMs)};
    QCOMPARE(port.waits, expectedWaits);
    QCOMPARE(port.ioCalls.size(), timesOut ? 1 : 0);
    if (timesOut) {
        QCOMPARE(port.ioCalls[0].code, ControlCode::AbortEndpoint);
        QCOMPARE(port.ioCalls[0].in, QByteArray(1, char(address)));
        QCOMPARE(port.ioCalls[0].outLength, 0u);
    }
    // The request is ended before its block is freed.
    QCOMPARE(port.releases, 1);
}

void TestEndpoints::startOutcome_data() {
    QTest::addColumn<uint>("startError");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("waits");

    QTest::newRow("completed at once") << uint(DriverPort::NoError) << true << 0;
    QTest::newRow("pending, then signalled") << uint(DriverPort::IoPending) << true << 1;
    QTest::newRow("refused by the driver") << uint(DriverPort::RequestFailed) << false << 0;
    QTest::newRow("stale handle") << uint(DriverPort::BadHandle) << false << 0;
}

void TestEndpoints::startOutcome() {
    QFETCH(uint, startError);
    QFETCH(bool, ok);
    QFETCH(int, waits);

    ScriptedDriverPort port;
    port.startError = startError;
    port.reply = hex("0102");
    CCyBulkEndPoint endPoint(port, 1,
                             reinterpret_cast<const uint8_t *>("\x07\x05\x86\x02\x00\x02\x00"));
    uint8_t buffer[2] = {};
    int length = 2;
    QCOMPARE(endPoint.transfer(buffer, length), ok);
    QCOMPARE(port.waits.size(), waits);
    QCOMPARE(endPoint.lastError, startError);
    QVERIFY(port.ioCalls.isEmpty());
}

void TestEndpoints::withoutHandleNothingReachesTheDriver() {
    ScriptedDriverPort port;
    auto endPoint =
        makeEndPoint(port, QStringLiteral("bulk"), 0x86, 512, DriverPort::InvalidHandle);
    CCyControlEndPoint control(port, DriverPort::InvalidHandle);
    uint8_t buffer[8] = {};
    int length = 8;
    QVERIFY(!endPoint->transfer(buffer, length));
    QCOMPARE(length, 0);
    length = 8;
    QVERIFY(!control.transfer(buffer, length));
    QCOMPARE(length, 0);
    endPoint->abort();
    QVERIFY(port.starts.isEmpty());
    QVERIFY(port.ioCalls.isEmpty());
}

void TestEndpoints::requestsThatCannotBeExpressed_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("maxPacket");
    QTest::addColumn<int>("length");

    QTest::newRow("isochronous, zero packets") << "isoc" << 512 << 0;
    QTest::newRow("isochronous, packet size 0 in the descriptor") << "isoc" << 0 << 100;
    QTest::newRow("control longer than wLength can say") << "control" << 64 << 0x10000;
    QTest::newRow("negative length") << "bulk" << 512 << -1;
}

void TestEndpoints::requestsThatCannotBeExpressed() {
    QFETCH(QString, kind);
    QFETCH(int, maxPacket);
    QFETCH(int, length);

    ScriptedDriverPort port;
    auto endPoint = makeEndPoint(port, kind, 0x83, maxPacket);
    std::vector<uint8_t> buffer(size_t(std::max(length, 0)) + 1);
    int n = length;
    QVERIFY(!endPoint->transfer(buffer.data(), n));
    QCOMPARE(n, 0);
    QVERIFY(port.starts.isEmpty());
}

int runEndpointTests(int argc, char **argv) {
    TestEndpoints test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_endpoints.moc"
