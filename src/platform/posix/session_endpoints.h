// Where the DirectPlay stand-in finds skyrelay-session: loopback TCP for the TCP/IP connection and
// a unix socket in the runtime directory for the IPX connection. Shared by the stand-in and the
// host so that both sides agree.
#pragma once

#include <cstdint>
#include <string>

namespace posix {

inline constexpr std::uint16_t DefaultSessionPort = 47624;

// $SKYRELAY_SESSION_PORT when it is a decimal port number from 1 to 65535, else 47624.
std::uint16_t SessionPort();

// The unix socket that stands for the IPX network: <runtime directory>/session-ipx.sock.
std::string IpxSocketPath();

// Connects a stream socket to 127.0.0.1:port, or to the unix socket at path; -1 on failure. The
// socket is blocking, close-on-exec, and its sends time out after two seconds.
int ConnectLoopback(std::uint16_t port);
int ConnectUnix(const std::string& path);

// Sends all bytes without raising SIGPIPE; false if the peer is gone or the send timed out.
bool SendAll(int fd, const void* data, std::size_t size);

} // namespace posix
