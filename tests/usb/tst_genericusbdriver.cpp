#include "CompletionRecord.h"
#include "ControlCode.h"
#include "Descriptors.h"
#include "FakeUsbStack.h"
#include "GenericUsbDriver.h"
#include "RequestBlock.h"
#include "TestRunner.h"

#include <QtTest>

#include <memory>

using namespace Descriptors;

namespace {

QByteArray hex(const char *text) {
    return QByteArray::fromHex(text);
}

// A request block as the layer builds it: header, then the data area.
QByteArray block(const QByteArray &setup, uint32_t seconds, uint8_t endpoint,
                 const QByteArray &data, uint32_t dataLength) {
    RequestBlock b(RequestBlock::HeaderSize + dataLength);
    std::memcpy(b.bytes(), setup.constData(), size_t(std::min<int>(setup.size(), 8)));
    b.setTimeoutSeconds(seconds);
    b.setEndpointAddress(endpoint);
    b.setData(RequestBlock::HeaderSize, dataLength);
    std::memcpy(b.data(), data.constData(), size_t(std::min<int>(data.size(), int(dataLength))));
    return QByteArray(reinterpret_cast<const char *>(b.bytes()), int(b.size()));
}

uint32_t field(const QByteArray &bytes, uint32_t offset) {
    return RequestBlock::read32(reinterpret_cast<const uint8_t *>(bytes.constData()), offset);
}

uint8_t *raw(QByteArray &bytes) {
    return reinterpret_cast<uint8_t *>(bytes.data());
}

struct Rig {
    FakeUsbStack stack;
    std::unique_ptr<GenericUsbDriver> driver;
    DriverPort::Handle handle = DriverPort::InvalidHandle;

    Rig() {
        stack.present.append(adapter(QStringLiteral("usb-1"), 7));
        driver = std::make_unique<GenericUsbDriver>(stack);
        handle = driver->openDevice(QStringLiteral("usb-1"));
    }
};

} // namespace

class TestGenericUsbDriver : public QObject {
    Q_OBJECT

private slots:
    void controlBlock_data();
    void controlBlock();
    void bulkRequest_data();
    void bulkRequest();
    void timeOutAndAbortOneEndpoint();
    void malformedRequestsReachNothing_data();
    void malformedRequestsReachNothing();
    void queries_data();
    void queries();
    void closingEndsRequestsAndRetiresTheHandle();
    void failedOpenKeepsTheStacksReason();
    void notificationsArriveLaterOnTheEventLoop();
    void recordsMayOutliveTheDriver();
};

void TestGenericUsbDriver::controlBlock_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<uint>("bytes");
    QTest::addColumn<uint>("usbStatus");
    QTest::addColumn<uint>("systemStatus");
    QTest::addColumn<int>("controlsSent");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("device descriptor, the whole block back")
        << block(hex("8006000100001200"), 5, 0, {}, 18) << true << 56u << 0u << 0u << 1
        << device(1, 1, 2, 3);
    QTest::newRow("device answers less than asked")
        << block(hex("8006000100004000"), 5, 0, {}, 64) << true << 56u << 0u << 0u << 1
        << device(1, 1, 2, 3);
    QTest::newRow("stalled request")
        << block(hex("8006000500000200"), 5, 0, {}, 2) << false << 38u
        << uint(DriverPort::UsbStalled) << uint(DriverPort::RequestFailed) << 1 << hex("0000");
    QTest::newRow("wLength beyond the data area")
        << block(hex("8006000100000a00"), 5, 0, {}, 4) << false << 38u << uint(DriverPort::UsbError)
        << uint(DriverPort::BadParameter) << 0 << hex("00000000");
    QTest::newRow("vendor OUT with data") << block(hex("40a000e600000100"), 10, 0, hex("01"), 1)
                                          << true << 39u << 0u << 0u << 1 << hex("01");
    QTest::newRow("SET_INTERFACE goes to the alternate setting")
        << block(hex("010b010000000000"), 5, 0, {}, 0) << true << 38u << 0u << 0u << 0
        << QByteArray();
}

