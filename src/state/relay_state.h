// The relay's process-wide state: flags, counters and timer identifiers shared by every
// subsystem, the handles of the relay's membership of the multiplayer session, the running main
// dialog and the user's own multiplayer name. Everything here is read and written on the one
// user-interface thread.
#pragma once

#include "platform/platform.h"

#include <cstdint>

struct RelayState {
    std::int32_t simDetected;    // 1 once the simulator link has opened; set by OnDetectTimer
    std::int32_t connected;      // 1 once an attempt has succeeded; set by the scheduler
    std::int32_t manualRequest;  // 1 while the current attempt came from the menu
    std::uint16_t useIpx;        // transport: 0 TCP/IP, 1 IPX/SPX; starts at 1
    std::int32_t searching;      // 1 while no player has been created; starts at 1
    std::int32_t sessionEnded;   // 1 after a session-ending message; set by EndSession, 0 on a join
    std::int32_t usingSquawkBox; // option UsingSB as read from the settings file
    std::int32_t manualConnectOnly;   // option ManualConnect as read from the settings file
    std::uint16_t linkFailureCount;   // counted simulator-link failures, up to 3, never reset
    std::uint16_t pumpTickCount;      // pump ticks since the last publication
    std::uint16_t publishCount;       // publications since the table was last emptied
    plat::TimerId detectTimerId;      // SetTimer's result for timer 1 (detection)
    plat::TimerId autoConnectTimerId; // SetTimer's result for timer 5 (automatic connection)
    plat::TimerId pumpTimerId;        // SetTimer's result for timer 2 (the pump)
};

extern RelayState relayState;

// Timer identifiers and periods of the main dialog's three timers.
inline constexpr unsigned DetectTimer = 1;
inline constexpr unsigned DetectPeriodMs = 2000;
inline constexpr unsigned AutoConnectTimer = 5;
inline constexpr unsigned AutoConnectPeriodMs = 6000;
inline constexpr unsigned PumpTimer = 2;
inline constexpr unsigned PumpPeriodMs = 330;

// Controls of the main dialog.
inline constexpr int StatusLineControl = 104;
inline constexpr int PathLineControl = 1007;

// The status line's texts; it is empty before the simulator is found and after the link's failure
// counting has stopped detection.
inline constexpr char FsDetectedText[] = "FS Detected";
inline constexpr char ConnectedText[] = "Connected to a session";

// Size of relayPlayerName: 15 characters and the terminator.
inline constexpr std::size_t RelayPlayerNameSize = 16;
// Size of playerName: 199 characters and the terminator.
inline constexpr std::size_t PlayerNameSize = 200;

// The relay's IDirectPlay4A reference; null while none exists.
extern dp::IDirectPlay4A* sessionObject;
// The relay's own player in the joined session, written by CreatePlayer.
extern dp::DPID relayPlayerId;
// The relay player's short name; "Skyrelay" until a join builds another one.
extern char relayPlayerName[RelayPlayerNameSize];
// The auto-reset event that signals messages for the relay's player; created at start-up.
extern plat::Event sessionEvent;
// The running main dialog's window; null until the dialog exists.
extern plat::Window mainDialog;
// The user's own multiplayer name, from the simulator's configuration file ("a" by default).
extern char playerName[PlayerNameSize];

// Back to the state of a freshly loaded process: RelayState with useIpx and searching at 1, the
// session values null or empty and relayPlayerName "Skyrelay". Releases nothing.
void ResetRelayState();

// Ends the relay's membership: the status line reads "FS Detected"; the relay's player is
// destroyed and the session object closed and released. Returns 0.
int LeaveSession();

// At exit: closes and releases the session object when the last attempt joined (searching 0).
void ReleaseSessionAtExit();
