// What the Windows backend's dialog files share (not part of the seam): the modal dialogs running
// now and the timer table.
#pragma once

#include <windows.h>

namespace win32 {

// The outermost dialog running modally (the main dialog): the owner of the framework's message
// box. Null while no dialog runs.
HWND RunningMainDialog();

// Forgets the timer procedures of a window whose modal run has ended; the system stopped its
// timers when it destroyed the window.
void ForgetTimers(HWND window);

} // namespace win32
