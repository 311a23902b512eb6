#include "ScanCommand.h"

#include "AdapterSession.h"
#include "ConsoleStream.h"

int scanCommand(AdapterSession &session, BusScan::Probe probe, int clock,
                const std::function<QString()> &explanation) {
    QVector<int> answered;
    try {
        BusScan::run([&](QByteArray &stream) { return session.transact(stream); }, probe, clock,
                     &answered);
    } catch (const QString &error) {
        ConsoleStream err(stderr);
        err << error << '\n';
        const QString more = explanation();
        if (!more.isEmpty())
            err << more << '\n';
        return 3;
    } catch (const char *error) {
        ConsoleStream(stderr) << error << '\n';
        return 3;
    }
    ConsoleStream(stdout) << BusScan::grid(answered);
    return 0;
}
