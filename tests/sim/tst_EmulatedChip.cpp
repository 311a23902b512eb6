// The firmware image the program carries, running on the emulated FX2 behind
// the simulated USB host: what the adapter answers is what that image does.

#include "Eeprom24.h"
#include "EmulatedCore.h"
#include "SimTestUtil.h"
#include "SimUsbStack.h"
#include "StackExchange.h"
#include "TemperatureSensor.h"

#include <QtTest>

namespace {

// The firmware as it once was, with its auto-pointer data registers at SFR
// addresses the chip does not have (built beside the tests).
QByteArray oldAutoPointerImage() {
    QFile file(QStringLiteral(BRANTLE_OLD_AUTOPOINTER_IMAGE));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A bench adapter on a stack, downloaded by the host as the program does it
// and given its start-up time.
struct Bench {
    explicit Bench(bool reference = false, bool highSpeed = true) {
        chip = std::make_shared<Fx2Chip>();
        if (reference)
            chip->setCore(std::make_unique<ReferenceCore>(chip->bus()));
        chip->setHighSpeed(highSpeed);
        eeprom = std::make_shared<Eeprom24>();
        chip->bus().attach(eeprom);
        chip->bus().attach(std::make_shared<TemperatureSensor>());
        chip->setAdapterFirmware(shippedFirmwareImage());
        session = stack.open(stack.plug(chip));
    }
    bool start(const QByteArray &image = shippedFirmwareImage(), bool graceTime = true) {
        if (!download(stack, session, image))
            return false;
        if (graceTime)
            stack.advanceTime(Fx2Chip::StartUpNs);
        return true;
    }
    // Nothing the model does not implement was touched, and the CPU did not
    // stop on a fault.
    void checkClean() {
        EmulatedCore *core = chip->emulatedCore();
        QVERIFY(core);
        QCOMPARE(core->peripherals().unknownAccessCount(), 0);
        QCOMPARE(core->cpu().unknownSfrAccesses(), uint64_t(0));
        QCOMPARE(core->fault(), mcs51::Fault::None);
    }

    SimUsbStack stack;
    std::shared_ptr<Fx2Chip> chip;
    std::shared_ptr<Eeprom24> eeprom;
    UsbStack::SessionId session = -1;
};

} // namespace

class TestEmulatedChip : public QObject {
    Q_OBJECT

private slots:
    void downloadOnAFreshChipThenInquiry() {
        Bench bench;
        uint8_t answer = 0;
        QVERIFY(bench.chip->cpuHeld());
        QVERIFY(bench.start());
        QVERIFY(bench.chip->running());
        QCOMPARE(bench.chip->ram(), shippedFirmwareImage());
        const int64_t before = bench.stack.nowNs();
        QCOMPARE(inquire(bench.stack, bench.session, &answer).bytes, 1);
        QCOMPARE(answer, uint8_t(WIRE_INQUIRY_ANSWER));
        // The firmware answers from its main loop: microseconds, not nothing.
        const int64_t spent = bench.stack.nowNs() - before;
        QVERIFY2(spent > 0 && spent < 1000000, qPrintable(QString::number(spent)));
        bench.checkClean();
    }

