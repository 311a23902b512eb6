#include "TemperatureSensor.h"

#include <QtTest>

namespace {

const int64_t minuteNs = 60'000'000'000LL;

// One read of the temperature register at `nowNs`, as a controller does it:
// pointer 0, then two bytes.
double readDegrees(TemperatureSensor &sensor, int64_t nowNs) {
    sensor.select(false, nowNs);
    sensor.write(0, nowNs);
    sensor.select(true, nowNs);
    const uint8_t high = sensor.read(true, nowNs);
    const uint8_t low = sensor.read(false, nowNs + 1000);
    return double(int16_t(uint16_t(high << 8 | low)) >> 7) / 2.0;
}

} // namespace

class TestTemperatureSensor : public QObject {
    Q_OBJECT
private slots:
    void staysPutUnlessToldToMove();
    void driftsAndTurnsBack_data();
    void driftsAndTurnsBack();
    void noiseIsBoundedAndSeeded();
    void heldToTheSensorsRange();
};

void TestTemperatureSensor::staysPutUnlessToldToMove() {
    TemperatureSensor sensor;
    for (int64_t t : {int64_t(0), minuteNs, 90 * minuteNs})
        QCOMPARE(readDegrees(sensor, t), 25.0);
    sensor.setTemperatureRegister(0xFF80);
    QCOMPARE(readDegrees(sensor, 100 * minuteNs), -0.5);
}

void TestTemperatureSensor::driftsAndTurnsBack_data() {
    QTest::addColumn<double>("minutes");
    QTest::addColumn<double>("degrees");
    // start 20, 1.5 degrees a minute, turning every 4 minutes.
    QTest::newRow("first reading") << 0.0 << 20.0;
    QTest::newRow("1 min") << 1.0 << 21.5;
    QTest::newRow("2 min") << 2.0 << 23.0;
    QTest::newRow("turn") << 4.0 << 26.0;
    QTest::newRow("back 1 min") << 5.0 << 24.5;
    QTest::newRow("back at start") << 8.0 << 20.0;
    QTest::newRow("out again") << 9.0 << 21.5;
    QTest::newRow("rounded to halves") << 1.2 << 22.0; // 21.8
}

void TestTemperatureSensor::driftsAndTurnsBack() {
    QFETCH(double, minutes);
    QFETCH(double, degrees);
    TemperatureSensor::Settings settings;
    settings.start = 20.0;
    settings.driftPerMinute = 1.5;
    settings.turnMinutes = 4.0;
    TemperatureSensor sensor(0x48, settings);
    const int64_t origin = 7 * minuteNs; // time counts from the first reading
    QCOMPARE(readDegrees(sensor, origin), 20.0);
    QCOMPARE(readDegrees(sensor, origin + int64_t(minutes * double(minuteNs))), degrees);
}

void TestTemperatureSensor::noiseIsBoundedAndSeeded() {
    TemperatureSensor::Settings settings;
    settings.start = 30.0;
    settings.noise = 2.0;
    settings.seed = 7;
    auto series = [&](uint32_t seed) {
        settings.seed = seed;
        TemperatureSensor sensor(0x48, settings);
        QList<double> values;
        for (int i = 0; i < 400; ++i)
            values.append(readDegrees(sensor, i * 20'000'000LL));
        return values;
    };
    const QList<double> a = series(7);
    QCOMPARE(series(7), a);
    QVERIFY(series(8) != a);
    const auto [low, high] = std::minmax_element(a.begin(), a.end());
    QVERIFY(*low >= 28.0 && *high <= 32.0);
    // Noise of 2 degrees on half-degree steps visits most of the 9 steps.
    QVERIFY(*high - *low >= 3.0);
}

void TestTemperatureSensor::heldToTheSensorsRange() {
    TemperatureSensor::Settings settings;
    settings.start = 120.0;
    settings.driftPerMinute = 10.0;
    TemperatureSensor hot(0x48, settings);
    readDegrees(hot, 0);
    QCOMPARE(readDegrees(hot, 3 * minuteNs), 125.0);
    settings.start = -50.0;
    settings.driftPerMinute = -10.0;
    TemperatureSensor cold(0x48, settings);
    readDegrees(cold, 0);
    QCOMPARE(readDegrees(cold, 3 * minuteNs), -55.0);
}

QTEST_GUILESS_MAIN(TestTemperatureSensor)
#include "tst_TemperatureSensor.moc"