void TestGenericUsbDriver::controlBlock() {
    QFETCH(QByteArray, request);
    QFETCH(bool, ok);
    QFETCH(uint, bytes);
    QFETCH(uint, usbStatus);
    QFETCH(uint, systemStatus);
    QFETCH(int, controlsSent);
    QFETCH(QByteArray, data);

    Rig rig;
    uint32_t returned = 0;
    QCOMPARE(rig.driver->ioControl(rig.handle, ControlCode::ControlTransfer, raw(request),
                                   uint32_t(request.size()), raw(request), uint32_t(request.size()),
                                   returned),
             ok);
    QCOMPARE(returned, bytes);
    QCOMPARE(field(request, RequestBlock::UsbStatusField), usbStatus);
    QCOMPARE(field(request, RequestBlock::SystemStatusField), systemStatus);
    QCOMPARE(rig.stack.controls.size(), controlsSent);
    QCOMPARE(request.mid(38, data.size()).toHex(), data.toHex());
    if (controlsSent == 1) {
        const FakeUsbStack::Control &sent = rig.stack.controls[0];
        QCOMPARE(sent.timeoutMs, int(field(request, RequestBlock::TimeoutField)) * 1000);
        if (!(sent.setup.bmRequestType & 0x80))
            QCOMPARE(sent.out, data);
    }
}

void TestGenericUsbDriver::bulkRequest_data() {
    QTest::addColumn<uint>("code");
    QTest::addColumn<int>("endpoint");
    QTest::addColumn<QByteArray>("payload"); // data sent, or the room for data received
    QTest::addColumn<int>("replyStatus");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<uint>("bytes");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<uint>("usbStatus");

    const uint buffered = ControlCode::BufferedTransfer;
    const uint direct = ControlCode::DirectTransfer;
    const int done = int(UsbTransferStatus::Completed);
    QTest::newRow("buffered IN returns the whole block")
        << buffered << 0x86 << hex("00000000") << done << hex("0a0b0c0d") << true << 42u
        << hex("0a0b0c0d") << 0u;
    QTest::newRow("buffered IN, short reply")
        << buffered << 0x86 << hex("00000000") << done << hex("0a0b") << true << 40u
        << hex("0a0b0000") << 0u;
    QTest::newRow("buffered OUT sends the data area")
        << buffered << 0x02 << hex("11223344") << done << QByteArray() << true << 42u
        << hex("11223344") << 0u;
    QTest::newRow("direct IN fills the caller's buffer")
        << direct << 0x86 << hex("00000000") << done << hex("0a0b0c0d") << true << 4u
        << hex("0a0b0c0d") << 0u;
    QTest::newRow("direct OUT sends the caller's buffer")
        << direct << 0x04 << hex("5566") << done << QByteArray() << true << 2u << hex("5566") << 0u;
    QTest::newRow("stalled buffered IN")
        << buffered << 0x86 << hex("0000") << int(UsbTransferStatus::Stalled) << QByteArray()
        << false << 38u << hex("0000") << uint(DriverPort::UsbStalled);
    QTest::newRow("direct IN, device gone")
        << direct << 0x86 << hex("0000") << int(UsbTransferStatus::NoDevice) << QByteArray()
        << false << 0u << hex("0000") << uint(DriverPort::UsbNoDevice);
}