    // An image that copies nothing through its auto-pointers downloads and
    // answers the inquiry (that path does not use them), but never sees the
    // stream it is sent: the reply runs into the host's 10 s time-out and
    // nothing reaches the bus. The image we ship, on the same bench, answers.
    void autoPointerAddressesMatter_data() {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<bool>("answers");
        QTest::newRow("shipped image") << shippedFirmwareImage() << true;
        QTest::newRow("auto-pointer data at SFRs 0x9C/0x9F") << oldAutoPointerImage() << false;
    }
    void autoPointerAddressesMatter() {
        QFETCH(QByteArray, image);
        QFETCH(bool, answers);
        QCOMPARE(image.size(), int(WIRE_FIRMWARE_IMAGE_SIZE));
        Bench bench;
        QVERIFY(bench.start(image));
        QCOMPARE(bench.chip->ram(), image);
        uint8_t answer = 0;
        QCOMPARE(inquire(bench.stack, bench.session, &answer).bytes, 1);
        QCOMPARE(answer, uint8_t(WIRE_INQUIRY_ANSWER));

        const int64_t before = bench.stack.nowNs();
        const Exchange e = transact(bench.stack, bench.session, hex(WorkedStream), 3);
        // The host's OUT transfers go through either way: the chip's buffers
        // take them.
        QCOMPARE(e.header.result.status, UsbTransferStatus::Completed);
        QCOMPARE(e.stream.result.status, UsbTransferStatus::Completed);
        if (answers) {
            QCOMPARE(e.reply.result.status, UsbTransferStatus::Completed);
            QCOMPARE(hexText(e.reply.data), QString("00 01 00"));
            QCOMPARE(bench.chip->bus().eventsText(), QString("S A2+ 00+ 00+ Sr A3+ r00+ r01- P"));
            QVERIFY(bench.stack.nowNs() - before < 10 * NsPerMs);
            bench.checkClean();
        } else {
            QCOMPARE(e.reply.result.status, UsbTransferStatus::Cancelled);
            QCOMPARE(e.reply.result.bytes, 0);
            QVERIFY(bench.stack.nowNs() - before >= TimeoutMs * NsPerMs);
            QCOMPARE(bench.chip->bus().eventsText(), QString());
            // Long after the host gave up, still nothing.
            bench.stack.advanceTime(1000 * NsPerMs);
            QVERIFY(!bench.chip->hasIn(0x88));
            QVERIFY(bench.chip->bus().events().isEmpty());
            // What the model saw: the CPU reaching for SFRs the chip lacks.
            QStringList reached;
            for (const auto &access : bench.chip->emulatedCore()->peripherals().unknownAccesses())
                if (access.sfr)
                    reached << QString::number(access.address, 16);
            reached.removeDuplicates();
            reached.sort();
            QCOMPARE(reached.join(QLatin1Char(' ')), QString("9c 9f"));
        }
    }

    // The host may talk to the firmware the moment it released the CPU: what
    // it sends before the firmware is ready waits (the chip NAKs it), and
    // nothing is lost. First the inquiry or first a transaction, each at
    // both speeds.
    void noGraceTimeAfterDownload_data() {
        QTest::addColumn<bool>("inquiryFirst");
        QTest::addColumn<bool>("highSpeed");
        QTest::newRow("inquiry, high speed") << true << true;
        QTest::newRow("inquiry, full speed") << true << false;
        QTest::newRow("transaction, high speed") << false << true;
        QTest::newRow("transaction, full speed") << false << false;
    }
    void noGraceTimeAfterDownload() {
        QFETCH(bool, inquiryFirst);
        QFETCH(bool, highSpeed);
        Bench bench(false, highSpeed);
        QVERIFY(bench.start(shippedFirmwareImage(), false));
        const int64_t released = bench.stack.nowNs();
        for (int round = 0; round < 2; ++round) {
            if (inquiryFirst == (round == 0)) {
                uint8_t answer = 0;
                const UsbTransferResult r = inquire(bench.stack, bench.session, &answer);
                QCOMPARE(r.status, UsbTransferStatus::Completed);
                QCOMPARE(r.bytes, 1);
                QCOMPARE(answer, uint8_t(WIRE_INQUIRY_ANSWER));
            } else {
                const Exchange e = transact(bench.stack, bench.session, hex(WorkedStream), 3);
                QCOMPARE(e.header.result.status, UsbTransferStatus::Completed);
                QCOMPARE(e.stream.result.status, UsbTransferStatus::Completed);
                QCOMPARE(e.reply.result.status, UsbTransferStatus::Completed);
                QCOMPARE(hexText(e.reply.data), QString("00 01 00"));
                QCOMPARE(bench.chip->bus().eventsText(),
                         QString("S A2+ 00+ 00+ Sr A3+ r00+ r01- P"));
            }
        }
        // All of it well within the time the chip takes to start up and serve.
        QVERIFY(bench.stack.nowNs() - released < 10 * NsPerMs);
        bench.checkClean();
    }

