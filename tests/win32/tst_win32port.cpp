// The Windows driver seam on a stand-in for the vendor's driver (the generic
// driver on the simulated adapter running the shipped firmware), with the
// system's own events, waits and overlapped results: listing, opening,
// synchronous and overlapped requests, the time-out and its one abort, the
// device-change message, and the faults of the fault matrix through the
// window and the command-line path.

#include "AdapterSession.h"
#include "Brantle.h"
#include "CCyAltSetting.h"
#include "CCyDriverDevice.h"
#include "CCyUSBEndPoint.h"
#include "ControlCode.h"
#include "ExitStatus.h"
#include "FakeWin32Driver.h"
#include "ScriptSender.h"
#include "ShortOutStack.h"
#include "SimUsbStack.h"
#include "Win32DriverPort.h"

#include <QComboBox>
#include <QStatusBar>
#include <QtTest>

#include <cstring>

namespace {

using Kind = SimUsbStack::TransferKind;
using Action = SimUsbStack::FaultAction;

const int64_t NsPerMs = 1000000;
const int64_t TimeOutNs = 10000 * NsPerMs;

const QString script = QStringLiteral("A2 00 00 , A3 FF FF ;");
const QString result = QStringLiteral("A2 00 00 , A3 00 01 ;");
const QString ok = QStringLiteral("OK.");

// The adapters behind the stand-in driver, and the port on top.
struct Bench {
    explicit Bench(int adapters = 1) {
        for (int i = 0; i < adapters; ++i)
            plug();
    }
    QString plug() {
        QString path;
        chips.append(sim.plugBenchAdapter(AdapterSession::readFirmware(), &path));
        paths.append(path);
        return path;
    }
    SimUsbStack sim;
    ShortOutStack shortOut{sim};
    GenericUsbDriver driver{shortOut};
    FakeWin32Driver fake{driver};
    Win32DriverPort port{FakeWin32Driver::api()};
    QStringList paths;
    QVector<std::shared_ptr<Fx2Chip>> chips;
};

// The window with its native-event hook in reach: the offscreen platform
// delivers no system messages, so the stand-in's messages are handed over
// here as the system would hand them.
class Window : public Brantle {
public:
    using Brantle::Brantle;
    using Brantle::nativeEvent;
    bool message(UINT code, WPARAM wParam = 0, LPARAM lParam = 0) {
        MSG msg{};
        msg.hwnd = reinterpret_cast<HWND>(winId());
        msg.message = code;
        msg.wParam = wParam;
        msg.lParam = lParam;
        qintptr result = 0x5A5A;
        const bool handled = nativeEvent("windows_generic_MSG", &msg, &result);
        resultUnchanged = resultUnchanged && result == 0x5A5A;
        return handled;
    }
    bool resultUnchanged = true;
};

QString send(Brantle &window) {
    window.ui.pushButtonSend->click();
    return window.ui.labelInfo->text().section(u'\n', 1);
}

} // namespace

class TestWin32Port : public QObject {
    Q_OBJECT
private slots:
    void listing_data();
    void listing();
    void openingAsksForSharedOverlappedAccess();
    void timeOutAbortsOnceOnARealEvent_data();
    void timeOutAbortsOnceOnARealEvent();
    void sameAnswersAsTheGenericDriver_data();
    void sameAnswersAsTheGenericDriver();
    void windowFollowsTheDeviceChangeMessage();
    void deviceObjectGetsClassAndHandleNotifications();
    void faults_data();
    void faults();
};

void TestWin32Port::listing_data() {
    QTest::addColumn<int>("adapters");
    QTest::addColumn<int>("failingIndex"); // -1: none
    QTest::addColumn<bool>("failEverywhere");
    QTest::addColumn<bool>("noList");
    QTest::addColumn<QList<int>>("listed"); // indices into the plugged adapters

    QTest::newRow("none") << 0 << -1 << false << false << QList<int>{};
    QTest::newRow("one") << 1 << -1 << false << false << QList<int>{0};
    QTest::newRow("three") << 3 << -1 << false << false << QList<int>{0, 1, 2};
    // Gone between listing and asking: the rest are still found.
    QTest::newRow("second vanishes") << 3 << 1 << false << false << QList<int>{0, 2};
    // A list that never reports its end must not keep the program forever.
    QTest::newRow("every index fails") << 2 << -1 << true << false << QList<int>{};
    QTest::newRow("no list") << 2 << -1 << false << true << QList<int>{};
}

