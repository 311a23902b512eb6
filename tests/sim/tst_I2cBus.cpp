#include "Eeprom24.h"
#include "I2cBus.h"
#include "SimTestUtil.h"
#include "TemperatureSensor.h"

#include <QtTest>

#include <memory>

namespace {
// Drives the bus with a line of controller steps: "S:A2" START + address,
// "W:00" write, "R+"/"R-" read with or without acknowledge, "P" STOP,
// "T:us" bus time passing.
void runSteps(I2cBus &bus, const QString &steps) {
    for (const QString &step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString arg = step.mid(2);
        if (step.startsWith(QLatin1String("S:")))
            bus.start(uint8_t(arg.toUInt(nullptr, 16)));
        else if (step.startsWith(QLatin1String("W:")))
            bus.write(uint8_t(arg.toUInt(nullptr, 16)));
        else if (step == QLatin1String("R+"))
            bus.read(true);
        else if (step == QLatin1String("R-"))
            bus.read(false);
        else if (step == QLatin1String("P"))
            bus.stop();
        else if (step.startsWith(QLatin1String("T:")))
            bus.elapse(arg.toLongLong() * 1000);
        else
            qFatal("bad step %s", qPrintable(step));
    }
}
} // namespace

class TestI2cBus : public QObject {
    Q_OBJECT

    I2cBus bus;
    std::shared_ptr<Eeprom24> eeprom;
    std::shared_ptr<TemperatureSensor> sensor;

private slots:
    void init() {
        bus = I2cBus();
        eeprom = std::make_shared<Eeprom24>();
        sensor = std::make_shared<TemperatureSensor>();
        bus.attach(eeprom);
        bus.attach(sensor);
    }

