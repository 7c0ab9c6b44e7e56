// The connection scheduler: the detection timer (1) polls for the simulator until the link opens,
// the auto-connect timer (5) makes one join attempt every 6 seconds in automatic mode, alternating
// TCP/IP and IPX/SPX, and the menu commands make one attempt each. A successful attempt starts the
// pump timer (2).
#pragma once

#include "state/relay_state.h"

// Menu commands of the two connect items.
inline constexpr unsigned TcpIpCommand = 154;
inline constexpr unsigned IpxSpxCommand = 155;

inline constexpr char NoSessionText[] = "Couldn't find a Multiplayer session. ";

struct SchedulerState {
    bool attemptRunning; // an attempt is inside its enumeration; set and cleared by the attempt
};

extern SchedulerState schedulerState;

void ResetSchedulerState();

// Timer 1, every 2000 ms.
void OnDetectTimer();
// Timer 5, every 6000 ms: one automatic attempt.
void OnAutoConnectTimer();
// Commands 154 (TCP/IP, useIpx 0) and 155 (IPX/SPX, useIpx 1): one attempt from the menu.
void ConnectFromMenu(unsigned command);
