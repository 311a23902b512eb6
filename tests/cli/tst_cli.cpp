#include "AdapterSession.h"
#include "Brantle2.h"
#include "BrantleVersion.h"
#include "CliRun.h"
#include "CsvReader.h"
#include "ExitStatus.h"
#include "GenericUsbDriver.h"
#include "PrintedLines.h"
#include "ScriptErrorReport.h"
#include "ScriptInput.h"
#include "ScriptSender.h"
#include "SimUsbStack.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#ifndef _WIN32
#include <csignal>
#include <iterator>
#include <sys/resource.h>
#endif

namespace {

// Why `path` cannot be opened, as the tool passes it on from the file layer.
// Windows words the reason itself (in the user's language); elsewhere it is
// the C library's text for a missing file or folder.
QByteArray missingReason(const QString &path, QIODevice::OpenMode mode) {
#ifdef _WIN32
    QFile file(path);
    if (file.open(mode))
        return "opened " + path.toLocal8Bit();
    return file.errorString().toLocal8Bit();
#else
    Q_UNUSED(path);
    Q_UNUSED(mode);
    return "No such file or directory";
#endif
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
    // The standard simulated bench keeps its EEPROM in the user's data
    // folder: every run here gets a folder of the test's own.
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("data"))));
    }
    void benchTools_data();
    void benchTools();
    void errorReport_data();
    void errorReport();
    void errorLandsWhereItWasPut();
    void runs_data();
    void runs();
    void firmwareImage_data();
    void firmwareImage();
    void exampleOnImage_data();
    void exampleOnImage();
    void logRecordsEverySend();
    void logThatStopsGrowingEndsTheRun();
    void inputLimit_data();
    void inputLimit();
    void runningOutOfMemoryEndsInAMessage();
    void repeatExitsWithTheWorstStatus_data();
    void repeatExitsWithTheWorstStatus();
    void simulatedAdapterKeepsWallClockTime_data();
    void simulatedAdapterKeepsWallClockTime();
    void hostTimeOutEndsTheExchange();
    void windowProgramsAnswerWithoutADisplay_data();
    void windowProgramsAnswerWithoutADisplay();
};

QString TestCli::write(const QString &name, const QByteArray &bytes) {
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

void TestCli::errorReport_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("report");

    QTest::newRow("first line") << "f"
                                << "A2 0 ;" << 3 << 1 << "m"
                                << "f:1:4: m\nA2 0 ;\n   ^\n";
    QTest::newRow("later line, wider span") << "f"
                                            << "// x\nA2 A2A3 ;\n"
                                            << 8 << 4 << "m"
                                            << "f:2:4: m\nA2 A2A3 ;\n   ^^^^\n";
    QTest::newRow("tabs stay tabs") << "f"
                                    << "\tA2\t0" << 4 << 1 << "m"
                                    << "f:1:5: m\n\tA2\t0\n\t  \t^\n";
    QTest::newRow("span running on past the line") << "f"
                                                   << "A2 [x\n] 00" << 3 << 4 << "m"
                                                   << "f:1:4: m\nA2 [x\n   ^^\n";
    QTest::newRow("empty span still marked") << "f"
                                             << "A2 ," << 3 << 0 << "m"
                                             << "f:1:4: m\nA2 ,\n   ^\n";
    QTest::newRow("at a line end") << "f"
                                   << "A2\r\n;" << 2 << 1 << "m"
                                   << "f:1:3: m\nA2\r\n  ^\n";
    QTest::newRow("index past the end") << "f"
                                        << "A2" << 9 << 1 << "m"
                                        << "f:1:3: m\nA2\n  ^\n";
    QTest::newRow("first character, newlines after it") << "-"
                                                        << ";\nA2 10 ;\n"
                                                        << 0 << 1 << "m"
                                                        << "-:1:1: m\n;\n^\n";
    QTest::newRow("first character of a later line") << "-"
                                                     << "A2 ;\nQ\n"
                                                     << 5 << 1 << "m"
                                                     << "-:2:1: m\nQ\n^\n";
    QTest::newRow("place markers in the file name and message")
        << "a%1b%3%2.txt"
        << "Q" << 0 << 1 << "%4 %1"
        << "a%1b%3%2.txt:1:1: %4 %1\nQ\n^\n";
}

