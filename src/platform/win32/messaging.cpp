// Messaging with another process's window: the system's own window lookup, registered messages,
// global atoms and sends with a time-out.
#include "platform/messaging.h"
#include "platform/win32/win32_backend.h"

namespace plat {

Window FindWindowByClass(const char* className) {
    return win32::FromHwnd(FindWindowExA(nullptr, nullptr, className, nullptr));
}

std::uint32_t RegisterMessage(const char* name) {
    return RegisterWindowMessageA(name);
}

std::uint16_t AddGlobalAtom(const char* name) {
    return GlobalAddAtomA(name);
}

void DeleteGlobalAtom(std::uint16_t atom) {
    GlobalDeleteAtom(atom);
}

int SendWithTimeout(Window window, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam, std::uint32_t flags, unsigned timeoutMs,
                    std::uintptr_t* reply) {
    DWORD_PTR answer = 0;
    LRESULT sent = SendMessageTimeoutA(win32::ToHwnd(window), message, wParam, lParam, flags,
                                       timeoutMs, &answer);
    if (sent == 0)
        return 0;
    if (reply != nullptr)
        *reply = answer;
    return 1;
}

std::uint32_t LastError() {
    return GetLastError();
}

std::uint32_t ProcessId() {
    return GetCurrentProcessId();
}

void SleepMs(unsigned ms) {
    Sleep(ms);
}

} // namespace plat
