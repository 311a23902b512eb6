// The firmware image we ship, on the emulated FX2, against the simulator's
// reference core: the same transactions on identical benches must give the
// same replies in the same packets, the same bus activity, the same port A
// directions and the same EEPROM and sensor contents. The firmware's own
// code built for the host runs beside them and must also match the
// reference's bus times, which it models without instruction time.

#include "Differential.h"

#include "CompileScript.h"
#include "adapter_wire.h"

#include <QRandomGenerator>
#include <QtTest>

#include <limits>

namespace {

QByteArray hex(const char *text) {
    return QByteArray::fromHex(text); // blanks are skipped
}

Transaction tx(const char *stream, int reply) {
    Transaction t;
    t.stream = hex(stream);
    t.reply = reply;
    return t;
}

Transaction tx(const QByteArray &stream, int reply) {
    Transaction t;
    t.stream = stream;
    t.reply = reply;
    return t;
}

Transaction withBusError(Transaction t, int at) {
    t.busErrorAt = at;
    return t;
}

Transaction withSclHeld(Transaction t, int64_t ns) {
    t.holdSclNs = ns;
    return t;
}

Transaction inPackets(Transaction t, int size, bool glued) {
    t.packetSize = size;
    t.glued = glued;
    return t;
}

Transaction afterIdle(Transaction t, int64_t ns) {
    t.idleNs = ns;
    return t;
}

// A read of n bytes from the EEPROM at `address`, then a stop.
QByteArray eepromRead(int address, int n) {
    QByteArray s = hex("0001 0012 0013 A2");
    for (const uint8_t b : {uint8_t(address >> 8), uint8_t(address)})
        s += b ? QByteArray(1, char(b)) : hex("0000");
    s += hex("0013 A3") + QByteArray(n, char(0xFF)) + hex("0014");
    return s;
}

// A page write of n counting bytes from `address` (zeros escaped).
QByteArray eepromWrite(int address, int n, int first) {
    QByteArray s = hex("0001 0012 0013 A2");
    auto put = [&s](uint8_t b) { s += b ? QByteArray(1, char(b)) : hex("0000"); };
    put(uint8_t(address >> 8));
    put(uint8_t(address));
    for (int i = 0; i < n; ++i)
        put(uint8_t(first + i));
    return s + hex("0014");
}

// Random valid scripts, as a user might type them at the bench.
class ScriptMaker {
public:
    explicit ScriptMaker(quint32 seed) : m_random(seed) {}

    // The script text and the number of bytes it reads.
    QString make(int *reads) {
        m_text.clear();
        m_reads = 0;
        const int transfers = 1 + bounded(5);
        for (int i = 0; i < transfers; ++i) {
            maybeWait();
            transfer(i == transfers - 1);
        }
        *reads = m_reads;
        return m_text;
    }

private:
    int bounded(int n) { return int(m_random.bounded(n)); }
    bool chance(int percent) { return bounded(100) < percent; }

    void put(const QString &token) { m_text += token + QLatin1Char(' '); }
    void byte(int b) { put(QStringLiteral("%1").arg(b & 0xFF, 2, 16, QLatin1Char('0'))); }
    void maybeWait() {
        if (!chance(15))
            return;
        static const char *const waits[] = {"0.02", "0.1", "1", "4.9", "5", "6", "0.01"};
        put(QStringLiteral("[wait %1]").arg(QLatin1String(waits[bounded(7)])));
    }
    void address(int a) {
        if (chance(50))
            put(QStringLiteral(","));
        maybeWait();
        byte(a);
    }
    void readBytes(int n) {
        for (int i = 0; i < n; ++i) {
            byte(chance(80) ? 0xFF : bounded(256)); // the value is a placeholder
            ++m_reads;
            maybeWait();
        }
    }
    void writeBytes(int n) {
        for (int i = 0; i < n; ++i) {
            byte(chance(10) ? 0 : bounded(256));
            maybeWait();
        }
    }
    void end(bool last) {
        // A script may end inside a transfer; the compiler closes it.
        if (!last || chance(70))
            put(QStringLiteral(";"));
    }

