// brantle: the program on the adapters attached to this machine.
#include "Brantle.h"
#include "GenericUsbDriver.h"
#include "LibusbStack.h"
#ifdef Q_OS_WIN
#include "CompositeDriverPort.h"
#include "Win32DriverPort.h"
#endif
#include "WindowCommandLine.h"

#include <QApplication>
#include <QIcon>
#include <QTranslator>

#include <cstdio>

int main(int argc, char *argv[]) {
    const std::unique_ptr<QCoreApplication> app = WindowCommandLine::application(argc, argv);
    QTranslator translator;
    Brantle::installCatalogue(translator);
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "WindowCommandLine", "Runs I2C scripts on the EZ-USB FX2 adapters plugged in."));
    const int status = WindowCommandLine::process(parser, *app, QStringLiteral("brantle"));
    if (status >= 0)
        return status;

    // The installed menu entry and icon: Wayland matches windows to their
    // entry by this name, and X11 shows the icon only if the window has one.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.orvane.Brantle"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("example.orvane.Brantle")));

    LibusbStack stack;
#ifdef Q_OS_WIN
    // Adapters on the chip maker's generic driver and those bound to WinUSB
    // (through libusb) in one list; the window follows both through the
    // system's device-change message.
    Win32DriverPort vendor;
    GenericUsbDriver winusb(stack);
    CompositeDriverPort driver(
        {{&vendor, QStringLiteral("vendor")}, {&winusb, QStringLiteral("winusb")}});
#else
    if (!stack.isAvailable())
        std::fprintf(stderr, "brantle: %s\n", qPrintable(stack.initError()));
    GenericUsbDriver driver(stack);
#endif

    Brantle window(driver);
    window.show();
    return QApplication::exec();
}
