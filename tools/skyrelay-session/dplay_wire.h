// DirectPlay 4's TCP/IP messages between a session's host and a joining client: the 20-byte
// service-provider header, the "play" envelope of system messages, the messages a host reads
// from a client and the ones it writes. Portable code: bytes in, bytes out. Every length and
// offset read from the wire is checked against the message; a malformed message is refused with
// a reason, never read past its end.
#pragma once

#include "platform/directplay.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace dplay {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// UDP port on which a host receives the clients' enumeration broadcasts.
inline constexpr std::uint16_t EnumerationPort = 47624;
inline constexpr std::size_t SpHeaderSize = 20;
inline constexpr std::size_t EnvelopeSize = 8;
inline constexpr std::size_t SpPlayerDataSize = 32;
// Largest message the host takes from a client; a client's own are a few hundred bytes.
inline constexpr std::size_t MaxClientMessageSize = 65536;
// Envelope version this host writes; clients accept any.
inline constexpr std::uint16_t HostVersion = 14;

// Envelope command ids.
namespace command {
inline constexpr std::uint16_t EnumSessionsReply = 1;
inline constexpr std::uint16_t EnumSessions = 2;
inline constexpr std::uint16_t RequestPlayerId = 5;
inline constexpr std::uint16_t RequestPlayerReply = 7;
inline constexpr std::uint16_t CreatePlayer = 8;
inline constexpr std::uint16_t DeletePlayer = 11;
inline constexpr std::uint16_t AddForwardRequest = 19;
inline constexpr std::uint16_t Ping = 22;
inline constexpr std::uint16_t PingReply = 23;
inline constexpr std::uint16_t SuperEnumPlayersReply = 41;
} // namespace command

// DPLAYI_PLAYER_* flags of packed players.
namespace playerflag {
inline constexpr std::uint32_t SystemPlayer = 0x1;
inline constexpr std::uint32_t NameServer = 0x2;
inline constexpr std::uint32_t InGroup = 0x4;
inline constexpr std::uint32_t Local = 0x8;
} // namespace playerflag

// Pointer width of the client's own structures: the session description and the player id
// reply are copied as the client's native structs, so their layout follows the client's build.
enum class Layout { Client64, Client32 };

// Bytes of DPSESSIONDESC2 in the client's layout: 88 or 80.
std::size_t SessionDescSize(Layout layout);

// The service provider's data of one machine's players: its TCP listen address, then its UDP
// address, each a SOCKADDR_IN with the port big-endian.
using SpPlayerData = std::array<std::uint8_t, SpPlayerDataSize>;
SpPlayerData MakeSpPlayerData(std::uint16_t tcpPort, std::uint16_t udpPort);
// The ports in SP player data.
std::uint16_t SpDataTcpPort(const SpPlayerData& data);
std::uint16_t SpDataUdpPort(const SpPlayerData& data);

struct SessionDesc {
    std::uint32_t flags = 0;
    dp::GUID instance{};
    dp::GUID application{};
    std::uint32_t maxPlayers = 0;
    std::uint32_t currentPlayers = 0;
    std::uint32_t reserved1 = 0; // echoed by the client at the end of its add-forward request
    std::uint32_t reserved2 = 0;
    std::array<std::uint32_t, 4> user{};
};

// A player as the host announces it.
struct PlayerRecord {
    std::uint32_t flags = 0; // playerflag::*
    dp::DPID id = 0;
    dp::DPID systemPlayer = 0;            // the owning machine's system player (its own id for one)
    std::optional<std::string> shortName; // UTF-8
    std::optional<std::string> longName;  // UTF-8
    SpPlayerData spData{};
};

// ---- Messages a host reads ----

struct EnumSessionsRequest {
    dp::GUID application{};
    std::uint32_t flags = 0;
    std::optional<std::string> password;
};

struct PlayerIdRequest {
    std::uint32_t flags = 0; // playerflag::SystemPlayer for a machine's system player
};

// A packed player as a client sends it (CREATEPLAYER, ADDFORWARDREQUEST).
struct PackedPlayer {
    std::uint32_t flags = 0;
    dp::DPID id = 0;
    dp::DPID systemPlayer = 0;
    std::optional<std::string> shortName;
    std::optional<std::string> longName;
    std::optional<SpPlayerData> spData;
    Bytes playerData;
};

struct AddForwardRequest {
    dp::DPID playerId = 0; // the client's system player
    PackedPlayer player;
    std::uint32_t sessionReserved1 = 0;
};

struct CreatePlayerMessage {
    dp::DPID playerId = 0;
    PackedPlayer player;
};

struct DeletePlayerMessage {
    dp::DPID playerId = 0;
};

struct PingMessage {
    std::uint16_t command = 0; // command::Ping or command::PingReply
    dp::DPID from = 0;
    std::uint32_t tick = 0;
};

// A well-formed system message of a command this host has no use for.
struct OtherSystemMessage {
    std::uint16_t command = 0;
};

struct GameMessage {
    dp::DPID from = 0;
    dp::DPID to = 0;
    Bytes payload;
};

using MessageBody =
    std::variant<EnumSessionsRequest, PlayerIdRequest, AddForwardRequest, CreatePlayerMessage,
                 DeletePlayerMessage, PingMessage, OtherSystemMessage, GameMessage>;

struct Message {
    std::optional<std::uint16_t> senderPort; // the SP header's port; none on a bare UDP message
    MessageBody body;
};

struct ParseResult {
    std::optional<Message> message;
    const char* error = nullptr; // why the message was refused
};

// How much of a TCP stream the next message takes.
struct StreamCut {
    enum class Status { Whole, NeedMore, Invalid } status = Status::NeedMore;
    std::size_t size = 0;        // of the whole message, when Whole
    const char* error = nullptr; // when Invalid
};

// The size of the next message at the start of a TCP stream, from its SP header.
StreamCut NextMessage(ByteView stream);
// A whole message read from TCP: SP header, then a system message or a game message.
ParseResult ParseMessage(ByteView message);
// A UDP datagram: with an SP header when bytes 20..23 are "play", else a bare game message.
ParseResult ParseDatagram(ByteView datagram);

// ---- Messages a host writes; `port` is the host's TCP listen port for the SP header ----

Bytes BuildEnumSessionsReply(Layout layout, std::uint16_t port, const SessionDesc& desc,
                             std::string_view name);
Bytes BuildRequestPlayerReply(Layout layout, std::uint16_t port, dp::DPID id, std::uint32_t result);
// All players of the session, system players among them; the client skips its own.
Bytes BuildSuperEnumPlayersReply(Layout layout, std::uint16_t port, const SessionDesc& desc,
                                 std::string_view name, std::span<const PlayerRecord> players);
Bytes BuildCreatePlayer(std::uint16_t port, const PlayerRecord& player);
Bytes BuildDeletePlayer(std::uint16_t port, dp::DPID id);
Bytes BuildGameMessage(std::uint16_t port, dp::DPID from, dp::DPID to, ByteView payload);

// UTF-8 to UTF-16LE with the terminating NUL, as names travel; bytes that are not UTF-8 are
// taken as Latin-1.
Bytes EncodeName(std::string_view name);

} // namespace dplay
