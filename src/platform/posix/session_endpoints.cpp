#include "platform/posix/session_endpoints.h"

#include "platform/posix/posix_backend.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace posix {
namespace {

void SetSendTimeout(int fd) {
    timeval timeout{};
    timeout.tv_sec = 2;
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

} // namespace

std::uint16_t SessionPort() {
    const char* text = std::getenv("SKYRELAY_SESSION_PORT");
    if (text == nullptr || *text == '\0')
        return DefaultSessionPort;
    char* end = nullptr;
    errno = 0;
    unsigned long port = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || text[0] < '0' || text[0] > '9' || port == 0 || port > 65535)
        return DefaultSessionPort;
    return static_cast<std::uint16_t>(port);
}

std::string IpxSocketPath() {
    return RuntimeDir() + "/session-ipx.sock";
}

int ConnectLoopback(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    SetSendTimeout(fd);
    return fd;
}

int ConnectUnix(const std::string& path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return -1;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    SetSendTimeout(fd);
    return fd;
}

bool SendAll(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

} // namespace posix
