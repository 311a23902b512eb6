#include "ScriptSender.h"

#include "AdapterSession.h"
#include "Brantle2.h"
#include "CCyDriverDevice.h"
#include "DriverPort.h"
#include "ExitStatus.h"
#include "ScriptErrorReport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QStringList>
#include <QTextStream>
#include <QThread>

#include <exception>

ScriptSender::ScriptSender(AdapterSession &session, DriverPort &port, QTextStream &out,
                           QTextStream &err, Explanation explanation, int adapter)
    : m_session(session), m_port(port), m_out(out), m_err(err),
      m_explanation(std::move(explanation)), m_adapter(adapter) {}

bool ScriptSender::adapterChanged() {
    const CCyDriverDevice &device = m_session.device();
    QStringList paths;
    if (!m_port.listDevices(DriverPort::adapterInterfaceClass(), paths))
        return false;
    return !device.hasHandle() || !paths.contains(device.devicePath());
}

int ScriptSender::send(const QString &fileName, const QString &script, int clock,
                       TransactionRecord *record) {
    TransactionRecord scratch;
    TransactionRecord &log = record ? *record : scratch;
    log = TransactionRecord();
    log.time = QDateTime::currentDateTime();
    log.clockKhz = clock == 0 ? 100 : 400;
    QString text = script;
    Brantle2 converter;
    converter.clock = clock;
    QByteArray stream;
    int status = ExitOk;
    try {
        if (m_reopen || adapterChanged()) {
            // Closing may fail in the driver (it raises a plain text); the
            // handle is lost either way and open() starts a new one.
            try {
                m_session.device().close();
            } catch (const char *) {
            }
            m_session.device().open(uint8_t(m_adapter));
        }
        const CCyDriverDevice &device = m_session.device();
        if (device.hasHandle())
            log.adapter = AdapterSession::listName(device.friendlyName(), device.address());
        converter.convert(text, Brantle2::Compile, stream);
        log.stream = stream;
        const bool acknowledged = m_session.transact(stream, &log.reply);
        log.outcome = acknowledged ? TransactionRecord::ok() : TransactionRecord::noAck();
        converter.convert(text, Brantle2::Render, stream);
        if (m_showsResult) {
            m_out << text;
            if (!text.endsWith(u'\n'))
                m_out << '\n';
            m_out.flush();
        }
        m_err << (acknowledged ? "OK.\n" : "NoAck\n");
        status = acknowledged ? ExitOk : ExitNoAck;
    } catch (const ScriptParseError &e) {
        log.outcome = Brantle2::messagePrefix() + e.message;
        m_err << scriptErrorReport(fileName, script, e.index, e.length, e.message);
        status = ExitScriptError;
    } catch (const QString &e) {
        log.outcome = e;
        m_err << e << '\n';
        if (e.startsWith(QLatin1String("Unexpected Error: "))) {
            status = ExitScriptError;
        } else {
            const QString more = m_explanation ? m_explanation() : QString();
            if (!more.isEmpty())
                m_err << more << '\n';
            status = ExitDeviceError;
        }
    } catch (const char *e) {
        log.outcome = QString::fromLatin1(e);
        m_err << log.outcome << '\n';
        status = ExitDeviceError;
    } catch (const std::exception &e) {
        log.outcome = QStringLiteral("Unexpected Error: ") + QString::fromLocal8Bit(e.what());
        m_err << log.outcome << '\n';
        status = ExitDeviceError;
    }
    m_err.flush();
    m_reopen = status == ExitDeviceError;
    return status;
}

int ScriptSender::repeat(const QString &fileName, const QString &script, int clock, int count,
                         int intervalMs, const SendObserver &observer) {
    SendTally tally;
    QElapsedTimer sinceStart;
    sinceStart.start();
    qint64 lastStart = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            const qint64 wait = lastStart + intervalMs - sinceStart.elapsed();
            if (wait > 0)
                QThread::msleep(quint64(wait));
        }
        lastStart = sinceStart.elapsed();
        TransactionRecord record;
        tally.add(send(fileName, script, clock, &record));
        if (observer && !observer(record))
            return ExitLogWrite;
    }
    if (count > 1) {
        m_err << tally.summary() << '\n';
        m_err.flush();
    }
    return tally.worst();
}

int SendTally::rank(int status) {
    switch (status) {
    case ExitOk:
        return 0;
    case ExitNoAck:
        return 1;
    case ExitScriptError:
        return 2;
    default:
        return 3;
    }
}

void SendTally::add(int status) {
    ++m_sends;
    if (status == ExitOk)
        ++m_ok;
    else if (status == ExitNoAck)
        ++m_noAck;
    else
        ++m_errors;
    if (rank(status) > rank(m_worst))
        m_worst = status;
}

QString SendTally::summary() const {
    return QStringLiteral("%1 sends: %2 OK, %3 NoAck, %4 errors")
        .arg(QString::number(m_sends), QString::number(m_ok), QString::number(m_noAck),
             QString::number(m_errors));
}
