#include "BrantleVersion.h"
#include "ScriptErrorReport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

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
    QProcess cli;
    cli.start(QStringLiteral(BRANTLE_CLI), arguments);
    QVERIFY(cli.waitForStarted());
    cli.write(input);
    cli.closeWriteChannel();
    QVERIFY(cli.waitForFinished(30000));
    const QByteArray stdOut = cli.readAllStandardOutput();
    const QByteArray stdErr = cli.readAllStandardError();
    QVERIFY2(matches(stdOut, out), stdOut.constData());
    QVERIFY2(matches(stdErr, err), stdErr.constData());
    QCOMPARE(cli.exitCode(), exitCode);
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

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