    // Transactions of the script grammar, answered by the image and, for
    // comparison, by the reference model on an identical bench.
    void transactions_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("events");
        QTest::newRow("the worked example") << hex(WorkedStream) << "00 01 00"
                                            << "S A2+ 00+ 00+ Sr A3+ r00+ r01- P";
        QTest::newRow("absent address: NoAck")
            << hex("00 01 00 12 00 13 A0 00 00 00 13 A1 FF FF 00 14") << "FF FF 40"
            << "S A0- 00- Sr A1- rFF+ rFF- P";
        // Nothing after the refused address is refused in its turn: NoAck
        // can only come from the address.
        QTest::newRow("absent write address alone") << hex("00 01 00 12 00 13 A0 00 14") << "40"
                                                    << "S A0- P";
        QTest::newRow("absent read address alone")
            << hex("00 01 00 12 00 13 A1 FF 00 14") << "FF 40"
            << "S A1- rFF- P";
        QTest::newRow("sensor temperature")
            << hex("00 01 00 12 00 13 90 00 00 00 13 91 FF FF 00 14") << "19 00 00"
            << "S 90+ 00+ Sr 91+ r19+ r00- P";
        QTest::newRow("EEPROM: one byte read")
            << hex("00 01 00 12 00 13 A2 01 23 00 13 A3 FF 00 14") << "23 00"
            << "S A2+ 01+ 23+ Sr A3+ r23- P";
        QTest::newRow("EEPROM: eight bytes across a page")
            << hex("00 01 00 12 00 13 A2 00 00 1C 00 13 A3 FF FF FF FF FF FF FF FF 00 14")
            << "1C 1D 1E 1F 20 21 22 23 00"
            << "S A2+ 00+ 1C+ Sr A3+ r1C+ r1D+ r1E+ r1F+ r20+ r21+ r22+ r23- P";
        QTest::newRow("write without reads")
            << hex("00 01 00 12 00 13 A2 00 00 10 55 00 14") << "00"
            << "S A2+ 00+ 10+ 55+ P";
        QTest::newRow("escaped zero byte") << hex("00 01 00 12 00 13 A2 00 00 00 00 00 14") << "00"
                                           << "S A2+ 00+ 00+ P";
    }
    void transactions() {
        QFETCH(QByteArray, stream);
        QFETCH(QString, reply);
        QFETCH(QString, events);
        for (const bool reference : {false, true}) {
            Bench bench(reference);
            QVERIFY(bench.start());
            const int count = int(reply.split(' ').size());
            const Exchange e = transact(bench.stack, bench.session, stream, count);
            QCOMPARE(e.reply.result.status, UsbTransferStatus::Completed);
            QCOMPARE(hexText(e.reply.data), reply);
            QCOMPARE(bench.chip->bus().eventsText(), events);
            if (!reference)
                bench.checkClean();
        }
    }

    // A reply of several packets at full speed (64 bytes each) and one at
    // high speed, with the firmware choosing by the chip's speed flag.
    void longReadAtBothSpeeds_data() {
        QTest::addColumn<bool>("highSpeed");
        QTest::newRow("high speed") << true;
        QTest::newRow("full speed") << false;
    }
    void longReadAtBothSpeeds() {
        QFETCH(bool, highSpeed);
        Bench bench(false, highSpeed);
        QVERIFY(bench.start());
        const QByteArray stream = hex("00 01 00 12 00 13 A2 01 00 00 00 13 A3") +
                                  QByteArray(600, char(0xFF)) + hex("00 14");
        const Exchange e = transact(bench.stack, bench.session, stream, 601);
        QCOMPARE(e.reply.result.bytes, 601);
        for (int i = 0; i < 600; ++i)
            QCOMPARE(uint8_t(e.reply.data[i]), uint8_t(i));
        QCOMPARE(uint8_t(e.reply.data[600]), uint8_t(0));
        bench.checkClean();
    }

