#include "Eeprom24.h"
#include "I2cBus.h"
#include "ReferenceCore.h"
#include "SimTestUtil.h"
#include "TemperatureSensor.h"

#include "adapter_wire.h"

#include <QtTest>

#include <memory>

namespace {
const char *const WorkedStream = "00 01 00 11 00 13 A2 00 00 00 00 00 13 A3 FF FF 00 14";

// A read of `count` bytes from the EEPROM at address 0, written as the host
// would: address write, repeated start, placeholders, stop.
QByteArray eepromRead(int count) {
    return hex("00 01 00 12 00 13 A2 00 00 00 00 00 13 A3") + QByteArray(count, char(0xFF)) +
           hex("00 14");
}
} // namespace

class TestReferenceCore : public QObject {
    Q_OBJECT

    std::unique_ptr<I2cBus> bus;
    std::shared_ptr<Eeprom24> eeprom;
    std::unique_ptr<ReferenceCore> core;

private slots:
    void init() {
        bus = std::make_unique<I2cBus>();
        eeprom = std::make_shared<Eeprom24>();
        bus->attach(eeprom);
        bus->attach(std::make_shared<TemperatureSensor>());
        core = std::make_unique<ReferenceCore>(*bus);
        core->startUp(true);
    }

    void transactions_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("replyCount");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("events");

