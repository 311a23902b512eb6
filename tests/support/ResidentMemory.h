#ifndef BRANTLE_TESTS_RESIDENTMEMORY_H
#define BRANTLE_TESTS_RESIDENTMEMORY_H

#include <QByteArray>
#include <QFile>
#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>
#include <psapi.h>
#endif

// Resident set size of this process in KiB (the working set on Windows); -1
// when it cannot be read.
inline qint64 residentKiB() {
#ifdef Q_OS_WIN
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return qint64(counters.WorkingSetSize / 1024);
#endif
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

// How many sends a soak makes: `full`, or a share of it where the tests run
// slowly (under Wine, BRANTLE_SOAK_DIVISOR=4 in the windows test preset).
inline int soakLength(int full) {
    const int divisor = qEnvironmentVariableIntValue("BRANTLE_SOAK_DIVISOR");
    return divisor > 1 ? full / divisor : full;
}

#endif
