#include "Brantle2.h"
#include "ScriptErrorReport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

enum ExitStatus {
    ExitOk = 0,
    ExitNoAck = 1,
    ExitParseError = 2,
    ExitDeviceError = 3,
    ExitUsage = 64
};

void printErr(const QString &text) {
    QTextStream(stderr) << text;
}

bool readScript(const QString &name, QString *text, QString *error) {
    QFile file;
    bool opened;
    if (name == QLatin1String("-")) {
        opened = file.open(stdin, QIODevice::ReadOnly);
    } else {
        file.setFileName(name);
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        *error = file.errorString();
        return false;
    }
    *text = QString::fromLocal8Bit(file.readAll());
    return true;
}

QString hexLine(const QByteArray &bytes) {
    QString line;
    line.reserve(bytes.size() * 3);
    for (int i = 0; i < bytes.size(); ++i) {
        if (i)
            line += u' ';
        line += QString::asprintf("%02X", unsigned(quint8(bytes.at(i))));
    }
    return line;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brantle-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0.1.0"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Compiles an I2C script and runs it on a bus adapter."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("Only compile, and print the command stream."));
    const QCommandLineOption clock(QStringLiteral("clock"),
                                   QStringLiteral("Bus clock in kHz: 100 or 400 (default)."),
                                   QStringLiteral("kHz"), QStringLiteral("400"));
    parser.addOption(dryRun);
    parser.addOption(clock);
    parser.addPositionalArgument(QStringLiteral("SCRIPT"),
                                 QStringLiteral("Script file; standard input when missing or -."),
                                 QStringLiteral("[SCRIPT]"));
    parser.process(app);

    const QString clockValue = parser.value(clock);
    if (clockValue != QLatin1String("100") && clockValue != QLatin1String("400")) {
        printErr(
            QStringLiteral("brantle-cli: --clock must be 100 or 400, not %1\n").arg(clockValue));
        return ExitUsage;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        printErr(QStringLiteral("brantle-cli: one script at a time\n"));
        return ExitUsage;
    }
    if (!parser.isSet(dryRun)) {
        printErr(
            QStringLiteral("brantle-cli: this build cannot reach an adapter yet; use --dry-run\n"));
        return ExitDeviceError;
    }

    const QString fileName = positional.isEmpty() ? QStringLiteral("-") : positional.first();
    QString text;
    QString error;
    if (!readScript(fileName, &text, &error)) {
        printErr(QStringLiteral("brantle-cli: cannot read %1: %2\n").arg(fileName, error));
        return ExitUsage;
    }

    Brantle2 converter;
    converter.clock = clockValue == QLatin1String("100") ? 0 : 1;
    QByteArray stream;
    try {
        converter.convert(text, Brantle2::Compile, stream);
    } catch (const ScriptParseError &e) {
        printErr(scriptErrorReport(fileName, text, e.index, e.length, e.message));
        return ExitParseError;
    } catch (const QString &e) {
        printErr(e + u'\n');
        return ExitParseError;
    }
    QTextStream(stdout) << hexLine(stream) << '\n';
    return ExitOk;
}