    void transfer(bool last) {
        switch (bounded(7)) {
        case 0: { // EEPROM page write, often across a page end
            address(0xA2);
            const int at = chance(50) ? 32 * bounded(256) + 28 + bounded(4) : bounded(8192);
            byte(at >> 8);
            byte(at);
            writeBytes(bounded(40));
            end(last);
            break;
        }
        case 1: // EEPROM random read
        case 2:
            address(0xA2);
            byte(bounded(40));
            byte(bounded(256));
            maybeWait();
            address(0xA3);
            readBytes(1 + bounded(40));
            end(last);
            break;
        case 3: // EEPROM read at the current address
            address(0xA3);
            readBytes(1 + bounded(8));
            end(last);
            break;
        case 4: // sensor: set the pointer, read a register
            address(0x90);
            byte(bounded(4));
            if (chance(50)) {
                put(QStringLiteral(";"));
            }
            address(0x91);
            readBytes(1 + bounded(4));
            end(last);
            break;
        case 5: // sensor register write (register 0 refuses data)
            address(0x90);
            byte(bounded(4));
            writeBytes(bounded(4));
            end(last);
            break;
        default: { // nobody there
            static const int absent[] = {0xA0, 0xA1, 0x20, 0xFE, 0x00};
            const int a = absent[bounded(5)];
            address(a);
            if (a & 1)
                readBytes(1 + bounded(3));
            else
                writeBytes(bounded(3));
            end(last);
            break;
        }
        }
    }

    QRandomGenerator m_random;
    QString m_text;
    int m_reads = 0;
};

// What the image on the emulated chip, or the host build, does otherwise
// than the reference; empty when both agree with it.
// Where the bus time a stream takes decides whether the EEPROM's write
// cycle is over (random scripts place waits right around its end), the
// image, which spends real instruction time, is compared on EEPROMs that
// are ready at once; the host build matches the reference's times exactly.
// `reference`, when given, receives the reference's outcome.
QString differences(const Transactions &transactions, const Setup &setup = Setup(),
                    bool timedWriteCycles = true, Outcome *referenceOutcome = nullptr) {
    const Outcome reference = runReference(transactions, setup);
    if (referenceOutcome)
        *referenceOutcome = reference;
    Setup emulatedSetup = setup;
    if (!timedWriteCycles)
        emulatedSetup.eepromWriteCycleNs = 0;
    QString difference = compareOutcomes(
        runEmulated(transactions, emulatedSetup),
        timedWriteCycles ? reference : runReference(transactions, emulatedSetup), false);
    if (!difference.isEmpty())
        return QStringLiteral("emulated image ") + difference;
    difference = compareOutcomes(runFirmware(transactions, setup), reference);
    if (!difference.isEmpty())
        return QStringLiteral("host build ") + difference;
    return QString();
}

void addAnyBytes(int count);

} // namespace

class TestDifferential : public QObject {
    Q_OBJECT

private slots:
    void sameOutcome_data();
    void sameOutcome();
    void settledBehaviour_data();
    void settledBehaviour();
    void fullSpeed();
    void workedTransactionAnswersFromTheEeprom();
    void randomScripts_data();
    void randomScripts();
    void randomStreams_data();
    void randomStreams();
    void anyBytes_data();
    void anyBytes();
    void skippedPollingChangesNothing_data();
    void skippedPollingChangesNothing();
};

