// Helpers shared by the Windows backend's files (not part of the seam): the seam's opaque handles
// are the system's own handles, converted here and nowhere else.
#pragma once

#include "platform/types.h"

#include <windows.h>

namespace win32 {

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
