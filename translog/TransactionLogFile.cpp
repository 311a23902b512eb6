#include "TransactionLogFile.h"

#include "FileSaver.h"
#include "TransactionCsv.h"

#include <QCoreApplication>

bool TransactionLogFile::open(const QString &path, QString *error, const QStringList &channels) {
    m_channels = channels;
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = m_file.errorString();
        return false;
    }
    if (m_file.size() == 0)
        return write(TransactionCsv::header(channels), error);
    const QByteArray header = TransactionCsv::header(channels);
    m_file.seek(0);
    const QByteArray first = m_file.read(header.size());
    if (first != header) {
        *error = QCoreApplication::translate("TransactionLog",
                                             "its columns are not those of this run (%1)")
                     .arg(QString::fromUtf8(header.trimmed()));
        m_file.close();
        return false;
    }
    return true;
}

bool TransactionLogFile::append(const TransactionRecord &record, QString *error) {
    return write(TransactionCsv::row(record, m_channels), error);
}

bool TransactionLogFile::write(const QByteArray &bytes, QString *error) {
    const qint64 end = m_file.size();
    // Append mode sends every write to the end only where the system does it
    // (O_APPEND). On Windows it only starts at the end, and reading the
    // header back left the position after it: the next row would overwrite
    // the first one.
    if (m_file.pos() != end && !m_file.seek(end)) {
        *error = m_file.errorString();
        return false;
    }
    if (FileSaver::writeAll(m_file, bytes))
        return true;
    *error = m_file.errorString();
    // A row cut short would be read as a row of its own; take it back.
    m_file.resize(end);
    return false;
}
