#include "AdapterSession.h"
#include "Brantle2.h"
#include "CCyDriverDevice.h"
#include "CompileScript.h"
#include "GenericUsbDriver.h"
#include "SimUsbStack.h"

#include <QTemporaryFile>
#include <QtTest>

#include <memory>

namespace {

using Kind = SimUsbStack::TransferKind;
using Action = SimUsbStack::FaultAction;

const int64_t NsPerSecond = 1000000000;

QByteArray hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text));
}

// A simulated bench adapter behind the generic driver, with the session the
// window and the command-line tool use.
struct Bench {
    explicit Bench(bool plugged = true, const QString &imagePath =
                                            QString::fromLatin1(AdapterSession::firmwareResource)) {
        if (plugged)
            chip = stack.plugBenchAdapter(AdapterSession::readFirmware(), &path);
        session = std::make_unique<AdapterSession>(driver, imagePath);
        stack.clearLog();
    }
    // Downloads the firmware through the session, gives it its start-up
    // time (it does not answer requests before), then forgets the traffic.
    void download() {
        QCOMPARE(session->ensureFirmware(), 1);
        stack.advanceTime(Fx2Chip::StartUpNs);
        stack.clearLog();
    }
    QList<SimUsbStack::LogEntry> entries(Kind kind) const {
        QList<SimUsbStack::LogEntry> found;
        for (const auto &e : stack.log())
            if (e.kind == kind)
                found << e;
        return found;
    }
    // The control traffic as "REQUEST@VALUE:LENGTH" items, to compare whole
    // request sequences at a glance.
    QStringList controlTrace() const {
        QStringList trace;
        for (const auto &e : stack.log()) {
            if (e.kind == Kind::Control)
                trace << QStringLiteral("%1@%2:%3")
                             .arg(e.setup.bRequest, 2, 16, QLatin1Char('0'))
                             .arg(e.setup.wValue, 4, 16, QLatin1Char('0'))
                             .arg(e.data.size());
            else if (e.kind == Kind::AltSettingSelect)
                trace << QStringLiteral("alt=%1").arg(e.setup.wValue);
        }
        return trace;
    }

    SimUsbStack stack;
    GenericUsbDriver driver{stack};
    std::shared_ptr<Fx2Chip> chip;
    QString path;
    std::unique_ptr<AdapterSession> session;
};

QString thrown(const std::function<void()> &f) {
    try {
        f();
    } catch (const QString &e) {
        return e;
    }
    return QString();
}

const QStringList fullDownload = {"a0@e600:1",    "a0@0000:4096", "a0@1000:4096", "a0@2000:4096",
                                  "a0@3000:4096", "a0@e600:1",    "alt=1"};

} // namespace

class TestAdapterSession : public QObject {
    Q_OBJECT
private slots:
    void transaction_data();
    void transaction();
    void firmwareDecisions_data();
    void firmwareDecisions();
    void downloadWritesTheImageInFourChunks();
    void imageFromFile_data();
    void imageFromFile();
    void shortChunkResumesAtTheFirstUnsentByte();
    void chunkThatMovesNothingFails();
    void emptyImageStillResetsAndSwitches();
    void noAdapter();
    void everyFailingTransferHasItsText_data();
    void everyFailingTransferHasItsText();
    void oversizeIsRefusedBeforeAnyTraffic_data();
    void oversizeIsRefusedBeforeAnyTraffic();
    void settingWithoutTheEndpoints();
    void brokenExchangeRestartsTheFirmware_data();
    void brokenExchangeRestartsTheFirmware();
};

