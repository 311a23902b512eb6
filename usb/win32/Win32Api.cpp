#include "Win32Api.h"

#include <objbase.h>

const Win32Api &Win32Api::system() {
    static const Win32Api api = {
        ::SetupDiGetClassDevsA,
        ::SetupDiEnumDeviceInterfaces,
        ::SetupDiGetDeviceInterfaceDetailA,
        ::SetupDiDestroyDeviceInfoList,
        ::CreateFileA,
        ::DeviceIoControl,
        ::GetOverlappedResult,
        ::CancelIoEx,
        ::GetLastError,
        ::CreateEventA,
        ::WaitForSingleObject,
        ::CloseHandle,
        ::RegisterDeviceNotificationA,
        ::RegisterDeviceNotificationW,
        ::UnregisterDeviceNotification,
        ::CLSIDFromString,
    };
    return api;
}
