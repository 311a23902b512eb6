#ifndef BRANTLE_WIN32DRIVERPORT_H
#define BRANTLE_WIN32DRIVERPORT_H

#include "DriverPort.h"
#include "Win32Api.h"

#include <map>
#include <memory>

// The driver seam on Windows: the vendor's generic driver itself. Request
// blocks and control codes go to it unchanged through DeviceIoControl; the
// adapters are found by their device interface class through the device
// installation functions, and device changes reach windows as the system's
// device-change message.
//
// Every system call goes through the Win32Api table given at construction.
class Win32DriverPort : public DriverPort {
public:
    static constexpr DWORD NoMoreItems = ERROR_NO_MORE_ITEMS;    // 259
    static constexpr DWORD IoPendingCode = ERROR_IO_PENDING;     // 997
    static constexpr DWORD WaitTimedOut = WAIT_TIMEOUT;          // 258
    static constexpr UINT DeviceChangeMessage = WM_DEVICECHANGE; // 0x0219
    // Present devices exposing a device interface.
    static constexpr DWORD ListFlags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE; // 0x12
    // Indices looked at when listing: counts are 8-bit, and a list that
    // fails at every index (not only past its end) must still come to an end.
    static constexpr DWORD MaxListIndex = 256;

    // The device-change filters. The class filter has 32 bytes on every
    // Windows; the handle filter carries pointer-sized fields and is 44 bytes
    // on 32-bit Windows, 56 on 64-bit.
    static DEV_BROADCAST_DEVICEINTERFACE_A classFilter(const GUID &interfaceClass);
    static DEV_BROADCAST_HANDLE handleFilter(HANDLE handle);

    explicit Win32DriverPort(const Win32Api &api = Win32Api::system());
    ~Win32DriverPort() override;
    Win32DriverPort(const Win32DriverPort &) = delete;
    Win32DriverPort &operator=(const Win32DriverPort &) = delete;

    // The window that registrations made through handlers (the device
    // object's class and handle notifications) are made for; without one
    // they are refused. The window hands its device-change messages to
    // deliverDeviceChange().
    void setNotificationWindow(HWND window) { m_notificationWindow = window; }
    // Calls the handlers registered through this port for one device-change
    // message (wParam, lParam as the window received them).
    void deliverDeviceChange(WPARAM event, LPARAM data);

    // The system error of the last request, listing or open that failed.
    DWORD lastSystemError() const { return m_lastSystemError; }

    // The GUID text as the system converts it; false when it is not a GUID.
    bool toGuid(const QUuid &uuid, GUID &guid) const;

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
    Registration registerWindowNotification(quintptr nativeWindow,
                                            const QUuid &interfaceClass) override;
    bool unregisterNotification(Registration registration) override;

private:
    // One request under way. Its OVERLAPPED must not move while the system
    // may write to it, hence one heap object per request.
    struct Request {
        OVERLAPPED overlapped{};
        HANDLE device = INVALID_HANDLE_VALUE;
        CompletionRecord *record = nullptr;
        bool signalled = false; // the auto-reset event has been consumed by a wait
    };
    struct Subscription {
        bool forClass = true;
        HANDLE handle = INVALID_HANDLE_VALUE;
        DeviceChangeHandler handler;
    };

    static HANDLE toHandle(Handle handle) { return reinterpret_cast<HANDLE>(intptr_t(handle)); }
    static uint32_t portError(DWORD systemError);
    Request *findRequest(const CompletionRecord &record);
    bool devicePath(HDEVINFO list, SP_DEVICE_INTERFACE_DATA &item, QString &path);
    void endRequest(Request &request);
    Registration subscribe(HDEVNOTIFY notification, Subscription subscription);

    const Win32Api &m_api;
    HWND m_notificationWindow = nullptr;
    DWORD m_lastSystemError = 0;
    std::map<uint64_t, std::unique_ptr<Request>> m_requests;
    uint64_t m_nextRequest = 1;
    std::map<Registration, Subscription> m_subscriptions; // keyed by the system's registration
};

#endif
