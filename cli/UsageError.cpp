#include "UsageError.h"

#include "ConsoleStream.h"
#include "ExitStatus.h"

int usageError(const QString &text) {
    ConsoleStream(stderr) << QStringLiteral("brantle-cli: %1\n"
                                            "Usage: brantle-cli [options] [SCRIPT]\n"
                                            "Try 'brantle-cli --help' for more information.\n")
                                 .arg(text);
    return ExitUsage;
}
