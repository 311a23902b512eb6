#include "ScriptErrorReport.h"

#include <QProcess>
#include <QtTest>

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void errorReport_data();
    void errorReport();
    void dryRun_data();
    void dryRun();
};

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

void TestCli::dryRun_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    const QString example = QStringLiteral(BRANTLE_EXAMPLES_DIR "/eeprom-read.txt");
    QTest::newRow("standard input at 100 kHz")
        << QStringList{"--dry-run", "--clock", "100"} << QByteArray("A2 00 00 , A3\nFF FF ;") << 0
        << QByteArray("00 01 00 11 00 13 A2 00 00 00 00 00 13 A3 FF FF 00 14\n") << QByteArray();
    QTest::newRow("dash is standard input, 400 kHz by default")
        << QStringList{"--dry-run", "-"} << QByteArray("[wait 5]") << 0
        << QByteArray("00 01 00 12 00 30 04 01 FA 00\n") << QByteArray();
    QTest::newRow("parse error with caret")
        << QStringList{"--dry-run"} << QByteArray("// line one\nA2 0 ;\n") << 2 << QByteArray()
        << QByteArray("-:2:4: Hex data must be specify by of two digits. \nA2 0 ;\n   ^\n");
    QTest::newRow("the default script from a file")
        << QStringList{"--dry-run", example} << QByteArray() << 0 << QByteArray() << QByteArray();
    QTest::newRow("without --sim and no adapter plugged in")
        << QStringList{} << QByteArray("A2") << 3 << QByteArray() << QByteArray();
    QTest::newRow("bad clock") << QStringList{"--dry-run", "--clock", "200"} << QByteArray("A2")
                               << 64 << QByteArray()
                               << QByteArray("brantle-cli: --clock must be 100 or 400, not 200\n");
    QTest::newRow("missing file") << QStringList{"--dry-run", "/nonexistent/x.txt"} << QByteArray()
                                  << 64 << QByteArray() << QByteArray();
}

void TestCli::dryRun() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);

    QProcess cli;
    cli.start(QStringLiteral(BRANTLE_CLI), arguments);
    QVERIFY(cli.waitForStarted());
    cli.write(input);
    cli.closeWriteChannel();
    QVERIFY(cli.waitForFinished(10000));
    QCOMPARE(cli.exitCode(), exitCode);
    const QByteArray stdOut = cli.readAllStandardOutput();
    const QByteArray stdErr = cli.readAllStandardError();
    if (exitCode == 0 && out.isEmpty()) {
        // The default script: 164 bytes of stream on one line.
        QCOMPARE(stdOut.trimmed().split(' ').size(), 164);
    } else {
        QCOMPARE(stdOut, out);
    }
    if (!err.isEmpty() || exitCode == 0)
        QCOMPARE(stdErr, err);
    else
        QVERIFY(!stdErr.isEmpty());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
