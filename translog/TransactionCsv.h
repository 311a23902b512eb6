#ifndef BRANTLE_TRANSACTIONCSV_H
#define BRANTLE_TRANSACTIONCSV_H

#include "TransactionRecord.h"

#include <QByteArray>
#include <QString>

// The log as CSV (RFC 4180): UTF-8, records ended by CR LF, a field quoted
// when it holds a comma, a quote or a line break, quotes inside doubled.
// Columns: time, adapter, clock_khz, outcome, stream, reply, then one per
// watched channel, titled by the channel, empty where a send gave no value.
namespace TransactionCsv {

QByteArray header(const QStringList &channels = {});
// `channels`: the channel columns of the file, which may hold more (or
// others) than this record watched.
QByteArray row(const TransactionRecord &record, const QStringList &channels = {});
// A channel's value: whole numbers in full, others to 15 significant digits
// (what a double holds without the noise of binary fractions); empty for NaN.
QString value(double value);

// ISO 8601 local time with milliseconds and the offset from UTC,
// e.g. 2024-05-01T14:03:07.125+09:00.
QString timestamp(const QDateTime &time);
// Bytes as two upper-case hex digits each, separated by blanks.
QString hex(const QByteArray &bytes);
QString field(const QString &text);

} // namespace TransactionCsv

#endif
