#ifndef BRANTLE_TESTS_CSVREADER_H
#define BRANTLE_TESTS_CSVREADER_H

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStringList>

// Reads a CSV file with Python's csv module in strict mode, a reader that
// owes nothing to ours: a quoting mistake makes it fail rather than guess.
// Returns the rows, or sets `error`.
inline QList<QStringList> readCsv(const QString &path, QString *error) {
    static const char *const script =
        "import csv, json, sys\n"
        "with open(sys.argv[1], newline='', encoding='utf-8', errors='strict') as f:\n"
        "    rows = list(csv.reader(f, strict=True))\n"
        "json.dump(rows, sys.stdout)\n";
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QString::fromLatin1(script), path});
    QList<QStringList> rows;
    if (!python.waitForFinished(30000) || python.exitStatus() != QProcess::NormalExit ||
        python.exitCode() != 0) {
        *error = QStringLiteral("python3 csv: ") + python.errorString() + u' ' +
                 QString::fromUtf8(python.readAllStandardError());
        return rows;
    }
    const QJsonArray array = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
    for (const QJsonValue &row : array) {
        QStringList fields;
        for (const QJsonValue &field : row.toArray())
            fields << field.toString();
        rows << fields;
    }
    return rows;
}

// The reader is the build machine's Python, which a Windows program under
// test cannot start: there the check is skipped, the rest of a test is not.
#ifdef Q_OS_WIN
#define SKIP_WITHOUT_CSV_READER()                                                                  \
    QSKIP("the independent CSV reader (Python) cannot be started by a Windows program here")
#else
#define SKIP_WITHOUT_CSV_READER()                                                                  \
    do {                                                                                           \
    } while (false)
#endif

#endif
