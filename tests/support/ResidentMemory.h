#ifndef BRANTLE_TESTS_RESIDENTMEMORY_H
#define BRANTLE_TESTS_RESIDENTMEMORY_H

#include <QByteArray>
#include <QFile>

// Resident set size of this process in KiB; -1 when it cannot be read.
inline qint64 residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// AddressSanitizer keeps memory of its own that grows with use (the recently
// freed blocks it holds back, a record of every allocating call path), so a
// bound on growth is looser under it.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 SanitizerSlackKiB = 6 * 1024;
#else
constexpr qint64 SanitizerSlackKiB = 0;
#endif

#endif
