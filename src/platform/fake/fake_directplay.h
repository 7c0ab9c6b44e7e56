// Controls of the fake DirectPlay: a scripted session (its connections, sessions, players' names
// and the queue of messages for the relay's player), object counts, and the log of every call.
// Calls are logged as "Operation #object args" (the object's serial number, from 1).
#pragma once

#include "platform/directplay.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fake {

struct ScriptedConnection {
    std::string shortName;          // DPNAME short name offered by EnumConnections
    std::vector<std::uint8_t> data; // the connection's opaque data
};

struct ScriptedSession {
    dp::GUID instance;
    std::string name;
};

// The connections EnumConnections offers (by default TCP/IP, IPX and a modem connection), and the
// sessions EnumSessions finds.
std::vector<ScriptedConnection>& Connections();
std::vector<ScriptedSession>& Sessions();

// A message for the relay's player, from a sender (0 for system messages).
void QueueMessage(const std::vector<std::uint8_t>& bytes, dp::DPID sender);
std::size_t QueuedMessages();

// A player's names as GetPlayerName reports them; nullopt is an absent (null) name.
void SetPlayerName(dp::DPID player, std::optional<std::string> shortName,
                   std::optional<std::string> longName = std::nullopt);
// A name record as a broken provider might fill it: the DPNAME, then `tail`, with the short name
// pointing shortOffset bytes into the tail (at most its end) and no long name. A tail without a
// zero byte after that point is a short name not terminated inside its record.
void SetRawPlayerName(dp::DPID player, std::vector<std::uint8_t> tail, std::size_t shortOffset);

// Objects alive (created and not yet released to zero), created in all, and lobby objects alive.
int LiveDirectPlayObjects();
int DirectPlayObjectsCreated();
int LiveLobbyObjects();

// The player id CreatePlayer hands out next, and the name and event the relay gave it.
void SetNextPlayerId(dp::DPID id);
std::string CreatedPlayerName();
plat::Event CreatedPlayerEvent();

// Runs inside a call of an operation of any object (before it returns), e.g. to re-enter the core.
void WhileInCall(const std::string& operation, std::function<void()> action);

} // namespace fake
