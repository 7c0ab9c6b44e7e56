// OLE and COM, the session event and the wait, and the modal run of the program's dialogs: the
// system's dialog manager with one dialog procedure of ours that hands each message to the core's
// handler. No MFC.
#include "platform/app.h"
#include "platform/win32/monotonic_clock.h"
#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_dialog.h"

#include <ole2.h>

#include <algorithm>
#include <vector>

namespace {

// The dialogs running modally now, outermost first. Only the user-interface thread touches it.
std::vector<HWND>& RunningDialogs() {
    static std::vector<HWND> running;
    return running;
}

plat::DialogHandler* HandlerOf(HWND window) {
    return reinterpret_cast<plat::DialogHandler*>(GetWindowLongPtrA(window, DWLP_USER));
}

// The dialog procedure of every dialog the core runs: DLGPROC as the system's headers declare it,
// so the compiler checks its calling convention and arguments. TRUE means handled; FALSE lets the
// dialog manager (DefDlgProc) do its default processing.
INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        // DialogBoxParamA's last argument: the core's handler.
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        // The outermost dialog is the main dialog, which a second start brings to the front.
        if (RunningDialogs().empty())
            win32::MarkRelayMainWindow(window);
        RunningDialogs().push_back(window);
        return HandlerOf(window)->OnInitDialog(win32::FromHwnd(window));
    }
    plat::DialogHandler* handler = HandlerOf(window);
    if (handler == nullptr)
        return FALSE; // the messages before WM_INITDIALOG (WM_SETFONT and the like)

    switch (message) {
    case WM_DESTROY:
        win32::UnmarkRelayMainWindow(window);
        return FALSE;
    case WM_COMMAND:
        // Menu items (0), accelerators (1) and clicked buttons (BN_CLICKED, 0) are commands;
        // other control notifications are not.
        if (HIWORD(wParam) > 1)
            return FALSE;
        handler->OnCommand(LOWORD(wParam));
        return TRUE;
    case WM_SYSCOMMAND:
        return handler->OnSysCommand(static_cast<unsigned>(wParam)) ? TRUE : FALSE;
    case WM_PAINT:
        return handler->OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
        // One of the messages whose answer is the dialog procedure's own return value; FALSE
        // (no icon) lets the system take the window's class icon.
        return reinterpret_cast<INT_PTR>(win32::ToHicon(handler->OnQueryDragIcon()));
    default:
        return FALSE;
    }
}

} // namespace

namespace win32 {

HWND RunningMainDialog() {
    const auto& running = RunningDialogs();
    return running.empty() ? nullptr : running.front();
}

} // namespace win32

namespace plat {

void OleInitialize() {
    ::OleInitialize(nullptr); // AfxOleInit; the program does not examine the result
}

HRESULT ComInitialize() {
    return ::CoInitialize(nullptr);
}

void ComUninitialize() {
    ::CoUninitialize();
}

Event CreateSessionEvent() {
    // Automatic reset, not signalled, no name, default security.
    return win32::EventFromHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

void SignalSessionEvent(Event event) {
    SetEvent(win32::ToHandle(event));
}

int CloseSessionEvent(Event event) {
    return CloseHandle(win32::ToHandle(event)) ? 1 : 0;
}

std::uint64_t MonotonicMilliseconds() {
    return win32::MonotonicMilliseconds();
}

void WaitForEventOrInput(Event event) {
    // With no event (CreateEventA failed), the system's call would fail at once with
    // ERROR_INVALID_HANDLE and return; returning here does the same without the failing call.
    // The pump's drain does not depend on the wait, and the user-interface thread is never held.
    if (event == nullptr)
        return;
    HANDLE handle = win32::ToHandle(event);
    MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLEVENTS);
}

int RunModalDialog(const char* templateName, int templateId, DialogHandler* handler) {
    if (handler == nullptr)
        return -1;
    INT_PTR result =
        DialogBoxParamA(GetModuleHandleA(nullptr), win32::ResourceName(templateName, templateId),
                        nullptr, &DialogProcedure, reinterpret_cast<LPARAM>(handler));
    // The window is gone: it leaves the running list, and its timers with it.
    auto& running = RunningDialogs();
    for (auto it = running.begin(); it != running.end();) {
        if (IsWindow(*it)) {
            ++it;
            continue;
        }
        win32::ForgetTimers(*it);
        it = running.erase(it);
    }
    return static_cast<int>(result);
}

void EndModalDialog(Window dialog, int result) {
    EndDialog(win32::ToHwnd(dialog), result);
}

} // namespace plat
