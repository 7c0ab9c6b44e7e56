// COM, the session event and the wait, and the modal run of the program's dialogs.
#pragma once

#include "platform/dialog.h"
#include "platform/types.h"

#include <cstdint>

namespace plat {

// AfxOleInit; its result is not examined by the program.
void OleInitialize();
// CoInitialize(null) and CoUninitialize.
HRESULT ComInitialize();
void ComUninitialize();

// The one running relay of this user session (on Linux, of this shared memory prefix), claimed for
// the rest of the process's life: the system lets go of it when the process ends, however it ends,
// so a relay that was killed or crashed never stops the next start. Returns true when this process
// holds it (also when the system cannot tell, so that a relay is never kept from starting by a
// failing lock); false when another running relay holds it, with that relay's process id in
// *runningRelay where the system says it (0 otherwise).
bool ClaimRelayInstance(std::uint32_t* runningRelay);

// What a second start does instead of running a relay: on Windows it says nothing and brings the
// running relay's main window to the front, restored if minimized (its open box, if it shows one);
// on Linux it writes `line` on stderr.
void ShowRunningRelay(const char* line);

// CreateEventA(null, automatic reset, not signalled, no name): null on failure.
Event CreateSessionEvent();
// SetEvent: used by session providers to signal the relay player's message event.
void SignalSessionEvent(Event event);
// CloseHandle on the event: non-zero on success.
int CloseSessionEvent(Event event);

// Milliseconds of the system's monotonic clock, the same in every process: the performance
// counter on Windows (platform/win32/monotonic_clock.h), CLOCK_MONOTONIC on Linux.
std::uint64_t MonotonicMilliseconds();

// MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLEVENTS): returns when the event is
// signalled (resetting it) or when window input arrives. On Linux the next timer deadline counts
// as input too, so the wait never outlasts one timer period.
void WaitForEventOrInput(Event event);

// What the backend tells a running dialog. The dialog collects input; its handler acts.
class DialogHandler {
  public:
    // The dialog's window exists; returns 1 (as WM_INITDIALOG's handler does).
    virtual int OnInitDialog(Window self) = 0;
    // WM_COMMAND from a menu item or a button (IDOK for Enter, IDCANCEL for Escape).
    virtual void OnCommand(unsigned commandId) = 0;
    // WM_SYSCOMMAND; returns false to let the backend do its default processing.
    virtual bool OnSysCommand(unsigned commandId) = 0;
    // WM_PAINT; returns false to let the backend paint the window as usual. (A backend whose
    // windows are never minimized need not call it.)
    virtual bool OnPaint() { return false; }
    // WM_QUERYDRAGICON: the icon shown while the minimized window is dragged, null for the
    // default.
    virtual Icon OnQueryDragIcon() { return nullptr; }

  protected:
    ~DialogHandler() = default;
};

inline constexpr unsigned CommandOk = 1;     // IDOK
inline constexpr unsigned CommandCancel = 2; // IDCANCEL

// Runs a dialog from its template modally (DoModal) with no parent and returns the code given to
// EndModalDialog, or -1 if the dialog could not be created.
int RunModalDialog(const char* templateName, int templateId, DialogHandler* handler);
// EndDialog: ends the modal run of that dialog with a result.
void EndModalDialog(Window dialog, int result);

} // namespace plat
