#ifndef BRANTLE_TESTS_FAKEWIN32DRIVER_H
#define BRANTLE_TESTS_FAKEWIN32DRIVER_H

#include "CompletionRecord.h"
#include "GenericUsbDriver.h"
#include "Win32Api.h"

#include <QByteArray>
#include <QStringList>
#include <QVector>

#include <functional>
#include <map>
#include <memory>
#include <set>

// The vendor's driver and the device installation functions, played by
// GenericUsbDriver (on the simulated adapters) behind a Win32Api table. The
// kernel's own machinery stays real where it can: device handles are real
// kernel objects (events standing in for files), every completion event is a
// real event set when the simulated request ends, and waits,
// GetOverlappedResult and the last error are the system's.
//
// Simulated time only moves while someone waits, so a wait on a request's
// event first runs the simulation for the wait's time-out (virtual time: the
// test does not sleep), then asks the real event without waiting. A request
// that has not ended by then leaves the event unsignalled and the real wait
// reports the time-out.
//
// One fake at a time is active: the table's functions go to the newest.
class FakeWin32Driver {
public:
    explicit FakeWin32Driver(GenericUsbDriver &driver);
    ~FakeWin32Driver();
    FakeWin32Driver(const FakeWin32Driver &) = delete;
    FakeWin32Driver &operator=(const FakeWin32Driver &) = delete;

    static const Win32Api &api();

    // What the port asked for.
    struct OpenCall {
        QByteArray path;
        DWORD access = 0;
        DWORD share = 0;
        DWORD disposition = 0;
        DWORD flags = 0;
        bool security = false;
        bool templateFile = false;
    };
    struct IoCall {
        DWORD code = 0;
        bool overlapped = false;
        QByteArray in; // as it went down
    };
    struct NotificationCall {
        bool wide = false;
        HANDLE window = nullptr;
        DWORD flags = 0;
        QByteArray filter; // the filter's bytes as its size field gives them
    };
    struct EventCall {
        bool security = false;
        BOOL manualReset = FALSE;
        BOOL initialState = FALSE;
        bool named = false;
    };
    QVector<DWORD> classDevsFlags;
    QVector<OpenCall> opens;
    QVector<IoCall> ioCalls;
    QVector<NotificationCall> registrations;
    QVector<EventCall> events;
    QVector<DWORD> waitResults; // what the real waits on request events returned
    int listsOpen = 0;          // device lists not destroyed yet
    int eventsOpen = 0;         // request events not closed yet
    int devicesOpen = 0;

    int ioCount(DWORD code) const;
    int aborts(uint8_t endpoint) const;

    // Faults the system can have.
    DWORD classDevsError = 0;                // the list cannot be had
    std::map<DWORD, DWORD> enumerationError; // index -> error at that index
    DWORD enumerationErrorEverywhere = 0;    // every index fails with this
    DWORD openError = 0;                     // CreateFileA fails with this

    // Where device-change messages for registered windows go (a window's
    // nativeEvent, or the port's deliverDeviceChange). The record lives for
    // the call only.
    std::function<void(HWND, UINT, WPARAM, LPARAM)> postMessage;

private:
    struct Request {
        OVERLAPPED *overlapped = nullptr;
        CompletionRecord record;
        bool ended = false;
    };
    struct Device {
        DriverPort::Handle driverHandle = DriverPort::InvalidHandle;
    };
    struct Notification {
        DriverPort::Registration driverRegistration = 0;
    };

    static FakeWin32Driver *active();
    Request *requestForEvent(HANDLE event);
    Request *requestFor(const OVERLAPPED *overlapped);
    void end(Request &request);
    void run(Request &request, int timeoutMs);
    void deviceChange(HWND window, const DriverPort::DeviceChange &change, bool handleFilter);

    static HDEVINFO WINAPI getClassDevs(const GUID *, PCSTR, HWND, DWORD);
    static BOOL WINAPI enumInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID *, DWORD,
                                      PSP_DEVICE_INTERFACE_DATA);
    static BOOL WINAPI interfaceDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                       PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD,
                                       PSP_DEVINFO_DATA);
    static BOOL WINAPI destroyList(HDEVINFO);
    static HANDLE WINAPI createFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                    HANDLE);
    static BOOL WINAPI deviceIoControl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                                       LPOVERLAPPED);
    static BOOL WINAPI overlappedResult(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
    static BOOL WINAPI cancelIo(HANDLE, LPOVERLAPPED);
    static HANDLE WINAPI createEvent(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
    static DWORD WINAPI waitFor(HANDLE, DWORD);
    static BOOL WINAPI closeHandle(HANDLE);
    static HDEVNOTIFY WINAPI registerA(HANDLE, LPVOID, DWORD);
    static HDEVNOTIFY WINAPI registerW(HANDLE, LPVOID, DWORD);
    static BOOL WINAPI unregister(HDEVNOTIFY);
    HDEVNOTIFY registerNotification(bool wide, HANDLE window, LPVOID filter, DWORD flags);

    GenericUsbDriver &m_driver;
    FakeWin32Driver *m_previous = nullptr;
    std::map<uintptr_t, QStringList> m_lists;
    uintptr_t m_nextList = 0x5000;
    std::map<HANDLE, Device> m_devices;
    std::map<const OVERLAPPED *, std::unique_ptr<Request>> m_requests;
    std::set<HANDLE> m_requestEvents;
    std::map<uintptr_t, Notification> m_notifications;
    uintptr_t m_nextNotification = 0x9000;
};

#endif
