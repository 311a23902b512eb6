// brantle-sim: the program on a simulated adapter (an FX2 with a 24-series
// EEPROM at 0x51 and a temperature sensor at 0x48), for trying it out and
// for demonstrations without hardware.
#include "AdapterSession.h"
#include "Brantle.h"
#include "GenericUsbDriver.h"
#include "SimUsbStack.h"

#include <QApplication>
#include <QIcon>
#include <QTranslator>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    // The installed menu entry and icon: Wayland matches windows to their
    // entry by this name, and X11 shows the icon only if the window has one.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.orvane.BrantleSim"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("example.orvane.Brantle")));
    QTranslator translator;
    Brantle::installCatalogue(translator);

    // The simulated chip runs the firmware the program carries, in step with
    // the wall clock: waits, write cycles and time-outs take real time.
    SimUsbStack stack;
    stack.setPacing(SimUsbStack::Pacing::WallClock);
    stack.plugBenchAdapter(AdapterSession::readFirmware());
    GenericUsbDriver driver(stack);

    Brantle window(driver);
    window.show();
    return app.exec();
}
