// The simulated bench adapter driven through the USB access layer itself
// (device object, control endpoint, bulk endpoints of alternate setting 1),
// with the firmware image the program carries.

#include "CCyAltSetting.h"
#include "CCyControlEndPoint.h"
#include "CCyDriverDevice.h"
#include "CCyUSBEndPoint.h"
#include "GenericUsbDriver.h"
#include "SimTestUtil.h"
#include "SimUsbStack.h"

#include "adapter_wire.h"

#include <QFile>
#include <QtTest>

#include <memory>

namespace {
const char *const WorkedStream = "00 01 00 11 00 13 A2 00 00 00 00 00 13 A3 FF FF 00 14";
constexpr int In = 1;
constexpr int Out = 0;
} // namespace

class TestAdapterOnUsbLayer : public QObject {
    Q_OBJECT

    QByteArray image;
    std::unique_ptr<SimUsbStack> stack;
    std::unique_ptr<GenericUsbDriver> driver;
    std::unique_ptr<CCyDriverDevice> device;
    std::shared_ptr<Fx2Chip> chip;

    bool vendor(int direction, uint8_t request, uint16_t value, uint8_t *data, int &length) {
        CCyControlEndPoint *control = device->controlEndPoint();
        if (!control)
            return false;
        control->recipient = 0;
        control->requestType = 2;
        control->direction = uint32_t(direction);
        control->request = request;
        control->value = value;
        control->index = 0;
        return control->transfer(data, length);
    }

    bool setCpucs(uint8_t value) {
        int length = 1;
        return vendor(Out, WIRE_REQUEST_FIRMWARE_LOAD, WIRE_CPUCS_ADDRESS, &value, length) &&
               length == 1;
    }

    // Holds the core, writes the image in chunks, and (if asked) releases it.
    bool download(QByteArray bytes, bool release = true) {
        if (!setCpucs(1))
            return false;
        for (int pos = 0; pos < bytes.size(); pos += WIRE_FIRMWARE_CHUNK_SIZE) {
            int length = qMin(int(bytes.size()) - pos, WIRE_FIRMWARE_CHUNK_SIZE);
            const int asked = length;
            if (!vendor(Out, WIRE_REQUEST_FIRMWARE_LOAD, uint16_t(pos),
                        reinterpret_cast<uint8_t *>(bytes.data()) + pos, length) ||
                length != asked)
                return false;
        }
        return !release || setCpucs(0);
    }

    bool inquire(uint8_t *answer) {
        int length = 1;
        return vendor(In, WIRE_REQUEST_INQUIRY, 0, answer, length) && length == 1;
    }

    CCyUSBEndPoint *endpoint(int position) const {
        CCyAltSetting *setting = device->currentAltSetting();
        return setting ? setting->endPoints(position) : nullptr;
    }

