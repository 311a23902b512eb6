// Every transfer of the firmware download and of the transaction, made to
// fail, time out, come back short or lose the adapter: the window and the
// command-line tool each report the text the protocol raises for it, no
// transfer waits longer than its one time-out, and once the adapter has been
// plugged in again the next send works.

#include "AdapterSession.h"
#include "Brantle.h"
#include "ExitStatus.h"
#include "GenericUsbDriver.h"
#include "ScriptSender.h"
#include "ShortOutStack.h"
#include "SimUsbStack.h"

#include <QStatusBar>
#include <QtTest>

#include <memory>

namespace {

using Kind = SimUsbStack::TransferKind;
using Action = SimUsbStack::FaultAction;

const int64_t NsPerSecond = 1000000000;
const int64_t TimeOutNs = 10 * NsPerSecond;

// Reads two EEPROM bytes: an 18-byte stream, a 3-byte reply.
const QString script = QStringLiteral("A2 00 00 , A3 FF FF ;");
const QString result = QStringLiteral("A2 00 00 , A3 00 01 ;");
const QString ok = QStringLiteral("OK.");
// The send after the failure reads other bytes, so that a reply left over
// from the broken exchange cannot pass for its answer.
const QString nextScript = QStringLiteral("A2 00 10 , A3 FF FF FF ;");
const QString nextResult = QStringLiteral("A2 00 10 , A3 10 11 12 ;");

const QString inquiryFailed = QStringLiteral("Error: Fail to inquiry type of firmware.");
const QString holdFailed = QStringLiteral("Error: Fail to CPUCS=1.");
const QString chunkFailed = QStringLiteral("Error: Fail to send firmware.");
const QString releaseFailed = QStringLiteral("Error: Fail to CPUCS=0.");
const QString selectFailed = QStringLiteral("Error: Fail to SetAltIntfc().");
const QString headerFailed =
    QStringLiteral("Error: Fain to send 4byte data of in-out number of byte to USB device.");
const QString streamFailed = QStringLiteral("Error: Fail to send Brantle data to USB device. ");
const QString replyFailed = QStringLiteral("Error: Fail to receive Brantle data from USB device.");
const QString replyShort =
    QStringLiteral("Error: Fail to receive 3 byte data from USB device.(only 1 byte)");

enum class Fault { Fails, TimesOut, Short, Unplugged };

// One adapter on the simulated host, with the short bulk OUT the simulator
// lacks.
struct Host {
    Host() { chip = sim.plugBenchAdapter(AdapterSession::readFirmware(), &path); }
    void inject(Kind kind, int nth, Fault fault, int shortBytes) {
        switch (fault) {
        case Fault::Fails:
            sim.injectFault(kind, nth, Action::Fail);
            break;
        case Fault::TimesOut:
            sim.injectFault(kind, nth, Action::TimeOut);
            break;
        case Fault::Short:
            if (kind == Kind::BulkOut)
                shortOut.shortenOut(nth, shortBytes);
            else
                sim.injectFault(kind, nth, Action::ShortReply, shortBytes);
            break;
        case Fault::Unplugged:
            sim.injectFault(kind, nth, Action::Unplug);
            break;
        }
    }
    // Out and in again: a fresh chip on a new path.
    void replug() {
        sim.clearFaults();
        if (sim.chip(path))
            sim.unplug(path);
        QCoreApplication::processEvents();
        path = sim.plug(chip);
        QCoreApplication::processEvents();
    }

    SimUsbStack sim;
    ShortOutStack shortOut{sim};
    GenericUsbDriver driver{shortOut};
    std::shared_ptr<Fx2Chip> chip;
    QString path;
};

struct WindowOutcome {
    QString indicator;
    QString statusBar;
};

WindowOutcome send(Brantle &window) {
    window.ui.pushButtonSend->click();
    return {window.ui.labelInfo->text().section(u'\n', 1), window.statusBar()->currentMessage()};
}

} // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT
private slots:
    void everyTransferEveryFault_data();
    void everyTransferEveryFault();
};

