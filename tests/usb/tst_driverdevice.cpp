#include "CCyAltSetting.h"
#include "CCyConfiguration.h"
#include "CCyControlEndPoint.h"
#include "CCyDriverDevice.h"
#include "ControlCode.h"
#include "Descriptors.h"
#include "FakeUsbStack.h"
#include "FaultyPort.h"
#include "GenericUsbDriver.h"
#include "TestRunner.h"

#include <QSet>
#include <QtTest>

#include <cstring>
#include <memory>

using namespace Descriptors;

namespace {

struct Rig {
    FakeUsbStack stack;
    std::unique_ptr<GenericUsbDriver> driver;

    explicit Rig(int adapters = 1) {
        for (int i = 1; i <= adapters; ++i)
            stack.present.append(adapter(QStringLiteral("usb-%1").arg(i), 2 + i));
        driver = std::make_unique<GenericUsbDriver>(stack);
    }
    std::unique_ptr<CCyDriverDevice> device(DriverPort::DeviceChangeHandler handler = {},
                                            bool openNow = true) {
        return std::make_unique<CCyDriverDevice>(*driver, std::move(handler),
                                                 DriverPort::adapterInterfaceClass(), openNow);
    }
};

uint8_t address(CCyUSBEndPoint *endPoint) {
    return endPoint ? endPoint->address : 0xEE;
}

QString closeText(CCyDriverDevice &device) {
    try {
        device.close();
    } catch (const char *text) {
        return QString::fromLatin1(text);
    }
    return QString();
}

} // namespace

class TestDriverDevice : public QObject {
    Q_OBJECT

private slots:
    void opensTheAdapter();
    void readsDescriptorsInTwoSteps();
    void transfersThroughTheWholeLayer();
    void driverVersionDecidesDirectTransfers_data();
    void driverVersionDecidesDirectTransfers();
    void language_data();
    void language();
    void strings_data();
    void strings();
    void setAltIntfc_data();
    void setAltIntfc();
    void deviceList_data();
    void deviceList();
    void failingQueriesLeaveZero_data();
    void failingQueriesLeaveZero();
    void closeRaises_data();
    void closeRaises();
    void openReleasesTheOldDeviceFirst();
    void configurationWithoutInterfaces();
    void noSettingMatchesTheDriver();
    void notificationsReachTheHandler();
    void endpointsFailAfterClose();
};

void TestDriverDevice::opensTheAdapter() {
    Rig rig;
    auto usb = rig.device();

    QVERIFY(usb->hasHandle());
    QCOMPARE(usb->devicePath(), QStringLiteral("usb-1"));
    QCOMPARE(usb->vendorId(), uint16_t(0x04B4));
    QCOMPARE(usb->productId(), uint16_t(0x8613));
    QCOMPARE(usb->bcdUSB(), uint16_t(0x0200));
    QCOMPARE(usb->bcdDevice(), uint16_t(0xA001));
    QCOMPARE(usb->maxPacketSize0(), uint8_t(64));
    QCOMPARE(usb->configurationCount(), uint8_t(1));
    QCOMPARE(usb->language(), uint16_t(0x0409));
    QCOMPARE(usb->manufacturer(), QStringLiteral("Maker"));
    QCOMPARE(usb->product(), QStringLiteral("Adapter"));
    QCOMPARE(usb->serialNumber(), QStringLiteral("0001"));
    QCOMPARE(usb->address(), uint8_t(3));
    QCOMPARE(usb->friendlyName(), QStringLiteral("I2C Adapter"));
    QCOMPARE(usb->deviceName(), QStringLiteral("adapter-usb-1"));
    QCOMPARE(usb->driverVersion(), GenericUsbDriver::DefaultDriverVersion);
    QCOMPARE(usb->usbInterfaceVersion(), GenericUsbDriver::DefaultUsbInterfaceVersion);
    QVERIFY(usb->isHighSpeed());
    QCOMPARE(usb->configValue(), uint8_t(1));
    QCOMPARE(usb->configAttributes(), uint8_t(0x80));
    QCOMPARE(usb->maxPower(), uint8_t(50));
    QCOMPARE(usb->interfaceCount(), uint8_t(1));
    QCOMPARE(usb->altSettingCount(), uint8_t(8));
    QCOMPARE(usb->rawConfigurationDescriptor(0).size(), size_t(adapterConfiguration().size()));

    // A fresh chip reports setting 0: its interrupt endpoints are current.
    QVERIFY(usb->currentAltSetting());
    QCOMPARE(usb->currentAltSetting()->bAlternateSetting, uint8_t(0));
    QCOMPARE(usb->currentAltSetting()->endPoints(0),
             static_cast<CCyUSBEndPoint *>(usb->controlEndPoint()));
    QCOMPARE(usb->controlEndPoint()->maxPacketSize, uint16_t(64));
    QCOMPARE(usb->controlEndPoint()->useDirect, 0u);
    QCOMPARE(address(usb->interruptOutEndPoint()), uint8_t(0x01));
    QCOMPARE(address(usb->interruptInEndPoint()), uint8_t(0x81));
    QVERIFY(!usb->bulkInEndPoint() && !usb->bulkOutEndPoint());
    QVERIFY(rig.stack.altSelections.isEmpty());

    QVERIFY(usb->SetAltIntfc(1));
    QCOMPARE(rig.stack.altSelections, QVector<int>{1});
    CCyAltSetting *current = usb->currentAltSetting();
    QCOMPARE(current->bAlternateSetting, uint8_t(1));
    QCOMPARE(usb->currentAltSettingIndex(), uint8_t(1));
    QCOMPARE(current->endPoints(0), static_cast<CCyUSBEndPoint *>(usb->controlEndPoint()));
    QCOMPARE(address(current->endPoints(4)), uint8_t(0x04));
    QCOMPARE(address(current->endPoints(6)), uint8_t(0x88));
    QCOMPARE(address(usb->bulkOutEndPoint()), uint8_t(0x01));
    QCOMPARE(address(usb->bulkInEndPoint()), uint8_t(0x81));
    QVERIFY(!usb->interruptInEndPoint() && !usb->interruptOutEndPoint());

    usb->release();
    QVERIFY(!usb->hasHandle());
    QVERIFY(!usb->currentAltSetting());
    QVERIFY(!usb->controlEndPoint());
    QVERIFY(!usb->configurations(0));
    QCOMPARE(usb->configurationCount(), uint8_t(0));
    QCOMPARE(rig.stack.openSessions(), 0);
}

