#ifndef BRANTLE_TRANSACTIONLOGFILE_H
#define BRANTLE_TRANSACTIONLOGFILE_H

#include "TransactionRecord.h"

#include <QFile>

// A CSV log that grows by one row per send. A new (or empty) file gets the
// header first; an existing one is only appended to. Each row reaches the
// file before `append` returns, in one write, so that a program ended at any
// moment leaves whole rows and two writers appending to one file do not mix
// their rows.
class TransactionLogFile {
public:
    bool open(const QString &path, QString *error);
    bool append(const TransactionRecord &record, QString *error);

private:
    bool write(const QByteArray &bytes, QString *error);
    QFile m_file;
};

#endif
