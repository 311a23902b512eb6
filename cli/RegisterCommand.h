#ifndef BRANTLE_REGISTERCOMMAND_H
#define BRANTLE_REGISTERCOMMAND_H

#include "ToolContext.h"

#include <QCommandLineOption>

class QCommandLineParser;

// brantle-cli --get, --set and --dump: a part's registers, as i2cget,
// i2cset and i2cdump show them.
class RegisterCommand {
public:
    // Adds its options to `parser`.
    explicit RegisterCommand(QCommandLineParser &parser);

    bool requested() const;
    // Checks the options and the arguments after the device address (REG,
    // VALUE); prints a usage error and returns its status, or 0.
    int check(const QStringList &positional);
    int run(const ToolContext &context);

private:
    QCommandLineParser &m_parser;
    QCommandLineOption m_get;
    QCommandLineOption m_set;
    QCommandLineOption m_dump;
    QCommandLineOption m_reg16;
    QCommandLineOption m_word;
    QCommandLineOption m_le;
    QCommandLineOption m_mask;
    QCommandLineOption m_first;
    QCommandLineOption m_last;
    int m_address = 0;
    qint64 m_reg = 0;
    qint64 m_value = 0;
    qint64 m_maskValue = -1;
    qint64 m_firstValue = 0;
    qint64 m_lastValue = 0xFF;
};

#endif
