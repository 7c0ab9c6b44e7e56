// Messaging with another process's window: window discovery by class, registered messages,
// global atoms, send with time-out, the last error value, and the process id and sleep that go
// with them.
#pragma once

#include "platform/types.h"

#include <cstdint>

namespace plat {

inline constexpr std::uint32_t SendBlock = 0x0001; // SMTO_BLOCK

// FindWindowExA(null, null, className, null): a top-level window of that class, or null.
Window FindWindowByClass(const char* className);

// RegisterWindowMessageA: the system-wide message identifier for a name, 0 on failure.
std::uint32_t RegisterMessage(const char* name);

// GlobalAddAtomA / GlobalDeleteAtom. Add returns 0 on failure.
std::uint16_t AddGlobalAtom(const char* name);
void DeleteGlobalAtom(std::uint16_t atom);

// SendMessageTimeoutA(window, message, wParam, lParam, flags, timeout, &reply): non-zero when the
// window procedure answered (its answer in *reply), 0 when the send failed or timed out.
int SendWithTimeout(Window window, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam, std::uint32_t flags, unsigned timeoutMs,
                    std::uintptr_t* reply);

// GetLastError.
std::uint32_t LastError();

// GetCurrentProcessId.
std::uint32_t ProcessId();

// Sleep.
void SleepMs(unsigned ms);

} // namespace plat
