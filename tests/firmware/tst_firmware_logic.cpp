// The firmware's transaction, interpreter and byte engine, compiled for the
// host and run against a fake FX2 whose I2C controller drives a scripted bus.

#include "FakeFx2.h"
#include "ScriptedBus.h"

#include "adapter_wire.h"
#include "transaction.h"

#include <QtTest>

namespace {

QByteArray hex(const char *text) {
    return QByteArray::fromHex(text); // blanks are skipped
}

QByteArray header(int total, int reply) {
    QByteArray h(4, 0);
    h[0] = char(total & 0xFF);
    h[1] = char(total >> 8);
    h[2] = char(reply & 0xFF);
    h[3] = char(reply >> 8);
    return h;
}

// Sends the stream as the host does: the 4-byte header as one transfer, then
// the stream as another, cut into packets of the bus's size.
void send(FakeFx2 &chip, const QByteArray &stream, int reply, int packetSize = 512) {
    chip.queueOutPacket(header(stream.size() + WIRE_HEADER_SIZE, reply));
    for (int at = 0; at < stream.size(); at += packetSize)
        chip.queueOutPacket(stream.mid(at, packetSize));
    while (chip.outPacketsLeft() > 0)
        transaction_run();
}

// Reads count bytes from the EEPROM at 0x51 with a restart after the address.
QByteArray readStream(int count) {
    QByteArray s = hex("0001 0012 0013 A2 0000 0000 0013 A3");
    s += QByteArray(count, char(0xFF));
    s += hex("0014");
    return s;
}

QByteArray counting(int n) {
    QByteArray data;
    for (int i = 0; i < n; ++i)
        data.append(char(i * 7 + 3));
    return data;
}

} // namespace

class FirmwareLogicTest : public QObject {
    Q_OBJECT

private slots:
    void transaction_data();
    void transaction();
    void flagsStickUntilOpening();
    void clockCodes();
    void oversizeIsDrainedAndRefused_data();
    void oversizeIsDrainedAndRefused();
    void resultsNeverPassTheBuffer();
    void replyPackets_data();
    void replyPackets();
    void streamAcrossPackets_data();
    void streamAcrossPackets();
    void headerAcrossPackets_data();
    void headerAcrossPackets();
    void portA();
};

