#include "Differential.h"

#include "Eeprom24.h"
#include "FakeFx2.h"
#include "I2cBus.h"
#include "ReferenceCore.h"
#include "ScriptedBus.h"
#include "SimBusSide.h"
#include "TemperatureSensor.h"

#include "adapter_wire.h"
#include "transaction.h"

#include <QStringList>

#include <memory>

namespace {

// One side's own bus with the bench's slaves.
struct Bench {
    I2cBus bus;
    std::shared_ptr<Eeprom24> eeprom = std::make_shared<Eeprom24>();
    std::shared_ptr<TemperatureSensor> sensor = std::make_shared<TemperatureSensor>();

    Bench() {
        bus.attach(eeprom);
        bus.attach(sensor);
    }

    void before(const Transaction &t) {
        bus.elapse(t.idleNs);
        if (t.holdSclNs)
            bus.holdSclLow(t.holdSclNs);
        if (t.busErrorAt)
            bus.injectBusError(t.busErrorAt);
    }

    void finish(Outcome &o) const {
        QStringList timed;
        for (const I2cEvent &e : bus.events())
            timed << QStringLiteral("%1@%2").arg(e.toString()).arg(e.atNs);
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
    Bench bench;
    SimBusSide side(bench.bus);
    FakeFx2 chip(side);
    chip.setHighSpeed(setup.highSpeed);
    chip.setPortA(setup.portA);
    for (const Transaction &t : transactions) {
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
    bench.finish(o);
    o.portAOutputs = chip.portAOutputs();
    return o;
}

Outcome runReference(const Transactions &transactions, const Setup &setup) {
    Outcome o;
    Bench bench;
    ReferenceCore core(bench.bus);
    core.startUp(setup.highSpeed);
    core.setPortAInputs(setup.portA);
    core.setPortALatch(setup.portA);
    for (const Transaction &t : transactions) {
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
    bench.finish(o);
    o.portAOutputs = core.portAOutputEnable();
    return o;
}

namespace {
QString hexText(const QByteArray &bytes, int limit = 48) {
    QString text = QString::fromLatin1(bytes.left(limit).toHex(' ').toUpper());
    if (bytes.size() > limit)
        text += QStringLiteral(" ... (%1 bytes)").arg(bytes.size());
    return text;
}
} // namespace

QString Outcome::describe() const {
    QStringList replyTexts;
    for (const QByteArray &r : replies)
        replyTexts << QLatin1Char('[') + hexText(r) + QLatin1Char(']');
    return QStringLiteral("replies %1\n  bus %2")
        .arg(replyTexts.join(QLatin1Char(' ')), timedEvents.left(2000));
}

QString compareOutcomes(const Outcome &firmware, const Outcome &reference) {
    QStringList diffs;
    if (firmware.replies != reference.replies)
        diffs << QStringLiteral("replies");
    if (firmware.packetSizes != reference.packetSizes)
        diffs << QStringLiteral("reply packets");
    if (firmware.events != reference.events)
        diffs << QStringLiteral("bus events");
    else if (firmware.timedEvents != reference.timedEvents)
        diffs << QStringLiteral("bus timing");
    if (firmware.busNs != reference.busNs)
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