    // The image keeps the bus busy through a long transfer: from the first
    // START to the end of the last STOP the bus carries its bytes with at
    // most 5 % of idle time between them, 4 KiB written to or read from the
    // EEPROM in one transaction, at either clock rate.
    void busOccupancy_data() {
        QTest::addColumn<bool>("read");
        QTest::addColumn<int>("kHz");
        QTest::newRow("4 KiB write at 400 kHz") << false << 400;
        QTest::newRow("4 KiB read at 400 kHz") << true << 400;
        QTest::newRow("4 KiB write at 100 kHz") << false << 100;
        QTest::newRow("4 KiB read at 100 kHz") << true << 100;
    }
    void busOccupancy() {
        QFETCH(bool, read);
        QFETCH(int, kHz);
        constexpr int Size = 4096;
        Bench bench;
        bench.chip->bus().setEventCapacity(2 * Size);
        QVERIFY(bench.start());
        // From EEPROM address 0x0101; written bytes carry no zero, so that
        // none needs its escape.
        QByteArray stream = hex(kHz == 400 ? "00 01 00 12" : "00 01 00 11") + hex("00 13 A2 01 01");
        if (read) {
            stream += hex("00 13 A3") + QByteArray(Size, char(0xFF));
        } else {
            for (int i = 0; i < Size; ++i)
                stream += char(1 + i % 255);
        }
        stream += hex("00 14");
        const int replyCount = read ? Size + 1 : 1;
        const Exchange e = transact(bench.stack, bench.session, stream, replyCount);
        QCOMPARE(e.reply.result.status, UsbTransferStatus::Completed);
        QCOMPARE(e.reply.result.bytes, replyCount);
        QCOMPARE(uint8_t(e.reply.data.back()), uint8_t(0));
        if (read)
            QCOMPARE(e.reply.data.left(Size), bench.eeprom->memory().mid(0x0101, Size));

        I2cBus &bus = bench.chip->bus();
        QCOMPARE(bus.bitTimeNs(), 1'000'000LL / kHz);
        const I2cBusOccupancy o = I2cBusOccupancy::of(bus.events(), bus.bitTimeNs());
        // Address byte and two EEPROM address bytes, then the data (with the
        // read's own address byte after its repeated START).
        QCOMPARE(o.bytes, Size + 3 + (read ? 1 : 0));
        QCOMPARE(o.conditions, read ? 3 : 2);
        QCOMPARE(bus.events().first().kind, I2cEvent::Start);
        QCOMPARE(bus.events().last().kind, I2cEvent::Stop);
        const QString figures = QStringLiteral("%1 %2 kHz: %3 % busy, %4 us idle per byte")
                                    .arg(read ? "read" : "write")
                                    .arg(kHz)
                                    .arg(o.ratio() * 100, 0, 'f', 2)
                                    .arg(o.idleNsPerByte() / 1000, 0, 'f', 3);
        qInfo("%s", qPrintable(figures));
        QVERIFY2(o.ratio() >= 0.95, qPrintable(figures));
        bench.checkClean();
    }

    // A wait pauses the bus for its time, in virtual time; a reply that
    // comes later than the host waits is lost to that transfer.
    void waitsTakeTheirTime_data() {
        QTest::addColumn<int>("units"); // of 20 us
        QTest::addColumn<int>("replyTimeoutMs");
        QTest::addColumn<bool>("answered");
        QTest::newRow("5 ms") << 250 << 10000 << true;
        QTest::newRow("500 ms") << 25000 << 10000 << true;
        QTest::newRow("1.2 s against a 1 s wait") << 60000 << 1000 << false;
    }
    void waitsTakeTheirTime() {
        QFETCH(int, units);
        QFETCH(int, replyTimeoutMs);
        QFETCH(bool, answered);
        Bench bench;
        QVERIFY(bench.start());
        QByteArray stream = hex("00 01 00 12 00 13 A2 00 00 00 14 00 30 04 01");
        stream += char(units & 0xFF);
        stream += char(units >> 8);
        stream += hex("00 13 A2 00 00 00 14");
        const int64_t before = bench.stack.nowNs();
        const Exchange e = transact(bench.stack, bench.session, stream, 1, replyTimeoutMs);
        const int64_t waitNs = int64_t(units) * WIRE_WAIT_UNIT_US * 1000;
        if (!answered) {
            QCOMPARE(e.reply.result.status, UsbTransferStatus::Cancelled);
            QCOMPARE(bench.stack.nowNs() - before, replyTimeoutMs * NsPerMs);
            // The firmware goes on and commits the reply later.
            bench.stack.advanceTime(waitNs);
            QVERIFY(bench.chip->hasIn(0x88));
            return;
        }
        QCOMPARE(hexText(e.reply.data), QString("00"));
        // The gap on the bus between the STOP and the next START.
        const auto &events = bench.chip->bus().events();
        QCOMPARE(bench.chip->bus().eventsText(), QString("S A2+ 00+ P S A2+ 00+ P"));
        const int64_t gap = events[4].atNs - events[3].atNs;
        QVERIFY2(gap >= waitNs && gap < waitNs + 200000, qPrintable(QString::number(gap)));
        QVERIFY(bench.stack.nowNs() - before >= waitNs);
        bench.checkClean();
    }

