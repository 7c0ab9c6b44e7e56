// skyrelay-sim: stands in for the simulator's IPC module on Windows. A top-level window of class
// "UIPCMAIN" (or another with --class) answers the registered message "FsasmLib:IPC": wParam is the
// global atom naming the client's request area, whose records the module carries out. It prints
// each traffic record written at 0x1F80 and, with --log, one line per record carried out. It stops
// on WM_CLOSE and on Ctrl-C.
#include "platform/types.h" // HRESULT, which the system headers take from the seam
#include "skyrelay-sim/program.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

// Longer than a client's 2000 ms send time-out: a --silent window holds each request this long.
constexpr DWORD HoldUnansweredMs = 3000;

HWND mainWindow = nullptr;
UINT requestMessage = 0;
simprogram::Responder* responder = nullptr;
bool quitting = false;

// Keeps the sender waiting until its time-out has passed, serving the window's other messages (a
// close, further requests) meanwhile.
void HoldUnanswered() {
    DWORD start = GetTickCount();
    while (!quitting) {
        DWORD waited = GetTickCount() - start;
        if (waited >= HoldUnansweredMs)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, HoldUnansweredMs - waited, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quitting = true;
                PostQuitMessage(static_cast<int>(message.wParam)); // for the outer loop
                return;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == requestMessage && requestMessage != 0) {
        if (responder->Holds()) {
            HoldUnanswered();
            return 0;
        }
        char areaName[256] = {};
        GlobalGetAtomNameA(static_cast<ATOM>(wParam & 0xFFFF), areaName, sizeof areaName);
        return static_cast<LRESULT>(responder->Answer(areaName));
    }
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// Ctrl-C, Ctrl-Break or the console closing: the window is asked to close.
BOOL WINAPI OnConsoleEvent(DWORD) {
    PostMessageA(mainWindow, WM_CLOSE, 0, 0);
    return TRUE;
}

} // namespace

int main(int argc, char** argv) {
    simprogram::Options options;
    std::FILE* log = nullptr;
    if (int status = simprogram::Begin(argc, argv, &options, &log); status >= 0)
        return status;
    // Here the system itself refuses a send across integrity levels, before any window sees it.
    if (options.otherRights) {
        std::fputs("skyrelay-sim: --other-rights: start skyrelay-sim with other rights than its "
                   "senders instead\n",
                   stderr);
        return 2;
    }

    // One module per class: a second skyrelay-sim (the mutex) or any other window of the class.
    std::string lockName = "skyrelay-sim " + options.className;
    HANDLE lock = CreateMutexA(nullptr, FALSE, lockName.c_str());
    bool taken = lock == nullptr || GetLastError() == ERROR_ALREADY_EXISTS;
    if (taken || FindWindowExA(nullptr, nullptr, options.className.c_str(), nullptr) != nullptr) {
        std::fprintf(stderr, "skyrelay-sim: a window of class %s already exists\n",
                     options.className.c_str());
        return 1;
    }

    requestMessage = RegisterWindowMessageA(simprogram::RequestMessageName);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = options.className.c_str();
    if (requestMessage == 0 || RegisterClassA(&windowClass) == 0) {
        std::fprintf(stderr, "skyrelay-sim: cannot register the window class (error %lu)\n",
                     GetLastError());
        return 1;
    }
    // A plain top-level window, never shown: the client finds it by its class alone.
    mainWindow = CreateWindowExA(0, options.className.c_str(), "skyrelay-sim", WS_OVERLAPPEDWINDOW,
                                 CW_USEDEFAULT, CW_USEDEFAULT, 240, 120, nullptr, nullptr, instance,
                                 nullptr);
    if (mainWindow == nullptr) {
        std::fprintf(stderr, "skyrelay-sim: cannot create the window (error %lu)\n",
                     GetLastError());
        return 1;
    }
    simprogram::Responder answering(options, log);
    responder = &answering;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);

    char where[48];
    std::snprintf(where, sizeof where, "window 0x%llX",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(mainWindow)));
    std::fprintf(stderr, "%s\n", simprogram::ReadyLine(options, where).c_str());
    std::fflush(stderr);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    responder = nullptr;
    if (log != nullptr)
        std::fclose(log);
    CloseHandle(lock);
    std::fprintf(stderr, "skyrelay-sim: stopped\n");
    return 0;
}
