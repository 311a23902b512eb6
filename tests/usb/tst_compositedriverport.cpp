#include "CompletionRecord.h"
#include "CompositeDriverPort.h"
#include "ControlCode.h"
#include "Descriptors.h"
#include "FakeUsbStack.h"
#include "GenericUsbDriver.h"
#include "RequestBlock.h"
#include "TestRunner.h"

#include <QtTest>

#include <cstring>
#include <memory>

using namespace Descriptors;

namespace {

// A driver whose device list may be unobtainable, as when the chip maker's
// driver is not installed.
class ListingDriver : public GenericUsbDriver {
public:
    using GenericUsbDriver::GenericUsbDriver;
    bool listFails = false;
    bool listDevices(const QUuid &interfaceClass, QStringList &paths) override {
        if (listFails) {
            paths.clear();
            return false;
        }
        return GenericUsbDriver::listDevices(interfaceClass, paths);
    }
};

struct Member {
    FakeUsbStack stack;
    ListingDriver driver{stack};
};

// Two members, tagged "cy" and "lu", with adapters at the given paths; an
// adapter's bus address tells the members apart (10 + its index in the first,
// 20 + its index in the second).
struct Rig {
    Member first;
    Member second;
    std::unique_ptr<CompositeDriverPort> port;

    explicit Rig(const QStringList &firstPaths = {QStringLiteral("1-1")},
                 const QStringList &secondPaths = {QStringLiteral("1-1")}) {
        for (int i = 0; i < firstPaths.size(); ++i)
            first.stack.present.append(adapter(firstPaths[i], 10 + i));
        for (int i = 0; i < secondPaths.size(); ++i)
            second.stack.present.append(adapter(secondPaths[i], 20 + i));
        port = std::make_unique<CompositeDriverPort>(QVector<CompositeDriverPort::Member>{
            {&first.driver, QStringLiteral("cy")}, {&second.driver, QStringLiteral("lu")}});
    }

    int address(DriverPort::Handle handle) {
        uint8_t out = 0;
        uint32_t bytes = 0;
        if (!port->ioControl(handle, ControlCode::DeviceAddress, nullptr, 0, &out, 1, bytes) ||
            bytes != 1)
            return -1;
        return out;
    }
};

} // namespace

class TestCompositeDriverPort : public QObject {
    Q_OBJECT
private slots:
    void listing_data();
    void listing();
    void opensAndRequestsReachTheOwner();
    void openFailures_data();
    void openFailures();
    void asynchronousRequestGoesToTheOwner();
    void notificationsCarryTheCompositeNames();
    void systemDeviceChangeReachesEveryMember();
};

void TestCompositeDriverPort::listing_data() {
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<bool>("firstFails");
    QTest::addColumn<QStringList>("second");
    QTest::addColumn<bool>("secondFails");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("listed");

    const QString a = QStringLiteral("1-1");
    const QString b = QStringLiteral("1-2");
    QTest::newRow("both, member by member, the same inner path kept apart")
        << QStringList{a, b} << false << QStringList{a} << false
        << QStringList{QStringLiteral("cy:1-1"), QStringLiteral("cy:1-2"), QStringLiteral("lu:1-1")}
        << true;
    QTest::newRow("first member's driver missing")
        << QStringList{a} << true << QStringList{b} << false
        << QStringList{QStringLiteral("lu:1-2")} << true;
    QTest::newRow("second member's driver missing")
        << QStringList{a} << false << QStringList{b} << true
        << QStringList{QStringLiteral("cy:1-1")} << true;
    QTest::newRow("no adapter anywhere")
        << QStringList() << false << QStringList() << false << QStringList() << true;
    QTest::newRow("no member can list")
        << QStringList{a} << true << QStringList{b} << true << QStringList() << false;
}