void TestDriverDevice::readsDescriptorsInTwoSteps() {
    Rig rig;
    auto usb = rig.device();
    QStringList requests;
    for (const FakeUsbStack::Control &c : rig.stack.controls) {
        QCOMPARE(c.setup.bmRequestType, uint8_t(0x80));
        QCOMPARE(c.setup.bRequest, uint8_t(6));
        QCOMPARE(c.timeoutMs, 5000);
        requests << QStringLiteral("%1/%2/%3")
                        .arg(c.setup.wValue, 4, 16, QLatin1Char('0'))
                        .arg(c.setup.wIndex, 4, 16, QLatin1Char('0'))
                        .arg(c.setup.wLength);
    }
    const int total = int(adapterConfiguration().size());
    QCOMPARE(requests, (QStringList{"0100/0000/18", "0300/0000/2", "0300/0000/4", "0301/0409/2",
                                    "0301/0409/12", "0302/0409/2", "0302/0409/16", "0303/0409/2",
                                    "0303/0409/10", "0200/0000/9",
                                    QStringLiteral("0200/0000/%1").arg(total)}));
}

void TestDriverDevice::transfersThroughTheWholeLayer() {
    Rig rig;
    auto usb = rig.device();
    QVERIFY(usb->SetAltIntfc(1));

    // The firmware inquiry: vendor IN, one byte, answered inside the block.
    rig.stack.vendorReply = QByteArray(1, '\x01');
    CCyControlEndPoint *control = usb->controlEndPoint();
    control->direction = 1;
    control->requestType = 2;
    control->request = 0x00;
    uint8_t answer = 0;
    int length = 1;
    QVERIFY(control->transfer(&answer, length));
    QCOMPARE(length, 1);
    QCOMPARE(answer, uint8_t(1));
    QCOMPARE(rig.stack.controls.last().setup.bmRequestType, uint8_t(0xC0));
    QCOMPARE(rig.stack.controls.last().timeoutMs, 10000);

    // A transaction: header out on position 4, reply in on position 6.
    uint8_t header[4] = {0x16, 0x00, 0x03, 0x00};
    length = 4;
    QVERIFY(usb->currentAltSetting()->endPoints(4)->transfer(header, length));
    QCOMPARE(rig.stack.submissions.last().endpoint, uint8_t(0x04));
    QCOMPARE(rig.stack.submissions.last().sent, QByteArray::fromHex("16000300"));

    FakeUsbStack::Reply reply;
    reply.data = QByteArray::fromHex("0a0b00");
    rig.stack.replies = {reply};
    uint8_t in[3] = {};
    length = 3;
    QVERIFY(usb->currentAltSetting()->endPoints(6)->transfer(in, length));
    QCOMPARE(length, 3);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(in), 3).toHex(), QByteArray("0a0b00"));
}