void TestWin32Port::listing() {
    QFETCH(int, adapters);
    QFETCH(int, failingIndex);
    QFETCH(bool, failEverywhere);
    QFETCH(bool, noList);
    QFETCH(QList<int>, listed);

    Bench bench(adapters);
    if (failingIndex >= 0)
        bench.fake.enumerationError[DWORD(failingIndex)] = ERROR_DEVICE_NOT_CONNECTED;
    if (failEverywhere)
        bench.fake.enumerationErrorEverywhere = ERROR_DEVICE_NOT_CONNECTED;
    if (noList)
        bench.fake.classDevsError = ERROR_ACCESS_DENIED;

    QStringList paths;
    QCOMPARE(bench.port.listDevices(DriverPort::adapterInterfaceClass(), paths), !noList);
    QStringList expected;
    for (int i : listed)
        expected.append(bench.paths.at(i));
    QCOMPARE(paths, expected);

    CCyDriverDevice device(bench.port, {}, DriverPort::adapterInterfaceClass(), false);
    QCOMPARE(int(device.deviceCount()), listed.size());
    for (DWORD flags : bench.fake.classDevsFlags)
        QCOMPARE(flags, DWORD(0x12));
    QCOMPARE(bench.fake.listsOpen, 0);
}

void TestWin32Port::openingAsksForSharedOverlappedAccess() {
    Bench bench(2);
    CCyDriverDevice device(bench.port, {}, DriverPort::adapterInterfaceClass(), true);
    QVERIFY(device.hasHandle());
    QCOMPARE(bench.fake.opens.size(), 1);
    const FakeWin32Driver::OpenCall &call = bench.fake.opens.first();
    QCOMPARE(call.path, bench.paths.at(0).toLocal8Bit());
    QCOMPARE(call.access, DWORD(GENERIC_READ | GENERIC_WRITE));
    QCOMPARE(call.share, DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE));
    QCOMPARE(call.disposition, DWORD(OPEN_EXISTING));
    QCOMPARE(call.flags, DWORD(FILE_FLAG_OVERLAPPED));
    QVERIFY(!call.security && !call.templateFile);

    // What the driver reports reaches the device through the port.
    const UsbDeviceInfo info = bench.sim.devices().at(0);
    QCOMPARE(device.friendlyName(), info.friendlyName);
    QCOMPARE(int(device.address()), int(info.address));
    QCOMPARE(device.vendorId(), info.vendorId);
    QVERIFY(device.configurationCount() > 0);
    QVERIFY(device.currentAltSetting());
    // Synchronous requests wait for their end on an event of their own.
    QVERIFY(bench.fake.ioCount(ControlCode::DriverVersion) == 1);
    for (const FakeWin32Driver::IoCall &io : bench.fake.ioCalls)
        QVERIFY(io.overlapped);
    for (const FakeWin32Driver::EventCall &event : bench.fake.events)
        QVERIFY(!event.manualReset && !event.initialState && !event.named && !event.security);
    QCOMPARE(bench.fake.eventsOpen, 0);

    // Reopening on the other adapter leaves one handle open.
    device.close();
    QVERIFY(device.open(1));
    QCOMPARE(bench.fake.devicesOpen, 1);
    QCOMPARE(bench.fake.opens.last().path, bench.paths.at(1).toLocal8Bit());

    // Refused by the system: no handle, and the reason is kept.
    bench.fake.openError = ERROR_ACCESS_DENIED;
    device.close();
    QVERIFY(!device.open(0));
    QVERIFY(!device.hasHandle());
    QCOMPARE(bench.port.lastSystemError(), DWORD(ERROR_ACCESS_DENIED));
    // Past the end nothing is opened at all.
    const int opens = bench.fake.opens.size();
    QVERIFY(!device.open(2));
    QCOMPARE(bench.fake.opens.size(), opens);
    device.release();
    QCOMPARE(bench.fake.devicesOpen, 0);
}

void TestWin32Port::timeOutAbortsOnceOnARealEvent_data() {
    QTest::addColumn<uint32_t>("timeoutMs");
    QTest::newRow("50 ms") << 50u;
    QTest::newRow("the default 10 s") << CCyUSBEndPoint::DefaultTimeoutMs;
}

