// LibusbStack against a simulated FX2 behind the kernel's USB device
// interface (umockdev): the real libusb enumerates sysfs, opens the device
// node and exchanges URBs, which the chip model answers. Runs under
// umockdev-wrapper.

#include "AdapterSession.h"
#include "Brantle2.h"
#include "CCyAltSetting.h"
#include "CCyConfiguration.h"
#include "CCyDriverDevice.h"
#include "CCyUSBEndPoint.h"
#include "CompletionRecord.h"
#include "Eeprom24.h"
#include "GenericUsbDriver.h"
#include "LibusbStack.h"
#include "SimUsbStack.h"
#include "UsbdevfsAdapter.h"
#include "adapter_wire.h"

#include <umockdev.h>

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <memory>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

QString defaultScript() {
    QFile file(QStringLiteral(BRANTLE_EXAMPLES_DIR "/eeprom-read.txt"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

std::shared_ptr<Fx2Chip> benchChip(const QByteArray &eeprom) {
    auto chip = std::make_shared<Fx2Chip>();
    auto memory = std::make_shared<Eeprom24>();
    memory->memory().replace(0, eeprom.size(), eeprom);
    chip->bus().attach(memory);
    chip->setAdapterFirmware(AdapterSession::readFirmware());
    return chip;
}

QByteArray pattern() {
    QByteArray bytes(64, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(0xC0 ^ (i * 7));
    return bytes;
}

// The first `n` bytes of the pattern as the rendered answer shows them.
QString patternText(int n) {
    return QString::fromLatin1(pattern().left(n).toHex(' ').toUpper());
}

// Compiles the script, runs it on the session and renders the answer.
QString runScript(AdapterSession &session, QString script, bool *acknowledged) {
    Brantle2 converter;
    QByteArray stream;
    converter.convert(script, Brantle2::Compile, stream);
    *acknowledged = session.transact(stream);
    converter.convert(script, Brantle2::Render, stream);
    return script;
}

} // namespace

Q_DECLARE_METATYPE(LibusbStack::ChangeSource)
Q_DECLARE_METATYPE(LibusbStack::EventSource)

class TestLibusbStack : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void listsAdapterByProductString_data();
    void listsAdapterByProductString();
    void opensAndReadsDescriptors_data();
    void opensAndReadsDescriptors();
    void downloadsFirmwareAndSelectsAltSetting1();
    void runsDefaultScriptLikeTheSimulatedStack_data();
    void runsDefaultScriptLikeTheSimulatedStack();
    void transferThatTimesOutIsAborted();
    void commandLineToolListsAndUsesTheAdapter();
    void commandLineToolExplainsMissingAccess();
    void unplugFailsTransferInFlightAndReplugIsHeard_data();
    void unplugFailsTransferInFlightAndReplugIsHeard();

private:
    void start(const QString &productName = QString(),
               LibusbStack::ChangeSource changes = LibusbStack::ChangeSource::Automatic,
               LibusbStack::EventSource events = LibusbStack::EventSource::Automatic);

    UMockdevTestbed *m_testbed = nullptr;
    int m_nextAddress = 2;
    std::shared_ptr<Fx2Chip> m_chip;
    std::unique_ptr<UsbdevfsAdapter> m_adapter;
    std::unique_ptr<LibusbStack> m_stack;
    std::unique_ptr<GenericUsbDriver> m_driver;
};

void TestLibusbStack::initTestCase() {
    // libusb must find the testbed's sysfs from its first look on. The
    // question is answered by looking at the testbed, and the first answer
    // is kept: ask only once it exists.
    m_testbed = umockdev_testbed_new();
    QVERIFY2(umockdev_in_mock_environment(), "run this test under umockdev-wrapper");
    QVERIFY(!AdapterSession::readFirmware().isEmpty());
}

void TestLibusbStack::cleanupTestCase() {
    if (m_testbed)
        g_object_unref(m_testbed);
}

void TestLibusbStack::init() {
    m_chip = benchChip(pattern());
}

// The adapter goes in before libusb starts, as on a machine where it is
// already plugged in.
void TestLibusbStack::start(const QString &productName, LibusbStack::ChangeSource changes,
                            LibusbStack::EventSource events) {
    if (!productName.isNull())
        m_chip->setProductName(productName);
    m_adapter = std::make_unique<UsbdevfsAdapter>(m_testbed, m_chip);
    m_adapter->plug(m_nextAddress++);
    // Polling is made quick so that the test need not wait for it.
    m_stack = std::make_unique<LibusbStack>(nullptr, changes, 20, events);
    QVERIFY2(m_stack->isAvailable(), qPrintable(m_stack->initError()));
    m_driver = std::make_unique<GenericUsbDriver>(*m_stack);
}

void TestLibusbStack::cleanup() {
    m_driver.reset();
    m_stack.reset();
    m_adapter.reset();
    m_chip.reset();
}

void TestLibusbStack::listsAdapterByProductString_data() {
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("friendlyName");
    QTest::newRow("product string")
        << QStringLiteral("Bench I2C \u00b5Adapter") << QStringLiteral("Bench I2C \u00b5Adapter");
    QTest::newRow("empty product string, the identity instead")
        << QString(QLatin1String("")) << QStringLiteral("USB device 04B4:8613");
}

void TestLibusbStack::listsAdapterByProductString() {
    QFETCH(QString, product);
    QFETCH(QString, friendlyName);
    start(product);
    const int address = m_nextAddress - 1;

    const QVector<UsbDeviceInfo> devices = m_stack->devices();
    QCOMPARE(devices.size(), 1);
    QCOMPARE(devices[0].path, QStringLiteral("1-1"));
    QCOMPARE(devices[0].friendlyName, friendlyName);
    QCOMPARE(devices[0].deviceName, m_adapter->deviceNode());
    QCOMPARE(int(devices[0].address), address);

    // What the device list shows: the driver's friendly name and address.
    AdapterSession session(*m_driver);
    CCyDriverDevice &device = session.device();
    QCOMPARE(int(device.deviceCount()), 1);
    QVERIFY(device.hasHandle());
    QCOMPARE(device.friendlyName(), friendlyName);
    QCOMPARE(int(device.address()), address);
}

void TestLibusbStack::opensAndReadsDescriptors_data() {
    QTest::addColumn<bool>("highSpeed");
    QTest::newRow("high speed") << true;
    QTest::newRow("full speed, on a USB 1.1 port") << false;
}

// Endpoint packet sizes differ between the speeds, so the configuration
// descriptor shows that the one of the chip's speed came through.
void TestLibusbStack::opensAndReadsDescriptors() {
    QFETCH(bool, highSpeed);
    m_chip->setHighSpeed(highSpeed);
    start();
    AdapterSession session(*m_driver);
    CCyDriverDevice &device = session.device();
    QVERIFY(device.hasHandle());

    const QByteArray deviceDescriptor = m_chip->deviceDescriptor();
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(device.deviceDescriptor().data()), 18),
             deviceDescriptor);
    const std::vector<uint8_t> &raw = device.rawConfigurationDescriptor(0);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(raw.data()), int(raw.size())),
             m_chip->configurationDescriptor());
    QCOMPARE(device.vendorId(), uint16_t(0x04B4));
    QCOMPARE(device.productId(), uint16_t(0x8613));
    QCOMPARE(device.manufacturer(), m_chip->manufacturerName());
    QCOMPARE(device.product(), m_chip->productName());
    QCOMPARE(int(device.altSettingCount()), Fx2Chip::AltSettingCount);
    QCOMPARE(device.isHighSpeed(), highSpeed);
    // A fresh chip: the zero-bandwidth setting is current.
    QCOMPARE(int(device.altSetting()), 0);
    QCOMPARE(int(device.currentAltSetting()->bAlternateSetting), 0);
}