void TestDifferential::sameOutcome_data() {
    QTest::addColumn<Transactions>("transactions");

    const char *const worked = "0001 0011 0013 A2 0000 0000 0013 A3 FF FF 0014";
    QTest::newRow("worked transaction") << Transactions{tx(worked, 3)};
    QTest::newRow("worked transaction at 400 kHz")
        << Transactions{tx("0001 0012 0013 A2 0000 0000 0013 A3 FF FF 0014", 3)};
    QTest::newRow("stop then start")
        << Transactions{tx("0001 0011 0013 A2 0000 0000 0014 0013 A3 FF FF 0014", 3)};

    // EEPROM: a write across the end of a page wraps within it; after the
    // write cycle a read shows it.
    QTest::newRow("page write wraps, read after the write cycle") << Transactions{
        tx(eepromWrite(0x3C, 8, 0x90), 1), afterIdle(tx(eepromRead(0x20, 40), 41), 5'000'000)};
    QTest::newRow("page write of 40 bytes keeps the last 32") << Transactions{
        tx(eepromWrite(0x105, 40, 0), 1), afterIdle(tx(eepromRead(0x100, 34), 35), 6'000'000)};
    QTest::newRow("sequential read across pages and the array end")
        << Transactions{tx(eepromRead(0x1FF0, 40), 41)};
    QTest::newRow("busy: address not acknowledged during the write cycle") << Transactions{
        tx(eepromWrite(0x10, 4, 1), 1), tx(eepromRead(0x10, 4), 5), tx(eepromRead(0x10, 4), 5)};
    QTest::newRow("acknowledge polling with waits in one stream")
        << Transactions{tx("0001 0012 0013 A2 0000 0008 77 0014"
                           "0013 A2 0014 0030 04 01 32 00 0013 A2 0014 0030 04 01 C8 00"
                           "0013 A2 0000 0008 0013 A3 FF 0014",
                           2)};
    QTest::newRow("write cycle ends during a long wait")
        << Transactions{tx("0001 0012 0013 A2 0000 0008 77 0014 0030 04 01 FA 00"
                           "0013 A2 0000 0008 0013 A3 FF 0014",
                           2)};

    // Sensor.
    QTest::newRow("sensor temperature")
        << Transactions{tx("0001 0012 0013 90 0000 0013 91 FF FF 0014", 3)};
    QTest::newRow("sensor read with stop between")
        << Transactions{tx("0001 0011 0013 90 0000 0014 0013 91 FF FF FF 0014", 4)};
    QTest::newRow("sensor configuration write then read")
        << Transactions{tx("0001 0012 0013 90 01 60 A0 0014 0013 90 01 0013 91 FF FF 0014", 3)};
    QTest::newRow("sensor refuses data for the temperature")
        << Transactions{tx("0001 0012 0013 90 0000 55 66 0014", 1)};

    // Nobody at the address.
    QTest::newRow("absent write address") << Transactions{tx("0001 0012 0013 A0 12 34 0014", 1)};
    QTest::newRow("absent read address") << Transactions{tx("0001 0012 0013 A1 FF FF 0014", 3)};
    // The refused address is the last byte on the bus: only the address
    // itself can set NoAck.
    QTest::newRow("absent write address alone") << Transactions{tx("0001 0012 0013 A0 0014", 1)};
    QTest::newRow("absent read address alone") << Transactions{tx("0001 0011 0013 A1 FF 0014", 2)};
    QTest::newRow("absent address in the worked transaction")
        << Transactions{tx("0001 0011 0013 A0 0000 0000 0013 A1 FF FF 0014", 3)};
    QTest::newRow("NoAck sticks until the opening code")
        << Transactions{tx("0001 0012 0013 A0 12 0014", 1), tx("0013 A2 0000 0000 0014", 1),
                        tx("0001 0013 A2 0000 0000 0014", 1)};

    // Waits.
    QTest::newRow("wait between written bytes")
        << Transactions{tx("0001 0011 0013 A2 0000 0030 04 01 FA 00 0000 0014", 1)};
    QTest::newRow("wait after a stop")
        << Transactions{tx("0001 0011 0013 A2 0000 0000 0014 0030 04 01 FA 00", 1)};
    QTest::newRow("wait between start and address")
        << Transactions{tx("0001 0012 0013 0030 04 01 05 00 A2 0000 0014", 1)};
    QTest::newRow("wait between placeholders")
        << Transactions{tx("0001 0012 0013 A3 FF 0030 04 01 0A 00 FF FF 0014", 4)};
    QTest::newRow("wait before the last placeholder")
        << Transactions{tx("0001 0012 0013 A3 FF FF 0030 04 01 0A 00 FF 0014", 4)};
    QTest::newRow("wait after the last placeholder")
        << Transactions{tx("0001 0012 0013 A3 FF FF 0030 04 01 0A 00 0014", 3)};
    QTest::newRow("wait after a read address")
        << Transactions{tx("0001 0012 0013 A3 0030 04 01 0A 00 FF FF 0014", 3)};
    QTest::newRow("two waits inside a read")
        << Transactions{tx("0001 0012 0013 A3 FF 0030 04 01 01 00 0030 04 01 01 00 FF 0014", 3)};
    QTest::newRow("wait of zero units") << Transactions{tx("0001 0012 0013 A2 0030 04 01 0000 "
                                                           "0014",
                                                           1)};

    // Stream coding.
    QTest::newRow("escaped zeros as address and data") << Transactions{
        tx("0001 0012 0013 A2 0000 0020 0000 0000 0014", 1),
        afterIdle(tx(eepromRead(0x1E, 6), 7), 5'000'000), tx("0001 0012 0013 0000 0000 0014", 1)};
    QTest::newRow("lone zero at the end") << Transactions{tx("0001 0012 0013 A2 10 0014 00", 1)};
    QTest::newRow("ignored escape codes")
        << Transactions{tx("0001 0002 0010 0013 A2 00FF 10 0077 0015 0014", 1)};
    QTest::newRow("opening drops the pending byte")
        << Transactions{tx("0001 0012 0013 A2 10 0001 0014", 1)};
    QTest::newRow("stop with the bus idle") << Transactions{tx("0001 0014", 1)};
    QTest::newRow("read ended by the end of the stream")
        << Transactions{tx("0001 0012 0013 A3 FF FF", 3), tx(worked, 3)};
    QTest::newRow("read ended by a start")
        << Transactions{tx("0001 0012 0013 A3 FF FF 0013 A2 0000 0000 0014", 3)};
    QTest::newRow("read ended by a start right after its address")
        << Transactions{tx("0001 0012 0013 A3 0013 A2 0000 0000 0014", 1)};
    QTest::newRow("start requested at the end is not carried over")
        << Transactions{tx("0001 0012 0013", 1), tx("0001 0012 12 0014", 1)};
    QTest::newRow("port A read inside a read")
        << Transactions{tx("0001 0012 0013 A3 FF FF 0030 03 03 00 0014", 4)};
    QTest::newRow("placeholders after a read ended by port A")
        << Transactions{tx("0001 0012 0013 A3 FF 0030 03 03 00 FF FF 0014", 5)};
    QTest::newRow("opening code inside a read")
        << Transactions{tx("0001 0012 0013 A3 FF FF 0001 FF 0014", 3)};

    // Extended blocks.
    QTest::newRow("unknown sub-code skips its block")
        << Transactions{tx("0001 0012 0013 A2 10 0030 05 07 A4 A5 A6 20 0014", 1)};
    QTest::newRow("unknown sub-code with zeros inside")
        << Transactions{tx("0001 0012 0013 A2 10 0030 04 7F 00 13 20 0014", 1)};
    QTest::newRow("block cut off by the end")
        << Transactions{tx("0001 0012 0013 A2 10 0014 0030 06 01 FA", 1)};
    QTest::newRow("block of length zero")
        << Transactions{tx("0001 0012 0013 A2 0030 00 10 0014", 1)};
    QTest::newRow("block of length one")
        << Transactions{tx("0001 0012 0013 A2 0030 01 10 0014", 1)};
    QTest::newRow("wait block too short for its count")
        << Transactions{tx("0001 0012 0013 A2 0030 03 01 FA 10 0014", 1)};
    QTest::newRow("port A direction and read")
        << Transactions{tx("0001 0012 0030 03 02 05 0030 03 03 00 0030 03 02 0F 0030 03 03 00", 3)};
    QTest::newRow("port A read among bus bytes")
        << Transactions{tx("0001 0012 0013 A2 10 0030 03 03 00 20 0014", 2)};
    QTest::newRow("port A block too short")
        << Transactions{tx("0001 0012 0030 02 03 0030 02 02", 1)};

    // Size.
    QTest::newRow("reply shorter than the results") << Transactions{tx(worked, 1)};
    QTest::newRow("reply longer than the results") << Transactions{tx(worked, 6)};
    QTest::newRow("no reply asked") << Transactions{tx(worked, 0), tx(worked, 3)};
    QTest::newRow("empty stream") << Transactions{tx("", 1)};
    // From address 1: L = 19 + n, so L + R is 11,912 for n = 5946.
    QTest::newRow("transaction fills the buffer exactly")
        << Transactions{tx(eepromRead(1, 5946), 5947)};
    QTest::newRow("one byte over the buffer") << Transactions{tx(eepromRead(1, 5946), 5948)};
    QTest::newRow("oversize reply count")
        << Transactions{tx("0001 0012 0013 A2 0014", 11909), tx(worked, 3)};
    QTest::newRow("oversize with no reply") << Transactions{tx(eepromRead(0, 6000), 0)};
    {
        Transaction shortHeader = tx("", 2);
        shortHeader.length = 2;
        shortHeader.glued = true;
        QTest::newRow("L smaller than the header") << Transactions{shortHeader, tx(worked, 3)};
    }
    {
        Transaction trailing = tx(QByteArray::fromHex("00010012 0013A2 0014") + hex("A2 A3 00"), 1);
        trailing.length = WIRE_HEADER_SIZE + 9;
        trailing.glued = true;
        QTest::newRow("bytes after L in the last packet") << Transactions{trailing, tx(worked, 3)};
    }

    // Packets.
    QTest::newRow("header glued to the stream")
        << Transactions{inPackets(tx(eepromRead(0, 600), 601), 512, true)};
    QTest::newRow("one-byte packets") << Transactions{inPackets(tx(worked, 3), 1, false)};
    QTest::newRow("header split over two packets")
        << Transactions{inPackets(tx(worked, 3), 2, true), tx(worked, 3)};
    QTest::newRow("header and stream byte by byte")
        << Transactions{inPackets(tx(worked, 3), 1, true), tx(worked, 3)};
    QTest::newRow("header cut after three bytes")
        << Transactions{inPackets(tx(eepromRead(0, 10), 11), 3, true)};
    {
        Transaction afterEmpty = tx(worked, 3);
        afterEmpty.emptyPacketFirst = true;
        QTest::newRow("empty packet before the header") << Transactions{afterEmpty, tx(worked, 3)};
    }
    QTest::newRow("64-byte packets, glued")
        << Transactions{inPackets(tx(eepromRead(0x40, 200), 201), 64, true)};

    // Faults on the bus.
    QTest::newRow("bus error on the address") << Transactions{withBusError(tx(worked, 3), 1)};
    QTest::newRow("bus error on written data") << Transactions{withBusError(tx(worked, 3), 2)};
    QTest::newRow("bus error on the repeated start")
        << Transactions{withBusError(tx(worked, 3), 4)};
    QTest::newRow("bus error on a read") << Transactions{withBusError(tx(worked, 3), 5)};
    QTest::newRow("bus error on the last read") << Transactions{withBusError(tx(worked, 3), 6)};
    QTest::newRow("bus error, then the next transaction")
        << Transactions{withBusError(tx(worked, 3), 2), tx(worked, 3)};
    QTest::newRow("bus error with an absent slave")
        << Transactions{withBusError(tx("0001 0012 0013 A0 12 34 0014", 1), 2)};
    QTest::newRow("SCL held low for good")
        << Transactions{withSclHeld(tx(worked, 3), std::numeric_limits<int64_t>::max())};
    QTest::newRow("SCL held low past the time-out")
        << Transactions{withSclHeld(tx(worked, 3), 30'000'000)};
    QTest::newRow("SCL stretched within the time-out")
        << Transactions{withSclHeld(tx(worked, 3), 1'000'000)};
    QTest::newRow("SCL held low during a write with waits")
        << Transactions{withSclHeld(tx("0001 0012 0013 A2 0000 0030 04 01 0A 00 0000 0014"
                                       "0013 A3 FF FF 0014",
                                       3),
                                    std::numeric_limits<int64_t>::max())};
}

