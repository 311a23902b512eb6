#include "AdapterSession.h"
#include "Brantle2.h"
#include "BrantleVersion.h"
#include "CCyDriverDevice.h"
#include "GenericUsbDriver.h"
#include "LibusbStack.h"
#include "ScanCommand.h"
#include "ScriptErrorReport.h"
#include "SimUsbStack.h"
#include "TransactionLogFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <QThread>

#include <memory>

namespace {

enum ExitStatus {
    ExitOk = 0,
    ExitNoAck = 1,
    ExitParseError = 2,
    ExitDeviceError = 3,
    ExitUsage = 64,
    ExitLogWrite = 74
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

// The adapters the tool talks to: the simulated bench adapter with --sim,
// otherwise the machine's own through libusb.
struct Adapters {
    explicit Adapters(bool simulated) {
        if (simulated) {
            auto sim = std::make_unique<SimUsbStack>();
            sim->plugBenchAdapter(AdapterSession::readFirmware());
            stack = std::move(sim);
        } else {
            auto real = std::make_unique<LibusbStack>();
            problem = real->initError();
            stack = std::move(real);
        }
        driver = std::make_unique<GenericUsbDriver>(*stack);
    }
    // Why the adapter could not be used, when the device layer's own error
    // text does not say it: no USB access at all, or no right to open it.
    QString reason(const CCyDriverDevice &device) const {
        if (!problem.isEmpty())
            return problem;
        if (!firmwareProblem.isEmpty())
            return firmwareProblem;
        return device.hasHandle() ? QString() : driver->lastOpenError();
    }
    std::unique_ptr<UsbStack> stack;
    std::unique_ptr<GenericUsbDriver> driver;
    QString problem;
    // What is wrong with the firmware image given with --firmware.
    QString firmwareProblem;
};

// The adapter a send goes to, as --list names it; empty without one.
QString adapterName(CCyDriverDevice &device) {
    return device.hasHandle() ? AdapterSession::listName(device.friendlyName(), device.address())
                              : QString();
}

// One send as the window makes it: compile, transact, render. Prints the
// result text and the outcome, and fills `record` for the log.
int send(AdapterSession &session, const Adapters &adapters, const QString &fileName,
         const QString &script, int clock, TransactionRecord &record) {
    record.time = QDateTime::currentDateTime();
    record.adapter = adapterName(session.device());
    record.clockKhz = clock == 0 ? 100 : 400;
    QString text = script;
    Brantle2 converter;
    converter.clock = clock;
    QByteArray stream;
    try {
        converter.convert(text, Brantle2::Compile, stream);
        record.stream = stream;
        const bool acknowledged = session.transact(stream, &record.reply);
        record.outcome = acknowledged ? TransactionRecord::ok() : TransactionRecord::noAck();
        converter.convert(text, Brantle2::Render, stream);
        QTextStream out(stdout);
        out << text;
        if (!text.endsWith(u'\n'))
            out << '\n';
        out.flush();
        printErr(acknowledged ? QStringLiteral("OK.\n") : QStringLiteral("NoAck\n"));
        return acknowledged ? ExitOk : ExitNoAck;
    } catch (const ScriptParseError &e) {
        record.outcome = Brantle2::messagePrefix() + e.message;
        printErr(scriptErrorReport(fileName, script, e.index, e.length, e.message));
        return ExitParseError;
    } catch (const QString &e) {
        record.outcome = e;
        printErr(e + u'\n');
        if (e.startsWith(QLatin1String("Unexpected Error: ")))
            return ExitParseError;
        const QString reason = adapters.reason(session.device());
        if (!reason.isEmpty())
            printErr(reason + u'\n');
        return ExitDeviceError;
    } catch (const char *e) {
        record.outcome = QString::fromLatin1(e);
        printErr(record.outcome + u'\n');
        return ExitDeviceError;
    }
}

// Makes adapter `n` the session's one. False when there is no such adapter.
bool selectAdapter(CCyDriverDevice &device, int n) {
    if (n == 0)
        return true;
    if (n >= device.deviceCount())
        return false;
    device.close();
    device.open(uint8_t(n));
    return true;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brantle-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BRANTLE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Compiles an I2C script and runs it on a bus adapter.\n"
                       "Exit status: 0 OK, 1 NoAck, 2 script error, 3 device error, 64 usage "
                       "error, 74 the log could not be written."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("Only compile, and print the command stream."));
    const QCommandLineOption clock(QStringLiteral("clock"),
                                   QStringLiteral("Bus clock in kHz: 100 or 400 (default)."),
                                   QStringLiteral("kHz"), QStringLiteral("400"));
    const QCommandLineOption sim(QStringLiteral("sim"),
                                 QStringLiteral("Use the simulated adapter (EEPROM at 0x51, "
                                                "temperature sensor at 0x48)."));
    const QCommandLineOption list(QStringLiteral("list"), QStringLiteral("List the adapters."));
    const QCommandLineOption deviceOption(QStringLiteral("device"),
                                          QStringLiteral("Adapter to use, from 0 (default)."),
                                          QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption repeat(QStringLiteral("repeat"),
                                    QStringLiteral("Send N times, like the window's Auto."),
                                    QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("Milliseconds between repeated sends (500)."),
                                      QStringLiteral("MS"), QStringLiteral("500"));
    const QCommandLineOption scan(
        QStringLiteral("scan"),
        QStringLiteral("Probe the addresses 0x08 to 0x77 with a quick write (START, the "
                       "address with the write bit, STOP) and print which answered."));
    const QCommandLineOption scanRead(
        QStringLiteral("scan-read"),
        QStringLiteral("Scan, probing with a one-byte read instead of a quick write."));
    const QCommandLineOption logOption(
        QStringLiteral("log"),
        QStringLiteral("Append one CSV line per send to FILE (a header first when it is new)."),
        QStringLiteral("FILE"));
    const QCommandLineOption firmware(
        QStringLiteral("firmware"),
        QStringLiteral("Download the firmware image in FILE (16,384 bytes, as built in "
                       "firmware/) instead of the built-in one, at the first send whatever "
                       "the adapter runs."),
        QStringLiteral("FILE"));
    parser.addOptions({dryRun, clock, sim, list, deviceOption, repeat, interval, scan, scanRead,
                       logOption, firmware});
    parser.addPositionalArgument(QStringLiteral("SCRIPT"),
                                 QStringLiteral("Script file; standard input when missing or -."),
                                 QStringLiteral("[SCRIPT]"));
    parser.process(app);

    auto number = [&](const QCommandLineOption &option, int minimum, int *value) {
        bool ok = false;
        *value = parser.value(option).toInt(&ok);
        if (ok && *value >= minimum)
            return true;
        printErr(QStringLiteral("brantle-cli: --%1 needs a number of at least %2, not %3\n")
                     .arg(option.names().first())
                     .arg(minimum)
                     .arg(parser.value(option)));
        return false;
    };
    int deviceNumber = 0;
    int repeatCount = 1;
    int intervalMs = 500;
    if (!number(deviceOption, 0, &deviceNumber) || !number(repeat, 1, &repeatCount) ||
        !number(interval, 0, &intervalMs))
        return ExitUsage;
    const QString clockValue = parser.value(clock);
    if (clockValue != QLatin1String("100") && clockValue != QLatin1String("400")) {
        printErr(
            QStringLiteral("brantle-cli: --clock must be 100 or 400, not %1\n").arg(clockValue));
        return ExitUsage;
    }
    const int clockIndex = clockValue == QLatin1String("100") ? 0 : 1;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        printErr(QStringLiteral("brantle-cli: one script at a time\n"));
        return ExitUsage;
    }