    // A slave holding SCL low: the controller never finishes the byte, the
    // firmware gives up after its 25 ms and reports the error in the status.
    void clockHeldLow() {
        Bench bench;
        QVERIFY(bench.start());
        bench.chip->bus().holdSclLow();
        const int64_t before = bench.stack.nowNs();
        const Exchange e = transact(bench.stack, bench.session, hex(WorkedStream), 3);
        QCOMPARE(e.reply.result.status, UsbTransferStatus::Completed);
        QCOMPARE(uint8_t(e.reply.data[2]) & WIRE_STATUS_FIRMWARE_ERROR, WIRE_STATUS_FIRMWARE_ERROR);
        QVERIFY(bench.stack.nowNs() - before >= 25 * NsPerMs);
        QVERIFY(bench.chip->bus().events().isEmpty());
        bench.checkClean();
    }

    // A slave holds SCL low across two transactions. The first gives up
    // after the firmware's 25 ms and leaves its address byte waiting in the
    // controller; that byte goes out once SCL is free. The second, sent at
    // once, must not lose its own address to that byte (a data byte would
    // go out as the address): it waits for the controller, frees the bus and
    // is served, or, if SCL stays held beyond its own time-out, reports the
    // error and puts nothing on the bus. A third, once SCL is free, is
    // served as usual. The bus stays owned after the byte left over, so the
    // next START is a repeated one (which also drops any write a slave had
    // begun).
    void transactionAfterSclHeld_data() {
        QTest::addColumn<qint64>("holdNs");
        QTest::addColumn<QString>("secondReply");
        // The first one's address, then only whole transactions.
        QTest::addColumn<QString>("events");
        const QString served = "A2+ 00+ 00+ Sr A3+ r00+ r01- P";
        QTest::newRow("released during the second") << qint64(30 * NsPerMs) << "00 01 00"
                                                    << "S A2+ Sr " + served + " S " + served;
        QTest::newRow("held beyond the second") << qint64(80 * NsPerMs) << "FF FF 80"
                                                << "S A2+ Sr " + served;
    }
    void transactionAfterSclHeld() {
        QFETCH(qint64, holdNs);
        QFETCH(QString, secondReply);
        QFETCH(QString, events);
        Bench bench;
        QVERIFY(bench.start());
        bench.chip->bus().holdSclLow(holdNs);
        const Exchange first = transact(bench.stack, bench.session, hex(WorkedStream), 3);
        QCOMPARE(hexText(first.reply.data), QString("FF FF 80"));
        const Exchange second = transact(bench.stack, bench.session, hex(WorkedStream), 3);
        QCOMPARE(hexText(second.reply.data), secondReply);
        bench.stack.advanceTime(holdNs);
        const Exchange third = transact(bench.stack, bench.session, hex(WorkedStream), 3);
        QCOMPARE(hexText(third.reply.data), QString("00 01 00"));
        QCOMPARE(bench.chip->bus().eventsText(), events);
        QCOMPARE(bench.chip->emulatedCore()->peripherals().i2c().diagnostics().accessWhileBusy, 0);
        bench.checkClean();
    }