void TestAdapterSession::transaction_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("forcedStatus"); // -1: as the adapter answers
    QTest::addColumn<int>("shortReply");   // -1: whole reply
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("outcome"); // "true", "false" or the error text
    QTest::addColumn<QByteArray>("stream");

    const QByteArray worked = hex("0001 0011 0013 A2 0000 0000 0013 A3 FFFF 0014");
    const QByteArray merged = hex("0001 0011 0013 A2 0000 0000 0013 A3 0001 0014");
    const QString script = QStringLiteral("A2 00 00 , A3\nFF FF ;");
    QTest::newRow("read two EEPROM bytes")
        << script << -1 << -1 << hex("16000300") << "true" << merged;
    QTest::newRow("status 0x3F: low bits mean nothing")
        << script << 0x3F << -1 << hex("16000300") << "true" << merged;
    QTest::newRow("status 0x40: NoAck, bytes still merged")
        << script << 0x40 << -1 << hex("16000300") << "false" << merged;
    QTest::newRow("status 0x80: firmware error, nothing merged")
        << script << 0x80 << -1 << hex("16000300")
        << "Error: Error has occured in firmware in USB device" << worked;
    QTest::newRow("status 0xC0") << script << 0xC0 << -1 << hex("16000300")
                                 << "Error: Error has occured in firmware in USB device" << worked;
    QTest::newRow("short reply")
        << script << -1 << 2 << hex("16000300")
        << "Error: Fail to receive 3 byte data from USB device.(only 2 byte)" << worked;
    QTest::newRow("no reads: the status byte alone")
        << "A2 00 00 ;" << -1 << -1 << hex("11000100") << "true"
        << hex("0001 0012 0013 A2 0000 0000 0014");
    QTest::newRow("absent address") << "A0 00 , A1 FF ;" << -1 << -1 << hex("13000200") << "false"
                                    << hex("0001 0012 0013 A0 0000 0013 A1 FF 0014");
}

void TestAdapterSession::transaction() {
    QFETCH(QString, script);
    QFETCH(int, forcedStatus);
    QFETCH(int, shortReply);
    QFETCH(QByteArray, header);
    QFETCH(QString, outcome);
    QFETCH(QByteArray, stream);

    Bench bench;
    bench.download();
    // The worked example runs at 100 kHz, the others at the default 400 kHz.
    QByteArray command = compile(script, script.contains(QLatin1String("A3")) ? 0 : 1);
    const QByteArray sent = command;
    if (forcedStatus >= 0)
        bench.stack.injectFault(Kind::BulkIn, 1, Action::ForceStatus, forcedStatus);
    if (shortReply >= 0)
        bench.stack.injectFault(Kind::BulkIn, 1, Action::ShortReply, shortReply);

    QString result;
    try {
        result =
            bench.session->transact(command) ? QStringLiteral("true") : QStringLiteral("false");
    } catch (const QString &e) {
        result = e;
    }
    QCOMPARE(result, outcome);
    QCOMPARE(command.toHex(' '), stream.toHex(' '));

    const auto out = bench.entries(Kind::BulkOut);
    QCOMPARE(out.size(), 2);
    QCOMPARE(out[0].data.toHex(' '), header.toHex(' '));
    QCOMPARE(out[1].data, sent);
    const auto in = bench.entries(Kind::BulkIn);
    QCOMPARE(in.size(), 1);
    const int expected = quint8(header[2]) | quint8(header[3]) << 8;
    QCOMPARE(int(in[0].data.size()), shortReply >= 0 ? shortReply : expected);
    // The inquiry is the only control traffic once the firmware runs.
    QCOMPARE(bench.controlTrace(), QStringList{"00@0000:1"});
}

void TestAdapterSession::firmwareDecisions_data() {
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("trace");

    QTest::newRow("fresh chip: download without asking") << "fresh" << 1 << fullDownload;
    QTest::newRow("firmware runs: one inquiry") << "running" << 0 << QStringList{"00@0000:1"};
    // Already on setting 1, the switch after a new download sends nothing.
    const QStringList reload = fullDownload.mid(0, fullDownload.size() - 1);
    QTest::newRow("inquiry answers 0: download")
        << "answer 0" << 1 << (QStringList{"00@0000:1"} + reload);
    QTest::newRow("inquiry answers 2: download")
        << "answer 2" << 1 << (QStringList{"00@0000:1"} + reload);
    QTest::newRow("inquiry without its byte: download")
        << "answer empty" << 1 << (QStringList{"00@0000:0"} + reload);
    QTest::newRow("setting query fails: still asks")
        << "query fails" << 0 << QStringList{"00@0000:1"};
}

