#include "platform/posix/window_messages.h"
#include "platform/posix/posix_backend.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace posix {
namespace {

constexpr std::uint8_t Magic[4] = {'S', 'K', 'W', 'M'};
constexpr std::size_t FixedPart = 4 + 4 + 8 + 8;

std::uint64_t GetLe(const std::uint8_t* at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}

bool GetName(std::span<const std::uint8_t> bytes, std::size_t* position, std::string* name) {
    if (bytes.size() - *position < 2)
        return false;
    auto size = static_cast<std::size_t>(GetLe(bytes.data() + *position, 2));
    *position += 2;
    if (size > MaxWireName || bytes.size() - *position < size)
        return false;
    name->assign(reinterpret_cast<const char*>(bytes.data() + *position), size);
    *position += size;
    return true;
}

bool FillAddress(const std::string& path, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Reads exactly size bytes before the deadline. What has arrived already is taken without a
// wait: a message comes whole, and each poll is one more system call per message.
bool ReadAll(int fd, std::uint8_t* out, std::size_t size,
             std::chrono::steady_clock::time_point deadline) {
    while (size > 0) {
        ssize_t got = recv(fd, out, size, MSG_DONTWAIT);
        if (got > 0) {
            out += got;
            size -= static_cast<std::size_t>(got);
            continue;
        }
        if (got == 0)
            return false;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd entry{fd, POLLIN, 0};
        int ready = poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
    }
    return true;
}

} // namespace

std::string WindowSocketPath(const std::string& className) {
    return RuntimeDir() + "/" + className + ".window";
}

std::size_t EncodeWindowMessage(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam,
                                std::string_view messageName, std::string_view atomName,
                                std::uint8_t* out) {
    std::uint8_t* at = out;
    auto put = [&at](std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            *at++ = static_cast<std::uint8_t>(value >> (8 * i));
    };
    auto name = [&](std::string_view text) {
        std::size_t size = text.size() < MaxWireName ? text.size() : MaxWireName;
        put(size, 2);
        if (size != 0) // an empty name may have no bytes at all
            std::memcpy(at, text.data(), size);
        at += size;
    };
    std::memcpy(at, Magic, 4);
    at += 4;
    put(message, 4);
    put(wParam, 8);
    put(static_cast<std::uint64_t>(lParam), 8);
    name(messageName);
    name(atomName);
    return static_cast<std::size_t>(at - out);
}

std::vector<std::uint8_t> EncodeWindowMessage(const WindowMessage& message) {
    std::vector<std::uint8_t> out(MaxWindowMessageSize);
    out.resize(EncodeWindowMessage(message.message, message.wParam, message.lParam,
                                   message.messageName, message.atomName, out.data()));
    return out;
}

bool DecodeWindowMessage(std::span<const std::uint8_t> bytes, WindowMessage* message) {
    if (bytes.size() < FixedPart || std::memcmp(bytes.data(), Magic, 4) != 0)
        return false;
    WindowMessage decoded;
    decoded.message = static_cast<std::uint32_t>(GetLe(bytes.data() + 4, 4));
    decoded.wParam = GetLe(bytes.data() + 8, 8);
    decoded.lParam = static_cast<std::int64_t>(GetLe(bytes.data() + 16, 8));
    std::size_t position = FixedPart;
    if (!GetName(bytes, &position, &decoded.messageName) ||
        !GetName(bytes, &position, &decoded.atomName) || position != bytes.size())
        return false;
    *message = std::move(decoded);
    return true;
}

int ListenAsWindow(const std::string& className, std::string* error) {
    std::string path = WindowSocketPath(className);
    sockaddr_un address{};
    if (!MakeDirs(RuntimeDir())) {
        *error = "cannot create the runtime directory " + RuntimeDir();
        return -1;
    }
    if (!FillAddress(path, &address)) {
        *error = "socket path too long: " + path;
        return -1;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    const auto* generic = reinterpret_cast<const sockaddr*>(&address);
    int bound = bind(fd, generic, sizeof address);
    if (bound != 0 && errno == EADDRINUSE) {
        // Someone's socket file: a live window of the class, or one left by a program that died.
        int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool live = probe >= 0 && connect(probe, generic, sizeof address) == 0;
        if (probe >= 0)
            close(probe);
        if (live) {
            close(fd);
            *error = "a window of class " + className + " already exists (" + path + ")";
            return -1;
        }
        unlink(path.c_str());
        bound = bind(fd, generic, sizeof address);
    }
    if (bound != 0) {
        *error = std::string("bind ") + path + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    if (listen(fd, 16) != 0) {
        *error = std::string("listen: ") + std::strerror(errno);
        close(fd);
        unlink(path.c_str());
        return -1;
    }
    return fd;
}

bool ReceiveWindowMessage(int connection, unsigned timeoutMs, WindowMessage* message) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::uint8_t> bytes(FixedPart + 2);
    if (!ReadAll(connection, bytes.data(), bytes.size(), deadline))
        return false;
    for (int name = 0; name < 2; ++name) {
        auto size = static_cast<std::size_t>(GetLe(bytes.data() + bytes.size() - 2, 2));
        if (size > MaxWireName)
            return false;
        std::size_t start = bytes.size();
        bytes.resize(start + size + (name == 0 ? 2 : 0));
        if (!ReadAll(connection, bytes.data() + start, bytes.size() - start, deadline))
            return false;
    }
    return DecodeWindowMessage(bytes, message);
}

namespace {

bool SendReply(int connection, std::uint32_t systemError, std::uint64_t reply) {
    std::uint8_t bytes[WindowReplySize];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<std::uint8_t>(systemError >> (8 * i));
    for (int i = 0; i < 8; ++i)
        bytes[4 + i] = static_cast<std::uint8_t>(reply >> (8 * i));
    return send(connection, bytes, sizeof bytes, MSG_NOSIGNAL) ==
           static_cast<ssize_t>(sizeof bytes);
}

} // namespace

bool SendWindowReply(int connection, std::uint64_t reply) {
    return SendReply(connection, 0, reply);
}

bool RefuseWindowMessage(int connection, std::uint32_t systemError) {
    return SendReply(connection, systemError, 0);
}

} // namespace posix