void FirmwareLogicTest::transaction_data() {
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("replyLength");
    QTest::addColumn<bool>("slavePresent");
    QTest::addColumn<int>("faultAt");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("bus");
    QTest::addColumn<QByteArray>("reply");

    const int none = int(ScriptedBus::Fault::None);
    const int berr = int(ScriptedBus::Fault::BusError);
    const int held = int(ScriptedBus::Fault::SclHeld);
    const QByteArray worked = hex("0001 0011 0013 A2 0000 0000 0013 A3 FF FF 0014");

    QTest::newRow("restart read") << worked << 3 << true << -1 << none
                                  << "S A2+ 00+ 00+ Sr A3+ <5A+ <C3- P" << hex("5A C3 00");
    QTest::newRow("stop then start")
        << hex("0001 0011 0013 A2 0000 0000 0014 0013 A3 FF FF 0014") << 3 << true << -1 << none
        << "S A2+ 00+ 00+ P S A3+ <5A+ <C3- P" << hex("5A C3 00");
    QTest::newRow("single byte read is not acknowledged")
        << hex("0001 0012 0013 A3 FF 0014") << 2 << true << -1 << none << "S A3+ <5A- P"
        << hex("5A 00");
    QTest::newRow("absent slave: all carried out, NoAck")
        << worked << 3 << false << -1 << none << "S A2- 00- 00- Sr A3- <FF+ <FF- P"
        << hex("FF FF 40");
    QTest::newRow("bus error: rest carried out")
        << worked << 3 << true << 1 << berr << "S A2+ 00! 00+ Sr A3+ <5A+ <C3- P"
        << hex("5A C3 80");
    QTest::newRow("bus error while reading")
        << worked << 3 << true << 4 << berr << "S A2+ 00+ 00+ Sr A3+ <! <5A- P" << hex("FF 5A 80");
    QTest::newRow("SCL held: rest abandoned, reply still sent")
        << worked << 3 << true << 1 << held << "S A2+ 00!" << hex("FF FF 80");
    QTest::newRow("SCL held on the last read")
        << worked << 3 << true << 5 << held << "S A2+ 00+ 00+ Sr A3+ <5A+ <!" << hex("5A FF 80");
    QTest::newRow("escaped zero as address and data")
        << hex("0001 0012 0013 0000 0000 0014") << 1 << true << -1 << none << "S 00- 00- P"
        << hex("40");
    QTest::newRow("lone escape at the end is ignored")
        << hex("0001 0012 0013 A2 10 0014 00") << 1 << true << -1 << none << "S A2+ 10+ P"
        << hex("00");
    QTest::newRow("unknown sub-code skips its block")
        << hex("0001 0012 0013 A2 10 0030 05 07 A4 A5 A6 20 0014") << 1 << true << -1 << none
        << "S A2+ 10+ 20+ P" << hex("00");
    QTest::newRow("extended block cut off by the end does nothing")
        << hex("0001 0012 0013 A2 10 0014 0030 06 01 FA") << 1 << true << -1 << none
        << "S A2+ 10+ P" << hex("00");
    QTest::newRow("extended block of length zero skips only itself")
        << hex("0001 0012 0013 A2 0030 00 10 0014") << 1 << true << -1 << none << "S A2+ 10+ P"
        << hex("00");
    QTest::newRow("ignored escape codes") << hex("0001 0002 0010 0012 0013 A2 00FF 10 0077 0014")
                                          << 1 << true << -1 << none << "S A2+ 10+ P" << hex("00");
    QTest::newRow("wait after the byte in flight")
        << hex("0001 0012 0013 A2 10 0030 04 01 FA 00 20 0014") << 1 << true << -1 << none
        << "S A2+ 10+ w5000 20+ P" << hex("00");
    QTest::newRow("stop right after a wait")
        << hex("0001 0012 0013 A2 10 0030 04 01 01 00 0014") << 1 << true << -1 << none
        << "S A2+ 10+ w20 P" << hex("00");
    QTest::newRow("wait after the stop") << hex("0001 0012 0013 A2 10 0014 0030 04 01 01 00") << 1
                                         << true << -1 << none << "S A2+ 10+ P w20" << hex("00");
    QTest::newRow("wait inside a read follows the byte before it")
        << hex("0001 0012 0013 A3 FF FF 0030 04 01 02 00 FF 0014") << 4 << true << -1 << none
        << "S A3+ <5A+ <C3+ w40 <11- P" << hex("5A C3 11 00");
    QTest::newRow("wait after a read's last placeholder: not acknowledged")
        << hex("0001 0012 0013 A3 FF FF 0030 04 01 02 00 0014") << 3 << true << -1 << none
        << "S A3+ <5A+ <C3- w40 P" << hex("5A C3 00");
    QTest::newRow("waits in a row inside a read")
        << hex("0001 0012 0013 A3 FF 0030 04 01 02 00 0030 04 01 03 00 FF 0014") << 3 << true << -1
        << none << "S A3+ <5A+ w40 w60 <C3- P" << hex("5A C3 00");
    QTest::newRow("wait before a read's stop looks past another wait")
        << hex("0001 0012 0013 A3 FF 0030 04 01 02 00 0030 03 02 00 0014") << 2 << true << -1
        << none << "S A3+ <5A- w40 P" << hex("5A 00");
    QTest::newRow("wait with both count bytes zero-valued")
        << hex("0001 0012 0013 A2 0030 04 01 00 01 0014") << 1 << true << -1 << none
        << "S A2+ w5120 P" << hex("00");
    QTest::newRow("repeated start to the same write address")
        << hex("0001 0012 0013 A2 0013 A2 0014") << 1 << true << -1 << none << "S A2+ Sr A2+ P"
        << hex("00");
    QTest::newRow("opening drops the pending byte") << hex("0001 0012 0013 A2 10 0001 0014") << 1
                                                    << true << -1 << none << "S A2+ P" << hex("00");
}

void FirmwareLogicTest::transaction() {
    QFETCH(QByteArray, stream);
    QFETCH(int, replyLength);
    QFETCH(bool, slavePresent);
    QFETCH(int, faultAt);
    QFETCH(int, fault);
    QFETCH(QString, bus);
    QFETCH(QByteArray, reply);

    ScriptedBus i2c;
    if (slavePresent)
        i2c.addSlave(0x51, hex("5A C3 11 22"));
    i2c.injectFault(faultAt, ScriptedBus::Fault(fault));
    FakeFx2 chip(i2c);

    send(chip, stream, replyLength);

    QCOMPARE(i2c.log(), bus);
    QCOMPARE(chip.reply().toHex(' '), reply.toHex(' '));
    // An abandoned transaction spends one time-out, not one per remaining wait.
    QVERIFY2(chip.nowMicroseconds() < 30000, qPrintable(QString::number(chip.nowMicroseconds())));
    QVERIFY(FakeFx2::guardIntact());
}

