#include "AdapterSession.h"
#include "Eeprom24.h"
#include "EepromProgrammer.h"
#include "GenericUsbDriver.h"
#include "MemoryImage.h"
#include "RegisterAccess.h"
#include "SimBench.h"
#include "SimUsbStack.h"
#include "TemperatureSensor.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// A simulated adapter with the parts of `benchText` on its bus, in
// simulated time, reached through the session brantle-cli uses.
struct Rig {
    explicit Rig(const QString &benchText, const QString &dir = QString()) {
        QString error;
        ok = SimBench::parse(benchText, QStringLiteral("bench"), dir, &bench, &error) &&
             bench.plug(stack, AdapterSession::readFirmware(), &error);
        if (!ok)
            qWarning("%s", qPrintable(error));
        session = std::make_unique<AdapterSession>(driver);
    }
    BusStream::Transact transact() {
        return [this](QByteArray &stream) {
            ++transactions;
            return session->transact(stream);
        };
    }
    EepromProgrammer programmer(const QString &partName, int address) {
        EepromPart part;
        QString error;
        EepromPart::parse(partName, &part, &error);
        return EepromProgrammer(part, address, 1, transact(), [this] { return stack.nowNs(); });
    }
    bool ok = false;
    SimUsbStack stack;
    GenericUsbDriver driver{stack};
    SimBench bench;
    std::unique_ptr<AdapterSession> session;
    int transactions = 0;
};

