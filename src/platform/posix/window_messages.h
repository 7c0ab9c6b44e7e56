// Window messages between processes on Linux (not part of the seam): a window of a class is a
// unix socket listening in the runtime directory; a sent message is one connection carrying the
// message and what the receiver needs to resolve it (the registered message's name and the name of
// the global atom in wParam, since both tables are per process here), answered by one reply value.
// The relay's messaging backend sends; skyrelay-sim receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace posix {

// The socket standing for a top-level window of that class.
std::string WindowSocketPath(const std::string& className);

struct WindowMessage {
    std::uint32_t message = 0;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
    std::string messageName; // name of a registered message, "" for any other
    std::string atomName;    // name of the global atom in wParam's low 16 bits, "" if none
};

// Names on the wire are at most this long (as atom names are).
inline constexpr std::size_t MaxWireName = 255;

// Wire form: "SKWM", message (u32), wParam (u64), lParam (i64), then each name as a u16 length and
// its bytes; all little-endian. The reply is a u32 system error, 0 when the window procedure
// answered, then the u64 reply value.
std::vector<std::uint8_t> EncodeWindowMessage(const WindowMessage& message);
// The same into `out`, which holds MaxWindowMessageSize bytes; returns the bytes written.
inline constexpr std::size_t MaxWindowMessageSize = 4 + 4 + 8 + 8 + 2 * (2 + MaxWireName);
std::size_t EncodeWindowMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam,
                                std::string_view messageName, std::string_view atomName,
                                std::uint8_t* out);
// False for a message that is malformed, truncated or has bytes left over.
bool DecodeWindowMessage(std::span<const std::uint8_t> bytes, WindowMessage* message);

// A listening socket for the class (the runtime directory is created if needed). A stale socket
// file left by a program that died is replaced; a live listener of the class makes this fail.
// Returns the descriptor, or -1 with a readable reason in *error.
int ListenAsWindow(const std::string& className, std::string* error);

// Reads one message from an accepted connection, waiting at most timeoutMs. False on end of
// stream, time-out or a malformed message.
bool ReceiveWindowMessage(int connection, unsigned timeoutMs, WindowMessage* message);

inline constexpr std::size_t WindowReplySize = 4 + 8;

// Sends the reply value; false if the sender has gone.
bool SendWindowReply(int connection, std::uint64_t reply);

// Refuses the message the way the system refuses a send it does not allow (a window of another
// integrity level: ERROR_ACCESS_DENIED): the sender's send fails with that system error. False if
// the sender has gone.
bool RefuseWindowMessage(int connection, std::uint32_t systemError);

} // namespace posix
