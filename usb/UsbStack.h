#ifndef BRANTLE_USBSTACK_H
#define BRANTLE_USBSTACK_H

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>
#include <functional>

// The plain USB host beneath the generic driver: what the driver's control
// codes need of a real host controller (libusb) or of the simulated adapters.
// Everything is called on the GUI thread.

struct UsbDeviceInfo {
    QString path;         // stable while the device stays plugged in
    QString friendlyName; // what the device list shows
    QString deviceName;
    uint8_t address = 0; // address on its bus
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};

struct UsbSetupPacket {
    uint8_t bmRequestType = 0;
    uint8_t bRequest = 0;
    uint16_t wValue = 0;
    uint16_t wIndex = 0;
    uint16_t wLength = 0;
};

enum class UsbTransferStatus {
    Completed, // `bytes` transferred
    Pending,   // not finished yet
    Stalled,   // the device stalled the endpoint
    Cancelled, // cancelled by the host (abort or time-out)
    NoDevice,  // the device is gone
    Failed     // any other error
};

struct UsbTransferResult {
    UsbTransferStatus status = UsbTransferStatus::Failed;
    int bytes = 0;
};

class UsbStack {
public:
    using SessionId = int;       // an open device; negative = none
    using TransferId = uint64_t; // 0 = none

    virtual ~UsbStack() = default;

    // Adapters present now, in a stable order.
    virtual QVector<UsbDeviceInfo> devices() = 0;

    // Open by path (claims interface 0); a negative id on failure, with a
    // user-readable reason in `error` where there is one.
    virtual SessionId open(const QString &path, QString *error = nullptr) = 0;
    virtual void close(SessionId session) = 0;

    // Synchronous control transfer on endpoint 0 (standard requests included,
    // except SET_INTERFACE, which goes through setAltSetting). For an IN
    // request `data` receives up to wLength bytes; for OUT it is sent.
    virtual UsbTransferResult controlTransfer(SessionId session, const UsbSetupPacket &setup,
                                              uint8_t *data, int timeoutMs) = 0;

    // Bulk or interrupt transfer on a non-zero endpoint, started
    // asynchronously. `buffer` must stay valid until the transfer is released.
    // Returns 0 when it cannot be started.
    virtual TransferId submit(SessionId session, uint8_t endpointAddress, uint8_t *buffer,
                              int length) = 0;
    // Waits up to timeoutMs for the transfer to finish; true when it has.
    virtual bool wait(TransferId transfer, int timeoutMs) = 0;
    // The state now, without waiting.
    virtual UsbTransferResult result(TransferId transfer) = 0;
    // Asks for cancellation; the transfer then finishes as Cancelled (wait to see it).
    virtual void cancel(TransferId transfer) = 0;
    // Forgets a finished transfer.
    virtual void release(TransferId transfer) = 0;

    // Current alternate setting of interface 0 (GET_INTERFACE); negative on failure.
    virtual int altSetting(SessionId session) = 0;
    virtual bool setAltSetting(SessionId session, int alternateSetting) = 0;
    // 2 = high speed, 1 = full speed, 0 = unknown.
    virtual int speed(SessionId session) = 0;

    // Called on the GUI thread, outside any USB callback, when a device of the
    // adapter table arrives or leaves.
    using HotplugHandler = std::function<void(const QString &path, bool arrived)>;
    virtual void setHotplugHandler(HotplugHandler handler) = 0;

    // The system said that some USB device came or went. A stack without
    // hot-plug events of its own compares its devices now and calls the
    // handler for each difference.
    virtual void systemDeviceChange() {}
    // True when systemDeviceChange() is how this stack hears of changes.
    virtual bool needsSystemDeviceChanges() const { return false; }
};

#endif