void TestAdapterSession::firmwareDecisions() {
    QFETCH(QString, situation);
    QFETCH(int, result);
    QFETCH(QStringList, trace);

    Bench bench;
    if (situation != QLatin1String("fresh"))
        bench.download();
    if (situation == QLatin1String("answer 0"))
        bench.stack.injectFault(Kind::Control, 1, Action::ForceStatus, 0);
    else if (situation == QLatin1String("answer 2"))
        bench.stack.injectFault(Kind::Control, 1, Action::ForceStatus, 2);
    else if (situation == QLatin1String("answer empty"))
        bench.stack.injectFault(Kind::Control, 1, Action::ShortReply, 0);
    else if (situation == QLatin1String("query fails"))
        bench.stack.injectFault(Kind::AltSettingQuery, 1, Action::Fail);

    QCOMPARE(bench.session->ensureFirmware(), result);
    QCOMPARE(bench.controlTrace(), trace);
    QVERIFY(bench.chip->running());
    QCOMPARE(bench.chip->altSetting(), 1);
}

void TestAdapterSession::downloadWritesTheImageInFourChunks() {
    Bench bench;
    QCOMPARE(bench.session->ensureFirmware(), 1);
    const QByteArray image = AdapterSession::readFirmware();
    QCOMPARE(image.size(), 16384);
    QByteArray written;
    for (const auto &e : bench.entries(Kind::Control))
        if (e.setup.wValue != 0xE600)
            written += e.data;
    QCOMPARE(written, image);
    QCOMPARE(bench.chip->ram(), image);
}

// An image given in a file goes down at the next transaction even to an
// adapter that answers the inquiry (it may run another build), and only
// then; a file that is not a whole image fails before the adapter is touched.
void TestAdapterSession::imageFromFile_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("trace");

    QTest::newRow("whole image") << 16384 << QString() << fullDownload.mid(0, 6);
    QTest::newRow("truncated") << 1000 << "Error: Fail to send firmware." << QStringList();
    QTest::newRow("empty") << 0 << "Error: Fail to send firmware." << QStringList();
    QTest::newRow("too long") << 16385 << "Error: Fail to send firmware." << QStringList();
}

void TestAdapterSession::imageFromFile() {
    QFETCH(int, size);
    QFETCH(QString, error);
    QFETCH(QStringList, trace);

    QTemporaryFile file;
    QVERIFY(file.open());
    QByteArray image = AdapterSession::readFirmware();
    image.resize(size, char(0xAA));
    QCOMPARE(file.write(image), qint64(size));
    file.close();

    Bench bench;
    bench.download();
    bench.session->setFirmwareImage(file.fileName());
    QCOMPARE(AdapterSession::firmwareImageProblem(file.fileName()).isEmpty(), error.isEmpty());
    QCOMPARE(thrown([&] { bench.session->ensureFirmware(); }), error);
    QCOMPARE(bench.controlTrace(), trace);
    if (!error.isEmpty())
        return;
    QCOMPARE(bench.chip->ram(), image);
    // Once down and started, the inquiry decides again.
    bench.stack.advanceTime(Fx2Chip::StartUpNs);
    bench.stack.clearLog();
    QCOMPARE(bench.session->ensureFirmware(), 0);
    QCOMPARE(bench.controlTrace(), QStringList{"00@0000:1"});
}

void TestAdapterSession::shortChunkResumesAtTheFirstUnsentByte() {
    Bench bench;
    bench.stack.injectFault(Kind::Control, 2, Action::ShortReply, 1000);
    QCOMPARE(bench.session->ensureFirmware(), 1);
    QCOMPARE(bench.controlTrace(),
             (QStringList{"a0@e600:1", "a0@0000:1000", "a0@03e8:4096", "a0@13e8:4096",
                          "a0@23e8:4096", "a0@33e8:3096", "a0@e600:1", "alt=1"}));
    QCOMPARE(bench.chip->ram(), AdapterSession::readFirmware());
    QVERIFY(bench.chip->running());
}

void TestAdapterSession::chunkThatMovesNothingFails() {
    Bench bench;
    bench.stack.injectFault(Kind::Control, 3, Action::ShortReply, 0);
    QCOMPARE(thrown([&] { bench.session->ensureFirmware(); }),
             QStringLiteral("Error: Fail to send firmware."));
    QCOMPARE(bench.controlTrace(), (QStringList{"a0@e600:1", "a0@0000:4096", "a0@1000:0"}));
}

