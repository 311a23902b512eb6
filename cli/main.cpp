#include "AdapterGuidance.h"
#include "AdapterSession.h"
#include "Brantle2.h"
#include "BrantleVersion.h"
#include "CCyDriverDevice.h"
#include "ConsoleStream.h"
#include "EepromCommand.h"
#include "ExitStatus.h"
#include "GenericUsbDriver.h"
#include "LibusbStack.h"
#include "RegisterCommand.h"
#include "UsageError.h"
#ifdef Q_OS_WIN
#include "CompositeDriverPort.h"
#include "Win32DriverPort.h"
#endif
#include "ScanCommand.h"
#include "ScriptErrorReport.h"
#include "ScriptInput.h"
#include "ScriptSender.h"
#include "SimBench.h"
#include "SimBenchOption.h"
#include "SimUsbStack.h"
#include "TransactionLogFile.h"
#include "ValuesCommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <exception>
#include <memory>

namespace {

void printErr(const QString &text) {
    ConsoleStream(stderr) << text;
}

// The help as QCommandLineParser writes it, under the program's name instead
// of the path it was started by, then the script's limits and the manual.
QString helpText(const QCommandLineParser &parser) {
    QString text = parser.helpText();
    const QString started = QCoreApplication::arguments().value(0);
    const int at = started.isEmpty() ? -1 : text.indexOf(started);
    if (at >= 0 && at < text.indexOf(u'\n'))
        text.replace(at, started.size(), QStringLiteral("brantle-cli"));
    text += QStringLiteral(
        "\nScript limits:\n"
        "  A byte is two hexadecimal digits; a read address takes one placeholder (FF) per\n"
        "  byte to read.\n"
        "  [wait MS] pauses up to 1310.7 ms, in steps of 0.02 ms; a longer pause takes\n"
        "  several waits.\n"
        "  One send must fit the adapter's buffer of 11,912 bytes: the command stream,\n"
        "  the bytes read and 5 bytes of header and status (about 5,900 bytes read).\n"
        "  A script file may hold up to 64 MiB.\n"
        "\nSee brantle-cli(1) for the script language, the exit statuses and examples.\n");
    return text;
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

// The adapters the tool talks to: the simulated bench adapter with --sim
// (running the firmware the program carries, in step with the wall clock as
// a real one would), otherwise the machine's own: through the vendor's
// driver on Windows, through libusb elsewhere. Without a window the tool
// learns of device changes by listing again.
struct Adapters {
    // With --sim, `status` tells whether the bench could be set up.
    Adapters(bool simulated, const QString &benchFile = QString(), bool benchReset = false,
             int *status = nullptr) {
        if (simulated) {
            auto sim = std::make_unique<SimUsbStack>();
            sim->setPacing(SimUsbStack::Pacing::WallClock);
            const int benchStatus =
                plugSimBench(*sim, AdapterSession::readFirmware(), benchFile, benchReset, &bench);
            if (status)
                *status = benchStatus;
            stack = std::move(sim);
        } else {
#ifdef Q_OS_WIN
            // Adapters on the chip maker's driver and those bound to WinUSB
            // (through libusb) in one list. Either may be missing: libusb
            // failing to start leaves the others usable.
            stack = std::make_unique<LibusbStack>();
            vendor = std::make_unique<Win32DriverPort>();
            winusb = std::make_unique<GenericUsbDriver>(*stack);
            driver = std::make_unique<CompositeDriverPort>(QVector<CompositeDriverPort::Member>{
                {vendor.get(), QStringLiteral("vendor")}, {winusb.get(), WinUsbTag}});
            return;
#else
            auto real = std::make_unique<LibusbStack>();
            problem = real->initError();
            stack = std::move(real);
#endif
        }
        driver = std::make_unique<GenericUsbDriver>(*stack);
    }
    // The stack's own path of the device the layer knows by `path`; empty
    // when the stack does not serve it.
    QString stackPath(const QString &path) const {
#ifdef Q_OS_WIN
        if (winusb) {
            const QString prefix = WinUsbTag + u':';
            return path.startsWith(prefix) ? path.mid(prefix.size()) : QString();
        }
#endif
        return path;
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
#ifdef Q_OS_WIN
    static inline const QString WinUsbTag = QStringLiteral("winusb");
#endif
    std::shared_ptr<SimBench> bench;
    std::unique_ptr<UsbStack> stack;
    std::unique_ptr<DriverPort> vendor; // Windows: the chip maker's driver
    std::unique_ptr<DriverPort> winusb; // Windows: the generic driver on libusb
    std::unique_ptr<DriverPort> driver; // what the layer talks to
    QString problem;
    // What is wrong with the firmware image given with --firmware.
    QString firmwareProblem;
};

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

static int run(QCoreApplication &app) {
    QCoreApplication::setApplicationName(QStringLiteral("brantle-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BRANTLE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Compiles an I2C script and runs it on a bus adapter.\n"
                       "Exit status: 0 OK, 1 NoAck, 2 script error (or a script larger than "
                       "64 MiB), 3 device error, 64 usage error, 74 the log could not be written. "
                       "With --repeat, the worst status of all sends (3, then 2, then 1), and a "
                       "summary line on standard error. The bench tools (--eeprom, --get, --set, "
                       "--dump) also exit with 5 when a verify or a set's read-back finds "
                       "differences, 65 for a file that does not fit or cannot be parsed, 74 "
                       "for an output file that cannot be written."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("Only compile, and print the command stream."));
    const QCommandLineOption clock(QStringLiteral("clock"),
                                   QStringLiteral("Bus clock in kHz: 100 or 400 (default)."),
                                   QStringLiteral("kHz"), QStringLiteral("400"));
    const QCommandLineOption sim(QStringLiteral("sim"),
                                 QStringLiteral("Use the simulated adapter (EEPROM at 0x51, "
                                                "temperature sensor at 0x48)."));
    const QCommandLineOption list(
        QStringLiteral("list"),
        QStringLiteral("List the adapters, each under the number --device takes."));
    const QCommandLineOption deviceOption(QStringLiteral("device"),
                                          QStringLiteral("Adapter to use, as --list numbers "
                                                         "them (default 0)."),
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
    const QCommandLineOption values(
        QStringLiteral("values"),
        QStringLiteral("Print, instead of the result text, one line per send: the local time and "
                       "the value of each channel the script's watch lines define "
                       "(// watch: name=... bytes=...), tab-separated, after a header line."));
    parser.addOptions({dryRun, clock, sim, list, deviceOption, repeat, interval, scan, scanRead,
                       logOption, firmware, values});
    const QCommandLineOption benchOption(
        QStringLiteral("bench"),
        QStringLiteral("With --sim: the parts on the simulated bus, from FILE (one a line: "
                       "'eeprom 24c64 0x50 contents=FILE', 'sensor 0x48')."),
        QStringLiteral("FILE"));
    const QCommandLineOption benchReset(
        QStringLiteral("bench-reset"),
        QStringLiteral("With --sim: give the simulated EEPROMs their factory contents."));
    parser.addOptions({benchOption, benchReset});
    EepromCommand eepromCommand(parser);
    RegisterCommand registerCommand(parser);
    parser.addPositionalArgument(QStringLiteral("SCRIPT"),
                                 QStringLiteral("Script file; standard input when missing or -."),
                                 QStringLiteral("[SCRIPT]"));
    // Not process(): it exits with 1, NoAck's status, on a bad option.
    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        QTextStream(stdout) << helpText(parser);
        return ExitOk;
    }
    if (parser.isSet(version))
        parser.showVersion();

    auto number = [&](const QCommandLineOption &option, int minimum, int *value) {
        bool ok = false;
        *value = parser.value(option).toInt(&ok);
        if (ok && *value >= minimum)
            return true;
        usageError(
            QStringLiteral("--%1 needs a number of at least %2, not %3")
                .arg(option.names().first(), QString::number(minimum), parser.value(option)));
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
        return usageError(QStringLiteral("--clock must be 100 or 400, not %1").arg(clockValue));
    }
    const int clockIndex = clockValue == QLatin1String("100") ? 0 : 1;
    const QStringList positional = parser.positionalArguments();
    if ((parser.isSet(benchOption) || parser.isSet(benchReset)) && !parser.isSet(sim))
        return usageError(QStringLiteral("--bench and --bench-reset go with --sim"));
    const bool tool = eepromCommand.requested() || registerCommand.requested();
    if (eepromCommand.requested() && registerCommand.requested())
        return usageError(QStringLiteral("--eeprom and --get, --set, --dump exclude each other"));
    if (int status = eepromCommand.check(positional))
        return status;
    if (int status = registerCommand.check(positional))
        return status;
    if (tool && (parser.isSet(scan) || parser.isSet(scanRead) || parser.isSet(list) ||
                 parser.isSet(dryRun) || parser.isSet(repeat)))
        return usageError(QStringLiteral("--eeprom, --get, --set and --dump run on their own"));
    if (!tool && positional.size() > 1) {
        return usageError(QStringLiteral("one script at a time"));
    }
    const bool scanning = parser.isSet(scan) || parser.isSet(scanRead);
    if (int(scanning) + int(parser.isSet(list)) + int(parser.isSet(dryRun)) > 1)
        return usageError(QStringLiteral("--scan, --list and --dry-run exclude each other"));
    if (scanning && !positional.isEmpty())
        return usageError(QStringLiteral("--scan takes no script"));
    if (parser.isSet(logOption) && (scanning || parser.isSet(list) || parser.isSet(dryRun)))
        return usageError(QStringLiteral("--log records sends; this run sends nothing"));
    if (parser.isSet(values) && (scanning || parser.isSet(list) || parser.isSet(dryRun)))
        return usageError(QStringLiteral("--values shows what sends read; this run sends nothing"));

    int benchStatus = ExitOk;
    Adapters adapters(parser.isSet(sim), parser.value(benchOption), parser.isSet(benchReset),
                      &benchStatus);
    if (benchStatus != ExitOk)
        return benchStatus;
    // --bench-reset on its own only resets.
    if (parser.isSet(benchReset) && !tool && positional.isEmpty() && !scanning &&
        !parser.isSet(list) && !parser.isSet(dryRun))
        return ExitOk;
    if (parser.isSet(list)) {
        AdapterSession session(*adapters.driver);
        CCyDriverDevice &device = session.device();
        ConsoleStream out(stdout);
        for (int i = 0; i < device.deviceCount(); ++i) {
            device.close();
            device.open(uint8_t(i));
            QString name = device.friendlyName();
            int address = device.address();
            // An adapter that cannot be opened tells the driver nothing; the
            // host still knows what it is and where.
            if (!device.hasHandle()) {
                const QString path = adapters.stackPath(device.devicePath());
                for (const UsbDeviceInfo &info : adapters.stack->devices()) {
                    if (!path.isEmpty() && info.path == path) {
                        name = info.friendlyName;
                        address = info.address;
                    }
                }
            }
            out << i << QStringLiteral(": ") << AdapterSession::listName(name, address) << '\n';
            out.flush();
            const QString reason = adapters.reason(device);
            if (!reason.isEmpty())
                printErr(QStringLiteral("  ") + reason + u'\n');
        }
        if (!adapters.problem.isEmpty()) {
            printErr(adapters.problem + u'\n');
            return ExitDeviceError;
        }
        if (device.deviceCount() == 0) {
            printErr(AdapterGuidance::noAdapter() + u'\n');
            return ExitDeviceError;
        }
        return ExitOk;
    }

    // The session on the adapter --device names; with --firmware, the
    // sessions that talk to the bus download that image.
    auto selectedAdapter = [&](AdapterSession &session) {
        if (parser.isSet(firmware)) {
            const QString path = parser.value(firmware);
            const QString problem = AdapterSession::firmwareImageProblem(path);
            if (!problem.isEmpty())
                adapters.firmwareProblem =
                    QStringLiteral("brantle-cli: firmware image %1: %2").arg(path, problem);
            session.setFirmwareImage(path);
        }
        if (selectAdapter(session.device(), deviceNumber))
            return true;
        printErr(QCoreApplication::translate("Brantle", "Error: Device not found.") + u'\n');
        return false;
    };

    if (scanning) {
        AdapterSession session(*adapters.driver);
        if (!selectedAdapter(session))
            return ExitDeviceError;
        return scanCommand(session,
                           parser.isSet(scanRead) ? BusScan::ReadByte : BusScan::QuickWrite,
                           clockIndex, [&] { return adapters.reason(session.device()); });
    }

    if (tool) {
        QString error;
        TransactionLogFile log;
        const QString logName = parser.value(logOption);
        if (parser.isSet(logOption) && !log.open(logName, &error)) {
            printErr(
                QStringLiteral("brantle-cli: cannot write the log %1: %2\n").arg(logName, error));
            return ExitLogWrite;
        }
        AdapterSession session(*adapters.driver);
        if (!selectedAdapter(session))
            return ExitDeviceError;
        const ToolContext context =
            makeToolContext(session, parser.isSet(logOption) ? &log : nullptr, logName, clockIndex,
                            [&] { return adapters.reason(session.device()); });
        return eepromCommand.requested() ? eepromCommand.run(context)
                                         : registerCommand.run(context);
    }

    const QString fileName = positional.isEmpty() ? QStringLiteral("-") : positional.first();
    QString text;
    QString error;
    switch (ScriptInput::read(fileName, &text, &error)) {
    case ScriptInput::Read:
        break;
    case ScriptInput::CannotOpen:
        printErr(QStringLiteral("brantle-cli: cannot read %1: %2\n").arg(fileName, error));
        return ExitUsage;
    case ScriptInput::TooLarge:
        printErr(QStringLiteral("brantle-cli: %1: %2\n").arg(fileName, error));
        return ExitScriptError;
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
            return ExitScriptError;
        } catch (const QString &e) {
            printErr(e + u'\n');
            return ExitScriptError;
        }
        ConsoleStream(stdout) << hexLine(stream) << '\n';
        return ExitOk;
    }

    ValuesCommand valuesCommand;
    if (parser.isSet(values)) {
        QTextStream err(stderr);
        const int status = valuesCommand.prepare(fileName, text, clockIndex, err);
        if (status != ExitOk)
            return status;
    }

    TransactionLogFile log;
    const QString logName = parser.value(logOption);
    if (parser.isSet(logOption) && !log.open(logName, &error, valuesCommand.titles())) {
        printErr(QStringLiteral("brantle-cli: cannot write the log %1: %2\n").arg(logName, error));
        return ExitLogWrite;
    }

    AdapterSession session(*adapters.driver);
    if (!selectedAdapter(session))
        return ExitDeviceError;

    ConsoleStream out(stdout);
    ConsoleStream err(stderr);
    ScriptSender sender(
        session, *adapters.driver, out, err, [&] { return adapters.reason(session.device()); },
        deviceNumber);
    ScriptSender::SendObserver logSend;
    if (parser.isSet(logOption)) {
        logSend = [&](const TransactionRecord &record) {
            if (log.append(record, &error))
                return true;
            printErr(
                QStringLiteral("brantle-cli: cannot write the log %1: %2\n").arg(logName, error));
            return false;
        };
    }
    if (parser.isSet(values)) {
        sender.setShowsResult(false);
        valuesCommand.printHeader(out);
        logSend = [&, logRecord = logSend](const TransactionRecord &sent) {
            TransactionRecord record = sent;
            valuesCommand.take(record, out);
            return !logRecord || logRecord(record);
        };
    }
    return sender.repeat(fileName, text, clockIndex, repeatCount, intervalMs, logSend);
}

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    // Whatever goes wrong ends in a message and a status, never in abort().
    try {
        return run(app);
    } catch (const std::bad_alloc &) {
        printErr(QStringLiteral("brantle-cli: out of memory\n"));
    } catch (const std::exception &e) {
        printErr(QStringLiteral("brantle-cli: %1\n").arg(QString::fromLocal8Bit(e.what())));
    } catch (const QString &e) {
        printErr(QStringLiteral("brantle-cli: %1\n").arg(e));
    } catch (const char *e) {
        printErr(QStringLiteral("brantle-cli: %1\n").arg(QString::fromLatin1(e)));
    } catch (...) {
        printErr(QStringLiteral("brantle-cli: unexpected error\n"));
    }
    return ExitDeviceError;
}