void TestCli::errorReport() {
    QFETCH(QString, file);
    QFETCH(QString, text);
    QFETCH(int, index);
    QFETCH(int, length);
    QFETCH(QString, message);
    QFETCH(QString, report);
    QCOMPARE(scriptErrorReport(file, text, index, length, message), report);
}

// Random scripts of good lines with one bad token put at a known line and
// column: the compiler finds it and the report names that place.
void TestCli::errorLandsWhereItWasPut() {
    const QStringList good = {"A2 00 ;",  "// comment ; Q\t",   "",
                              "[wait 1]", "90 00 , 91 FF FF ;", "\t A2\t01 02 ;  "};
    const QStringList bad = {"Q", "0", ";", "ABC", "[nope]", ","};
    QRandomGenerator random(20261208);
    for (int round = 0; round < 500; ++round) {
        QStringList lines;
        const int before = int(random.bounded(6));
        for (int i = 0; i < before; ++i)
            lines << good.at(int(random.bounded(good.size())));
        const QString lead =
            QString(int(random.bounded(4)), u' ') + QString(int(random.bounded(2)), u'\t');
        const QString token = bad.at(int(random.bounded(bad.size())));
        // A lone "," is only wrong right before a stop.
        const QString tail = token == QLatin1String(",") ? QStringLiteral(" ;") : QString();
        lines << lead + token + tail + QStringLiteral(" A2 00 ;");
        const int after = int(random.bounded(4));
        for (int i = 0; i < after; ++i)
            lines << good.at(int(random.bounded(good.size())));
        const QString script = lines.join(u'\n') + (random.bounded(2) ? "\n" : "");

        Brantle2 converter;
        QString text = script;
        QByteArray stream;
        try {
            converter.convert(text, Brantle2::Compile, stream);
            QFAIL(qPrintable(QStringLiteral("compiled: ") + script));
        } catch (const ScriptParseError &e) {
            const QString report =
                scriptErrorReport(QStringLiteral("s"), script, e.index, e.length, e.message);
            // The "," error is the stop after it, one blank on.
            const int column = int(lead.size()) + 1 + (tail.isEmpty() ? 0 : 2);
            const QString place = QStringLiteral("s:%1:%2: ").arg(before + 1).arg(column);
            QVERIFY2(report.startsWith(place), qPrintable(script + "\n=> " + report));
            // The message may quote several lines; the faulty line follows it.
            QVERIFY(report.contains(u'\n' + lines.at(before) + u'\n'));
        }
    }
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
        << QByteArray("91 19 ;\n91 19 ;\n91 19 ;\n")
        << QByteArray("OK.\nOK.\nOK.\n3 sends: 3 OK, 0 NoAck, 0 errors\n");
    QTest::newRow("repeated NoAck: worst status and summary")
        << QStringList{"--sim", "--repeat", "2", "--interval", "0"} << QByteArray("A0 00 ;") << 1
        << QByteArray("A0 00 ;\nA0 00 ;\n")
        << QByteArray("NoAck\nNoAck\n2 sends: 0 OK, 2 NoAck, 0 errors\n");
    QTest::newRow("repeated script error")
        << QStringList{"--sim", "--repeat", "2", "--interval", "0"} << QByteArray("Q") << 2
        << QByteArray() << QByteArray("~2 sends: 0 OK, 0 NoAck, 2 errors\n");
    // Numbered as --device takes them; the USB address stays in the name.
    QTest::newRow("list the simulated adapter")
        << QStringList{"--sim", "--list"} << QByteArray() << 0
        << QByteArray("0: FX2 I2C Adapter (simulated) - [1]\n") << QByteArray();
    // The script as the window reads a file: Windows line ends and a
    // byte-order mark make no difference.
    QTest::newRow("Windows line ends")
        << QStringList{"--dry-run"} << QByteArray("A2 00 ,\r\nA3 FF ;\r\n") << 0
        << QByteArray("00 01 00 12 00 13 A2 00 00 00 13 A3 FF 00 14\n") << QByteArray();
    QTest::newRow("byte-order mark") << QStringList{"--sim"}
                                     << QByteArray("\xEF\xBB\xBF"
                                                   "91 FF ;\r\n")
                                     << 0 << QByteArray("91 19 ;\n") << QByteArray("OK.\n");
    // Standard input is read as bytes, as a file is: a Ctrl+Z (the end of
    // text in Windows' text mode) is just another byte of a comment.
    QTest::newRow("Ctrl+Z byte in a comment")
        << QStringList{"--dry-run"} << QByteArray("// \x1a\nA2 00 ;") << 0
        << QByteArray("00 01 00 12 00 13 A2 00 00 00 14\n") << QByteArray();
    QTest::newRow("no such adapter")
        << QStringList{"--sim", "--device", "1"} << QByteArray("A2 00") << 3 << QByteArray()
        << QByteArray("Error: Device not found.\n");
    QTest::newRow("list without --sim and no adapter plugged in: what to install")
        << QStringList{"--list"} << QByteArray() << 3 << QByteArray()
        << QByteArray("~USB ID 04B4:8613");
    QTest::newRow("without --sim and no adapter plugged in")
        << QStringList{} << QByteArray("A2 00") << 3 << QByteArray()
        << QByteArray("~Error: Device not found.\n");
    const QByteArray hint("Usage: brantle-cli [options] [SCRIPT]\n"
                          "Try 'brantle-cli --help' for more information.\n");
    QTest::newRow("version") << QStringList{"--version"} << QByteArray() << 0
                             << QByteArray("brantle-cli " BRANTLE_VERSION "\n") << QByteArray();
    QTest::newRow("bad clock") << QStringList{"--dry-run", "--clock", "200"} << QByteArray("A2")
                               << 64 << QByteArray()
                               << "brantle-cli: --clock must be 100 or 400, not 200\n" + hint;
    QTest::newRow("bad repeat") << QStringList{"--sim", "--repeat", "0"} << QByteArray("A2") << 64
                                << QByteArray()
                                << "brantle-cli: --repeat needs a number of at least 1, not 0\n" +
                                       hint;
    QTest::newRow("repeat not a number")
        << QStringList{"--repeat", "x"} << QByteArray("A2") << 64 << QByteArray() << "~" + hint;
    QTest::newRow("bad interval") << QStringList{"--interval", "-5"} << QByteArray("A2") << 64
                                  << QByteArray() << "~" + hint;
    QTest::newRow("bad device") << QStringList{"--device", "one"} << QByteArray("A2") << 64
                                << QByteArray() << "~" + hint;
    QTest::newRow("unknown option")
        << QStringList{"--dry-run", "--colck", "100"} << QByteArray("A2") << 64 << QByteArray()
        << "brantle-cli: Unknown option 'colck'.\n" + hint;
    QTest::newRow("option without its value")
        << QStringList{"--clock"} << QByteArray("A2") << 64 << QByteArray() << "~" + hint;
    QTest::newRow("two scripts") << QStringList{"--dry-run", "a", "b"} << QByteArray() << 64
                                 << QByteArray() << "brantle-cli: one script at a time\n" + hint;
    QTest::newRow("help names the statuses") << QStringList{"--help"} << QByteArray() << 0
                                             << QByteArray("~64 usage error") << QByteArray();
    QTest::newRow("help names the program, not its path")
        << QStringList{"--help"} << QByteArray() << 0
        << QByteArray("~Usage: brantle-cli [options] [SCRIPT]\n") << QByteArray();
    QTest::newRow("help gives the longest wait and the manual")
        << QStringList{"-h"} << QByteArray() << 0
        << QByteArray("~up to 1310.7 ms, in steps of 0.02 ms") << QByteArray();
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
        << QStringList{"--sim", "--log", "/nonexistent/dir/log.csv"} << QByteArray("91 FF ;") << 74
        << QByteArray()
        << "brantle-cli: cannot write the log /nonexistent/dir/log.csv: " +
               missingReason(QStringLiteral("/nonexistent/dir/log.csv"),
                             QIODevice::ReadWrite | QIODevice::Append) +
               '\n';
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
// and a line that says why.
void TestCli::firmwareImage_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    QFile built(QStringLiteral(BRANTLE_FIRMWARE_IMAGE));
    QVERIFY(built.open(QIODevice::ReadOnly));
    const QByteArray image = built.readAll();
    QCOMPARE(image.size(), 16384);

    QTest::newRow("the built image") << write("built.bix", image) << 0
                                     << QByteArray("90 00 , 91 19 00 ;\n") << QByteArray("OK.\n");
    QTest::newRow("missing file")
        << m_dir.filePath("missing.bix") << 3 << QByteArray()
        << QByteArray("Error: Fail to send firmware.\nbrantle-cli: firmware image " +
                      m_dir.filePath("missing.bix").toUtf8() + ": " +
                      missingReason(m_dir.filePath("missing.bix"), QIODevice::ReadOnly) + '\n');
    const QString truncated = write("truncated.bix", image.left(1000));
    QTest::newRow("truncated file")
        << truncated << 3 << QByteArray()
        << QByteArray("Error: Fail to send firmware.\nbrantle-cli: firmware image " +
                      truncated.toUtf8() +
                      ": 1000 bytes; an image is the adapter's whole RAM, 16384 bytes\n");
}