void TestDifferential::sameOutcome() {
    QFETCH(Transactions, transactions);
    const QString difference = differences(transactions);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

// Streams outside the script grammar on which the firmware and the
// reference once went different ways; each now has one sound outcome, and
// both sides must give exactly that.
void TestDifferential::settledBehaviour_data() {
    QTest::addColumn<Transactions>("transactions");
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<QString>("events"); // empty: not checked
    // Bus time from the first STOP to the START after it, at least (0: not checked).
    QTest::addColumn<int>("stopToStartNs");

    // A stuck controller is a failure, whatever comes after it: an opening
    // code later in the same stream clears NoAck and bus errors, not the
    // stall. The error then sticks until an opening code in a later stream.
    QTest::newRow("stall survives an opening code in the same stream")
        << Transactions{withSclHeld(tx("0001 0012 0013 A2 10 0001 0014", 1), 30'000'000),
                        afterIdle(tx("0012 0013 A2 10 0014", 1), 10'000'000),
                        tx("0001 0012 0013 A2 10 0014", 1)}
        << QList<QByteArray>{hex("80"), hex("80"), hex("00")} << QString() << 0;
    QTest::newRow("stall in a read, opening code, more reads")
        << Transactions{withSclHeld(tx("0001 0012 0013 A3 FF FF 0001 FF 0014", 3),
                                    std::numeric_limits<int64_t>::max())}
        << QList<QByteArray>{hex("FF FF 80")} << QString() << 0;
    // A START right after a read ends the read with its STOP; a STOP asked
    // for after the new address is still sent, so the bus is free and the
    // next transaction begins with a plain START.
    QTest::newRow("STOP after a START right after a read")
        << Transactions{tx("0013 A3 FF 0013 A2 0014", 2), tx("0001 0012 0013 A2 10 0014", 1)}
        << QList<QByteArray>{hex("00 00"), hex("00")} << QString("S A3+ r00- P S A2+ P S A2+ 10+ P")
        << 0;
    QTest::newRow("STOP after a START right after a read, with data")
        << Transactions{tx("0001 0012 0013 A3 FF FF 0013 A2 0000 0014", 3)}
        << QList<QByteArray>{hex("00 01 00")} << QString("S A3+ r00+ r01- P S A2+ 00+ P") << 0;
    // A START after a read, then a wait: the read is over, so its STOP goes
    // out before the pause instead of holding the bus through it.
    QTest::newRow("START after a read, then a wait")
        << Transactions{tx("0001 0012 0013 A3 FF 0013 0030 04 01 0A 00 A2 0014", 2)}
        << QList<QByteArray>{hex("00 00")} << QString("S A3+ r00- P S A2+ P") << 200'000;
    // LASTRD leaves one byte unacknowledged; a read that goes on after it
    // (here past a wait that no bus byte followed) acknowledges again until
    // its own last byte.
    QTest::newRow("LASTRD holds for one byte")
        << Transactions{tx("0001 0012 0013 A3 FF 0030 04 01 01 00 0001 FF FF 0014", 4)}
        << QList<QByteArray>{hex("00 01 02 00")} << QString("S A3+ r00- r01+ r02- P") << 0;
}

void TestDifferential::settledBehaviour() {
    QFETCH(Transactions, transactions);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(QString, events);
    QFETCH(int, stopToStartNs);

    const Outcome emulated = runEmulated(transactions);
    const Outcome firmware = runFirmware(transactions);
    const Outcome reference = runReference(transactions);
    for (const Outcome *o : {&reference, &emulated, &firmware}) {
        const char *side = o == &emulated   ? "emulated image"
                           : o == &firmware ? "host build"
                                            : "reference";
        QVERIFY2(o->replies == replies, qPrintable(QString("%1: %2").arg(side, o->describe())));
        if (!events.isEmpty())
            QVERIFY2(o->events == events, qPrintable(QString("%1: %2").arg(side, o->events)));
        if (stopToStartNs) {
            static const QRegularExpression gap(R"((?:^| )P@(\d+) S@(\d+))");
            const QRegularExpressionMatch m = gap.match(o->timedEvents);
            QVERIFY2(m.hasMatch(), qPrintable(o->timedEvents));
            QVERIFY2(m.captured(2).toLongLong() - m.captured(1).toLongLong() >= stopToStartNs,
                     qPrintable(QString("%1: %2").arg(side, o->timedEvents)));
        }
    }
    QString difference = compareOutcomes(emulated, reference, false);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    difference = compareOutcomes(firmware, reference);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

// Replies in 64-byte packets at full speed, the last one short or full.
void TestDifferential::fullSpeed() {
    Setup setup;
    setup.highSpeed = false;
    const Transactions transactions{tx(eepromRead(0, 127), 128), tx(eepromRead(0, 130), 131),
                                    tx("0001 0012", 64)};
    QCOMPARE(runEmulated(transactions, setup).packetSizes,
             (QList<QList<int>>{{64, 64}, {64, 64, 3}, {64}}));
    const QString difference = differences(transactions, setup);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

// The comparison above is only worth something if both sides reach the
// slaves: the worked transaction reads the EEPROM's first two bytes.
void TestDifferential::workedTransactionAnswersFromTheEeprom() {
    const Transactions transactions{tx("0001 0011 0013 A2 0000 0000 0013 A3 FF FF 0014", 3)};
    for (const Outcome &o :
         {runEmulated(transactions), runFirmware(transactions), runReference(transactions)}) {
        QCOMPARE(o.replies, QList<QByteArray>{hex("00 01 00")});
        QCOMPARE(o.events, QString("S A2+ 00+ 00+ Sr A3+ r00+ r01- P"));
    }
}

void TestDifferential::randomScripts_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("clock");
    QTest::addColumn<int>("reads");

    ScriptMaker maker(20261207u);
    QRandomGenerator pick(7u);
    for (int i = 0; i < 1000; ++i) {
        int reads = 0;
        const QString script = maker.make(&reads);
        QTest::addRow("script %d", i) << script << int(pick.bounded(2)) << reads;
    }
}

// Random scripts through the real compiler, each sent twice in a row on the
// same bench (so the second meets the first's write cycle).
void TestDifferential::randomScripts() {
    QFETCH(QString, script);
    QFETCH(int, clock);
    QFETCH(int, reads);

    QByteArray stream;
    try {
        stream = compile(script, clock);
    } catch (const QString &error) {
        QFAIL(qPrintable(QStringLiteral("the script does not compile: %1\n%2").arg(error, script)));
    }
    const Transactions transactions{tx(stream, reads + 1), tx(stream, reads + 1)};
    Outcome reference;
    const QString difference = differences(transactions, Setup(), false, &reference);
    QVERIFY2(difference.isEmpty(), qPrintable(script + QLatin1Char('\n') + difference));
    QCOMPARE(reference.replies.first().size(), reads + 1);
}

void TestDifferential::randomStreams_data() {
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("reply");

    static const char *const addresses[] = {"A2", "A3", "90", "91", "A0", "A1", "0000"};
    static const char *const items[] = {"FF",
                                        "FF",
                                        "FF",
                                        "12",
                                        "0000",
                                        "0030 04 01 03 00",
                                        "0030 04 01 00 01",
                                        "0011",
                                        "0012",
                                        "0002",
                                        "0010",
                                        "0030 05 09 00 13 00",
                                        "0030 00",
                                        "0030 03 03 00",
                                        "0030 03 02 0A",
                                        "0014",
                                        "0013 A3",
                                        "0013 A2",
                                        "0013 91"};
    QRandomGenerator random(99u);
    for (int i = 0; i < 1500; ++i) {
        QByteArray stream = hex("0001");
        const int transfers = 1 + int(random.bounded(5));
        for (int t = 0; t < transfers; ++t) {
            if (random.bounded(2))
                stream += hex("0013") + hex(addresses[random.bounded(7)]);
            const int n = int(random.bounded(10));
            for (int k = 0; k < n; ++k)
                stream += hex(items[random.bounded(int(sizeof items / sizeof *items))]);
            if (random.bounded(100) < 80)
                stream += hex("0014");
            if (random.bounded(100) < 20)
                stream += hex(random.bounded(2) ? "0030 03 03 00" : "0030 03 02 0A");
        }
        if (random.bounded(100) < 10)
            stream += hex("00");
        QTest::addRow("stream %d", i) << stream << int(random.bounded(20));
    }
}

// Streams no script gives: transfers with or without their START and STOP,
// whose bytes, escapes and extended blocks come in any order.
void TestDifferential::randomStreams() {
    QFETCH(QByteArray, stream);
    QFETCH(int, reply);
    const Transactions transactions{tx(stream, reply), tx(stream, reply)};
    const QString difference = differences(transactions);
    QVERIFY2(difference.isEmpty(),
             qPrintable(QString::fromLatin1(stream.toHex(' ')) + QLatin1Char('\n') + difference));
}

// Streams of any bytes at all, with faults on the bus: the firmware must
// handle whatever arrives. The bytes lean towards the escape and its codes,
// so that opening codes, STARTs and STOPs land inside reads and waits, and
// extended blocks come with any length and sub-code.
void TestDifferential::anyBytes_data() {
    QTest::addColumn<Transactions>("transactions");
    addAnyBytes(1500);
}

namespace {
// Rows of `count` random transaction sequences, the same every run.
void addAnyBytes(int count) {
    static const uint8_t codes[] = {0x00, 0x01, 0x11, 0x12, 0x13, 0x13, 0x14, 0x14, 0x30, 0x30};
    static const uint8_t addresses[] = {0xA2, 0xA3, 0x90, 0x91, 0xA1};
    QRandomGenerator random(4242u);
    auto stream = [&] {
        QByteArray bytes;
        const int n = 1 + int(random.bounded(40));
        while (bytes.size() < n) {
            const int kind = int(random.bounded(100));
            if (kind < 25) {
                bytes.append(char(random.bounded(256)));
            } else if (kind < 35) {
                bytes.append(char(0xFF));
            } else if (kind < 50) {
                bytes.append('\0');
                bytes.append(char(codes[random.bounded(int(sizeof codes))]));
            } else if (kind < 62) {
                bytes += QByteArray::fromHex("0013");
                bytes.append(char(addresses[random.bounded(int(sizeof addresses))]));
            } else if (kind < 72) {
                // An extended block of any length and sub-code, often a wait.
                bytes += QByteArray::fromHex("0030");
                const int length = int(random.bounded(7));
                bytes.append(char(length));
                bytes.append(char(random.bounded(100) < 60 ? 0x01 : random.bounded(5)));
                for (int k = 2; k < length; ++k)
                    bytes.append(
                        char(random.bounded(100) < 70 ? random.bounded(4) : random.bounded(256)));
            } else if (kind < 80) {
                bytes.append('\0');
                bytes.append(char(random.bounded(256)));
            } else {
                bytes += QByteArray::fromHex("0014");
            }
        }
        return bytes;
    };
    for (int i = 0; i < count; ++i) {
        Transactions transactions;
        const int n = 1 + int(random.bounded(2));
        for (int t = 0; t < n; ++t) {
            Transaction one = tx(stream(), int(random.bounded(12)));
            const int fault = int(random.bounded(100));
            if (fault < 6)
                one.holdSclNs = random.bounded(2) ? 30'000'000 : 1'000'000;
            else if (fault < 12)
                one.busErrorAt = 1 + int(random.bounded(6));
            if (random.bounded(100) < 10)
                one.idleNs = 6'000'000;
            transactions << one;
        }
        QTest::addRow("bytes %d", i) << transactions;
    }
}
} // namespace

void TestDifferential::anyBytes() {
    QFETCH(Transactions, transactions);
    const QString difference = differences(transactions);
    if (!difference.isEmpty()) {
        QString streams;
        for (const Transaction &t : transactions)
            streams += QStringLiteral("[R %1, SCL held %2 ns, bus error at %3, idle %4 ns] ")
                           .arg(t.reply)
                           .arg(t.holdSclNs)
                           .arg(t.busErrorAt)
                           .arg(t.idleNs) +
                       QString::fromLatin1(t.stream.toHex(' ')) + QLatin1Char('\n');
        QFAIL(qPrintable(streams + difference));
    }
}

// The emulated chip skips the turns of the firmware's polling loops; with
// and without that, everything the chip does must be the same to the cycle:
// replies, every bus event with its time, the CPU's cycle and instruction
// counts whenever the host takes or gives a packet, and what the slaves and
// port A are left with.
void TestDifferential::skippedPollingChangesNothing_data() {
    sameOutcome_data();
    const QByteArray longRead = eepromRead(0x1F00, 600);
    for (const bool fast : {false, true}) {
        QByteArray s = longRead;
        s[3] = char(fast ? 0x12 : 0x11);
        QTest::addRow("600-byte read at %d kHz", fast ? 400 : 100) << Transactions{tx(s, 601)};
    }
    addAnyBytes(150);
}

void TestDifferential::skippedPollingChangesNothing() {
    QFETCH(Transactions, transactions);
    Setup stepping;
    stepping.skipPolling = false;
    const Outcome a = runEmulated(transactions);
    const Outcome b = runEmulated(transactions, stepping);
    QCOMPARE(b.pollSkips, 0);
    // At 100 kHz the firmware waits out most of every byte.
    if (QByteArray(QTest::currentDataTag()).contains("100 kHz"))
        QVERIFY(a.pollSkips > 100);
    QCOMPARE(a.stuck, b.stuck);
    QCOMPARE(a.clean, b.clean);
    QCOMPARE(a.replies, b.replies);
    QCOMPARE(a.packetSizes, b.packetSizes);
    QCOMPARE(a.timedEvents, b.timedEvents);
    QCOMPARE(a.cycles, b.cycles);
    QCOMPARE(a.busNs, b.busNs);
    QCOMPARE(a.eeprom, b.eeprom);
    QCOMPARE(a.sensorRegisters, b.sensorRegisters);
    QCOMPARE(a.portAOutputs, b.portAOutputs);
}

QTEST_GUILESS_MAIN(TestDifferential)
#include "tst_differential.moc"