void TestAdapterSession::emptyImageStillResetsAndSwitches() {
    QTemporaryFile empty;
    QVERIFY(empty.open());
    Bench bench(true, empty.fileName());
    QCOMPARE(bench.session->ensureFirmware(), 1);
    QCOMPARE(bench.controlTrace(), (QStringList{"a0@e600:1", "a0@e600:1", "alt=1"}));
    const auto control = bench.entries(Kind::Control);
    QCOMPARE(control[0].data, hex("01"));
    QCOMPARE(control[1].data, hex("00"));
    // The CPU is released on the RAM as it is (cleared): no firmware answers.
    QVERIFY(!bench.chip->cpuHeld());
    bench.stack.advanceTime(Fx2Chip::StartUpNs);
    uint8_t answer = 0;
    QCOMPARE(bench.stack
                 .controlTransfer(bench.stack.open(bench.path), UsbSetupPacket{0xC0, 0x00, 0, 0, 1},
                                  &answer, 100)
                 .status,
             UsbTransferStatus::Cancelled);
}

void TestAdapterSession::noAdapter() {
    Bench bench(false);
    QCOMPARE(thrown([&] { bench.session->ensureFirmware(); }),
             QStringLiteral("Error: Device not found."));
    QByteArray stream = compile(QStringLiteral("A2 00 ;"));
    QCOMPARE(thrown([&] { bench.session->transact(stream); }),
             QStringLiteral("Error: Device not found."));
    QVERIFY(bench.stack.log().isEmpty());
}

void TestAdapterSession::everyFailingTransferHasItsText_data() {
    QTest::addColumn<bool>("downloaded");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("nth");
    QTest::addColumn<QString>("text");

    const struct {
        const char *name;
        bool downloaded;
        Kind kind;
        int nth;
        const char *text;
    } cases[] = {
        {"CPUCS=1", false, Kind::Control, 1, "Error: Fail to CPUCS=1."},
        {"first chunk", false, Kind::Control, 2, "Error: Fail to send firmware."},
        {"last chunk", false, Kind::Control, 5, "Error: Fail to send firmware."},
        {"CPUCS=0", false, Kind::Control, 6, "Error: Fail to CPUCS=0."},
        {"alternate setting", false, Kind::AltSettingSelect, 1, "Error: Fail to SetAltIntfc()."},
        {"inquiry", true, Kind::Control, 1, "Error: Fail to inquiry type of firmware."},
        {"header", true, Kind::BulkOut, 1,
         "Error: Fain to send 4byte data of in-out number of byte to USB device."},
        {"stream", true, Kind::BulkOut, 2, "Error: Fail to send Brantle data to USB device. "},
        {"reply", true, Kind::BulkIn, 1, "Error: Fail to receive Brantle data from USB device."},
    };
    for (const auto &c : cases) {
        for (const auto &[action, actionName] :
             {std::pair{Action::Fail, "fails"}, std::pair{Action::TimeOut, "times out"}}) {
            QTest::addRow("%s %s", c.name, actionName)
                << c.downloaded << int(c.kind) * 16 + int(action) << c.nth
                << QString::fromLatin1(c.text);
        }
    }
}

void TestAdapterSession::everyFailingTransferHasItsText() {
    QFETCH(bool, downloaded);
    QFETCH(int, kind);
    QFETCH(int, nth);
    QFETCH(QString, text);

    Bench bench;
    if (downloaded)
        bench.download();
    const int64_t before = bench.stack.nowNs();
    bench.stack.injectFault(Kind(kind / 16), nth, Action(kind % 16));
    QByteArray stream = compile(QStringLiteral("A2 00 00 , A3 FF FF ;"));
    QCOMPARE(thrown([&] { bench.session->transact(stream); }), text);
    // Selecting a setting is one synchronous request with no time of its own.
    const bool timedOut =
        Action(kind % 16) == Action::TimeOut && Kind(kind / 16) != Kind::AltSettingSelect;
    // A time-out costs its ten seconds of virtual time, and no more than one.
    const int64_t spent = bench.stack.nowNs() - before;
    if (timedOut)
        QVERIFY2(spent >= 10 * NsPerSecond && spent < 21 * NsPerSecond,
                 qPrintable(QString::number(spent)));
    else
        QVERIFY(spent < NsPerSecond);
}