QByteArray randomBytes(QRandomGenerator &random, int n) {
    QByteArray bytes(n, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

QByteArray fileContents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestTools : public QObject {
    Q_OBJECT
private slots:
    void everyPartKeepsWhatIsWritten_data();
    void everyPartKeepsWhatIsWritten();
    void readUsesFewTransactions();
    void refusesDataLargerThanThePart();
    void cancelSaysWhatWasWrittenAndVerified();
    void pollingFollowsTheWriteCycle_data();
    void pollingFollowsTheWriteCycle();
    void pollingGivesUpNamingThePage();
    void verifyListsTheFirstTenDifferences();
    void registersOfTheSensor();
    void dumpMarksRegistersThatDoNotAnswer();
    void dumpGrid();
    void benchFileMistakes_data();
    void benchFileMistakes();
    void contentsFileSurvivesAndResets();
    void partNames_data();
    void partNames();
    void hexRoundTrip();
    void hexMistakes_data();
    void hexMistakes();
};

void TestTools::everyPartKeepsWhatIsWritten_data() {
    QTest::addColumn<QString>("part");
    for (const EepromPart &p : EepromPart::table())
        QTest::newRow(qPrintable(p.name)) << p.name;
    QTest::newRow("custom, one address byte, 4 blocks") << QStringLiteral("custom:1024:1:32");
    QTest::newRow("custom, odd page") << QStringLiteral("custom:3000:2:24");
}

// Random data at random offsets, read back through the programmer and
// compared with the contents file the simulated part keeps.
void TestTools::everyPartKeepsWhatIsWritten() {
    QFETCH(QString, part);
    QTemporaryDir dir;
    Rig rig(QStringLiteral("eeprom %1 0x50 contents=part.bin\n").arg(part), dir.path());
    QVERIFY(rig.ok);
    EepromPart geometry;
    QString error;
    QVERIFY(EepromPart::parse(part, &geometry, &error));
    const QString file = dir.filePath(QStringLiteral("part.bin"));
    QCOMPARE(fileContents(file), Eeprom24::factoryContents(geometry.size));

    QRandomGenerator random(quint32(qHash(part)));
    EepromProgrammer programmer = rig.programmer(part, 0x50);
    QByteArray expected = Eeprom24::factoryContents(geometry.size);
    for (int round = 0; round < 3; ++round) {
        // Spans that cross pages and, on the larger parts, a block.
        const int length = random.bounded(1, qMin(geometry.size, 3 * geometry.pageSize + 50) + 1);
        qint64 offset = random.bounded(geometry.size - length + 1);
        if (round == 2 && geometry.addressCount() > 1)
            offset = geometry.blockSize() - length / 2;
        const QByteArray data = randomBytes(random, length);
        const auto written = programmer.write(offset, data);
        QCOMPARE(written.status, EepromProgrammer::Ok);
        QCOMPARE(written.verifiedTo, offset + length);
        expected.replace(int(offset), length, data);
        QCOMPARE(fileContents(file), expected);
        const auto read = programmer.read(0, geometry.size);
        QCOMPARE(read.status, EepromProgrammer::Ok);
        QCOMPARE(read.data, expected);
    }
}

void TestTools::readUsesFewTransactions() {
    Rig rig(QStringLiteral("eeprom 24c64 0x51\neeprom 24c16 0x58"));
    QVERIFY(rig.ok);
    EepromProgrammer big = rig.programmer(QStringLiteral("24C64"), 0x51);
    auto result = big.read(0, 8192);
    QCOMPARE(result.data, Eeprom24::factoryContents(8192));
    // The adapter's buffer takes a little under 6,000 bytes read at once.
    QCOMPARE(rig.transactions, 2);
    rig.transactions = 0;
    EepromProgrammer blocks = rig.programmer(QStringLiteral("24C16"), 0x58);
    result = blocks.read(0, 2048);
    QCOMPARE(result.data, Eeprom24::factoryContents(2048));
    QCOMPARE(rig.transactions, 1); // eight blocks, one transaction
}

void TestTools::refusesDataLargerThanThePart() {
    Rig rig(QStringLiteral("eeprom 24c02 0x50"));
    QVERIFY(rig.ok);
    EepromProgrammer programmer = rig.programmer(QStringLiteral("24C02"), 0x50);
    auto result = programmer.write(200, QByteArray(57, 'x'));
    QCOMPARE(result.status, EepromProgrammer::TooLarge);
    QVERIFY2(result.message.contains(QLatin1String("57")) &&
                 result.message.contains(QLatin1String("256")) &&
                 result.message.contains(QLatin1String("56")),
             qPrintable(result.message));
    QCOMPARE(rig.transactions, 0);
    QCOMPARE(programmer.write(200, QByteArray(56, 'x')).status, EepromProgrammer::Ok);
}

void TestTools::cancelSaysWhatWasWrittenAndVerified() {
    Rig rig(QStringLiteral("eeprom 24c64 0x51"));
    QVERIFY(rig.ok);
    EepromProgrammer programmer = rig.programmer(QStringLiteral("24C64"), 0x51);
    int calls = 0;
    programmer.setProgress([&calls](qint64, qint64) { return ++calls <= 5; });
    const QByteArray data(1000, char(0xA5));
    const auto result = programmer.write(16, data);
    QCOMPARE(result.status, EepromProgrammer::Cancelled);
    // Five pages went out: the first half page to 0x20, then four whole ones.
    QCOMPARE(result.writtenFrom, qint64(16));
    QCOMPARE(result.writtenTo, qint64(16 + 16 + 4 * 32));
    QVERIFY(result.verified);
    QCOMPARE(result.verifiedTo, result.writtenTo);
    const QByteArray memory = rig.bench.eeproms().first()->memory();
    QCOMPARE(memory.mid(16, 144), data.left(144));
    QCOMPARE(memory.mid(160, 32), Eeprom24::factoryContents(8192).mid(160, 32));
}

void TestTools::pollingFollowsTheWriteCycle_data() {
    QTest::addColumn<int>("firstMs");  // pages 0-2
    QTest::addColumn<int>("laterMs");  // pages 3-7
    QTest::addColumn<bool>("finishes");
    QTest::newRow("long throughout") << 30 << 30 << true;
    QTest::newRow("slows down") << 5 << 20 << true;
    QTest::newRow("speeds up") << 20 << 3 << true;
    // Page 4 is refused while page 3 never finishes: page 3 is to blame.
    QTest::newRow("stops answering") << 5 << 80 << false;
}

void TestTools::pollingFollowsTheWriteCycle() {
    QFETCH(int, firstMs);
    QFETCH(int, laterMs);
    QFETCH(bool, finishes);
    Rig rig(QStringLiteral("eeprom 24c32 0x50"));
    QVERIFY(rig.ok);
    Eeprom24 &part = *rig.bench.eeproms().first();
    EepromProgrammer programmer = rig.programmer(QStringLiteral("24C32"), 0x50);
    programmer.setProgress([&](qint64 done, qint64 total) {
        if (done < total / 2)
            part.setWriteCycleNs(int64_t(done >= 3 * 32 ? laterMs : firstMs) * 1'000'000);
        return true;
    });
    const int64_t before = rig.stack.nowNs();
    const QByteArray data = randomBytes(*QRandomGenerator::global(), 8 * 32);
    const auto result = programmer.write(0, data);
    const int64_t took = rig.stack.nowNs() - before;
    if (!finishes) {
        QCOMPARE(result.status, EepromProgrammer::NoAck);
        QVERIFY2(result.message.contains(QLatin1String("0x0060-0x007F")),
                 qPrintable(result.message));
        QCOMPARE(result.writtenTo, qint64(0x60));
        // The part still does not answer: nothing could be read back.
        QVERIFY(!result.verified);
        QCOMPARE(result.verifiedTo, qint64(0));
        return;
    }
    QCOMPARE(result.status, EepromProgrammer::Ok);
    QCOMPARE(part.memory().left(data.size()), data);
    // No page went in before the cycle ahead of it had ended, and each end
    // was found without long idling.
    const int64_t cycles = int64_t(3 * firstMs + 5 * laterMs) * 1'000'000;
    QVERIFY2(took >= cycles && took < int64_t(8 * (qMax(firstMs, laterMs) + 3)) * 1'000'000,
             qPrintable(QString::number(took)));
}

void TestTools::pollingGivesUpNamingThePage() {
    Rig rig(QStringLiteral("eeprom 24c64 0x50 write-cycle=80"));
    QVERIFY(rig.ok);
    EepromProgrammer programmer = rig.programmer(QStringLiteral("24C64"), 0x50);
    const auto result = programmer.write(0x40, QByteArray(64, 'z'));
    QCOMPARE(result.status, EepromProgrammer::NoAck);
    QVERIFY2(result.message.contains(QLatin1String("0x0040-0x005F")) &&
                 result.message.contains(QLatin1String("50 ms")),
             qPrintable(result.message));
    QCOMPARE(result.writtenTo, qint64(0x40)); // nothing counts as written
    QCOMPARE(result.verifiedTo, qint64(0x40));
}

void TestTools::verifyListsTheFirstTenDifferences() {
    Rig rig(QStringLiteral("eeprom 24c04 0x50"));
    QVERIFY(rig.ok);
    EepromProgrammer programmer = rig.programmer(QStringLiteral("24C04"), 0x50);
    QByteArray file = Eeprom24::factoryContents(512);
    QCOMPARE(programmer.verify(0, file).status, EepromProgrammer::Ok);
    for (int a : {3, 100, 255, 256, 300, 301, 302, 400, 401, 402, 403, 511})
        file[a] = char(~file[a]);
    const auto result = programmer.verify(0, file);
    QCOMPARE(result.status, EepromProgrammer::Differs);
    QCOMPARE(result.differenceCount, qint64(12));
    QCOMPARE(result.differences.size(), 10);
    QCOMPARE(result.differences.first().address, qint64(3));
    QCOMPARE(int(result.differences.first().part), 3);
    QCOMPARE(int(result.differences.first().file), 0xFC);
    QCOMPARE(result.differences.last().address, qint64(402));
}

void TestTools::registersOfTheSensor() {
    Rig rig(QStringLiteral("sensor 0x48"));
    QVERIFY(rig.ok);
    RegisterAccess::Options word;
    word.word = true;
    RegisterAccess sensor(0x48, 1, word, rig.transact());
    QCOMPARE(sensor.get(0).value, 0x1900);
    QCOMPARE(sensor.format(sensor.get(2).value), QStringLiteral("0x4b00"));
    auto set = sensor.set(2, 0x1234, 0x00FF);
    QCOMPARE(set.status, RegisterAccess::Ok);
    QCOMPARE(set.value, 0x4B34);
    QCOMPARE(sensor.get(2).value, 0x4B34);
    // The temperature register does not take writes: the read-back says so.
    set = sensor.set(0, 0x2000, 0xFFFF);
    QCOMPARE(set.status, RegisterAccess::NoAck);
    word.littleEndian = true;
    RegisterAccess le(0x48, 1, word, rig.transact());
    QCOMPARE(le.get(3).value, 0x0050);
    QCOMPARE(le.set(3, 0x6655).status, RegisterAccess::Ok);
    QCOMPARE(sensor.get(3).value, 0x5566);
    RegisterAccess byte(0x48, 1, {}, rig.transact());
    QCOMPARE(byte.get(2).value, 0x4B);
    QCOMPARE(byte.format(0x4B), QStringLiteral("0x4b"));
    RegisterAccess absent(0x40, 1, {}, rig.transact());
    QCOMPARE(absent.get(0).status, RegisterAccess::NoAck);
    // The bench file sets the sensor's temperature (in half degrees).
    Rig warm(QStringLiteral("sensor 0x48 temperature=30.5"));
    QVERIFY(warm.ok);
    RegisterAccess::Options bigEndian;
    bigEndian.word = true;
    QCOMPARE(RegisterAccess(0x48, 1, bigEndian, warm.transact()).get(0).value, 0x1E80);
}

void TestTools::dumpMarksRegistersThatDoNotAnswer() {
    Rig rig(QStringLiteral("sensor 0x48\neeprom 24c32 0x50"));
    QVERIFY(rig.ok);
    RegisterAccess sensor(0x48, 1, {}, rig.transact());
    auto dump = sensor.dump(0, 0xFF);
    QCOMPARE(dump.status, RegisterAccess::Ok);
    QCOMPARE(dump.values.size(), 256);
    for (int r = 0; r < 256; ++r)
        QCOMPARE(dump.values[r], (QVector<int>{0x19, 0x00, 0x4B, 0x50})[r & 3]);
    QVERIFY(rig.transactions <= 2);
    // Two-byte register addresses on the EEPROM: its memory.
    RegisterAccess::Options reg16;
    reg16.reg16 = true;
    RegisterAccess eeprom(0x50, 1, reg16, rig.transact());
    dump = eeprom.dump(0x0FF8, 0x1007);
    QCOMPARE(dump.values.size(), 16);
    QCOMPARE(dump.values.first(), 0xF8);
    QCOMPARE(dump.values.last(), 0x07); // wraps at the end of the 4 KiB
    RegisterAccess absent(0x21, 1, {}, rig.transact());
    dump = absent.dump(0, 3);
    QCOMPARE(dump.status, RegisterAccess::NoAck);
    QCOMPARE(dump.values, (QVector<int>{-1, -1, -1, -1}));
}

void TestTools::dumpGrid() {
    RegisterAccess::Dump dump;
    dump.first = 0x0E;
    dump.values = {0x41, 0xFF, 0x00, 0x07, -1};
    const QString expected =
        QStringLiteral(
            "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n") +
        QStringLiteral("00:") + QString(14 * 3, u' ') + QStringLiteral(" 41 ff    ") +
        QString(14, u' ') + QStringLiteral("A.\n10: 00 07 XX") + QString(13 * 3 + 4, u' ') +
        QStringLiteral(".?X") + QString(13, u' ') + u'\n';
    QCOMPARE(RegisterAccess::grid(dump, false), expected);
    dump.first = 0x1230;
    dump.values = {0x30};
    QVERIFY(RegisterAccess::grid(dump, true)
                .endsWith(QLatin1String("\n1230: 30") + QString(49, u' ') + QStringLiteral("0") +
                          QString(15, u' ') + u'\n'));
}

void TestTools::benchFileMistakes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown kind") << "# bench\n\nrelay 0x20"
                                  << "bench:3: unknown part kind relay";
    QTest::newRow("unknown part") << "eeprom 24c03 0x50"
                                  << "bench:1: unknown part 24c03";
    QTest::newRow("no address") << "eeprom 24c02"
                                << "bench:1: an EEPROM needs";
    QTest::newRow("8-bit address") << "sensor 0x90"
                                   << "bench:1: 0x90 is not a 7-bit";
    QTest::newRow("block bits set") << "eeprom 24c08 0x52"
                                    << "bench:1: 24C08 takes 4 device";
    QTest::newRow("clash") << "sensor 0x48\neeprom 24c1024 0x48 # two blocks"
                           << "bench:2: address 0x48 is already taken by line 1";
    QTest::newRow("clash inside a block part") << "eeprom 24c16 0x50\nsensor 0x53"
                                               << "bench:2: address 0x53 is already taken";
    QTest::newRow("setting without value") << "eeprom 24c02 0x50 contents"
                                           << "bench:1: contents is not a setting";
    QTest::newRow("unknown EEPROM setting") << "eeprom 24c02 0x50 colour=red"
                                            << "bench:1: unknown EEPROM setting colour";
    QTest::newRow("write cycle") << "eeprom 24c02 0x50 write-cycle=-1"
                                 << "bench:1: write-cycle= takes";
    QTest::newRow("unknown sensor setting") << "sensor 0x48 colour=red"
                                            << "bench:1: unknown sensor setting colour";
    QTest::newRow("sensor drift not a number") << "sensor 0x48 drift=fast"
                                               << "bench:1: drift= takes a number";
    QTest::newRow("sensor temperature out of range") << "sensor 0x48 temperature=200"
                                                     << "bench:1: temperature= takes a number";
    QTest::newRow("custom geometry") << "eeprom custom:1000:1:8 0x50"
                                     << "bench:1: custom:1000:1:8: a part larger";
}

void TestTools::benchFileMistakes() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    SimBench bench;
    QString error;
    QVERIFY(!SimBench::parse(text, QStringLiteral("bench"), QString(), &bench, &error));
    QVERIFY2(error.startsWith(message), qPrintable(error));
}

