// The traffic pump: timer 2's callback while the relay is in a session. Each tick waits briefly
// for the session's message event, drains the session into the traffic table, publishes the table
// on every 4th tick (every 12th with "Using SquawkBox") to the simulator and to the shared block,
// and copies the block's working copy into "AIFile".
#pragma once

#include "simlink/sim_link.h"

#include <cstdint>

// The simulator offset that takes the 40-byte traffic records.
inline constexpr std::uint32_t TrafficOffset = 0x1F80;

// Ticks between publications, less one: publish when pumpTickCount has reached this.
inline constexpr std::uint16_t PublishThreshold = 3;
inline constexpr std::uint16_t SquawkBoxPublishThreshold = 11;
// Publications between two emptyings of the table, less one.
inline constexpr std::uint16_t EmptyAfterPublications = 3;

// The result of the last publication's link calls; the drain runs only while it is Ok. Written
// by PublishTraffic.
extern SimLinkResult lastExchangeResult;

void ResetPumpState();

// Timer 2, every 330 ms.
void OnPumpTimer();

// One publication of the traffic table.
void PublishTraffic();
