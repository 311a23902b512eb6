#include "Brantle2.h"
#include "WatchChannel.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(std::optional<double>)

namespace {

WatchChannel channelOf(const QString &line) {
    const QList<WatchChannel> channels = WatchLines::parse(line);
    return channels.value(0);
}

} // namespace

class TestWatchChannel : public QObject {
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
    void malformedLinesPointAtTheFault_data();
    void malformedLinesPointAtTheFault();
    void compilerTakesWatchLinesForComments();
    void lineReadsBackAsTheSameChannel();
    void replaceKeepsTheRestOfTheScript_data();
    void replaceKeepsTheRestOfTheScript();
    void readCountIsChecked();
    void replyThatIsNotWholeGivesNoBytes();
};

void TestWatchChannel::decodes_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<std::optional<double>>("value");

    const QString sensor =
        QStringLiteral("// watch: name=t bytes=1-2 signed shift=7 scale=0.5 unit=°C");
    // The sensor's 9-bit temperature: degrees in the high byte, halves in bit 7.
    QTest::newRow("sensor 25.0") << sensor << QByteArray("\x19\x00", 2) << std::optional(25.0);
    QTest::newRow("sensor 25.5") << sensor << QByteArray("\x19\x80", 2) << std::optional(25.5);
    QTest::newRow("sensor -0.5") << sensor << QByteArray("\xFF\x80", 2) << std::optional(-0.5);
    QTest::newRow("sensor -55") << sensor << QByteArray("\xC9\x00", 2) << std::optional(-55.0);
    QTest::newRow("sensor 125") << sensor << QByteArray("\x7D\x00", 2) << std::optional(125.0);
    QTest::newRow("sensor, low 7 bits ignored")
        << sensor << QByteArray("\x19\x7F", 2) << std::optional(25.0);

    const QString counter = QStringLiteral("// watch: name=n bytes=1-2 order=le");
    QTest::newRow("le counter") << counter << QByteArray("\x34\x12", 2) << std::optional(4660.0);
    QTest::newRow("le counter top")
        << counter << QByteArray("\xFF\xFF", 2) << std::optional(65535.0);
    QTest::newRow("le counter signed")
        << QStringLiteral("// watch: name=n bytes=1-2 order=le signed") << QByteArray("\xFF\xFF", 2)
        << std::optional(-1.0);
    QTest::newRow("be counter") << QStringLiteral("// watch: name=n bytes=1-2")
                                << QByteArray("\x34\x12", 2) << std::optional(13330.0);

    QTest::newRow("one byte") << QStringLiteral("// watch: name=b bytes=1") << QByteArray("\x80", 1)
                              << std::optional(128.0);
    QTest::newRow("one byte signed") << QStringLiteral("// watch: name=b bytes=1 signed")
                                     << QByteArray("\x80", 1) << std::optional(-128.0);
    QTest::newRow("middle bytes") << QStringLiteral("// watch: name=b bytes=2-4")
                                  << QByteArray("\xAA\x01\x02\x03\xBB", 5)
                                  << std::optional(double(0x010203));
    QTest::newRow("middle bytes le")
        << QStringLiteral("// watch: name=b bytes=0x2-0x4 order=le")
        << QByteArray("\xAA\x01\x02\x03\xBB", 5) << std::optional(double(0x030201));
    QTest::newRow("eight bytes signed") << QStringLiteral("// watch: name=b bytes=1-8 signed")
                                        << QByteArray(8, '\xFF') << std::optional(-1.0);
    QTest::newRow("eight bytes unsigned")
        << QStringLiteral("// watch: name=b bytes=1-8") << QByteArray("\x80\0\0\0\0\0\0\0", 8)
        << std::optional(9223372036854775808.0);
    QTest::newRow("eight bytes, shift 63 signed")
        << QStringLiteral("// watch: name=b bytes=1-8 signed shift=63")
        << QByteArray("\x80\0\0\0\0\0\0\0", 8) << std::optional(-1.0);
    QTest::newRow("nibble") << QStringLiteral("// watch: name=b bytes=1 shift=4")
                            << QByteArray("\xF7", 1) << std::optional(15.0);
    QTest::newRow("12 bits left-justified, le signed")
        << QStringLiteral("// watch: name=b bytes=1-2 order=le signed shift=4")
        << QByteArray("\xF0\xFF", 2) << std::optional(-1.0);
    QTest::newRow("scale and offset")
        << QStringLiteral("// watch: name=v bytes=1 scale=0.25 offset=-10") << QByteArray("\x64", 1)
        << std::optional(15.0);
    QTest::newRow("hex scale, negative offset")
        << QStringLiteral("// watch: name=v bytes=1 scale=0x10 offset=-0x100")
        << QByteArray("\x11", 1) << std::optional(16.0);
    QTest::newRow("exponent scale") << QStringLiteral("// watch: name=v bytes=1 scale=1e-3")
                                    << QByteArray("\xFA", 1) << std::optional(0.25);
    QTest::newRow("too few bytes read")
        << sensor << QByteArray("\x19", 1) << std::optional<double>();
    QTest::newRow("nothing read") << sensor << QByteArray() << std::optional<double>();
}