void TestWin32Port::timeOutAbortsOnceOnARealEvent() {
    QFETCH(uint32_t, timeoutMs);
    Bench bench;
    AdapterSession session(bench.port);
    session.ensureFirmware(); // the setting with the transaction's endpoints

    // The reply endpoint with no transaction under way: nothing ever comes.
    CCyUSBEndPoint *in = session.device().currentAltSetting()->endPoints(6);
    QVERIFY(in && in->isIn);
    in->timeoutMs = timeoutMs;
    bench.fake.waitResults.clear();
    uint8_t buffer[64] = {};
    int length = sizeof buffer;
    const int64_t before = bench.sim.nowNs();
    QVERIFY(!in->transfer(buffer, length));
    const int64_t spent = bench.sim.nowNs() - before;

    QCOMPARE(bench.fake.aborts(in->address), 1);
    // The real wait timed out, then saw the aborted request end.
    QCOMPARE(bench.fake.waitResults, (QVector<DWORD>{WAIT_TIMEOUT, WAIT_OBJECT_0}));
    QVERIFY2(spent >= int64_t(timeoutMs) * NsPerMs && spent < int64_t(timeoutMs + 100) * NsPerMs,
             qPrintable(QString::number(spent)));
    QCOMPARE(length, 0);
    QCOMPARE(bench.fake.eventsOpen, 0);

    // The adapter is none the worse for it.
    session.device().release();
    Window window(bench.port);
    window.ui.textEditInput->setPlainText(script);
    QCOMPARE(send(window), ok);
    QCOMPARE(window.ui.textEditResult->toPlainText(), result);
}

void TestWin32Port::sameAnswersAsTheGenericDriver_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("clock"); // index in the clock box
    QTest::newRow("EEPROM read") << QStringLiteral("A2 00 00 , A3 FF FF FF FF ;") << 1;
    QTest::newRow("EEPROM write, wait, read back")
        << QStringLiteral("A2 00 20 5A A5 ; [wait 6] A2 00 20 , A3 FF FF ;") << 1;
    QTest::newRow("sensor") << QStringLiteral("90 00 , 91 FF FF ;") << 1;
    QTest::newRow("nobody at 0x30") << QStringLiteral("60 00 ;") << 1;
    QTest::newRow("100 kHz") << QStringLiteral("A2 00 00 , A3 FF ;") << 0;
}

// The same script on twin adapters, once through the Windows port and once
// straight on the generic driver: the firmware download and the transaction
// give the same bytes both ways.
void TestWin32Port::sameAnswersAsTheGenericDriver() {
    QFETCH(QString, text);
    QFETCH(int, clock);
    Bench bench;
    SimUsbStack twinSim;
    twinSim.plugBenchAdapter(AdapterSession::readFirmware());
    GenericUsbDriver twin(twinSim);

    Window viaWin32(bench.port);
    Window direct(twin);
    for (Window *window : {&viaWin32, &direct}) {
        window->ui.textEditInput->setPlainText(text);
        window->ui.comboBoxClock->setCurrentIndex(clock);
        send(*window);
    }
    QCOMPARE(viaWin32.ui.labelInfo->text().section(u'\n', 1),
             direct.ui.labelInfo->text().section(u'\n', 1));
    QCOMPARE(viaWin32.ui.textEditResult->toPlainText(), direct.ui.textEditResult->toPlainText());
    QCOMPARE(viaWin32.statusBar()->currentMessage(), direct.statusBar()->currentMessage());
    QVERIFY(bench.fake.ioCount(ControlCode::DirectTransfer) > 0);
    QCOMPARE(bench.fake.ioCount(ControlCode::AbortEndpoint), 0);
}

void TestWin32Port::windowFollowsTheDeviceChangeMessage() {
    Bench bench;
    Window window(bench.port);
    QCOMPARE(window.comboBoxDevices->count(), 1);

    // Registered once, for the adapters' interface class, on its own window.
    QCOMPARE(bench.fake.registrations.size(), 1);
    const FakeWin32Driver::NotificationCall &call = bench.fake.registrations.first();
    QVERIFY(call.wide);
    QCOMPARE(call.window, reinterpret_cast<HANDLE>(window.winId()));
    QCOMPARE(call.flags, DWORD(DEVICE_NOTIFY_WINDOW_HANDLE));
    QByteArray filter(32, '\0');
    const DWORD size = 32;
    const DWORD type = 5;
    const GUID guid = GUID(DriverPort::adapterInterfaceClass());
    std::memcpy(filter.data(), &size, 4);
    std::memcpy(filter.data() + 4, &type, 4);
    std::memcpy(filter.data() + 12, &guid, 16);
    QCOMPARE(call.filter, filter);

    // A second adapter arrives; its message is held back for now.
    bench.plug();
    QCoreApplication::processEvents();
    QCOMPARE(window.comboBoxDevices->count(), 1);
    QVERIFY(!window.message(WM_PAINT));
    QVERIFY(!window.message(WM_USER, DBT_DEVICEARRIVAL));
    QCOMPARE(window.comboBoxDevices->count(), 1);
    // Whatever the event kind, the device-change message rebuilds the list.
    QVERIFY(window.message(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED));
    QCOMPARE(window.comboBoxDevices->count(), 2);
    QVERIFY(window.resultUnchanged);

    // Delivered as the system would: unplugging the selected one.
    bench.fake.postMessage = [&window](HWND target, UINT code, WPARAM wParam, LPARAM lParam) {
        if (target == reinterpret_cast<HWND>(window.winId()))
            window.message(code, wParam, lParam);
    };
    window.comboBoxDevices->setCurrentIndex(1);
    bench.sim.unplug(bench.paths.at(1));
    QCoreApplication::processEvents();
    QCOMPARE(window.comboBoxDevices->count(), 1);
    QVERIFY(window.ui.labelInfo->text().endsWith(QStringLiteral("Ready.")));
    bench.sim.unplug(bench.paths.at(0));
    QCoreApplication::processEvents();
    QCOMPARE(window.comboBoxDevices->count(), 0);
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Error: Device not found."));
}