void TestCli::firmwareImage() {
    QFETCH(QString, image);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QVERIFY(!image.isEmpty());

    expectRun({"--sim", "--firmware", image}, "90 00 , 91 FF FF ;", exitCode, out, err);
}

// The example script on the simulated adapter with the image we build, read
// from its file: it reads the EEPROM.
void TestCli::exampleOnImage_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("the built image")
        << QStringLiteral(BRANTLE_FIRMWARE_IMAGE) << 0
        << QByteArray("~A2 00 00 ; A3 \n00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n")
        << QByteArray("OK.\n");
}

void TestCli::exampleOnImage() {
    QFETCH(QString, image);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QVERIFY2(QFile::exists(image), qPrintable(image));
    expectRun(
        {"--sim", "--firmware", image, QStringLiteral(BRANTLE_EXAMPLES_DIR "/eeprom-read.txt")},
        QByteArray(), exitCode, out, err);
}

// The log is read back with an independent CSV reader: one row per send,
// its fields as sent and received, texts with commas, quotes and line breaks
// intact.
void TestCli::logRecordsEverySend() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sends.csv"));
    // Local time with its offset from UTC: a zone with half hours where TZ
    // sets the zone of one process. On Windows the zone is a system setting
    // and TZ is honoured only in part (the offset moved, the local time did
    // not), so there the log is checked against the system's zone instead.
    QProcessEnvironment zone = QProcessEnvironment::systemEnvironment();