void TestCompositeDriverPort::listing() {
    QFETCH(QStringList, first);
    QFETCH(bool, firstFails);
    QFETCH(QStringList, second);
    QFETCH(bool, secondFails);
    QFETCH(QStringList, expected);
    QFETCH(bool, listed);

    Rig rig(first, second);
    rig.first.driver.listFails = firstFails;
    rig.second.driver.listFails = secondFails;
    QStringList paths{QStringLiteral("stale")};
    QCOMPARE(rig.port->listDevices(DriverPort::adapterInterfaceClass(), paths), listed);
    QCOMPARE(paths, expected);

    // Every listed path opens the adapter it names, in its own member.
    for (const QString &path : std::as_const(paths)) {
        const DriverPort::Handle handle = rig.port->openDevice(path);
        QVERIFY2(handle != DriverPort::InvalidHandle, qPrintable(path));
        const bool inFirst = path.startsWith(QLatin1String("cy:"));
        const QStringList &own = inFirst ? first : second;
        const int index = int(own.indexOf(path.mid(3)));
        QCOMPARE(rig.address(handle), (inFirst ? 10 : 20) + index);
        QVERIFY(rig.port->closeDevice(handle));
    }
}

void TestCompositeDriverPort::opensAndRequestsReachTheOwner() {
    Rig rig;
    // Both members number their handles from 1; the composite's stay apart.
    const DriverPort::Handle cy = rig.port->openDevice(QStringLiteral("cy:1-1"));
    const DriverPort::Handle lu = rig.port->openDevice(QStringLiteral("lu:1-1"));
    QVERIFY(cy != DriverPort::InvalidHandle && lu != DriverPort::InvalidHandle && cy != lu);
    QCOMPARE(rig.first.stack.opens, 1);
    QCOMPARE(rig.second.stack.opens, 1);
    QCOMPARE(rig.address(cy), 10);
    QCOMPARE(rig.address(lu), 20);

    QVERIFY(rig.port->closeDevice(cy));
    QCOMPARE(rig.first.stack.closes, 1);
    QCOMPARE(rig.second.stack.closes, 0);
    QVERIFY(!rig.port->closeDevice(cy));
    QCOMPARE(rig.address(cy), -1);
    QCOMPARE(rig.address(lu), 20);

    // What is still open when the composite goes is closed in its member.
    rig.port.reset();
    QCOMPARE(rig.second.stack.closes, 1);
    QCOMPARE(rig.second.stack.openSessions(), 0);
}

void TestCompositeDriverPort::openFailures_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    QTest::newRow("unknown member")
        << QStringLiteral("xx:1-1") << QStringLiteral("Cannot open xx:1-1.");
    QTest::newRow("no tag") << QStringLiteral("1-1") << QStringLiteral("Cannot open 1-1.");
    QTest::newRow("tag without separator")
        << QStringLiteral("cy1-1") << QStringLiteral("Cannot open cy1-1.");
    QTest::newRow("member's own reason")
        << QStringLiteral("lu:1-1") << QStringLiteral("cannot open");
    QTest::newRow("absent in its member")
        << QStringLiteral("cy:9-9") << QStringLiteral("cannot open");
}

void TestCompositeDriverPort::openFailures() {
    QFETCH(QString, path);
    QFETCH(QString, reason);
    Rig rig;
    rig.second.stack.present[0].openFails = true;
    QCOMPARE(rig.port->openDevice(path), DriverPort::InvalidHandle);
    QCOMPARE(rig.port->lastOpenError(), reason);
    // A later success clears the reason.
    QVERIFY(rig.port->openDevice(QStringLiteral("cy:1-1")) != DriverPort::InvalidHandle);
    QCOMPARE(rig.port->lastOpenError(), QString());
}

