// brantle: the program on the adapters attached to this machine.
#include "Brantle.h"
#include "GenericUsbDriver.h"
#include "LibusbStack.h"

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

    LibusbStack stack;
    if (!stack.isAvailable())
        std::fprintf(stderr, "brantle: %s\n", qPrintable(stack.initError()));
    GenericUsbDriver driver(stack);

    Brantle window(driver);
    window.show();
    return app.exec();
}