void TestGenericUsbDriver::bulkRequest() {
    QFETCH(uint, code);
    QFETCH(int, endpoint);
    QFETCH(QByteArray, payload);
    QFETCH(int, replyStatus);
    QFETCH(QByteArray, reply);
    QFETCH(bool, ok);
    QFETCH(uint, bytes);
    QFETCH(QByteArray, received);
    QFETCH(uint, usbStatus);

    Rig rig;
    FakeUsbStack::Reply scripted;
    scripted.status = UsbTransferStatus(replyStatus);
    scripted.data = reply;
    rig.stack.replies = {scripted};

    const bool isBuffered = code == ControlCode::BufferedTransfer;
    QByteArray request = isBuffered
                             ? block({}, 0, uint8_t(endpoint), payload, uint32_t(payload.size()))
                             : block({}, 0, uint8_t(endpoint), {}, 0);
    QByteArray data = payload;
    uint8_t *out = isBuffered ? raw(request) : raw(data);
    const uint32_t outLength = uint32_t(isBuffered ? request.size() : data.size());

    CompletionRecord record;
    QCOMPARE(rig.driver->startRequest(rig.handle, code, raw(request), uint32_t(request.size()), out,
                                      outLength, record),
             uint32_t(DriverPort::IoPending));
    QCOMPARE(record.startError(), uint32_t(DriverPort::IoPending));
    QCOMPARE(rig.stack.submissions.size(), 1);
    QCOMPARE(int(rig.stack.submissions[0].endpoint), endpoint);
    QCOMPARE(rig.stack.submissions[0].length, payload.size());
    if (!(endpoint & 0x80))
        QCOMPARE(rig.stack.submissions[0].sent, payload);

    QCOMPARE(rig.driver->waitRequest(record, 1000), DriverPort::WaitResult::Signalled);
    uint32_t returned = 0;
    QCOMPARE(rig.driver->requestResult(record, returned), ok);
    QCOMPARE(returned, bytes);
    QCOMPARE(field(request, RequestBlock::UsbStatusField), usbStatus);
    QCOMPARE((isBuffered ? request.mid(38) : data).toHex(), received.toHex());
    record.release();
    QCOMPARE(rig.stack.liveTransfers(), 0);
}

void TestGenericUsbDriver::timeOutAndAbortOneEndpoint() {
    Rig rig;
    FakeUsbStack::Reply silent;
    silent.never = true;
    rig.stack.replies = {silent, silent};

    QByteArray inBlock = block({}, 0, 0x86, {}, 0);
    QByteArray inData(4, '\0');
    QByteArray outBlock = block({}, 0, 0x02, hex("01020304"), 4);
    CompletionRecord inRecord;
    CompletionRecord outRecord;
    rig.driver->startRequest(rig.handle, ControlCode::DirectTransfer, raw(inBlock), 38, raw(inData),
                             4, inRecord);
    rig.driver->startRequest(rig.handle, ControlCode::BufferedTransfer, raw(outBlock),
                             uint32_t(outBlock.size()), raw(outBlock), uint32_t(outBlock.size()),
                             outRecord);

    QCOMPARE(rig.driver->waitRequest(inRecord, 10000), DriverPort::WaitResult::TimedOut);
    uint32_t bytes = 99;
    QVERIFY(!rig.driver->requestResult(inRecord, bytes)); // still running
    QCOMPARE(bytes, 0u);

    uint8_t endpoint = 0x86;
    uint32_t returned = 0;
    QVERIFY(rig.driver->ioControl(rig.handle, ControlCode::AbortEndpoint, &endpoint, 1, nullptr, 0,
                                  returned));
    QCOMPARE(rig.stack.cancelled.size(), 1);
    QCOMPARE(rig.driver->waitRequest(inRecord, DriverPort::WaitForever),
             DriverPort::WaitResult::Signalled);
    QVERIFY(!rig.driver->requestResult(inRecord, bytes));
    QCOMPARE(field(inBlock, RequestBlock::UsbStatusField), uint32_t(DriverPort::UsbCancelled));

    // The other endpoint's transfer was left alone.
    QCOMPARE(rig.driver->waitRequest(outRecord, 0), DriverPort::WaitResult::TimedOut);
    outRecord.release();
    QCOMPARE(rig.stack.cancelled.size(), 2);
    inRecord.release();
    QCOMPARE(rig.stack.liveTransfers(), 0);
}

