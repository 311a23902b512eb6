#ifndef BRANTLE_WIN32API_H
#define BRANTLE_WIN32API_H

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <dbt.h>
#include <setupapi.h>

// Every system function the Windows port calls, in one table. The port never
// calls Windows directly: a test hands it a table whose device functions are
// answered by a stand-in for the vendor's driver, while the kernel's own
// event and wait functions may stay the real ones.
struct Win32Api {
    HDEVINFO(WINAPI *SetupDiGetClassDevsA)(const GUID *, PCSTR, HWND, DWORD);
    BOOL(WINAPI *SetupDiEnumDeviceInterfaces)
    (HDEVINFO, PSP_DEVINFO_DATA, const GUID *, DWORD, PSP_DEVICE_INTERFACE_DATA);
    BOOL(WINAPI *SetupDiGetDeviceInterfaceDetailA)
    (HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD,
     PSP_DEVINFO_DATA);
    BOOL(WINAPI *SetupDiDestroyDeviceInfoList)(HDEVINFO);

    HANDLE(WINAPI *CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI *DeviceIoControl)
    (HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI *GetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
    BOOL(WINAPI *CancelIoEx)(HANDLE, LPOVERLAPPED);
    DWORD(WINAPI *GetLastError)();
    HANDLE(WINAPI *CreateEventA)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
    DWORD(WINAPI *WaitForSingleObject)(HANDLE, DWORD);
    BOOL(WINAPI *CloseHandle)(HANDLE);

    HDEVNOTIFY(WINAPI *RegisterDeviceNotificationA)(HANDLE, LPVOID, DWORD);
    HDEVNOTIFY(WINAPI *RegisterDeviceNotificationW)(HANDLE, LPVOID, DWORD);
    BOOL(WINAPI *UnregisterDeviceNotification)(HDEVNOTIFY);

    HRESULT(WINAPI *CLSIDFromString)(const wchar_t *, LPCLSID);

    // Bound to the system's own functions.
    static const Win32Api &system();
};

#endif