void TestWin32Port::deviceObjectGetsClassAndHandleNotifications() {
    Bench bench;
    // The bench's own plugging is heard before anyone registers: the system
    // reports no arrival that came before a registration.
    QCoreApplication::processEvents();
    const HWND notificationWindow = reinterpret_cast<HWND>(0x1234);
    bench.port.setNotificationWindow(notificationWindow);
    bench.fake.postMessage = [&bench](HWND, UINT, WPARAM wParam, LPARAM lParam) {
        bench.port.deliverDeviceChange(wParam, lParam);
    };
    QVector<DriverPort::DeviceChange> changes;
    {
        CCyDriverDevice device(
            bench.port, [&changes](const DriverPort::DeviceChange &c) { changes.append(c); },
            DriverPort::adapterInterfaceClass(), true);
        QVERIFY(device.hasHandle());
        QCOMPARE(bench.fake.registrations.size(), 2);
        const FakeWin32Driver::NotificationCall &byClass = bench.fake.registrations.at(0);
        const FakeWin32Driver::NotificationCall &byHandle = bench.fake.registrations.at(1);
        QVERIFY(!byClass.wide && !byHandle.wide);
        QCOMPARE(byClass.window, HANDLE(notificationWindow));
        QCOMPARE(byClass.filter.size(), 32);
        QCOMPARE(byHandle.filter.size(), int(sizeof(DEV_BROADCAST_HANDLE)));
        DEV_BROADCAST_HANDLE handleFilter;
        std::memcpy(&handleFilter, byHandle.filter.constData(), sizeof handleFilter);
        QCOMPARE(handleFilter.dbch_devicetype, DWORD(6));
        QCOMPARE(handleFilter.dbch_handle, reinterpret_cast<HANDLE>(device.handle()));

        bench.sim.unplug(bench.paths.at(0));
        QCoreApplication::processEvents();
        // The class's removal, with the path, and the handle's.
        QCOMPARE(changes.size(), 2);
        int byPath = 0;
        int byHandleCount = 0;
        for (const DriverPort::DeviceChange &c : changes) {
            QCOMPARE(c.kind, DriverPort::DeviceChange::Removal);
            byPath += c.path == bench.paths.at(0);
            byHandleCount += c.handle == device.handle();
        }
        QCOMPARE(byPath, 1);
        QCOMPARE(byHandleCount, 1);
        device.close();
    }
    // Closing and destruction gave every registration back.
    bench.plug();
    QCoreApplication::processEvents();
    QCOMPARE(changes.size(), 2);
}

