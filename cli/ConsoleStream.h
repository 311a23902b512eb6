#ifndef BRANTLE_CONSOLESTREAM_H
#define BRANTLE_CONSOLESTREAM_H

#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <memory>

class QIODevice;

// Text on standard output or standard error. Where it goes to a file or a
// pipe it is written in the platform's 8-bit encoding, the encoding of the
// script files the tool reads, so that what it prints can be read back the
// same way. A Windows console is written in Unicode through the console's
// own call instead: its code page is often not the system's (the OEM code
// page of a Western system), and changing it would outlast the program.
class ConsoleStream : public QTextStream {
public:
    explicit ConsoleStream(FILE *stream);
    ~ConsoleStream() override;
    ConsoleStream(const ConsoleStream &) = delete;
    ConsoleStream &operator=(const ConsoleStream &) = delete;

private:
    QFile m_file;
    std::unique_ptr<QIODevice> m_console;
};

#endif
