// One relay per user session: the relay owns the named mutex "Local\SkyrelayInstance" for its whole
// life (the session's own namespace, so each user signed in has one). The system gives the mutex
// up when the relay ends however it ends, so a relay that was killed never stops the next start.
// The running relay's main dialog carries a window property by which a second start finds it.
#include "platform/app.h"
#include "platform/win32/win32_dialog.h"

namespace {

constexpr char InstanceMutexName[] = "Local\\SkyrelayInstance";
constexpr char MainWindowProperty[] = "SkyrelayMainWindow";

// How long a second start looks for the running relay's window, which a relay that is itself still
// starting has not made yet.
constexpr DWORD FindWindowMs = 3000;
constexpr DWORD FindWindowStepMs = 50;

HANDLE heldMutex = nullptr; // never closed: the system releases it when the process ends

BOOL CALLBACK FindMarkedWindow(HWND window, LPARAM found) {
    if (GetPropA(window, MainWindowProperty) == nullptr)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

HWND RunningRelayWindow() {
    for (DWORD waited = 0;; waited += FindWindowStepMs) {
        HWND found = nullptr;
        EnumWindows(&FindMarkedWindow, reinterpret_cast<LPARAM>(&found));
        if (found != nullptr || waited >= FindWindowMs)
            return found;
        Sleep(FindWindowStepMs);
    }
}

} // namespace

namespace win32 {

void MarkRelayMainWindow(HWND window) {
    SetPropA(window, MainWindowProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(1)));
}

void UnmarkRelayMainWindow(HWND window) {
    RemovePropA(window, MainWindowProperty);
}

} // namespace win32

namespace plat {

bool ClaimRelayInstance(std::uint32_t* runningRelay) {
    if (runningRelay != nullptr)
        *runningRelay = 0;
    if (heldMutex != nullptr)
        return true;
    DWORD lastError = GetLastError();
    HANDLE mutex = CreateMutexA(nullptr, FALSE, InstanceMutexName);
    if (mutex == nullptr) {
        // The name exists but may not be opened: a relay of another account runs in this session.
        bool otherRelay = GetLastError() == ERROR_ACCESS_DENIED;
        SetLastError(lastError);
        return !otherRelay;
    }
    // Abandoned: the relay that owned it died; the claim passes to this process all the same.
    DWORD taken = WaitForSingleObject(mutex, 0);
    SetLastError(lastError);
    if (taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED) {
        heldMutex = mutex;
        return true;
    }
    CloseHandle(mutex);
    return taken != WAIT_TIMEOUT;
}

void ShowRunningRelay(const char*) {
    HWND window = RunningRelayWindow();
    if (window == nullptr)
        return;
    if (IsIconic(window))
        ShowWindowAsync(window, SW_RESTORE); // posted: a busy relay does not hold this start
    // A box the relay shows (its last active popup) comes forward with it, on top.
    HWND popup = GetLastActivePopup(window);
    SetForegroundWindow(popup != nullptr && IsWindowVisible(popup) ? popup : window);
}

} // namespace plat