void TestFaultMatrix::everyTransferEveryFault_data() {
    QTest::addColumn<bool>("downloaded"); // the adapter already runs the firmware
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("nth");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("shortBytes");
    QTest::addColumn<QString>("text"); // what the send reports
    QTest::addColumn<int>("timeOuts"); // transfers that ran into their time-out

    struct Transfer {
        const char *name;
        bool downloaded;
        Kind kind;
        int nth;
        int shortBytes;
        // The report when the transfer fails (or times out), comes back
        // short, or loses the adapter.
        QString failed;
        QString cut;
        QString unplugged;
        int cutTimeOuts;
    };
    // GET_INTERFACE and SET_INTERFACE are synchronous requests of the host
    // with no time-out of their own: every fault there is a plain failure.
    const Transfer transfers[] = {
        // A fresh chip: the firmware is downloaded first. Asked because the
        // setting is unknown, the fresh chip cannot answer the inquiry.
        {"fresh: setting query", false, Kind::AltSettingQuery, 1, 0, inquiryFailed, inquiryFailed,
         inquiryFailed, 0},
        // Nothing delivered: the core of a fresh chip is held anyway.
        {"fresh: CPUCS=1", false, Kind::Control, 1, 0, holdFailed, ok, holdFailed, 0},
        // A short chunk: the download resumes at the first byte not taken.
        {"fresh: chunk 1", false, Kind::Control, 2, 2048, chunkFailed, ok, chunkFailed, 0},
        {"fresh: chunk 2", false, Kind::Control, 3, 2048, chunkFailed, ok, chunkFailed, 0},
        {"fresh: chunk 3", false, Kind::Control, 4, 2048, chunkFailed, ok, chunkFailed, 0},
        {"fresh: chunk 4", false, Kind::Control, 5, 1, chunkFailed, ok, chunkFailed, 0},
        // The core is never released: nothing takes the header.
        {"fresh: CPUCS=0", false, Kind::Control, 6, 0, releaseFailed, headerFailed, releaseFailed,
         1},
        // Unknown setting: selected anyway.
        {"fresh: setting check", false, Kind::AltSettingQuery, 2, 0, ok, ok, selectFailed, 0},
        {"fresh: setting select", false, Kind::AltSettingSelect, 1, 0, selectFailed, selectFailed,
         selectFailed, 0},
        // Half a header: the firmware takes stream bytes as the rest of it and
        // waits for more than comes; the reply never does.
        {"fresh: header", false, Kind::BulkOut, 1, 2, headerFailed, replyFailed, headerFailed, 1},
        {"fresh: stream", false, Kind::BulkOut, 2, 9, streamFailed, replyFailed, streamFailed, 1},
        {"fresh: reply", false, Kind::BulkIn, 1, 1, replyFailed, replyShort, replyFailed, 0},
        // The firmware runs: asked, it answers, and the transaction follows.
        {"running: setting query", true, Kind::AltSettingQuery, 1, 0, ok, ok, inquiryFailed, 0},
        // An inquiry without its byte: download again.
        {"running: inquiry", true, Kind::Control, 1, 0, inquiryFailed, ok, inquiryFailed, 0},
        {"running: header", true, Kind::BulkOut, 1, 2, headerFailed, replyFailed, headerFailed, 1},
        {"running: stream", true, Kind::BulkOut, 2, 9, streamFailed, replyFailed, streamFailed, 1},
        {"running: reply", true, Kind::BulkIn, 1, 1, replyFailed, replyShort, replyFailed, 0},
    };
    for (const Transfer &t : transfers) {
        const bool synchronous =
            t.kind == Kind::AltSettingQuery || t.kind == Kind::AltSettingSelect;
        const struct {
            Fault fault;
            const char *name;
            QString text;
            int timeOuts;
        } faults[] = {
            {Fault::Fails, "fails", t.failed, 0},
            {Fault::TimesOut, "times out", t.failed, synchronous ? 0 : 1},
            {Fault::Short, "short", synchronous ? t.failed : t.cut,
             synchronous ? 0 : t.cutTimeOuts},
            {Fault::Unplugged, "unplugged", t.unplugged, 0},
        };
        for (const auto &f : faults)
            QTest::addRow("%s %s", t.name, f.name)
                << t.downloaded << int(t.kind) << t.nth << int(f.fault) << t.shortBytes << f.text
                << f.timeOuts;
    }
}

