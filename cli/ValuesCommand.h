#ifndef BRANTLE_VALUESCOMMAND_H
#define BRANTLE_VALUESCOMMAND_H

#include "TransactionRecord.h"
#include "WatchChannel.h"

#include <QList>

class QTextStream;

// brantle-cli --values: every send as one line on standard output, the local
// time and then each watched channel's value, tab-separated, after a header
// line of the channels' titles. A send that gave no value leaves its field
// empty.
class ValuesCommand {
public:
    // Reads the script's watch lines and checks them against the bytes the
    // script reads. ExitOk, or the status after a report on `err`: a usage
    // error when the script watches nothing, a script error for a malformed
    // watch line.
    int prepare(const QString &fileName, const QString &text, int clock, QTextStream &err);

    const QList<WatchChannel> &channels() const { return m_channels; }
    QStringList titles() const { return WatchLines::titles(m_channels); }

    void printHeader(QTextStream &out) const;
    // Gives `record` the channels and their values (gaps unless the send was
    // acknowledged) and prints its line.
    void take(TransactionRecord &record, QTextStream &out) const;

private:
    QList<WatchChannel> m_channels;
    int m_readCount = -1; // the script's read placeholders; -1 when it does not compile
};

#endif