    // Header, stream and reply as three transfers; a null array when any of
    // them fails or the reply comes short.
    QByteArray transact(QByteArray stream, int replyCount) {
        CCyUSBEndPoint *out = endpoint(WIRE_OUT_ENDPOINT_POSITION);
        CCyUSBEndPoint *in = endpoint(WIRE_IN_ENDPOINT_POSITION);
        if (!out || !in)
            return QByteArray();
        const int total = int(stream.size()) + WIRE_HEADER_SIZE;
        QByteArray header;
        for (const int count : {total, replyCount})
            header += char(count & 0xFF) + QByteArray(1, char(count >> 8));
        int length = int(header.size());
        if (!out->transfer(reinterpret_cast<uint8_t *>(header.data()), length))
            return QByteArray();
        length = int(stream.size());
        if (!out->transfer(reinterpret_cast<uint8_t *>(stream.data()), length))
            return QByteArray();
        QByteArray reply(replyCount, '\0');
        length = replyCount;
        if (!in->transfer(reinterpret_cast<uint8_t *>(reply.data()), length) ||
            length != replyCount)
            return QByteArray();
        return reply;
    }

private slots:
    void initTestCase() {
        QFile file(QStringLiteral(":/Brantle/IoAndFx2I2cBus.bix"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        image = file.readAll();
        QCOMPARE(image.size(), WIRE_FIRMWARE_IMAGE_SIZE);
    }

    void init() {
        stack = std::make_unique<SimUsbStack>();
        chip = stack->plugBenchAdapter(image);
        driver = std::make_unique<GenericUsbDriver>(*stack);
        device = std::make_unique<CCyDriverDevice>(*driver, DriverPort::DeviceChangeHandler(),
                                                   DriverPort::adapterInterfaceClass(), true);
    }

    void cleanup() {
        device.reset();
        driver.reset();
        chip.reset();
        stack.reset();
    }

    void transactions_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("replyCount");
        QTest::addColumn<QByteArray>("reply");

        QTest::newRow("worked transaction") << hex(WorkedStream) << 3 << hex("00 01 00");
        QTest::newRow("absent address: NoAck, bus reads ones")
            << hex("00 01 00 11 00 13 A0 00 00 00 00 00 13 A1 FF FF 00 14") << 3 << hex("FF FF 40");
        QTest::newRow("sensor temperature")
            << hex("00 01 00 12 00 13 90 00 00 00 13 91 FF FF 00 14") << 3 << hex("19 00 00");

        // A reply of several packets: 600 bytes from address 0x0100.
        QByteArray longRead = hex("00 01 00 12 00 13 A2 01 00 00 00 13 A3");
        longRead += QByteArray(600, char(0xFF)) + hex("00 14");
        QByteArray expected;
        for (int i = 0; i < 600; ++i)
            expected.append(char(i & 0xFF));
        QTest::newRow("reply across packets") << longRead << 601 << expected + hex("00");
    }
    void transactions() {
        QFETCH(QByteArray, stream);
        QFETCH(int, replyCount);
        QFETCH(QByteArray, reply);

        QVERIFY(device->hasHandle());
        QCOMPARE(int(device->deviceCount()), 1);
        QCOMPARE(int(device->altSetting()), 0);
        QVERIFY(download(image));
        QVERIFY(device->SetAltIntfc(WIRE_TRANSFER_ALT_SETTING));
        QCOMPARE(int(device->altSetting()), WIRE_TRANSFER_ALT_SETTING);
        // The firmware sets itself up before it answers requests.
        stack->advanceTime(Fx2Chip::StartUpNs);
        uint8_t answer = 0;
        QVERIFY(inquire(&answer));
        QCOMPARE(answer, uint8_t(WIRE_INQUIRY_ANSWER));
        QCOMPARE(transact(stream, replyCount), reply);
    }

    // Whatever the RAM holds runs: code that does not serve the adapter's
    // requests, or a core never released, leaves the inquiry and EP4 data
    // unanswered. The transfers run out their time-out in virtual time.
    void wrongImageAnswersNothing_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("release");
        QTest::newRow("nothing but zeros") << QByteArray(image.size(), '\0') << true;
        QTest::newRow("first instruction a loop on itself")
            << QByteArray::fromHex("80FE") + image.mid(2) << true;
        QTest::newRow("core held in reset") << image << false;
    }
    void wrongImageAnswersNothing() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, release);

        QVERIFY(download(bytes, release));
        QVERIFY(device->SetAltIntfc(WIRE_TRANSFER_ALT_SETTING));
        uint8_t answer = 0;
        QVERIFY(!inquire(&answer));

        for (const int position : {WIRE_OUT_ENDPOINT_POSITION, WIRE_IN_ENDPOINT_POSITION})
            endpoint(position)->timeoutMs = 500;
        const int64_t before = stack->nowNs();
        QVERIFY(transact(hex(WorkedStream), 3).isNull());
        QVERIFY(stack->nowNs() - before >= int64_t(500) * 1000 * 1000);
        QCOMPARE(chip->bus().eventsText(), QString());
    }
};

QTEST_GUILESS_MAIN(TestAdapterOnUsbLayer)
#include "tst_AdapterOnUsbLayer.moc"
