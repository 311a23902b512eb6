// A simulated adapter that runs for good (brantle-sim with Auto on, or
// brantle-cli --repeat) must not grow: 100,000 sends, each an inquiry and a
// short transaction on the emulated chip, with the logs and the process's
// resident memory measured after a warm-up and at the end.

#include "EmulatedCore.h"
#include "ResidentMemory.h"
#include "SimTestUtil.h"
#include "SimUsbStack.h"
#include "StackExchange.h"

#include <QtTest>

namespace {

const int Sends = soakLength(100000);
constexpr int WarmUp = 5000;
constexpr qint64 AllowedGrowthKiB = 1024;

} // namespace

class TestSimMemory : public QObject {
    Q_OBJECT

private slots:
    void flatOverManySends() {
        SimUsbStack stack;
        QString path;
        std::shared_ptr<Fx2Chip> chip = stack.plugBenchAdapter(shippedFirmwareImage(), &path);
        const UsbStack::SessionId session = stack.open(path);
        QVERIFY(download(stack, session, shippedFirmwareImage()));
        stack.advanceTime(Fx2Chip::StartUpNs);
        // A probe of the EEPROM's address and the status byte.
        const QByteArray stream = hex("00 01 00 12 00 13 A2 00 14");
        qint64 afterWarmUp = 0;
        QElapsedTimer clock;
        clock.start();
        for (int i = 1; i <= Sends; ++i) {
            uint8_t answer = 0;
            QCOMPARE(inquire(stack, session, &answer).bytes, 1);
            const Exchange e = transact(stack, session, stream, 1);
            if (hexText(e.reply.data) != QLatin1String("00"))
                QFAIL(qPrintable(QStringLiteral("send %1: %2").arg(i).arg(hexText(e.reply.data))));
            if (i == WarmUp)
                afterWarmUp = residentKiB();
        }
        const qint64 atEnd = residentKiB();
        qInfo("%d sends in %lld ms (%llu emulated instructions); resident %lld KiB after %d, "
              "%lld KiB at the end; log %d entries, bus log %d events",
              Sends, clock.elapsed(),
              (unsigned long long)chip->emulatedCore()->statistics().instructions, afterWarmUp,
              WarmUp, atEnd, int(stack.log().size()), int(chip->bus().events().size()));
        QVERIFY(stack.log().size() <= 2 * SimUsbStack::DefaultLogCapacity);
        QVERIFY(chip->bus().events().size() <= 2 * I2cBus::DefaultEventCapacity);
        QCOMPARE(chip->emulatedCore()->peripherals().unknownAccessCount(), 0);
        QVERIFY(afterWarmUp > 0);
        QVERIFY2(atEnd - afterWarmUp < AllowedGrowthKiB + SanitizerSlackKiB,
                 qPrintable(QStringLiteral("grew by %1 KiB").arg(atEnd - afterWarmUp)));
    }
};

QTEST_GUILESS_MAIN(TestSimMemory)
#include "tst_SimMemory.moc"
