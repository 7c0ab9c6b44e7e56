// Basic types shared by the core and every platform backend: result codes, opaque handles.
#pragma once

#include <cstddef>
#include <cstdint>

// HRESULT as Windows defines it: negative means failure.
using HRESULT = std::int32_t;

// The COM results the program tests or returns. (Named apart from the Windows macros so that the
// Windows backend can include both.)
namespace hresult {
inline constexpr HRESULT Ok = 0;                                          // S_OK
inline constexpr HRESULT NotImpl = static_cast<HRESULT>(0x80004001u);     // E_NOTIMPL
inline constexpr HRESULT NoInterface = static_cast<HRESULT>(0x80004002u); // E_NOINTERFACE
inline constexpr HRESULT Fail = static_cast<HRESULT>(0x80004005u);        // E_FAIL
inline constexpr HRESULT OutOfMemory = static_cast<HRESULT>(0x8007000Eu); // E_OUTOFMEMORY
} // namespace hresult

inline constexpr bool Failed(HRESULT hr) {
    return hr < 0;
}

namespace plat {

// Opaque handles. Each backend decides what stands behind them; the core only stores and passes
// them back. A null handle means "none".
struct WindowObject;
struct MenuObject;
struct MappingObject;
struct EventObject;
struct RegistryKeyObject;

using Window = WindowObject*;
using Menu = MenuObject*;
using Mapping = MappingObject*;
using Event = EventObject*;
using RegistryKey = RegistryKeyObject*;

// A window timer's identifier as the platform returned it.
using TimerId = std::uintptr_t;

// A window-timer callback. The platform's window, message, id and time arguments are not used by
// any callback of this program, so they are not passed through.
using TimerProc = void (*)();

} // namespace plat