void TestTools::contentsFileSurvivesAndResets() {
    QTemporaryDir dir;
    const QString text = QStringLiteral("eeprom 24c02 0x50 contents=sub/mem.bin\n");
    const QString file = dir.filePath(QStringLiteral("sub/mem.bin"));
    {
        Rig rig(text, dir.path());
        QVERIFY(rig.ok);
        QCOMPARE(rig.programmer(QStringLiteral("24C02"), 0x50).write(7, "hello").status,
                 EepromProgrammer::Ok);
    }
    Rig again(text, dir.path());
    QVERIFY(again.ok);
    QCOMPARE(again.programmer(QStringLiteral("24C02"), 0x50).read(7, 5).data, QByteArray("hello"));
    QString error;
    QVERIFY(again.bench.resetContents(&error));
    QCOMPARE(fileContents(file), Eeprom24::factoryContents(256));
    QCOMPARE(again.programmer(QStringLiteral("24C02"), 0x50).read(7, 5).data,
             Eeprom24::factoryContents(256).mid(7, 5));
    // A file of the wrong size is not taken for the part's memory.
    QFile wrong(file);
    QVERIFY(wrong.open(QIODevice::WriteOnly));
    wrong.write(QByteArray(100, 'x'));
    wrong.close();
    Rig broken(text, dir.path());
    QVERIFY(!broken.ok);
}