void TestLibusbStack::downloadsFirmwareAndSelectsAltSetting1() {
    start();
    AdapterSession session(*m_driver);
    QCOMPARE(session.ensureFirmware(), 1);
    const QByteArray image = AdapterSession::readFirmware();
    m_adapter->withChip([&](Fx2Chip &chip) {
        QVERIFY(chip.running());
        QCOMPARE(chip.altSetting(), 1);
        QCOMPARE(chip.ram().left(image.size()), image);
    });
    QCOMPARE(int(session.device().altSetting()), 1);
    QCOMPARE(int(session.device().currentAltSetting()->bAlternateSetting), 1);
    // Now the firmware itself answers the inquiry.
    QCOMPARE(session.ensureFirmware(), 0);
}

// The same script on the same chip through the simulated stack is the
// reference: the kernel path must not change a byte of the answer.
void TestLibusbStack::runsDefaultScriptLikeTheSimulatedStack_data() {
    opensAndReadsDescriptors_data();
}

// The answer spans several packets at full speed (64 bytes each) and one at
// high speed.
void TestLibusbStack::runsDefaultScriptLikeTheSimulatedStack() {
    QFETCH(bool, highSpeed);
    const QString script = defaultScript();
    QVERIFY(!script.isEmpty());

    SimUsbStack simulated;
    std::shared_ptr<Fx2Chip> referenceChip = benchChip(pattern());
    referenceChip->setHighSpeed(highSpeed);
    simulated.plug(referenceChip);
    GenericUsbDriver simulatedDriver(simulated);
    AdapterSession reference(simulatedDriver);
    bool referenceAck = false;
    const QString expected = runScript(reference, script, &referenceAck);
    QVERIFY(referenceAck);

    m_chip->setHighSpeed(highSpeed);
    start();
    AdapterSession session(*m_driver);
    bool acknowledged = false;
    const QString result = runScript(session, script, &acknowledged);
    QVERIFY(acknowledged);
    QCOMPARE(result, expected);
    // The pattern really came off the bus: its first bytes are in the answer.
    QVERIFY2(result.contains(patternText(16)), qPrintable(result));
    // And again, with the firmware already running.
    QCOMPARE(runScript(session, script, &acknowledged), expected);
}