void TestGenericUsbDriver::malformedRequestsReachNothing_data() {
    QTest::addColumn<uint>("code");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("outLength");
    QTest::addColumn<bool>("staleHandle");
    QTest::addColumn<uint>("error");

    const uint buffered = ControlCode::BufferedTransfer;
    QTest::newRow("closed handle")
        << buffered << block({}, 0, 0x86, {}, 4) << 42 << true << uint(DriverPort::BadHandle);
    QTest::newRow("block shorter than its header")
        << buffered << QByteArray(20, '\0') << 20 << false << uint(DriverPort::BadParameter);
    QTest::newRow("bulk request for endpoint 0")
        << buffered << block({}, 0, 0x80, {}, 4) << 42 << false << uint(DriverPort::BadParameter);
    QTest::newRow("data area past the block") << buffered << block({}, 0, 0x86, {}, 4).left(40)
                                              << 40 << false << uint(DriverPort::BadParameter);
    QTest::newRow("answer room shorter than the block")
        << buffered << block({}, 0, 0x86, {}, 4) << 39 << false << uint(DriverPort::BadParameter);
    QByteArray isochronous = block({}, 0, 0x83, {}, 4);
    RequestBlock::write32(raw(isochronous), RequestBlock::PacketTableOffsetField, 38);
    RequestBlock::write32(raw(isochronous), RequestBlock::PacketTableLengthField, 8);
    QTest::newRow("isochronous packet table") << uint(ControlCode::DirectTransfer) << isochronous
                                              << 4 << false << uint(DriverPort::NotSupported);
}

void TestGenericUsbDriver::malformedRequestsReachNothing() {
    QFETCH(uint, code);
    QFETCH(QByteArray, request);
    QFETCH(int, outLength);
    QFETCH(bool, staleHandle);
    QFETCH(uint, error);

    Rig rig;
    if (staleHandle)
        QVERIFY(rig.driver->closeDevice(rig.handle));
    QByteArray out(outLength, '\0');
    CompletionRecord record;
    QCOMPARE(rig.driver->startRequest(rig.handle, code, raw(request), uint32_t(request.size()),
                                      raw(out), uint32_t(out.size()), record),
             uint32_t(error));
    QCOMPARE(record.startError(), uint32_t(error));
    QVERIFY(rig.stack.submissions.isEmpty());
    QCOMPARE(rig.driver->waitRequest(record, 10), DriverPort::WaitResult::Failed);
    uint32_t bytes = 1;
    QVERIFY(!rig.driver->requestResult(record, bytes));
    QCOMPARE(bytes, 0u);
}

void TestGenericUsbDriver::queries_data() {
    QTest::addColumn<uint>("code");
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<int>("outLength");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("out");

    QTest::newRow("driver version")
        << uint(ControlCode::DriverVersion) << QByteArray() << 4 << "" << true << hex("00000601");
    QTest::newRow("USB interface version") << uint(ControlCode::UsbInterfaceVersion) << QByteArray()
                                           << 4 << "" << true << hex("00060000");
    QTest::newRow("version into too small a buffer")
        << uint(ControlCode::DriverVersion) << QByteArray() << 3 << "" << false << hex("000000");
    QTest::newRow("high speed") << uint(ControlCode::BusSpeed) << QByteArray() << 4 << "" << true
                                << hex("02000000");
    QTest::newRow("full speed") << uint(ControlCode::BusSpeed) << QByteArray() << 4 << "full speed"
                                << true << hex("01000000");
    QTest::newRow("alternate setting") << uint(ControlCode::CurrentAltSetting) << QByteArray() << 1
                                       << "alt 3" << true << hex("03");
    QTest::newRow("alternate setting query fails")
        << uint(ControlCode::CurrentAltSetting) << QByteArray() << 1 << "alt query fails" << false
        << hex("00");
    QTest::newRow("select a setting")
        << uint(ControlCode::SelectAltSetting) << hex("01") << 1 << "" << true << hex("01");
    QTest::newRow("select refused") << uint(ControlCode::SelectAltSetting) << hex("01") << 1
                                    << "select fails" << false << hex("00");
    QTest::newRow("address") << uint(ControlCode::DeviceAddress) << QByteArray() << 1 << "" << true
                             << hex("07");
    QTest::newRow("friendly name") << uint(ControlCode::FriendlyName) << QByteArray() << 16 << ""
                                   << true << QByteArray("I2C Adapter\0\0\0\0\0", 16);
    QTest::newRow("name cut to the buffer, still terminated")
        << uint(ControlCode::DeviceName) << QByteArray() << 8 << "" << true
        << QByteArray("adapter\0", 8);
    QTest::newRow("unknown code") << 0x220100u << QByteArray() << 4 << "" << false
                                  << hex("00000000");
}

