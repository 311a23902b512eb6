// brantle-sim: the program on a simulated adapter (an FX2 with a 24-series
// EEPROM at 0x51 and a temperature sensor at 0x48), for trying it out and
// for demonstrations without hardware.
#include "AdapterSession.h"
#include "Brantle.h"
#include "GenericUsbDriver.h"
#include "SimBench.h"
#include "SimUsbStack.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QTranslator>

#include <cstdio>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    // The installed menu entry and icon: Wayland matches windows to their
    // entry by this name, and X11 shows the icon only if the window has one.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.orvane.BrantleSim"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("example.orvane.Brantle")));
    QTranslator translator;
    Brantle::installCatalogue(translator);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Brantle on a simulated adapter (EEPROM at 0x51, sensor at 0x48)."));
    parser.addHelpOption();
    const QCommandLineOption firmware(
        QStringLiteral("firmware"),
        QStringLiteral("Download the firmware image in FILE instead of the built-in one."),
        QStringLiteral("FILE"));
    parser.addOption(firmware);
    const QCommandLineOption benchOption(
        QStringLiteral("bench"),
        QStringLiteral("The parts on the simulated bus, from FILE (one a line: "
                       "'eeprom 24c64 0x50 contents=FILE', 'sensor 0x48')."),
        QStringLiteral("FILE"));
    const QCommandLineOption benchReset(
        QStringLiteral("bench-reset"),
        QStringLiteral("Give the simulated EEPROMs their factory contents first."));
    parser.addOptions({benchOption, benchReset});
    parser.process(app);

    // A bench file with a mistake starts nothing; the standard bench keeps
    // its EEPROM in the user's data folder, or in memory when it cannot.
    SimBench bench;
    QString error;
    const bool standard = !parser.isSet(benchOption);
    if (standard) {
        bench = SimBench::standard(SimBench::standardContentsFile());
    } else if (!SimBench::load(parser.value(benchOption), &bench, &error)) {
        std::fprintf(stderr, "brantle-sim: %s\n", qPrintable(error));
        return 65;
    }
    if (parser.isSet(benchReset) && !bench.resetContents(&error)) {
        std::fprintf(stderr, "brantle-sim: %s\n", qPrintable(error));
        return 74;
    }

    // The simulated chip runs the firmware downloaded to it, in step with the
    // wall clock: waits, write cycles and time-outs take real time.
    SimUsbStack stack;
    stack.setPacing(SimUsbStack::Pacing::WallClock);
    if (!bench.plug(stack, AdapterSession::readFirmware(), &error)) {
        std::fprintf(stderr, "brantle-sim: %s\n", qPrintable(error));
        if (!standard)
            return 65;
        bench = SimBench::standard(QString());
        bench.plug(stack, AdapterSession::readFirmware(), &error);
    }
    GenericUsbDriver driver(stack);

    Brantle window(driver);
    if (parser.isSet(firmware)) {
        // A broken image is not fatal: every send then reports the failed
        // download, as it would on hardware.
        const QString path = parser.value(firmware);
        const QString problem = AdapterSession::firmwareImageProblem(path);
        if (!problem.isEmpty())
            std::fprintf(stderr, "brantle-sim: firmware image %s: %s\n", qPrintable(path),
                         qPrintable(problem));
        window.setFirmwareImage(path);
    }
    window.show();
    return app.exec();
}
