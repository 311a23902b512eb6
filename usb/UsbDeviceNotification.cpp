#include "UsbDeviceNotification.h"

#ifdef Q_OS_WIN
#include <windows.h>

#include <dbt.h>

namespace {
// GUID_DEVINTERFACE_USB_DEVICE, written out so that no device-kit header is needed.
const GUID UsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
} // namespace

UsbDeviceNotification::UsbDeviceNotification(quintptr window) {
    if (!window)
        return;
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = UsbDeviceInterface;
    m_registration = RegisterDeviceNotificationW(reinterpret_cast<HWND>(window), &filter,
                                                 DEVICE_NOTIFY_WINDOW_HANDLE);
}

UsbDeviceNotification::~UsbDeviceNotification() {
    if (m_registration)
        UnregisterDeviceNotification(m_registration);
}

#else

UsbDeviceNotification::UsbDeviceNotification(quintptr) {}

UsbDeviceNotification::~UsbDeviceNotification() = default;

#endif