        QTest::newRow("worked transaction") << hex(WorkedStream) << 3 << "00 01 00"
                                            << "S A2+ 00+ 00+ Sr A3+ r00+ r01- P";
        QTest::newRow("stop and new start")
            << hex("00 01 00 12 00 13 A2 01 23 00 14 00 13 A3 FF FF FF 00 14") << 4 << "23 24 25 00"
            << "S A2+ 01+ 23+ P S A3+ r23+ r24+ r25- P";
        QTest::newRow("single byte read is not acknowledged")
            << hex("00 01 00 13 A3 FF 00 14") << 2 << "00 00"
            << "S A3+ r00- P";
        QTest::newRow("sensor read")
            << hex("00 01 00 12 00 13 90 00 00 00 13 91 FF FF 00 14") << 3 << "19 00 00"
            << "S 90+ 00+ Sr 91+ r19+ r00- P";
        QTest::newRow("absent address: everything still runs")
            << hex("00 01 00 12 00 13 A0 12 34 00 14") << 1 << "40"
            << "S A0- 12- 34- P";
        QTest::newRow("absent read address: bus reads ones")
            << hex("00 01 00 13 A1 FF FF 00 14") << 3 << "FF FF 40"
            << "S A1- rFF+ rFF- P";
        QTest::newRow("data NAK after acked address")
            << hex("00 01 00 13 90 00 00 55 00 14") << 1 << "40"
            << "S 90+ 00+ 55- P";
        QTest::newRow("ignored escape codes")
            << hex("00 01 00 02 00 10 00 7F 00 FF 00 13 A2 00 14") << 1 << "00"
            << "S A2+ P";
        QTest::newRow("lone escape at the end is ignored")
            << hex("00 01 00 13 A2 00 14 00") << 1 << "00"
            << "S A2+ P";
        QTest::newRow("unknown sub-code skips its bytes")
            << hex("00 01 00 30 04 09 55 66 00 13 A2 00 14") << 1 << "00"
            << "S A2+ P";
        QTest::newRow("extended block running past the end")
            << hex("00 01 00 13 A2 00 14 00 30 03 03") << 2 << "00 00"
            << "S A2+ P";
        QTest::newRow("extended command without its length byte")
            << hex("00 01 00 13 A0 00 14 00 30") << 1 << "40"
            << "S A0- P";
        QTest::newRow("wait among read bytes")
            << hex("00 01 00 13 A3 FF 00 30 04 01 FA 00 FF 00 14") << 3 << "00 01 00"
            << "S A3+ r00+ r01- P";
        QTest::newRow("wait between start and address")
            << hex("00 01 00 13 00 30 04 01 01 00 A2 00 14") << 1 << "00"
            << "S A2+ P";
        QTest::newRow("stop after a wait is not held back")
            << hex("00 01 00 13 A2 00 30 04 01 01 00 00 14 00 13 A2 00 14") << 1 << "00"
            << "S A2+ P S A2+ P";
        QTest::newRow("begin drops the pending byte") << hex("00 13 A2 00 01 00 14") << 1 << "00"
                                                      << "";
        QTest::newRow("wait after the last placeholder: not acknowledged")
            << hex("00 01 00 13 A3 FF FF 00 30 04 01 FA 00 00 14") << 3 << "00 01 00"
            << "S A3+ r00+ r01- P";
        // A port read ends the read; the placeholders after it start a read
        // of their own (nobody is addressed: the bus reads ones).
        QTest::newRow("placeholders after a read that a port read ended")
            << hex("00 01 00 13 A3 FF 00 30 03 03 00 FF FF 00 14") << 5 << "00 0F FF FF 00"
            << "S A3+ r00- P rFF+ rFF- P";
        QTest::newRow("read ended by the end of the stream")
            << hex("00 01 00 13 A3 FF FF") << 3 << "00 01 00"
            << "S A3+ r00+ r01- P";
        QTest::newRow("read ended by a start")
            << hex("00 01 00 13 A3 FF FF 00 13 A2 00 00 00 00 00 14") << 3 << "00 01 00"
            << "S A3+ r00+ r01- P S A2+ 00+ 00+ P";
        QTest::newRow("empty transaction") << QByteArray() << 1 << "00"
                                           << "";
        QTest::newRow("no reply asked") << hex("00 01 00 13 A2 00 14") << 0 << ""
                                        << "S A2+ P";
        QTest::newRow("reply longer than the results")
            << hex("00 01 00 13 A2 00 14") << 3 << "00 00 00"
            << "S A2+ P";
    }
    void transactions() {
        QFETCH(QByteArray, stream);
        QFETCH(int, replyCount);
        QFETCH(QString, reply);
        QFETCH(QString, events);
        core->setPortAInputs(0xF0); // a port A read would show as 0F
        QCOMPARE(hexText(core->exchange(stream, replyCount)), reply);
        QCOMPARE(bus->eventsText(), events);
    }

    // At 100 kHz: START and A3 end at 100 us, the first byte at 190 us; the
    // pause of 20 us comes after it, so the second ends at 300 us.
    void waitInsideReadFollowsTheByteBeforeIt() {
        core->exchange(hex("00 01 00 11 00 13 A3 FF 00 30 04 01 01 00 FF 00 14"), 3);
        QCOMPARE(bus->eventsText(), QString("S A3+ r00+ r01- P"));
        QCOMPARE(bus->events()[2].atNs, int64_t(190000));
        QCOMPARE(bus->events()[3].atNs, int64_t(300000));
    }

    // L counts the header; one below it still has the header behind it, and
    // the results start after the header, not inside it.
    void lengthBelowTheHeader() {
        core->receiveOut(ReferenceCore::TransactionEndpoint, hex("02 00 02 00"));
        QCOMPARE(hexText(core->takeIn(ReferenceCore::ReplyEndpoint)), QString("00 00"));
        QCOMPARE(hexText(core->exchange(hex(WorkedStream), 3)), QString("00 01 00"));
    }

    void escapedZeroIsWrittenAsData() {
        core->exchange(hex("00 01 00 13 A2 00 00 20 00 00 00 00 00 14"), 1);
        QCOMPARE(bus->eventsText(), QString("S A2+ 00+ 20+ 00+ 00+ P"));
        bus->advanceTo(bus->nowNs() + 5000000);
        QCOMPARE(uint8_t(eeprom->memory()[0x20]), uint8_t(0x00));
        QCOMPARE(uint8_t(eeprom->memory()[0x21]), uint8_t(0x00));
        QCOMPARE(uint8_t(eeprom->memory()[0x22]), uint8_t(0x22));
    }

    void eepromWriteThenPollUntilReady() {
        // Write, then read back at once: the EEPROM is still in its write
        // cycle; 5 ms later it answers with the new data.
        core->exchange(hex("00 01 00 13 A2 00 00 08 77 00 14"), 1);
        const QByteArray readBack = hex("00 01 00 13 A2 00 00 08 00 13 A3 FF 00 14");
        QCOMPARE(hexText(core->exchange(readBack, 2)), QString("FF 40"));
        core->exchange(hex("00 30 04 01 FA 00"), 1);
        QCOMPARE(hexText(core->exchange(readBack, 2)), QString("77 00"));
    }

    void busTime_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<qint64>("ns");
        // 100 kHz: 10 us a bit; START/STOP one bit, a byte nine.
        QTest::newRow("write at 100k")
            << hex("00 01 00 11 00 13 A2 00 00 00 00 00 14") << qint64(29 * 10000);
        QTest::newRow("write at 400k")
            << hex("00 01 00 12 00 13 A2 00 00 00 00 00 14") << qint64(29 * 2500);
        QTest::newRow("worked transaction") << hex(WorkedStream) << qint64(57 * 10000);
        QTest::newRow("wait of 250 units is 5 ms")
            << hex("00 01 00 11 00 30 04 01 FA 00") << qint64(5000000);
        QTest::newRow("wait count is little-endian")
            << hex("00 01 00 11 00 30 04 01 01 01") << qint64(257 * 20000);
        QTest::newRow("wait after the stop it follows")
            << hex("00 01 00 11 00 13 A2 00 14 00 30 04 01 01 00") << qint64(11 * 10000 + 20000);
    }
    void busTime() {
        QFETCH(QByteArray, stream);
        QFETCH(qint64, ns);
        const int64_t before = bus->nowNs();
        core->exchange(stream, 1);
        QCOMPARE(bus->nowNs() - before, ns);
    }

    void waitPausesAfterTheByteAndStop() {
        // [wait 5] between two writes: the first write's STOP is on the bus
        // before the pause starts.
        core->exchange(hex("00 01 00 13 A2 30 00 14 00 30 04 01 FA 00 00 13 A2 00 14"), 1);
        const auto &ev = bus->events();
        QCOMPARE(bus->eventsText(), QString("S A2+ 30+ P S A2+ P"));
        QCOMPARE(ev[4].atNs - ev[3].atNs, qint64(5000000 + 2500));
    }

    void clockPersistsBetweenTransactions() {
        QCOMPARE(bus->clockHz(), 400000);
        core->exchange(hex("00 01 00 11"), 1);
        core->exchange(hex("00 01"), 1);
        QCOMPARE(bus->clockHz(), 100000);
        core->startUp(true);
        QCOMPARE(bus->clockHz(), 400000);
    }

    void flagsStickUntilBegin_data() {
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QString>("status");
        QTest::newRow("without begin") << hex("00 13 A2 00 14") << "40";
        QTest::newRow("with begin") << hex("00 01 00 13 A2 00 14") << "00";
    }
    void flagsStickUntilBegin() {
        QFETCH(QByteArray, second);
        QFETCH(QString, status);
        QCOMPARE(hexText(core->exchange(hex("00 01 00 13 A0 00 14"), 1)), QString("40"));
        QCOMPARE(hexText(core->exchange(second, 1)), status);
    }

    void stuckClock_data() {
        QTest::addColumn<qint64>("holdNs");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("events");
        QTest::newRow("held for good") << qint64(I2cBus::Forever) << "FF FF 80"
                                       << "STALL";
        QTest::newRow("held past the limit") << qint64(30000000) << "FF FF 80"
                                             << "STALL";
        QTest::newRow("stretched within the limit") << qint64(20000000) << "00 01 00"
                                                    << "S A2+ 00+ 00+ Sr A3+ r00+ r01- P";
    }
    void stuckClock() {
        QFETCH(qint64, holdNs);
        QFETCH(QString, reply);
        QFETCH(QString, events);
        bus->holdSclLow(holdNs);
        QCOMPARE(hexText(core->exchange(hex(WorkedStream), 3)), reply);
        QCOMPARE(bus->eventsText(), events);
        // The stall costs the controller's patience once, not once per step.
        QVERIFY(bus->nowNs() < 2 * I2cBus::ControllerTimeoutNs);
        bus->releaseScl();
        bus->clearEvents();
        QCOMPARE(hexText(core->exchange(hex(WorkedStream), 3)), QString("00 01 00"));
    }

    void stuckClockMidRead() {
        // A slave that starts holding SCL low once it has sent a byte: the
        // rest of the read is abandoned, the reply keeps its length and ends
        // with the status.
        class Stretcher : public I2cSlave {
        public:
            explicit Stretcher(I2cBus &bus) : bus_(bus) {}
            uint8_t address() const override { return 0x30; }
            bool select(bool, int64_t) override { return true; }
            bool write(uint8_t, int64_t) override { return true; }
            uint8_t read(bool, int64_t) override {
                bus_.holdSclLow();
                return 0x11;
            }

        private:
            I2cBus &bus_;
        };
        bus->attach(std::make_shared<Stretcher>(*bus));
        const QByteArray reply =
            core->exchange(hex("00 01 00 13 61 FF FF FF 00 14 00 30 04 01 FA 00"), 4);
        QCOMPARE(hexText(reply), QString("11 FF FF 80"));
        QCOMPARE(bus->eventsText(), QString("S 61+ r11+ STALL"));
        QVERIFY(core->abandoned());
        QVERIFY(bus->nowNs() < 2 * I2cBus::ControllerTimeoutNs);
    }

    void busErrorSetsBit7AndCarriesOn() {
        bus->injectBusError(2);
        QCOMPARE(hexText(core->exchange(hex(WorkedStream), 3)), QString("00 01 80"));
        QCOMPARE(bus->eventsText(), QString("S A2+ BERR 00+ Sr A3+ r00+ r01- P"));
    }

    void oversize_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("replyCount");
        QTest::addColumn<bool>("refused");
        // The stream is no-op escapes; L counts the header.
        QTest::newRow("just fits") << 11900 << 12 << false;
        QTest::newRow("one byte too many") << 11900 << 13 << true;
        QTest::newRow("long stream, short reply") << 20000 << 1 << true;
        QTest::newRow("largest header") << 65535 << 65535 << true;
    }
    void oversize() {
        QFETCH(int, length);
        QFETCH(int, replyCount);
        QFETCH(bool, refused);
        QByteArray stream;
        while (stream.size() < length - WIRE_HEADER_SIZE)
            stream += hex("00 02");
        stream.truncate(length - WIRE_HEADER_SIZE);
        const QByteArray reply = core->exchange(stream, replyCount);
        QCOMPARE(reply.size(), replyCount);
        QByteArray expected(replyCount, '\0');
        expected[refused ? replyCount - 1 : 0] = char(refused ? 0x80 : 0x00);
        QCOMPARE(reply, expected);
        // The whole transaction was taken off EP4: the next one is understood.
        QCOMPARE(hexText(core->exchange(hex(WorkedStream), 3)), QString("00 01 00"));
    }

    void resultsPastTheBufferAreDropped() {
        // R claims one byte but the stream reads far more than the space left
        // behind it; the reply is still R bytes and nothing is written past
        // the buffer (the sanitizer build checks the latter).
        const int reads = 9000;
        const QByteArray stream =
            hex("00 01 00 13 A3") + QByteArray(reads, char(0xFF)) + hex("00 14");
        const QByteArray reply = core->exchange(stream, 1);
        QCOMPARE(hexText(reply), QString("00"));
        QCOMPARE(hexText(core->exchange(hex(WorkedStream), 3)), QString("00 01 00"));
    }

    void randomTransactionsKeepTheReplyShape() {
        // Arbitrary bytes, escapes and extended blocks, in random packet
        // sizes: every transaction is answered with exactly R bytes and the
        // core stays in step with the framing.
        QRandomGenerator rng(20261207);
        for (int round = 0; round < 300; ++round) {
            QByteArray stream;
            const int length = rng.bounded(200);
            static const char pieces[][3] = {{0, 0x13, 0}, {0, 0x14, 0}, {0, 0x30, 0},
                                             {0, 0x01, 0}, {0, 0x11, 0}, {0, 0x12, 0}};
            while (stream.size() < length) {
                if (rng.bounded(3) == 0)
                    stream.append(pieces[rng.bounded(6)], 2);
                else
                    stream.append(char(rng.bounded(256)));
            }
            const int replyCount = rng.bounded(40);
            const QByteArray framed = ReferenceCore::frame(stream, replyCount);
            int pos = 0;
            while (pos < framed.size()) {
                const int n = 1 + rng.bounded(80);
                core->receiveOut(ReferenceCore::TransactionEndpoint, framed.mid(pos, n));
                pos += n;
            }
            QByteArray reply;
            while (core->hasIn(ReferenceCore::ReplyEndpoint))
                reply += core->takeIn(ReferenceCore::ReplyEndpoint);
            QCOMPARE(reply.size(), replyCount);
            bus->releaseScl();
        }
        bus->elapse(10000000); // let any write cycle finish
        QCOMPARE(hexText(core->exchange(hex(WorkedStream), 3)), QString("00 01 00"));
    }

    void portA_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("outputEnable");
        // Inputs read 0xA0 from outside, the output latch holds 0x50.
        QTest::newRow("all inputs after start-up") << hex("00 30 03 03 00") << "0A 00" << 0x00;
        QTest::newRow("all outputs") << hex("00 30 03 02 00 00 30 03 03 00") << "05 00" << 0xF0;
        QTest::newRow("pins 4 and 5 outputs")
            << hex("00 30 03 02 0C 00 30 03 03 00") << "09 00" << 0x30;
        QTest::newRow("high nibble of x ignored")
            << hex("00 30 03 02 FF 00 30 03 03 00") << "0A 00" << 0x00;
        // The bus read before the port read comes first in the reply: the
        // read ends (last byte, STOP) before the port is looked at.
        QTest::newRow("read inside a bus read")
            << hex("00 13 A3 FF FF 00 30 03 03 00 00 14") << "00 01 0A 00" << 0x00;
    }
    void portA() {
        QFETCH(QByteArray, stream);
        QFETCH(QString, reply);
        QFETCH(int, outputEnable);
        core->setPortAInputs(0xA0);
        core->setPortALatch(0x50);
        const int replyCount = reply.split(' ').size();
        QCOMPARE(hexText(core->exchange(hex("00 01") + stream, replyCount)), reply);
        QCOMPARE(int(core->portAOutputEnable()), outputEnable);
    }

    void replyPackets_data() {
        QTest::addColumn<bool>("highSpeed");
        QTest::addColumn<int>("reads");
        QTest::addColumn<QList<int>>("sizes");
        QTest::newRow("high speed, one short packet") << true << 2 << QList<int>{3};
        QTest::newRow("high speed, exactly two packets") << true << 1023 << QList<int>{512, 512};
        QTest::newRow("high speed, three packets") << true << 1100 << QList<int>{512, 512, 77};
        QTest::newRow("full speed, exactly one packet") << false << 63 << QList<int>{64};
        QTest::newRow("full speed") << false << 140 << QList<int>{64, 64, 13};
    }
    void replyPackets() {
        QFETCH(bool, highSpeed);
        QFETCH(int, reads);
        QFETCH(QList<int>, sizes);
        core->startUp(highSpeed);
        const QByteArray framed = ReferenceCore::frame(eepromRead(reads), reads + 1);
        for (int pos = 0; pos < framed.size(); pos += core->packetSize())
            core->receiveOut(ReferenceCore::TransactionEndpoint,
                             framed.mid(pos, core->packetSize()));
        QList<int> got;
        QByteArray reply;
        while (core->hasIn(ReferenceCore::ReplyEndpoint)) {
            const QByteArray packet = core->takeIn(ReferenceCore::ReplyEndpoint);
            got << packet.size();
            reply += packet;
        }
        QCOMPARE(got, sizes);
        for (int k = 0; k < reads; ++k)
            QCOMPARE(uint8_t(reply[k]), uint8_t(k & 0xFF));
        QCOMPARE(uint8_t(reply[reads]), uint8_t(0x00));
    }

    void framingAcrossPackets_data() {
        QTest::addColumn<QList<int>>("cuts");
        QTest::newRow("header alone first") << QList<int>{4};
        QTest::newRow("header split") << QList<int>{2, 3};
        QTest::newRow("byte by byte") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
        QTest::newRow("empty packet first") << QList<int>{0, 4};
    }
    void framingAcrossPackets() {
        QFETCH(QList<int>, cuts);
        const QByteArray framed = ReferenceCore::frame(hex(WorkedStream), 3);
        int from = 0;
        for (int cut : cuts) {
            core->receiveOut(ReferenceCore::TransactionEndpoint, framed.mid(from, cut - from));
            QVERIFY(!core->hasIn(ReferenceCore::ReplyEndpoint));
            from = cut;
        }
        core->receiveOut(ReferenceCore::TransactionEndpoint, framed.mid(from));
        QCOMPARE(hexText(core->takeIn(ReferenceCore::ReplyEndpoint)), QString("00 01 00"));
    }

    void bytesBeyondLengthAreDropped() {
        const QByteArray packet =
            ReferenceCore::frame(hex("00 01 00 13 A2 00 14"), 1) + hex("00 13 A0 00 14");
        core->receiveOut(ReferenceCore::TransactionEndpoint, packet);
        QCOMPARE(hexText(core->takeIn(ReferenceCore::ReplyEndpoint)), QString("00"));
        QVERIFY(!core->hasIn(ReferenceCore::ReplyEndpoint));
        QCOMPARE(bus->eventsText(), QString("S A2+ P"));
    }

    void incompleteTransactionWaits() {
        core->receiveOut(ReferenceCore::TransactionEndpoint,
                         ReferenceCore::frame(hex(WorkedStream), 3).left(10));
        QVERIFY(!core->hasIn(ReferenceCore::ReplyEndpoint));
        QVERIFY(bus->events().isEmpty());
    }

    void onlyEp4IsTaken() {
        QVERIFY(core->acceptsOut(0x04));
        QVERIFY(!core->acceptsOut(0x02));
        QVERIFY(!core->acceptsOut(0x01));
    }

    void controlRequests_data() {
        QTest::addColumn<int>("requestType");
        QTest::addColumn<int>("request");
        QTest::addColumn<bool>("answered");
        QTest::newRow("inquiry") << 0xC0 << 0x00 << true;
        QTest::newRow("inquiry as OUT") << 0x40 << 0x00 << false;
        QTest::newRow("other vendor IN") << 0xC0 << 0x01 << false;
        QTest::newRow("other vendor OUT") << 0x40 << 0x55 << false;
        QTest::newRow("class") << 0xA1 << 0x00 << false;
    }
    void controlRequests() {
        QFETCH(int, requestType);
        QFETCH(int, request);
        QFETCH(bool, answered);
        QByteArray data;
        UsbSetupPacket setup{uint8_t(requestType), uint8_t(request), 0, 0, 1};
        QCOMPARE(core->controlRequest(setup, data), answered);
        if (answered)
            QCOMPARE(hexText(data), QString("01"));
    }
};

int runReferenceCoreTests(int argc, char **argv) {
    TestReferenceCore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ReferenceCore.moc"