void TestWatchChannel::decodes() {
    QFETCH(QString, line);
    QFETCH(QByteArray, read);
    QFETCH(std::optional<double>, value);
    const std::optional<double> got = channelOf(line).value(read);
    QCOMPARE(got.has_value(), value.has_value());
    if (value)
        QVERIFY2(std::abs(*got - *value) <= 1e-12 * std::max(1.0, std::abs(*value)),
                 qPrintable(QString::number(*got, 'g', 17)));
}

void TestWatchChannel::malformedLinesPointAtTheFault_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("faulty"); // the text the error selects
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("message");

    const QString pre = QStringLiteral("90 00 ;\n");
    auto row = [&](const char *name, const QString &line, const QString &faulty,
                   const QString &message) {
        const QString script = pre + line + QStringLiteral("\n91 FF FF ;\n");
        QTest::newRow(name) << script << faulty << int(script.indexOf(faulty, pre.size()))
                            << message;
    };
    row("unknown setting", "// watch: name=t bytes=1 colour=red", "colour=red",
        "watch: unknown setting 'colour'.");
    row("bare unknown word", "// watch: name=t bytes=1 fast", "fast",
        "watch: unknown setting 'fast'.");
    row("given twice", "// watch: name=t bytes=1 bytes=2", "bytes=2",
        "watch: 'bytes' is given twice.");
    row("signed and unsigned", "// watch: name=t bytes=1 signed unsigned", "unsigned",
        "watch: 'unsigned' is given twice.");
    row("signed with a value", "// watch: name=t bytes=1 signed=yes", "signed=yes",
        "watch: 'signed' takes no value.");
    row("empty value", "// watch: name=t bytes=", "bytes=", "watch: 'bytes' needs a value.");
    row("no name", "//watch: bytes=1-2", "watch:", "watch: name= is missing.");
    row("no bytes", "\t//  watch: name=t", "watch:", "watch: bytes= is missing.");
    const QString bytesMessage =
        QStringLiteral("watch: bytes must be N or FIRST-LAST, counted from 1, at most 8 bytes.");
    row("byte 0", "// watch: name=t bytes=0", "0", bytesMessage);
    row("backwards range", "// watch: name=t bytes=3-2", "3-2", bytesMessage);
    row("nine bytes", "// watch: name=t bytes=1-9", "1-9", bytesMessage);
    row("not a number", "// watch: name=t bytes=one", "one", bytesMessage);
    row("fraction", "// watch: name=t bytes=1.5", "1.5", bytesMessage);
    row("order", "// watch: name=t bytes=1 order=BE", "BE", "watch: order must be be or le.");
    row("shift too far", "// watch: name=t bytes=1-2 shift=16", "16",
        "watch: shift must be less than the 16 bits of the bytes.");
    row("shift negative", "// watch: name=t bytes=1 shift=-1", "-1",
        "watch: shift must be a whole number from 0 to 63.");
    row("scale", "// watch: name=t bytes=1 scale=1,5", "1,5", "watch: '1,5' is not a number.");
    row("offset hex fraction", "// watch: name=t bytes=1 offset=0x1.8", "0x1.8",
        "watch: '0x1.8' is not a number.");
    row("scale infinite", "// watch: name=t bytes=1 scale=1e999", "1e999",
        "watch: '1e999' is not a number.");

    const QString twice =
        QStringLiteral("// watch: name=t bytes=1\n// watch: name=u bytes=2\n// watch: name=t "
                       "bytes=2\n91 FF FF ;");
    QTest::newRow("same name twice")
        << twice << QStringLiteral("t") << int(twice.lastIndexOf(QLatin1String("name=t")) + 5)
        << QStringLiteral("watch: a channel named 't' is already "
                          "watched.");
}

void TestWatchChannel::malformedLinesPointAtTheFault() {
    QFETCH(QString, script);
    QFETCH(QString, faulty);
    QFETCH(int, index);
    QFETCH(QString, message);
    try {
        WatchLines::parse(script);
        QFAIL("no error");
    } catch (const ScriptParseError &e) {
        QCOMPARE(e.message, message);
        QCOMPARE(e.index, index);
        QCOMPARE(script.mid(e.index, e.length), faulty);
        QCOMPARE(QString(e), QStringLiteral("Parse Error: Index=%1, Length=%2, %3")
                                 .arg(e.index)
                                 .arg(e.length)
                                 .arg(message));
    }
}