void TestTools::partNames_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("addresses");
    QTest::newRow("lower case") << "24c64" << 8192 << 32 << 1;
    QTest::newRow("block part") << "24C16" << 2048 << 16 << 8;
    QTest::newRow("two bytes and a block bit") << "24m01" << 131072 << 256 << 2;
    QTest::newRow("custom") << "custom:0x8000:2:64" << 32768 << 64 << 1;
    QTest::newRow("no such part") << "24C03" << 0 << 0 << 0;
    QTest::newRow("page larger than the part") << "custom:64:1:128" << 0 << 0 << 0;
    QTest::newRow("three address bytes") << "custom:64:3:8" << 0 << 0 << 0;
}

void TestTools::partNames() {
    QFETCH(QString, text);
    QFETCH(int, size);
    QFETCH(int, page);
    QFETCH(int, addresses);
    EepromPart part;
    QString error;
    QCOMPARE(EepromPart::parse(text, &part, &error), size != 0);
    if (size == 0) {
        QVERIFY(!error.isEmpty());
        return;
    }
    QCOMPARE(part.size, size);
    QCOMPARE(part.pageSize, page);
    QCOMPARE(part.addressCount(), addresses);
}

void TestTools::hexRoundTrip() {
    QRandomGenerator random(7);
    for (qint64 at : {qint64(0), qint64(0xFFF5), qint64(0x2FFFE)}) {
        const QByteArray bytes = randomBytes(random, 70);
        const QByteArray hex = MemoryImage::toHex(at, bytes);
        MemoryImage image;
        QString error;
        QVERIFY2(MemoryImage::fromHex(hex, &image, &error), qPrintable(error));
        QCOMPARE(image.runs().size(), 1);
        QCOMPARE(image.runs().first().address, at);
        QCOMPARE(image.runs().first().bytes, bytes);
    }
    // Gaps stay gaps.
    MemoryImage image;
    QString error;
    QVERIFY(
        MemoryImage::fromHex(":020010001122BB\n:02002000334467\n:00000001FF\n", &image, &error));
    QCOMPARE(image.runs().size(), 2);
    QCOMPARE(image.runs()[1].address, qint64(0x20));
    QCOMPARE(image.runs()[1].bytes, QByteArray("\x33\x44"));
}

void TestTools::hexMistakes_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("checksum") << QByteArray(":020010001122BC\n:00000001FF\n")
                              << "line 1: checksum error";
    QTest::newRow("no end") << QByteArray(":020010001122BB\n") << "no end record";
    QTest::newRow("not hex") << QByteArray("hello\n") << "line 1: not an Intel HEX record";
    QTest::newRow("short") << QByteArray(":030010001122BA\n:00000001FF") << "line 1: the record's";
    QTest::newRow("after end") << QByteArray(":00000001FF\n:020010001122BB\n")
                               << "line 2: records after";
}

void TestTools::hexMistakes() {
    QFETCH(QByteArray, text);
    QFETCH(QString, message);
    MemoryImage image;
    QString error;
    QVERIFY(!MemoryImage::fromHex(text, &image, &error));
    QVERIFY2(error.startsWith(message), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestTools)
#include "tst_tools.moc"