    // The host suspends the bus while the firmware works on a transaction
    // (here during a 10 ms wait in the stream). The firmware finishes it and
    // answers; once the bus has resumed it serves the next transaction,
    // whether the resume came while it was still at work or after.
    void suspendWhileBusy_data() {
        QTest::addColumn<int>("suspendAfterUs");
        QTest::addColumn<int>("resumeAfterUs"); // from the suspend
        QTest::newRow("suspended and resumed within the wait") << 1000 << 2000;
        QTest::newRow("resumed just before the wait ends") << 200 << 9500;
        QTest::newRow("resumed after the transaction") << 1000 << 30000;
    }
    void suspendWhileBusy() {
        QFETCH(int, suspendAfterUs);
        QFETCH(int, resumeAfterUs);
        Bench bench;
        QVERIFY(bench.start());
        const QByteArray framed = ReferenceCore::frame(
            hex("00 01 00 13 A2 00 00 00 14 00 30 04 01 F4 01 00 13 A2 00 00 00 14"), 1);
        QCOMPARE(bulk(bench.stack, bench.session, 0x04, framed).result.status,
                 UsbTransferStatus::Completed);
        bench.stack.advanceTime(suspendAfterUs * 1000);
        bench.chip->busSuspend();
        bench.stack.advanceTime(resumeAfterUs * 1000);
        bench.chip->busResume();
        bench.stack.advanceTime(10 * NsPerMs); // the host's resume recovery
        const Step reply = bulk(bench.stack, bench.session, 0x88, QByteArray(1, '\0'));
        QCOMPARE(hexText(reply.data), QString("00"));
        const Exchange next = transact(bench.stack, bench.session, hex(WorkedStream), 3);
        QCOMPARE(next.reply.result.status, UsbTransferStatus::Completed);
        QCOMPARE(hexText(next.reply.data), QString("00 01 00"));
        bench.checkClean();
    }

    // A bus error on one byte: it is reported (0x80) and the rest of the
    // transaction carried out. Whatever I2CS shows of the error while the
    // next byte is in flight, the firmware must wait for that byte's DONE
    // and never write to the controller under it, or the byte is lost.
    void busErrorOnOneByte_data() {
        QTest::addColumn<int>("nth"); // byte operation on the bus, from 1
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("events");
        QTest::newRow("address") << 1 << "00 01 C0"
                                 << "S BERR 00- 00- Sr A3+ r00+ r01- P";
        QTest::newRow("first data byte") << 2 << "00 01 80"
                                         << "S A2+ BERR 00+ Sr A3+ r00+ r01- P";
        QTest::newRow("first read") << 5 << "FF 00 80"
                                    << "S A2+ 00+ 00+ Sr A3+ BERR r00- P";
    }
    void busErrorOnOneByte() {
        QFETCH(int, nth);
        QFETCH(QString, reply);
        QFETCH(QString, events);
        Bench bench;
        QVERIFY(bench.start());
        bench.chip->bus().injectBusError(nth);
        const Exchange e = transact(bench.stack, bench.session, hex(WorkedStream), 3);
        QCOMPARE(hexText(e.reply.data), reply);
        QCOMPARE(bench.chip->bus().eventsText(), events);
        QCOMPARE(bench.chip->emulatedCore()->peripherals().i2c().diagnostics().accessWhileBusy, 0);
        const Exchange next = transact(bench.stack, bench.session, hex(WorkedStream), 3);
        QCOMPARE(hexText(next.reply.data), QString("00 01 00"));
        bench.checkClean();
    }

    // Suspend: the firmware idles its CPU (and may let the chip stop its
    // oscillator) until the bus resumes, then serves the host again.
    void suspendAndResume() {
        Bench bench;
        QVERIFY(bench.start());
        bench.chip->busSuspend();
        bench.stack.advanceTime(5 * NsPerMs);
        EmulatedCore *core = bench.chip->emulatedCore();
        QVERIFY(core->cpu().idle());
        bench.chip->busResume();
        bench.stack.advanceTime(NsPerMs);
        QVERIFY(!core->cpu().idle());
        const Exchange e = transact(bench.stack, bench.session, hex(WorkedStream), 3);
        QCOMPARE(hexText(e.reply.data), QString("00 01 00"));
        bench.checkClean();
    }

