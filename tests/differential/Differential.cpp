#include "Differential.h"

#include "Eeprom24.h"
#include "EmulatedCore.h"
#include "FakeFx2.h"
#include "Fx2Chip.h"
#include "I2cBus.h"
#include "ReferenceCore.h"
#include "ScriptedBus.h"
#include "SimBusSide.h"
#include "TemperatureSensor.h"

#include "adapter_wire.h"
#include "transaction.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <memory>

namespace {

// Long enough for the longest transaction the tests send (a buffer full of
// reads), so that every side's whole event log is compared.
constexpr int EventCapacity = 1 << 16;

// One side's bus (its own, or the emulated chip's) with the bench's slaves.
struct Bench {
    I2cBus ownBus;
    I2cBus &bus;
    std::shared_ptr<Eeprom24> eeprom = std::make_shared<Eeprom24>();
    std::shared_ptr<TemperatureSensor> sensor = std::make_shared<TemperatureSensor>();

    explicit Bench(const Setup &setup, I2cBus *chipBus = nullptr)
        : bus(chipBus ? *chipBus : ownBus) {
        eeprom->setWriteCycleNs(setup.eepromWriteCycleNs);
        bus.attach(eeprom);
        bus.attach(sensor);
        bus.setEventCapacity(EventCapacity);
    }

    // The emulated chip's own clock moves its bus: it idles itself.
    void before(const Transaction &t, bool idle = true) {
        if (idle)
            bus.elapse(t.idleNs);
        if (t.holdSclNs)
            bus.holdSclLow(t.holdSclNs);
        if (t.busErrorAt)
            bus.injectBusError(t.busErrorAt);
    }

    void finish(Outcome &o) const {
        QStringList timed;
        bool stalled = false;
        for (const I2cEvent &e : bus.events()) {
            timed << QStringLiteral("%1@%2").arg(e.toString()).arg(e.atNs);
            stalled = stalled || e.kind == I2cEvent::Stall;
            if (!stalled)
                o.durations << e.durationNs;
        }
        o.events = bus.eventsText();
        o.timedEvents = timed.join(QLatin1Char(' '));
        o.eeprom = eeprom->memory();
        for (int r = 0; r < 4; ++r)
            o.sensorRegisters << sensor->registerValue(r);
        o.busNs = bus.nowNs();
    }
};

QByteArray header(int length, int reply) {
    QByteArray h(WIRE_HEADER_SIZE, '\0');
    h[0] = char(length & 0xFF);
    h[1] = char((length >> 8) & 0xFF);
    h[2] = char(reply & 0xFF);
    h[3] = char((reply >> 8) & 0xFF);
    return h;
}

// The firmware keeps its state in statics from one test to the next, as the
// chip keeps it from one transaction to the next. A chip that was just
// powered on has its flags clear and the bus free: get there with a
// transaction on a scratch bus that ends any bus ownership left behind.
void powerOnFirmware() {
    ScriptedBus scratch;
    FakeFx2 chip(scratch);
    chip.queueOutPacket(header(WIRE_HEADER_SIZE + 4, 0) + QByteArray::fromHex("00010014"));
    while (chip.outPacketsLeft() > 0)
        transaction_run();
}

} // namespace

QList<QByteArray> packetsOf(const Transaction &t) {
    const int length = t.length >= 0 ? t.length : int(t.stream.size()) + WIRE_HEADER_SIZE;
    const QByteArray h = header(length, t.reply);
    QList<QByteArray> packets;
    if (t.emptyPacketFirst)
        packets << QByteArray();
    if (t.glued) {
        const QByteArray all = h + t.stream;
        for (int at = 0; at < all.size(); at += t.packetSize)
            packets << all.mid(at, t.packetSize);
        return packets;
    }
    packets << h;
    for (int at = 0; at < t.stream.size(); at += t.packetSize)
        packets << t.stream.mid(at, t.packetSize);
    return packets;
}

Outcome runFirmware(const Transactions &transactions, const Setup &setup) {
    powerOnFirmware();
    Outcome o;
    Bench bench(setup);
    SimBusSide side(bench.bus);
    FakeFx2 chip(side);
    chip.setHighSpeed(setup.highSpeed);
    chip.setPortA(setup.portA);
    for (const Transaction &t : transactions) {
        if (t.startsQuiet())
            chip.releaseHeldStep();
        bench.before(t);
        const int before = int(chip.inPackets().size());
        for (const QByteArray &p : packetsOf(t))
            chip.queueOutPacket(p);
        while (chip.outPacketsLeft() > 0)
            transaction_run();
        QByteArray reply;
        QList<int> sizes;
        for (int i = before; i < chip.inPackets().size(); ++i) {
            reply += chip.inPackets()[i];
            sizes << int(chip.inPackets()[i].size());
        }
        o.replies << reply;
        o.packetSizes << sizes;
    }
    chip.releaseHeldStep();
    bench.finish(o);
    o.portAOutputs = chip.portAOutputs();
    return o;
}

