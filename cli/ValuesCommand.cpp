#include "ValuesCommand.h"

#include "Brantle2.h"
#include "ExitStatus.h"
#include "ScanStream.h"
#include "ScriptErrorReport.h"
#include "TransactionCsv.h"

#include <QTextStream>

int ValuesCommand::prepare(const QString &fileName, const QString &text, int clock,
                           QTextStream &err) {
    try {
        m_channels = WatchLines::parse(text);
        if (m_channels.isEmpty()) {
            err << QStringLiteral("brantle-cli: --values needs watch lines in the script, such as\n"
                                  "  // watch: name=temp bytes=1-2 signed shift=7 scale=0.5 "
                                  "unit=°C\n"
                                  "Usage: brantle-cli [options] [SCRIPT]\n"
                                  "Try 'brantle-cli --help' for more information.\n");
            err.flush();
            return ExitUsage;
        }
        // A script that does not compile is reported by its sends, as without
        // --values; only one that does can tell how many bytes it reads.
        Brantle2 converter;
        converter.clock = clock;
        QString copy = text;
        QByteArray stream;
        try {
            converter.convert(copy, Brantle2::Compile, stream);
            scanStream(stream, false, &m_readCount, nullptr);
        } catch (const QString &) {
            m_readCount = -1;
        }
        if (m_readCount >= 0)
            WatchLines::checkReadCount(m_channels, m_readCount);
    } catch (const ScriptParseError &e) {
        err << scriptErrorReport(fileName, text, e.index, e.length, e.message);
        err.flush();
        return ExitScriptError;
    }
    return ExitOk;
}

void ValuesCommand::printHeader(QTextStream &out) const {
    out << "time";
    for (const QString &title : titles())
        out << '\t' << title;
    out << '\n';
    out.flush();
}

void ValuesCommand::take(TransactionRecord &record, QTextStream &out) const {
    const bool acknowledged = record.outcome == TransactionRecord::ok();
    record.channels = titles();
    record.values = WatchLines::values(
        m_channels, acknowledged ? WatchLines::readBytes(record.reply, m_readCount) : QByteArray());
    out << record.time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
    for (const double value : std::as_const(record.values))
        out << '\t' << TransactionCsv::value(value);
    out << '\n';
    out.flush();
}