// Watch lines, good or bad, are comments to the compiler; lines that only
// look similar are not watch lines.
void TestWatchChannel::compilerTakesWatchLinesForComments() {
    const QString script = QStringLiteral("// watch: name=t bytes=1 colour=red\n"
                                          "90 00 , 91 FF FF ; // watch: name=x bytes=1\n"
                                          "// watching: name=y bytes=1\n"
                                          "/ / watch: name=z\n");
    Brantle2 converter;
    QString text = script.left(script.indexOf(QLatin1String("/ /")));
    QByteArray stream;
    converter.convert(text, Brantle2::Compile, stream);
    QVERIFY(!stream.isEmpty());
    QVERIFY(WatchLines::isWatchLine(QStringLiteral("   //watch: name=t bytes=1")));
    QVERIFY(!WatchLines::isWatchLine(QStringLiteral("90 00 ; // watch: name=x bytes=1")));
    QVERIFY(!WatchLines::isWatchLine(QStringLiteral("// watching: name=y bytes=1")));
    QVERIFY(!WatchLines::isWatchLine(QStringLiteral("/ / watch: name=z")));
    QVERIFY(!WatchLines::isWatchLine(QStringLiteral("// Watch: name=z")));
}

// Random channels written as lines and read back: the table writes what it
// shows, numbers included, without losing a digit.
void TestWatchChannel::lineReadsBackAsTheSameChannel() {
    QRandomGenerator random(19);
    const QStringList units = {QString(), QStringLiteral("°C"), QStringLiteral("mV"),
                               QStringLiteral("%RH")};
    for (int i = 0; i < 2000; ++i) {
        WatchChannel c;
        c.name = QStringLiteral("ch%1").arg(i);
        c.firstByte = random.bounded(1, 20);
        c.lastByte = c.firstByte + random.bounded(0, 8);
        c.isSigned = random.bounded(2);
        c.order = random.bounded(2) ? WatchChannel::LittleEndian : WatchChannel::BigEndian;
        c.shift = random.bounded(0, 8 * c.byteCount());
        c.scale = random.bounded(3) == 0 ? 1.0 : (random.generateDouble() - 0.5) * 1000.0;
        c.offset = random.bounded(3) == 0 ? 0.0 : std::ldexp(random.generateDouble() - 0.5, 40);
        c.unit = units.at(random.bounded(int(units.size())));
        const QString line = c.line();
        const WatchChannel back = channelOf(line);
        QVERIFY2(back == c, qPrintable(line));
    }
}

void TestWatchChannel::replaceKeepsTheRestOfTheScript_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");
    WatchChannel a;
    a.name = QStringLiteral("a");
    a.lastByte = 2;
    QTest::newRow("none yet") << QStringLiteral("91 FF FF ;\n")
                              << QStringLiteral("// watch: name=a bytes=1-2\n91 FF FF ;\n");
    QTest::newRow("replaced in place")
        << QStringLiteral("// sensor\n// watch: name=old bytes=1\n91 FF FF ;\n// watch: name=b "
                          "bytes=2\n")
        << QStringLiteral("// sensor\n// watch: name=a bytes=1-2\n91 FF FF ;\n");
    QTest::newRow("empty script") << QString() << QStringLiteral("// watch: name=a bytes=1-2\n");
}

void TestWatchChannel::replaceKeepsTheRestOfTheScript() {
    QFETCH(QString, script);
    QFETCH(QString, expected);
    WatchChannel a;
    a.name = QStringLiteral("a");
    a.lastByte = 2;
    const QString replaced = WatchLines::replace(script, {a});
    QCOMPARE(replaced, expected);
    QCOMPARE(WatchLines::parse(replaced), QList<WatchChannel>{a});
    // Taking every channel away leaves the script without watch lines.
    QVERIFY(WatchLines::parse(WatchLines::replace(replaced, {})).isEmpty());
}

void TestWatchChannel::readCountIsChecked() {
    const QString script =
        QStringLiteral("// watch: name=t bytes=1-2\n// watch: name=u bytes=2-3\n");
    const QList<WatchChannel> channels = WatchLines::parse(script);
    WatchLines::checkReadCount(channels, 3);
    try {
        WatchLines::checkReadCount(channels, 2);
        QFAIL("no error");
    } catch (const ScriptParseError &e) {
        QCOMPARE(script.mid(e.index, e.length), QStringLiteral("2-3"));
        QCOMPARE(e.message, QStringLiteral("watch: 'u' needs byte 3, but the script reads 2."));
    }
}

void TestWatchChannel::replyThatIsNotWholeGivesNoBytes() {
    QCOMPARE(WatchLines::readBytes(QByteArray("\x19\x00\x00", 3), 2), QByteArray("\x19\x00", 2));
    QCOMPARE(WatchLines::readBytes(QByteArray("\x19\x00", 2), 2), QByteArray());
    QCOMPARE(WatchLines::readBytes(QByteArray(), 0), QByteArray());
}

QTEST_GUILESS_MAIN(TestWatchChannel)
#include "tst_watchchannel.moc"