void TestDriverDevice::driverVersionDecidesDirectTransfers_data() {
    QTest::addColumn<uint>("version");
    QTest::addColumn<uint>("useDirect");

    QTest::newRow("one below 1.5.5.0") << 0x010504FFu << 0u;
    QTest::newRow("1.5.5.0") << 0x01050500u << 1u;
    QTest::newRow("newer") << 0x02000000u << 1u;
}

void TestDriverDevice::driverVersionDecidesDirectTransfers() {
    QFETCH(uint, version);
    QFETCH(uint, useDirect);

    Rig rig;
    rig.driver->setDriverVersion(version);
    auto usb = rig.device();
    QVERIFY(usb->SetAltIntfc(1));
    for (int slot = 1; slot <= 6; ++slot)
        QCOMPARE(usb->currentAltSetting()->endPoints(slot)->useDirect, useDirect);

    // Either way the data reaches the caller.
    FakeUsbStack::Reply reply;
    reply.data = QByteArray::fromHex("c0ffee");
    rig.stack.replies = {reply};
    uint8_t in[3] = {};
    int length = 3;
    QVERIFY(usb->bulkInEndPoint()->transfer(in, length));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(in), length).toHex(), QByteArray("c0ffee"));
}

void TestDriverDevice::language_data() {
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<int>("language");

    QTest::newRow("0x0411, 0x0409 picks 0x0409") << languages({0x0411, 0x0409}) << 0x0409;
    QTest::newRow("0x0411 alone") << languages({0x0411}) << 0x0411;
    QTest::newRow("empty list") << languages({}) << 0;
    QTest::newRow("first of several without 0x0409") << languages({0x0407, 0x0411}) << 0x0407;
    QTest::newRow("odd bLength counts whole IDs") << bytes({5, 3, 0x11, 0x04, 0x09}) << 0x0411;
    QTest::newRow("bLength beyond what comes back keeps the old value")
        << bytes({8, 3, 0x11, 0x04}) << 0xFFFF;
    QTest::newRow("bLength 0") << bytes({0, 3}) << 0;
}

void TestDriverDevice::language() {
    QFETCH(QByteArray, list);
    QFETCH(int, language);

    Rig rig;
    rig.stack.present[0].descriptors[{0x0300, 0}] = languages({0xFFFF});
    auto usb = rig.device();
    QCOMPARE(usb->language(), uint16_t(0xFFFF));
    rig.stack.present[0].descriptors[{0x0300, 0}] = list;
    QVERIFY(usb->open(0));
    QCOMPARE(usb->language(), uint16_t(language));
}

void TestDriverDevice::strings_data() {
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<QString>("text");

    QTest::newRow("a new name") << string(QStringLiteral("Brantle")) << "Brantle";
    QTest::newRow("bLength 2 leaves the text") << bytes({2, 3}) << "Maker";
    QTest::newRow("not a string descriptor") << bytes({6, 4, 'A', 0, 'B', 0}) << "Maker";
    QTest::newRow("bLength beyond what comes back") << bytes({20, 3, 'A', 0}) << "Maker";
    QTest::newRow("odd bLength drops the half unit") << bytes({5, 3, 'A', 0, 'B'}) << "A";
    QTest::newRow("bLength 0") << bytes({0, 3}) << "Maker";
    QTest::newRow("stall") << QByteArray() << "Maker";
}

void TestDriverDevice::strings() {
    QFETCH(QByteArray, descriptor);
    QFETCH(QString, text);

    Rig rig;
    auto usb = rig.device();
    QCOMPARE(usb->manufacturer(), QStringLiteral("Maker"));
    if (descriptor.isEmpty())
        rig.stack.present[0].descriptors.erase({0x0301, 0x0409});
    else
        rig.stack.present[0].descriptors[{0x0301, 0x0409}] = descriptor;
    QVERIFY(usb->open(0));
    QCOMPARE(usb->manufacturer(), text);
}