    // With SUSPEND written on a suspended bus the chip stops its oscillator
    // once the CPU idles: the timers stand still until the bus resumes. Idle
    // alone keeps them counting.
    void suspendStopsTheOscillator_data() {
        QTest::addColumn<bool>("writeSuspend");
        QTest::newRow("SUSPEND, then idle") << true;
        QTest::newRow("idle only") << false;
    }
    void suspendStopsTheOscillator() {
        QFETCH(bool, writeSuspend);
        // Timer 0 in mode 2 from 0, SUSPEND written (or not), PCON.0 set.
        const QByteArray program = hex("75 89 02 75 8A 00 75 8C 00 D2 8C 90 E6 81") +
                                   hex(writeSuspend ? "F0" : "00") + hex("43 87 01 80 FE");
        I2cBus bus;
        std::array<uint8_t, Fx2Chip::RamSize> ram{};
        std::array<uint8_t, Fx2Chip::ScratchSize> scratch{};
        std::copy(program.begin(), program.end(), ram.begin());
        EmulatedCore core(bus, ram.data(), scratch.data());
        core.powerOn(true);
        core.usbEvent(Fx2Core::UsbEvent::Suspend);
        core.startUp(true);
        auto timerAt = [&core](int64_t ns) {
            core.runUntil(ns);
            return core.cpu().sfr(0x8A);
        };
        const uint8_t first = timerAt(1'000'000);
        QVERIFY(core.cpu().idle());
        QCOMPARE(core.peripherals().cpuSuspended(), writeSuspend);
        const uint8_t second = timerAt(2'000'000);
        QCOMPARE(core.nowNs(), qint64(2'000'000));
        QCOMPARE(first == second, writeSuspend);
        core.usbEvent(Fx2Core::UsbEvent::Resume);
        QVERIFY(core.cpu().sfr(0xD8) & 0x10); // EICON.RESI
        QVERIFY(timerAt(2'100'000) != second);
    }

    // Quiet stretches are fast-forwarded; the result is the same as running
    // every cycle: replies, bus events with their times, the clock and the
    // CPU's state.
    void fastForwardChangesNothing() {
        QStringList outcomes;
        QList<EmulatedCore::Statistics> statistics;
        for (const bool fast : {true, false}) {
            Bench bench;
            bench.chip->emulatedCore()->setFastForward(fast);
            QVERIFY(bench.start());
            QStringList got;
            for (int round = 0; round < 2; ++round) {
                bench.stack.advanceTime(300 * NsPerMs);
                const Exchange e = transact(
                    bench.stack, bench.session,
                    hex("00 01 00 12 00 13 A2 00 00 40 00 13 A3 FF FF 00 30 04 01 10 27 00 13 A3 "
                        "FF 00 14"),
                    4);
                got << hexText(e.reply.data);
            }
            bench.stack.advanceTime(200 * NsPerMs);
            QStringList times;
            for (const I2cEvent &event : bench.chip->bus().events())
                times << event.toString() + "@" + QString::number(event.atNs);
            EmulatedCore *core = bench.chip->emulatedCore();
            QString iram;
            for (int a = 0; a < 256; ++a)
                iram += QString::number(core->cpu().iram(uint8_t(a)), 16);
            outcomes << got.join('|') + "\n" + times.join(' ') + "\n" +
                            QString::number(bench.stack.nowNs()) + " " +
                            QString::number(bench.chip->nowNs()) + " pc " +
                            QString::number(core->cpu().pc(), 16) + " " + iram;
            statistics << core->statistics();
        }
        QCOMPARE(outcomes[0], outcomes[1]);
        QVERIFY(statistics[0].fastForwards > 0);
        QCOMPARE(statistics[1].fastForwards, 0);
        // Only the waits inside the transactions, which observe a timer, run
        // cycle by cycle in both.
        QVERIFY2(statistics[0].instructions * 2 < statistics[1].instructions,
                 qPrintable(QStringLiteral("%1 vs %2")
                                .arg(statistics[0].instructions)
                                .arg(statistics[1].instructions)));
    }
};

int runEmulatedChipTests(int argc, char **argv) {
    TestEmulatedChip test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_EmulatedChip.moc"
