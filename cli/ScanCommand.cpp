#include "ScanCommand.h"

#include "AdapterSession.h"

#include <QTextStream>

int scanCommand(AdapterSession &session, BusScan::Probe probe, int clock,
                const std::function<QString()> &explanation) {
    QVector<int> answered;
    try {
        BusScan::run([&](QByteArray &stream) { return session.transact(stream); }, probe, clock,
                     &answered);
    } catch (const QString &error) {
        QTextStream err(stderr);
        err << error << '\n';
        const QString more = explanation();
        if (!more.isEmpty())
            err << more << '\n';
        return 3;
    } catch (const char *error) {
        QTextStream(stderr) << error << '\n';
        return 3;
    }
    QTextStream(stdout) << BusScan::grid(answered);
    return 0;
}
