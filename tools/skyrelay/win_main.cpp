// Skyrelay.exe: the relay on Windows. The application object's start, its main dialog and its
// shutdown are the core's (RunRelayApplication); the entry point only registers the common
// controls first, as InitInstance does.
#include "session/scheduler.h"
#include "shell/relay_app.h"
#include "shell/relay_dialog.h"
#include "shell/res/resource.h"
#include "state/relay_state.h"

#include <windows.h>

#include <commctrl.h>

// The resource script and the core agree on every identifier.
static_assert(IDS_ABOUTBOX == AboutMenuStringId);
static_assert(IDD_SKYRELAY_DIALOG == MainDialogTemplate);
static_assert(IDR_MAINFRAME == AppIconId);
static_assert(IDC_STATUS == StatusLineControl);
static_assert(IDC_FSPATH == PathLineControl);
static_assert(ID_FILE_FSPATH == FsPathCommand);
static_assert(ID_APP_EXIT == AppExitCommand);
static_assert(ID_MULTIPLAYERCONNECT_TCPIP == TcpIpCommand);
static_assert(ID_MULTIPLAYERCONNECT_IPXSPX == IpxSpxCommand);
static_assert(ID_CONFIG_USINGSQUAWKBOX == UsingSquawkBoxCommand);
static_assert(ID_CONFIG_MANUALCONNECTONLY == ManualConnectOnlyCommand);

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    InitCommonControls();
    return RunRelayApplication();
}
