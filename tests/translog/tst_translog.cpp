#include "CsvReader.h"
#include "TransactionCsv.h"
#include "TransactionLog.h"
#include "TransactionLogFile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <ctime>

namespace {

TransactionRecord record(int n, const QString &outcome = TransactionRecord::ok()) {
    TransactionRecord r;
    r.time = QDateTime(QDate(2024, 5, 1), QTime(14, 3, 7, n % 1000));
    r.adapter = QStringLiteral("FX2 I2C Adapter (simulated) - [1]");
    r.clockKhz = 400;
    r.outcome = outcome;
    r.stream = QByteArray::fromHex("00010012001391ff0014");
    r.reply = QByteArray::fromHex("1900");
    r.reply[0] = char(n);
    return r;
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Local time follows TZ while it lives.
class TimeZone {
public:
    explicit TimeZone(const QByteArray &tz)
        : m_old(qgetenv("TZ")), m_had(qEnvironmentVariableIsSet("TZ")) {
        qputenv("TZ", tz);
        tzset();
    }
    ~TimeZone() {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray m_old;
    bool m_had;
};

} // namespace

class TestTransactionLog : public QObject {
    Q_OBJECT
private slots:
    void fieldQuoting_data();
    void fieldQuoting();
    void timestamps_data();
    void timestamps();
    void rowHoldsTheColumnsInOrder();
    void csvReadsBackWithAnIndependentReader();
    void logKeepsTheNewest();
    void logFileWritesTheHeaderOnce();
    void logFileThatCannotBeOpened();
};

void TestTransactionLog::fieldQuoting_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain") << "NoAck"
                           << "NoAck";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("blanks stay unquoted") << " Error: x. "
                                          << " Error: x. ";
    QTest::newRow("comma") << "Error: (9 byte, limit 8 byte)"
                           << "\"Error: (9 byte, limit 8 byte)\"";
    QTest::newRow("quotes doubled") << "'[wait \"x\"]' was"
                                    << "\"'[wait \"\"x\"\"]' was\"";
    QTest::newRow("line feed") << "a\nb"
                               << "\"a\nb\"";
    QTest::newRow("carriage return") << "a\rb"
                                     << "\"a\rb\"";
    QTest::newRow("Japanese") << "エラー：　デバイス"
                              << "エラー：　デバイス";
}

void TestTransactionLog::fieldQuoting() {
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(TransactionCsv::field(text), field);
}

void TestTransactionLog::timestamps_data() {
    QTest::addColumn<QByteArray>("tz");
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("text");
    const QDateTime utc(QDate(2024, 1, 15), QTime(5, 4, 3, 21), Qt::UTC);
    QTest::newRow("east, whole hours")
        << QByteArray("JST-9") << utc << "2024-01-15T14:04:03.021+09:00";
    QTest::newRow("west") << QByteArray("EST5") << utc << "2024-01-15T00:04:03.021-05:00";
    QTest::newRow("half hour") << QByteArray("IST-5:30") << utc << "2024-01-15T10:34:03.021+05:30";
    QTest::newRow("west, half hour")
        << QByteArray("NST3:30") << utc << "2024-01-15T01:34:03.021-03:30";
    QTest::newRow("UTC") << QByteArray("UTC0") << utc << "2024-01-15T05:04:03.021+00:00";
    QTest::newRow("summer time") << QByteArray("CET-1CEST,M3.5.0,M10.5.0/3")
                                 << QDateTime(QDate(2024, 7, 1), QTime(12, 0, 0, 999), Qt::UTC)
                                 << "2024-07-01T14:00:00.999+02:00";
    QTest::newRow("winter time") << QByteArray("CET-1CEST,M3.5.0,M10.5.0/3")
                                 << QDateTime(QDate(2024, 12, 31), QTime(23, 30), Qt::UTC)
                                 << "2025-01-01T00:30:00.000+01:00";
}

void TestTransactionLog::timestamps() {
    QFETCH(QByteArray, tz);
    QFETCH(QDateTime, time);
    QFETCH(QString, text);
#ifdef Q_OS_WIN
    if (tz.contains(','))
        QSKIP("Windows takes daylight saving time from the system, not from a rule in TZ");
#endif
    TimeZone zone(tz);
    QCOMPARE(TransactionCsv::timestamp(time), text);
}

void TestTransactionLog::rowHoldsTheColumnsInOrder() {
    TimeZone zone("JST-9");
    TransactionRecord r = record(0x19);
    r.time = QDateTime(QDate(2024, 5, 1), QTime(5, 3, 7, 125), Qt::UTC);
    QCOMPARE(TransactionCsv::header(),
             QByteArray("time,adapter,clock_khz,outcome,stream,reply\r\n"));
    QCOMPARE(TransactionCsv::row(r),
             QByteArray("2024-05-01T14:03:07.125+09:00,FX2 I2C Adapter (simulated) - [1],400,OK,"
                        "00 01 00 12 00 13 91 FF 00 14,19 00\r\n"));
    r.clockKhz = 100;
    r.outcome = QStringLiteral("Parse Error: x");
    r.stream.clear();
    r.reply.clear();
    r.adapter.clear();
    QVERIFY(TransactionCsv::row(r).endsWith(",,100,Parse Error: x,,\r\n"));
}

void TestTransactionLog::csvReadsBackWithAnIndependentReader() {
    TransactionLog log;
    const QStringList outcomes = {
        TransactionRecord::ok(),
        TransactionRecord::noAck(),
        QStringLiteral("Error: The data is too large for the USB device. (12000 byte, limit "
                       "11912 byte)"),
        QStringLiteral("Parse Error: '[wait \"x,y\"\n]' was not possible to interpret it. "),
        QStringLiteral("エラー：　デバイスが見つかりませんでした。"),
        QStringLiteral("\"\"")};
    for (int i = 0; i < outcomes.size(); ++i)
        log.append(record(i, outcomes[i]));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(log.csv());
    }
    QString error;
    const QList<QStringList> rows = readCsv(path, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(rows.size(), outcomes.size() + 1);
    QCOMPARE(rows[0], (QStringList{"time", "adapter", "clock_khz", "outcome", "stream", "reply"}));
    for (int i = 0; i < outcomes.size(); ++i) {
        const TransactionRecord &r = log.record(i);
        QCOMPARE(rows[i + 1],
                 (QStringList{TransactionCsv::timestamp(r.time), r.adapter, QStringLiteral("400"),
                              outcomes[i], QStringLiteral("00 01 00 12 00 13 91 FF 00 14"),
                              QStringLiteral("%1 00").arg(i, 2, 16, QLatin1Char('0'))}));
    }
}

void TestTransactionLog::logKeepsTheNewest() {
    TransactionLog log(3);
    QSignalSpy removed(&log, &QAbstractItemModel::rowsRemoved);
    for (int i = 0; i < 5; ++i)
        log.append(record(i, i == 4 ? TransactionRecord::noAck() : TransactionRecord::ok()));
    QCOMPARE(log.rowCount(), 3);
    QCOMPARE(removed.size(), 2);
    QCOMPARE(log.data(log.index(0, TransactionLog::ReplyColumn)).toString(),
             QStringLiteral("02 00"));
    QCOMPARE(log.data(log.index(2, TransactionLog::OutcomeColumn)).toString(),
             QStringLiteral("NoAck"));
    QCOMPARE(log.data(log.index(2, TransactionLog::TimeColumn)).toString(),
             QStringLiteral("2024-05-01 14:03:07.004"));
    QCOMPARE(log.csv().count("\r\n"), 4);
    log.clear();
    QCOMPARE(log.rowCount(), 0);
    QCOMPARE(log.csv(), TransactionCsv::header());
    QCOMPARE(TransactionLog().capacity(), 10000);
}

void TestTransactionLog::logFileWritesTheHeaderOnce() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    const QByteArray header = TransactionCsv::header();
    QString error;
    {
        TransactionLogFile file;
        QVERIFY(file.open(path, &error));
        QCOMPARE(readFile(path), header);
        QVERIFY(file.append(record(1), &error));
        // On disk at once, not when the file is closed.
        QCOMPARE(readFile(path), header + TransactionCsv::row(record(1)));
    }
    {
        TransactionLogFile file;
        QVERIFY(file.open(path, &error));
        QVERIFY(file.append(record(2), &error));
    }
    QCOMPARE(readFile(path),
             header + TransactionCsv::row(record(1)) + TransactionCsv::row(record(2)));
    // An empty file is a new one.
    const QString empty = dir.filePath(QStringLiteral("empty.csv"));
    QFile(empty).open(QIODevice::WriteOnly);
    TransactionLogFile file;
    QVERIFY(file.open(empty, &error));
    QCOMPARE(readFile(empty), header);
}

void TestTransactionLog::logFileThatCannotBeOpened() {
    QTemporaryDir dir;
    TransactionLogFile file;
    QString error;
    const QString path = dir.filePath(QStringLiteral("no/such/log.csv"));
    QVERIFY(!file.open(path, &error));
#ifdef Q_OS_WIN
    // The system's words, in the system's language.
    QFile same(path);
    QVERIFY(!same.open(QIODevice::ReadWrite));
    QVERIFY(!same.errorString().isEmpty());
    QCOMPARE(error, same.errorString());
#else
    QCOMPARE(error, QStringLiteral("No such file or directory"));
#endif
}

QTEST_GUILESS_MAIN(TestTransactionLog)
#include "tst_translog.moc"
