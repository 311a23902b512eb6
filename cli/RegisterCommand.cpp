#include "RegisterCommand.h"

#include "EepromPart.h"
#include "ExitStatus.h"
#include "RegisterAccess.h"
#include "UsageError.h"

#include <QCommandLineParser>
#include <QTextStream>

RegisterCommand::RegisterCommand(QCommandLineParser &parser)
    : m_parser(parser),
      m_get(QStringLiteral("get"),
            QStringLiteral("Read register REG of the part at ADDR (7-bit): --get ADDR REG."),
            QStringLiteral("ADDR")),
      m_set(QStringLiteral("set"),
            QStringLiteral("Write VALUE to register REG: --set ADDR REG VALUE."),
            QStringLiteral("ADDR")),
      m_dump(QStringLiteral("dump"),
             QStringLiteral("Show the registers of the part at ADDR as a grid."),
             QStringLiteral("ADDR")),
      m_reg16(QStringLiteral("reg16"), QStringLiteral("Register addresses of two bytes.")),
      m_word(QStringLiteral("word"), QStringLiteral("16-bit values (high byte first).")),
      m_le(QStringLiteral("le"), QStringLiteral("With --word: low byte first.")),
      m_mask(QStringLiteral("mask"),
             QStringLiteral("With --set: change only these bits (read, modify, write, read "
                            "back)."),
             QStringLiteral("MASK")),
      m_first(QStringLiteral("first"), QStringLiteral("With --dump: first register (0)."),
              QStringLiteral("REG")),
      m_last(QStringLiteral("last"), QStringLiteral("With --dump: last register (0xff)."),
             QStringLiteral("REG")) {
    parser.addOptions({m_get, m_set, m_dump, m_reg16, m_word, m_le, m_mask, m_first, m_last});
}

bool RegisterCommand::requested() const {
    return m_parser.isSet(m_get) || m_parser.isSet(m_set) || m_parser.isSet(m_dump);
}

int RegisterCommand::check(const QStringList &positional) {
    if (!requested()) {
        for (const QCommandLineOption *o : {&m_reg16, &m_word, &m_le, &m_mask, &m_first, &m_last}) {
            if (m_parser.isSet(*o))
                return usageError(
                    QStringLiteral("--%1 needs --get, --set or --dump").arg(o->names().first()));
        }
        return 0;
    }
    const QCommandLineOption &command =
        m_parser.isSet(m_get) ? m_get : (m_parser.isSet(m_set) ? m_set : m_dump);
    const QString name = command.names().first();
    if (int(m_parser.isSet(m_get)) + int(m_parser.isSet(m_set)) + int(m_parser.isSet(m_dump)) > 1)
        return usageError(QStringLiteral("--get, --set and --dump exclude each other"));
    qint64 address = 0;
    if (!parseNumber(m_parser.value(command), 0x03, 0x77, &address))
        return usageError(
            QStringLiteral("%1 is not a 7-bit device address from 0x03 to 0x77 (write "
                           "0x51, not A2)")
                .arg(m_parser.value(command)));
    m_address = int(address);
    const bool reg16 = m_parser.isSet(m_reg16);
    const bool word = m_parser.isSet(m_word);
    const qint64 regMax = reg16 ? 0xFFFF : 0xFF;
    const qint64 valueMax = word ? 0xFFFF : 0xFF;
    if (m_parser.isSet(m_le) && !word)
        return usageError(QStringLiteral("--le goes with --word"));
    if (m_parser.isSet(m_mask) && !m_parser.isSet(m_set))
        return usageError(QStringLiteral("--mask goes with --set"));
    if ((m_parser.isSet(m_first) || m_parser.isSet(m_last)) && !m_parser.isSet(m_dump))
        return usageError(QStringLiteral("--first and --last go with --dump"));
    if (m_parser.isSet(m_dump) && word)
        return usageError(QStringLiteral("--dump shows bytes; --word goes with --get and --set"));

    const int arguments = m_parser.isSet(m_get) ? 1 : (m_parser.isSet(m_set) ? 2 : 0);
    if (positional.size() != arguments)
        return usageError(m_parser.isSet(m_get)   ? QStringLiteral("usage: --get ADDR REG")
                          : m_parser.isSet(m_set) ? QStringLiteral("usage: --set ADDR REG VALUE")
                                                  : QStringLiteral("usage: --dump ADDR"));
    auto number = [&](const QString &what, const QString &text, qint64 max, qint64 *value) {
        if (parseNumber(text, 0, max, value))
            return true;
        usageError(QStringLiteral("%1 must be a number from 0 to 0x%2, not %3")
                       .arg(what)
                       .arg(max, 0, 16)
                       .arg(text));
        return false;
    };
    if (arguments >= 1 && !number(QStringLiteral("REG"), positional[0], regMax, &m_reg))
        return ExitUsage;
    if (arguments == 2 && !number(QStringLiteral("VALUE"), positional[1], valueMax, &m_value))
        return ExitUsage;
    if (m_parser.isSet(m_mask) &&
        !number(QStringLiteral("--mask"), m_parser.value(m_mask), valueMax, &m_maskValue))
        return ExitUsage;
    if (m_parser.isSet(m_dump)) {
        m_lastValue = reg16 ? qMin<qint64>(0xFF, regMax) : 0xFF;
        if (m_parser.isSet(m_first) &&
            !number(QStringLiteral("--first"), m_parser.value(m_first), regMax, &m_firstValue))
            return ExitUsage;
        if (m_parser.isSet(m_last) &&
            !number(QStringLiteral("--last"), m_parser.value(m_last), regMax, &m_lastValue))
            return ExitUsage;
        if (m_lastValue < m_firstValue)
            return usageError(QStringLiteral("--last comes before --first"));
    }
    (void)name;
    return 0;
}

int RegisterCommand::run(const ToolContext &context) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    RegisterAccess::Options options;
    options.reg16 = m_parser.isSet(m_reg16);
    options.word = m_parser.isSet(m_word);
    options.littleEndian = m_parser.isSet(m_le);
    RegisterAccess access(m_address, context.clock, options, context.transact);
    auto failed = [&](RegisterAccess::Status status, const QString &message) {
        if (status == RegisterAccess::DeviceError)
            return reportDeviceError(context, message, err);
        err << message << '\n';
        if (context.logFailed())
            return int(ExitLogWrite);
        return status == RegisterAccess::NoAck ? int(ExitNoAck) : int(ExitDiffers);
    };

    if (m_parser.isSet(m_dump)) {
        const RegisterAccess::Dump dump = access.dump(int(m_firstValue), int(m_lastValue));
        if (dump.status == RegisterAccess::DeviceError || dump.status == RegisterAccess::NoAck)
            return failed(dump.status, dump.message);
        out << RegisterAccess::grid(dump, options.reg16);
        out.flush();
        return context.logFailed() ? int(ExitLogWrite) : int(ExitOk);
    }
    const RegisterAccess::Result result =
        m_parser.isSet(m_get) ? access.get(int(m_reg))
                              : access.set(int(m_reg), int(m_value), int(m_maskValue));
    if (result.status != RegisterAccess::Ok) {
        if (result.status == RegisterAccess::Differs) {
            out << access.format(result.value) << '\n';
            out.flush();
        }
        return failed(result.status, result.message);
    }
    if (m_parser.isSet(m_get)) {
        out << access.format(result.value) << '\n';
        out.flush();
    }
    return context.logFailed() ? int(ExitLogWrite) : int(ExitOk);
}
