// The window with Auto on against the simulated adapter for 20,000 sends,
// with faults injected at random and the adapter unplugged and plugged in at
// random moments. Every tick's outcome is on the indicator, nothing hangs,
// and memory stays flat once the transaction log holds all it keeps (its
// records grow up to that bound by design, which is not a leak).
//
// The auto-send timer's ticks are delivered as the timer event itself, at
// once, instead of every 500 ms; the real timer never gets to fire because
// the event loop is not run (queued device notifications are delivered with
// sendPostedEvents, which leaves timers alone).

#include "AdapterSession.h"
#include "Brantle.h"
#include "GenericUsbDriver.h"
#include "ResidentMemory.h"
#include "SimUsbStack.h"
#include "TransactionLog.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStatusBar>
#include <QTimerEvent>
#include <QtTest>

namespace {

using Kind = SimUsbStack::TransferKind;
using Action = SimUsbStack::FaultAction;

const QString goodScript = QStringLiteral("A2 00 00 , A3 FF FF ;");
const QString badScript = QStringLiteral("A2 00 0 ;");
// Nobody answers at 0x50, and nothing follows the address that could be
// refused in its turn: only the firmware and the chip's I2C controller
// reporting the refused address make this NoAck.
const QString absentScript = QStringLiteral("A0 ;");

} // namespace

class TestSoak : public QObject {
    Q_OBJECT
private slots:
    void autoSendThroughFaultsAndPlugging();
};

void TestSoak::autoSendThroughFaultsAndPlugging() {
    SimUsbStack sim;
    QString path;
    std::shared_ptr<Fx2Chip> chip = sim.plugBenchAdapter(AdapterSession::readFirmware(), &path);
    GenericUsbDriver driver(sim);
    Brantle window(driver);
    window.ui.textEditInput->setPlainText(goodScript);
    window.ui.pushButtonAutoSend->click();
    QVERIFY(window.ui.pushButtonAutoSend->isChecked());
    QVERIFY(window.autoTimerId != 0);

    QRandomGenerator random(0x50A6);
    bool plugged = true;
    qint64 warmKiB = 0;
    const int sends = soakLength(20000);
    // A shortened run measures from an earlier point; the log's growth until
    // then stays well inside the allowance.
    const int warmAt = sends > TransactionLog::defaultCapacity + 5000
                           ? TransactionLog::defaultCapacity
                           : qMin(1000, sends / 2);
    QElapsedTimer clock;
    clock.start();
    QMap<QString, int> outcomes;
    for (int i = 1; i <= sends; ++i) {
        // Between ticks: now and then the adapter goes, and soon comes back.
        if (plugged && random.bounded(50) == 0) {
            sim.unplug(path);
            plugged = false;
        } else if (!plugged && random.bounded(5) == 0) {
            path = sim.plug(chip);
            plugged = true;
        }
        QCoreApplication::sendPostedEvents();

        const bool badText = random.bounded(40) == 0;
        const int fault = int(random.bounded(10));
        const bool absent = !badText && fault == 0;
        window.ui.textEditInput->setPlainText(badText  ? badScript
                                              : absent ? absentScript
                                                       : goodScript);
        QString expected = QStringLiteral("OK.");
        if (badText) {
            expected = QStringLiteral("Parse Error");
        } else if (!plugged) {
            expected = QStringLiteral("Error");
        } else if (absent) {
            expected = QStringLiteral("NoAck");
        } else if (fault == 1) {
            sim.injectFault(Kind::BulkIn, 1, Action::ForceStatus, 0x80);
            expected = QStringLiteral("Error");
        } else if (fault == 2) {
            // A transfer every send makes, in any of the ways it can go wrong.
            const Kind kinds[] = {Kind::Control, Kind::BulkOut, Kind::BulkOut, Kind::BulkIn};
            const int which = int(random.bounded(4));
            const Action actions[] = {Action::Fail, Action::TimeOut, Action::Unplug,
                                      Action::ShortReply};
            const Action action = actions[random.bounded(kinds[which] == Kind::BulkIn ? 4 : 3)];
            sim.injectFault(kinds[which], which == 2 ? 2 : 1, action, 1);
            if (action == Action::Unplug)
                plugged = false;
            expected = QStringLiteral("Error");
        }

        QTimerEvent tick(window.autoTimerId);
        QCoreApplication::sendEvent(&window, &tick);

        const QString indicator = window.ui.labelInfo->text().section(u'\n', 1);
        QVERIFY2(indicator == expected,
                 qPrintable(QStringLiteral("send %1: %2, expected %3 (%4)")
                                .arg(i)
                                .arg(indicator, expected, window.statusBar()->currentMessage())));
        if (expected == QLatin1String("Error"))
            QVERIFY(window.statusBar()->currentMessage().startsWith(QLatin1String("Error: ")));
        if (expected == QLatin1String("OK."))
            QCOMPARE(window.ui.textEditResult->toPlainText(),
                     QStringLiteral("A2 00 00 , A3 00 01 ;"));
        ++outcomes[expected];

        sim.clearFaults();
        // The simulator records the traffic and the bus events for tests; that
        // record is not the window's memory.
        sim.clearLog();
        chip->bus().clearEvents();
        if (i == warmAt)
            warmKiB = residentKiB();
    }
    QCoreApplication::sendPostedEvents();
    const qint64 endKiB = residentKiB();
    qInfo("%d sends in %lld ms: %d OK, %d NoAck, %d Error, %d Parse Error; RSS %lld KiB after "
          "%d, %lld KiB after %d",
          sends, clock.elapsed(), outcomes.value(QStringLiteral("OK.")),
          outcomes.value(QStringLiteral("NoAck")), outcomes.value(QStringLiteral("Error")),
          outcomes.value(QStringLiteral("Parse Error")), warmKiB, warmAt, endKiB, sends);
    QVERIFY(warmKiB > 0);
    const qint64 allowedKiB = 2 * 1024 + SanitizerSlackKiB;
    QVERIFY2(endKiB - warmKiB < allowedKiB, "memory grew after the warm-up");
    // Auto send is still on: failures never end it.
    QVERIFY(window.ui.pushButtonAutoSend->isChecked());
    QVERIFY(window.autoTimerId != 0);
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
