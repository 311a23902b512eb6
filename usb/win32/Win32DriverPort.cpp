#include "Win32DriverPort.h"

#include "CompletionRecord.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

// The records whose size field the system checks. Their sizes follow the
// pointer width: the interface and device records hold a ULONG_PTR (28 bytes
// on 32-bit Windows, 32 on 64-bit), the detail record is a size field and
// the path's first character (5 bytes on 32-bit Windows, 8 on 64-bit, where
// the structure is aligned to 8), and the handle filter holds two handles.
// The system refuses a record whose size field is not its own width's value,
// so the sizes are taken from the structures, not written down.
#ifdef _WIN64
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "64-bit interface record");
static_assert(sizeof(SP_DEVINFO_DATA) == 32, "64-bit device record");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8, "64-bit detail record");
static_assert(sizeof(DEV_BROADCAST_HANDLE) == 56, "64-bit handle filter");
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "32-bit interface record");
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "32-bit device record");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "32-bit detail record");
static_assert(sizeof(DEV_BROADCAST_HANDLE) == 44, "32-bit handle filter");
#endif
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32, "class filter");

Win32DriverPort::Win32DriverPort(const Win32Api &api) : m_api(api) {}

Win32DriverPort::~Win32DriverPort() {
    // Records that outlive the port must not call back into it.
    for (auto &entry : m_requests) {
        endRequest(*entry.second);
        if (entry.second->record)
            entry.second->record->detach();
    }
    for (const auto &entry : m_subscriptions)
        m_api.UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(entry.first));
}

bool Win32DriverPort::toGuid(const QUuid &uuid, GUID &guid) const {
    const std::wstring text = uuid.toString(QUuid::WithBraces).toStdWString();
    return m_api.CLSIDFromString(text.c_str(), &guid) == NOERROR;
}

uint32_t Win32DriverPort::portError(DWORD systemError) {
    switch (systemError) {
    case ERROR_SUCCESS:
        return NoError;
    case ERROR_IO_PENDING:
        return IoPending;
    case ERROR_INVALID_HANDLE:
        return BadHandle;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INSUFFICIENT_BUFFER:
    case ERROR_INVALID_USER_BUFFER:
        return BadParameter;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return NotSupported;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case 433: // no such device
        return DeviceGone;
    case ERROR_OPERATION_ABORTED:
        return RequestCancelled;
    default:
        return RequestFailed;
    }
}

bool Win32DriverPort::listDevices(const QUuid &interfaceClass, QStringList &paths) {
    paths.clear();
    GUID guid;
    if (!toGuid(interfaceClass, guid))
        return false;
    const HDEVINFO list = m_api.SetupDiGetClassDevsA(&guid, nullptr, nullptr, ListFlags);
    if (list == INVALID_HANDLE_VALUE) {
        m_lastSystemError = m_api.GetLastError();
        return false;
    }
    for (DWORD index = 0; index < MaxListIndex; ++index) {
        SP_DEVICE_INTERFACE_DATA item{};
        item.cbSize = sizeof item;
        if (!m_api.SetupDiEnumDeviceInterfaces(list, nullptr, &guid, index, &item)) {
            const DWORD error = m_api.GetLastError();
            if (error == NoMoreItems)
                break;
            // A device that vanished while listing; the next may be there.
            m_lastSystemError = error;
            continue;
        }
        // A device whose path cannot be had is still listed: it then fails
        // to open, as one unplugged between listing and opening does.
        QString path;
        devicePath(list, item, path);
        paths.append(path);
    }
    m_api.SetupDiDestroyDeviceInfoList(list);
    return true;
}

bool Win32DriverPort::devicePath(HDEVINFO list, SP_DEVICE_INTERFACE_DATA &item, QString &path) {
    DWORD needed = 0;
    m_api.SetupDiGetDeviceInterfaceDetailA(list, &item, nullptr, 0, &needed, nullptr);
    const size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    // The size asked for is the path's offset and its characters: on 64-bit
    // Windows a short path asks for less than the structure's size.
    if (needed <= pathOffset) {
        m_lastSystemError = m_api.GetLastError();
        return false;
    }
    // One byte more than asked for, zero, ends a path the system left open.
    std::vector<char> buffer(
        std::max(size_t(needed), sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) + 1, 0);
    auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!m_api.SetupDiGetDeviceInterfaceDetailA(list, &item, detail, needed, nullptr, &device)) {
        m_lastSystemError = m_api.GetLastError();
        return false;
    }
    // DevicePath is declared as a one-character array: handed over as it
    // stands it would be taken for a string of that one character. The path
    // ends at its zero, and never past what the system was given.
    const char *begin = detail->DevicePath;
    const size_t room = size_t(needed) - pathOffset;
    path = QString::fromLocal8Bit(begin, qsizetype(qstrnlen(begin, room)));
    return true;
}