void TestLibusbStack::transferThatTimesOutIsAborted() {
    start();
    AdapterSession session(*m_driver);
    session.ensureFirmware();
    CCyUSBEndPoint *in = session.device().currentAltSetting()->endPoints(WIRE_IN_ENDPOINT_POSITION);
    QVERIFY(in);

    // Nothing was sent, so the firmware has nothing to answer.
    in->timeoutMs = 150;
    uint8_t buffer[64] = {};
    int length = sizeof buffer;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!in->transfer(buffer, length));
    QVERIFY(clock.elapsed() >= 150);
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(length, 0);
    QCOMPARE(in->usbStatus, uint32_t(DriverPort::UsbCancelled));
    QCOMPARE(m_adapter->discardedUrbs(), 1);
    QCOMPARE(m_adapter->pendingUrbs(), 0);

    // The aborted read left nothing behind to steal the next answer.
    bool acknowledged = false;
    in->timeoutMs = CCyUSBEndPoint::DefaultTimeoutMs;
    const QString result =
        runScript(session, QStringLiteral("A2 00 00 , A3 FF FF ;"), &acknowledged);
    QVERIFY(acknowledged);
    QVERIFY2(result.contains(patternText(2)), qPrintable(result));
}

// brantle-cli without --sim, started in the testbed: umockdev's preload
// library and the testbed's location are inherited through the environment,
// and the child's usbdevfs requests come to this process's chip.
void TestLibusbStack::commandLineToolListsAndUsesTheAdapter() {
    m_adapter = std::make_unique<UsbdevfsAdapter>(m_testbed, m_chip);
    const int address = m_nextAddress++;
    m_adapter->plug(address);

    QProcess list;
    list.start(QStringLiteral(BRANTLE_CLI), {QStringLiteral("--list")});
    QVERIFY(list.waitForFinished(20000));
    QCOMPARE(list.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(list.readAllStandardOutput()),
             QStringLiteral("0: %1 - [%2]\n").arg(m_chip->productName()).arg(address));

    QProcess send;
    send.start(QStringLiteral(BRANTLE_CLI),
               {QStringLiteral(BRANTLE_EXAMPLES_DIR "/eeprom-read.txt")});
    QVERIFY(send.waitForFinished(20000));
    const QString out = QString::fromUtf8(send.readAllStandardOutput());
    QCOMPARE(QString::fromUtf8(send.readAllStandardError()), QStringLiteral("OK.\n"));
    QCOMPARE(send.exitCode(), 0);
    QVERIFY2(out.contains(patternText(16)), qPrintable(out));
    m_adapter->withChip([](Fx2Chip &chip) { QVERIFY(chip.running()); });
}