#ifdef _WIN32
    const QString offset = QStringLiteral("[+-]\\d{2}:\\d{2}");
#else
    zone.insert(QStringLiteral("TZ"), QStringLiteral("IST-5:30"));
    const QString offset = QStringLiteral("\\+05:30");
#endif
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
        const Run run = cli(send.arguments + QStringList{"--log", path}, send.script, zone);
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
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{3}") + offset + u'$');
    for (int i = 0; i < expected.size(); ++i) {
        const QStringList &row = rows[i + 1];
        QCOMPARE(row.size(), 6);
        QVERIFY2(isoLocal.match(row[0]).hasMatch(), qPrintable(row[0]));
        const QDateTime time = QDateTime::fromString(row[0], Qt::ISODateWithMs);
        QVERIFY2(time >= before && time <= after, qPrintable(row[0]));
#ifdef _WIN32
        QCOMPARE(time.offsetFromUtc(), time.toLocalTime().offsetFromUtc());
#endif
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
#ifdef _WIN32
    QSKIP("no limit on file sizes on Windows to make the log's disk look full");
#else
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
#endif
}

void TestCli::inputLimit_data() {
    QTest::addColumn<QString>("source"); // "device", "file" or "pipe"
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("exitCode");

    const qint64 limit = ScriptInput::DefaultLimit;
    QTest::newRow("endless device") << "device" << qint64(0) << 2;
    QTest::newRow("file one byte too large") << "file" << limit + 1 << 2;
    QTest::newRow("huge file") << "file" << (qint64(1) << 34) << 2;
    QTest::newRow("file at the limit") << "file" << limit << 0;
    QTest::newRow("pipe one byte too large") << "pipe" << limit + 1 << 2;
}

