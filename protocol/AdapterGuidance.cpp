#include "AdapterGuidance.h"

#include <QCoreApplication>

QString adapterGuidance() {
#ifdef Q_OS_WIN
    return QCoreApplication::translate(
        "AdapterGuidance",
        "No adapter found. Check that it is plugged in, that it shows as USB device 04B4:8613 "
        "(the FX2's own identity), and that its driver is installed. To try the program "
        "without hardware: brantle-sim, or brantle-cli --sim.");
#else
    return QCoreApplication::translate(
        "AdapterGuidance",
        "No adapter found. Check that it is plugged in, that lsusb shows it as 04B4:8613 "
        "(the FX2's own identity), and that the udev rule 60-brantle.rules is installed. "
        "To try the program without hardware: brantle-sim, or brantle-cli --sim.");
#endif
}