    void recordsWhatHappensOnTheWire_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("events");
        QTest::newRow("eeprom random read") << "S:A2 W:12 W:34 S:A3 R+ R- P"
                                            << "S A2+ 12+ 34+ Sr A3+ r34+ r35- P";
        QTest::newRow("address bits above 8 KiB ignored") << "S:A2 W:F2 W:34 S:A3 R- P"
                                                          << "S A2+ F2+ 34+ Sr A3+ r34- P";
        QTest::newRow("sequential read crosses a page") << "S:A2 W:00 W:1F S:A3 R+ R+ R- P"
                                                        << "S A2+ 00+ 1F+ Sr A3+ r1F+ r20+ r21- P";
        QTest::newRow("sequential read wraps at the end") << "S:A2 W:1F W:FF S:A3 R+ R- P"
                                                          << "S A2+ 1F+ FF+ Sr A3+ rFF+ r00- P";
        QTest::newRow("current address read continues")
            << "S:A2 W:00 W:40 S:A3 R- P S:A3 R- P"
            << "S A2+ 00+ 40+ Sr A3+ r40- P S A3+ r41- P";
        QTest::newRow("absent address write") << "S:A0 W:12 P"
                                              << "S A0- 12- P";
        QTest::newRow("absent address reads ones") << "S:A1 R+ R- P"
                                                   << "S A1- rFF+ rFF- P";
        QTest::newRow("sensor temperature") << "S:90 W:00 S:91 R+ R- P"
                                            << "S 90+ 00+ Sr 91+ r19+ r00- P";
        QTest::newRow("sensor register read repeats") << "S:90 W:02 S:91 R+ R+ R- P"
                                                      << "S 90+ 02+ Sr 91+ r4B+ r00+ r4B- P";
        QTest::newRow("sensor temperature is read-only") << "S:90 W:00 W:55 P"
                                                         << "S 90+ 00+ 55- P";
        QTest::newRow("stop on idle bus still shows") << "P"
                                                      << "P";
    }
    void recordsWhatHappensOnTheWire() {
        QFETCH(QString, steps);
        QFETCH(QString, events);
        runSteps(bus, steps);
        QCOMPARE(bus.eventsText(), events);
    }

    void eepromPageWrite_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("checkAt");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("inside a page") << 0x0100 << hex("AA BB") << 0x00FF << hex("FF AA BB 02");
        QTest::newRow("wraps within the page")
            << 0x001E << hex("AA BB CC DD") << 0x0000 << hex("CC DD 02");
        QTest::newRow("next page untouched") << 0x001E << hex("AA BB CC") << 0x001F << hex("BB 20");
        QByteArray full;
        for (int i = 0; i < 33; ++i)
            full.append(char(0x80 + i));
        QTest::newRow("33rd byte overwrites the first")
            << 0x0040 << full << 0x0040 << hex("A0 81 82");
    }
    void eepromPageWrite() {
        QFETCH(int, address);
        QFETCH(QByteArray, data);
        QFETCH(int, checkAt);
        QFETCH(QByteArray, expected);
        bus.start(0xA2);
        bus.write(uint8_t(address >> 8));
        bus.write(uint8_t(address & 0xFF));
        for (char c : data)
            QVERIFY(bus.write(uint8_t(c)).ack);
        // The page latch reaches the array only at STOP.
        for (int a = checkAt; a < checkAt + expected.size(); ++a)
            QCOMPARE(uint8_t(eeprom->memory()[a]), uint8_t(a & 0xFF));
        bus.stop();
        QCOMPARE(hexText(eeprom->memory().mid(checkAt, expected.size())), hexText(expected));
    }

    void eepromWriteNeedsStop() {
        runSteps(bus, "S:A2 W:00 W:10 W:55 S:A3 R- P");
        QCOMPARE(uint8_t(eeprom->memory()[0x10]), uint8_t(0x10));
        QVERIFY(!eeprom->busy(bus.nowNs()));
    }

    void eepromBusyDuringWriteCycle_data() {
        QTest::addColumn<int>("pauseUs");
        QTest::addColumn<bool>("acked");
        QTest::newRow("right after stop") << 0 << false;
        QTest::newRow("just before the cycle ends") << 4970 << false;
        QTest::newRow("after the cycle") << 5000 << true;
    }
    void eepromBusyDuringWriteCycle() {
        QFETCH(int, pauseUs);
        QFETCH(bool, acked);
        runSteps(bus, "S:A2 W:00 W:10 W:55 P");
        bus.elapse(int64_t(pauseUs) * 1000);
        QCOMPARE(bus.start(0xA3).ack, acked);
        bus.stop();
        // Other devices answer while the EEPROM is busy.
        QVERIFY(bus.start(0x90).ack);
    }

    void busTimeCountsBitTimes_data() {
        QTest::addColumn<int>("clockHz");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<qint64>("ns");
        // START and STOP one bit time each, 9 per byte.
        QTest::newRow("100k write") << 100000 << "S:A2 W:00 P" << qint64(20 * 10000);
        QTest::newRow("400k write") << 400000 << "S:A2 W:00 P" << qint64(20 * 2500);
        QTest::newRow("400k read with repeated start")
            << 400000 << "S:A2 W:00 W:00 S:A3 R+ R- P" << qint64(57 * 2500);
        QTest::newRow("waits count") << 100000 << "S:A2 T:5000 P" << qint64(11 * 10000 + 5000000);
    }
    void busTimeCountsBitTimes() {
        QFETCH(int, clockHz);
        QFETCH(QString, steps);
        QFETCH(qint64, ns);
        bus.setClockHz(clockHz);
        runSteps(bus, steps);
        QCOMPARE(bus.nowNs(), ns);
        QCOMPARE(bus.events().last().atNs, ns);
    }

    void sclHeldLow_data() {
        QTest::addColumn<qint64>("holdNs");
        QTest::addColumn<bool>("firstDone");
        QTest::addColumn<QString>("events");
        QTest::addColumn<qint64>("ns");
        const qint64 bits = 20 * 2500;
        QTest::newRow("short stretch only delays")
            << qint64(10000000) << true << "S A2+ 00+ P" << 10000000 + bits;
        QTest::newRow("held forever stalls every step")
            << qint64(I2cBus::Forever) << false << "STALL STALL STALL"
            << qint64(3 * I2cBus::ControllerTimeoutNs);
        QTest::newRow("longer than the controller waits")
            << qint64(30000000) << false << "STALL 00- P" << qint64(30000000 + 10 * 2500);
    }
    void sclHeldLow() {
        QFETCH(qint64, holdNs);
        QFETCH(bool, firstDone);
        QFETCH(QString, events);
        QFETCH(qint64, ns);
        bus.holdSclLow(holdNs);
        QCOMPARE(bus.start(0xA2).done, firstDone);
        bus.write(0x00);
        bus.stop();
        QCOMPARE(bus.eventsText(), events);
        QCOMPARE(bus.nowNs(), ns);
    }

    // A controller that never gives up (the FX2's own) meets an SCL held
    // for good: nothing happens and no time passes, so it can try again once
    // the slave lets go.
    void patientControllerWaitsForTheRelease() {
        bus.setControllerPatienceNs(I2cBus::Forever);
        bus.holdSclLow();
        QVERIFY(!bus.start(0xA2).done);
        QVERIFY(bus.events().isEmpty());
        QCOMPARE(bus.nowNs(), qint64(0));
        bus.releaseScl();
        QVERIFY(bus.start(0xA2).ack);
        QCOMPARE(bus.eventsText(), QString("S A2+"));
    }

    void eventLogKeepsTheLatest() {
        bus.setEventCapacity(10);
        for (int i = 0; i < 1000; ++i)
            runSteps(bus, "S:A2 P");
        QVERIFY(bus.events().size() >= 10 && bus.events().size() <= 20);
        QCOMPARE(bus.events().last().kind, I2cEvent::Stop);
        QCOMPARE(bus.events().last().atNs, bus.nowNs());
    }

    void busErrorHitsTheNthByte() {
        bus.injectBusError(2);
        QVERIFY(!bus.start(0xA2).busError);
        const I2cResult r = bus.write(0x00);
        QVERIFY(r.busError);
        QVERIFY(!r.ack);
        runSteps(bus, "W:00 W:07 S:A3 R- P");
        // The lost byte never reached the EEPROM: 00 07 became the address high byte and 07.
        QCOMPARE(bus.eventsText(), QString("S A2+ BERR 00+ 07+ Sr A3+ r07- P"));
    }

    void sensorValueSetByTest() {
        sensor->setTemperatureRegister(0xE700); // -25 degrees
        runSteps(bus, "S:90 W:00 S:91 R+ R- P");
        QCOMPARE(bus.eventsText(), QString("S 90+ 00+ Sr 91+ rE7+ r00- P"));
    }

    void eventsCompareWithoutTime() {
        I2cEvent a{I2cEvent::Write, 0xA2, true, 10};
        I2cEvent b{I2cEvent::Write, 0xA2, true, 99};
        QVERIFY(a == b);
        b.ack = false;
        QVERIFY(a != b);
    }
};

int runI2cBusTests(int argc, char **argv) {
    TestI2cBus test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_I2cBus.moc"