    const bool scanning = parser.isSet(scan) || parser.isSet(scanRead);
    if (int(scanning) + int(parser.isSet(list)) + int(parser.isSet(dryRun)) > 1) {
        printErr(QStringLiteral("brantle-cli: --scan, --list and --dry-run exclude each other\n"));
        return ExitUsage;
    }
    if (scanning && !positional.isEmpty()) {
        printErr(QStringLiteral("brantle-cli: --scan takes no script\n"));
        return ExitUsage;
    }
    if (parser.isSet(logOption) && (scanning || parser.isSet(list) || parser.isSet(dryRun))) {
        printErr(QStringLiteral("brantle-cli: --log records sends; this run sends nothing\n"));
        return ExitUsage;
    }

    Adapters adapters(parser.isSet(sim));
    if (parser.isSet(list)) {
        AdapterSession session(*adapters.driver);
        CCyDriverDevice &device = session.device();
        QTextStream out(stdout);
        for (int i = 0; i < device.deviceCount(); ++i) {
            device.close();
            device.open(uint8_t(i));
            QString name = device.friendlyName();
            int address = device.address();
            // An adapter that cannot be opened tells the driver nothing; the
            // host still knows what it is and where.
            const QVector<UsbDeviceInfo> present = adapters.stack->devices();
            if (!device.hasHandle() && i < present.size()) {
                name = present[i].friendlyName;
                address = present[i].address;
            }
            out << AdapterSession::listName(name, address) << '\n';
            out.flush();
            const QString reason = adapters.reason(device);
            if (!reason.isEmpty())
                printErr(QStringLiteral("  ") + reason + u'\n');
        }
        if (!adapters.problem.isEmpty()) {
            printErr(adapters.problem + u'\n');
            return ExitDeviceError;
        }
        return ExitOk;
    }