// brantle-cli stops reading past 64 MiB with a message and exit 2, whatever
// the script comes from; a regular file is judged by its size alone.
void TestCli::inputLimit() {
    QFETCH(QString, source);
    QFETCH(qint64, size);
    QFETCH(int, exitCode);

    QTemporaryDir dir;
    QString name = QStringLiteral("-");
    if (source == QLatin1String("device")) {
#ifdef _WIN32
        QSKIP("Windows has no endless device such as /dev/zero; the pipe is read in pieces too");
#endif
        name = QStringLiteral("/dev/zero");
    } else if (source == QLatin1String("file")) {
        // Sparse: blanks would take as long to write as to read; zero bytes
        // are no script, but a file this size is refused before its bytes matter.
        name = dir.filePath(QStringLiteral("big.txt"));
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));
        if (exitCode == 0) {
            // A script at the limit is read and compiled: blanks only.
            QVERIFY(file.seek(0));
            QVERIFY(file.write(QByteArray(int(size), ' ')) == size);
        }
    }
    QProcess cli;
    cli.start(QStringLiteral(BRANTLE_CLI), {QStringLiteral("--dry-run"), name});
    QVERIFY(cli.waitForStarted());
    if (source == QLatin1String("pipe")) {
        const QByteArray block(1024 * 1024, ' ');
        for (qint64 sent = 0; sent < size; sent += block.size())
            cli.write(block.left(int(qMin<qint64>(block.size(), size - sent))));
    }
    cli.closeWriteChannel();
    QVERIFY(cli.waitForFinished(120000));
    const QByteArray err = printedLines(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), exitCode);
    if (exitCode == 0) {
        QCOMPARE(printedLines(cli.readAllStandardOutput()), QByteArray("00 01 00 12\n"));
    } else {
        QCOMPARE(err,
                 "brantle-cli: " + name.toLocal8Bit() + ": the script is larger than 64 MiB\n");
    }
}

// A script within the size limit that needs more memory than the process
// may have: the allocation failure is reported, not an abort.
void TestCli::runningOutOfMemoryEndsInAMessage() {
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer needs more address space than the limit leaves");
#elif defined(_WIN32)
    QSKIP("no limit on a process's address space on Windows");
#else
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("large.txt"));
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const QByteArray line = QByteArray("00 ").repeated(20) + '\n';
    const QByteArray block = line.repeated(1024 * 1024 / line.size());
    for (int i = 0; i < 60; ++i)
        QVERIFY(file.write(block) == block.size());
    file.close();

    QProcess cli;
    cli.setChildProcessModifier([] {
        const rlim_t bytes = rlim_t(250) * 1024 * 1024;
        const rlimit limit{bytes, bytes};
        setrlimit(RLIMIT_AS, &limit);
    });
    cli.start(QStringLiteral(BRANTLE_CLI), {QStringLiteral("--dry-run"), name});
    QVERIFY(cli.waitForFinished(120000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.readAllStandardError(), QByteArray("brantle-cli: out of memory\n"));
    QCOMPARE(cli.exitCode(), int(ExitDeviceError));
#endif
}