// A device node the user may not write, as before the udev rule is
// installed: the adapter is still listed, under its identity, and the
// failures name the rule. Root would open the node anyway, so the tool runs
// without the capabilities that override file permissions.
void TestLibusbStack::commandLineToolExplainsMissingAccess() {
    m_adapter = std::make_unique<UsbdevfsAdapter>(m_testbed, m_chip);
    const int address = m_nextAddress++;
    m_adapter->plug(address, false);
    gchar *root = umockdev_testbed_get_root_dir(m_testbed);
    const QString node = QString::fromUtf8(root) + m_adapter->deviceNode();
    g_free(root);
    QVERIFY(QFile::setPermissions(node, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    // For root, exec hands out every capability in the bounding set again,
    // so that is where they go; an ordinary user has none to drop.
    auto withoutOverride = [] {
        if (geteuid() != 0)
            return;
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0)
                _exit(99);
    };

    QProcess list;
    list.setChildProcessModifier(withoutOverride);
    list.start(QStringLiteral(BRANTLE_CLI), {QStringLiteral("--list")});
    QVERIFY(list.waitForFinished(20000));
    const QString listErr = QString::fromUtf8(list.readAllStandardError());
    QVERIFY2(list.exitCode() == 0, qPrintable(listErr));
    QCOMPARE(QString::fromUtf8(list.readAllStandardOutput()),
             QStringLiteral("0: USB device 04B4:8613 - [%1]\n").arg(address));
    QVERIFY2(listErr.contains(QLatin1String("No permission")), qPrintable(listErr));
    QVERIFY2(listErr.contains(QLatin1String("60-brantle.rules")), qPrintable(listErr));

    QProcess send;
    send.setChildProcessModifier(withoutOverride);
    send.start(QStringLiteral(BRANTLE_CLI),
               {QStringLiteral(BRANTLE_EXAMPLES_DIR "/eeprom-read.txt")});
    QVERIFY(send.waitForFinished(20000));
    const QString sendErr = QString::fromUtf8(send.readAllStandardError());
    QCOMPARE(send.exitCode(), 3);
    QVERIFY2(sendErr.startsWith(QLatin1String("Error: ")), qPrintable(sendErr));
    QVERIFY2(sendErr.contains(QLatin1String("udevadm control --reload-rules")),
             qPrintable(sendErr));
    m_adapter->withChip([](Fx2Chip &chip) { QVERIFY(!chip.running()); });
}

void TestLibusbStack::unplugFailsTransferInFlightAndReplugIsHeard_data() {
    QTest::addColumn<LibusbStack::ChangeSource>("source");
    QTest::addColumn<LibusbStack::EventSource>("events");
    QTest::addColumn<bool>("native");
    QTest::newRow("libusb's hot-plug events")
        << LibusbStack::ChangeSource::Automatic << LibusbStack::EventSource::Automatic << true;
    QTest::newRow("polling the device list")
        << LibusbStack::ChangeSource::Polling << LibusbStack::EventSource::Automatic << false;
    // How it goes on Windows: no descriptors to watch, no hot-plug events.
    QTest::newRow("device-change messages, events on a timer")
        << LibusbStack::ChangeSource::SystemMessages << LibusbStack::EventSource::Timer << false;
}

void TestLibusbStack::unplugFailsTransferInFlightAndReplugIsHeard() {
    QFETCH(LibusbStack::ChangeSource, source);
    QFETCH(LibusbStack::EventSource, events);
    QFETCH(bool, native);
    start(QString(), source, events);
    QCOMPARE(m_stack->hasNativeHotplug(), native);
    QCOMPARE(m_stack->handlesEventsOnTimer(), events == LibusbStack::EventSource::Timer);
    // The window passes the system's message on; only this source needs it.
    const bool messages = source == LibusbStack::ChangeSource::SystemMessages;
    QVector<DriverPort::DeviceChange> changes;
    // The system's list may lag behind the plug: a message is sent for
    // each step until the change is seen.
    auto hear = [&](int count) {
        QElapsedTimer clock;
        clock.start();
        while (changes.size() < count && clock.elapsed() < 5000) {
            if (messages)
                m_driver->systemDeviceChange();
            QTest::qWait(20);
        }
        return changes.size() == count;
    };
    CCyDriverDevice device(
        *m_driver, [&changes](const DriverPort::DeviceChange &change) { changes.append(change); },
        DriverPort::adapterInterfaceClass(), true);
    QVERIFY(device.hasHandle());
    QVERIFY(device.SetAltIntfc(WIRE_TRANSFER_ALT_SETTING));
    CCyUSBEndPoint *in = device.currentAltSetting()->endPoints(WIRE_IN_ENDPOINT_POSITION);
    QVERIFY(in);

    // A read waits for the adapter when the adapter goes.
    uint8_t buffer[64] = {};
    CompletionRecord record;
    std::unique_ptr<RequestBlock> block = in->beginTransfer(buffer, sizeof buffer, record);
    QVERIFY(block);
    QTRY_COMPARE_WITH_TIMEOUT(m_adapter->pendingUrbs(), 1, 2000);
    m_adapter->unplug();
    QVERIFY(in->waitForTransfer(record));
    int length = sizeof buffer;
    QVERIFY(!in->finishTransfer(buffer, length, record, std::move(block)));
    QCOMPARE(length, 0);
    QCOMPARE(in->usbStatus, uint32_t(DriverPort::UsbNoDevice));

    // The class and the open handle both hear of the removal, from the
    // event loop.
    QVERIFY(hear(2));
    for (const DriverPort::DeviceChange &change : changes) {
        QCOMPARE(change.kind, DriverPort::DeviceChange::Removal);
        QCOMPARE(change.path, QStringLiteral("1-1"));
    }
    QCOMPARE(changes[0].handle == device.handle() || changes[1].handle == device.handle(), true);
    QCOMPARE(int(device.deviceCount()), 0);
    // Requests on the handle of the gone device fail, and closing it later
    // is still clean.
    QCOMPARE(int(device.altSetting()), 0xFF);
    QVERIFY(!device.SetAltIntfc(0));

    changes.clear();
    const int address = m_nextAddress++;
    m_adapter->plug(address);
    // Without the message nothing is heard.
    if (messages) {
        QTest::qWait(100);
        QCOMPARE(changes.size(), 0);
    }
    QVERIFY(hear(1));
    QCOMPARE(changes[0].kind, DriverPort::DeviceChange::Arrival);
    QCOMPARE(changes[0].path, QStringLiteral("1-1"));

    // The replugged chip is fresh: a new address and the firmware gone.
    device.close();
    QVERIFY(device.open(0));
    QCOMPARE(int(device.address()), address);
    QCOMPARE(int(device.altSetting()), 0);
    device.release();
}

QTEST_GUILESS_MAIN(TestLibusbStack)
#include "tst_libusbstack.moc"