void TestWin32Port::faults_data() {
    QTest::addColumn<bool>("downloaded");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("nth");
    QTest::addColumn<int>("action");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("timeOuts");

    const QString chunkFailed = QStringLiteral("Error: Fail to send firmware.");
    const QString headerFailed =
        QStringLiteral("Error: Fain to send 4byte data of in-out number of byte to USB device.");
    const QString replyFailed =
        QStringLiteral("Error: Fail to receive Brantle data from USB device.");
    const QString replyShort =
        QStringLiteral("Error: Fail to receive 3 byte data from USB device.(only 1 byte)");
    const QString inquiryFailed = QStringLiteral("Error: Fail to inquiry type of firmware.");

    struct Row {
        const char *name;
        bool downloaded;
        Kind kind;
        int nth;
        Action action;
        int value;
        QString text;
        int timeOuts;
    };
    const Row rows[] = {
        {"chunk fails", false, Kind::Control, 2, Action::Fail, 0, chunkFailed, 0},
        {"chunk times out", false, Kind::Control, 3, Action::TimeOut, 0, chunkFailed, 1},
        {"chunk short", false, Kind::Control, 4, Action::ShortReply, 2048, ok, 0},
        {"chunk unplugged", false, Kind::Control, 5, Action::Unplug, 0, chunkFailed, 0},
        {"inquiry fails", true, Kind::Control, 1, Action::Fail, 0, inquiryFailed, 0},
        {"header fails", true, Kind::BulkOut, 1, Action::Fail, 0, headerFailed, 0},
        {"header times out", true, Kind::BulkOut, 1, Action::TimeOut, 0, headerFailed, 1},
        {"header unplugged", true, Kind::BulkOut, 1, Action::Unplug, 0, headerFailed, 0},
        {"reply fails", true, Kind::BulkIn, 1, Action::Fail, 0, replyFailed, 0},
        {"reply times out", true, Kind::BulkIn, 1, Action::TimeOut, 0, replyFailed, 1},
        {"reply short", true, Kind::BulkIn, 1, Action::ShortReply, 1, replyShort, 0},
        {"reply unplugged", true, Kind::BulkIn, 1, Action::Unplug, 0, replyFailed, 0},
    };
    for (const Row &r : rows) {
        for (const char *path : {"window", "command line"})
            QTest::addRow("%s: %s", path, r.name)
                << r.downloaded << int(r.kind) << r.nth << int(r.action) << r.value << r.text
                << r.timeOuts;
    }
}

// The fault matrix's reports, on the Windows port: what the protocol raises,
// no transfer waiting past its one time-out, and the next send after the
// adapter came back works.
void TestWin32Port::faults() {
    QFETCH(bool, downloaded);
    QFETCH(int, kind);
    QFETCH(int, nth);
    QFETCH(int, action);
    QFETCH(int, value);
    QFETCH(QString, text);
    QFETCH(int, timeOuts);
    const bool viaWindow = QByteArray(QTest::currentDataTag()).startsWith("window");

    Bench bench;
    std::unique_ptr<Window> window;
    std::unique_ptr<AdapterSession> session;
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    std::unique_ptr<ScriptSender> sender;
    std::function<QString()> sendOnce;
    if (viaWindow) {
        window = std::make_unique<Window>(bench.port);
        window->ui.textEditInput->setPlainText(script);
        Window *w = window.get();
        bench.fake.postMessage = [w](HWND, UINT code, WPARAM wParam, LPARAM lParam) {
            w->message(code, wParam, lParam);
        };
        sendOnce = [w] {
            const QString indicator = send(*w);
            if (indicator == ok)
                return w->ui.textEditResult->toPlainText() == result ? ok : QStringLiteral("?");
            return w->statusBar()->currentMessage();
        };
    } else {
        session = std::make_unique<AdapterSession>(bench.port);
        sender = std::make_unique<ScriptSender>(*session, bench.port, outStream, errStream);
        sendOnce = [&] {
            out.clear();
            err.clear();
            const int status = sender->send(QStringLiteral("-"), script, 1);
            if (status == int(ExitOk))
                return out == result + u'\n' ? ok : QStringLiteral("?");
            return err.trimmed();
        };
    }
    if (downloaded)
        QCOMPARE(sendOnce(), ok);

    bench.sim.injectFault(Kind(kind), nth, Action(action), value);
    const int64_t before = bench.sim.nowNs();
    QCOMPARE(sendOnce(), text);
    const int64_t spent = bench.sim.nowNs() - before;
    QVERIFY2(spent >= timeOuts * TimeOutNs && spent < (timeOuts + 1) * TimeOutNs,
             qPrintable(QString::number(spent)));
    QCOMPARE(bench.fake.eventsOpen, 0);

    // Out and in again; the window hears of it by message, the command
    // line by listing again.
    bench.sim.clearFaults();
    if (bench.sim.chip(bench.paths.at(0)))
        bench.sim.unplug(bench.paths.at(0));
    QCoreApplication::processEvents();
    bench.paths[0] = bench.sim.plug(bench.chips.at(0));
    QCoreApplication::processEvents();
    if (viaWindow)
        QCOMPARE(window->comboBoxDevices->count(), 1);
    QCOMPARE(sendOnce(), ok);
}

QTEST_MAIN(TestWin32Port)
#include "tst_win32port.moc"
