// brantle: the program on the adapters attached to this machine.
#include "Brantle.h"
#ifdef Q_OS_WIN
#include "Win32DriverPort.h"
#else
#include "GenericUsbDriver.h"
#include "LibusbStack.h"
#endif

#include <QApplication>
#include <QIcon>
#include <QTranslator>

#include <cstdio>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    // The installed menu entry and icon: Wayland matches windows to their
    // entry by this name, and X11 shows the icon only if the window has one.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.orvane.Brantle"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("example.orvane.Brantle")));
    QTranslator translator;
    Brantle::installCatalogue(translator);

#ifdef Q_OS_WIN
    // The vendor's generic driver serves the adapters; the window follows
    // them through the system's device-change message.
    Win32DriverPort driver;
#else
    LibusbStack stack;
    if (!stack.isAvailable())
        std::fprintf(stderr, "brantle: %s\n", qPrintable(stack.initError()));
    GenericUsbDriver driver(stack);
#endif

    Brantle window(driver);
    window.show();
    return app.exec();
}
