#ifndef BRANTLE_TOOLCONTEXT_H
#define BRANTLE_TOOLCONTEXT_H

#include "BusStream.h"

#include <QString>

#include <functional>

class AdapterSession;
class QTextStream;
class TransactionLogFile;

// What the bench tools of brantle-cli (--eeprom, --get, --set, --dump) need
// of the run: the transaction, which also logs each one when --log is given,
// and how to explain a device error.
struct ToolContext {
    BusStream::Transact transact;
    std::function<QString()> explanation;
    // True once a row could not be written to the log: the run stops, and
    // its status is the log's.
    std::function<bool()> logFailed;
    int clock = 1;
};

// The exit status of a device error, after its text and the explanation on
// `err`; the log's status when that is why the transaction failed.
int reportDeviceError(const ToolContext &context, const QString &message, QTextStream &err);

// The context for a run on `session`: each transaction becomes a row of
// `log` (named `logName` in messages) when one is given, as a send does.
ToolContext makeToolContext(AdapterSession &session, TransactionLogFile *log,
                            const QString &logName, int clock,
                            std::function<QString()> explanation);

#endif
