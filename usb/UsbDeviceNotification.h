#ifndef BRANTLE_USBDEVICENOTIFICATION_H
#define BRANTLE_USBDEVICENOTIFICATION_H

#include <QtGlobal>

// Windows: registers a window for the system's device-change messages (0x0219)
// about every USB device, the interface class
// {A5DCBF10-6530-11D2-901F-00C04FB951ED}. libusb has no hot-plug events
// there, so this is how adapters bound to WinUSB are heard coming and going:
// the window passes each such message on to its port with
// DriverPort::systemDeviceChange(). Kept until destroyed. Elsewhere it
// registers nothing.
class UsbDeviceNotification {
public:
    // `window`: the native window handle (QWidget::winId()).
    explicit UsbDeviceNotification(quintptr window);
    ~UsbDeviceNotification();
    UsbDeviceNotification(const UsbDeviceNotification &) = delete;
    UsbDeviceNotification &operator=(const UsbDeviceNotification &) = delete;

    bool isRegistered() const { return m_registration != nullptr; }

private:
    void *m_registration = nullptr;
};

#endif