void TestCompositeDriverPort::asynchronousRequestGoesToTheOwner() {
    Rig rig;
    const DriverPort::Handle cy = rig.port->openDevice(QStringLiteral("cy:1-1"));
    const DriverPort::Handle lu = rig.port->openDevice(QStringLiteral("lu:1-1"));
    FakeUsbStack::Reply reply;
    reply.data = QByteArray::fromHex("a1b2c3");
    rig.second.stack.replies = {reply};

    RequestBlock request(RequestBlock::HeaderSize);
    request.setEndpointAddress(0x86);
    QByteArray data(3, '\0');
    CompletionRecord record;
    QCOMPARE(rig.port->startRequest(
                 lu, ControlCode::DirectTransfer, request.bytes(), uint32_t(request.size()),
                 reinterpret_cast<uint8_t *>(data.data()), uint32_t(data.size()), record),
             uint32_t(DriverPort::IoPending));
    QCOMPARE(record.port(), static_cast<DriverPort *>(&rig.second.driver));
    QCOMPARE(rig.first.stack.submissions.size(), 0);
    QCOMPARE(rig.second.stack.submissions.size(), 1);
    QCOMPARE(rig.port->waitRequest(record, 1000), DriverPort::WaitResult::Signalled);
    uint32_t bytes = 0;
    QVERIFY(rig.port->requestResult(record, bytes));
    QCOMPARE(bytes, 3u);
    QCOMPARE(data.toHex(), QByteArray("a1b2c3"));
    record.release();
    QCOMPARE(rig.second.stack.liveTransfers(), 0);

    // A record no member started, and a handle that is not open.
    CompletionRecord stranger;
    QCOMPARE(rig.port->waitRequest(stranger, 0), DriverPort::WaitResult::Failed);
    QVERIFY(!rig.port->requestResult(stranger, bytes));
    QCOMPARE(rig.port->startRequest(cy + lu + 1, ControlCode::DirectTransfer, request.bytes(),
                                    uint32_t(request.size()),
                                    reinterpret_cast<uint8_t *>(data.data()), uint32_t(data.size()),
                                    stranger),
             uint32_t(DriverPort::BadHandle));
    QCOMPARE(stranger.startError(), uint32_t(DriverPort::BadHandle));
    QCOMPARE(rig.first.stack.submissions.size() + rig.second.stack.submissions.size(), 1);
}

void TestCompositeDriverPort::notificationsCarryTheCompositeNames() {
    Rig rig;
    const DriverPort::Handle cy = rig.port->openDevice(QStringLiteral("cy:1-1"));
    QStringList classEvents;
    QStringList handleEvents;
    auto describe = [](const DriverPort::DeviceChange &change) {
        return (change.kind == DriverPort::DeviceChange::Arrival ? QStringLiteral("+")
                                                                 : QStringLiteral("-")) +
               change.path + u'@' + QString::number(change.handle);
    };
    const DriverPort::Registration all = rig.port->registerClassNotification(
        DriverPort::adapterInterfaceClass(),
        [&](const DriverPort::DeviceChange &change) { classEvents << describe(change); });
    const DriverPort::Registration mine = rig.port->registerHandleNotification(
        cy, [&](const DriverPort::DeviceChange &change) { handleEvents << describe(change); });
    QVERIFY(all != 0 && mine != 0 && all != mine);
    QCOMPARE(rig.port->registerHandleNotification(cy + 100, {}), DriverPort::Registration(0));

    rig.second.stack.plug(adapter(QStringLiteral("2-4")));
    // The same inner path leaving the other member is not this handle's device.
    rig.second.stack.unplug(QStringLiteral("1-1"));
    rig.first.stack.unplug(QStringLiteral("1-1"));
    QCoreApplication::processEvents();
    QCOMPARE(classEvents, (QStringList{QStringLiteral("+lu:2-4@-1"), QStringLiteral("-lu:1-1@-1"),
                                       QStringLiteral("-cy:1-1@-1")}));
    QCOMPARE(handleEvents, QStringList{QStringLiteral("-cy:1-1@") + QString::number(cy)});

    QVERIFY(rig.port->unregisterNotification(all));
    QVERIFY(!rig.port->unregisterNotification(all));
    QVERIFY(rig.port->unregisterNotification(mine));
    rig.first.stack.plug(adapter(QStringLiteral("1-1")));
    QCoreApplication::processEvents();
    QCOMPARE(classEvents.size(), 3);
}

void TestCompositeDriverPort::systemDeviceChangeReachesEveryMember() {
    Rig rig;
    rig.port->systemDeviceChange();
    QCOMPARE(rig.first.stack.systemChanges, 1);
    QCOMPARE(rig.second.stack.systemChanges, 1);
}

int runCompositeDriverPortTests(int argc, char **argv) {
    TestCompositeDriverPort test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_compositedriverport.moc"
