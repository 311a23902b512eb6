#ifndef BRANTLE_TRANSACTIONRECORD_H
#define BRANTLE_TRANSACTIONRECORD_H

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// One send as the log keeps it.
struct TransactionRecord {
    QDateTime time;    // when the send began, local time
    QString adapter;   // as the adapter list names it; empty without one
    int clockKhz = 0;  // 100 or 400
    QString outcome;   // "OK", "NoAck" or the error text
    QByteArray stream; // the command stream; empty when the script did not compile
    QByteArray reply;  // the bytes received, status byte included; empty when none came
    // The watched channels' titles ("temp (°C)") and their values from this
    // send, one each; NaN where the send gave none (it failed).
    QStringList channels;
    QList<double> values;

    static QString ok() { return QStringLiteral("OK"); }
    static QString noAck() { return QStringLiteral("NoAck"); }
};

#endif
