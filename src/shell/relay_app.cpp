#include "shell/relay_app.h"

#include "platform/platform.h"
#include "shell/relay_dialog.h"
#include "simlink/sim_link.h"
#include "state/relay_state.h"
#include "traffic/relay_stats.h"
#include "traffic/shared_block.h"

#include <cstdio>

namespace {

// The thread's last error as an HRESULT (HRESULT_FROM_WIN32).
HRESULT LastErrorResult() {
    auto code = static_cast<std::int32_t>(plat::LastError());
    if (code <= 0)
        return code;
    return static_cast<HRESULT>(0x80070000u | (static_cast<std::uint32_t>(code) & 0xFFFFu));
}

} // namespace

CRelayApp::CRelayApp() {
    plat::OleInitialize();
    sessionEvent = plat::CreateSessionEvent();
    if (Failed(plat::ComInitialize())) {
        plat::ShowMessageBox(nullptr, ComStartErrorText, "Skyrelay", plat::BoxIconError);
        return;
    }
    started_ = true;
}

int CRelayApp::InitInstance() {
    {
        CRelayDlg dialog;
        dialog.DoModal();
    }

    SimLinkClose();
    int closed = ReleaseSharedTrafficBlock();
    // With no mapping the close fails; the session, COM and the event are released all the same.
    HRESULT result = closed != 0 ? 1 : LastErrorResult();
    ReleaseRelayStats();
    ReleaseSessionAtExit();
    plat::ComUninitialize();
    plat::CloseSessionEvent(sessionEvent);
    sessionEvent = nullptr;
    return result;
}

int RunRelayApplication() {
    // A second relay would join the session twice and write every aircraft and "AIFile" twice:
    // this start goes to the running relay instead, before anything else is started.
    std::uint32_t runningRelay = 0;
    if (!plat::ClaimRelayInstance(&runningRelay)) {
        char line[sizeof RelayAlreadyRunningFormat + 16];
        std::snprintf(line, sizeof line, RelayAlreadyRunningFormat,
                      static_cast<unsigned>(runningRelay));
        plat::ShowRunningRelay(line);
        return RelayAlreadyRunningStatus;
    }
    CRelayApp app;
    if (!app.Started()) {
        plat::CloseSessionEvent(sessionEvent);
        sessionEvent = nullptr;
        return 1;
    }
    app.InitInstance();
    return 0;
}
