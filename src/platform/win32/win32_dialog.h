// What the Windows backend's dialog files share (not part of the seam): the modal dialogs running
// now, the timer table and resource names.
#pragma once

#include <windows.h>

namespace win32 {

// The outermost dialog running modally (the main dialog): the owner of the framework's message
// box. Null while no dialog runs.
HWND RunningMainDialog();

// Marks the relay's main dialog, so that a second start finds it, and removes the mark when the
// window goes.
void MarkRelayMainWindow(HWND window);
void UnmarkRelayMainWindow(HWND window);

// Forgets the timer procedures of a window whose modal run has ended; the system stopped its
// timers when it destroyed the window.
void ForgetTimers(HWND window);

// A resource name as the system takes it: a text, or else a number in the low word
// (MAKEINTRESOURCE).
inline LPCSTR ResourceName(const char* name, int id) {
    if (name != nullptr)
        return name;
    return reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(id)));
}

} // namespace win32
