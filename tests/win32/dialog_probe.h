// The dialog probe: a message hook that runs inside Skyrelay.exe and reports its main dialog's
// menus to the driver. Wine cannot read another process's menus, so the driver asks from inside.
#pragma once

#include <windows.h>

#ifdef SKYRELAY_PROBE_BUILD
#define SKYRELAY_PROBE_API __declspec(dllexport)
#else
#define SKYRELAY_PROBE_API __declspec(dllimport)
#endif

// The shared block the probe writes its answer into; the driver creates it.
inline constexpr char ProbeMappingName[] = "SkyrelayDialogProbe";
// The registered message the driver posts to the dialog to ask.
inline constexpr char ProbeMessageName[] = "SkyrelayDialogProbe.Ask";

struct ProbeAnswer {
    volatile LONG serial; // one more for each answer, written last
    // The main menu: "Popup:Item=id,state;..." with the items' MF_ state bits (checked 8,
    // grayed 1) after each, popups separated by '|'.
    char menu[1024];
    // The system menu's last two items: "-|&About Skyrelay=16" ('-' for a separator).
    char systemMenu[256];
    // The window's icons inside the process: "big,small,drag", 1 where WM_GETICON gives an icon
    // and where WM_QUERYDRAGICON answers with the big one, 0 otherwise.
    char icons[8];
};

// Hooks the messages that a thread of another process takes from its queue; the probe's DLL is
// loaded into that process. Non-zero on success.
extern "C" SKYRELAY_PROBE_API int InstallProbe(DWORD threadId);
extern "C" SKYRELAY_PROBE_API void RemoveProbe();