void TestDriverDevice::setAltIntfc_data() {
    QTest::addColumn<int>("reported");
    QTest::addColumn<int>("wanted");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QVector<int>>("selections");
    QTest::addColumn<int>("current");

    QTest::newRow("already current: nothing sent")
        << 1 << 1 << false << true << QVector<int>{} << 1;
    QTest::newRow("missing setting: nothing sent")
        << 0 << 9 << false << false << QVector<int>{} << 0;
    QTest::newRow("0 to 1") << 0 << 1 << false << true << QVector<int>{1} << 1;
    QTest::newRow("refused, endpoints rebuilt anyway")
        << 0 << 1 << true << false << QVector<int>{1} << 1;
}

void TestDriverDevice::setAltIntfc() {
    QFETCH(int, reported);
    QFETCH(int, wanted);
    QFETCH(bool, refused);
    QFETCH(bool, ok);
    QFETCH(QVector<int>, selections);
    QFETCH(int, current);

    Rig rig;
    rig.stack.present[0].alt = reported;
    rig.stack.present[0].setAltFails = refused;
    auto usb = rig.device();
    const int controlsBefore = rig.stack.controls.size();
    QCOMPARE(usb->SetAltIntfc(uint8_t(wanted)), ok);
    QCOMPARE(rig.stack.altSelections, selections);
    QCOMPARE(rig.stack.controls.size(), controlsBefore);
    QCOMPARE(int(usb->currentAltSetting()->bAlternateSetting), current);
    QCOMPARE(usb->currentAltSetting()->endPoints(0),
             static_cast<CCyUSBEndPoint *>(usb->controlEndPoint()));
}

void TestDriverDevice::deviceList_data() {
    QTest::addColumn<int>("adapters");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("opened");

    QTest::newRow("no adapter") << 0 << 0 << false;
    QTest::newRow("index past two adapters") << 2 << 2 << false;
    QTest::newRow("second of two") << 2 << 1 << true;
}

void TestDriverDevice::deviceList() {
    QFETCH(int, adapters);
    QFETCH(int, index);
    QFETCH(bool, opened);

    Rig rig(adapters);
    auto usb = rig.device({}, false);
    QCOMPARE(usb->deviceCount(), uint8_t(adapters));
    QCOMPARE(usb->open(uint8_t(index)), opened);
    QCOMPARE(usb->hasHandle(), opened);
    QCOMPARE(rig.stack.opens, opened ? 1 : 0);
    QCOMPARE(int(usb->deviceNumber()), opened ? index : 0);
    if (opened)
        QCOMPARE(usb->devicePath(), QStringLiteral("usb-%1").arg(index + 1));
    usb->close(); // raises nothing, with or without a handle
    usb->close();
}

void TestDriverDevice::failingQueriesLeaveZero_data() {
    QTest::addColumn<uint>("code");

    QTest::newRow("address") << uint(ControlCode::DeviceAddress);
    QTest::newRow("driver version") << uint(ControlCode::DriverVersion);
    QTest::newRow("USB interface version") << uint(ControlCode::UsbInterfaceVersion);
    QTest::newRow("speed") << uint(ControlCode::BusSpeed);
    QTest::newRow("friendly name") << uint(ControlCode::FriendlyName);
}

void TestDriverDevice::failingQueriesLeaveZero() {
    QFETCH(uint, code);

    Rig rig;
    FaultyPort port(*rig.driver);
    port.failingCodes = {code};
    CCyDriverDevice usb(port, {}, DriverPort::adapterInterfaceClass(), true);
    QVERIFY(usb.currentAltSetting());
    QCOMPARE(usb.address(), uint8_t(code == ControlCode::DeviceAddress ? 0 : 3));
    QCOMPARE(usb.driverVersion(),
             code == ControlCode::DriverVersion ? 0u : GenericUsbDriver::DefaultDriverVersion);
    QCOMPARE(usb.usbInterfaceVersion(), code == ControlCode::UsbInterfaceVersion
                                            ? 0u
                                            : GenericUsbDriver::DefaultUsbInterfaceVersion);
    QCOMPARE(usb.isHighSpeed(), code != ControlCode::BusSpeed);
    QCOMPARE(usb.friendlyName(),
             code == ControlCode::FriendlyName ? QString() : QStringLiteral("I2C Adapter"));
}

void TestDriverDevice::closeRaises_data() {
    QTest::addColumn<bool>("failUnregister");
    QTest::addColumn<bool>("failClose");
    QTest::addColumn<QString>("text");

    QTest::newRow("handle notification")
        << true << false << "Failed to close the handle notification handle.";
    QTest::newRow("handle") << false << true << "Failed to close handle to driver.";
}

