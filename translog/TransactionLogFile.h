#ifndef BRANTLE_TRANSACTIONLOGFILE_H
#define BRANTLE_TRANSACTIONLOGFILE_H

#include "TransactionRecord.h"

#include <QFile>

// A CSV log that grows by one row per send. A new (or empty) file gets the
// header first; an existing one is only appended to. Each row reaches the
// file before `append` returns, in one write, so that a program ended at any
// moment leaves whole rows and two writers appending to one file do not mix
// their rows (on Linux, where the system appends; on Windows each row goes
// where the file ended just before it was written).
//
// `channels` are the titles of the watched channels' columns. A file that
// exists must have the same columns: rows of another shape would make the
// whole file unreadable as CSV.
class TransactionLogFile {
public:
    bool open(const QString &path, QString *error, const QStringList &channels = {});
    bool append(const TransactionRecord &record, QString *error);

private:
    bool write(const QByteArray &bytes, QString *error);
    QFile m_file;
    QStringList m_channels;
};

#endif
