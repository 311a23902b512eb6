#include "Eeprom24.h"
#include "EmulatedCore.h"
#include "ReferenceCore.h"
#include "SimTestUtil.h"
#include "SimUsbStack.h"
#include "StackExchange.h"

#include "adapter_wire.h"

#include <QtTest>

namespace {
using Kind = SimUsbStack::TransferKind;
using Action = SimUsbStack::FaultAction;
} // namespace

class TestSimUsbStack : public QObject {
    Q_OBJECT

    QByteArray image = shippedFirmwareImage();
    std::unique_ptr<SimUsbStack> stack;
    std::shared_ptr<Fx2Chip> chip;
    QString path;
    UsbStack::SessionId session = -1;
    QStringList hotplug;

private slots:
    void init() {
        stack = std::make_unique<SimUsbStack>();
        hotplug.clear();
        stack->setHotplugHandler(
            [this](const QString &p, bool arrived) { hotplug << (arrived ? "+" : "-") + p; });
        chip = stack->plugBenchAdapter(image, &path);
        session = stack->open(path);
        QVERIFY(session >= 0);
    }

    void listsPluggedAdapters() {
        auto second = std::make_shared<Fx2Chip>();
        second->setProductName("Second");
        const QString p2 = stack->plug(second);
        const QVector<UsbDeviceInfo> list = stack->devices();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[0].path, path);
        QCOMPARE(list[0].friendlyName, chip->productName());
        QCOMPARE(list[0].vendorId, uint16_t(0x04B4));
        QCOMPARE(list[0].productId, uint16_t(0x8613));
        QCOMPARE(list[1].friendlyName, QString("Second"));
        QVERIFY(list[0].address != list[1].address);
        QVERIFY(list[0].address >= 1 && list[0].address <= 127);
        QVERIFY(stack->plug(second).isEmpty());                            // already plugged
        QVERIFY(stack->plug(std::make_shared<Fx2Chip>(), path).isEmpty()); // path taken
        QVERIFY(stack->unplug(path));
        QCOMPARE(stack->devices().size(), 1);
        QCOMPARE(hotplug, (QStringList{"+" + path, "+" + p2, "-" + path}));
        QString error;
        QVERIFY(stack->open(path, &error) < 0);
        QVERIFY(!error.isEmpty());
    }

    void downloadThenWorkedTransaction() {
        QCOMPARE(stack->altSetting(session), 0);
        uint8_t answer = 0;
        // With the CPU held nobody answers a vendor request: it is NAKed
        // until the host gives up.
        QCOMPARE(inquire(*stack, session, &answer).status, UsbTransferStatus::Cancelled);
        QVERIFY(download(*stack, session, image));
        QCOMPARE(stack->altSetting(session), 1);
        // The firmware sets itself up first (at the 12 MHz the chip starts
        // with); a request that came before would find its SETUP cleared.
        stack->advanceTime(Fx2Chip::StartUpNs);
        QCOMPARE(inquire(*stack, session, &answer).bytes, 1);
        QCOMPARE(answer, uint8_t(WIRE_INQUIRY_ANSWER));

        const int64_t before = stack->nowNs();
        const Exchange e = transact(*stack, session, hex(WorkedStream), 3);
        QCOMPARE(e.header.result.status, UsbTransferStatus::Completed);
        QCOMPARE(e.stream.result.bytes, 18);
        QCOMPARE(e.reply.result.status, UsbTransferStatus::Completed);
        QCOMPARE(hexText(e.reply.data), QString("00 01 00"));
        QCOMPARE(chip->bus().eventsText(), QString("S A2+ 00+ 00+ Sr A3+ r00+ r01- P"));
        // The bus work shows on the virtual clock: 57 bit times at 100 kHz,
        // and the firmware's own work around them.
        const int64_t spent = stack->nowNs() - before;
        QVERIFY2(spent >= 570000 && spent < 1570000, qPrintable(QString::number(spent)));
        QCOMPARE(chip->emulatedCore()->peripherals().unknownAccessCount(), 0);

        // The log shows the download and the exchange, in order.
        const auto &log = stack->log();
        QList<int> values;
        for (const auto &entry : log) {
            if (entry.kind == Kind::Control && entry.setup.bRequest == WIRE_REQUEST_FIRMWARE_LOAD)
                values << entry.setup.wValue;
        }
        QCOMPARE(values, (QList<int>{0xE600, 0x0000, 0x1000, 0x2000, 0x3000, 0xE600}));
        QCOMPARE(log[log.size() - 3].endpoint, uint8_t(0x04));
        QCOMPARE(hexText(log[log.size() - 3].data), QString("16 00 03 00"));
        QCOMPARE(log.last().endpoint, uint8_t(0x88));
        QCOMPARE(hexText(log.last().data), QString("00 01 00"));
    }

    // Whatever is in RAM runs, and a wrong image fails as it would on the
    // chip: code that runs off the end of the RAM, or that never leaves its
    // first instruction, answers nothing and never arms EP4.
    void wrongImageRunsAndAnswersNothing_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("faults");
        QTest::newRow("all zeros") << QByteArray(WIRE_FIRMWARE_IMAGE_SIZE, '\0') << true;
        QTest::newRow("a loop on itself") << hex("80 FE") + image.mid(2) << false;
    }
    void wrongImageRunsAndAnswersNothing() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, faults);
        QVERIFY(download(*stack, session, bytes));
        stack->advanceTime(Fx2Chip::StartUpNs);
        QVERIFY(chip->running());
        uint8_t answer = 0;
        QCOMPARE(inquire(*stack, session, &answer).status, UsbTransferStatus::Cancelled);
        const int64_t before = stack->nowNs();
        const Exchange e = transact(*stack, session, hex(WorkedStream), 3);
        QCOMPARE(e.header.result.status, UsbTransferStatus::Cancelled);
        QCOMPARE(e.reply.result.status, UsbTransferStatus::Cancelled);
        QCOMPARE(stack->nowNs() - before, 3 * TimeoutMs * NsPerMs);
        QVERIFY(chip->bus().events().isEmpty());
        QCOMPARE(chip->emulatedCore()->fault() == mcs51::Fault::CodeOutOfRange, faults);
    }

    void replyWaitingForItsRequest() {
        chip->bootWithFirmware();
        QVERIFY(stack->setAltSetting(session, 1));
        // The IN transfer is started before the command goes out, as a driver
        // with a read queued would; it completes when the reply arrives.
        QByteArray reply(3, '\0');
        const auto in = stack->submit(session, 0x88, reinterpret_cast<uint8_t *>(reply.data()), 3);
        QVERIFY(in != 0);
        QCOMPARE(stack->result(in).status, UsbTransferStatus::Pending);
        QByteArray framed = ReferenceCore::frame(hex(WorkedStream), 3);
        const auto out =
            stack->submit(session, 0x04, reinterpret_cast<uint8_t *>(framed.data()), framed.size());
        // One packet: a free OUT buffer takes it at once.
        QCOMPARE(stack->result(out).status, UsbTransferStatus::Completed);
        const int64_t before = stack->nowNs();
        QVERIFY(stack->wait(in, TimeoutMs));
        // The reply comes once the firmware has done the bus work.
        QVERIFY(stack->nowNs() - before >= 570000);
        QCOMPARE(hexText(reply), QString("00 01 00"));
        stack->release(in);
        stack->release(out);
    }

    void waitOnSilenceAdvancesTheClock_data() {
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("10 s") << 10000;
        QTest::newRow("500 ms") << 500;
        QTest::newRow("zero") << 0;
    }
    void waitOnSilenceAdvancesTheClock() {
        QFETCH(int, timeoutMs);
        chip->bootWithFirmware();
        QVERIFY(stack->setAltSetting(session, 1));
        uint8_t buffer[512];
        const auto id = stack->submit(session, 0x88, buffer, sizeof buffer);
        const int64_t before = stack->nowNs();
        QVERIFY(!stack->wait(id, timeoutMs));
        QCOMPARE(stack->nowNs() - before, int64_t(timeoutMs) * NsPerMs);
        stack->cancel(id);
        QVERIFY(stack->wait(id, 0));
        QCOMPARE(stack->result(id).status, UsbTransferStatus::Cancelled);
        stack->release(id);
        QCOMPARE(stack->result(id).status, UsbTransferStatus::Failed); // forgotten
    }

    void endpointsFollowTheAltSetting_data() {
        QTest::addColumn<int>("alt");
        QTest::addColumn<int>("endpoint");
        QTest::addColumn<bool>("starts");
        QTest::newRow("setting 0 has no bandwidth") << 0 << 0x04 << false;
        QTest::newRow("EP4 on setting 1") << 1 << 0x04 << true;
        QTest::newRow("EP3 does not exist") << 1 << 0x03 << false;
        QTest::newRow("isochronous EP2 on setting 3") << 3 << 0x02 << false;
        QTest::newRow("interrupt EP1 on setting 2") << 2 << 0x81 << true;
    }
    void endpointsFollowTheAltSetting() {
        QFETCH(int, alt);
        QFETCH(int, endpoint);
        QFETCH(bool, starts);
        QVERIFY(stack->setAltSetting(session, alt));
        uint8_t buffer[4] = {};
        const auto id = stack->submit(session, uint8_t(endpoint), buffer, 4);
        QCOMPARE(id != 0, starts);
        stack->release(id);
    }

    void faults_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("nth");
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("value");
        // What the three transfers of the worked transaction end as, and the reply.
        QTest::addColumn<QString>("statuses");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<qint64>("extraMs");
        QTest::addColumn<bool>("busRan");
        const int out = int(Kind::BulkOut), in = int(Kind::BulkIn);
        QTest::newRow("no fault") << out << 1 << -1 << 0 << "C C C"
                                  << "00 01 00" << qint64(0) << true;
        QTest::newRow("header fails") << out << 1 << int(Action::Fail) << 0 << "F C x"
                                      << "" << qint64(10000) << false;
        QTest::newRow("stream fails") << out << 2 << int(Action::Fail) << 0 << "C F x"
                                      << "" << qint64(10000) << false;
        QTest::newRow("stream cannot start") << out << 2 << int(Action::Refuse) << 0 << "C F x"
                                             << "" << qint64(10000) << false;
        QTest::newRow("stream times out") << out << 2 << int(Action::TimeOut) << 0 << "C X x"
                                          << "" << qint64(20000) << false;
        // Nobody waits for the reply: the chip never gets to run the transaction.
        QTest::newRow("reply fails") << in << 1 << int(Action::Fail) << 0 << "C C F"
                                     << "" << qint64(0) << false;
        QTest::newRow("reply times out") << in << 1 << int(Action::TimeOut) << 0 << "C C X"
                                         << "" << qint64(10000) << true;
        QTest::newRow("short reply") << in << 1 << int(Action::ShortReply) << 2 << "C C C"
                                     << "00 01" << qint64(0) << true;
        QTest::newRow("status forced") << in << 1 << int(Action::ForceStatus) << 0x80 << "C C C"
                                       << "00 01 80" << qint64(0) << true;
        QTest::newRow("unplugged while sending") << out << 2 << int(Action::Unplug) << 0 << "C N x"
                                                 << "" << qint64(0) << false;
        QTest::newRow("unplugged while receiving") << in << 1 << int(Action::Unplug) << 0 << "C C N"
                                                   << "" << qint64(0) << false;
        QTest::newRow("fault on a later transfer") << out << 3 << int(Action::Fail) << 0 << "C C C"
                                                   << "00 01 00" << qint64(0) << true;
    }
    void faults() {
        QFETCH(int, kind);
        QFETCH(int, nth);
        QFETCH(int, action);
        QFETCH(int, value);
        QFETCH(QString, statuses);
        QFETCH(QString, reply);
        QFETCH(qint64, extraMs);
        QFETCH(bool, busRan);
        chip->bootWithFirmware();
        QVERIFY(stack->setAltSetting(session, 1));
        if (action >= 0)
            stack->injectFault(Kind(kind), nth, Action(action), value);
        const int64_t before = stack->nowNs();
        const Exchange e = transact(*stack, session, hex(WorkedStream), 3);
        auto code = [](const Step &s) {
            switch (s.result.status) {
            case UsbTransferStatus::Completed:
                return QString("C");
            case UsbTransferStatus::Failed:
                return QString("F");
            case UsbTransferStatus::Cancelled:
                return QString("X");
            case UsbTransferStatus::NoDevice:
                return QString("N");
            default:
                return QString("?");
            }
        };
        // A stream that never arrived leaves the firmware waiting: the reply
        // ("x") then runs into its time-out too, or fails with the device gone.
        QString got = code(e.header) + " " + code(e.stream) + " " + code(e.reply);
        if (statuses.endsWith('x')) {
            QVERIFY(e.reply.result.status != UsbTransferStatus::Completed);
            got.chop(1);
            got += "x";
        }
        QCOMPARE(got, statuses);
        QCOMPARE(hexText(e.reply.data), reply);
        // The time-outs, and where the firmware ran the transaction, its bus
        // work and its own (inside a time-out that was waited out).
        const int64_t spent = stack->nowNs() - before;
        QVERIFY2(spent >= extraMs * NsPerMs && spent < extraMs * NsPerMs + 2 * NsPerMs,
                 qPrintable(QString::number(spent)));
        QCOMPARE(!chip->bus().events().isEmpty(), busRan);
    }

    void controlFaults_data() {
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<qint64>("advanceMs");
        QTest::newRow("fails") << int(Action::Fail) << 0 << int(UsbTransferStatus::Failed) << 0
                               << qint64(0);
        QTest::newRow("times out") << int(Action::TimeOut) << 0 << int(UsbTransferStatus::Cancelled)
                                   << 0 << qint64(TimeoutMs);
        QTest::newRow("no byte back")
            << int(Action::ShortReply) << 0 << int(UsbTransferStatus::Completed) << 0 << qint64(0);
        QTest::newRow("unplugged")
            << int(Action::Unplug) << 0 << int(UsbTransferStatus::NoDevice) << 0 << qint64(0);
    }
    void controlFaults() {
        QFETCH(int, action);
        QFETCH(int, value);
        QFETCH(int, status);
        QFETCH(int, bytes);
        QFETCH(qint64, advanceMs);
        chip->bootWithFirmware();
        stack->injectFault(Kind::Control, 2, Action(action), value);
        uint8_t answer = 0;
        QCOMPARE(inquire(*stack, session, &answer).status, UsbTransferStatus::Completed);
        const int64_t before = stack->nowNs();
        const UsbTransferResult r = inquire(*stack, session, &answer);
        QCOMPARE(int(r.status), status);
        QCOMPARE(r.bytes, bytes);
        // The firmware's answer takes it some microseconds.
        const int64_t spent = stack->nowNs() - before;
        QVERIFY2(spent >= advanceMs * NsPerMs && spent < advanceMs * NsPerMs + NsPerMs,
                 qPrintable(QString::number(spent)));
        QCOMPARE(inquire(*stack, session, &answer).status, action == int(Action::Unplug)
                                                               ? UsbTransferStatus::NoDevice
                                                               : UsbTransferStatus::Completed);
    }

    void altSettingFaults() {
        stack->injectFault(Kind::AltSettingQuery, 1, Action::Fail);
        stack->injectFault(Kind::AltSettingSelect, 2, Action::Fail);
        QCOMPARE(stack->altSetting(session), -1);
        QCOMPARE(stack->altSetting(session), 0);
        QVERIFY(stack->setAltSetting(session, 1));
        QVERIFY(!stack->setAltSetting(session, 0));
        QCOMPARE(stack->altSetting(session), 1);
    }

    void unplugDuringPendingTransfer() {
        chip->bootWithFirmware();
        QVERIFY(stack->setAltSetting(session, 1));
        uint8_t buffer[8];
        const auto id = stack->submit(session, 0x88, buffer, sizeof buffer);
        QCOMPARE(stack->result(id).status, UsbTransferStatus::Pending);
        QVERIFY(stack->unplug(path));
        QVERIFY(stack->wait(id, TimeoutMs));
        QCOMPARE(stack->result(id).status, UsbTransferStatus::NoDevice);
        stack->release(id);
        QCOMPARE(stack->submit(session, 0x88, buffer, sizeof buffer), UsbStack::TransferId(0));
        QCOMPARE(stack->altSetting(session), -1);
        QCOMPARE(stack->speed(session), 0);
        stack->close(session);
        // Plugged in again the chip is fresh.
        const QString again = stack->plug(chip);
        const auto s = stack->open(again);
        QCOMPARE(stack->altSetting(s), 0);
        QVERIFY(!chip->running());
    }

    void hotplugFromInsideACallIsDeferred() {
        chip->bootWithFirmware();
        stack->injectFault(Kind::Control, 1, Action::Unplug);
        uint8_t answer = 0;
        QCOMPARE(inquire(*stack, session, &answer).status, UsbTransferStatus::NoDevice);
        QCOMPARE(hotplug, QStringList{"+" + path});
        QCoreApplication::processEvents();
        QCOMPARE(hotplug, (QStringList{"+" + path, "-" + path}));
        QVERIFY(stack->devices().isEmpty());
    }

    void setInterfaceDropsQueuedTransfers() {
        chip->bootWithFirmware();
        QVERIFY(stack->setAltSetting(session, 1));
        uint8_t buffer[8];
        const auto id = stack->submit(session, 0x88, buffer, sizeof buffer);
        QVERIFY(stack->setAltSetting(session, 1));
        QCOMPARE(stack->result(id).status, UsbTransferStatus::Cancelled);
        stack->release(id);
    }

    void closingCancelsTheSessionsTransfers() {
        chip->bootWithFirmware();
        QVERIFY(stack->setAltSetting(session, 1));
        const auto other = stack->open(path);
        uint8_t a[8], b[8];
        const auto mine = stack->submit(session, 0x88, a, 8);
        const auto theirs = stack->submit(other, 0x81, b, 8);
        stack->close(session);
        QCOMPARE(stack->result(mine).status, UsbTransferStatus::Cancelled);
        QCOMPARE(stack->result(theirs).status, UsbTransferStatus::Pending);
        stack->release(mine);
        stack->release(theirs);
    }

    void fullSpeedAdapter() {
        auto slow = std::make_shared<Fx2Chip>();
        slow->setHighSpeed(false);
        slow->setAdapterFirmware(image);
        slow->bus().attach(std::make_shared<Eeprom24>());
        const auto s = stack->open(stack->plug(slow));
        QCOMPARE(stack->speed(s), 1);
        QCOMPARE(stack->speed(session), 2);
        slow->bootWithFirmware();
        QVERIFY(stack->setAltSetting(s, 1));
        // 100 bytes read come back in two packets of 64 and a short one.
        const QByteArray stream = hex("00 01 00 12 00 13 A2 00 00 00 00 00 13 A3") +
                                  QByteArray(100, char(0xFF)) + hex("00 14");
        const Exchange e = transact(*stack, s, stream, 101);
        QCOMPARE(e.reply.result.bytes, 101);
        QCOMPARE(uint8_t(e.reply.data[99]), uint8_t(99));
    }

    void portAThroughTheStack() {
        chip->bootWithFirmware();
        QVERIFY(stack->setAltSetting(session, 1));
        chip->setPortAInputs(0x30);
        const Exchange e = transact(*stack, session, hex("00 01 00 30 03 03 00"), 2);
        QCOMPARE(hexText(e.reply.data), QString("03 00"));
    }

    // Paced by the wall clock, a wait takes its time for real and simulated
    // time never gets ahead of it; virtual time does not wait at all.
    void pacing_data() {
        QTest::addColumn<bool>("paced");
        QTest::newRow("virtual") << false;
        QTest::newRow("wall clock") << true;
    }
    void pacing() {
        QFETCH(bool, paced);
        chip->bootWithFirmware();
        QVERIFY(stack->setAltSetting(session, 1));
        if (paced)
            stack->setPacing(SimUsbStack::Pacing::WallClock);
        QElapsedTimer clock;
        clock.start();
        const int64_t before = stack->nowNs();
        uint8_t buffer[8];
        const auto id = stack->submit(session, 0x88, buffer, sizeof buffer);
        QVERIFY(!stack->wait(id, 60));
        const int64_t simulated = stack->nowNs() - before;
        const int64_t real = clock.nsecsElapsed();
        if (paced) {
            // The time since pacing began comes on top of the wait.
            QVERIFY(simulated >= 60 * NsPerMs);
            QVERIFY(real >= simulated);
            QVERIFY2(real < 2000 * NsPerMs, qPrintable(QString::number(real)));
        } else {
            QCOMPARE(simulated, 60 * NsPerMs);
            QVERIFY2(real < 50 * NsPerMs, qPrintable(QString::number(real)));
        }
        stack->cancel(id);
        QVERIFY(stack->wait(id, 0));
        stack->release(id);
        // Time the host spends elsewhere passes on the simulation too.
        if (paced) {
            QTest::qSleep(30);
            stack->altSetting(session);
            QVERIFY(stack->nowNs() - before >= 90 * NsPerMs);
            QVERIFY(stack->nowNs() - before <= clock.nsecsElapsed());
        }
    }

    void logKeepsTheLatestEntries() {
        stack->setLogCapacity(10);
        for (int i = 0; i < 100; ++i) {
            if (i == 50)
                QVERIFY(stack->setAltSetting(session, 1));
            QCOMPARE(stack->altSetting(session), i < 50 ? 0 : 1);
        }
        QVERIFY(stack->log().size() >= 10 && stack->log().size() <= 20);
        QCOMPARE(stack->log().last().kind, Kind::AltSettingQuery);
        QCOMPARE(hexText(stack->log().last().data), QString("01"));
    }

    void replyLargerThanAskedFor() {
        chip->bootWithFirmware();
        QVERIFY(stack->setAltSetting(session, 1));
        const QByteArray framed = ReferenceCore::frame(hex(WorkedStream), 3);
        bulk(*stack, session, 0x04, framed);
        // The device sends a 3-byte packet into a 2-byte buffer.
        const Step r = bulk(*stack, session, 0x88, QByteArray(2, '\0'));
        QCOMPARE(r.result.status, UsbTransferStatus::Failed);
    }
};

int runSimUsbStackTests(int argc, char **argv) {
    TestSimUsbStack test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_SimUsbStack.moc"
