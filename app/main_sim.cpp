// brantle-sim: the program on a simulated adapter (an FX2 with a 24-series
// EEPROM at 0x51 and a temperature sensor at 0x48), for trying it out and
// for demonstrations without hardware.
#include "AdapterSession.h"
#include "Brantle.h"
#include "Fx2Chip.h"
#include "GenericUsbDriver.h"
#include "SimBench.h"
#include "SimUsbStack.h"
#include "TemperatureSensor.h"
#include "WindowCommandLine.h"

#include <QApplication>
#include <QDateTime>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QTranslator>

#include <cstdio>

int main(int argc, char *argv[]) {
    const std::unique_ptr<QCoreApplication> app = WindowCommandLine::application(argc, argv);
    QTranslator translator;
    Brantle::installCatalogue(translator);

    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "WindowCommandLine", "Brantle on a simulated adapter (EEPROM at 0x51, sensor at 0x48)."));
    const QCommandLineOption firmware(
        QStringLiteral("firmware"),
        QCoreApplication::translate(
            "WindowCommandLine",
            "Download the firmware image in FILE instead of the built-in one."),
        QStringLiteral("FILE"));
    parser.addOption(firmware);
    const QCommandLineOption benchOption(
        QStringLiteral("bench"),
        QCoreApplication::translate("WindowCommandLine",
                                    "The parts on the simulated bus, from FILE (one a line: "
                                    "'eeprom 24c64 0x50 contents=FILE', 'sensor 0x48')."),
        QStringLiteral("FILE"));
    const QCommandLineOption benchReset(
        QStringLiteral("bench-reset"),
        QCoreApplication::translate("WindowCommandLine",
                                    "Give the simulated EEPROMs their factory contents first."));
    parser.addOptions({benchOption, benchReset});
    parser.addPositionalArgument(
        QStringLiteral("SCRIPT"),
        QCoreApplication::translate("WindowCommandLine",
                                    "Script file to open in the script editor."),
        QStringLiteral("[SCRIPT]"));
    const int status = WindowCommandLine::process(parser, *app, QStringLiteral("brantle-sim"));
    if (status >= 0)
        return status;

    // The installed menu entry and icon: Wayland matches windows to their
    // entry by this name, and X11 shows the icon only if the window has one.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.orvane.BrantleSim"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("example.orvane.Brantle")));

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
    std::shared_ptr<Fx2Chip> chip = bench.plug(stack, AdapterSession::readFirmware(), &error);
    if (!chip) {
        std::fprintf(stderr, "brantle-sim: %s\n", qPrintable(error));
        if (!standard)
            return 65;
        bench = SimBench::standard(QString());
        chip = bench.plug(stack, AdapterSession::readFirmware(), &error);
    }
    // Something to watch: on the standard bench the sensor's temperature
    // wanders a little (a bench file sets its own).
    auto *sensor = chip ? dynamic_cast<TemperatureSensor *>(chip->bus().slave(0x48)) : nullptr;
    if (standard && sensor) {
        TemperatureSensor::Settings moving;
        moving.start = 23.5;
        moving.driftPerMinute = 1.0;
        moving.noise = 0.3;
        moving.seed = uint32_t(QDateTime::currentMSecsSinceEpoch());
        sensor->setSettings(moving);
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
    // Only here, where the bench lives: the simulated EEPROMs back to what
    // they held when new (or what their contents files hold).
    QAction *reset = window.ui.menu_Tools->addAction(
        QCoreApplication::translate("BrantleSim", "Reset Simulated EEPROMs"));
    reset->setObjectName(QStringLiteral("actionResetSimulatedEeproms"));
    QObject::connect(reset, &QAction::triggered, &window, [&bench, &window] {
        QString problem;
        if (bench.resetContents(&problem))
            window.statusBar()->showMessage(
                QCoreApplication::translate("BrantleSim",
                                            "The simulated EEPROMs hold their factory contents."),
                5000);
        else
            QMessageBox::warning(&window, QCoreApplication::translate("BrantleSim", "Reset"),
                                 problem);
    });
    if (!parser.positionalArguments().isEmpty())
        window.ui.textEditInput->loadFile(parser.positionalArguments().first());
    window.show();
    return QApplication::exec();
}
