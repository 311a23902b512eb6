#ifndef BRANTLE_EEPROMCOMMAND_H
#define BRANTLE_EEPROMCOMMAND_H

#include "EepromPart.h"
#include "ToolContext.h"

#include <QCommandLineOption>

class QCommandLineParser;

// brantle-cli --eeprom PART[@ADDR] with --read, --write or --verify FILE.
class EepromCommand {
public:
    // Adds its options to `parser`.
    explicit EepromCommand(QCommandLineParser &parser);

    bool requested() const;
    // Checks the options after parsing; prints a usage error and returns its
    // status, or 0 when the command can run.
    int check(const QStringList &positional);
    int run(const ToolContext &context);

private:
    QCommandLineParser &m_parser;
    QCommandLineOption m_eeprom;
    QCommandLineOption m_read;
    QCommandLineOption m_write;
    QCommandLineOption m_verify;
    QCommandLineOption m_offset;
    QCommandLineOption m_length;
    QCommandLineOption m_noVerify;
    EepromPart m_part;
    int m_address = 0x50;
    qint64 m_offsetValue = 0;
    qint64 m_lengthValue = -1;
};

#endif
