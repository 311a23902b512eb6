#include "CliRun.h"
#include "CsvReader.h"
#include "PrintedLines.h"

#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A script file as the user's editor saves it: in the system's 8-bit
// encoding (UTF-8 on Linux, the ANSI code page on Windows), as the tool
// reads it.
QByteArray scriptFile(const char *utf8) {
    return QString::fromUtf8(utf8).toLocal8Bit();
}

QByteArray sensorScript() {
    return scriptFile("// watch: name=temp bytes=1-2 signed shift=7 scale=0.5 unit=°C\n"
                      "// watch: name=raw bytes=1-2 order=le\n"
                      "// watch: name=high bytes=1\n"
                      "90 00 , 91 FF FF ;      // the sensor at 0x48\n");
}

} // namespace

// brantle-cli --values: channel values instead of result texts.
class TestValues : public QObject {
    Q_OBJECT
private slots:
    void linesOfValues_data();
    void linesOfValues();
    void refusals_data();
    void refusals();
    void logHasTheChannelColumns();
};

void TestValues::linesOfValues_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("fields"); // of each line after the time
    QTest::addColumn<QByteArray>("err");

    const QByteArray fixed = scriptFile("// watch: name=temp bytes=1-2 signed shift=7 scale=0.5 "
                                        "unit=°C\n"
                                        "// watch: name=raw bytes=1-2\n"
                                        "90 00 , 91 FF FF ;\n");
    QTest::newRow("sensor") << QStringList{"--sim", "--repeat", "3", "--interval", "0"} << fixed
                            << 0 << QStringList{"25\t6400", "25\t6400", "25\t6400"}
                            << QByteArray("OK.\nOK.\nOK.\n3 sends: 3 OK, 0 NoAck, 0 errors\n");
    QTest::newRow("little-endian, one byte") << QStringList{"--sim"}
                                             << QByteArray("// watch: name=n bytes=1-2 order=le\n"
                                                           "// watch: name=b bytes=1 signed\n"
                                                           "90 02 , 91 FF FF ;\n")
                                             << 0 << QStringList{"75\t75"} // limit 0x4B00
                                             << QByteArray("OK.\n");
    // A send that fails gives gaps, not zeros; the outcome goes where it
    // always goes.
    QTest::newRow("NoAck")
        << QStringList{"--sim"}
        << QByteArray("// watch: name=x bytes=1\n// watch: name=y bytes=1 offset=5\n95 FF ;\n") << 1
        << QStringList{"\t"} << QByteArray("NoAck\n");
    QTest::newRow("no adapter") << QStringList{} << fixed << 3 << QStringList{"\t"}
                                << QByteArray("Error: Device not found.\n");
}

void TestValues::linesOfValues() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, script);
    QFETCH(int, exitCode);
    QFETCH(QStringList, fields);
    QFETCH(QByteArray, err);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    const Run run = cli(arguments + QStringList{"--values"}, script);
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode == 3)
        QVERIFY2(run.err.startsWith(err), run.err.constData());
    else
        QCOMPARE(run.err, err);
    QStringList lines = QString::fromUtf8(run.out).split(u'\n');
    QCOMPARE(lines.takeLast(), QString());
    const QStringList header = lines.takeFirst().split(u'\t');
    QCOMPARE(header.first(), QStringLiteral("time"));
    QCOMPARE(header.size(), fields.first().count(u'\t') + 2);
    QCOMPARE(lines.size(), fields.size());
    for (int i = 0; i < lines.size(); ++i) {
        const int tab = int(lines[i].indexOf(u'\t'));
        const QDateTime time = QDateTime::fromString(lines[i].left(tab), Qt::ISODateWithMs);
        QVERIFY2(time.isValid() && time >= before && time <= after, qPrintable(lines[i]));
        QCOMPARE(lines[i].mid(tab + 1), fields[i]);
    }
}

void TestValues::refusals_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("no watch lines")
        << QStringList{"--sim"} << QByteArray("90 00 , 91 FF FF ;\n") << 64
        << QByteArray("brantle-cli: --values needs watch lines in the script, such as\n");
    QTest::newRow("malformed watch line")
        << QStringList{"--sim"} << QByteArray("90 00 ;\n// watch: name=t bytes=1 order=middle\n")
        << 2
        << QByteArray("-:2:32: watch: order must be be or le.\n"
                      "// watch: name=t bytes=1 order=middle\n"
                      "                               ^^^^^^\n");
    QTest::newRow("more bytes than read")
        << QStringList{"--sim"} << QByteArray("// watch: name=t bytes=2\n91 FF ;\n") << 2
        << QByteArray("-:1:24: watch: 't' needs byte 2, but the script reads 1.\n");
    QTest::newRow("dry run") << QStringList{"--dry-run"} << sensorScript() << 64
                             << QByteArray("brantle-cli: --values shows what sends read; this run "
                                           "sends nothing\n");
}

void TestValues::refusals() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, script);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, err);
    const Run run = cli(arguments + QStringList{"--values"}, script);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.startsWith(err), run.err.constData());
    QCOMPARE(run.out, QByteArray());
}

void TestValues::logHasTheChannelColumns() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("values.csv"));
    Run run = cli({"--sim", "--values", "--repeat", "2", "--interval", "0", "--log", path},
                  sensorScript());
    QCOMPARE(run.exitCode, 0);
    run = cli({"--values", "--log", path}, sensorScript()); // no adapter: a gap
    QCOMPARE(run.exitCode, 3);
    QString error;
    const QList<QStringList> rows = readCsv(path, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[0].mid(6), (QStringList{"temp (°C)", "raw", "high"}));
    QCOMPARE(rows[1].mid(6), (QStringList{"25", "25", "25"}));
    QCOMPARE(rows[2].mid(6), (QStringList{"25", "25", "25"}));
    QCOMPARE(rows[3].mid(3), (QStringList{"Error: Device not found.", rows[1][4], "", "", "", ""}));
    // The same file with other channels is refused before anything is sent.
    run = cli({"--sim", "--values", "--log", path},
              "// watch: name=other bytes=1\n90 00 , 91 FF FF ;\n");
    QCOMPARE(run.exitCode, 74);
    QVERIFY2(run.err.contains("its columns are not those of this run"), run.err.constData());
    QCOMPARE(readCsv(path, &error).size(), 4);
}

QTEST_GUILESS_MAIN(TestValues)
#include "tst_values.moc"
