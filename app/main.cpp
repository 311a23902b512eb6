// brantle: the program on the adapters attached to this machine.
#include "Brantle.h"
#include "GenericUsbDriver.h"
#include "LibusbStack.h"

#include <QApplication>
#include <QTranslator>

#include <cstdio>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
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
