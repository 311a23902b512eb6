#include "CCyAltSetting.h"
#include "CCyBulkEndPoint.h"
#include "CCyConfiguration.h"
#include "CCyControlEndPoint.h"
#include "CCyDriverDevice.h"
#include "CCyInterruptEndPoint.h"
#include "CCyIsocEndPoint.h"
#include "Descriptors.h"
#include "FakeUsbStack.h"
#include "GenericUsbDriver.h"
#include "ScriptedDriverPort.h"
#include "TestRunner.h"

#include <QRandomGenerator>
#include <QtTest>

#include <vector>

using namespace Descriptors;

namespace {

QString slotText(const CCyUSBEndPoint *endPoint) {
    if (!endPoint)
        return QStringLiteral("_");
    QString kind = QStringLiteral("?");
    if (dynamic_cast<const CCyBulkEndPoint *>(endPoint))
        kind = QStringLiteral("B");
    else if (dynamic_cast<const CCyInterruptEndPoint *>(endPoint))
        kind = QStringLiteral("I");
    else if (dynamic_cast<const CCyIsocEndPoint *>(endPoint))
        kind = QStringLiteral("S");
    else if (dynamic_cast<const CCyControlEndPoint *>(endPoint))
        kind = QStringLiteral("C");
    return QStringLiteral("%1%2").arg(endPoint->address, 2, 16, QLatin1Char('0')).arg(kind);
}

// "I<interface>A<alt>C<settings of that interface>T<total length>:<slots>" per setting.
QString describe(const CCyConfiguration &configuration) {
    QStringList settings;
    for (int i = 0; i < configuration.altSettingCount; ++i) {
        const CCyAltSetting *s = configuration.altSettings(i);
        QStringList slotTexts;
        const int last = std::min<int>(s->bNumEndpoints, CCyAltSetting::MaxEndPoints);
        for (int slot = 1; slot <= last; ++slot)
            slotTexts << slotText(s->endPoints(slot));
        settings << QStringLiteral("I%1A%2C%3T%4:%5")
                        .arg(s->bInterfaceNumber)
                        .arg(s->bAlternateSetting)
                        .arg(s->altSettingCount)
                        .arg(s->totalLength)
                        .arg(slotTexts.join(QLatin1Char(',')));
    }
    return settings.join(QStringLiteral(" | "));
}

// Exactly as many heap bytes as the device returned, so that any read past
// them shows under the address sanitizer.
std::vector<uint8_t> exact(const QByteArray &bytes) {
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

QByteArray withTotalLength(QByteArray config, int total) {
    config[2] = char(total & 0xFF);
    config[3] = char(total >> 8);
    return config;
}

QByteArray randomPieces(QRandomGenerator &random) {
    QByteArray body;
    const int interfaces = random.bounded(1, 11);
    for (int i = 0; i < interfaces; ++i) {
        const int endpoints = random.bounded(0, 18);
        body += interface(random.bounded(0, 3), random.bounded(0, 8), random.bounded(0, 20));
        for (int e = 0; e < endpoints; ++e) {
            if (random.bounded(4) == 0)
                body += foreign(random.bounded(2, 12));
            body += endpoint(random.bounded(256), random.bounded(0, 8), random.bounded(0x2000));
        }
    }
    return configuration(body, random.bounded(0, 4));
}

// A descriptor set that lies: random bytes changed, lengths forged, cut short.
QByteArray mangle(QByteArray bytes, QRandomGenerator &random) {
    const int changes = random.bounded(0, 8);
    for (int i = 0; i < changes && !bytes.isEmpty(); ++i) {
        const int at = random.bounded(int(bytes.size()));
        switch (random.bounded(4)) {
        case 0:
            bytes[at] = 0; // bLength 0 and friends
            break;
        case 1:
            bytes[at] = char(0xFF);
            break;
        default:
            bytes[at] = char(random.bounded(256));
            break;
        }
    }
    if (random.bounded(3) == 0 && bytes.size() >= 4)
        bytes = withTotalLength(bytes, random.bounded(0x10000));
    if (random.bounded(2) == 0)
        bytes.truncate(random.bounded(int(bytes.size()) + 1));
    return bytes;
}

QByteArray randomBytes(QRandomGenerator &random, int maxLength) {
    QByteArray bytes(random.bounded(maxLength + 1), '\0');
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

} // namespace

class TestDescriptors : public QObject {
    Q_OBJECT

private slots:
    void walk_data();
    void walk();
    void hostileDescriptorSetsStayInBounds();
    void hostileDevicesOpenSafely();
};

void TestDescriptors::walk_data() {
    QTest::addColumn<QByteArray>("descriptors");
    QTest::addColumn<QString>("expected");

    QTest::newRow("adapter chip: settings 0-7, six endpoints on 1")
        << adapterConfiguration()
        << "I0A0C8T23:01I,81I | I0A1C8T51:01B,81B,02B,04B,86B,88B | I0A2C8T23:01I,81I | "
           "I0A3C8T23:01I,81I | I0A4C8T23:01I,81I | I0A5C8T23:01I,81I | I0A6C8T23:01I,81I | "
           "I0A7C8T23:01I,81I";
    QTest::newRow("class-specific descriptors between the endpoints")
        << configuration(interface(0, 0, 3) + foreign(5) + endpoint(0x81, 3) + foreign(7) +
                         foreign(4) + endpoint(0x02, 2) + foreign(6) + endpoint(0x86, 2))
        << "I0A0C1T52:81I,02B,86B";
    QTest::newRow("bmAttributes 0x05 leaves its slot empty")
        << configuration(interface(0, 0, 3) + endpoint(0x81, 0x05) + endpoint(0x02, 2) +
                         endpoint(0x83, 1))
        << "I0A0C1T30:_,02B,83S";
    QTest::newRow("control endpoint type 0")
        << configuration(interface(0, 0, 1) + endpoint(0x00, 0)) << "I0A0C1T16:00C";
    QTest::newRow("settings counted per interface number")
        << configuration(interface(0, 0, 1) + endpoint(0x81, 2) + interface(0, 1, 1) +
                             endpoint(0x81, 3) + interface(1, 0, 0),
                         2)
        << "I0A0C2T16:81B | I0A1C2T16:81I | I1A0C1T9:";
    QByteArray tenSettings;
    for (int alt = 0; alt < 10; ++alt)
        tenSettings += interface(0, alt, 0);
    QTest::newRow("only eight settings kept")
        << configuration(tenSettings)
        << "I0A0C8T9: | I0A1C8T9: | I0A2C8T9: | I0A3C8T9: | I0A4C8T9: | I0A5C8T9: | "
           "I0A6C8T9: | I0A7C8T9:";
    QByteArray seventeen = interface(0, 0, 17);
    for (int e = 1; e <= 17; ++e)
        seventeen += endpoint(0x80 | e, 2);
    QTest::newRow("only fifteen endpoints kept")
        << configuration(seventeen + interface(0, 1, 0))
        << "I0A0C2T114:81B,82B,83B,84B,85B,86B,87B,88B,89B,8aB,8bB,8cB,8dB,8eB,8fB | I0A1C2T9:";
    QByteArray elevenForeign;
    for (int i = 0; i < 11; ++i)
        elevenForeign += foreign(3);
    QTest::newRow("eleven foreign descriptors are skipped")
        << configuration(interface(0, 0, 2) + endpoint(0x81, 2) + elevenForeign + endpoint(0x02, 2))
        << "I0A0C1T56:81B,02B";
    QTest::newRow("the twelfth foreign descriptor ends the setting")
        << configuration(interface(0, 0, 2) + endpoint(0x81, 2) + elevenForeign + foreign(3) +
                         endpoint(0x02, 2))
        << "I0A0C1T49:81B,_";
    QTest::newRow("bLength 0 ends the walk")
        << configuration(interface(0, 0, 2) + endpoint(0x81, 2) + bytes({0, 0x24}) +
                         endpoint(0x02, 2) + interface(0, 1, 0))
        << "I0A0C1T16:81B,_";
    QTest::newRow("bLength 0 in the configuration header")
        << (bytes({0, 2, 25, 0, 1, 1, 0, 0x80, 50}) + interface(0, 0, 1) + endpoint(0x81, 2)) << "";
    QTest::newRow("wTotalLength beyond what came back")
        << withTotalLength(configuration(interface(0, 0, 2) + endpoint(0x81, 2)), 0xFFFF)
        << "I0A0C1T16:81B,_";
    QTest::newRow("wTotalLength cuts an endpoint in half")
        << withTotalLength(configuration(interface(0, 0, 1) + endpoint(0x81, 2)), 21)
        << "I0A0C1T9:_";
    QTest::newRow("bNumEndpoints promises more than there are")
        << configuration(interface(0, 0, 3) + endpoint(0x81, 2) + interface(0, 1, 1) +
                         endpoint(0x02, 2))
        << "I0A0C2T16:81B,_,_ | I0A1C2T16:02B";
    QTest::newRow("short endpoint descriptor")
        << configuration(interface(0, 0, 2) + bytes({4, 5, 0x81, 2}) + endpoint(0x02, 2))
        << "I0A0C1T20:81B,02B";
    QTest::newRow("interface bLength past the end")
        << configuration(bytes({200, 4, 0, 0, 1, 0xFF, 0, 0, 0}) + endpoint(0x81, 2))
        << "I0A0C1T200:_";
}

void TestDescriptors::walk() {
    QFETCH(QByteArray, descriptors);
    QFETCH(QString, expected);

    ScriptedDriverPort port;
    const std::vector<uint8_t> bytes = exact(descriptors);
    CCyConfiguration configuration(port, 1, bytes.data(), uint32_t(bytes.size()));
    QCOMPARE(describe(configuration), expected);
    QVERIFY(port.starts.isEmpty() && port.ioCalls.isEmpty());
}

void TestDescriptors::hostileDescriptorSetsStayInBounds() {
    ScriptedDriverPort port;
    QRandomGenerator random(20261207);
    for (int round = 0; round < 4000; ++round) {
        const QByteArray bytes =
            round % 4 == 0 ? randomBytes(random, 300) : mangle(randomPieces(random), random);
        const std::vector<uint8_t> heap = exact(bytes);
        CCyConfiguration configuration(port, 1, heap.data(), uint32_t(heap.size()));
        QVERIFY(configuration.altSettingCount <= CCyConfiguration::MaxAltSettings);
        for (int i = 0; i < configuration.altSettingCount; ++i) {
            const CCyAltSetting *setting = configuration.altSettings(i);
            QVERIFY(setting);
            QVERIFY(setting->altSettingCount >= 1);
            QVERIFY(setting->altSettingCount <= configuration.altSettingCount);
        }
    }
}

void TestDescriptors::hostileDevicesOpenSafely() {
    QRandomGenerator random(8613);
    for (int round = 0; round < 300; ++round) {
        FakeUsbStack stack;
        FakeUsbStack::Device device = adapter(QStringLiteral("hostile"));
        device.descriptors[{0x0100, 0}] =
            mangle(Descriptors::device(random.bounded(0, 256), 1, 2, 3), random);
        device.descriptors[{0x0300, 0}] = mangle(languages({0x0411, 0x0409}), random);
        device.descriptors[{0x0301, 0x0409}] = randomBytes(random, 255);
        device.descriptors[{0x0302, 0x0409}] = mangle(string(QStringLiteral("Adapter")), random);
        device.descriptors[{0x0200, 0}] = mangle(randomPieces(random), random);
        device.descriptors[{0x0201, 0}] = randomBytes(random, 64);
        device.alt = random.bounded(0, 9);
        stack.present.append(device);
        GenericUsbDriver driver(stack);
        CCyDriverDevice usb(driver, {}, DriverPort::adapterInterfaceClass(), true);
        QVERIFY(usb.hasHandle());
        QVERIFY(usb.manufacturer().size() < CCyDriverDevice::TextLength);
        if (CCyAltSetting *current = usb.currentAltSetting()) {
            // Slot 0 stays empty when the configuration claims no interfaces.
            CCyUSBEndPoint *slot0 = current->endPoints(0);
            QVERIFY(!slot0 || slot0 == usb.controlEndPoint());
            usb.SetAltIntfc(uint8_t(random.bounded(0, 8)));
        }
        usb.release();
        QVERIFY(!usb.currentAltSetting());
    }
}

int runDescriptorTests(int argc, char **argv) {
    TestDescriptors test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_descriptors.moc"
