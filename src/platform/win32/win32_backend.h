// Helpers shared by the Windows backend's files (not part of the seam): the seam's opaque handles
// are the system's own handles, converted here and nowhere else.
#pragma once

#include "platform/dialog.h"
#include "platform/types.h"

#include <windows.h>

// windows.h makes WriteProfileString a macro for WriteProfileStringA, which would rename the
// seam's own function of that name in the backend's files and leave the core's call unresolved.
#undef WriteProfileString

namespace win32 {

// Whether CoCreateInstance's result for DirectPlay's class, with the error of the load of
// DPLAYX.dll by the system folder's full path (ERROR_SUCCESS when it loaded), says that DirectPlay
// is not installed: its class not registered, or registered while its DLL is gone.
bool DirectPlayMissing(HRESULT created, unsigned long loadError);

inline HWND ToHwnd(plat::Window window) {
    return reinterpret_cast<HWND>(window);
}
inline plat::Window FromHwnd(HWND window) {
    return reinterpret_cast<plat::Window>(window);
}
inline HMENU ToHmenu(plat::Menu menu) {
    return reinterpret_cast<HMENU>(menu);
}
inline plat::Menu FromHmenu(HMENU menu) {
    return reinterpret_cast<plat::Menu>(menu);
}
inline HICON ToHicon(plat::Icon icon) {
    return reinterpret_cast<HICON>(icon);
}
inline plat::Icon FromHicon(HICON icon) {
    return reinterpret_cast<plat::Icon>(icon);
}
inline HANDLE ToHandle(plat::Mapping mapping) {
    return reinterpret_cast<HANDLE>(mapping);
}
inline plat::Mapping FromHandle(HANDLE mapping) {
    return reinterpret_cast<plat::Mapping>(mapping);
}
inline HANDLE ToHandle(plat::Event event) {
    return reinterpret_cast<HANDLE>(event);
}
inline plat::Event EventFromHandle(HANDLE event) {
    return reinterpret_cast<plat::Event>(event);
}
inline HKEY ToHkey(plat::RegistryKey key) {
    return reinterpret_cast<HKEY>(key);
}
inline plat::RegistryKey FromHkey(HKEY key) {
    return reinterpret_cast<plat::RegistryKey>(key);
}

} // namespace win32