void TestGenericUsbDriver::queries() {
    QFETCH(uint, code);
    QFETCH(QByteArray, in);
    QFETCH(int, outLength);
    QFETCH(QString, setup);
    QFETCH(bool, ok);
    QFETCH(QByteArray, out);

    Rig rig;
    FakeUsbStack::Device &device = rig.stack.present[0];
    device.speed = setup == QLatin1String("full speed") ? 1 : 2;
    device.alt = setup == QLatin1String("alt 3") ? 3 : 0;
    device.altQueryFails = setup == QLatin1String("alt query fails");
    device.setAltFails = setup == QLatin1String("select fails");

    QByteArray answer(outLength, '\0');
    uint32_t returned = 0;
    QCOMPARE(rig.driver->ioControl(rig.handle, code, raw(in), uint32_t(in.size()), raw(answer),
                                   uint32_t(answer.size()), returned),
             ok);
    QCOMPARE(answer.toHex(), out.toHex());
    QCOMPARE(returned, ok ? uint32_t(outLength) : 0u);
}

void TestGenericUsbDriver::closingEndsRequestsAndRetiresTheHandle() {
    Rig rig;
    FakeUsbStack::Reply silent;
    silent.never = true;
    rig.stack.replies = {silent};
    QByteArray request = block({}, 0, 0x86, {}, 0);
    QByteArray data(8, '\0');
    CompletionRecord record;
    rig.driver->startRequest(rig.handle, ControlCode::DirectTransfer, raw(request), 38, raw(data),
                             8, record);

    QVERIFY(rig.driver->closeDevice(rig.handle));
    QCOMPARE(rig.stack.cancelled.size(), 1);
    QCOMPARE(rig.stack.openSessions(), 0);
    QCOMPARE(rig.stack.liveTransfers(), 0);
    QCOMPARE(rig.driver->waitRequest(record, 0), DriverPort::WaitResult::Signalled);
    uint32_t bytes = 0;
    QVERIFY(!rig.driver->requestResult(record, bytes));

    uint8_t alt = 0;
    uint32_t returned = 0;
    QVERIFY(!rig.driver->ioControl(rig.handle, ControlCode::CurrentAltSetting, &alt, 1, &alt, 1,
                                   returned));
    QVERIFY(!rig.driver->closeDevice(rig.handle));
    const DriverPort::Handle again = rig.driver->openDevice(QStringLiteral("usb-1"));
    QVERIFY(again != DriverPort::InvalidHandle);
    QVERIFY(again != rig.handle);
}

// The stack's words for a refused open (a missing access right, say) reach
// whoever shows the failure; a later successful open clears them.
void TestGenericUsbDriver::failedOpenKeepsTheStacksReason() {
    Rig rig;
    QVERIFY(rig.driver->lastOpenError().isEmpty());
    rig.stack.present[0].openFails = true;
    QCOMPARE(rig.driver->openDevice(QStringLiteral("usb-1")), DriverPort::InvalidHandle);
    QCOMPARE(rig.driver->lastOpenError(), QStringLiteral("cannot open"));
    rig.stack.present[0].openFails = false;
    QVERIFY(rig.driver->openDevice(QStringLiteral("usb-1")) != DriverPort::InvalidHandle);
    QVERIFY(rig.driver->lastOpenError().isEmpty());
}

