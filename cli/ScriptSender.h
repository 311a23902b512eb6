#ifndef BRANTLE_SCRIPTSENDER_H
#define BRANTLE_SCRIPTSENDER_H

#include "TransactionRecord.h"

#include <QString>

#include <functional>

class AdapterSession;
class DriverPort;
class QTextStream;

// Sends a script as the window does (compile, transact, render) and reports
// each send the way brantle-cli prints it: the result text on `out`, the
// outcome ("OK.", "NoAck", the error) on `err`.
class ScriptSender {
public:
    // What more to say about a device error (no USB access, no right to open
    // the adapter); empty when the error text says it all.
    using Explanation = std::function<QString()>;
    // Told of every send as it ends; false stops the run (the log could not
    // be written).
    using SendObserver = std::function<bool(const TransactionRecord &)>;

    // `port` is the session's; `adapter` the number of the adapter it has open.
    ScriptSender(AdapterSession &session, DriverPort &port, QTextStream &out, QTextStream &err,
                 Explanation explanation = {}, int adapter = 0);

    // One send; returns its exit status. When the adapter is no longer the
    // one the session has open (unplugged, plugged in again) or the last send
    // ended in a device error, the adapter is opened afresh first: the old
    // handle would fail every send from then on.
    // `record`, when given, receives what the send did, for the log.
    int send(const QString &fileName, const QString &script, int clock,
             TransactionRecord *record = nullptr);

    // `count` sends, `intervalMs` apart from start to start, each reported as
    // it ends. A send that takes longer than the interval is followed at once
    // by the next, never by a burst to catch up. Returns the worst status; after more than one send
    // a summary line follows on `err`. A run stopped by `observer` returns ExitLogWrite.
    int repeat(const QString &fileName, const QString &script, int clock, int count, int intervalMs,
               const SendObserver &observer = {});

    // Whether each send prints its result text on `out` (it does unless
    // told otherwise; --values prints values there instead).
    void setShowsResult(bool shows) { m_showsResult = shows; }

private:
    bool adapterChanged();

    AdapterSession &m_session;
    DriverPort &m_port;
    QTextStream &m_out;
    QTextStream &m_err;
    Explanation m_explanation;
    int m_adapter = 0;
    bool m_reopen = false;
    bool m_showsResult = true;
};

// The statuses of several sends: the worst of them, and a count by outcome.
class SendTally {
public:
    void add(int status);
    int worst() const { return m_worst; }
    // "N sends: a OK, b NoAck, c errors"
    QString summary() const;

private:
    static int rank(int status);
    int m_worst = 0;
    int m_sends = 0;
    int m_ok = 0;
    int m_noAck = 0;
    int m_errors = 0;
};

#endif
