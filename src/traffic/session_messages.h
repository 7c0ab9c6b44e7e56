// Draining the session's message queue on each pump tick, and what each message does: ending the
// relay's membership, updating the traffic table from a position message, or nothing.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

// Message types, from the first 32-bit little-endian word of every message.
inline constexpr std::uint32_t SessionLostMessage = 49; // DPSYS_SESSIONLOST
inline constexpr std::uint32_t HostMessage = 257;       // DPSYS_HOST: this player became host
inline constexpr std::uint32_t RefusedMessage = 4102;   // the host refused the relay
inline constexpr std::uint32_t SimulatorEndMessage = 4118;
inline constexpr std::uint32_t PositionMessageType = 4121;

// The simulator's position message: the fields the relay reads, at their offsets from the first
// byte. The bytes in between are not interpreted.
struct PositionMessage {
    static constexpr std::size_t TypeOffset = 0;              // uint32, 4121
    static constexpr std::size_t VerticalSpeedOffset = 24;    // int32, raw
    static constexpr std::size_t GroundSpeedOffset = 28;      // uint32, raw
    static constexpr std::size_t HeadingOffset = 36;          // uint32, heading in bits 2 to 11
    static constexpr std::size_t LatitudeOffset = 40;         // int32, 40007000 to the full circle
    static constexpr std::size_t LongitudeOffset = 44;        // int32, 2^32 to the full circle
    static constexpr std::size_t AltitudeOffset = 48;         // int32, whole metres
    static constexpr std::size_t AltitudeFractionOffset = 56; // uint16, 1/65536 metre
    static constexpr std::size_t MinimumSize = 58;
};

// The box shown when the host refuses the relay (no owner, caption "Skyrelay", no icon).
inline constexpr char RefusedText[] =
    "Refused Connection as an Observer. No Multiplayer available.";

// Aircraft at or below this ground speed (knots) are never relayed.
inline constexpr float SpeedThreshold = 30.0f;

// Drain state, kept from one drain to the next.
struct DrainState {
    std::uint8_t* receiveBuffer;     // where Receive puts a message; owned, replaced when too small
    std::uint32_t receiveBufferSize; // bytes in receiveBuffer, as Receive last asked for them
};

extern DrainState drainState;

// Frees the receive buffer and returns to the state of a freshly loaded process.
void ResetDrainState();

// Takes every waiting message off the session's queue and handles each. Returns 0 when the queue
// is empty or the session has ended, E_OUTOFMEMORY when a larger receive buffer could not be had,
// or the failure Receive reported.
HRESULT DrainSessionMessages();

// Acts on one received message of `size` bytes from player `senderId`.
HRESULT HandleSessionMessage(const std::uint8_t* message, std::uint32_t size,
                             std::int32_t senderId);

// Ends the relay's membership: sessionEnded, the pump timer stopped, LeaveSession.
void EndSession();

// The values decoded from a position message, as they go into the traffic table.
struct DecodedPosition {
    float latitude;        // degrees
    float longitude;       // degrees
    float altitude;        // feet
    std::uint16_t heading; // full circle 65536, steps of 64
    float groundSpeed;     // knots
    float verticalSpeed;   // raw x 60 / 65536
};

// Decodes the fields of a position message of at least PositionMessage::MinimumSize bytes. The
// ground speed formula depends on usingSquawkBox (non-zero: the SquawkBox scale).
DecodedPosition DecodePosition(const std::uint8_t* message, std::int32_t usingSquawkBox);