void TestGenericUsbDriver::notificationsArriveLaterOnTheEventLoop() {
    Rig rig;
    QStringList classEvents;
    QStringList handleEvents;
    QStringList otherClassEvents;
    auto text = [](const DriverPort::DeviceChange &c) {
        return (c.kind == DriverPort::DeviceChange::Arrival ? QStringLiteral("+")
                                                            : QStringLiteral("-")) +
               c.path;
    };
    DriverPort::Registration handleRegistration = 0;
    bool dropHandleRegistration = true;
    const DriverPort::Registration classRegistration = rig.driver->registerClassNotification(
        DriverPort::adapterInterfaceClass(), [&](const DriverPort::DeviceChange &c) {
            classEvents << text(c);
            // A handler may drop registrations while changes are delivered.
            if (dropHandleRegistration && c.kind == DriverPort::DeviceChange::Removal) {
                QVERIFY(rig.driver->unregisterNotification(handleRegistration));
                dropHandleRegistration = false;
            }
        });
    rig.driver->registerClassNotification(
        QUuid::createUuid(),
        [&](const DriverPort::DeviceChange &c) { otherClassEvents << text(c); });
    handleRegistration =
        rig.driver->registerHandleNotification(rig.handle, [&](const DriverPort::DeviceChange &c) {
            QCOMPARE(c.handle, rig.handle);
            handleEvents << text(c);
        });
    QVERIFY(classRegistration != 0 && handleRegistration != 0);
    QCOMPARE(rig.driver->registerClassNotification(DriverPort::adapterInterfaceClass(), {}), 0u);

    rig.stack.plug(adapter(QStringLiteral("usb-2")));
    rig.stack.unplug(QStringLiteral("usb-2"));
    QVERIFY(classEvents.isEmpty()); // not from inside the stack's report
    QCoreApplication::processEvents();
    QCOMPARE(classEvents, (QStringList{"+usb-2", "-usb-2"}));
    QVERIFY(handleEvents.isEmpty()); // not our device

    handleRegistration = rig.driver->registerHandleNotification(
        rig.handle, [&](const DriverPort::DeviceChange &c) { handleEvents << text(c); });
    rig.stack.unplug(QStringLiteral("usb-1"));
    QCoreApplication::processEvents();
    QCOMPARE(classEvents.last(), QStringLiteral("-usb-1"));
    QCOMPARE(handleEvents, QStringList{QStringLiteral("-usb-1")});
    QVERIFY(otherClassEvents.isEmpty());
    QVERIFY(rig.driver->unregisterNotification(classRegistration));
    QVERIFY(!rig.driver->unregisterNotification(classRegistration));
}

void TestGenericUsbDriver::recordsMayOutliveTheDriver() {
    CompletionRecord record;
    QByteArray request = block({}, 0, 0x86, {}, 0);
    QByteArray data(4, '\0');
    FakeUsbStack stack;
    stack.present.append(adapter(QStringLiteral("usb-1")));
    FakeUsbStack::Reply silent;
    silent.never = true;
    stack.replies = {silent};
    {
        GenericUsbDriver driver(stack);
        const DriverPort::Handle handle = driver.openDevice(QStringLiteral("usb-1"));
        driver.startRequest(handle, ControlCode::DirectTransfer, raw(request), 38, raw(data), 4,
                            record);
    }
    QCOMPARE(stack.liveTransfers(), 0);
    QVERIFY(!record.port());
}

int runGenericUsbDriverTests(int argc, char **argv) {
    TestGenericUsbDriver test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_genericusbdriver.moc"
