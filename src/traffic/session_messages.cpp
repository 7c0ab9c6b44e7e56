#include "traffic/session_messages.h"

#include "state/relay_state.h"
#include "traffic/relay_stats.h"
#include "traffic/traffic_table.h"

#include <cstring>
#include <memory>
#include <new>

DrainState drainState{nullptr, 0};

namespace {

// Conversion constants. Each value is computed in double precision in the order written and
// rounded once to float; the vertical-speed constants are single precision (and exact).
constexpr double SquawkBoxSpeedDivisor = 127391.90271438679; // 65536 x 1.9438461717893492
constexpr double SpeedFactor = 1.1;
constexpr double MetresPerSecondToKnots = 1.9438461717893492;
constexpr double FractionUnit = 65536;
constexpr float VerticalSpeedFactor = 60.0f;
constexpr float VerticalSpeedDivisor = 65536.0f;
constexpr double FeetPerMetre = 3.28084;
constexpr double FullCircleDegrees = 360;
constexpr double LongitudeFullCircle = 4294967296;
constexpr double LatitudeFullCircle = 40007000;

std::uint32_t ReadU32(const std::uint8_t* bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) |
           static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::int32_t ReadI32(const std::uint8_t* bytes, std::size_t offset) {
    return static_cast<std::int32_t>(ReadU32(bytes, offset));
}

std::uint16_t ReadU16(const std::uint8_t* bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

// Asks the session for the sender's name record, into *record, and finds the short name in it.
// Returns the failure to report, or Ok with *shortName null when the sender has no usable short
// name. The short name stays in the record: the one allocation a position message costs.
HRESULT SenderShortName(std::int32_t senderId, std::unique_ptr<std::uint8_t[]>* record,
                        const char** shortName) {
    *shortName = nullptr;
    auto sender = static_cast<dp::DPID>(senderId);
    std::uint32_t size = 0;
    HRESULT result = sessionObject->GetPlayerName(sender, nullptr, &size);
    if (Failed(result) && result != dp::ErrBufferTooSmall)
        return result;
    // A record too small to hold a DPNAME names nobody.
    if (size < sizeof(dp::DPNAME))
        return dp::Ok;

    record->reset(new (std::nothrow) std::uint8_t[size]);
    if (!*record)
        return hresult::OutOfMemory;
    std::uint32_t filled = size;
    result = sessionObject->GetPlayerName(sender, record->get(), &filled);
    if (Failed(result))
        return result;

    dp::DPNAME name;
    std::memcpy(&name, record->get(), sizeof name);
    // The short name must lie inside the record and end there; a null one is no name at all.
    const char* begin = reinterpret_cast<const char*>(record->get());
    const char* end = begin + size;
    const char* text = name.lpszShortNameA;
    if (text == nullptr || text < begin + sizeof name || text >= end)
        return dp::Ok;
    if (std::memchr(text, 0, static_cast<std::size_t>(end - text)) == nullptr)
        return dp::Ok;
    *shortName = text;
    return dp::Ok;
}

HRESULT HandlePosition(const std::uint8_t* message, std::uint32_t size, std::int32_t senderId) {
    if (size < PositionMessage::MinimumSize || sessionObject == nullptr) {
        ++relayStats.droppedTooShort;
        return dp::Ok;
    }
    std::unique_ptr<std::uint8_t[]> record;
    const char* shortName = nullptr;
    HRESULT result = SenderShortName(senderId, &record, &shortName);
    if (Failed(result) || shortName == nullptr) {
        ++relayStats.droppedNoName;
        return result;
    }

    DecodedPosition position = DecodePosition(message, relayState.usingSquawkBox);
    // The user's own aircraft comes back from the session too.
    if (std::strcmp(shortName, playerName) == 0) {
        ++relayStats.droppedOwnName;
        return dp::Ok;
    }
    CountNameHeard(shortName);
    // Not greater than the threshold (a NaN included): standing or taxiing, not relayed.
    if (!(position.groundSpeed > SpeedThreshold)) {
        ++relayStats.droppedSlow;
        return dp::Ok;
    }
    RecordTraffic(shortName, senderId, position.latitude, position.longitude, position.altitude,
                  position.heading, position.groundSpeed, position.verticalSpeed);
    return dp::Ok;
}

} // namespace

void ResetDrainState() {
    delete[] drainState.receiveBuffer;
    drainState = DrainState{nullptr, 0};
}

DecodedPosition DecodePosition(const std::uint8_t* message, std::int32_t usingSquawkBox) {
    DecodedPosition out{};
    double rawGroundSpeed = ReadU32(message, PositionMessage::GroundSpeedOffset);
    if (usingSquawkBox != 0)
        out.groundSpeed = static_cast<float>(rawGroundSpeed / SquawkBoxSpeedDivisor * SpeedFactor);
    else
        out.groundSpeed =
            static_cast<float>(rawGroundSpeed * MetresPerSecondToKnots / FractionUnit);

    double rawVerticalSpeed = ReadI32(message, PositionMessage::VerticalSpeedOffset);
    out.verticalSpeed =
        static_cast<float>(rawVerticalSpeed * VerticalSpeedFactor / VerticalSpeedDivisor);

    std::uint32_t headingWord = ReadU32(message, PositionMessage::HeadingOffset);
    out.heading = static_cast<std::uint16_t>(((headingWord >> 2) & 0x3FF) << 6);

    double metres = static_cast<double>(ReadI32(message, PositionMessage::AltitudeOffset)) +
                    ReadU16(message, PositionMessage::AltitudeFractionOffset) / FractionUnit;
    out.altitude = static_cast<float>(metres * FeetPerMetre);

    double rawLongitude = ReadI32(message, PositionMessage::LongitudeOffset);
    out.longitude = static_cast<float>(rawLongitude * FullCircleDegrees / LongitudeFullCircle);
    double rawLatitude = ReadI32(message, PositionMessage::LatitudeOffset);
    out.latitude = static_cast<float>(rawLatitude * FullCircleDegrees / LatitudeFullCircle);
    return out;
}

HRESULT DrainSessionMessages() {
    while (relayState.sessionEnded == 0) {
        // Messages are for the relay's player: none exists without a session object, or while a
        // new attempt (searching) is replacing the session.
        if (sessionObject == nullptr || relayState.searching != 0)
            return dp::Ok;
        dp::DPID from = 0;
        dp::DPID to = 0;
        // The size goes in as the buffer's capacity and comes back as the message's length, or as
        // the size needed; the buffer's own size is kept apart.
        std::uint32_t size = drainState.receiveBufferSize;
        HRESULT result =
            sessionObject->Receive(&from, &to, dp::ReceiveAll, drainState.receiveBuffer, &size);
        if (result == dp::ErrNoMessages)
            return dp::Ok;
        if (result == dp::ErrBufferTooSmall) {
            // A provider that asks for no more than it already has would keep us here for ever.
            if (size <= drainState.receiveBufferSize && drainState.receiveBuffer != nullptr)
                return result;
            delete[] drainState.receiveBuffer;
            drainState.receiveBuffer = new (std::nothrow) std::uint8_t[size];
            if (drainState.receiveBuffer == nullptr) {
                drainState.receiveBufferSize = 0;
                return hresult::OutOfMemory;
            }
            drainState.receiveBufferSize = size;
            continue;
        }
        if (result != dp::Ok)
            return result; // nothing was received: end this tick's drain
        if (size > drainState.receiveBufferSize)
            size = drainState.receiveBufferSize;
        HandleSessionMessage(drainState.receiveBuffer, size, static_cast<std::int32_t>(from));
    }
    return dp::Ok;
}

HRESULT HandleSessionMessage(const std::uint8_t* message, std::uint32_t size,
                             std::int32_t senderId) {
    relayStats.bytesReceived += size;
    if (message == nullptr || size < 4) {
        ++relayStats.otherMessages;
        return dp::Ok;
    }
    std::uint32_t type = ReadU32(message, PositionMessage::TypeOffset);
    switch (type) {
    case RefusedMessage:
        ++relayStats.refusedMessages;
        relayStats.lastEnding = type;
        plat::ShowMessageBox(nullptr, RefusedText, "Skyrelay", plat::BoxOk);
        EndSession();
        return dp::Ok;
    case SessionLostMessage:
    case HostMessage:
    case SimulatorEndMessage:
        ++(type == SessionLostMessage ? relayStats.sessionLostMessages
           : type == HostMessage      ? relayStats.hostMessages
                                      : relayStats.simulatorEndMessages);
        relayStats.lastEnding = type;
        EndSession();
        return dp::Ok;
    case PositionMessageType:
        ++relayStats.positionMessages;
        return HandlePosition(message, size, senderId);
    default:
        ++relayStats.otherMessages;
        return dp::Ok;
    }
}

void EndSession() {
    relayState.sessionEnded = 1;
    plat::StopTimer(mainDialog, relayState.pumpTimerId);
    NoteTimer(PumpTimer, false);
    NoteSessionEnded(relayStats.lastEnding);
    LeaveSession();
    PublishRelayStats();
}
