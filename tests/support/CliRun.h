#ifndef BRANTLE_TESTS_CLIRUN_H
#define BRANTLE_TESTS_CLIRUN_H

#include "PrintedLines.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <functional>

// One run of brantle-cli (BRANTLE_CLI) with `input` on its standard input:
// its exit status (-1 when it did not end normally within 30 s) and what it
// printed, line ends as on Linux.
struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline Run cli(const QStringList &arguments, const QByteArray &input,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
               const std::function<void()> &inChild = {}) {
    QProcess process;
    process.setProcessEnvironment(environment);
#ifdef _WIN32
    Q_ASSERT(!inChild); // no child set-up on Windows: the tests that need one skip there
#else
    if (inChild)
        process.setChildProcessModifier(inChild);
#endif
    process.start(QStringLiteral(BRANTLE_CLI), arguments);
    Run run;
    if (!process.waitForStarted())
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = printedLines(process.readAllStandardOutput());
    run.err = printedLines(process.readAllStandardError());
    return run;
}

#endif
