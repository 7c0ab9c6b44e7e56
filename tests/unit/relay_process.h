// What the unit tests of the whole relay share: a freshly loaded process and the session messages
// they queue.
#pragma once

#include "platform/fake/fake.h"
#include "session/scheduler.h"
#include "session/session_join.h"
#include "shell/settings.h"
#include "simlink/sim_link.h"
#include "state/relay_state.h"
#include "traffic/pump.h"
#include "traffic/relay_stats.h"
#include "traffic/session_messages.h"
#include "traffic/shared_block.h"
#include "traffic/traffic_table.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Every subsystem's state, and the fake backend's, as in a freshly loaded relay process.
inline void ResetRelayProcess() {
    fake::ResetAll();
    ResetRelayState();
    ResetSchedulerState();
    ResetJoinState();
    ResetSettings();
    ResetSimLinkState();
    ResetSharedTrafficBlock();
    ResetTrafficTable();
    ResetDrainState();
    ResetPumpState();
    ResetRelayStats();
}

// A position message of the shortest length the decoder takes, all zero but its type and the
// raw ground speed field (knots << 16 in a plain FS2002 session).
inline std::vector<std::uint8_t> PositionAtSpeed(std::uint32_t rawGroundSpeed) {
    std::vector<std::uint8_t> bytes(58, 0);
    auto put = [&](std::size_t offset, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[offset + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(value >> (8 * i));
    };
    put(0, PositionMessageType);
    put(28, rawGroundSpeed);
    return bytes;
}
