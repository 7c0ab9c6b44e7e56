// The formats of the Linux DirectPlay stand-in: the frames that the stand-in and skyrelay-session
// exchange over a stream socket, and the connection data that EnumConnections offers and
// InitializeConnection takes. Portable code with no operating-system header, shared by both sides.
//
// A frame is an 8-byte header and a body:
//   0..1  magic 'S' 'R'
//   2     version (FrameVersion)
//   3     kind (FrameKind)
//   4..7  body length, 32-bit little-endian, at most MaxBodySize
// Every length inside a body is bounded too and checked before it is used; a body must be used up
// exactly. The parsers never throw on bad input and never read outside the span they are given.
#pragma once

#include "platform/directplay.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace posix::wire {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t FrameMagic0 = 'S';
inline constexpr std::uint8_t FrameMagic1 = 'R';
inline constexpr std::uint8_t FrameVersion = 1;
inline constexpr std::size_t FrameHeaderSize = 8;
// Largest application message carried in one frame, in bytes.
inline constexpr std::uint32_t MaxMessageSize = 8192;
// Largest frame body; a message frame adds 12 bytes to its message.
inline constexpr std::uint32_t MaxBodySize = 16384;
// Longest player or session name in bytes, without the terminating zero. DirectPlay sets no small
// limit; this one keeps a frame with both names of a player within MaxBodySize.
inline constexpr std::size_t MaxNameLength = 4096;
// Most sessions in one session list.
inline constexpr std::size_t MaxSessions = 16;

enum class FrameKind : std::uint8_t {
    EnumSessionsRequest = 1, // client: which sessions are there?
    SessionList = 2,         // host: the sessions
    JoinRequest = 3,         // client: join the session with this instance GUID
    JoinReply = 4,           // host: the result of the join
    CreatePlayerRequest = 5, // client: create a player with this name
    CreatePlayerReply = 6,   // host: the result and the new player's id
    DestroyPlayer = 7,       // client: this local player leaves (no reply)
    PlayerAdded = 8,         // host: a player is in the session (sent for each one on join)
    PlayerRemoved = 9,       // host: a player has left
    Message = 10,            // host: a message for a local player (from id 0: a system message)
    SessionClosed = 11,      // host: the session ends
    Goodbye = 12,            // client: the connection is closing
    PlayerRenamed = 13,      // host: a player has new names
};

struct Frame {
    FrameKind kind{};
    Bytes body;
};

enum class ParseStatus {
    Complete, // a frame was parsed; `consumed` bytes belong to it
    NeedMore, // the bytes are a valid beginning of a frame
    Invalid,  // the bytes can never become a valid frame: the connection must end
};

struct ParseResult {
    ParseStatus status = ParseStatus::NeedMore;
    std::size_t consumed = 0;
    Frame frame;
    const char* error = ""; // why the bytes are invalid
};

// Parses the frame at the start of bytes.
ParseResult ParseFrame(std::span<const std::uint8_t> bytes);
// A whole frame: header and body. The body must not be larger than MaxBodySize.
Bytes EncodeFrame(FrameKind kind, std::span<const std::uint8_t> body);

// ---- bodies -------------------------------------------------------------------------------------

// A player's names; an absent name is not the same as an empty one.
struct PlayerName {
    std::optional<std::string> shortName;
    std::optional<std::string> longName;
    bool operator==(const PlayerName&) const = default;
};

struct SessionInfo {
    dp::GUID instance{};
    dp::GUID application{};
    std::uint32_t flags = 0;
    std::uint32_t maxPlayers = 0;
    std::uint32_t currentPlayers = 0;
    std::string name;
};