void TestCli::repeatExitsWithTheWorstStatus_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("faults"); // per send: "-" nothing, "n" NoAck, "e" a failed reply
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("summary");

    QTest::newRow("all OK") << "A2 00 ;"
                            << "---" << 0 << "3 sends: 3 OK, 0 NoAck, 0 errors";
    QTest::newRow("NoAck before OK") << "A2 00 ;"
                                     << "n-" << 1 << "2 sends: 1 OK, 1 NoAck, 0 errors";
    QTest::newRow("error before NoAck") << "A2 00 ;"
                                        << "en" << 3 << "2 sends: 0 OK, 1 NoAck, 1 errors";
    QTest::newRow("error in the middle") << "A2 00 ;"
                                         << "-e-n-" << 3 << "5 sends: 3 OK, 1 NoAck, 1 errors";
    QTest::newRow("script error outranks NoAck") << "A2 00 0"
                                                 << "--" << 2 << "2 sends: 0 OK, 0 NoAck, 2 errors";
    QTest::newRow("one send, no summary") << "A2 00 ;"
                                          << "n" << 1 << "";
}

void TestCli::repeatExitsWithTheWorstStatus() {
    QFETCH(QString, script);
    QFETCH(QString, faults);
    QFETCH(int, status);
    QFETCH(QString, summary);

    SimUsbStack stack;
    stack.plugBenchAdapter(AdapterSession::readFirmware());
    GenericUsbDriver driver(stack);
    AdapterSession session(driver);
    for (int i = 0; i < faults.size(); ++i) {
        using Kind = SimUsbStack::TransferKind;
        using Action = SimUsbStack::FaultAction;
        if (faults.at(i) == u'n')
            stack.injectFault(Kind::BulkIn, i + 1, Action::ForceStatus, 0x40);
        else if (faults.at(i) == u'e')
            stack.injectFault(Kind::BulkIn, i + 1, Action::Fail);
    }
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    ScriptSender sender(session, driver, outStream, errStream);
    QCOMPARE(sender.repeat(QStringLiteral("-"), script, 1, int(faults.size()), 0), status);
    const QStringList lines = err.split(u'\n', Qt::SkipEmptyParts);
    if (summary.isEmpty())
        QCOMPARE(lines.size(), 1);
    else
        QCOMPARE(lines.last(), summary);
}

// With --sim the firmware runs on the emulated chip in step with the wall
// clock: waits take their time, and the EEPROM finishes its write cycle
// while the tool waits between sends.
void TestCli::simulatedAdapterKeepsWallClockTime_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("err");
    QTest::addColumn<int>("leastMs");
    QTest::newRow("a wait of 500 ms takes half a second")
        << QStringList{"--sim"} << QByteArray("[wait 500]") << 0 << QByteArray("OK.\n") << 500;
    QTest::newRow("the write cycle ends between sends")
        << QStringList{"--sim", "--repeat", "3", "--interval", "200"} << QByteArray("A2 00 10 55 ;")
        << 0 << QByteArray("OK.\nOK.\nOK.\n3 sends: 3 OK, 0 NoAck, 0 errors\n") << 400;
}

void TestCli::simulatedAdapterKeepsWallClockTime() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, err);
    QFETCH(int, leastMs);
    QElapsedTimer clock;
    clock.start();
    const Run run = cli(arguments, input);
    const qint64 ms = clock.elapsed();
    QCOMPARE(run.err, err);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(ms >= leastMs, qPrintable(QString::number(ms)));
}

