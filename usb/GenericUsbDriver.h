#ifndef BRANTLE_GENERICUSBDRIVER_H
#define BRANTLE_GENERICUSBDRIVER_H

#include "DriverPort.h"
#include "UsbStack.h"

#include <QObject>

class UsbDeviceNotification;

#include <map>
#include <memory>
#include <vector>

class RequestBlock;

// The software stand-in for the generic driver: carries out every control code
// and request block on a plain USB host (libusb or the simulated adapters).
// Devices of the stack are the devices of one interface class.
class GenericUsbDriver : public DriverPort {
public:
    // Reported by the driver-version query; at or above 0x01050500, so the
    // layer moves bulk data without copying it into the request block.
    static constexpr uint32_t DefaultDriverVersion = 0x01060000;
    static constexpr uint32_t DefaultUsbInterfaceVersion = 0x00000600;

    explicit GenericUsbDriver(UsbStack &stack,
                              const QUuid &interfaceClass = DriverPort::adapterInterfaceClass());
    ~GenericUsbDriver() override;
    GenericUsbDriver(const GenericUsbDriver &) = delete;
    GenericUsbDriver &operator=(const GenericUsbDriver &) = delete;

    void setDriverVersion(uint32_t version) { m_driverVersion = version; }
    void setUsbInterfaceVersion(uint32_t version) { m_usbInterfaceVersion = version; }

    // Why the last openDevice() failed, in words for the user (a missing
    // access right, say); empty after a successful open.
    QString lastOpenError() const override { return m_lastOpenError; }

    bool listDevices(const QUuid &interfaceClass, QStringList &paths) override;
    Handle openDevice(const QString &path) override;
    bool closeDevice(Handle handle) override;
    bool ioControl(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength, uint8_t *out,
                   uint32_t outLength, uint32_t &bytesReturned) override;
    uint32_t startRequest(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength,
                          uint8_t *out, uint32_t outLength, CompletionRecord &record) override;
    WaitResult waitRequest(CompletionRecord &record, int timeoutMs) override;
    bool requestResult(CompletionRecord &record, uint32_t &bytes) override;
    void releaseRequest(CompletionRecord &record) override;
    Registration registerClassNotification(const QUuid &interfaceClass,
                                           DeviceChangeHandler handler) override;
    Registration registerHandleNotification(Handle handle, DeviceChangeHandler handler) override;
    bool unregisterNotification(Registration registration) override;
    void systemDeviceChange() override { m_stack.systemDeviceChange(); }
    // A stack that hears of changes only through the system's messages
    // (libusb on Windows) has the window registered for every USB device.
    Registration registerWindowNotification(quintptr nativeWindow,
                                            const QUuid &interfaceClass) override;

private:
    struct OpenDevice {
        UsbStack::SessionId session = -1;
        QString path;
    };

    // One asynchronous request. Bulk and interrupt requests run on the stack;
    // everything else is carried out at once.
    struct Request {
        CompletionRecord *record = nullptr;
        Handle handle = InvalidHandle;
        uint8_t endpoint = 0;
        UsbStack::TransferId transfer = 0;
        int submitted = 0; // bytes handed to the stack
        bool done = false;
        bool ok = false;
        uint32_t bytes = 0;
        // Where the outcome goes on completion.
        uint8_t *callerBlock = nullptr; // status words (direct requests)
        uint8_t *callerOut = nullptr;   // the whole block (buffered requests)
        uint32_t callerOutLength = 0;
        std::unique_ptr<RequestBlock> systemBlock; // the driver's copy of a buffered block
    };

    struct Subscription {
        bool forClass = true;
        QUuid interfaceClass;
        Handle handle = InvalidHandle;
        DeviceChangeHandler handler;
    };

    struct ControlOutcome {
        bool ok = false;
        uint32_t transferred = 0;
        uint32_t usbStatus = UsbError;
        uint32_t systemStatus = RequestFailed;
    };

    const OpenDevice *device(Handle handle) const;
    bool deviceInfo(Handle handle, UsbDeviceInfo &info);
    bool ioControlAtOnce(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength, uint8_t *out,
                         uint32_t outLength, uint32_t &bytesReturned);
    ControlOutcome controlTransfer(UsbStack::SessionId session, RequestBlock &block);
    bool runControlBlock(UsbStack::SessionId session, uint8_t *in, uint32_t inLength, uint8_t *out,
                         uint32_t outLength, uint32_t &bytesReturned);
    uint32_t submitTransfer(Request &request, UsbStack::SessionId session, uint32_t code,
                            uint8_t *in, uint32_t inLength, uint8_t *out, uint32_t outLength);
    void complete(Request &request);
    void finishCancelled(Request &request);
    Request *findRequest(const CompletionRecord &record);
    void addRequest(std::unique_ptr<Request> request, CompletionRecord &record);
    void onHotplug(const QString &path, bool arrived);
    void dispatch(const QString &path, bool arrived);

    UsbStack &m_stack;
    QUuid m_interfaceClass;
    uint32_t m_driverVersion = DefaultDriverVersion;
    uint32_t m_usbInterfaceVersion = DefaultUsbInterfaceVersion;
    QString m_lastOpenError;
    std::map<Handle, OpenDevice> m_devices;
    Handle m_nextHandle = 1;
    std::map<uint64_t, std::unique_ptr<Request>> m_requests;
    uint64_t m_nextRequest = 1;
    std::map<Registration, Subscription> m_subscriptions;
    std::map<Registration, std::unique_ptr<UsbDeviceNotification>> m_windowRegistrations;
    Registration m_nextRegistration = 1;
    QObject m_context; // queues notifications onto the creating thread's event loop
};

#endif
