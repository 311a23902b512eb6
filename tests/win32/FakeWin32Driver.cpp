#include "FakeWin32Driver.h"

#include "CompletionRecord.h"
#include "ControlCode.h"

#include <QUuid>

#include <cstddef>
#include <cstring>
#include <vector>

#include <objbase.h>

namespace {

FakeWin32Driver *s_active = nullptr;

constexpr ULONG_PTR StatusPending = 0x103;           // STATUS_PENDING
constexpr ULONG_PTR StatusUnsuccessful = 0xC0000001; // ERROR_GEN_FAILURE once mapped
constexpr ULONG_PTR StatusCancelled = 0xC0000120;    // ERROR_OPERATION_ABORTED

DWORD systemError(uint32_t portError) {
    switch (portError) {
    case DriverPort::BadHandle:
        return ERROR_INVALID_HANDLE;
    case DriverPort::BadParameter:
        return ERROR_INVALID_PARAMETER;
    case DriverPort::NotSupported:
        return ERROR_NOT_SUPPORTED;
    case DriverPort::DeviceGone:
        return ERROR_DEVICE_NOT_CONNECTED;
    case DriverPort::RequestCancelled:
        return ERROR_OPERATION_ABORTED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

BOOL failWith(DWORD error) {
    SetLastError(error);
    return FALSE;
}

} // namespace

FakeWin32Driver::FakeWin32Driver(GenericUsbDriver &driver)
    : m_driver(driver), m_previous(s_active) {
    s_active = this;
}

FakeWin32Driver::~FakeWin32Driver() {
    for (auto &entry : m_requests)
        entry.second->record.release();
    for (auto &entry : m_notifications)
        m_driver.unregisterNotification(entry.second.driverRegistration);
    for (auto &entry : m_devices) {
        m_driver.closeDevice(entry.second.driverHandle);
        ::CloseHandle(entry.first);
    }
    s_active = m_previous;
}

FakeWin32Driver *FakeWin32Driver::active() {
    return s_active;
}

const Win32Api &FakeWin32Driver::api() {
    static const Win32Api table = {
        getClassDevs,   enumInterfaces,  interfaceDetail,  destroyList,
        createFile,     deviceIoControl, overlappedResult, cancelIo,
        ::GetLastError, createEvent,     waitFor,          closeHandle,
        registerA,      registerW,       unregister,       ::CLSIDFromString,
    };
    return table;
}

int FakeWin32Driver::ioCount(DWORD code) const {
    int n = 0;
    for (const IoCall &call : ioCalls)
        n += call.code == code;
    return n;
}

int FakeWin32Driver::aborts(uint8_t endpoint) const {
    int n = 0;
    for (const IoCall &call : ioCalls)
        n += call.code == ControlCode::AbortEndpoint && call.in.size() == 1 &&
             uint8_t(call.in.at(0)) == endpoint;
    return n;
}

// Device installation functions.

HDEVINFO WINAPI FakeWin32Driver::getClassDevs(const GUID *guid, PCSTR enumerator, HWND window,
                                              DWORD flags) {
    FakeWin32Driver &fake = *active();
    fake.classDevsFlags.append(flags);
    if (fake.classDevsError || !guid || enumerator || window) {
        SetLastError(fake.classDevsError ? fake.classDevsError : ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    QStringList paths;
    if ((flags & DIGCF_PRESENT) && (flags & DIGCF_DEVICEINTERFACE))
        fake.m_driver.listDevices(QUuid(*guid), paths);
    const uintptr_t id = fake.m_nextList++;
    fake.m_lists[id] = paths;
    ++fake.listsOpen;
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HDEVINFO>(id);
}

BOOL WINAPI FakeWin32Driver::enumInterfaces(HDEVINFO list, PSP_DEVINFO_DATA, const GUID *guid,
                                            DWORD index, PSP_DEVICE_INTERFACE_DATA item) {
    FakeWin32Driver &fake = *active();
    auto it = fake.m_lists.find(reinterpret_cast<uintptr_t>(list));
    if (it == fake.m_lists.end())
        return failWith(ERROR_INVALID_HANDLE);
    if (!item || !guid || item->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return failWith(ERROR_INVALID_USER_BUFFER);
    if (fake.enumerationErrorEverywhere)
        return failWith(fake.enumerationErrorEverywhere);
    auto error = fake.enumerationError.find(index);
    if (error != fake.enumerationError.end())
        return failWith(error->second);
    if (index >= DWORD(it->second.size()))
        return failWith(ERROR_NO_MORE_ITEMS);
    item->InterfaceClassGuid = *guid;
    item->Flags = SPINT_ACTIVE;
    item->Reserved = ULONG_PTR(index) + 1;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI FakeWin32Driver::interfaceDetail(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA item,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                             PDWORD required, PSP_DEVINFO_DATA device) {
    FakeWin32Driver &fake = *active();
    auto it = fake.m_lists.find(reinterpret_cast<uintptr_t>(list));
    if (it == fake.m_lists.end())
        return failWith(ERROR_INVALID_HANDLE);
    if (!item || item->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || item->Reserved == 0 ||
        item->Reserved > ULONG_PTR(it->second.size()))
        return failWith(ERROR_INVALID_PARAMETER);
    const QByteArray path = it->second.at(int(item->Reserved - 1)).toLocal8Bit();
    const DWORD needed =
        DWORD(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (required)
        *required = needed;
    // The checks and their order are the system's: the size field first.
    if (!detail)
        return failWith(size ? ERROR_INVALID_USER_BUFFER : ERROR_INSUFFICIENT_BUFFER);
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return failWith(ERROR_INVALID_USER_BUFFER);
    if (size < needed)
        return failWith(ERROR_INSUFFICIENT_BUFFER);
    if (device && device->cbSize != sizeof(SP_DEVINFO_DATA))
        return failWith(ERROR_INVALID_USER_BUFFER);
    std::memcpy(detail->DevicePath, path.constData(), size_t(path.size()) + 1);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI FakeWin32Driver::destroyList(HDEVINFO list) {
    FakeWin32Driver &fake = *active();
    if (fake.m_lists.erase(reinterpret_cast<uintptr_t>(list)) == 0)
        return failWith(ERROR_INVALID_HANDLE);
    --fake.listsOpen;
    return TRUE;
}

// Files and requests.

HANDLE WINAPI FakeWin32Driver::createFile(LPCSTR name, DWORD access, DWORD share,
                                          LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                          DWORD flags, HANDLE templateFile) {
    FakeWin32Driver &fake = *active();
    fake.opens.append(OpenCall{QByteArray(name), access, share, disposition, flags,
                               security != nullptr, templateFile != nullptr});
    if (fake.openError) {
        SetLastError(fake.openError);
        return INVALID_HANDLE_VALUE;
    }
    const DriverPort::Handle handle = fake.m_driver.openDevice(QString::fromLocal8Bit(name));
    if (handle == DriverPort::InvalidHandle) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // A real kernel object, so that closing it is the system's business too.
    const HANDLE file = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    fake.m_devices[file] = Device{handle};
    ++fake.devicesOpen;
    SetLastError(ERROR_SUCCESS);
    return file;
}

FakeWin32Driver::Request *FakeWin32Driver::requestFor(const OVERLAPPED *overlapped) {
    auto it = m_requests.find(overlapped);
    return it == m_requests.end() ? nullptr : it->second.get();
}

FakeWin32Driver::Request *FakeWin32Driver::requestForEvent(HANDLE event) {
    for (auto &entry : m_requests)
        if (entry.first->hEvent == event)
            return entry.second.get();
    return nullptr;
}

// The request has ended in the driver: its outcome goes into the OVERLAPPED
// as the system leaves it, and the event is set.
void FakeWin32Driver::end(Request &request) {
    if (request.ended)
        return;
    uint32_t bytes = 0;
    const bool ok = m_driver.requestResult(request.record, bytes);
    const bool cancelled = request.record.port() == nullptr;
    request.overlapped->InternalHigh = bytes;
    request.overlapped->Internal = ok ? 0 : (cancelled ? StatusCancelled : StatusUnsuccessful);
    request.ended = true;
    ::SetEvent(request.overlapped->hEvent);
}

void FakeWin32Driver::run(Request &request, int timeoutMs) {
    if (request.ended)
        return;
    if (m_driver.waitRequest(request.record, timeoutMs) == DriverPort::WaitResult::Signalled)
        end(request);
}

BOOL WINAPI FakeWin32Driver::deviceIoControl(HANDLE file, DWORD code, LPVOID in, DWORD inLength,
                                             LPVOID out, DWORD outLength, LPDWORD bytesReturned,
                                             LPOVERLAPPED overlapped) {
    FakeWin32Driver &fake = *active();
    fake.ioCalls.append(
        IoCall{code, overlapped != nullptr,
               in ? QByteArray(static_cast<const char *>(in), int(inLength)) : QByteArray()});
    auto device = fake.m_devices.find(file);
    if (device == fake.m_devices.end())
        return failWith(ERROR_INVALID_HANDLE);
    const DriverPort::Handle handle = device->second.driverHandle;
    auto *input = static_cast<uint8_t *>(in);
    auto *output = static_cast<uint8_t *>(out);
    if (!overlapped) {
        uint32_t bytes = 0;
        const bool ok =
            fake.m_driver.ioControl(handle, code, input, inLength, output, outLength, bytes);
        if (bytesReturned)
            *bytesReturned = bytes;
        return ok ? TRUE : failWith(ERROR_GEN_FAILURE);
    }
    if (!overlapped->hEvent || fake.m_requests.count(overlapped))
        return failWith(ERROR_INVALID_PARAMETER);

    auto request = std::make_unique<Request>();
    request->overlapped = overlapped;
    overlapped->Internal = StatusPending;
    overlapped->InternalHigh = 0;
    const uint32_t error = fake.m_driver.startRequest(handle, code, input, inLength, output,
                                                      outLength, request->record);
    if (error != DriverPort::NoError && error != DriverPort::IoPending)
        return failWith(systemError(error));
    Request &started = *request;
    fake.m_requests[overlapped] = std::move(request);
    if (error == DriverPort::IoPending)
        return failWith(ERROR_IO_PENDING);
    // Ended at once: the system still sets the event and fills the record.
    fake.end(started);
    if (bytesReturned)
        *bytesReturned = DWORD(overlapped->InternalHigh);
    return overlapped->Internal == 0 ? TRUE : failWith(ERROR_GEN_FAILURE);
}

BOOL WINAPI FakeWin32Driver::overlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD bytes,
                                              BOOL wait) {
    FakeWin32Driver &fake = *active();
    Request *request = fake.requestFor(overlapped);
    if (request && !request->ended) {
        if (wait)
            fake.run(*request, DriverPort::WaitForever);
        else
            fake.run(*request, 0);
    }
    return ::GetOverlappedResult(file, overlapped, bytes, wait);
}

BOOL WINAPI FakeWin32Driver::cancelIo(HANDLE file, LPOVERLAPPED overlapped) {
    FakeWin32Driver &fake = *active();
    if (!fake.m_devices.count(file))
        return failWith(ERROR_INVALID_HANDLE);
    Request *request = fake.requestFor(overlapped);
    if (!request || request->ended)
        return failWith(ERROR_NOT_FOUND);
    // The driver cancels and waits for the transfer; it then ends cancelled.
    request->record.release();
    fake.end(*request);
    return TRUE;
}

HANDLE WINAPI FakeWin32Driver::createEvent(LPSECURITY_ATTRIBUTES security, BOOL manualReset,
                                           BOOL initialState, LPCSTR name) {
    FakeWin32Driver &fake = *active();
    fake.events.append(EventCall{security != nullptr, manualReset, initialState, name != nullptr});
    const HANDLE event = ::CreateEventA(security, manualReset, initialState, name);
    if (event) {
        fake.m_requestEvents.insert(event);
        ++fake.eventsOpen;
    }
    return event;
}

DWORD WINAPI FakeWin32Driver::waitFor(HANDLE object, DWORD timeoutMs) {
    FakeWin32Driver &fake = *active();
    Request *request = fake.requestForEvent(object);
    if (!request)
        return ::WaitForSingleObject(object, timeoutMs);
    fake.run(*request, timeoutMs == INFINITE ? DriverPort::WaitForever : int(timeoutMs));
    // The simulated time has passed; the real event says whether it ended.
    const DWORD result = ::WaitForSingleObject(object, 0);
    fake.waitResults.append(result);
    return result;
}

BOOL WINAPI FakeWin32Driver::closeHandle(HANDLE object) {
    FakeWin32Driver &fake = *active();
    auto device = fake.m_devices.find(object);
    if (device != fake.m_devices.end()) {
        fake.m_driver.closeDevice(device->second.driverHandle);
        fake.m_devices.erase(device);
        --fake.devicesOpen;
    }
    if (fake.m_requestEvents.erase(object)) {
        --fake.eventsOpen;
        for (auto it = fake.m_requests.begin(); it != fake.m_requests.end(); ++it) {
            if (it->first->hEvent == object) {
                fake.m_requests.erase(it);
                break;
            }
        }
    }
    return ::CloseHandle(object);
}

// Device notification.

HDEVNOTIFY WINAPI FakeWin32Driver::registerA(HANDLE window, LPVOID filter, DWORD flags) {
    return active()->registerNotification(false, window, filter, flags);
}

HDEVNOTIFY WINAPI FakeWin32Driver::registerW(HANDLE window, LPVOID filter, DWORD flags) {
    return active()->registerNotification(true, window, filter, flags);
}

HDEVNOTIFY FakeWin32Driver::registerNotification(bool wide, HANDLE window, LPVOID filter,
                                                 DWORD flags) {
    const auto *header = static_cast<const DEV_BROADCAST_HDR *>(filter);
    registrations.append(NotificationCall{
        wide, window, flags,
        header ? QByteArray(static_cast<const char *>(filter), int(header->dbch_size))
               : QByteArray()});
    if (!window || !header || flags != DEVICE_NOTIFY_WINDOW_HANDLE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const HWND target = static_cast<HWND>(window);
    DriverPort::Registration registration = 0;
    if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
        header->dbch_size == sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)) {
        const auto *byClass = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_A *>(filter);
        registration = m_driver.registerClassNotification(
            QUuid(byClass->dbcc_classguid), [this, target](const DriverPort::DeviceChange &change) {
                deviceChange(target, change, false);
            });
    } else if (header->dbch_devicetype == DBT_DEVTYP_HANDLE &&
               header->dbch_size == sizeof(DEV_BROADCAST_HANDLE)) {
        const HANDLE file = static_cast<const DEV_BROADCAST_HANDLE *>(filter)->dbch_handle;
        auto device = m_devices.find(file);
        if (device != m_devices.end())
            registration = m_driver.registerHandleNotification(
                device->second.driverHandle,
                [this, target, file](const DriverPort::DeviceChange &change) {
                    DriverPort::DeviceChange forWindow = change;
                    forWindow.handle = DriverPort::Handle(reinterpret_cast<intptr_t>(file));
                    deviceChange(target, forWindow, true);
                });
    }
    if (!registration) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    const uintptr_t id = m_nextNotification++;
    m_notifications[id] = Notification{registration};
    return reinterpret_cast<HDEVNOTIFY>(id);
}

BOOL WINAPI FakeWin32Driver::unregister(HDEVNOTIFY notification) {
    FakeWin32Driver &fake = *active();
    auto it = fake.m_notifications.find(reinterpret_cast<uintptr_t>(notification));
    if (it == fake.m_notifications.end())
        return failWith(ERROR_INVALID_HANDLE);
    fake.m_driver.unregisterNotification(it->second.driverRegistration);
    fake.m_notifications.erase(it);
    return TRUE;
}

void FakeWin32Driver::deviceChange(HWND window, const DriverPort::DeviceChange &change,
                                   bool handleFilter) {
    if (!postMessage)
        return;
    const WPARAM event = change.kind == DriverPort::DeviceChange::Arrival
                             ? DBT_DEVICEARRIVAL
                             : DBT_DEVICEREMOVECOMPLETE;
    if (handleFilter) {
        DEV_BROADCAST_HANDLE record{};
        record.dbch_size = sizeof record;
        record.dbch_devicetype = DBT_DEVTYP_HANDLE;
        record.dbch_handle = reinterpret_cast<HANDLE>(intptr_t(change.handle));
        postMessage(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&record));
        return;
    }
    // The wide record, as Unicode windows get it: the path follows the header.
    const std::wstring path = change.path.toStdWString();
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    std::vector<char> bytes(nameOffset + (path.size() + 1) * sizeof(wchar_t), 0);
    auto *record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W *>(bytes.data());
    record->dbcc_size = DWORD(bytes.size());
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_classguid = GUID(DriverPort::adapterInterfaceClass());
    std::memcpy(record->dbcc_name, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    postMessage(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record));
}