void FirmwareLogicTest::flagsStickUntilOpening() {
    ScriptedBus i2c;
    FakeFx2 chip(i2c);
    send(chip, hex("0001 0012 0013 A2 10 0014"), 1); // nobody answers
    send(chip, hex("0012"), 1);                      // no opening code
    i2c.addSlave(0x51, {});
    send(chip, hex("0012 0013 A2 10 0014"), 1);      // acknowledged, flag stays
    send(chip, hex("0001 0012 0013 A2 10 0014"), 1); // opening clears it
    QCOMPARE(chip.reply().toHex(' '), QByteArray("40 40 40 00"));
}

void FirmwareLogicTest::clockCodes() {
    ScriptedBus i2c;
    FakeFx2 chip(i2c);
    send(chip, hex("0001 0011"), 1);
    QVERIFY(!chip.fastClock());
    send(chip, hex("0001"), 1);
    QVERIFY2(!chip.fastClock(), "the clock choice persists between transactions");
    send(chip, hex("0001 0012"), 1);
    QVERIFY(chip.fastClock());
}

void FirmwareLogicTest::oversizeIsDrainedAndRefused_data() {
    QTest::addColumn<int>("streamLength");
    QTest::addColumn<int>("replyLength");
    QTest::addColumn<bool>("fits");

    const int room = WIRE_COMMAND_BUFFER_SIZE - WIRE_HEADER_SIZE;
    QTest::newRow("exactly fills the buffer") << room - 1 << 1 << true;
    QTest::newRow("one byte too many") << room << 1 << false;
    QTest::newRow("stream alone too long") << room + 100 << 1 << false;
    QTest::newRow("reply alone too long") << 10 << 20000 << false;
}

void FirmwareLogicTest::oversizeIsDrainedAndRefused() {
    QFETCH(int, streamLength);
    QFETCH(int, replyLength);
    QFETCH(bool, fits);

    // Writes to the EEPROM, padded with ignored escape pairs to length.
    QByteArray stream = hex("0001 0012 0013 A2 10");
    while (stream.size() < streamLength - 3)
        stream += hex("0010");
    if (stream.size() < streamLength - 2)
        stream += hex("20");
    stream += hex("0014");
    QCOMPARE(stream.size(), streamLength);

    ScriptedBus i2c;
    i2c.addSlave(0x51, {});
    FakeFx2 chip(i2c);
    send(chip, stream, replyLength);

    QCOMPARE(chip.outPacketsLeft(), 0);
    const QByteArray reply = chip.reply();
    QCOMPARE(reply.size(), replyLength);
    if (fits) {
        QCOMPARE(i2c.log(), QString("S A2+ 10+ 20+ P"));
        QCOMPARE(reply, QByteArray(1, 0));
    } else {
        QCOMPARE(i2c.log(), QString());
        QCOMPARE(reply.left(replyLength - 1), QByteArray(replyLength - 1, 0));
        QCOMPARE(uint8_t(reply.back()), uint8_t(WIRE_STATUS_FIRMWARE_ERROR));
    }
    QVERIFY(FakeFx2::guardIntact());
}

void FirmwareLogicTest::resultsNeverPassTheBuffer() {
    // A host that asks for fewer reply bytes than the stream reads: the
    // surplus results must not spill over the end of the buffer.
    const int reads = WIRE_COMMAND_BUFFER_SIZE - 40;
    const QByteArray stream = readStream(reads);
    const int replyLength = WIRE_COMMAND_BUFFER_SIZE - WIRE_HEADER_SIZE - stream.size();
    QVERIFY(replyLength > 0 && replyLength < reads);

    ScriptedBus i2c;
    i2c.addSlave(0x51, counting(replyLength));
    FakeFx2 chip(i2c);
    send(chip, stream, replyLength);

    QCOMPARE(chip.reply(), counting(replyLength));
    QVERIFY(FakeFx2::guardIntact());
}