// Where no answer comes, the host's 10 s reply time-out ends the exchange
// with a device error, without the tool hanging: code that never answers
// ("SJMP $" all over the RAM), an image whose auto-pointer data registers
// sit at SFR addresses (as an earlier register header had them: it takes
// the download and the inquiry but never answers a transaction), and a
// transaction that takes longer than the time-out on the wall clock. The
// three wait at once.
void TestCli::hostTimeOutEndsTheExchange() {
    QByteArray spin;
    while (spin.size() < 16384)
        spin += QByteArray::fromHex("80FE");
    const QByteArray receiveError("Error: Fail to receive Brantle data from USB device.\n");
    struct Case {
        QStringList arguments;
        QByteArray input;
        QByteArray err;
        qint64 leastMs;
    };
    const Case cases[] = {
        {{"--sim", "--firmware", write("spin.bix", spin)}, "90 00 , 91 FF FF ;", "~Error: F", 0},
        {{"--sim", "--firmware", QStringLiteral(BRANTLE_OLD_AUTOPOINTER_IMAGE),
          QStringLiteral(BRANTLE_EXAMPLES_DIR "/eeprom-read.txt")},
         QByteArray(),
         receiveError,
         0},
        {{"--sim"}, QByteArray("[wait 1310.7]").repeated(8), receiveError, 10000},
    };
    constexpr int count = int(std::size(cases));
    QProcess processes[count];
    qint64 tookMs[count] = {-1, -1, -1};
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    int running = count;
    for (int i = 0; i < count; ++i) {
        connect(&processes[i], &QProcess::finished, &loop, [&, i] {
            tookMs[i] = clock.elapsed();
            if (--running == 0)
                loop.quit();
        });
        processes[i].start(QStringLiteral(BRANTLE_CLI), cases[i].arguments);
        QVERIFY(processes[i].waitForStarted());
        processes[i].write(cases[i].input);
        processes[i].closeWriteChannel();
    }
    QTimer::singleShot(40000, &loop, &QEventLoop::quit);
    loop.exec();
    for (int i = 0; i < count; ++i) {
        const QString what = cases[i].arguments.join(u' ');
        QVERIFY2(tookMs[i] >= 0, qPrintable(what));
        const QByteArray err = printedLines(processes[i].readAllStandardError());
        QVERIFY2(matches(err, cases[i].err), err.constData());
        QCOMPARE(processes[i].exitCode(), 3);
        QVERIFY2(processes[i].readAllStandardOutput().isEmpty(), qPrintable(what));
        // On time, and within the host's own time-outs.
        QVERIFY2(tookMs[i] >= cases[i].leastMs && tookMs[i] < 25000,
                 qPrintable(what + QLatin1Char(' ') + QString::number(tookMs[i])));
    }
}

// Help and version are text: the window programs give them where no display
// can be opened (a terminal over ssh, a build machine), as brantle-cli does.
void TestCli::windowProgramsAnswerWithoutADisplay_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QByteArray>("out"); // its beginning
    for (const char *program : {BRANTLE_WINDOW, BRANTLE_SIM}) {
        // The name the program gives itself: on Windows without ".exe".
        const QString name = QFileInfo(QString::fromLocal8Bit(program)).completeBaseName();
        const QByteArray usage = "Usage: " + name.toLocal8Bit() + " [options]";
        const QByteArray version = name.toLocal8Bit() + " " BRANTLE_VERSION "\n";
        QTest::addRow("%s --help", qPrintable(name)) << program << "--help" << usage;
        QTest::addRow("%s -h", qPrintable(name)) << program << "-h" << usage;
        QTest::addRow("%s --version", qPrintable(name)) << program << "--version" << version;
    }
}

void TestCli::windowProgramsAnswerWithoutADisplay() {
    QFETCH(QString, program);
    QFETCH(QString, argument);
    QFETCH(QByteArray, out);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, {argument});
    QVERIFY(process.waitForFinished(30000));
    const QByteArray printed = printedLines(process.readAllStandardOutput());
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             process.readAllStandardError().constData());
    QVERIFY2(printed.startsWith(out), printed.constData());
}

