#include "TransactionLogFile.h"

#include "FileSaver.h"
#include "TransactionCsv.h"

bool TransactionLogFile::open(const QString &path, QString *error) {
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = m_file.errorString();
        return false;
    }
    return m_file.size() > 0 || write(TransactionCsv::header(), error);
}

bool TransactionLogFile::append(const TransactionRecord &record, QString *error) {
    return write(TransactionCsv::row(record), error);
}

bool TransactionLogFile::write(const QByteArray &bytes, QString *error) {
    const qint64 end = m_file.size();
    if (FileSaver::writeAll(m_file, bytes))
        return true;
    *error = m_file.errorString();
    // A row cut short would be read as a row of its own; take it back.
    m_file.resize(end);
    return false;
}