DriverPort::Handle Win32DriverPort::openDevice(const QString &path) {
    if (path.isEmpty())
        return InvalidHandle;
    const QByteArray name = path.toLocal8Bit();
    const HANDLE handle = m_api.CreateFileA(name.constData(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        m_lastSystemError = m_api.GetLastError();
        return InvalidHandle;
    }
    return Handle(reinterpret_cast<intptr_t>(handle));
}

bool Win32DriverPort::closeDevice(Handle handle) {
    if (handle == InvalidHandle)
        return false;
    if (m_api.CloseHandle(toHandle(handle)))
        return true;
    m_lastSystemError = m_api.GetLastError();
    return false;
}

// The handle is open for overlapped requests, and on such a handle a request
// without an OVERLAPPED may return before the driver has finished with the
// buffers. A synchronous request is therefore an overlapped one that is
// waited for to its end.
bool Win32DriverPort::ioControl(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength,
                                uint8_t *out, uint32_t outLength, uint32_t &bytesReturned) {
    bytesReturned = 0;
    if (handle == InvalidHandle)
        return false;
    const HANDLE device = toHandle(handle);
    OVERLAPPED overlapped{};
    overlapped.hEvent = m_api.CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!overlapped.hEvent) {
        m_lastSystemError = m_api.GetLastError();
        return false;
    }
    DWORD bytes = 0;
    BOOL ok =
        m_api.DeviceIoControl(device, code, in, inLength, out, outLength, &bytes, &overlapped);
    if (!ok) {
        DWORD error = m_api.GetLastError();
        if (error == IoPendingCode) {
            ok = m_api.GetOverlappedResult(device, &overlapped, &bytes, TRUE);
            if (!ok)
                error = m_api.GetLastError();
        }
        if (!ok)
            m_lastSystemError = error;
    }
    m_api.CloseHandle(overlapped.hEvent);
    bytesReturned = bytes;
    return ok;
}

uint32_t Win32DriverPort::startRequest(Handle handle, uint32_t code, uint8_t *in, uint32_t inLength,
                                       uint8_t *out, uint32_t outLength, CompletionRecord &record) {
    record.release();
    auto fail = [&record](uint32_t error) {
        record.setStartError(error);
        return error;
    };
    if (handle == InvalidHandle)
        return fail(BadHandle);

    auto request = std::make_unique<Request>();
    request->device = toHandle(handle);
    // Auto-reset, not signalled, no name.
    request->overlapped.hEvent = m_api.CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!request->overlapped.hEvent) {
        m_lastSystemError = m_api.GetLastError();
        return fail(RequestFailed);
    }
    DWORD bytes = 0;
    uint32_t error = NoError;
    if (!m_api.DeviceIoControl(request->device, code, in, inLength, out, outLength, &bytes,
                               &request->overlapped)) {
        const DWORD system = m_api.GetLastError();
        if (system != IoPendingCode) {
            m_lastSystemError = system;
            m_api.CloseHandle(request->overlapped.hEvent);
            return fail(portError(system));
        }
        error = IoPending;
    }
    const uint64_t id = m_nextRequest++;
    request->record = &record;
    m_requests[id] = std::move(request);
    record.attach(this, id);
    record.setStartError(error);
    return error;
}

Win32DriverPort::Request *Win32DriverPort::findRequest(const CompletionRecord &record) {
    if (record.port() != this)
        return nullptr;
    auto it = m_requests.find(record.request());
    return it == m_requests.end() ? nullptr : it->second.get();
}

DriverPort::WaitResult Win32DriverPort::waitRequest(CompletionRecord &record, int timeoutMs) {
    Request *request = findRequest(record);
    if (!request)
        return WaitResult::Failed;
    // The event resets as a wait returns: a second wait would never end.
    if (request->signalled)
        return WaitResult::Signalled;
    const DWORD wait = timeoutMs < 0 ? INFINITE : DWORD(timeoutMs);
    switch (m_api.WaitForSingleObject(request->overlapped.hEvent, wait)) {
    case WAIT_OBJECT_0:
        request->signalled = true;
        return WaitResult::Signalled;
    case WaitTimedOut:
        return WaitResult::TimedOut;
    default:
        m_lastSystemError = m_api.GetLastError();
        return WaitResult::Failed;
    }
}

bool Win32DriverPort::requestResult(CompletionRecord &record, uint32_t &bytes) {
    bytes = 0;
    Request *request = findRequest(record);
    if (!request)
        return false;
    DWORD n = 0;
    const BOOL ok = m_api.GetOverlappedResult(request->device, &request->overlapped, &n, FALSE);
    bytes = n;
    if (!ok)
        m_lastSystemError = m_api.GetLastError();
    return ok;
}

