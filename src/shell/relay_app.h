// The application object: starts COM and the session event, runs the main dialog, and releases in
// a fixed order what the program acquired while it ran.
#pragma once

#include "platform/types.h"

inline constexpr char ComStartErrorText[] = "Co initialize error. Skyrelay will quit.";

// Only one relay runs per user session (per shared memory prefix on Linux). A second start on
// Linux writes this line on stderr, with the running relay's process id, and ends with
// RelayAlreadyRunningStatus; on Windows it shows nothing and brings the running relay's window to
// the front instead.
inline constexpr char RelayAlreadyRunningFormat[] = "Skyrelay is already running (process %u)";
inline constexpr int RelayAlreadyRunningStatus = 3;

class CRelayApp {
  public:
    // Starts OLE, creates sessionEvent and starts COM. When COM cannot start, shows its message
    // box; Started() then says false and the program must quit with a failure status.
    CRelayApp();

    bool Started() const { return started_; }

    // Runs the main dialog, then closes the simulator link, releases the shared block, the
    // session, COM and the event, in that order. Returns 1, or, when closing the shared block's
    // mapping failed, the thread's last error as an HRESULT (everything is released either way).
    int InitInstance();

  private:
    bool started_ = false;
};

// The whole program: the claim of the one relay, the application object's start, its dialog and
// its shutdown. Returns the process's exit status: 0, 1 when the program could not start, or
// RelayAlreadyRunningStatus when another relay runs.
int RunRelayApplication();
