#include "SimBenchOption.h"

#include "ExitStatus.h"
#include "SimBench.h"
#include "SimUsbStack.h"

#include <QTextStream>

int plugSimBench(SimUsbStack &stack, const QByteArray &firmware, const QString &benchFile,
                 bool reset, std::shared_ptr<SimBench> *result) {
    QTextStream err(stderr);
    auto bench = std::make_shared<SimBench>();
    QString error;
    const bool standard = benchFile.isEmpty();
    if (standard)
        *bench = SimBench::standard(SimBench::standardContentsFile());
    else if (!SimBench::load(benchFile, bench.get(), &error)) {
        err << QStringLiteral("brantle-cli: %1\n").arg(error);
        return ExitDataError;
    }
    if (reset && !bench->resetContents(&error)) {
        err << QStringLiteral("brantle-cli: %1\n").arg(error);
        return ExitLogWrite;
    }
    if (!bench->plug(stack, firmware, &error)) {
        if (!standard) {
            err << QStringLiteral("brantle-cli: %1\n").arg(error);
            return ExitDataError;
        }
        // The standard bench still runs when the data folder cannot keep
        // its EEPROM; it then forgets what was written when the run ends.
        err << QStringLiteral("brantle-cli: %1; the simulated EEPROM forgets its contents at "
                              "exit\n")
                   .arg(error);
        *bench = SimBench::standard(QString());
        bench->plug(stack, firmware, &error);
    }
    *result = bench;
    return ExitOk;
}
