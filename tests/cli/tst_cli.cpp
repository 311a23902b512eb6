#include "BrantleVersion.h"
#include "CsvReader.h"
#include "ScriptErrorReport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run cli(const QStringList &arguments, const QByteArray &input,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
        const std::function<void()> &inChild = {}) {
    QProcess process;
    process.setProcessEnvironment(environment);
    if (inChild)
        process.setChildProcessModifier(inChild);
    process.start(QStringLiteral(BRANTLE_CLI), arguments);
    Run run;
    if (!process.waitForStarted())
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// The command stream of `script` as --dry-run prints it.
QString dryRun(const QByteArray &script) {
    return QString::fromUtf8(cli({QStringLiteral("--dry-run")}, script).out.trimmed());
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString write(const QString &name, const QByteArray &bytes);
private slots:
    void errorReport_data();
    void errorReport();
    void runs_data();
    void runs();
    void firmwareImage_data();
    void firmwareImage();
    void logRecordsEverySend();
    void logThatStopsGrowingEndsTheRun();
};

QString TestCli::write(const QString &name, const QByteArray &bytes) {
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

void TestCli::errorReport_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("report");

    QTest::newRow("first line") << "A2 0 ;" << 3 << 1 << "f:1:4: m\nA2 0 ;\n   ^\n";
    QTest::newRow("later line, wider span") << "// x\nA2 A2A3 ;\n"
                                            << 8 << 4 << "f:2:4: m\nA2 A2A3 ;\n   ^^^^\n";
    QTest::newRow("tabs stay tabs") << "\tA2\t0" << 4 << 1 << "f:1:5: m\n\tA2\t0\n\t  \t^\n";
    QTest::newRow("span running on past the line")
        << "A2 [x\n] 00" << 3 << 4 << "f:1:4: m\nA2 [x\n   ^^\n";
    QTest::newRow("empty span still marked") << "A2 ," << 3 << 0 << "f:1:4: m\nA2 ,\n   ^\n";
    QTest::newRow("at a line end") << "A2\r\n;" << 2 << 1 << "f:1:3: m\nA2\r\n  ^\n";
    QTest::newRow("index past the end") << "A2" << 9 << 1 << "f:1:3: m\nA2\n  ^\n";
}

void TestCli::errorReport() {
    QFETCH(QString, text);
    QFETCH(int, index);
    QFETCH(int, length);
    QFETCH(QString, report);
    QCOMPARE(scriptErrorReport(QStringLiteral("f"), text, index, length, QStringLiteral("m")),
             report);
}

// Expected output: exact text, "~text" for text it must contain, "*" for
// anything that is not empty.
static bool matches(const QByteArray &actual, const QByteArray &expected) {
    if (expected == "*")
        return !actual.isEmpty();
    if (expected.startsWith('~'))
        return actual.contains(expected.mid(1));
    return actual == expected;
}

// Runs the tool with `input` on standard input and checks what it printed
// and its exit status.
static void expectRun(const QStringList &arguments, const QByteArray &input, int exitCode,
                      const QByteArray &out, const QByteArray &err) {
    const Run run = cli(arguments, input);
    QVERIFY2(matches(run.out, out), run.out.constData());
    QVERIFY2(matches(run.err, err), run.err.constData());
    QCOMPARE(run.exitCode, exitCode);
}

void TestCli::runs_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    const QString example = QStringLiteral(BRANTLE_EXAMPLES_DIR "/eeprom-read.txt");
    QTest::newRow("dry run from standard input at 100 kHz")
        << QStringList{"--dry-run", "--clock", "100"} << QByteArray("A2 00 00 , A3\nFF FF ;") << 0
        << QByteArray("00 01 00 11 00 13 A2 00 00 00 00 00 13 A3 FF FF 00 14\n") << QByteArray();
    QTest::newRow("dash is standard input, 400 kHz by default")
        << QStringList{"--dry-run", "-"} << QByteArray("[wait 5]") << 0
        << QByteArray("00 01 00 12 00 30 04 01 FA 00\n") << QByteArray();
    QTest::newRow("dry run of the default script")
        << QStringList{"--dry-run", example} << QByteArray() << 0
        << QByteArray("~00 01 00 12 00 13 A2 00 00 00 00 00 14 00 13 A3 FF") << QByteArray();
    QTest::newRow("parse error with caret")
        << QStringList{"--dry-run"} << QByteArray("// line one\nA2 0 ;\n") << 2 << QByteArray()
        << QByteArray("-:2:4: Hex data must be specify by of two digits. \nA2 0 ;\n   ^\n");
    QTest::newRow("default script on the simulated EEPROM")
        << QStringList{"--sim", example} << QByteArray() << 0
        << QByteArray("~A2 00 00 ; A3 \n00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n")
        << QByteArray("OK.\n");
    QTest::newRow("absent address: rendered, NoAck")
        << QStringList{"--sim"} << QByteArray("A0 00 , A1 FF FF ;") << 1
        << QByteArray("A0 00 , A1 FF FF ;\n") << QByteArray("NoAck\n");
    QTest::newRow("sensor reads 25.0 degrees")
        << QStringList{"--sim"} << QByteArray("90 00 , 91 FF FF ;") << 0
        << QByteArray("90 00 , 91 19 00 ;\n") << QByteArray("OK.\n");
    QTest::newRow("malformed script on the adapter")
        << QStringList{"--sim"} << QByteArray("A2 00 0G") << 2 << QByteArray()
        << QByteArray("-:1:7: Hex data must be specify by of two digits. \nA2 00 0G\n      ^\n");
    QTest::newRow("repeated sends print each result")
        << QStringList{"--sim", "--repeat", "3", "--interval", "0"} << QByteArray("91 FF ;") << 0
        << QByteArray("91 19 ;\n91 19 ;\n91 19 ;\n") << QByteArray("OK.\nOK.\nOK.\n");
    QTest::newRow("list the simulated adapter")
        << QStringList{"--sim", "--list"} << QByteArray() << 0
        << QByteArray("FX2 I2C Adapter (simulated) - [1]\n") << QByteArray();
    QTest::newRow("no such adapter")
        << QStringList{"--sim", "--device", "1"} << QByteArray("A2 00") << 3 << QByteArray()
        << QByteArray("Error: Device not found.\n");
    QTest::newRow("without --sim and no adapter plugged in")
        << QStringList{} << QByteArray("A2 00") << 3 << QByteArray()
        << QByteArray("~Error: Device not found.\n");
    QTest::newRow("version") << QStringList{"--version"} << QByteArray() << 0
                             << QByteArray("brantle-cli " BRANTLE_VERSION "\n") << QByteArray();
    QTest::newRow("bad clock") << QStringList{"--dry-run", "--clock", "200"} << QByteArray("A2")
                               << 64 << QByteArray()
                               << QByteArray("brantle-cli: --clock must be 100 or 400, not 200\n");
    QTest::newRow("bad repeat") << QStringList{"--sim", "--repeat", "0"} << QByteArray("A2") << 64
                                << QByteArray() << QByteArray("*");
    QTest::newRow("missing file") << QStringList{"--dry-run", "/nonexistent/x.txt"} << QByteArray()
                                  << 64 << QByteArray() << QByteArray("*");

    // The bench adapter has a temperature sensor at 0x48 and an EEPROM at 0x51.
    const QByteArray none = QByteArray(" --").repeated(16);
    const QByteArray benchGrid =
        "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n"
        "00:" +
        QByteArray(24, ' ') + QByteArray(" --").repeated(8) +
        "\n"
        "10:" +
        none + "\n20:" + none + "\n30:" + none + "\n40:" + QByteArray(" --").repeated(8) + " 48" +
        QByteArray(" --").repeated(7) + "\n50: -- 51" + QByteArray(" --").repeated(14) +
        "\n60:" + none + "\n70:" + QByteArray(" --").repeated(8) + QByteArray(24, ' ') + "\n";
    QTest::newRow("scan by quick write")
        << QStringList{"--sim", "--scan"} << QByteArray() << 0 << benchGrid << QByteArray();
    QTest::newRow("scan by reading, 100 kHz")
        << QStringList{"--sim", "--scan-read", "--clock", "100"} << QByteArray() << 0 << benchGrid
        << QByteArray();
    QTest::newRow("scan, both probes named") << QStringList{"--sim", "--scan", "--scan-read"}
                                             << QByteArray() << 0 << benchGrid << QByteArray();
    QTest::newRow("scan without an adapter")
        << QStringList{"--scan"} << QByteArray() << 3 << QByteArray()
        << QByteArray("~Error: Device not found.\n");
    QTest::newRow("scan on an adapter that is not there")
        << QStringList{"--sim", "--scan", "--device", "1"} << QByteArray() << 3 << QByteArray()
        << QByteArray("Error: Device not found.\n");
    QTest::newRow("scan takes no script") << QStringList{"--sim", "--scan", "x.txt"} << QByteArray()
                                          << 64 << QByteArray() << QByteArray("*");
    QTest::newRow("scan and list") << QStringList{"--sim", "--scan", "--list"} << QByteArray() << 64
                                   << QByteArray() << QByteArray("*");
    QTest::newRow("log without sends") << QStringList{"--sim", "--scan", "--log", "x.csv"}
                                       << QByteArray() << 64 << QByteArray() << QByteArray("*");
    QTest::newRow("log that cannot be written")
        << QStringList{"--sim", "--log", "/nonexistent/dir/log.csv"} << QByteArray("91 FF ;") << 64
        << QByteArray()
        << QByteArray("brantle-cli: cannot write the log /nonexistent/dir/log.csv: No such file "
                      "or directory\n");
}