void FirmwareLogicTest::replyPackets_data() {
    QTest::addColumn<bool>("highSpeed");
    QTest::addColumn<int>("replyLength");
    QTest::addColumn<QList<int>>("packets");

    QTest::newRow("HS status only") << true << 1 << QList<int>{1};
    QTest::newRow("HS one full packet, no ZLP") << true << 512 << QList<int>{512};
    QTest::newRow("HS one byte over") << true << 513 << QList<int>{512, 1};
    QTest::newRow("HS two full packets") << true << 1024 << QList<int>{512, 512};
    QTest::newRow("HS default script reply") << true << 129 << QList<int>{129};
    QTest::newRow("FS one full packet") << false << 64 << QList<int>{64};
    QTest::newRow("FS default script reply") << false << 129 << QList<int>{64, 64, 1};
    QTest::newRow("FS two full packets") << false << 128 << QList<int>{64, 64};
    QTest::newRow("no reply asked for") << true << 0 << QList<int>{};
}

void FirmwareLogicTest::replyPackets() {
    QFETCH(bool, highSpeed);
    QFETCH(int, replyLength);
    QFETCH(QList<int>, packets);

    const int reads = qMax(replyLength - 1, 0);
    ScriptedBus i2c;
    i2c.addSlave(0x51, counting(reads));
    FakeFx2 chip(i2c);
    chip.setHighSpeed(highSpeed);
    send(chip, reads ? readStream(reads) : hex("0001 0012"), replyLength);

    QList<int> sizes;
    for (const QByteArray &p : chip.inPackets())
        sizes << int(p.size());
    QCOMPARE(sizes, packets);
    if (replyLength > 0)
        QCOMPARE(chip.reply(), counting(reads) + QByteArray(1, 0));
}

void FirmwareLogicTest::streamAcrossPackets_data() {
    QTest::addColumn<int>("packetSize");
    QTest::newRow("512-byte packets") << 512;
    QTest::newRow("64-byte packets") << 64;
    QTest::newRow("7-byte packets") << 7;
    QTest::newRow("1-byte packets") << 1;
}

void FirmwareLogicTest::streamAcrossPackets() {
    QFETCH(int, packetSize);
    const QByteArray stream = readStream(700);
    ScriptedBus i2c;
    i2c.addSlave(0x51, counting(700));
    FakeFx2 chip(i2c);
    send(chip, stream, 701, packetSize);
    QCOMPARE(chip.reply(), counting(700) + QByteArray(1, 0));
}

// Header and stream sent together and cut anywhere, the header too; an
// empty packet between transactions starts nothing.
void FirmwareLogicTest::headerAcrossPackets_data() {
    QTest::addColumn<int>("packetSize");
    QTest::newRow("1-byte packets") << 1;
    QTest::newRow("2-byte packets") << 2;
    QTest::newRow("3-byte packets") << 3;
    QTest::newRow("5-byte packets") << 5;
}

void FirmwareLogicTest::headerAcrossPackets() {
    QFETCH(int, packetSize);
    const QByteArray stream = readStream(20);
    const QByteArray all = header(stream.size() + WIRE_HEADER_SIZE, 21) + stream;
    ScriptedBus i2c;
    i2c.addSlave(0x51, counting(40));
    FakeFx2 chip(i2c);
    chip.queueOutPacket(QByteArray());
    for (int at = 0; at < all.size(); at += packetSize)
        chip.queueOutPacket(all.mid(at, packetSize));
    while (chip.outPacketsLeft() > 0)
        transaction_run();
    QCOMPARE(chip.reply(), counting(20) + QByteArray(1, 0));
}

void FirmwareLogicTest::portA() {
    ScriptedBus i2c;
    i2c.addSlave(0x51, hex("5A"));
    FakeFx2 chip(i2c);
    chip.setPortA(0xB3);
    // Direction: bits of x that are 0 make pins 4..7 outputs; then a read of
    // pins 7..4 between two bus bytes, which it must not reorder.
    send(chip, hex("0001 0012 0030 03 02 05 0013 A2 10 0030 03 03 00 0013 A3 FF 0014"), 3);
    QCOMPARE(chip.portAOutputs(), uint8_t(0xA0));
    QCOMPARE(i2c.log(), QString("S A2+ 10+ Sr A3+ <5A- P"));
    // Pins 7 and 5 are outputs now, driven from the latch (0).
    QCOMPARE(chip.reply().toHex(' '), QByteArray("01 5a 00"));
}

QTEST_GUILESS_MAIN(FirmwareLogicTest)
#include "tst_firmware_logic.moc"