void TestFaultMatrix::everyTransferEveryFault() {
    QFETCH(bool, downloaded);
    QFETCH(int, kind);
    QFETCH(int, nth);
    QFETCH(int, fault);
    QFETCH(int, shortBytes);
    QFETCH(QString, text);
    QFETCH(int, timeOuts);

    // The window.
    {
        Host host;
        Brantle window(host.driver);
        window.ui.textEditInput->setPlainText(script);
        if (downloaded)
            QCOMPARE(send(window).indicator, ok);
        host.inject(Kind(kind), nth, Fault(fault), shortBytes);
        const int64_t before = host.sim.nowNs();
        const WindowOutcome outcome = send(window);
        const int64_t spent = host.sim.nowNs() - before;
        if (text == ok) {
            QCOMPARE(outcome.indicator, ok);
            QCOMPARE(window.ui.textEditResult->toPlainText(), result);
        } else {
            QCOMPARE(outcome.indicator, QStringLiteral("Error"));
            QCOMPARE(outcome.statusBar, text);
        }
        QVERIFY2(spent >= timeOuts * TimeOutNs && spent < (timeOuts + 1) * TimeOutNs,
                 qPrintable(QString::number(spent)));

        if (host.sim.chip(host.path)) {
            host.sim.clearFaults();
            window.ui.textEditInput->setPlainText(nextScript);
            QCOMPARE(send(window).indicator, ok);
            QCOMPARE(window.ui.textEditResult->toPlainText(), nextResult);
            window.ui.textEditInput->setPlainText(script);
        }

        host.replug();
        QCOMPARE(window.comboBoxDevices->count(), 1);
        QCOMPARE(send(window).indicator, ok);
        QCOMPARE(window.ui.textEditResult->toPlainText(), result);
    }

    // The command-line tool: the same send, then the next one after the
    // adapter came back, as --repeat makes them.
    {
        Host host;
        AdapterSession session(host.driver);
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        ScriptSender sender(session, host.driver, outStream, errStream);
        if (downloaded)
            QCOMPARE(sender.send(QStringLiteral("-"), script, 1), int(ExitOk));
        out.clear();
        err.clear();
        host.inject(Kind(kind), nth, Fault(fault), shortBytes);
        const int64_t before = host.sim.nowNs();
        const int status = sender.send(QStringLiteral("-"), script, 1);
        const int64_t spent = host.sim.nowNs() - before;
        QCOMPARE(err, text + u'\n');
        QCOMPARE(status, text == ok ? int(ExitOk) : int(ExitDeviceError));
        QCOMPARE(out, text == ok ? result + u'\n' : QString());
        QVERIFY2(spent >= timeOuts * TimeOutNs && spent < (timeOuts + 1) * TimeOutNs,
                 qPrintable(QString::number(spent)));

        if (host.sim.chip(host.path)) {
            host.sim.clearFaults();
            out.clear();
            err.clear();
            QCOMPARE(sender.send(QStringLiteral("-"), nextScript, 1), int(ExitOk));
            QCOMPARE(out, nextResult + u'\n');
        }

        host.replug();
        out.clear();
        err.clear();
        QCOMPARE(sender.send(QStringLiteral("-"), script, 1), int(ExitOk));
        QCOMPARE(out, result + u'\n');
    }
}

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
