#include "AdapterGuidance.h"

QString AdapterGuidance::noAdapter() {
#ifdef Q_OS_WIN
    return tr("No adapter found. Plug it in and give it a driver (USB ID 04B4:8613): either the "
              "chip maker's generic USB driver, installed from its setup program, or WinUSB, "
              "bound to the adapter with Zadig (Options > List All Devices, choose the adapter, "
              "WinUSB, Install Driver). Then plug it in again. Without an adapter, try "
              "brantle-sim or brantle-cli --sim.");
#else
    return tr("No adapter found. Plug it in (USB ID 04B4:8613). If it is plugged in, you may "
              "lack the right to use it: install the udev rule (the package does; else copy "
              "packaging/60-brantle.rules to /etc/udev/rules.d/ and run \"udevadm control "
              "--reload-rules && udevadm trigger\"), then plug it in again. Without an adapter, "
              "try brantle-sim or brantle-cli --sim.");
#endif
}