void TestCli::runs() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    expectRun(arguments, input, exitCode, out, err);
}

// --firmware: the image in a file goes down instead of the built-in one; a
// file that is not a whole image fails the download with its usual error
// and a line that says why, and code that never answers fails the exchange
// with a device error, without the tool hanging.
void TestCli::firmwareImage_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    QFile built(QStringLiteral(BRANTLE_FIRMWARE_IMAGE));
    QVERIFY(built.open(QIODevice::ReadOnly));
    const QByteArray image = built.readAll();
    QCOMPARE(image.size(), 16384);
    // 8051 "SJMP $" all over the RAM: it runs, and answers nothing.
    QByteArray spin;
    while (spin.size() < image.size())
        spin += QByteArray::fromHex("80FE");

    QTest::newRow("the built image") << write("built.bix", image) << 0
                                     << QByteArray("90 00 , 91 19 00 ;\n") << QByteArray("OK.\n");
    QTest::newRow("missing file")
        << m_dir.filePath("missing.bix") << 3 << QByteArray()
        << QByteArray("Error: Fail to send firmware.\nbrantle-cli: firmware image " +
                      m_dir.filePath("missing.bix").toUtf8() + ": No such file or directory\n");
    const QString truncated = write("truncated.bix", image.left(1000));
    QTest::newRow("truncated file")
        << truncated << 3 << QByteArray()
        << QByteArray("Error: Fail to send firmware.\nbrantle-cli: firmware image " +
                      truncated.toUtf8() +
                      ": 1000 bytes; an image is the adapter's whole RAM, 16384 bytes\n");
    QTest::newRow("code that never answers")
        << write("spin.bix", spin) << 3 << QByteArray() << QByteArray("~Error: F");
}

