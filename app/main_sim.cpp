// brantle-sim: the program on a simulated adapter (an FX2 with a 24-series
// EEPROM at 0x51 and a temperature sensor at 0x48), for trying it out and
// for demonstrations without hardware.
#include "AdapterSession.h"
#include "Brantle.h"
#include "GenericUsbDriver.h"
#include "SimUsbStack.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QTranslator translator;
    Brantle::installCatalogue(translator);

    SimUsbStack stack;
    stack.plugBenchAdapter(AdapterSession::readFirmware());
    GenericUsbDriver driver(stack);

    Brantle window(driver);
    window.show();
    return app.exec();
}