void TestCli::benchTools_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("errPart");
    const QString bench =
        write(QStringLiteral("bench.txt"), "eeprom 24c04 0x50 contents=c4.bin write-cycle=2\n"
                                           "sensor 0x48\n");
    const QString badBench = write(QStringLiteral("bad.txt"), "sensor 0x48\nsensor 0x48\n");
    const QString data = write(QStringLiteral("data.bin"), QByteArray(300, 'q'));
    const QString big = write(QStringLiteral("big.bin"), QByteArray(600, 'q'));
    const QString hex = write(QStringLiteral("bad.hex"), ":0100000041BE\n");
    const QString sim = QStringLiteral("--sim");
    const QString b = QStringLiteral("--bench");
    QTest::newRow("get a word") << QStringList{sim, "--get", "0x48", "2", "--word"} << 0
                                << QByteArray("0x4b00\n") << QByteArray();
    QTest::newRow("get from nobody") << QStringList{sim, "--get", "0x40", "0"} << 1 << QByteArray()
                                     << QByteArray("did not answer");
    QTest::newRow("set a read-only register")
        << QStringList{sim, "--set", "0x48", "0", "0x20", "--mask", "0xff"} << 1 << QByteArray()
        << QByteArray("did not acknowledge");
    QTest::newRow("8-bit address") << QStringList{sim, "--get", "0xA2", "0"} << 64 << QByteArray()
                                   << QByteArray("write 0x51, not A2");
    QTest::newRow("write, verified")
        << QStringList{sim, b, bench, "--eeprom", "24C04", "--write", data, "--offset", "0x10"} << 0
        << QByteArray() << QByteArray("Wrote and verified 0x0010-0x013B (300 bytes)");
    QTest::newRow("too large")
        << QStringList{sim, b, bench, "--eeprom", "24c04@0x50", "--write", big} << 65
        << QByteArray() << QByteArray("600 bytes from offset 0 do not fit in the 24C04 (512");
    QTest::newRow("hex without end")
        << QStringList{sim, b, bench, "--eeprom", "24c04", "--verify", hex} << 65 << QByteArray()
        << QByteArray("no end record");
    QTest::newRow("verify differs")
        << QStringList{sim, b, bench, "--eeprom", "24c04", "--verify", data, "--bench-reset"} << 5
        << QByteArray() << QByteArray("299 bytes differ");
    QTest::newRow("absent part") << QStringList{sim,          b,        bench, "--eeprom",
                                                "24c02@0x60", "--read", data}
                                 << 1 << QByteArray() << QByteArray("did not answer");
    QTest::newRow("unwritable output")
        << QStringList{sim, "--eeprom", "24c64@0x51", "--read", "/nonexistent/x.bin"} << 74
        << QByteArray() << QByteArray("cannot write /nonexistent/x.bin");
    QTest::newRow("unwritable log")
        << QStringList{sim, "--get", "0x48", "0", "--log", "/nonexistent/log.csv"} << 74
        << QByteArray() << QByteArray("cannot write the log /nonexistent/log.csv");
    QTest::newRow("bench mistake") << QStringList{sim, b, badBench, "--scan"} << 65 << QByteArray()
                                   << QByteArray("bad.txt:2: address 0x48 is already taken");
    QTest::newRow("bench without sim")
        << QStringList{b, bench, "--scan"} << 64 << QByteArray() << QByteArray("go with --sim");
    QTest::newRow("no action") << QStringList{sim, "--eeprom", "24c64"} << 64 << QByteArray()
                               << QByteArray("one of --read, --write and --verify");
}

void TestCli::benchTools() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, errPart);
    const Run run = cli(arguments, QByteArray());
    QVERIFY2(run.err.contains(errPart), run.err.constData());
    QCOMPARE(run.exitCode, status);
    if (!out.isEmpty())
        QCOMPARE(run.out, out);
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