void TestAdapterSession::oversizeIsRefusedBeforeAnyTraffic_data() {
    QTest::addColumn<int>("bytes");
    QTest::addColumn<QString>("text");
    // The stream is 9 bytes of items plus one byte per data byte; with the
    // header and the status byte a transaction of k data bytes needs 14 + k.
    QTest::newRow("exactly the buffer") << 11898 << QString();
    QTest::newRow("one byte more")
        << 11899
        << "Error: The data is too large for the USB device. (11913 byte, limit 11912 byte)";
    QTest::newRow("beyond 16-bit counts")
        << 70000
        << "Error: The data is too large for the USB device. (70014 byte, limit 11912 byte)";
}

void TestAdapterSession::oversizeIsRefusedBeforeAnyTraffic() {
    QFETCH(int, bytes);
    QFETCH(QString, text);
    Bench bench;
    QByteArray stream =
        compile(QStringLiteral("A2 ") + QStringLiteral("11 ").repeated(bytes) + u';');
    QCOMPARE(stream.size(), 9 + bytes);
    if (text.isEmpty()) {
        QVERIFY(bench.session->transact(stream));
        return;
    }
    QCOMPARE(thrown([&] { bench.session->transact(stream); }), text);
    QVERIFY(bench.stack.log().isEmpty());
}

void TestAdapterSession::settingWithoutTheEndpoints() {
    SimUsbStack stack;
    auto chip = std::make_shared<Fx2Chip>();
    chip->setAdapterFirmware(AdapterSession::readFirmware());
    chip->setDescribedEndpointCount(3);
    stack.plug(chip);
    GenericUsbDriver driver(stack);
    AdapterSession session(driver);
    QByteArray stream = compile(QStringLiteral("A2 00 ;"));
    QCOMPARE(thrown([&] { session.transact(stream); }),
             QStringLiteral("Error: The USB device has no endpoint for the transfer."));
}

void TestAdapterSession::brokenExchangeRestartsTheFirmware_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("nth");
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("restart");

    QTest::newRow("header fails") << int(Kind::BulkOut) << 1 << int(Action::Fail) << true;
    QTest::newRow("stream times out") << int(Kind::BulkOut) << 2 << int(Action::TimeOut) << true;
    QTest::newRow("reply fails") << int(Kind::BulkIn) << 1 << int(Action::Fail) << true;
    QTest::newRow("reply short") << int(Kind::BulkIn) << 1 << int(Action::ShortReply) << true;
    // A whole reply, whatever it says, leaves both sides in step.
    QTest::newRow("firmware error") << int(Kind::BulkIn) << 1 << int(Action::ForceStatus) << false;
    QTest::newRow("inquiry fails") << int(Kind::Control) << 1 << int(Action::Fail) << false;
}

// After an exchange that broke off, the next one restarts the firmware
// instead of asking it: it may hold the rest of the old exchange.
void TestAdapterSession::brokenExchangeRestartsTheFirmware() {
    QFETCH(int, kind);
    QFETCH(int, nth);
    QFETCH(int, action);
    QFETCH(bool, restart);

    Bench bench;
    bench.download();
    // A short reply of one byte; a status byte with the firmware-error bit.
    const int value = Action(action) == Action::ShortReply ? 1 : 0x80;
    bench.stack.injectFault(Kind(kind), nth, Action(action), value);
    QByteArray stream = compile(QStringLiteral("A2 00 00 , A3 FF FF ;"));
    QVERIFY(!thrown([&] { bench.session->transact(stream); }).isEmpty());
    bench.stack.clearFaults();
    bench.stack.clearLog();

    stream = compile(QStringLiteral("A2 00 10 , A3 FF FF FF ;"));
    QVERIFY(bench.session->transact(stream));
    QCOMPARE(stream.right(5).toHex(' '), QByteArray("10 11 12 00 14"));
    const QStringList reload = fullDownload.mid(0, fullDownload.size() - 1);
    QCOMPARE(bench.controlTrace(), restart ? reload : QStringList{"00@0000:1"});
    // Asked once more afterwards, the restarted firmware answers as usual.
    QCOMPARE(bench.session->ensureFirmware(), 0);
}

QTEST_GUILESS_MAIN(TestAdapterSession)
#include "tst_adaptersession.moc"
