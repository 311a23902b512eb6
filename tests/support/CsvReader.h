#ifndef BRANTLE_TESTS_CSVREADER_H
#define BRANTLE_TESTS_CSVREADER_H

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStringDecoder>
#include <QStringList>

// Reads CSV as the log promises to write it (RFC 4180, UTF-8, records ended
// by CR LF) and refuses anything else instead of guessing: a bare field with
// a quote in it, text after a closing quote, a line end other than CR LF
// outside quotes, a quoted field left open, bytes that are not UTF-8. A
// byte-order mark is kept as a character, so a header behind one does not
// match. Returns the rows, or sets `error`.
inline QList<QStringList> readCsvStrictly(const QByteArray &bytes, QString *error) {
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                    QStringConverter::Flag::ConvertInitialBom);
    const QString text = utf8.decode(bytes);
    QList<QStringList> rows;
    if (utf8.hasError()) {
        *error = QStringLiteral("csv: not UTF-8");
        return {};
    }
    const auto fail = [&](qsizetype at, const char *what) {
        *error = QStringLiteral("csv: %1 at character %2").arg(QLatin1String(what)).arg(at);
        return QList<QStringList>();
    };
    const qsizetype n = text.size();
    QStringList row;
    qsizetype i = 0;
    while (i < n) {
        QString field;
        if (text[i] == u'"') {
            for (++i;; ++i) {
                if (i >= n)
                    return fail(i, "end of data inside quotes");
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        field += u'"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i];
            }
        } else {
            for (; i < n && text[i] != u',' && text[i] != u'\r' && text[i] != u'\n'; ++i) {
                if (text[i] == u'"')
                    return fail(i, "quote in a field that is not quoted");
                field += text[i];
            }
        }
        row << field;
        if (i >= n)
            break; // the last record may lack its line end
        if (text[i] == u',') {
            ++i;
            if (i >= n)
                row << QString(); // "a," ends in an empty field
            continue;
        }
        if (text[i] != u'\r' || i + 1 >= n || text[i + 1] != u'\n')
            return fail(i, "a record not ended by CR LF");
        i += 2;
        rows << row;
        row.clear();
    }
    if (!row.isEmpty())
        rows << row;
    return rows;
}

// Reads a CSV file with the strict reader above and, where there is one,
// with Python's csv module in strict mode as well, a reader that owes nothing
// to ours: both must read the same rows. A Windows program has no python3 to
// start (what Wine finds there is a Linux program), so there the strict
// reader alone reads the file.
inline QList<QStringList> readCsv(const QString &path, QString *error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("csv: ") + file.errorString();
        return {};
    }
    QString strictError;
    const QList<QStringList> rows = readCsvStrictly(file.readAll(), &strictError);
    if (!strictError.isEmpty()) {
        *error = strictError;
        return {};
    }
#ifdef _WIN32
    return rows;
#else
    static const char *const script =
        "import csv, json, sys\n"
        "with open(sys.argv[1], newline='', encoding='utf-8', errors='strict') as f:\n"
        "    rows = list(csv.reader(f, strict=True))\n"
        "json.dump(rows, sys.stdout)\n";
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QString::fromLatin1(script), path});
    if (!python.waitForFinished(30000) || python.exitStatus() != QProcess::NormalExit ||
        python.exitCode() != 0) {
        *error = QStringLiteral("python3 csv: ") + python.errorString() + u' ' +
                 QString::fromUtf8(python.readAllStandardError());
        return {};
    }
    const QJsonArray array = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
    QList<QStringList> pythonRows;
    for (const QJsonValue &row : array) {
        QStringList fields;
        for (const QJsonValue &field : row.toArray())
            fields << field.toString();
        pythonRows << fields;
    }
    if (pythonRows != rows) {
        *error = QStringLiteral("csv: python3 reads other rows than the strict reader");
        return {};
    }
    return rows;
#endif
}

#endif
