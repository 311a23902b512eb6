#include "CsvReader.h"
#include "TransactionCsv.h"
#include "TransactionLog.h"
#include "TransactionLogFile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

const double gap = std::numeric_limits<double>::quiet_NaN();

TransactionRecord send(int n, const QStringList &channels, const QList<double> &values,
                       const QString &outcome = TransactionRecord::ok()) {
    TransactionRecord r;
    r.time = QDateTime(QDate(2024, 5, 1), QTime(14, 3, 7, n));
    r.adapter = QStringLiteral("FX2 I2C Adapter (simulated) - [1]");
    r.clockKhz = 400;
    r.outcome = outcome;
    r.channels = channels;
    r.values = values;
    return r;
}

} // namespace

// The watched channels' columns of the log and of its CSV.
class TestChannelColumns : public QObject {
    Q_OBJECT
private slots:
    void values_data();
    void values();
    void columnsReadBackWithAnIndependentReader();
    void logFileKeepsItsColumns();
};

void TestChannelColumns::values_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("half degree") << 25.5 << "25.5";
    QTest::newRow("negative") << -0.5 << "-0.5";
    QTest::newRow("whole") << 65535.0 << "65535";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("large whole, every digit") << 9007199254740993.0 << "9007199254740992";
    QTest::newRow("binary fraction noise") << 0.1 * 3 << "0.3";
    QTest::newRow("small") << 1.25e-7 << "1.25e-07";
    QTest::newRow("gap") << gap << "";
}

void TestChannelColumns::values() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(TransactionCsv::value(value), text);
}

// Channels change while the log runs (the user edits the watch lines): every
// channel gets its column, and a row leaves empty what its send did not give.
void TestChannelColumns::columnsReadBackWithAnIndependentReader() {
    const QString temp = QStringLiteral("temp (°C)");
    const QString odd = QStringLiteral("count, \"raw\"");
    TransactionLog log;
    QSignalSpy inserted(&log, &QAbstractItemModel::columnsInserted);
    log.append(send(1, {temp}, {25.5}));
    log.append(send(2, {temp}, {gap}, QStringLiteral("Error: Device not found.")));
    log.append(send(3, {temp, odd}, {-0.5, 4660}));
    log.append(send(4, {}, {}));
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(log.columnCount(), int(TransactionLog::ColumnCount) + 2);
    QCOMPARE(log.headerData(TransactionLog::ColumnCount + 1, Qt::Horizontal).toString(), odd);
    QCOMPARE(log.index(2, TransactionLog::ColumnCount + 1).data().toString(),
             QStringLiteral("4660"));
    QCOMPARE(log.index(1, TransactionLog::ColumnCount).data().toString(), QString());

    const QByteArray csv = log.csv();
    log.clear();
    QCOMPARE(log.columnCount(), int(TransactionLog::ColumnCount));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(csv);
    file.close();
    QString error;
    const QList<QStringList> rows = readCsv(path, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(rows.size(), 5);
    QCOMPARE(rows[0].mid(6), (QStringList{temp, odd}));
    const QList<QStringList> values = {{"25.5", ""}, {"", ""}, {"-0.5", "4660"}, {"", ""}};
    for (int i = 0; i < values.size(); ++i) {
        QCOMPARE(rows[i + 1].size(), 8);
        QCOMPARE(rows[i + 1].mid(6), values[i]);
    }
}

// A file log takes rows of its own columns only: appending rows of another
// shape would leave a file no reader takes whole.
void TestChannelColumns::logFileKeepsItsColumns() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    const QStringList channels = {QStringLiteral("temp (°C)")};
    QString error;
    {
        TransactionLogFile file;
        QVERIFY(file.open(path, &error, channels));
        QVERIFY(file.append(send(1, channels, {25.0}), &error));
    }
    {
        TransactionLogFile file;
        QVERIFY2(file.open(path, &error, channels), qPrintable(error));
        QVERIFY(file.append(send(2, channels, {gap}), &error));
    }
    QFile before(path);
    QVERIFY(before.open(QIODevice::ReadOnly));
    const QByteArray contents = before.readAll();
    before.close();
    for (const QStringList &other : {QStringList(), QStringList{QStringLiteral("temp")},
                                     channels + QStringList{QStringLiteral("n")}}) {
        TransactionLogFile file;
        QVERIFY(!file.open(path, &error, other));
        QVERIFY2(error.contains(QString::fromUtf8(TransactionCsv::header(other).trimmed())),
                 qPrintable(error));
    }
    QFile after(path);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), contents);
    QString readError;
    const QList<QStringList> rows = readCsv(path, &readError);
    QVERIFY2(readError.isEmpty(), qPrintable(readError));
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[1].value(6), QStringLiteral("25"));
    QCOMPARE(rows[2].value(6), QString());
}

QTEST_GUILESS_MAIN(TestChannelColumns)
#include "tst_channelcolumns.moc"
