// The scripts that skyrelay-session replays, and the position messages its peers send. Portable
// code: the parser reads text and reports the first bad line; nothing here touches the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace session_host {

inline constexpr std::uint32_t PositionMessageType = 4121;
inline constexpr std::size_t PositionMessageSize = 58;
// Longest peer name in a script, in bytes after unescaping; DirectPlay itself sets no small limit.
inline constexpr std::size_t MaxPeerNameLength = 4096;
// Largest message a `send` line may carry, in bytes.
inline constexpr std::size_t MaxSendSize = 8192;
// Most copies of a message one `burst` line sends at once.
inline constexpr std::uint32_t MaxBurstCount = 100000;
// Longest `wait`, in milliseconds (one hour).
inline constexpr std::uint32_t MaxWaitMilliseconds = 3600000;

// The raw field values of a position message.
struct PositionFields {
    std::uint32_t verticalSpeed = 0;    // bytes 24..27, signed in the message
    std::uint32_t groundSpeed = 0;      // bytes 28..31
    std::uint32_t headingWord = 0;      // bytes 36..39
    std::uint32_t latitude = 0;         // bytes 40..43, signed in the message
    std::uint32_t longitude = 0;        // bytes 44..47, signed in the message
    std::uint32_t altitudeMetres = 0;   // bytes 48..51, signed in the message
    std::uint16_t altitudeFraction = 0; // bytes 56..57
};

// A position message (type 4121) with these fields, PositionMessageSize bytes, the rest zero.
std::vector<std::uint8_t> BuildPositionMessage(const PositionFields& fields);

enum class CommandKind { Wait, Join, Position, Send, Burst, Rename, System, Leave, End };
enum class SystemMessageKind { SessionLost, Host };

struct Command {
    CommandKind kind = CommandKind::Wait;
    int line = 0;                   // 1-based line in the script
    std::uint32_t milliseconds = 0; // Wait
    std::string name;        // Join, Position, Send, Burst, Rename, Leave: the peer's short name
    std::string newName;     // Rename: the short name from now on
    std::uint32_t count = 0; // Burst: copies sent at once
    PositionFields position; // Position
    std::vector<std::uint8_t> bytes;                           // Send, Burst
    SystemMessageKind system = SystemMessageKind::SessionLost; // System
};

struct ScenarioError {
    int line = 0;
    std::string message;
};

struct Scenario {
    std::vector<Command> commands;
    std::optional<ScenarioError> error; // the first bad line; commands are then incomplete
};

// Parses a whole script. One command a line; blank lines and lines starting with # are ignored;
// numbers are decimal (a minus sign where the field is signed) or 0x-hex. A name is one token of
// printable bytes; %XX in it stands for the byte XX (%25 for % itself), so that a name can hold
// any byte but NUL, CR and LF. A peer must have joined before a line names it, may not join twice
// (nor take the name of another joined peer), and nothing may follow `end`.
Scenario ParseScenario(std::string_view text);

} // namespace session_host
