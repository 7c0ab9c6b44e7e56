// Module-window messaging on Linux: a window of a class exists while a listener accepts on the
// class's socket in the runtime directory, and a handle names that one listener, so a window made
// again after its program ended is a new window, as on Windows; registered messages and global
// atoms are tables of this process, so a send carries their names along; the reply is awaited up
// to the time-out.
#include "platform/messaging.h"
#include "platform/posix/posix_backend.h"
#include "platform/posix/window_messages.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint32_t ErrorInvalidWindowHandle = 1400; // ERROR_INVALID_WINDOW_HANDLE
constexpr std::uint32_t ErrorTimeout = 1460;             // ERROR_TIMEOUT
constexpr std::uint32_t ErrorInvalidParameter = 87;      // ERROR_INVALID_PARAMETER
constexpr std::uint32_t FirstMessage = 0xC000;           // registered messages start here
constexpr std::uint16_t FirstAtom = 0xC000;              // string atoms start here

// A listener's socket file, told from a later one of the same class by its device, inode and
// change time (a file system may give the next socket file the inode just freed).
struct SocketFile {
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t changed = 0; // ns

    bool operator==(const SocketFile&) const = default;
};

// What a window handle of this backend stands for: one listener of a class. (The handle type
// stays opaque: the dialog backend hands out windows of its own.)
struct ClassWindow {
    std::string className;
    SocketFile socket;
};

struct Tables {
    std::mutex lock;
    std::vector<std::unique_ptr<ClassWindow>> windows; // every window handed out, kept for good
    std::map<std::string, std::uint32_t> messages;
    std::map<std::uint16_t, std::pair<std::string, int>> atoms; // name, reference count
};

Tables& State() {
    static Tables tables;
    return tables;
}

thread_local std::uint32_t lastError = 0;

} // namespace

namespace posix {
void SetLastError(std::uint32_t error) {
    lastError = error;
}
} // namespace posix

namespace {

// A connected socket to the class's listener, or -1.
int ConnectToClass(const std::string& className) {
    std::string path = posix::WindowSocketPath(className);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The socket file now standing for the class's window; false if there is none.
bool FindSocketFile(const std::string& className, SocketFile* file) {
    struct stat info {};
    if (stat(posix::WindowSocketPath(className).c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return false;
    *file = {info.st_dev, info.st_ino,
             static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec};
    return true;
}

// The window's class, or "" for a handle this backend did not give out or whose listener has
// since been replaced by another.
std::string ClassOf(plat::Window window) {
    ClassWindow found;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        auto it =
            std::find_if(State().windows.begin(), State().windows.end(), [&](const auto& entry) {
                return reinterpret_cast<plat::Window>(entry.get()) == window;
            });
        if (it == State().windows.end())
            return {};
        found = **it;
    }
    SocketFile now;
    if (!FindSocketFile(found.className, &now) || !(now == found.socket))
        return {};
    return found.className;
}

std::string NameOfMessage(std::uint32_t message) {
    std::lock_guard<std::mutex> guard(State().lock);
    for (const auto& [name, id] : State().messages)
        if (id == message)
            return name;
    return {};
}

std::string NameOfAtom(std::uint16_t atom) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto it = State().atoms.find(atom);
    return it == State().atoms.end() ? std::string() : it->second.first;
}

// Fails a send the way the platform does: 0, with the reason in the last-error value.
int FailSend(int fd, std::uint32_t error) {
    if (fd >= 0)
        close(fd);
    lastError = error;
    return 0;
}

} // namespace

namespace plat {

Window FindWindowByClass(const char* className) {
    if (className == nullptr || *className == '\0')
        return nullptr;
    int probe = ConnectToClass(className);
    if (probe < 0)
        return nullptr;
    close(probe);
    SocketFile socket;
    if (!FindSocketFile(className, &socket))
        return nullptr;
    std::lock_guard<std::mutex> guard(State().lock);
    auto& windows = State().windows;
    for (const auto& entry : windows)
        if (entry->className == className && entry->socket == socket)
            return reinterpret_cast<Window>(entry.get());
    windows.push_back(std::make_unique<ClassWindow>(ClassWindow{className, socket}));
    return reinterpret_cast<Window>(windows.back().get());
}

std::uint32_t RegisterMessage(const char* name) {
    if (name == nullptr || *name == '\0' || std::strlen(name) > posix::MaxWireName)
        return 0;
    std::lock_guard<std::mutex> guard(State().lock);
    auto& messages = State().messages;
    auto it = messages.find(name);
    if (it == messages.end())
        it = messages.emplace(name, FirstMessage + static_cast<std::uint32_t>(messages.size()))
                 .first;
    return it->second;
}

std::uint16_t AddGlobalAtom(const char* name) {
    if (name == nullptr || *name == '\0' || std::strlen(name) > posix::MaxWireName)
        return 0;
    std::lock_guard<std::mutex> guard(State().lock);
    auto& atoms = State().atoms;
    for (auto& [atom, entry] : atoms)
        if (entry.first == name) {
            ++entry.second;
            return atom;
        }
    for (std::uint32_t atom = FirstAtom; atom <= 0xFFFF; ++atom)
        if (atoms.count(static_cast<std::uint16_t>(atom)) == 0) {
            atoms.emplace(static_cast<std::uint16_t>(atom), std::make_pair(std::string(name), 1));
            return static_cast<std::uint16_t>(atom);
        }
    return 0;
}

void DeleteGlobalAtom(std::uint16_t atom) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto it = State().atoms.find(atom);
    if (it != State().atoms.end() && --it->second.second == 0)
        State().atoms.erase(it);
}

int SendWithTimeout(Window window, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam, std::uint32_t, unsigned timeoutMs,
                    std::uintptr_t* reply) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string className = ClassOf(window);
    if (className.empty())
        return FailSend(-1, ErrorInvalidWindowHandle);
    posix::WindowMessage outgoing;
    outgoing.message = message;
    outgoing.wParam = wParam;
    outgoing.lParam = lParam;
    outgoing.messageName = NameOfMessage(message);
    outgoing.atomName = NameOfAtom(static_cast<std::uint16_t>(wParam & 0xFFFF));

    // A class without a listener is a window that has been destroyed.
    int fd = ConnectToClass(className);
    if (fd < 0)
        return FailSend(fd, ErrorInvalidWindowHandle);
    std::vector<std::uint8_t> bytes = posix::EncodeWindowMessage(outgoing);
    if (send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
        return FailSend(fd, ErrorInvalidWindowHandle);

    std::uint8_t answer[8];
    std::size_t got = 0;
    while (got < sizeof answer) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return FailSend(fd, ErrorTimeout);
        pollfd entry{fd, POLLIN, 0};
        int ready = poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return FailSend(fd, ErrorInvalidParameter);
        if (ready == 0)
            return FailSend(fd, ErrorTimeout);
        ssize_t n = read(fd, answer + got, sizeof answer - got);
        if (n < 0 && errno == EINTR)
            continue;
        // The window went away while it had the message.
        if (n <= 0)
            return FailSend(fd, ErrorInvalidWindowHandle);
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | answer[i];
    if (reply != nullptr)
        *reply = static_cast<std::uintptr_t>(value);
    return 1;
}

std::uint32_t LastError() {
    return lastError;
}

std::uint32_t ProcessId() {
    return static_cast<std::uint32_t>(getpid());
}

void SleepMs(unsigned ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

} // namespace plat
