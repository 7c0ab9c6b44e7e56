// Joining the simulator's multiplayer session, inside an attempt's EnumConnections call: choosing
// the connection, initialising it, joining the first session offered and creating the relay's
// player with sessionEvent as its message event. Success is told only by searching becoming 0.
#pragma once

#include "platform/directplay.h"

// Texts of the join's message boxes (no owner window, caption "Skyrelay", error icon).
inline constexpr char ChooseConnectionErrorText[] = "Choose connection error. ";
inline constexpr char JoinErrorText[] = "Join FS2002 error. ";
inline constexpr char CreatePlayerErrorText[] = "Can't Create a player.";
inline constexpr char DirectPlayMissingText[] = "This application requires DirectPlay 6 or later. ";

// Called once for each connection EnumConnections offers; chooses, initialises and joins.
dp::BOOL EnumConnectionsCallback(const dp::GUID* serviceProvider, void* connection,
                                 std::uint32_t connectionSize, const dp::DPNAME* name,
                                 std::uint32_t flags, void* context);

// Automatic mode: initialises the connection (the 127.0.0.1 address for TCP/IP) on
// sessionObject and enumerates its sessions. 1 when the enumeration ran, 0 on failure.
int AutoJoin(void* connection);

// Menu mode: makes an initialised object sessionObject and enumerates its sessions.
int ManualJoin(dp::IDirectPlay4A* object);

// Called once per session found, then once with DPESC_TIMEDOUT: opens the session and creates the
// relay's player.
dp::BOOL EnumSessionsCallback(const dp::DPSESSIONDESC2* session, std::uint32_t* timeout,
                              std::uint32_t flags, void* context);

// Stops the player enumeration at once.
dp::BOOL EnumPlayersCallback(dp::DPID player, std::uint32_t playerType, const dp::DPNAME* name,
                             std::uint32_t flags, void* context);

// The object that runs the current attempt's connection enumeration. Objects that are replaced
// while their own enumeration runs are released only after it has returned.
struct JoinState {
    dp::IDirectPlay4A* enumeratingObject; // set by the scheduler for the length of EnumConnections
};

extern JoinState joinState;

void ResetJoinState();