struct EnumSessionsRequest {
    std::uint32_t requestId = 0;
};
struct SessionList {
    std::uint32_t requestId = 0;
    std::vector<SessionInfo> sessions;
};
struct JoinRequest {
    std::uint32_t requestId = 0;
    dp::GUID instance{};
};
struct JoinReply {
    std::uint32_t requestId = 0;
    HRESULT result = 0;
};
struct CreatePlayerRequest {
    std::uint32_t requestId = 0;
    std::uint32_t flags = 0;
    PlayerName name;
};
struct CreatePlayerReply {
    std::uint32_t requestId = 0;
    HRESULT result = 0;
    dp::DPID player = 0;
};
struct DestroyPlayer {
    dp::DPID player = 0;
};
struct PlayerAdded {
    dp::DPID player = 0;
    std::uint32_t flags = 0;
    PlayerName name;
};
struct PlayerRemoved {
    dp::DPID player = 0;
};
struct PlayerRenamed {
    dp::DPID player = 0;
    PlayerName name;
};
struct Message {
    dp::DPID from = 0;
    dp::DPID to = 0;
    Bytes data; // 1 to MaxMessageSize bytes
};

// Encoders return a whole frame, ready to send.
Bytes Encode(const EnumSessionsRequest& body);
Bytes Encode(const SessionList& body);
Bytes Encode(const JoinRequest& body);
Bytes Encode(const JoinReply& body);
Bytes Encode(const CreatePlayerRequest& body);
Bytes Encode(const CreatePlayerReply& body);
Bytes Encode(const DestroyPlayer& body);
Bytes Encode(const PlayerAdded& body);
Bytes Encode(const PlayerRemoved& body);
Bytes Encode(const PlayerRenamed& body);
Bytes Encode(const Message& body);
Bytes EncodeSessionClosed();
Bytes EncodeGoodbye();

// Decoders take a frame body and give nothing when it is malformed: a bound exceeded, bytes
// missing or left over, a zero byte inside a name, a flag bit that is not defined.
std::optional<EnumSessionsRequest> DecodeEnumSessionsRequest(std::span<const std::uint8_t> body);
std::optional<SessionList> DecodeSessionList(std::span<const std::uint8_t> body);
std::optional<JoinRequest> DecodeJoinRequest(std::span<const std::uint8_t> body);
std::optional<JoinReply> DecodeJoinReply(std::span<const std::uint8_t> body);
std::optional<CreatePlayerRequest> DecodeCreatePlayerRequest(std::span<const std::uint8_t> body);
std::optional<CreatePlayerReply> DecodeCreatePlayerReply(std::span<const std::uint8_t> body);
std::optional<DestroyPlayer> DecodeDestroyPlayer(std::span<const std::uint8_t> body);
std::optional<PlayerAdded> DecodePlayerAdded(std::span<const std::uint8_t> body);
std::optional<PlayerRemoved> DecodePlayerRemoved(std::span<const std::uint8_t> body);
std::optional<PlayerRenamed> DecodePlayerRenamed(std::span<const std::uint8_t> body);
std::optional<Message> DecodeMessage(std::span<const std::uint8_t> body);

// ---- connection data ----------------------------------------------------------------------------
//
// What EnumConnections offers and InitializeConnection takes, and what the lobby's CreateAddress
// builds. 16-byte header, then the host text and its terminating zero:
//   0..3    magic 'S' 'R' 'C' 'N'
//   4..5    version (ConnectionVersion)
//   6..7    transport (Transport)
//   8..11   total size in bytes, header included
//   12..13  host length without the zero, at most MaxHostLength
//   14..15  zero
//   16..    host text (an IPv4 address for TCP/IP, empty for "this machine"), then a zero byte

enum class Transport : std::uint16_t {
    TcpIp = 1,
    Ipx = 2,
    Modem = 3,
    Serial = 4,
};

struct Connection {
    Transport transport = Transport::TcpIp;
    std::string host;
    bool operator==(const Connection&) const = default;
};

inline constexpr std::uint16_t ConnectionVersion = 1;
inline constexpr std::size_t ConnectionHeaderSize = 16;
inline constexpr std::size_t MaxHostLength = 63;
inline constexpr std::size_t MaxConnectionSize = ConnectionHeaderSize + MaxHostLength + 1;

// The connection data; the host must be at most MaxHostLength bytes with no zero byte.
Bytes EncodeConnection(const Connection& connection);
// The total size that a header announces, if the header is one of ours and the size is within
// bounds; the caller then knows how many bytes to look at.
std::optional<std::size_t> ConnectionSize(std::span<const std::uint8_t> header);
// The connection, if data is exactly one valid connection record.
std::optional<Connection> DecodeConnection(std::span<const std::uint8_t> data);

} // namespace posix::wire
