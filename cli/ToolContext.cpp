#include "ToolContext.h"

#include "AdapterSession.h"
#include "CCyDriverDevice.h"
#include "ExitStatus.h"
#include "TransactionLogFile.h"

#include <QTextStream>

#include <memory>

int reportDeviceError(const ToolContext &context, const QString &message, QTextStream &err) {
    // The log's own message has been printed when it failed.
    if (context.logFailed && context.logFailed())
        return ExitLogWrite;
    err << message << '\n';
    const QString more = context.explanation ? context.explanation() : QString();
    if (!more.isEmpty())
        err << more << '\n';
    err.flush();
    return ExitDeviceError;
}

ToolContext makeToolContext(AdapterSession &session, TransactionLogFile *log,
                            const QString &logName, int clock,
                            std::function<QString()> explanation) {
    auto logFailed = std::make_shared<bool>(false);
    ToolContext context;
    context.clock = clock;
    context.explanation = std::move(explanation);
    context.logFailed = [logFailed] { return *logFailed; };
    context.transact = [&session, log, logName, clock, logFailed](QByteArray &stream) {
        if (!log)
            return session.transact(stream);
        TransactionRecord record;
        record.time = QDateTime::currentDateTime();
        record.clockKhz = clock == 0 ? 100 : 400;
        const CCyDriverDevice &device = session.device();
        if (device.hasHandle())
            record.adapter = AdapterSession::listName(device.friendlyName(), device.address());
        record.stream = stream;
        bool acknowledged = false;
        QString error;
        try {
            acknowledged = session.transact(stream, &record.reply);
            record.outcome = acknowledged ? TransactionRecord::ok() : TransactionRecord::noAck();
        } catch (const QString &e) {
            error = e;
            record.outcome = e;
        } catch (const char *e) {
            error = QString::fromLatin1(e);
            record.outcome = error;
        }
        QString why;
        if (!log->append(record, &why)) {
            *logFailed = true;
            QTextStream(stderr)
                << QStringLiteral("brantle-cli: cannot write the log %1: %2\n").arg(logName, why);
            throw why;
        }
        if (!error.isNull())
            throw error;
        return acknowledged;
    };
    return context;
}