Outcome runReference(const Transactions &transactions, const Setup &setup) {
    Outcome o;
    Bench bench(setup);
    ReferenceCore core(bench.bus);
    core.startUp(setup.highSpeed);
    core.setPortAInputs(setup.portA);
    core.setPortALatch(0); // as the chip powers up; the firmware never writes it
    for (const Transaction &t : transactions) {
        if (t.startsQuiet())
            core.releaseHeldStep();
        bench.before(t);
        for (const QByteArray &p : packetsOf(t))
            core.receiveOut(ReferenceCore::TransactionEndpoint, p);
        QByteArray reply;
        QList<int> sizes;
        while (core.hasIn(ReferenceCore::ReplyEndpoint)) {
            const QByteArray p = core.takeIn(ReferenceCore::ReplyEndpoint);
            reply += p;
            sizes << int(p.size());
        }
        o.replies << reply;
        o.packetSizes << sizes;
    }
    core.releaseHeldStep();
    bench.finish(o);
    o.portAOutputs = core.portAOutputEnable();
    return o;
}

namespace {

constexpr uint8_t OutEndpoint = 0x04, InEndpoint = 0x88;
// Emulated time the chip gets for anything before it counts as stuck: well
// past the longest wait a test stream holds and the host's reply time-out.
constexpr int64_t StuckNs = 30'000'000'000;
constexpr int64_t ReplyTimeoutNs = 10'000'000'000;
constexpr int64_t SliceNs = 10'000'000;

void noteCycles(Fx2Chip &chip, Outcome &o) {
    const EmulatedCore::Statistics s = chip.emulatedCore()->statistics();
    o.cycles << QStringLiteral("%1/%2").arg(s.clocks).arg(s.instructions);
}

void takeIn(Fx2Chip &chip, QByteArray &reply, QList<int> &sizes, Outcome &o) {
    const QByteArray p = chip.takeIn(InEndpoint);
    reply += p;
    sizes << int(p.size());
    noteCycles(chip, o);
}

QByteArray shippedImage() {
    QFile file(QStringLiteral(BRANTLE_FIRMWARE_IMAGE));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs the chip until the firmware idles (its polling loop repeats exactly,
// so the chip skips ahead); what it still sends was not asked for and is
// added to the last reply.
void idle(Fx2Chip &chip, Outcome &o) {
    EmulatedCore *core = chip.emulatedCore();
    const int64_t giveUp = chip.nowNs() + StuckNs;
    for (;;) {
        const uint64_t skippedBefore = core->statistics().skippedClocks;
        chip.runUntil(chip.nowNs() + SliceNs, [&] { return chip.hasIn(InEndpoint); });
        if (chip.hasIn(InEndpoint)) {
            QByteArray stray;
            QList<int> sizes;
            takeIn(chip, stray, sizes, o);
            if (!o.replies.isEmpty()) {
                o.replies.last() += stray;
                o.packetSizes.last() += sizes;
            }
        } else if (core->statistics().skippedClocks > skippedBefore) {
            return;
        } else if (chip.nowNs() >= giveUp) {
            o.stuck = true;
            return;
        }
    }
}

} // namespace

Outcome runEmulated(const Transactions &transactions, const Setup &setup) {
    static const QByteArray image = shippedImage();
    Outcome o;
    Fx2Chip chip;
    Bench bench(setup, &chip.bus());
    chip.setHighSpeed(setup.highSpeed);
    chip.powerOn();
    chip.setPortAInputs(setup.portA);
    chip.setAdapterFirmware(image);
    EmulatedCore *core = chip.emulatedCore();
    core->setSkipPolling(setup.skipPolling);
    chip.bootWithFirmware();
    for (const Transaction &t : transactions) {
        // The host would not wait when it asked no reply; here the chip idles.
        if (t.startsQuiet())
            idle(chip, o);
        chip.runUntil(chip.nowNs() + t.idleNs);
        bench.before(t, false);
        // As the host does it: every OUT packet first, then the reply.
        bool stuck = false;
        for (const QByteArray &p : packetsOf(t)) {
            if (!chip.runUntil(chip.nowNs() + StuckNs,
                               [&] { return chip.acceptsOut(OutEndpoint); })) {
                stuck = true;
                break;
            }
            chip.receiveOut(OutEndpoint, p);
            noteCycles(chip, o);
        }
        // As the host does: wait for the reply it asked for (with the host's
        // time-out), then go on at once.
        QByteArray reply;
        QList<int> sizes;
        while (!stuck && reply.size() < t.reply) {
            if (!chip.runUntil(chip.nowNs() + ReplyTimeoutNs,
                               [&] { return chip.hasIn(InEndpoint); }))
                stuck = true;
            else
                takeIn(chip, reply, sizes, o);
        }
        if (stuck)
            o.stuck = true;
        o.replies << reply;
        o.packetSizes << sizes;
    }
    idle(chip, o);
    noteCycles(chip, o);
    bench.finish(o);
    o.pollSkips = core->statistics().pollSkips;
    o.portAOutputs = core->peripherals().portAOutputEnable();
    o.clean = core->fault() == mcs51::Fault::None &&
              core->peripherals().unknownAccessCount() == 0 &&
              core->cpu().unknownSfrAccesses() == 0;
    return o;
}

namespace {
QString hexText(const QByteArray &bytes, int limit = 48) {
    QString text = QString::fromLatin1(bytes.left(limit).toHex(' ').toUpper());
    if (bytes.size() > limit)
        text += QStringLiteral(" ... (%1 bytes)").arg(bytes.size());
    return text;
}

// The first event whose own duration differs, with both durations.
QString firstDurationDifference(const Outcome &a, const Outcome &b) {
    int i = 0;
    while (i < a.durations.size() && i < b.durations.size() && a.durations[i] == b.durations[i])
        ++i;
    const QStringList names = QString(a.events)
                                  .remove(QRegularExpression(QStringLiteral("STALL ?")))
                                  .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return QStringLiteral("%1, event %2: %3 ns against %4 ns")
        .arg(names.value(i))
        .arg(i)
        .arg(a.durations.value(i, -1))
        .arg(b.durations.value(i, -1));
}
} // namespace

QString Outcome::describe() const {
    QStringList replyTexts;
    for (const QByteArray &r : replies)
        replyTexts << QLatin1Char('[') + hexText(r) + QLatin1Char(']');
    return QStringLiteral("replies %1\n  bus %2")
        .arg(replyTexts.join(QLatin1Char(' ')), timedEvents.left(2000));
}

QString compareOutcomes(const Outcome &firmware, const Outcome &reference, bool timing) {
    QStringList diffs;
    for (const Outcome *o : {&firmware, &reference}) {
        if (o->stuck)
            diffs << QStringLiteral("%1 stuck").arg(o == &firmware ? "firmware" : "reference");
        if (!o->clean)
            diffs << QStringLiteral("%1 faulted or touched an unknown register")
                         .arg(o == &firmware ? "firmware" : "reference");
    }
    if (firmware.replies != reference.replies)
        diffs << QStringLiteral("replies");
    if (firmware.packetSizes != reference.packetSizes)
        diffs << QStringLiteral("reply packets");
    // STALL marks where a controller model stopped waiting for SCL; the
    // chip's controller never stops (the firmware's time-out is not on the
    // bus), so without timing it is left out.
    static const QRegularExpression stall(QStringLiteral("STALL ?"));
    const auto events = [&](const Outcome &o) {
        return timing ? o.events : QString(o.events).remove(stall).trimmed();
    };
    if (events(firmware) != events(reference))
        diffs << QStringLiteral("bus events");
    else if (firmware.durations.mid(0, reference.durations.size()) !=
             reference.durations.mid(0, firmware.durations.size()))
        diffs << QStringLiteral("bus clock (the duration of %1)")
                     .arg(firstDurationDifference(firmware, reference));
    else if (timing && firmware.timedEvents != reference.timedEvents)
        diffs << QStringLiteral("bus timing");
    if (timing && firmware.busNs != reference.busNs)
        diffs << QStringLiteral("final bus time");
    if (firmware.eeprom != reference.eeprom) {
        int at = 0;
        while (firmware.eeprom[at] == reference.eeprom[at])
            ++at;
        diffs << QStringLiteral("EEPROM from 0x%1").arg(at, 4, 16, QLatin1Char('0'));
    }
    if (firmware.sensorRegisters != reference.sensorRegisters)
        diffs << QStringLiteral("sensor registers");
    if (firmware.portAOutputs != reference.portAOutputs)
        diffs << QStringLiteral("port A outputs");
    if (diffs.isEmpty())
        return QString();
    return QStringLiteral("differ in %1\nfirmware:  %2\nreference: %3")
        .arg(diffs.join(QStringLiteral(", ")), firmware.describe(), reference.describe());
}