void TestCli::firmwareImage() {
    QFETCH(QString, image);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QVERIFY(!image.isEmpty());

    QElapsedTimer clock;
    clock.start();
    expectRun({"--sim", "--firmware", image}, "90 00 , 91 FF FF ;", exitCode, out, err);
    // Whatever the image, the answer comes within the host's own time-outs.
    QVERIFY2(clock.elapsed() < 25000, qPrintable(QString::number(clock.elapsed())));
}

// The log is read back with an independent CSV reader: one row per send,
// its fields as sent and received, texts with commas, quotes and line breaks
// intact.
void TestCli::logRecordsEverySend() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sends.csv"));
    QProcessEnvironment india = QProcessEnvironment::systemEnvironment();
    india.insert(QStringLiteral("TZ"), QStringLiteral("IST-5:30"));
    const QString sim = QStringLiteral("FX2 I2C Adapter (simulated) - [1]");
    const QByteArray sensor("91 FF ;");
    const QByteArray absent("A0 00 , A1 FF ;");
    const QByteArray malformed("A2 00 ;\n[wait \"x,y\"\n]");
    const QByteArray tooLarge = "A2 " + QByteArray("00 ").repeated(6000) + ";";
    struct Send {
        QStringList arguments;
        QByteArray script;
        int exitCode;
        int rows;
    } const sends[] = {
        {{"--sim", "--repeat", "3", "--interval", "0"}, sensor, 0, 3},
        {{"--sim", "--clock", "100"}, absent, 1, 1},
        {{"--sim"}, malformed, 2, 1},
        {{}, sensor, 3, 1},
        {{"--sim"}, tooLarge, 3, 1},
    };
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    for (const Send &send : sends) {
        const Run run = cli(send.arguments + QStringList{"--log", path}, send.script, india);
        QCOMPARE(run.exitCode, send.exitCode);
    }
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    QString error;
    const QList<QStringList> rows = readCsv(path, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(rows.size(), 1 + 3 + 1 + 1 + 1 + 1);
    QCOMPARE(rows[0], (QStringList{"time", "adapter", "clock_khz", "outcome", "stream", "reply"}));
    const QString sensorStream = dryRun(sensor);
    const QString absentAt100 = QString::fromUtf8(
        cli({QStringLiteral("--dry-run"), QStringLiteral("--clock"), QStringLiteral("100")}, absent)
            .out.trimmed());
    const QString tooLargeText =
        QStringLiteral(
            "Error: The data is too large for the USB device. (%1 byte, limit 11912 byte)")
            .arg(QByteArray::fromHex(dryRun(tooLarge).toLatin1().replace(' ', "")).size() + 4 + 1);
    const QList<QStringList> expected = {
        {sim, "400", "OK", sensorStream, "19 00"},
        {sim, "400", "OK", sensorStream, "19 00"},
        {sim, "400", "OK", sensorStream, "19 00"},
        {sim, "100", "NoAck", absentAt100, "FF 40"},
        {sim, "400", "Parse Error: '[wait \"x,y\"\n]' was not possible to interpret it. ", "", ""},
        {"", "400", "Error: Device not found.", sensorStream, ""},
        {sim, "400", tooLargeText, dryRun(tooLarge), ""},
    };
    const QRegularExpression isoLocal(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\+05:30$"));
    for (int i = 0; i < expected.size(); ++i) {
        const QStringList &row = rows[i + 1];
        QCOMPARE(row.size(), 6);
        QVERIFY2(isoLocal.match(row[0]).hasMatch(), qPrintable(row[0]));
        const QDateTime time = QDateTime::fromString(row[0], Qt::ISODateWithMs);
        QVERIFY2(time >= before && time <= after, qPrintable(row[0]));
        QCOMPARE(row[4], expected[i][3]);
        QCOMPARE(row[1], expected[i][0]);
        QCOMPARE(row[2], expected[i][1]);
        QCOMPARE(row[3], expected[i][2]);
        QCOMPARE(row[5], expected[i][4]);
    }
    // Appending to a log that exists adds rows, not a second header.
    QCOMPARE(cli({"--sim", "--log", path}, sensor).exitCode, 0);
    QCOMPARE(readCsv(path, &error).size(), rows.size() + 1);
}

// A log that cannot take the next row (here: the file-size limit, as a full
// disk would) ends the run with its own status, not with a lost record.
void TestCli::logThatStopsGrowingEndsTheRun() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("full.csv"));
    const Run run = cli({"--sim", "--repeat", "5", "--interval", "0", "--log", path}, "91 FF ;",
                        QProcessEnvironment::systemEnvironment(), [] {
                            std::signal(SIGXFSZ, SIG_IGN);
                            rlimit limit{200, 200};
                            setrlimit(RLIMIT_FSIZE, &limit);
                        });
    QCOMPARE(run.exitCode, 74);
    QVERIFY2(run.err.contains("brantle-cli: cannot write the log " + path.toUtf8() + ": "),
             run.err.constData());
    QString error;
    const QList<QStringList> rows = readCsv(path, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(rows.size(), 2); // what fits: the header and whole rows only
    QCOMPARE(run.out.count("91 19 ;\n"), 2);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