void TestDriverDevice::closeRaises() {
    QFETCH(bool, failUnregister);
    QFETCH(bool, failClose);
    QFETCH(QString, text);

    Rig rig;
    FaultyPort port(*rig.driver);
    auto usb = std::make_unique<CCyDriverDevice>(
        port, [](const DriverPort::DeviceChange &) {}, DriverPort::adapterInterfaceClass(), true);
    QVERIFY(usb->handleNotification() != 0);
    port.failUnregister = failUnregister;
    port.failClose = failClose;
    QCOMPARE(closeText(*usb), text);
    QVERIFY(usb->hasHandle());

    port.failUnregister = false;
    port.failClose = false;
    QCOMPARE(closeText(*usb), QString());
    QVERIFY(!usb->hasHandle());
    QCOMPARE(usb->handleNotification(), 0u);
}

void TestDriverDevice::openReleasesTheOldDeviceFirst() {
    Rig rig(2);
    rig.stack.present[0].alt = 1;
    rig.stack.present[1].descriptors[{0x0200, 0}] =
        configuration(interface(0, 0, 2) + endpoint(0x08, 2) + endpoint(0x82, 2));
    auto usb = rig.device();
    QCOMPARE(address(usb->bulkInEndPoint()), uint8_t(0x81));

    QVERIFY(usb->open(1));
    QCOMPARE(rig.stack.closes, 1);
    QCOMPARE(rig.stack.openSessions(), 1);
    QCOMPARE(usb->altSettingCount(), uint8_t(1));
    QCOMPARE(address(usb->bulkInEndPoint()), uint8_t(0x82));
    QCOMPARE(address(usb->bulkOutEndPoint()), uint8_t(0x08));
    QCOMPARE(usb->currentAltSetting(), usb->configurations(0)->altSettings(0));
}

void TestDriverDevice::configurationWithoutInterfaces() {
    Rig rig;
    rig.stack.present[0].descriptors[{0x0200, 0}] = configuration(foreign(6));
    auto usb = rig.device();
    QVERIFY(!usb->open(0));
    QVERIFY(usb->hasHandle());
    QVERIFY(!usb->currentAltSetting());
}

void TestDriverDevice::noSettingMatchesTheDriver() {
    Rig rig;
    rig.stack.present[0].alt = 9;
    auto usb = rig.device();
    QVERIFY(usb->open(0));
    QVERIFY(!usb->currentAltSetting());
    QVERIFY(!usb->bulkInEndPoint() && !usb->interruptInEndPoint());
}

void TestDriverDevice::notificationsReachTheHandler() {
    Rig rig;
    QStringList events;
    auto usb = rig.device([&](const DriverPort::DeviceChange &c) {
        events << QStringLiteral("%1%2%3")
                      .arg(c.kind == DriverPort::DeviceChange::Arrival ? "+" : "-")
                      .arg(c.path)
                      .arg(c.handle == DriverPort::InvalidHandle ? "" : " (handle)");
    });
    QVERIFY(usb->classNotification() != 0);
    QVERIFY(usb->handleNotification() != 0);

    rig.stack.plug(adapter(QStringLiteral("usb-2")));
    rig.stack.unplug(QStringLiteral("usb-1"));
    QVERIFY(events.isEmpty());
    QCoreApplication::processEvents();
    QCOMPARE(events, (QStringList{"+usb-2", "-usb-1", "-usb-1 (handle)"}));

    // Without a handler nothing is registered.
    auto quiet = rig.device({}, true);
    QCOMPARE(quiet->classNotification(), 0u);
    QCOMPARE(quiet->handleNotification(), 0u);
}

void TestDriverDevice::endpointsFailAfterClose() {
    Rig rig;
    auto usb = rig.device();
    QVERIFY(usb->SetAltIntfc(1));
    CCyUSBEndPoint *out = usb->currentAltSetting()->endPoints(4);
    usb->close();
    // close keeps the objects; their handle is dead.
    QCOMPARE(usb->currentAltSetting()->endPoints(4), out);
    uint8_t data[4] = {};
    int length = 4;
    QVERIFY(!out->transfer(data, length));
    QCOMPARE(length, 0);
    QVERIFY(rig.stack.submissions.isEmpty());
}

int runDriverDeviceTests(int argc, char **argv) {
    TestDriverDevice test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_driverdevice.moc"