// A request still running is cancelled and waited for: the system writes to
// its OVERLAPPED and buffers until it has ended.
void Win32DriverPort::endRequest(Request &request) {
    if (!request.overlapped.hEvent)
        return;
    DWORD n = 0;
    if (!m_api.GetOverlappedResult(request.device, &request.overlapped, &n, FALSE) &&
        m_api.GetLastError() == ERROR_IO_INCOMPLETE) {
        m_api.CancelIoEx(request.device, &request.overlapped);
        m_api.GetOverlappedResult(request.device, &request.overlapped, &n, TRUE);
    }
    m_api.CloseHandle(request.overlapped.hEvent);
    request.overlapped.hEvent = nullptr;
}

void Win32DriverPort::releaseRequest(CompletionRecord &record) {
    Request *request = findRequest(record);
    if (!request)
        return;
    endRequest(*request);
    m_requests.erase(record.request());
}

DEV_BROADCAST_DEVICEINTERFACE_A Win32DriverPort::classFilter(const GUID &interfaceClass) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interfaceClass;
    return filter;
}

DEV_BROADCAST_HANDLE Win32DriverPort::handleFilter(HANDLE handle) {
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof filter;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = handle;
    return filter;
}

DriverPort::Registration Win32DriverPort::subscribe(HDEVNOTIFY notification,
                                                    Subscription subscription) {
    if (!notification) {
        m_lastSystemError = m_api.GetLastError();
        return 0;
    }
    const Registration id = Registration(reinterpret_cast<uintptr_t>(notification));
    m_subscriptions[id] = std::move(subscription);
    return id;
}

DriverPort::Registration Win32DriverPort::registerClassNotification(const QUuid &interfaceClass,
                                                                    DeviceChangeHandler handler) {
    GUID guid;
    if (!handler || !m_notificationWindow || !toGuid(interfaceClass, guid))
        return 0;
    DEV_BROADCAST_DEVICEINTERFACE_A filter = classFilter(guid);
    return subscribe(m_api.RegisterDeviceNotificationA(m_notificationWindow, &filter,
                                                       DEVICE_NOTIFY_WINDOW_HANDLE),
                     Subscription{true, INVALID_HANDLE_VALUE, std::move(handler)});
}

DriverPort::Registration Win32DriverPort::registerHandleNotification(Handle handle,
                                                                     DeviceChangeHandler handler) {
    if (!handler || !m_notificationWindow || handle == InvalidHandle)
        return 0;
    DEV_BROADCAST_HANDLE filter = handleFilter(toHandle(handle));
    return subscribe(m_api.RegisterDeviceNotificationA(m_notificationWindow, &filter,
                                                       DEVICE_NOTIFY_WINDOW_HANDLE),
                     Subscription{false, toHandle(handle), std::move(handler)});
}

DriverPort::Registration Win32DriverPort::registerWindowNotification(quintptr nativeWindow,
                                                                     const QUuid &interfaceClass) {
    GUID guid;
    if (!nativeWindow || !toGuid(interfaceClass, guid))
        return 0;
    DEV_BROADCAST_DEVICEINTERFACE_A filter = classFilter(guid);
    // The window handles the message itself: no handler here.
    return subscribe(m_api.RegisterDeviceNotificationW(reinterpret_cast<HWND>(nativeWindow),
                                                       &filter, DEVICE_NOTIFY_WINDOW_HANDLE),
                     Subscription{true, INVALID_HANDLE_VALUE, DeviceChangeHandler()});
}

bool Win32DriverPort::unregisterNotification(Registration registration) {
    auto it = m_subscriptions.find(registration);
    if (it == m_subscriptions.end())
        return false;
    m_subscriptions.erase(it);
    if (m_api.UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(registration)))
        return true;
    m_lastSystemError = m_api.GetLastError();
    return false;
}

void Win32DriverPort::deliverDeviceChange(WPARAM event, LPARAM data) {
    if ((event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) || !data)
        return;
    const auto *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(data);
    DeviceChange change;
    change.kind = event == DBT_DEVICEARRIVAL ? DeviceChange::Arrival : DeviceChange::Removal;
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        // Qt's windows are Unicode windows: the system sends the wide record.
        const auto *record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W *>(data);
        const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
        if (header->dbch_size > nameOffset) {
            const size_t room = (header->dbch_size - nameOffset) / sizeof(wchar_t);
            const size_t length = wcsnlen(record->dbcc_name, room);
            change.path = QString::fromWCharArray(record->dbcc_name, qsizetype(length));
        }
    } else if (header->dbch_devicetype == DBT_DEVTYP_HANDLE) {
        handle = reinterpret_cast<const DEV_BROADCAST_HANDLE *>(data)->dbch_handle;
        change.handle = Handle(reinterpret_cast<intptr_t>(handle));
    } else {
        return;
    }
    std::vector<DeviceChangeHandler> handlers;
    for (const auto &entry : m_subscriptions) {
        const Subscription &subscription = entry.second;
        if (!subscription.handler)
            continue;
        if (subscription.forClass ? handle == INVALID_HANDLE_VALUE : handle == subscription.handle)
            handlers.push_back(subscription.handler);
    }
    // A handler may unregister others (or itself) while we go.
    for (const DeviceChangeHandler &handler : handlers)
        handler(change);
}