    // --firmware: the sessions that talk to the bus download that image.
    auto useFirmwareOption = [&](AdapterSession &session) {
        if (!parser.isSet(firmware))
            return;
        const QString path = parser.value(firmware);
        const QString problem = AdapterSession::firmwareImageProblem(path);
        if (!problem.isEmpty())
            adapters.firmwareProblem =
                QStringLiteral("brantle-cli: firmware image %1: %2").arg(path, problem);
        session.setFirmwareImage(path);
    };

    if (scanning) {
        AdapterSession session(*adapters.driver);
        useFirmwareOption(session);
        if (!selectAdapter(session.device(), deviceNumber)) {
            printErr(QCoreApplication::translate("Brantle", "Error: Device not found.") + u'\n');
            return ExitDeviceError;
        }
        return scanCommand(session,
                           parser.isSet(scanRead) ? BusScan::ReadByte : BusScan::QuickWrite,
                           clockIndex, [&] { return adapters.reason(session.device()); });
    }

    const QString fileName = positional.isEmpty() ? QStringLiteral("-") : positional.first();
    QString text;
    QString error;
    if (!readScript(fileName, &text, &error)) {
        printErr(QStringLiteral("brantle-cli: cannot read %1: %2\n").arg(fileName, error));
        return ExitUsage;
    }

    if (parser.isSet(dryRun)) {
        Brantle2 converter;
        converter.clock = clockIndex;
        QByteArray stream;
        QString copy = text;
        try {
            converter.convert(copy, Brantle2::Compile, stream);
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

    TransactionLogFile log;
    if (parser.isSet(logOption) && !log.open(parser.value(logOption), &error)) {
        printErr(QStringLiteral("brantle-cli: cannot write the log %1: %2\n")
                     .arg(parser.value(logOption), error));
        return ExitUsage;
    }

    AdapterSession session(*adapters.driver);
    useFirmwareOption(session);
    if (!selectAdapter(session.device(), deviceNumber)) {
        printErr(QCoreApplication::translate("Brantle", "Error: Device not found.") + u'\n');
        return ExitDeviceError;
    }

    int status = ExitOk;
    QElapsedTimer clockSinceStart;
    clockSinceStart.start();
    for (int i = 0; i < repeatCount; ++i) {
        if (i > 0) {
            const qint64 due = qint64(i) * intervalMs;
            const qint64 wait = due - clockSinceStart.elapsed();
            if (wait > 0)
                QThread::msleep(quint64(wait));
        }
        TransactionRecord record;
        status = send(session, adapters, fileName, text, clockIndex, record);
        if (parser.isSet(logOption) && !log.append(record, &error)) {
            printErr(QStringLiteral("brantle-cli: cannot write the log %1: %2\n")
                         .arg(parser.value(logOption), error));
            return ExitLogWrite;
        }
    }
    return status;
}
